// One coded picture that decodes on its own (an MPEG-4 key picture with its
// stream headers, or an MJPEG picture), decoded through the filter objects'
// own decoder (media/video_decoder.h) and written as a PNG file: how a
// picture found outside the index is checked and kept.
//
// Threads: any; nothing is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvan::media {

struct StillPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // rows top first, 3 bytes a pixel (R, G, B)
};

enum class StillCodec { kMpeg4, kMjpeg };

// True when the bytes decode into a whole picture without a fault the codec
// reports. `headers` (may be empty) goes in front of an MPEG-4 picture that
// lacks its own stream headers.
bool DecodeStillPicture(StillCodec codec, const uint8_t *data, size_t size, StillPicture &picture,
                        const std::vector<uint8_t> &headers = {});

// The picture as a PNG file's bytes; false when encoding fails.
bool EncodePng(const StillPicture &picture, std::vector<uint8_t> &png);

}  // namespace orvan::media
