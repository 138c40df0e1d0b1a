// JPEG files of what the video panel shows (the snapshot command), from the
// display manager's capture: rows top first, width * (bits / 8) bytes each,
// pixels as the display holds them (32 bits: B, G, R, x; 24 bits: B, G, R;
// 16 bits: RGB 5-6-5 little-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/output_file.h"

namespace orvan::media {

constexpr int kSnapshotJpegQuality = 80;

struct Capture {
  const uint8_t *pixels = nullptr;
  size_t bytes = 0;  // what the capture returned; nothing past it is read
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
};

// Where a snapshot came from, carried in the file: an EXIF block whose
// DateTimeOriginal is the recorder time shown and whose ImageDescription is
// the comment, and the comment again as a JPEG comment.
struct SnapshotTags {
  int64_t shownSeconds = -1;  // recorder seconds; negative: no EXIF block
  std::string comment;        // empty: no comment (cut at 65000 bytes)
};

// Encodes the capture as a baseline JPEG of the given quality. False (and
// `jpeg` left empty) for a capture that is too short for its size, a depth
// other than 16, 24 or 32 bits, or an encoder failure.
bool EncodeSnapshotJpeg(const Capture &capture, std::vector<uint8_t> &jpeg,
                        int quality = kSnapshotJpegQuality, const SnapshotTags &tags = {});
// Encodes and writes the file (platform/output_file.h: never over a
// source, a device or, unless `policy` allows it, an existing file). False
// when encoding or writing failed or the path was refused; *error says why.
bool SaveSnapshotJpeg(const Capture &capture, const std::string &path,
                      platform::ReplacePolicy policy = platform::ReplacePolicy::kKeepExisting,
                      std::string *error = nullptr, int quality = kSnapshotJpegQuality,
                      const SnapshotTags &tags = {});

// The payload of the APP1 marker: "Exif" and two zero bytes, then a
// little-endian TIFF block whose first IFD holds the ImageDescription
// (`description`, left out when empty) and points at an Exif IFD holding
// ExifVersion "0230" and DateTimeOriginal, the recorder time as
// "YYYY:MM:DD HH:MM:SS" (UTC calendar, as the recorder's times are shown).
std::vector<uint8_t> ExifBlock(int64_t shownSeconds, const std::string &description = {});

}  // namespace orvan::media
