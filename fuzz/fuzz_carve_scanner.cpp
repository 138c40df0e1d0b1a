// The carver's scanner over hostile bytes: every candidate lies inside the
// bytes given, starts before the limit, is no longer than a record, and
// comes in order; the first few go through the decoder check as a carve
// would send them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/still_picture.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/recovery/carve_scanner.h"

using namespace orvan::recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose where reporting stops.
  const size_t limit = size_t(LoadU16(data)) % (size + 1);
  data += 2;
  size -= 2;
  std::vector<CarveCandidate> found;
  ScanForPictures(data, size, limit, found);
  size_t last = 0;
  int decoded = 0;
  for (const CarveCandidate &c : found) {
    if (c.at >= limit || c.at + c.bytes > size || c.bytes == 0 || c.bytes > kMaxCarvedBytes ||
        c.at < last)
      __builtin_trap();
    last = c.at;
    if (c.kind == CarveCandidate::Kind::kMpeg4Key &&
        (c.vopAt < c.at || c.vopAt >= c.at + c.bytes || (c.hasHeaders != (c.vopAt > c.at))))
      __builtin_trap();
    if (decoded++ < 2) {
      orvan::media::StillPicture picture;
      const bool mpeg4 = c.kind == CarveCandidate::Kind::kMpeg4Key;
      if (orvan::media::DecodeStillPicture(
              mpeg4 ? orvan::media::StillCodec::kMpeg4 : orvan::media::StillCodec::kMjpeg,
              data + c.at, c.bytes, picture) &&
          picture.rgb.size() != size_t(picture.width) * size_t(picture.height) * 3)
        __builtin_trap();
    }
  }
  return 0;
}
