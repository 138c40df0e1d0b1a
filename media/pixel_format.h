// The pixel-format codes the decoder reports and the drawer's surface
// announces. They are this interface's own values; each stands for one of
// libavutil's named formats (see ToAVPixelFormat).
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace orvan::media {

enum PixelFormatCode : uint8_t {
  // Decoder output.
  kPixYuv420 = 0,    // planar YUV 4:2:0 (MPEG-4)
  kPixYuv422 = 4,    // planar YUV 4:2:2
  kPixYuvj420 = 15,  // planar YUV 4:2:0, full range (MJPEG)
  kPixYuvj422 = 16,  // planar YUV 4:2:2, full range (MJPEG)
  // Surface formats.
  kPixBgr32 = 6,   // bytes B, G, R, x in memory order
  kPixRgb24 = 2,   // bytes R, G, B
  kPixRgb565 = 9,  // 16-bit 5-6-5, native (little) endian
  kPixGray8 = 11,  // 8-bit gray
  // A decoded format outside the table (for example MJPEG 4:4:4): the
  // conversion then takes the picture's own format.
  kPixOther = 0xFF,
};

// The libavutil format a code stands for; AV_PIX_FMT_NONE for kPixOther and
// for values outside the table.
AVPixelFormat ToAVPixelFormat(int code);
// The code of a libavutil format; kPixOther when the table has none.
uint8_t FromAVPixelFormat(int avFormat);
// Bytes per pixel of a surface format code; 0 for the decoder formats and
// unknown codes.
int SurfaceBytesPerPixel(int code);
// The surface format code for a surface depth: 32 -> B,G,R,x; 24 -> R,G,B;
// 16 -> 5-6-5; any other depth -> gray.
uint8_t SurfaceFormatForBitCount(int bitCount);

}  // namespace orvan::media
