#include "recorder/recovery/carve_scanner.h"

#include <algorithm>
#include <cstring>

namespace orvan::recorder {

namespace {

// MPEG-4 Part 2 start codes that may stand in front of a VOP as its stream
// headers: visual object sequence (B0), user data (B2), group of VOP (B3),
// visual object (B5), video object (00..1F), video object layer (20..2F).
bool IsHeaderCode(uint8_t code) {
  return code == 0xB0 || code == 0xB2 || code == 0xB3 || code == 0xB5 || code <= 0x2F;
}

// Headers that stand further than this in front of a VOP are not its own.
constexpr size_t kMaxHeaderBytes = 4096;

// The next start code prefix 00 00 01 at or after `from` whose code byte is
// inside the buffer; size when there is none.
size_t NextStartCode(const uint8_t *p, size_t size, size_t from) {
  while (from + 3 < size) {
    const void *hit = std::memchr(p + from + 2, 0x01, size - from - 3);
    if (!hit) return size;
    const size_t one = size_t(static_cast<const uint8_t *>(hit) - p);
    if (p[one - 1] == 0 && p[one - 2] == 0) return one - 2;
    from = one - 1;
  }
  return size;
}

void ScanMpeg4(const uint8_t *p, size_t size, size_t reportBefore,
               std::vector<CarveCandidate> &out) {
  size_t chain = SIZE_MAX;  // the first header code of the run in front
  for (size_t at = NextStartCode(p, size, 0); at < size; at = NextStartCode(p, size, at + 3)) {
    const uint8_t code = p[at + 3];
    if (IsHeaderCode(code)) {
      if (chain == SIZE_MAX) chain = at;
      continue;
    }
    const size_t headers = chain;
    chain = SIZE_MAX;
    if (code != 0xB6 || at + 4 >= size) continue;
    // vop_coding_type: the two bits after the start code; 00 is I.
    if ((p[at + 4] >> 6) != 0) continue;
    const bool own = headers != SIZE_MAX && at - headers <= kMaxHeaderBytes;
    const size_t begin = own ? headers : at;
    if (begin >= reportBefore) continue;
    const size_t end = NextStartCode(p, size, at + 4);
    if (end - begin > kMaxCarvedBytes || end - at < 8) continue;
    CarveCandidate c;
    c.kind = CarveCandidate::Kind::kMpeg4Key;
    c.at = begin;
    c.bytes = end - begin;
    c.hasHeaders = own;
    c.vopAt = at;
    out.push_back(c);
  }
}

void ScanJpeg(const uint8_t *p, size_t size, size_t reportBefore,
              std::vector<CarveCandidate> &out) {
  size_t from = 0;
  while (from + 3 < size && from < reportBefore) {
    const void *hit = std::memchr(p + from, 0xFF, std::min(size, reportBefore) - from);
    if (!hit) return;
    const size_t at = size_t(static_cast<const uint8_t *>(hit) - p);
    from = at + 1;
    if (at + 3 >= size || p[at + 1] != 0xD8 || p[at + 2] != 0xFF) continue;
    // The end of image marker within a record's length.
    const size_t limit = std::min(size, at + kMaxCarvedBytes);
    size_t end = SIZE_MAX;
    for (size_t q = at + 2; q + 1 < limit;) {
      const void *ff = std::memchr(p + q, 0xFF, limit - q - 1);
      if (!ff) break;
      const size_t f = size_t(static_cast<const uint8_t *>(ff) - p);
      if (p[f + 1] == 0xD9) {
        end = f + 2;
        break;
      }
      q = f + 1;
    }
    if (end == SIZE_MAX) continue;
    CarveCandidate c;
    c.kind = CarveCandidate::Kind::kJpeg;
    c.at = at;
    c.bytes = end - at;
    out.push_back(c);
    from = end;
  }
}

}  // namespace

void ScanForPictures(const uint8_t *data, size_t size, size_t reportBefore,
                     std::vector<CarveCandidate> &out) {
  if (!data || size < 4) return;
  reportBefore = std::min(reportBefore, size);
  const size_t first = out.size();
  ScanMpeg4(data, size, reportBefore, out);
  ScanJpeg(data, size, reportBefore, out);
  std::sort(out.begin() + std::ptrdiff_t(first), out.end(),
            [](const CarveCandidate &a, const CarveCandidate &b) { return a.at < b.at; });
}

}  // namespace orvan::recorder
