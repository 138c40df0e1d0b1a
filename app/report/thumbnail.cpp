#include "app/report/thumbnail.h"

#include <QBuffer>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "media/video_decoder.h"
#include "platform/av_handles.h"

namespace orvan::app::report {

QImage DecodeKeyPicture(ByteSource &source, const recorder::DiskGeometry &geometry,
                        const recorder::IndexEntry &entry) {
  if (!recorder::IsKeyPicture(entry.type) || entry.size == 0 ||
      entry.size > recorder::kMaxRecordBytes)
    return {};
  std::vector<uint8_t> record(recorder::kMaxRecordBytes);
  if (!recorder::ReadDataRecord(source, geometry, entry, record.data())) return {};
  const bool mjpeg = recorder::IsMjpegRecord(entry.type);
  const AVCodec *codec = avcodec_find_decoder(mjpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4);
  if (!codec) return {};
  av::CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context || avcodec_open2(context.get(), codec, nullptr) < 0) return {};
  // MPEG-4 key pictures are stored without the sequence header the
  // decoder needs in front of the first one, as the players feed it.
  std::vector<uint8_t> data;
  if (!mjpeg)
    data.assign(std::begin(CVideoDecoderMpeg4::kStreamHeader),
                std::end(CVideoDecoderMpeg4::kStreamHeader));
  data.insert(data.end(), record.begin(), record.begin() + entry.size);
  data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  av::PacketPtr packet = av::MakePacket();
  av::FramePtr frame = av::MakeFrame();
  packet->data = data.data();
  packet->size = int(data.size() - AV_INPUT_BUFFER_PADDING_SIZE);
  if (avcodec_send_packet(context.get(), packet.get()) < 0) return {};
  avcodec_send_packet(context.get(), nullptr);  // the picture held back comes out now
  if (avcodec_receive_frame(context.get(), frame.get()) < 0) return {};
  const int width = frame->width, height = frame->height;
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return {};
  av::SwsContextPtr scaler(sws_getContext(width, height, AVPixelFormat(frame->format), width,
                                          height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr,
                                          nullptr));
  if (!scaler) return {};
  QImage image(width, height, QImage::Format_RGB32);
  uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
  int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
  if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, height, dst, dstStride) != height)
    return {};
  return image;
}

QByteArray ThumbnailJpeg(const QImage &picture) {
  if (picture.isNull()) return {};
  const QImage small = picture.width() > kThumbnailWidth
                           ? picture.scaledToWidth(kThumbnailWidth, Qt::SmoothTransformation)
                           : picture;
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  if (!small.save(&buffer, "JPG", 85)) return {};
  return jpeg;
}

}  // namespace orvan::app::report
