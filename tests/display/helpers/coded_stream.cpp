#include "tests/display/helpers/coded_stream.h"

#include <cstdlib>

namespace orvan::test {

std::vector<CodedPicture> Mpeg4Stream(int width, int height, int count, int gop) {
  return EncodeStream("mpeg4", AV_PIX_FMT_YUV420P, width, height, count, gop);
}

std::vector<CodedPicture> MjpegStream(int width, int height, int count) {
  return EncodeStream("mjpeg", AV_PIX_FMT_YUVJ420P, width, height, count, 1);
}

std::vector<QImage> DecodeToRgb32(const std::string &decoder,
                                  const std::vector<CodedPicture> &stream) {
  std::vector<QImage> images;
  for (const av::FramePtr &frame : ReferenceDecode(decoder, stream)) {
    if (!frame) {
      images.emplace_back();
      continue;
    }
    QImage img(frame->width, frame->height, QImage::Format_RGB32);
    // The full-range "J" formats: plain samples with the range given apart.
    AVPixelFormat source = AVPixelFormat(frame->format);
    int fullRange = frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    if (source == AV_PIX_FMT_YUVJ420P) source = AV_PIX_FMT_YUV420P, fullRange = 1;
    if (source == AV_PIX_FMT_YUVJ422P) source = AV_PIX_FMT_YUV422P, fullRange = 1;
    av::SwsContextPtr sws(sws_getContext(frame->width, frame->height, source, frame->width,
                                         frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr,
                                         nullptr, nullptr));
    const int *bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(sws.get(), bt601, fullRange, bt601, 1, 0, 1 << 16, 1 << 16);
    uint8_t *dst[4] = {img.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(img.bytesPerLine()), 0, 0, 0};
    sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    images.push_back(img);
  }
  return images;
}

QImage StretchNearest(const QImage &src, const QRect &from, int dstW, int dstH) {
  QImage out(dstW, dstH, QImage::Format_RGB32);
  for (int y = 0; y < dstH; ++y) {
    const int sy = from.top() + int((int64_t(y) * from.height()) / dstH);
    auto *row = reinterpret_cast<QRgb *>(out.scanLine(y));
    const auto *srow = reinterpret_cast<const QRgb *>(src.constScanLine(sy));
    for (int x = 0; x < dstW; ++x)
      row[x] = srow[from.left() + int((int64_t(x) * from.width()) / dstW)];
  }
  return out;
}

double MeanAbsDiff(const QImage &a, const QImage &b) {
  if (a.size() != b.size() || a.isNull()) return 1e9;
  uint64_t sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    const uint8_t *ra = a.constScanLine(y);
    const uint8_t *rb = b.constScanLine(y);
    for (int x = 0; x < a.width(); ++x)
      for (int c = 0; c < 3; ++c)
        sum += uint64_t(std::abs(int(ra[4 * x + c]) - int(rb[4 * x + c])));
  }
  return double(sum) / (double(a.width()) * a.height() * 3);
}

}  // namespace orvan::test
