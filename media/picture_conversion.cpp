#include "media/picture_conversion.h"

#include <algorithm>
#include <cstring>
#include <exception>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

#include "platform/log.h"

namespace {

constexpr const char *kLogCategory = "convert";

// The full-range "J" formats are the plain ones with full-range samples;
// swscale wants the plain format with the range given separately.
AVPixelFormat PlainFormat(AVPixelFormat f, int &fullRange) {
  fullRange = 0;
  switch (f) {
    case AV_PIX_FMT_YUVJ420P:
      fullRange = 1;
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      fullRange = 1;
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      fullRange = 1;
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      fullRange = 1;
      return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
      fullRange = 1;
      return AV_PIX_FMT_YUV411P;
    default:
      return f;
  }
}

}  // namespace

CPictureConverter::CPictureConverter() = default;
CPictureConverter::~CPictureConverter() = default;

bool CPictureConverter::Draw(CPictureSurface &surface, const AVFrame *picture, uint8_t sourceFormat,
                             int width, int height, bool halfSize) {
  CLockable *lock = surface.GetLock();
  if (!lock) return false;
  CTeskAutoLock hold(lock);
  try {
    orvan::media::SurfaceView view;
    view.bits = static_cast<uint8_t *>(surface.GetBits());
    if (!view.bits) return true;
    view.pixelFormat = surface.GetPixelFormat();
    view.bitCount = surface.GetBitCount();
    view.pitch = surface.GetPitch();
    view.rows = surface.GetRows();
    return DrawInto(view, picture, sourceFormat, width, height, halfSize);
  } catch (const std::exception &e) {
    ORVAN_LOG_WARN(kLogCategory, "drawing failed: %s", e.what());
    return false;
  }
}

bool CPictureConverter::DrawInto(const orvan::media::SurfaceView &surface, const AVFrame *picture,
                                 uint8_t sourceFormat, int width, int height, bool halfSize) {
  if (!surface.bits) return true;
  if (!picture || !picture->data[0] || width <= 0 || height <= 0) return false;

  const AVPixelFormat target = orvan::media::ToAVPixelFormat(surface.pixelFormat);
  const int bytesPerPixel = orvan::media::SurfaceBytesPerPixel(surface.pixelFormat);
  // The surface's depth must agree with its format, or rows would be copied
  // with the wrong width.
  if (target == AV_PIX_FMT_NONE || bytesPerPixel == 0 || surface.bitCount / 8 != bytesPerPixel ||
      surface.pitch <= 0) {
    ORVAN_LOG_WARN(kLogCategory, "unusable surface: format %d, %d bits, pitch %d",
                   surface.pixelFormat, surface.bitCount, surface.pitch);
    return false;
  }

  // Never read past the picture the decoder made.
  const int w = std::min(width, picture->width);
  const int h = std::min(height, picture->height);
  if (w <= 0 || h <= 0) return false;
  if (!Convert(picture, sourceFormat, w, h, target, bytesPerPixel)) return false;

  const uint8_t *buffer = m_buffer.get();
  const size_t pitch = size_t(surface.pitch);
  if (!halfSize) {
    const size_t rowBytes = std::min(size_t(w) * bytesPerPixel, pitch);
    const int rows = surface.rows > 0 ? std::min(h, surface.rows) : h;
    for (int j = 0; j < rows; ++j)
      std::memcpy(surface.bits + j * pitch, buffer + size_t(j) * m_bufferStride, rowBytes);
  } else {
    const int halfWidth = std::min<int>(w / 2, int(pitch / bytesPerPixel));
    const int halfRows = surface.rows > 0 ? std::min(h / 2, surface.rows) : h / 2;
    for (int i = 0; i < halfRows; ++i) {
      const uint8_t *src = buffer + size_t(2 * i) * m_bufferStride;
      uint8_t *dst = surface.bits + i * pitch;
      switch (bytesPerPixel) {
        case 4:
          for (int k = 0; k < halfWidth; ++k) std::memcpy(dst + 4 * k, src + 8 * k, 4);
          break;
        case 2:
          for (int k = 0; k < halfWidth; ++k) std::memcpy(dst + 2 * k, src + 4 * k, 2);
          break;
        default:
          for (int k = 0; k < halfWidth; ++k)
            std::memcpy(dst + size_t(k) * bytesPerPixel, src + size_t(2 * k) * bytesPerPixel,
                        bytesPerPixel);
          break;
      }
    }
  }
  return true;
}

bool CPictureConverter::Convert(const AVFrame *picture, uint8_t sourceFormat, int width, int height,
                                AVPixelFormat target, int bytesPerPixel) {
  // The picture's own format describes its planes; the reported code is
  // used only when the picture does not carry one.
  AVPixelFormat source = AVPixelFormat(picture->format);
  if (source == AV_PIX_FMT_NONE || !av_pix_fmt_desc_get(source))
    source = orvan::media::ToAVPixelFormat(sourceFormat);
  if (source == AV_PIX_FMT_NONE) return false;
  int fullRange = 0;
  source = PlainFormat(source, fullRange);
  if (picture->color_range == AVCOL_RANGE_JPEG) fullRange = 1;

  // The accurate path keeps colours within 2 of BT.601; the fast table
  // path is off by up to 4.
  // One context per size, formats and range, made here and kept: swscale's
  // own cache compares fields that setting the ranges changes, so it would
  // make a context per picture and lose the full range of the later ones.
  const ContextKey key{width, height, source, target};
  if (!m_sws || !(key == m_swsKey) || m_swsSourceRange != fullRange) {
    int flags = SWS_BILINEAR | SWS_ACCURATE_RND;
    if (target == AV_PIX_FMT_BGR0 || target == AV_PIX_FMT_RGB24) flags |= SWS_FULL_CHR_H_INT;
    m_sws.reset(sws_getContext(width, height, source, width, height, target, flags, nullptr,
                               nullptr, nullptr));
    if (!m_sws) {
      ORVAN_LOG_WARN(kLogCategory, "no conversion from %s to %s", av_get_pix_fmt_name(source),
                     av_get_pix_fmt_name(target));
      m_swsSourceRange = -1;
      return false;
    }
    const int *bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(m_sws.get(), bt601, fullRange, bt601, 1, 0, 1 << 16, 1 << 16);
    m_swsKey = key;
    m_swsSourceRange = fullRange;
  }

  // Rows aligned for swscale's vector code, with a little slack at the end.
  const int stride = (width * bytesPerPixel + 63) & ~63;
  const size_t needed = size_t(stride) * height + 64;
  if (needed > m_bufferBytes) {
    m_buffer.reset(static_cast<uint8_t *>(av_malloc(needed)));
    m_bufferBytes = m_buffer ? needed : 0;
    if (!m_buffer) return false;
  }
  m_bufferStride = stride;

  uint8_t *dst[4] = {m_buffer.get(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride, 0, 0, 0};
  const int rows =
      sws_scale(m_sws.get(), picture->data, picture->linesize, 0, height, dst, dstStride);
  return rows == height;
}
