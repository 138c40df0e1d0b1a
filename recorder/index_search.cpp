#include "recorder/index_search.h"

#include <algorithm>

namespace orvan::recorder {

namespace {

bool ReadBlockTimeOnce(uint64_t position, ByteSource &source, uint32_t &time) {
  uint8_t sector[kSectorBytes];
  if (!source.Seek(position) || !source.Read(sector, kSectorBytes)) return false;
  time = LoadU32(sector + 4);
  return true;
}

}  // namespace

bool IndexBlockTime(int64_t n, ByteSource &source, uint32_t &time) {
  const int64_t block =
      std::clamp<int64_t>(n, 0, kMaxEntryNumber) / kEntriesPerBlock * kEntriesPerBlock;
  const uint64_t position = IndexEntryPosition(block);
  uint32_t first = 0;
  if (!ReadBlockTimeOnce(position, source, first)) return false;
  if (TimeToCalendar(first).wYear == 1970) {
    uint32_t second = 0;
    if (ReadBlockTimeOnce(position, source, second)) first = second;
  }
  time = first;
  return true;
}

int64_t SearchTime(ByteSource &source, const DiskGeometry &geometry, uint32_t target) {
  const int64_t playEnd = std::clamp<int64_t>(geometry.playEnd, 0, kMaxEntryNumber);
  int64_t l = 0;
  int64_t m = playEnd / 2;
  int64_t r = playEnd;
  uint32_t tl = 0, tm = 0, tr = 0;
  IndexBlockTime(l, source, tl);
  IndexBlockTime(m, source, tm);
  IndexBlockTime(r, source, tr);

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
      IndexBlockTime(l, source, tl);
      IndexBlockTime(m, source, tm);
      IndexBlockTime(r, source, tr);
    }
  }
  return result / kEntriesPerBlock * kEntriesPerBlock;
}

}  // namespace orvan::recorder
