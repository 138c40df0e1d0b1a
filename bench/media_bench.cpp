// Prints decode + convert speed of the media layer next to a bare libavcodec
// decode of the same frames, for MPEG-4 and MJPEG, and the MPEG-4 screen
// encoder's speed. Figures only; nothing is asserted.
//
//   media_bench [pictures]   (default 140)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/picture_conversion.h"
#include "media/video_decoder.h"
#include "platform/mpeg4_encoder.h"
#include "tests/media/memory_surface.h"
#include "tests/media/test_streams.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The plainest use of libavcodec: one context, one reused picture, the
// packets already padded in memory.
double BareDecode(const char *name, const std::vector<orvan::test::CodedPicture> &stream,
                  int &pictures) {
  std::vector<std::vector<uint8_t>> padded;
  for (const auto &p : stream) {
    padded.emplace_back(p.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded.back().data(), p.bytes.data(), p.bytes.size());
  }
  orvan::av::CodecContextPtr context(avcodec_alloc_context3(nullptr));
  avcodec_open2(context.get(), avcodec_find_decoder_by_name(name), nullptr);
  orvan::av::PacketPtr packet = orvan::av::MakePacket();
  orvan::av::FramePtr picture = orvan::av::MakeFrame();
  const auto start = Clock::now();
  pictures = 0;
  for (size_t i = 0; i < stream.size(); ++i) {
    packet->data = padded[i].data();
    packet->size = int(stream[i].bytes.size());
    avcodec_send_packet(context.get(), packet.get());
    while (avcodec_receive_frame(context.get(), picture.get()) == 0) {
      ++pictures;
      av_frame_unref(picture.get());
    }
  }
  return Seconds(start);
}

double OurDecode(int code, const std::vector<orvan::test::CodedPicture> &stream, bool convert,
                 bool halfSize, int &pictures) {
  std::vector<orvan::test::FramePtr> frames;
  for (const auto &p : stream) frames.push_back(orvan::test::MakeFrame(p));
  CVideoDecoderMpeg4 decoder(code);
  CPictureConverter converter;
  orvan::test::MemorySurface surface(orvan::media::kPixBgr32, 32, 720 * 4, 480);
  const auto start = Clock::now();
  pictures = 0;
  for (const auto &frame : frames) {
    int32_t w = 0, h = 0;
    uint8_t format = 0;
    AVFrame *picture = decoder.Decode(frame.get(), &w, &h, &format);
    if (!picture) continue;
    if (convert && !converter.Draw(surface, picture, format, w, h, halfSize)) continue;
    ++pictures;
  }
  return Seconds(start);
}

void Report(const char *label, int code, const char *name,
            const std::vector<orvan::test::CodedPicture> &stream) {
  int bare = 0, decodeOnly = 0, full = 0, half = 0;
  // A warm-up pass so code and tables are in cache.
  BareDecode(name, stream, bare);
  OurDecode(code, stream, true, false, full);
  const double tBare = BareDecode(name, stream, bare);
  const double tDecode = OurDecode(code, stream, false, false, decodeOnly);
  const double tFull = OurDecode(code, stream, true, false, full);
  const double tHalf = OurDecode(code, stream, true, true, half);
  const double fpsBare = bare / tBare, fpsDecode = decodeOnly / tDecode;
  const double fpsFull = full / tFull, fpsHalf = half / tHalf;
  std::printf(
      "%-22s bare libavcodec %7.1f pictures/s | decoder %7.1f (%.2fx) | "
      "decode+convert full %7.1f (%.2fx) | half %7.1f (%.2fx)\n",
      label, fpsBare, fpsDecode, fpsDecode / fpsBare, fpsFull, fpsFull / fpsBare, fpsHalf,
      fpsHalf / fpsBare);
}

}  // namespace

int main(int argc, char **argv) {
  const int count = argc > 1 ? std::max(14, std::atoi(argv[1])) : 140;
  std::printf("720 x 480, %d pictures per stream, one thread\n", count);
  Report("MPEG-4 (key every 7)", kCodecMpeg4, "mpeg4",
         orvan::test::EncodeStream("mpeg4", AV_PIX_FMT_YUV420P, 720, 480, count, 7));
  Report("MJPEG 4:2:0", kCodecMjpeg, "mjpeg",
         orvan::test::EncodeStream("mjpeg", AV_PIX_FMT_YUVJ420P, 720, 480, count, 1));
  Report("MJPEG 4:2:2", kCodecMjpeg, "mjpeg",
         orvan::test::EncodeStream("mjpeg", AV_PIX_FMT_YUVJ422P, 720, 480, count, 1));

  // The screen encoder must keep up with 7 pictures a second.
  orvan::platform::Mpeg4Encoder encoder;
  encoder.InitEncoder();
  std::vector<uint8_t> bgr(720 * 480 * 3), out(encoder.MaxCodedBytes());
  const int encodes = std::min(count, 70);
  const auto start = Clock::now();
  for (int i = 0; i < encodes; ++i) {
    for (size_t k = 0; k < bgr.size(); ++k) bgr[k] = uint8_t(k * 7 + i * 3 + (k / 2160));
    int size = 0, kind = 0;
    encoder.Encode(bgr.data(), bgr.size(), out.data(), out.size(), &size, &kind);
  }
  std::printf("MPEG-4 screen encoder   %7.1f pictures/s (needs 7.5)\n", encodes / Seconds(start));
  return 0;
}
