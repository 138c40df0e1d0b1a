// Maker disks for the recovery tests, and their index read back plainly.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"
#include "tests/support/test_support.h"
#include "tools/sample_recording.h"

namespace orvan::test {

struct MadeDisk {
  std::string path;
  tools::SampleSummary summary;
  recorder::DiskGeometry geometry;
};

// A recording of `seconds` over an earlier one of `previous` seconds (0:
// none), at 8 pictures a second.
inline MadeDisk MakeDisk(const TempDir &dir, const std::string &name, int seconds, int previous,
                         tools::SampleOptions o = {}) {
  MadeDisk made;
  o.outputPath = dir.File(name);
  o.durationSeconds = seconds;
  o.previousSeconds = previous;
  std::string error;
  EXPECT_TRUE(tools::MakeSampleRecording(o, made.summary, &error)) << error;
  made.path = o.outputPath;
  DiskSource disk;
  EXPECT_EQ(disk.OpenPath(made.path), DriveOpenStatus::Ok);
  EXPECT_EQ(recorder::ReadGeometry(disk, made.geometry), recorder::GeometryStatus::Ok);
  return made;
}

// Entries 0 .. count-1 of the image's index, read with plain file reads.
inline std::vector<recorder::IndexEntry> ReadIndex(const std::string &path, int64_t count) {
  std::ifstream f(path, std::ios::binary);
  f.seekg(std::streamoff(recorder::kIndexAreaOffset));
  std::vector<uint8_t> bytes(size_t(count) * recorder::kEntryBytes);
  f.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
  std::vector<recorder::IndexEntry> entries;
  for (int64_t i = 0; i < count; ++i)
    entries.push_back(recorder::IndexEntry::Parse(bytes.data() + i * recorder::kEntryBytes));
  return entries;
}

// The bytes at a disk offset, read with plain file reads.
inline std::vector<uint8_t> ReadBytes(const std::string &path, uint64_t at, size_t size) {
  std::ifstream f(path, std::ios::binary);
  f.seekg(std::streamoff(at));
  std::vector<uint8_t> bytes(size);
  f.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(size));
  bytes.resize(size_t(f.gcount()));
  return bytes;
}

}  // namespace orvan::test
