// Finds pictures that decode on their own in raw bytes: MPEG-4 key pictures
// (a VOP start code 00 00 01 B6 whose coding type is I, with the stream
// headers in front of it where they are present) and JPEG pictures (FF D8
// FF ... FF D9). A picture ends at the next start code (MPEG-4), at its end
// of image marker (JPEG), or at the end of the bytes given; one longer than
// a recorder record can be is not a picture.
//
// Pure logic over a buffer: what is found is only a candidate, which a
// decoder then has to accept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvan::recorder {

// A record is at most 102400 bytes; a carved picture is no longer.
constexpr size_t kMaxCarvedBytes = 102400;

struct CarveCandidate {
  enum class Kind { kMpeg4Key, kJpeg };
  Kind kind = Kind::kMpeg4Key;
  size_t at = 0;     // in the buffer
  size_t bytes = 0;  // the picture, headers included
  // MPEG-4: where its own stream headers begin (== at), or that it has
  // none in front of it (then a decoder needs the last ones seen).
  bool hasHeaders = false;
  // MPEG-4: the headers in front of it, [headersAt, vopAt).
  size_t vopAt = 0;
};

// Scans [0, size) and appends the candidates that start before `reportBefore`
// (pictures starting later are left for the next, overlapping, buffer).
// Every candidate lies wholly inside [0, size).
void ScanForPictures(const uint8_t *data, size_t size, size_t reportBefore,
                     std::vector<CarveCandidate> &out);

}  // namespace orvan::recorder
