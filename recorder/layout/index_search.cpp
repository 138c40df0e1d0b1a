#include "recorder/layout/index_search.h"

#include <algorithm>

namespace orvan::recorder {

namespace {

BlockTimeRead ReadBlockTimeOnce(uint64_t position, ByteSource &source, uint32_t &time) {
  uint8_t sector[kSectorBytes];
  ReadReport report;
  if (!source.Seek(position)) return BlockTimeRead::kStopped;
  if (!source.ReadSectors(sector, kSectorBytes, report)) {
    if (report.gone) return BlockTimeRead::kGone;
    if (report.stopped) return BlockTimeRead::kStopped;
    return report.lost.empty() ? BlockTimeRead::kEnded : BlockTimeRead::kLost;
  }
  time = LoadU32(sector + 4);
  return BlockTimeRead::kRead;
}

int64_t BlockOf(int64_t n) {
  return std::clamp<int64_t>(n, 0, kMaxEntryNumber) / kEntriesPerBlock * kEntriesPerBlock;
}

// The search's reads of block times, with what they met.
class BlockTimes {
 public:
  BlockTimes(ByteSource &source, SearchReport *report) : m_source(source), m_report(report) {}

  // The time of the block holding entry `n` (`at` = n), or else of the
  // nearest readable block between lo and hi (both inclusive) in the
  // direction(s) allowed (`at` = that block). False when none is, or the
  // disk went away or the reads were given up (Abandoned()).
  bool Near(int64_t n, int64_t lo, int64_t hi, bool up, bool down, int64_t &at, uint32_t &time) {
    if (Try(n, time)) {
      at = n;
      return true;
    }
    const int64_t block = BlockOf(n);
    for (int k = 1; k <= kSearchSkipBlocks && !m_abandoned; ++k) {
      for (const int64_t candidate :
           {up ? block + k * kEntriesPerBlock : -1, down ? block - k * kEntriesPerBlock : -1}) {
        if (candidate < 0 || candidate < lo || candidate > hi) continue;
        if (Try(candidate, time)) {
          at = candidate;
          return true;
        }
        if (m_abandoned) return false;
      }
    }
    return false;
  }
  bool Abandoned() const { return m_abandoned; }

 private:
  bool Try(int64_t n, uint32_t &time) {
    if (m_abandoned) return false;
    const BlockTimeRead read = ReadBlockTime(n, m_source, time);
    if (read == BlockTimeRead::kRead) return true;
    if (read == BlockTimeRead::kGone || read == BlockTimeRead::kStopped) {
      m_abandoned = true;
      if (m_report) (read == BlockTimeRead::kGone ? m_report->gone : m_report->stopped) = true;
    } else if (m_report && read == BlockTimeRead::kLost) {
      Note(BlockOf(n));
    }
    return false;
  }
  void Note(int64_t block) {
    auto &list = m_report->unreadableBlocks;
    if (std::find(list.begin(), list.end(), block) == list.end()) list.push_back(block);
  }
  ByteSource &m_source;
  SearchReport *m_report;
  bool m_abandoned = false;
};

}  // namespace

BlockTimeRead ReadBlockTime(int64_t n, ByteSource &source, uint32_t &time) {
  const uint64_t position = IndexEntryPosition(BlockOf(n));
  uint32_t first = 0;
  const BlockTimeRead read = ReadBlockTimeOnce(position, source, first);
  if (read != BlockTimeRead::kRead) return read;
  if (TimeToCalendar(first).wYear == 1970) {
    uint32_t second = 0;
    if (ReadBlockTimeOnce(position, source, second) == BlockTimeRead::kRead) first = second;
  }
  time = first;
  return BlockTimeRead::kRead;
}

bool IndexBlockTime(int64_t n, ByteSource &source, uint32_t &time) {
  return ReadBlockTime(n, source, time) == BlockTimeRead::kRead;
}

int64_t SearchTime(ByteSource &source, const DiskGeometry &geometry, uint32_t target,
                   SearchReport *report) {
  const int64_t playEnd = std::clamp<int64_t>(geometry.playEnd, 0, kMaxEntryNumber);
  BlockTimes times(source, report);
  const int64_t lastBlock = BlockOf(playEnd);
  // The ends: where their blocks cannot be read, the nearest readable ones
  // inside give the times. The left end stays 0 (a target before its time
  // starts there), the right one moves in.
  int64_t l = 0, r = playEnd;
  int64_t at = 0;
  uint32_t tl = 0, tm = 0, tr = 0;
  times.Near(0, 0, lastBlock, true, false, at, tl);
  if (times.Abandoned()) return 0;
  if (times.Near(playEnd, 0, lastBlock, false, true, at, tr) && at != playEnd) r = at;
  if (times.Abandoned()) return 0;
  int64_t m = l + (r - l) / 2;
  if (times.Near(m, l + 1, r - 1, true, true, at, tm)) m = at;
  if (times.Abandoned()) return BlockOf(m);

  int64_t result;
  if (target < tl) {
    result = l;
  } else if (target > tr) {
    result = r;
  } else {
    // Every narrowing moves r or l to m with l < m < r, so r - l shrinks on
    // each pass and the loop ends even when block times are out of order
    // or unreadable.
    for (;;) {
      if (target == tl) {
        result = l;
        break;
      }
      if (target == tm) {
        result = m;
        break;
      }
      if (target == tr) {
        result = r;
        break;
      }
      if (tl < target && target < tm) {
        r = m;
        m = l + (r - l) / 2;
      } else if (tm < target && target < tr) {
        l = m;
        m = l + (r - l) / 2;
      } else {
        result = m;
        break;
      }
      if (!(l < m && m < r)) {
        result = m;
        break;
      }
      // The middle: its block, or a readable one near it strictly inside;
      // none (all between unreadable) leaves the middle as the result.
      times.Near(l, 0, lastBlock, true, false, at, tl);
      times.Near(r, 0, lastBlock, false, true, at, tr);
      uint32_t middle = tm;
      int64_t found = m;
      const bool readable = times.Near(m, l + 1, r - 1, true, true, found, middle);
      if (times.Abandoned()) {
        result = m;
        break;
      }
      if (!readable) {
        result = m;
        break;
      }
      if (found > l && found < r) m = found;
      tm = middle;
    }
  }
  return result / kEntriesPerBlock * kEntriesPerBlock;
}

}  // namespace orvan::recorder
