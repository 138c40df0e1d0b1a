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
    orvan::media::ShownPart part;
    if (surface.GetShownView(&view, &part))
      return DrawPartInto(view, part, picture, sourceFormat, width, height, halfSize);
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
  return DrawChecked(surface, nullptr, picture, sourceFormat, width, height, halfSize);
}

bool CPictureConverter::DrawPartInto(const orvan::media::SurfaceView &surface,
                                     const orvan::media::ShownPart &part, const AVFrame *picture,
                                     uint8_t sourceFormat, int width, int height, bool halfSize) {
  return DrawChecked(surface, &part, picture, sourceFormat, width, height, halfSize);
}

bool CPictureConverter::DrawChecked(const orvan::media::SurfaceView &surface,
                                    const orvan::media::ShownPart *part, const AVFrame *picture,
                                    uint8_t sourceFormat, int width, int height, bool halfSize) {
  if (!surface.bits) return true;
  Target target;
  Source source;
  if (!Usable(surface, picture, sourceFormat, width, height, halfSize, &target, &source))
    return false;
  return part ? ConvertPart(surface, *part, picture, target, source, halfSize)
              : ConvertWhole(surface, picture, target, source, halfSize);
}

bool CPictureConverter::ConvertWhole(const orvan::media::SurfaceView &surface,
                                     const AVFrame *picture, const Target &target,
                                     const Source &source, bool halfSize) {
  // Never read past the picture the decoder made, nor write past a row or
  // the last row of the surface.
  const int scale = halfSize ? 2 : 1;
  const int outWidth = std::min(source.width / scale, surface.pitch / target.bytesPerPixel);
  const int outRows =
      surface.rows > 0 ? std::min(source.height / scale, surface.rows) : source.height / scale;
  if (outWidth <= 0 || outRows <= 0) return false;

  // One pass of libswscale straight into the surface at its pitch: at full
  // size its unscaled converter, at half size rows 0, 2, 4, ... scaled to
  // half the width. Its plain rounding is within 4 of BT.601 (the accurate
  // flags are within 2 but cost twenty times as much at full size and take
  // the scaler off its vector code).
  //
  // libswscale's vector code may store a little past the end of a row. Rows
  // are written top to bottom, so that only ever lands in bytes written
  // later, except behind the last row: unless the surface has slack there,
  // the last two or three rows (an even number stays above them, for the
  // chroma rows) are converted into a padded buffer of ours and copied in.
  const int flags = halfSize ? SWS_FAST_BILINEAR : SWS_BILINEAR;
  const bool slack = surface.slackBytes >= orvan::media::kConversionSlackBytes;
  const int tailRows = slack ? 0 : std::min(outRows, 2 + outRows % 2);
  const int mainRows = outRows - tailRows;
  int lineSizes[4] = {};
  for (int plane = 0; plane < 4; ++plane) lineSizes[plane] = picture->linesize[plane] * scale;
  const Pass mainPass{outWidth * scale, mainRows,      outWidth,         mainRows,
                      source.format,    target.format, source.fullRange, flags};
  if (mainRows > 0) {
    uint8_t *dst[4] = {surface.bits, nullptr, nullptr, nullptr};
    const int dstStride[4] = {surface.pitch, 0, 0, 0};
    if (!Scale(m_main, mainPass, picture->data, lineSizes, dst, dstStride)) return false;
  }
  if (tailRows == 0) return true;

  const uint8_t *tailSource[4] = {};
  for (int plane = 0; plane < 4 && picture->data[plane]; ++plane) {
    const int rowShift = plane == 1 || plane == 2 ? source.desc->log2_chroma_h : 0;
    tailSource[plane] = picture->data[plane] + ptrdiff_t(mainRows >> rowShift) * lineSizes[plane];
  }
  const Pass tailPass{outWidth * scale, tailRows,      outWidth,         tailRows,
                      source.format,    target.format, source.fullRange, flags};
  return ScaleThroughBuffer(m_last, tailPass, tailSource, lineSizes, surface,
                            mainRows * surface.pitch, target.bytesPerPixel);
}

bool CPictureConverter::ConvertPart(const orvan::media::SurfaceView &surface,
                                    const orvan::media::ShownPart &part, const AVFrame *picture,
                                    const Target &target, const Source &source, bool halfSize) {
  // The part, in the picture's pixels at the drawn size, inside the picture.
  const int scale = halfSize ? 2 : 1;
  int left = std::max(part.left, 0), top = std::max(part.top, 0);
  const int right = std::min(part.right, source.width / scale);
  const int bottom = std::min(part.bottom, source.height / scale);
  // Packed formats with shared chroma start on a whole pixel group.
  const bool planar = source.planar;
  if (!planar) left &= ~((1 << source.desc->log2_chroma_w) - 1);
  const int outWidth = std::min(part.shownWidth, surface.pitch / target.bytesPerPixel);
  const int outRows =
      surface.rows > 0 ? std::min(part.shownHeight, surface.rows) : part.shownHeight;
  if (right <= left || bottom <= top || outWidth <= 0 || outRows <= 0) return false;

  // Where the part starts in each plane. At half size the rows are the
  // decoded picture's rows 0, 2, 4, ... (line sizes doubled) and the
  // columns are scaled from twice as many.
  const int x = left * scale, y = top * scale;
  const uint8_t *start[4] = {};
  int lineSizes[4] = {};
  for (int plane = 0; plane < 4 && picture->data[plane]; ++plane) {
    int step = 0;
    for (int c = 0; c < source.desc->nb_components; ++c)
      if (source.desc->comp[c].plane == plane) {
        step = source.desc->comp[c].step;
        break;
      }
    const bool chroma = planar && (plane == 1 || plane == 2);
    const int column = chroma ? x >> source.desc->log2_chroma_w : x;
    const int row = chroma ? y >> source.desc->log2_chroma_h : y;
    start[plane] =
        picture->data[plane] + ptrdiff_t(row) * picture->linesize[plane] + ptrdiff_t(column) * step;
    lineSizes[plane] = picture->linesize[plane] * scale;
  }

  // One pass crops, scales and converts. The two-tap filter is enough for
  // the scales a viewer uses (about half to one and a half) and keeps
  // libswscale on its fast path; the shown pixels replace a nearest-pixel
  // stretch, which it matches within its filtering.
  const Pass pass{(right - left) * scale, bottom - top,  outWidth,         outRows,
                  source.format,          target.format, source.fullRange, SWS_FAST_BILINEAR};
  if (surface.slackBytes >= orvan::media::kConversionSlackBytes) {
    uint8_t *dst[4] = {surface.bits, nullptr, nullptr, nullptr};
    const int dstStride[4] = {surface.pitch, 0, 0, 0};
    return Scale(m_main, pass, start, lineSizes, dst, dstStride);
  }
  return ScaleThroughBuffer(m_main, pass, start, lineSizes, surface, 0, target.bytesPerPixel);
}

bool CPictureConverter::ScaleThroughBuffer(Context &context, const Pass &pass,
                                           const uint8_t *const source[4],
                                           const int sourceStrides[4],
                                           const orvan::media::SurfaceView &surface,
                                           size_t offsetBytes, int bytesPerPixel) {
  const size_t rowBytes = size_t(pass.width) * bytesPerPixel;
  const int stride = int((rowBytes + 63) & ~size_t(63));
  m_tail.resize(size_t(stride) * pass.rows + orvan::media::kConversionSlackBytes);
  uint8_t *dst[4] = {m_tail.data(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {stride, 0, 0, 0};
  if (!Scale(context, pass, source, sourceStrides, dst, dstStride)) return false;
  for (int row = 0; row < pass.rows; ++row)
    std::memcpy(surface.bits + offsetBytes + size_t(row) * surface.pitch,
                m_tail.data() + size_t(row) * stride, rowBytes);
  return true;
}

bool CPictureConverter::UsableTarget(const orvan::media::SurfaceView &surface, Target *target) {
  target->format = orvan::media::ToAVPixelFormat(surface.pixelFormat);
  target->bytesPerPixel = orvan::media::SurfaceBytesPerPixel(surface.pixelFormat);
  // The surface's depth must agree with its format, or rows would be
  // written with the wrong width.
  if (target->format == AV_PIX_FMT_NONE || target->bytesPerPixel == 0 ||
      surface.bitCount / 8 != target->bytesPerPixel || surface.pitch <= 0) {
    ORVAN_LOG_WARN(kLogCategory, "unusable surface: format %d, %d bits, pitch %d",
                   surface.pixelFormat, surface.bitCount, surface.pitch);
    return false;
  }
  return true;
}

bool CPictureConverter::UsableSource(const AVFrame *picture, uint8_t sourceFormat, int width,
                                     int height, bool halfSize, Source *source) {
  if (!picture || !picture->data[0] || width <= 0 || height <= 0) return false;
  AVPixelFormat format = AVPixelFormat(picture->format);
  if (format == AV_PIX_FMT_NONE || !av_pix_fmt_desc_get(format))
    format = orvan::media::ToAVPixelFormat(sourceFormat);
  if (format == AV_PIX_FMT_NONE || !av_pix_fmt_desc_get(format)) return false;
  source->desc = av_pix_fmt_desc_get(format);
  // Half size skips every second row by doubling the line sizes, which is
  // right for planar formats whose chroma rows are halved at most, and for
  // gray.
  source->planar =
      (source->desc->flags & AV_PIX_FMT_FLAG_PLANAR) || source->desc->nb_components == 1;
  if (halfSize && (!source->planar || source->desc->log2_chroma_h > 1)) return false;
  source->format = PlainFormat(format, source->fullRange);
  if (picture->color_range == AVCOL_RANGE_JPEG) source->fullRange = 1;
  // Never read past the picture the decoder made.
  source->width = std::min(width, picture->width);
  source->height = std::min(height, picture->height);
  return true;
}

bool CPictureConverter::Scale(Context &context, const Pass &pass, const uint8_t *const source[4],
                              const int sourceStrides[4], uint8_t *const dst[4],
                              const int dstStrides[4]) {
  if (!context.sws || !(pass == context.pass)) {
    context.sws.reset(sws_getContext(pass.sourceWidth, pass.sourceRows, pass.source, pass.width,
                                     pass.rows, pass.target, pass.flags, nullptr, nullptr,
                                     nullptr));
    if (!context.sws) {
      ORVAN_LOG_WARN(kLogCategory, "no conversion from %s to %s", av_get_pix_fmt_name(pass.source),
                     av_get_pix_fmt_name(pass.target));
      context.pass = Pass{};
      return false;
    }
    const int *bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(context.sws.get(), bt601, pass.sourceFullRange, bt601, 1, 0, 1 << 16,
                             1 << 16);
    context.pass = pass;
  }
  return sws_scale(context.sws.get(), source, sourceStrides, 0, pass.sourceRows, dst, dstStrides) ==
         pass.rows;
}
