// Writing new recorder disk images: for the sample maker, the benchmark and
// the tests. Images are output files (platform/output_file.h): a device, a
// FIFO, a folder or a source being read is refused, so it can never write
// onto a recorder disk, and an image appears under its name only whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::tools {

class ImageFile {
 public:
  // Prepares the image at path; an existing regular file is replaced when
  // Close() puts the new one in place.
  bool Create(const std::string &path, std::string *error);
  bool WriteAt(uint64_t offset, const void *data, size_t length);
  // Sets the file length (sparse where nothing was written).
  bool SetSize(uint64_t bytes);
  // Puts the image in place; false (and no image) when a write or the
  // commit failed. An image never closed is dropped.
  bool Close(std::string *error = nullptr);

 private:
  platform::OutputFile m_file;
};

// The 16 header bytes: "VORN", 8 reserved bytes, indexAreaMiB.
std::array<uint8_t, 16> MakeDiskHeader(uint32_t indexAreaMiB);
// One 20-byte state entry.
std::array<uint8_t, 20> MakeStateEntry(uint32_t tag, uint64_t indexCount);

// A whole small image described in memory.
struct RecorderImage {
  uint32_t indexAreaMiB = 1;
  int stateSlot = 0;  // -1: no valid state entry
  // Index count stored in the state; -1: entries.size() + 300.
  int64_t indexCount = -1;
  std::vector<recorder::IndexEntry> entries;
  std::vector<uint8_t> data;  // the data area from dataBase + dataAt
  // Where `data` starts in the data area; the bytes before it are zeros,
  // left sparse (entries' offsets must count it).
  uint64_t dataAt = 0;
  // Stored event count; -1: events.size().
  int64_t eventCount = -1;
  std::vector<recorder::EventRecord> events;
  // Extra length of the image behind the data (zeros).
  uint64_t tailBytes = 0;
};

bool WriteRecorderImage(const std::string &path, const RecorderImage &image, std::string *error);

// Bytes of the state table region and event log of an image, for writers
// that lay out the rest themselves. events beyond 14335 are dropped.
std::vector<uint8_t> MakeEventLogBytes(uint32_t storedCount,
                                       const std::vector<recorder::EventRecord> &events);

}  // namespace orvan::tools
