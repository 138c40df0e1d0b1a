#include "media/picture_conversion.h"

#include <algorithm>
#include <cstring>
#include <exception>

extern "C" {
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
  // The surface's depth must agree with its format, or rows would be
  // written with the wrong width.
  if (target == AV_PIX_FMT_NONE || bytesPerPixel == 0 || surface.bitCount / 8 != bytesPerPixel ||
      surface.pitch <= 0) {
    ORVAN_LOG_WARN(kLogCategory, "unusable surface: format %d, %d bits, pitch %d",
                   surface.pixelFormat, surface.bitCount, surface.pitch);
    return false;
  }

  // Never read past the picture the decoder made, nor write past a row or
  // the last row of the surface.
  const int w = std::min(width, picture->width);
  const int h = std::min(height, picture->height);
  const int scale = halfSize ? 2 : 1;
  const int outWidth = std::min(w / scale, surface.pitch / bytesPerPixel);
  const int outRows = surface.rows > 0 ? std::min(h / scale, surface.rows) : h / scale;
  if (outWidth <= 0 || outRows <= 0) return false;

  AVPixelFormat source = AVPixelFormat(picture->format);
  if (source == AV_PIX_FMT_NONE || !av_pix_fmt_desc_get(source))
    source = orvan::media::ToAVPixelFormat(sourceFormat);
  if (source == AV_PIX_FMT_NONE || !av_pix_fmt_desc_get(source)) return false;
  const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(source);
  // Half size skips every second row by doubling the line sizes, which is
  // right for planar formats whose chroma rows are halved at most.
  if (halfSize && (!(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || desc->log2_chroma_h > 1))
    return false;
  int fullRange = 0;
  source = PlainFormat(source, fullRange);
  if (picture->color_range == AVCOL_RANGE_JPEG) fullRange = 1;

  // One pass of libswscale straight into the surface at its pitch: at full
  // size its unscaled converter, at half size rows 0, 2, 4, ... scaled to
  // half the width. Its plain rounding is within 4 of BT.601 (the accurate
  // flags are within 2 but cost twenty times as much at full size and take
  // the scaler off its vector code).
  //
  // libswscale's vector code may store a little past the end of a row. Rows
  // are written top to bottom, so that only ever lands in bytes written
  // later, except behind the last row: the last two or three rows (an even
  // number stays above them, for the chroma rows) are converted into a
  // padded buffer of ours and copied in.
  const int flags = halfSize ? SWS_FAST_BILINEAR : SWS_BILINEAR;
  const int tailRows = std::min(outRows, 2 + outRows % 2);
  const int mainRows = outRows - tailRows;
  int lineSizes[4] = {};
  for (int plane = 0; plane < 4; ++plane) lineSizes[plane] = picture->linesize[plane] * scale;
  const Pass pass{outWidth * scale, outWidth, source, target, fullRange, flags};

  if (mainRows > 0) {
    uint8_t *dst[4] = {surface.bits, nullptr, nullptr, nullptr};
    const int dstStride[4] = {surface.pitch, 0, 0, 0};
    if (!Scale(m_main, pass, mainRows, picture->data, lineSizes, dst, dstStride)) return false;
  }

  const uint8_t *tailSource[4] = {};
  for (int plane = 0; plane < 4 && picture->data[plane]; ++plane) {
    const int rowShift = plane == 1 || plane == 2 ? desc->log2_chroma_h : 0;
    tailSource[plane] = picture->data[plane] + ptrdiff_t(mainRows >> rowShift) * lineSizes[plane];
  }
  const size_t rowBytes = size_t(outWidth) * bytesPerPixel;
  const int tailStride = int((rowBytes + 63) & ~size_t(63));
  m_tail.resize(size_t(tailStride) * tailRows + 64);
  uint8_t *dst[4] = {m_tail.data(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {tailStride, 0, 0, 0};
  if (!Scale(m_last, pass, tailRows, tailSource, lineSizes, dst, dstStride)) return false;
  for (int row = 0; row < tailRows; ++row)
    std::memcpy(surface.bits + size_t(mainRows + row) * surface.pitch,
                m_tail.data() + size_t(row) * tailStride, rowBytes);
  return true;
}

bool CPictureConverter::Scale(Context &context, const Pass &pass, int rows,
                              const uint8_t *const source[4], const int sourceStrides[4],
                              uint8_t *const dst[4], const int dstStrides[4]) {
  if (!context.sws || !(pass == context.pass) || rows != context.rows) {
    context.sws.reset(sws_getContext(pass.sourceWidth, rows, pass.source, pass.width, rows,
                                     pass.target, pass.flags, nullptr, nullptr, nullptr));
    if (!context.sws) {
      ORVAN_LOG_WARN(kLogCategory, "no conversion from %s to %s", av_get_pix_fmt_name(pass.source),
                     av_get_pix_fmt_name(pass.target));
      context.rows = 0;
      return false;
    }
    const int *bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(context.sws.get(), bt601, pass.sourceFullRange, bt601, 1, 0, 1 << 16,
                             1 << 16);
    context.pass = pass;
    context.rows = rows;
  }
  return sws_scale(context.sws.get(), source, sourceStrides, 0, rows, dst, dstStrides) == rows;
}
