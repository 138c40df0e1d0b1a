// What an index entry found outside the live recording must be before it is
// believed: the rules a recovery applies to held-back and stale entries, and
// to whatever a damaged index area holds.
//
// An entry is valid when its type is a record type the recorder writes, its
// channel is 0..3, its size is 1..102400 bytes, its record lies wholly inside
// the disk's data area, and its time is not 0. Its record begins as its
// type says when a picture record starts with an MPEG-4 start code
// (00 00 01), an MJPEG record with a JPEG start of image (FF D8), and an
// audio record is whole stereo samples (a multiple of 4 bytes).
//
// Pure logic: nothing is read here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

constexpr uint32_t kMaxRecoveredRecordBytes = 102400;

// Why an entry is not valid, the first rule it fails.
enum class EntryVerdict {
  kValid,
  kBadType,     // not a record type the recorder writes
  kBadChannel,  // channel 4 or above
  kBadSize,     // 0, or above 102400 bytes
  kPastDisk,    // the record does not lie inside the disk (or its position overflows)
  kNoTime,      // time 0
};

// diskBytes: the disk's length; 0 when it cannot be told (then only the
// position's representability is checked).
EntryVerdict CheckEntry(const DiskGeometry &geometry, uint64_t diskBytes, const IndexEntry &entry);
inline bool IsValidEntry(const DiskGeometry &geometry, uint64_t diskBytes,
                         const IndexEntry &entry) {
  return CheckEntry(geometry, diskBytes, entry) == EntryVerdict::kValid;
}

// The bytes of the record's start a check needs (0 for audio, which is
// judged by its size alone).
size_t HeadBytesNeeded(int8_t type);
// Whether the record begins as its type says; `head` holds the record's
// first `headBytes` bytes (at least HeadBytesNeeded(type) of them, or the
// record is judged not to).
bool BeginsAsTyped(const IndexEntry &entry, const uint8_t *head, size_t headBytes);

// Counts of entries found not valid, by the rule they failed.
struct VerdictCounts {
  uint64_t badType = 0, badChannel = 0, badSize = 0, pastDisk = 0, noTime = 0;
  void Count(EntryVerdict verdict);
  uint64_t Total() const { return badType + badChannel + badSize + pastDisk + noTime; }
};

}  // namespace orvan::recorder
