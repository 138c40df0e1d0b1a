#include "media/screen_recorder.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <string>
#include <vector>

#include "media/video_decoder.h"
#include "platform/av_handles.h"
#include "tests/media/test_streams.h"
#include "tests/support/test_support.h"

using orvan::media::CScreenRecorder;

namespace {

// A screen of one grey level, at any size and depth.
class GreyScreen : public orvan::IScreenGrabber {
 public:
  GreyScreen(int width, int height, int bitsPerPixel, uint8_t level)
      : m_width(width), m_height(height), m_bits(bitsPerPixel), m_level(level) {}
  bool GrabPicture(orvan::GrabbedPicture &picture) override {
    picture.width = m_width;
    picture.height = m_height;
    picture.bitsPerPixel = m_bits;
    picture.pitchBytes = m_width * m_bits / 8 + 6;  // rows with padding behind them
    picture.bytes.assign(size_t(picture.pitchBytes) * m_height, m_level);
    return true;
  }

 private:
  int m_width, m_height, m_bits;
  uint8_t m_level;
};

struct FileFacts {
  std::vector<int> lumas;          // mean of the centre row of each decoded picture
  int64_t audioBytes = 0;          // the demuxer may split a block into packets
  std::vector<int64_t> pictureMs;  // the pictures' times
};

FileFacts ReadFile(const std::string &path) {
  FileFacts facts;
  AVFormatContext *raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return facts;
  orvan::av::InputFormatContextPtr input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return facts;
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  orvan::av::PacketPtr packet = orvan::av::MakePacket();
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (input->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      facts.audioBytes += packet->size;
    } else {
      if (packet->size > 0)
        facts.pictureMs.push_back(av_rescale_q(
            packet->pts, input->streams[packet->stream_index]->time_base, AVRational{1, 1000}));
      auto frame = orvan::test::MakeFrame(
          packet->flags & AV_PKT_FLAG_KEY ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME,
          std::vector<uint8_t>(packet->data, packet->data + packet->size));
      int32_t w = 0, h = 0;
      if (AVFrame *picture = decoder.Decode(frame.get(), &w, &h, nullptr)) {
        EXPECT_EQ(w, CScreenRecorder::kWidth);
        EXPECT_EQ(h, CScreenRecorder::kHeight);
        const uint8_t *row = picture->data[0] + size_t(h / 2) * picture->linesize[0];
        long sum = 0;
        for (int x = 0; x < w; ++x) sum += row[x];
        facts.lumas.push_back(int(sum / w));
      }
    }
    av_packet_unref(packet.get());
  }
  return facts;
}

}  // namespace

TEST(ScreenRecorder, start_writesTheScreenAsFirstPicture_scaledFromAnySizeAndDepth) {
  orvan::test::TempDir dir;
  for (int bits : {16, 24, 32}) {
    GreyScreen screen(333, 201, bits, 0xFF);  // white, whatever the depth
    CScreenRecorder recorder(&screen, [] { return int64_t{0}; });
    const std::string path = dir.File("white" + std::to_string(bits) + ".avi");
    ASSERT_EQ(recorder.Start(path, 4, 0, orvan::platform::ReplacePolicy::kKeepExisting),
              CScreenRecorder::StartResult::kStarted);
    EXPECT_EQ(recorder.Pictures(), 1u);
    const std::vector<uint8_t> block(8192, 0);
    recorder.AudioBlock(block.data(), uint32_t(block.size()));
    recorder.AudioBlock(block.data(), uint32_t(block.size()));
    EXPECT_EQ(recorder.AudioBlocks(), 2u);
    recorder.Stop();
    const FileFacts facts = ReadFile(path);
    ASSERT_EQ(facts.lumas.size(), 1u) << bits;
    EXPECT_GT(facts.lumas[0], 200) << bits;
    EXPECT_EQ(facts.audioBytes, 2 * 8192) << bits;
  }
}

TEST(ScreenRecorder, withoutAGrab_theFirstPictureIsBlack_andAStartAgainBeginsANewFile) {
  orvan::test::TempDir dir;
  CScreenRecorder recorder(nullptr, [] { return int64_t{0}; });
  const auto keep = orvan::platform::ReplacePolicy::kKeepExisting;
  ASSERT_EQ(recorder.Start(dir.File("a.avi"), 4, 0, keep), CScreenRecorder::StartResult::kStarted);
  const std::vector<uint8_t> block(100, 0);
  recorder.AudioBlock(block.data(), uint32_t(block.size()));
  // A second start finishes the first file and counts from nothing.
  ASSERT_EQ(recorder.Start(dir.File("b.avi"), 0, 0, keep), CScreenRecorder::StartResult::kStarted);
  EXPECT_EQ(recorder.Pictures(), 1u);
  EXPECT_EQ(recorder.AudioBlocks(), 0u);
  recorder.Stop();
  for (const char *name : {"a.avi", "b.avi"}) {
    const FileFacts facts = ReadFile(dir.File(name));
    ASSERT_EQ(facts.lumas.size(), 1u) << name;
    EXPECT_LT(facts.lumas[0], 24) << name;
  }
  EXPECT_EQ(ReadFile(dir.File("a.avi")).audioBytes, 100);
}

TEST(ScreenRecorder, aFileThatCannotBeMade_startsNothing_andLaterBlocksAreNotWritten) {
  orvan::test::TempDir dir;
  GreyScreen screen(720, 480, 32, 0x80);
  CScreenRecorder recorder(&screen);
  EXPECT_EQ(recorder.Start(dir.File("missing/x.avi"), 4, 0,
                           orvan::platform::ReplacePolicy::kKeepExisting),
            CScreenRecorder::StartResult::kFileFailed);
  const std::vector<uint8_t> block(100, 0);
  recorder.AudioBlock(block.data(), uint32_t(block.size()));
  recorder.PictureTime();
  EXPECT_EQ(recorder.Pictures(), 0u);
  EXPECT_EQ(recorder.AudioBlocks(), 0u);
}

TEST(ScreenRecorder, picturesAndSound_keepToTheFilesClock_overAPauseWithoutAudio) {
  orvan::test::TempDir dir;
  GreyScreen screen(720, 480, 32, 0x80);
  int64_t now = 1000;
  CScreenRecorder recorder(&screen, [&now] { return now; });
  const std::string path = dir.File("sync.avi");
  ASSERT_EQ(recorder.Start(path, 4, 0, orvan::platform::ReplacePolicy::kKeepExisting),
            CScreenRecorder::StartResult::kStarted);
  // 62.5 ms blocks as a player hands them over, the first 100 ms in; a
  // picture every 40 ms; then 3 s with pictures but no sound (fast
  // forward), then sound again.
  const std::vector<uint8_t> block(4000, 0x11);
  auto play = [&](int64_t untilMs, bool sound) {
    for (int64_t t = now; now < untilMs; now += 5) {
      if (sound && (now - 100) % 125 < 5 && now >= 100 + 1000) {
        recorder.AudioBlock(block.data(), uint32_t(block.size()));
        recorder.AudioBlock(block.data(), uint32_t(block.size()));
      }
      if ((now - t) % 40 == 0) recorder.PictureTime();
    }
  };
  play(1000 + 4000, true);
  play(1000 + 7000, false);
  play(1000 + 10000, true);
  recorder.Stop();
  EXPECT_EQ(recorder.AudioGaps(), 1u);  // the pause (the lead-in is silence from the start)
  EXPECT_EQ(recorder.AudioAhead(), 0u);
  const FileFacts facts = ReadFile(path);
  // The sound lasts as long as the file's clock ran (to the last block),
  // silence included; the pictures keep to that clock: the last one
  // within a slot of 1/7 s of its time.
  const double audioSeconds = double(facts.audioBytes) / 64000.0;
  EXPECT_NEAR(audioSeconds, 10.0, 0.15);
  ASSERT_FALSE(facts.pictureMs.empty());
  EXPECT_NEAR(double(facts.pictureMs.back()), 10000.0 - 143.0, 200.0);
  for (size_t i = 1; i < facts.pictureMs.size(); ++i)
    EXPECT_GT(facts.pictureMs[i], facts.pictureMs[i - 1]) << "picture " << i;
}
