// Reads a disk front to back in large windows, for the passes of a survey,
// a recovery and a carve: every window is one read of at least 4 MiB (the
// careful read of platform/careful_read.h underneath, so a bad sector costs
// only itself), and asking for bytes behind the window never makes it seek
// back unless the caller asks out of order (counted, so tests can hold a
// pass to reading forward only).
//
// Threads: one thread at a time; the source is not shared while it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/disk_source.h"

namespace orvan::recorder {

class ForwardReader {
 public:
  static constexpr size_t kWindowBytes = 4 << 20;

  // What a request got: `bytes` bytes at `data` (fewer than asked where the
  // disk ends), with the runs in `lost` (offsets from the request's start)
  // unreadable and zero.
  struct Piece {
    const uint8_t *data = nullptr;
    size_t bytes = 0;
    std::vector<ByteRange> lost;
    bool LostWithin(uint64_t offset, uint64_t length) const;
  };
  enum class Got {
    kRead,     // the piece holds what the disk has there
    kGone,     // the disk stopped answering
    kStopped,  // the read was given up
  };

  // diskBytes: the disk's length (0: unknown, the reads tell where it
  // ends). windowBytes: a multiple of 512, at least the largest request.
  ForwardReader(ByteSource &source, uint64_t diskBytes, size_t windowBytes = kWindowBytes);

  // [offset, offset + length): valid until the next call.
  Got Get(uint64_t offset, size_t length, Piece &piece);

  uint64_t Reads() const { return m_reads; }
  uint64_t BytesRead() const { return m_bytesRead; }
  // Windows read in front of the one before.
  uint64_t BackwardReads() const { return m_backward; }

 private:
  Got Fill(uint64_t from, size_t length);

  ByteSource &m_source;
  const uint64_t m_diskBytes;
  const size_t m_windowBytes;
  std::vector<uint8_t> m_window;
  uint64_t m_start = 0;
  size_t m_valid = 0;             // bytes of the window the disk has
  std::vector<ByteRange> m_lost;  // in the window, offsets from m_start
  bool m_filled = false;
  bool m_endsInWindow = false;  // the disk ends inside the window
  uint64_t m_reads = 0, m_bytesRead = 0, m_backward = 0;
};

}  // namespace orvan::recorder
