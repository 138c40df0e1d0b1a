#include "media/pixel_format.h"

namespace orvan::media {

AVPixelFormat ToAVPixelFormat(int code) {
  switch (code) {
    case kPixYuv420:
      return AV_PIX_FMT_YUV420P;
    case kPixYuv422:
      return AV_PIX_FMT_YUV422P;
    case kPixYuvj420:
      return AV_PIX_FMT_YUVJ420P;
    case kPixYuvj422:
      return AV_PIX_FMT_YUVJ422P;
    case kPixBgr32:
      return AV_PIX_FMT_BGR0;
    case kPixRgb24:
      return AV_PIX_FMT_RGB24;
    case kPixRgb565:
      return AV_PIX_FMT_RGB565LE;
    case kPixGray8:
      return AV_PIX_FMT_GRAY8;
    default:
      return AV_PIX_FMT_NONE;
  }
}

uint8_t FromAVPixelFormat(int avFormat) {
  switch (avFormat) {
    case AV_PIX_FMT_YUV420P:
      return kPixYuv420;
    case AV_PIX_FMT_YUV422P:
      return kPixYuv422;
    case AV_PIX_FMT_YUVJ420P:
      return kPixYuvj420;
    case AV_PIX_FMT_YUVJ422P:
      return kPixYuvj422;
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGRA:
      return kPixBgr32;
    case AV_PIX_FMT_RGB24:
      return kPixRgb24;
    case AV_PIX_FMT_RGB565LE:
      return kPixRgb565;
    case AV_PIX_FMT_GRAY8:
      return kPixGray8;
    default:
      return kPixOther;
  }
}

int SurfaceBytesPerPixel(int code) {
  switch (code) {
    case kPixBgr32:
      return 4;
    case kPixRgb24:
      return 3;
    case kPixRgb565:
      return 2;
    case kPixGray8:
      return 1;
    default:
      return 0;
  }
}

uint8_t SurfaceFormatForBitCount(int bitCount) {
  switch (bitCount) {
    case 32:
      return kPixBgr32;
    case 24:
      return kPixRgb24;
    case 16:
      return kPixRgb565;
    default:
      return kPixGray8;
  }
}

}  // namespace orvan::media
