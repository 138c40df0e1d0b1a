#include "media/snapshot_jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "platform/log.h"

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
bool RunEncoder(const Capture &capture, int quality, uint8_t *rowBuffer, unsigned char **out,
                unsigned long *outBytes) {
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

}  // namespace

bool EncodeSnapshotJpeg(const Capture &capture, std::vector<uint8_t> &jpeg, int quality) {
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
  const bool ok = RunEncoder(capture, quality, rowBuffer.data(), &out, &outBytes);
  if (ok && out) jpeg.assign(out, out + outBytes);
  std::free(out);
  return ok && !jpeg.empty();
}

bool SaveSnapshotJpeg(const Capture &capture, const std::string &path,
                      platform::ReplacePolicy policy, std::string *error, int quality) {
  std::vector<uint8_t> jpeg;
  if (!EncodeSnapshotJpeg(capture, jpeg, quality)) {
    if (error) *error = "the picture could not be encoded as JPEG";
    return false;
  }
  return platform::WriteOutputFile(path, jpeg.data(), jpeg.size(), policy, error);
}

}  // namespace orvan::media
