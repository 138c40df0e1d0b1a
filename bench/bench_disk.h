// The sample disk the window's benchmarks play.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/disk_source.h"
#include "tests/support/test_support.h"
#include "tools/sample_recording.h"

namespace orvan::test {

// Writes a 60-second sample of `options` (its other fields as the caller
// set them) into `dir`, makes it the only drive of the process and keeps
// the window's configuration in `dir`. False (said on stderr) if it cannot
// be written.
inline bool MakeBenchDisk(const TempDir &dir, tools::SampleOptions &options,
                          tools::SampleSummary &summary) {
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  options.outputPath = dir.File("bench.img");
  options.durationSeconds = 60;
  std::string error;
  if (!tools::MakeSampleRecording(options, summary, &error)) {
    std::fprintf(stderr, "sample: %s\n", error.c_str());
    return false;
  }
  DriveTable::SetProcess(DriveTable({options.outputPath}, dir.File("none")));
  return true;
}

}  // namespace orvan::test
