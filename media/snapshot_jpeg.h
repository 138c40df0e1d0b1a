// JPEG files of what the video panel shows (the snapshot command), from the
// display manager's capture: rows top first, width * (bits / 8) bytes each,
// pixels as the display holds them (32 bits: B, G, R, x; 24 bits: B, G, R;
// 16 bits: RGB 5-6-5 little-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvan::media {

constexpr int kSnapshotJpegQuality = 80;

struct Capture {
  const uint8_t *pixels = nullptr;
  size_t bytes = 0;  // what the capture returned; nothing past it is read
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
};

// Encodes the capture as a baseline JPEG of the given quality. False (and
// `jpeg` left empty) for a capture that is too short for its size, a depth
// other than 16, 24 or 32 bits, or an encoder failure.
bool EncodeSnapshotJpeg(const Capture &capture, std::vector<uint8_t> &jpeg,
                        int quality = kSnapshotJpegQuality);
// Encodes and writes the file. False when encoding or writing failed.
bool SaveSnapshotJpeg(const Capture &capture, const std::string &path,
                      int quality = kSnapshotJpegQuality);

}  // namespace orvan::media
