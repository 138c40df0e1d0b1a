// What one read of a disk came to, sector by sector: which sectors could not
// be read, where the source ended, whether it stopped answering, whether the
// read was given up. Every reader of a disk gets one (ByteSource::ReadSectors)
// and says from it what it lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvan {

// A run of bytes, counted from the first byte of the read it belongs to.
struct ByteRange {
  uint64_t offset = 0;
  uint64_t bytes = 0;
  uint64_t End() const { return offset + bytes; }
  bool operator==(const ByteRange &) const = default;
};

struct ReadReport {
  static constexpr size_t kNoEnd = SIZE_MAX;

  // Sectors that could not be read, in order, neighbouring ones joined; their
  // bytes in the buffer are zeros.
  std::vector<ByteRange> lost;
  // The source ends this many bytes into the read (kNoEnd: it did not): the
  // bytes from here on are not there. That is no loss: an image cut short.
  size_t endsAt = kNoEnd;
  // The disk stopped answering (unplugged, or dead): this read gave up, and
  // every later read of the source gives up at once. What it did not read is
  // not counted as lost.
  bool gone = false;
  // The read was given up before it was done, at a stop request or at the
  // reading thread's deadline. What it did not read is not lost either.
  bool stopped = false;
  // Bytes from the start of the read that were read before the first byte
  // that was not (lost, past the end, or not read at all).
  size_t readBefore = 0;

  void Clear() { *this = ReadReport(); }
  bool Complete() const { return lost.empty() && endsAt == kNoEnd && !gone && !stopped; }
  uint64_t LostBytes() const {
    uint64_t total = 0;
    for (const ByteRange &r : lost) total += r.bytes;
    return total;
  }
  // Whether any lost byte lies in [offset, offset + bytes) of the read.
  bool LostWithin(uint64_t offset, uint64_t bytes) const {
    for (const ByteRange &r : lost)
      if (r.offset < offset + bytes && offset < r.End()) return true;
    return false;
  }
  // Adds a lost run, joined with the last one when they touch.
  void AddLost(uint64_t offset, uint64_t bytes) {
    if (!lost.empty() && lost.back().End() == offset) {
      lost.back().bytes += bytes;
      return;
    }
    lost.push_back(ByteRange{offset, bytes});
  }
};

}  // namespace orvan
