// Small recorder images for the recorder tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"
#include "tests/support/test_support.h"
#include "tools/disk_image.h"

namespace orvan::test {

// Entries whose data records lie back to back in `image.data`, each record
// filled with a pattern derived from its entry number; times rise by one
// second every `entriesPerSecond` entries from `startTime`.
inline void AddPatternEntries(tools::RecorderImage &image, int64_t count, uint32_t startTime,
                              int entriesPerSecond, uint32_t recordBytes = 100, int channels = 4) {
  for (int64_t i = 0; i < count; ++i) {
    recorder::IndexEntry e;
    e.type = (i % 8 == 0) ? 1 : 0;
    e.channel = uint8_t(i % channels);
    e.delayMs = 40;
    e.time = startTime + uint32_t(i / entriesPerSecond);
    e.size = recordBytes;
    e.offset = image.data.size();
    for (uint32_t b = 0; b < recordBytes; ++b) image.data.push_back(uint8_t((i * 7 + b) & 0xFF));
    image.entries.push_back(e);
  }
}

// Writes `image` to path and opens it read-only in `source`.
inline ::testing::AssertionResult WriteAndOpen(const std::string &path,
                                               const tools::RecorderImage &image,
                                               DiskSource &source) {
  std::string error;
  if (!tools::WriteRecorderImage(path, image, &error))
    return ::testing::AssertionFailure() << error;
  if (source.OpenPath(path) != DriveOpenStatus::Ok)
    return ::testing::AssertionFailure() << source.LastError();
  return ::testing::AssertionSuccess();
}

}  // namespace orvan::test
