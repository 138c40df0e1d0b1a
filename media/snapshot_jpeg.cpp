#include "media/snapshot_jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "platform/log.h"
#include "platform/wintime.h"

namespace orvan::media {

namespace {

constexpr const char *kLogCategory = "snapshot";

// libjpeg reports fatal errors through error_exit, which must not return:
// jump back to the encoder's set-up point instead of ending the process.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void ErrorExit(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  ORVAN_LOG_WARN(kLogCategory, "JPEG encoding failed: %s", text);
  std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

void SilenceMessage(j_common_ptr) {}

// Expands one row of 5-6-5 pixels into R, G, B bytes.
void Rgb565Row(const uint8_t *src, int width, uint8_t *dst) {
  for (int x = 0; x < width; ++x) {
    const unsigned p = src[2 * x] | (unsigned(src[2 * x + 1]) << 8);
    const unsigned r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
    dst[3 * x] = uint8_t((r << 3) | (r >> 2));
    dst[3 * x + 1] = uint8_t((g << 2) | (g >> 4));
    dst[3 * x + 2] = uint8_t((b << 3) | (b >> 2));
  }
}

// Runs the encoder; kept free of C++ objects with destructors, since a
// libjpeg error leaves it by longjmp.
// A marker's payload: what libjpeg writes between the marker and the
// next one.
struct MarkerBytes {
  const uint8_t *bytes = nullptr;
  unsigned length = 0;
};

bool RunEncoder(const Capture &capture, int quality, uint8_t *rowBuffer, MarkerBytes exif,
                MarkerBytes comment, unsigned char **out, unsigned long *outBytes) {
  jpeg_compress_struct cinfo;
  ErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = ErrorExit;
  errors.base.output_message = SilenceMessage;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, outBytes);
  cinfo.image_width = JDIMENSION(capture.width);
  cinfo.image_height = JDIMENSION(capture.height);
  switch (capture.bitsPerPixel) {
    case 32:
      cinfo.input_components = 4;
      cinfo.in_color_space = JCS_EXT_BGRX;
      break;
    case 24:
      cinfo.input_components = 3;
      cinfo.in_color_space = JCS_EXT_BGR;
      break;
    default:  // 16: expanded row by row
      cinfo.input_components = 3;
      cinfo.in_color_space = JCS_RGB;
      break;
  }
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  // After the JFIF header, before the first frame header.
  if (exif.length) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.bytes, exif.length);
  if (comment.length) jpeg_write_marker(&cinfo, JPEG_COM, comment.bytes, comment.length);
  const size_t rowBytes = size_t(capture.width) * (capture.bitsPerPixel / 8);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint8_t *row = capture.pixels + cinfo.next_scanline * rowBytes;
    JSAMPROW rows[1];
    if (capture.bitsPerPixel == 16) {
      Rgb565Row(row, capture.width, rowBuffer);
      rows[0] = rowBuffer;
    } else {
      rows[0] = const_cast<JSAMPROW>(row);
    }
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

void PutU16(std::vector<uint8_t> &out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void PutU32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// One 12-byte IFD entry.
void PutEntry(std::vector<uint8_t> &out, uint16_t tag, uint16_t type, uint32_t count,
              uint32_t valueOrOffset) {
  PutU16(out, tag);
  PutU16(out, type);
  PutU32(out, count);
  PutU32(out, valueOrOffset);
}

constexpr size_t kMaxCommentBytes = 65000;      // a marker holds at most 65533
constexpr size_t kMaxDescriptionBytes = 65000;  // with the EXIF block's hundred bytes

}  // namespace

std::vector<uint8_t> ExifBlock(int64_t shownSeconds, const std::string &description) {
  const SYSTEMTIME t = orvan::RecorderSecondsToSystemTime(shownSeconds);
  // Every field at its fixed width: 19 characters.
  char when[20];
  std::snprintf(when, sizeof when, "%04u:%02u:%02u %02u:%02u:%02u", t.wYear % 10000u,
                t.wMonth % 100u, t.wDay % 100u, t.wHour % 100u, t.wMinute % 100u, t.wSecond % 100u);
  constexpr uint16_t kLong = 4, kAscii = 2, kUndefined = 7;
  constexpr uint16_t kImageDescription = 0x010E, kExifIfdPointer = 0x8769, kExifVersion = 0x9000,
                     kDateTimeOriginal = 0x9003;
  constexpr uint32_t kDateBytes = 20;  // 19 characters and the terminating zero
  // The description as it fits one marker beside the rest, and its zero.
  std::string text = description.substr(0, std::min(description.size(), kMaxDescriptionBytes));
  const bool described = !text.empty();
  // Four bytes or fewer would be stored in the entry itself: kept longer.
  if (described && text.size() < 4) text.resize(4, ' ');
  // Offsets from the TIFF header: IFD0 at 8 (the description and the Exif
  // pointer, in tag order), the Exif IFD right after it (two entries), then
  // the date and the description.
  const uint16_t ifd0Entries = described ? 2 : 1;
  constexpr uint32_t kIfd0 = 8;
  const uint32_t exifIfd = kIfd0 + 2 + 12u * ifd0Entries + 4;
  const uint32_t date = exifIfd + 2 + 2 * 12 + 4;
  const uint32_t descriptionAt = date + kDateBytes;

  std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
  PutU32(out, kIfd0);
  PutU16(out, ifd0Entries);
  if (described) PutEntry(out, kImageDescription, kAscii, uint32_t(text.size() + 1), descriptionAt);
  PutEntry(out, kExifIfdPointer, kLong, 1, exifIfd);
  PutU32(out, 0);  // no further IFD
  PutU16(out, 2);
  PutEntry(out, kExifVersion, kUndefined, 4,
           uint32_t('0') | uint32_t('2') << 8 | uint32_t('3') << 16 | uint32_t('0') << 24);
  PutEntry(out, kDateTimeOriginal, kAscii, kDateBytes, date);
  PutU32(out, 0);
  out.insert(out.end(), when, when + 19);
  out.push_back(0);
  if (described) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
  }
  return out;
}

bool EncodeSnapshotJpeg(const Capture &capture, std::vector<uint8_t> &jpeg, int quality,
                        const SnapshotTags &tags) {
  jpeg.clear();
  const int bpp = capture.bitsPerPixel;
  if (!capture.pixels || capture.width <= 0 || capture.height <= 0 || capture.width > 65500 ||
      capture.height > 65500 || (bpp != 16 && bpp != 24 && bpp != 32))
    return false;
  const size_t needed = size_t(capture.width) * capture.height * (bpp / 8);
  if (capture.bytes < needed) {
    ORVAN_LOG_WARN(kLogCategory, "capture of %zu bytes is short of %zu", capture.bytes, needed);
    return false;
  }
  std::vector<uint8_t> rowBuffer(bpp == 16 ? size_t(capture.width) * 3 : 0);
  unsigned char *out = nullptr;
  unsigned long outBytes = 0;
  const std::vector<uint8_t> exif =
      tags.shownSeconds >= 0 ? ExifBlock(tags.shownSeconds, tags.comment) : std::vector<uint8_t>{};
  const size_t commentBytes = std::min(tags.comment.size(), kMaxCommentBytes);
  const MarkerBytes exifMarker{exif.data(), unsigned(exif.size())};
  const MarkerBytes commentMarker{reinterpret_cast<const uint8_t *>(tags.comment.data()),
                                  unsigned(commentBytes)};
  const bool ok =
      RunEncoder(capture, quality, rowBuffer.data(), exifMarker, commentMarker, &out, &outBytes);
  if (ok && out) jpeg.assign(out, out + outBytes);
  std::free(out);
  return ok && !jpeg.empty();
}

bool SaveSnapshotJpeg(const Capture &capture, const std::string &path,
                      platform::ReplacePolicy policy, std::string *error, int quality,
                      const SnapshotTags &tags) {
  std::vector<uint8_t> jpeg;
  if (!EncodeSnapshotJpeg(capture, jpeg, quality, tags)) {
    if (error) *error = "the picture could not be encoded as JPEG";
    return false;
  }
  return platform::WriteOutputFile(path, jpeg.data(), jpeg.size(), policy, error);
}

}  // namespace orvan::media
