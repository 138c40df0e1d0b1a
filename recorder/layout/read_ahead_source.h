// A byte source that reads ahead: a read that continues where the reads
// before it left off is served from a window filled by one large read, so a
// reader that walks through the disk in sector-sized steps (the index) or
// record by record (the data area) costs one read call per window instead of
// one or two per step.
//
// Reads are answered exactly as the source would answer them:
//   - reads go to the source as they are until two in a row have each
//     started inside, or right behind, the one before (a record's head
//     sector is the last sector of the record before it); reads in no order
//     never make the window read more than they ask;
//   - a window with sectors that cannot be read (the source's careful read
//     lost them) keeps everything else, and a read that touches them is
//     answered from the window with the same loss, so a damaged area is not
//     read twice over and a failure stays confined to the sectors the source
//     itself lost;
//   - a window that cannot be filled whole otherwise (the end of the disk,
//     the disk going away, a read given up) keeps what was read, and a read
//     it cannot answer goes to the source as it is. After such a fill, no
//     window is read again before the reads have passed the failed range.
//
// The source must not change underneath (recorder disks are read-only).
// Threads: one thread at a time; the source's own lock (LockedSource) is
// taken for each read the window makes.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/disk_source.h"

namespace orvan::recorder {

class ReadAheadSource final : public ByteSource {
 public:
  // windowBytes: a multiple of 512. `source` is not owned and outlives this.
  ReadAheadSource(ByteSource &source, size_t windowBytes);

  bool Seek(uint64_t offset) override;
  bool Read(void *buffer, size_t length, size_t *got = nullptr) override;
  bool ReadSectors(void *buffer, size_t length, ReadReport &report) override;
  bool Gone() const override { return m_source.Gone(); }

  // The `length` bytes at `offset` (both multiples of 512) in the window,
  // without copying them: what Read() there would copy from the window, by
  // the same rules, and with the same effect on what is read ahead; the
  // position is then behind them. Null when Read() would go to the source
  // for them, or they hold sectors the window lost: the caller reads them
  // with Read(), which answers as the source does. Valid until the next call
  // on this object.
  const uint8_t *View(uint64_t offset, size_t length);

  // Calls that went to the source, for benchmarks and tests.
  uint64_t SourceReads() const { return m_sourceReads; }

 private:
  bool Direct(void *buffer, size_t length, ReadReport &report);
  bool Fill(uint64_t from, size_t length);
  // The window's bytes for [offset, offset + length), filled as the rules
  // allow, or null; on success the reads are counted as one read there.
  const uint8_t *Serve(uint64_t offset, size_t length);

  ByteSource &m_source;
  std::vector<uint8_t> m_window;  // allocated by the first fill
  size_t m_windowCapacity = 0;
  uint64_t m_windowStart = 0;
  size_t m_windowBytes = 0;             // valid bytes in m_window
  std::vector<ByteRange> m_windowLost;  // lost sectors inside them, offsets from the disk's start
  uint64_t m_position = 0;
  uint64_t m_lastStart = UINT64_MAX;  // the last read answered
  uint64_t m_lastEnd = UINT64_MAX;
  int m_onward = 0;             // reads in a row that went on from the one before
  uint64_t m_noFillBefore = 0;  // a fill failed below this offset
  uint64_t m_sourceReads = 0;
};

}  // namespace orvan::recorder
