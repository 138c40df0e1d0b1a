// Reads back what a JPEG file says about itself, walking its markers and
// the EXIF block's TIFF structure by hand, so that the writer is checked
// against an independent reading: the comment and DateTimeOriginal.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orvan::test {

struct JpegTags {
  bool hasExif = false;
  std::string dateTimeOriginal;  // without its terminating zero
  std::string imageDescription;  // EXIF's, without its terminating zero
  std::string comment;
};

// Little-endian ("II") TIFF only; anything out of bounds reads as absent.
inline JpegTags ReadJpegTags(const std::vector<uint8_t> &file) {
  JpegTags tags;
  auto u16 = [](const uint8_t *p) { return uint32_t(p[0] | p[1] << 8); };
  auto u32 = [&](const uint8_t *p) { return u16(p) | u16(p + 2) << 16; };
  for (size_t i = 2; i + 4 <= file.size() && file[0] == 0xFF && file[1] == 0xD8;) {
    const uint8_t marker = file[i + 1];
    const size_t length = size_t(file[i + 2]) << 8 | file[i + 3];
    if (file[i] != 0xFF || marker == 0xDA || length < 2 || i + 2 + length > file.size()) break;
    const uint8_t *p = file.data() + i + 4;
    const size_t bytes = length - 2;
    if (marker == 0xFE) tags.comment.assign(reinterpret_cast<const char *>(p), bytes);
    if (marker == 0xE1 && bytes >= 14 && std::memcmp(p, "Exif\0\0II", 8) == 0) {
      tags.hasExif = true;
      const uint8_t *tiff = p + 6;
      const size_t size = bytes - 6;
      // The value of `tag` in the IFD at `ifd`: its 4 value bytes' offset.
      auto find = [&](uint32_t ifd, uint32_t tag, uint32_t &count) -> const uint8_t * {
        if (ifd + 2 > size) return nullptr;
        for (uint32_t n = 0, entries = u16(tiff + ifd); n < entries; ++n) {
          const size_t at = ifd + 2 + size_t(n) * 12;
          if (at + 12 > size) return nullptr;
          count = u32(tiff + at + 4);
          if (u16(tiff + at) == tag) return tiff + at + 8;
        }
        return nullptr;
      };
      uint32_t count = 0;
      const uint8_t *description = find(u32(tiff + 4), 0x010E, count);
      if (description && u32(description) < size && count <= size - u32(description) && count > 0)
        tags.imageDescription.assign(reinterpret_cast<const char *>(tiff + u32(description)),
                                     count - 1);
      const uint8_t *pointer = find(u32(tiff + 4), 0x8769, count);
      const uint8_t *date = pointer ? find(u32(pointer), 0x9003, count) : nullptr;
      if (date && u32(date) < size && count <= size - u32(date) && count > 0)
        tags.dateTimeOriginal.assign(reinterpret_cast<const char *>(tiff + u32(date)), count - 1);
    }
    i += 2 + length;
  }
  return tags;
}

}  // namespace orvan::test
