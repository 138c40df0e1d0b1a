#include "media/avi_writer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "media/video_decoder.h"
#include "platform/disk_source.h"
#include "platform/mpeg4_encoder.h"
#include "platform/output_file.h"
#include "tests/media/test_streams.h"
#include "tests/support/test_support.h"

using orvan::platform::Mpeg4Encoder;

namespace {

// Files this process writes may not grow beyond `bytes` while it lives: a
// disk that fills up, for real writes.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_oldHandler);
  }

 private:
  rlimit m_old{};
  sighandler_t m_oldHandler;
};

struct Message {
  std::string text, caption;
};

// Collects the messages a writer shows.
struct Messages {
  std::vector<Message> shown;
  CAviWriter::MessageHandler Handler() {
    return [this](const std::string &text, const std::string &caption) {
      shown.push_back({text, caption});
    };
  }
};

// A screen-like picture, 3 bytes a pixel (B, G, R), that changes over time.
std::vector<uint8_t> ScreenPicture(int width, int height, int index) {
  std::vector<uint8_t> bgr(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t *p = &bgr[(size_t(y) * width + x) * 3];
      p[0] = uint8_t(x + index * 5);
      p[1] = uint8_t(y * 2);
      p[2] = uint8_t((x / 40 + y / 40 + index) % 2 ? 200 : 40);
    }
  return bgr;
}

struct Recorded {
  std::vector<int> kinds;  // frame kinds the encoder gave, in order
  int pictures = 0;
  uint32_t audioBytes = 0;
};

// Records `seconds` of pictures (7 a second) and audio (8000-byte records,
// 8 a second) through a writer, interleaved as a playback thread would.
Recorded RecordSeconds(CAviWriter &writer, int seconds) {
  Recorded out;
  Mpeg4Encoder encoder;
  int32_t scratch = 0;
  encoder.EncoderControl(Mpeg4Encoder::kControlQuery, &scratch);
  int32_t size = 720 * 4096 + 480;
  EXPECT_EQ(size, 0x002D01E0);
  EXPECT_EQ(encoder.EncoderControl(Mpeg4Encoder::kControlSetSize, &size), 0);
  EXPECT_EQ(encoder.InitEncoder(), 0);
  std::vector<uint8_t> coded(encoder.MaxCodedBytes());
  const std::vector<uint8_t> audio(8000, 0x11);
  int64_t audioPosition = 0;
  for (int i = 0; i < seconds * 56; ++i) {
    if (i % 7 == 0) {
      EXPECT_EQ(writer.WriteSample(CAviWriter::kAudio, audioPosition++, audio.data(),
                                   uint32_t(audio.size())),
                1);
      out.audioBytes += uint32_t(audio.size());
    }
    if (i % 8 == 0) {
      const auto picture = ScreenPicture(720, 480, out.pictures);
      int codedBytes = 0, kind = -1;
      EXPECT_EQ(encoder.Encode(picture.data(), picture.size(), coded.data(), coded.size(),
                               &codedBytes, &kind),
                0);
      EXPECT_EQ(writer.WriteSample(CAviWriter::kVideo, out.pictures, coded.data(),
                                   uint32_t(codedBytes), kind),
                1);
      out.kinds.push_back(kind);
      ++out.pictures;
    }
  }
  encoder.CleanupEncoder();
  return out;
}

std::string RunCommand(const std::string &command) {
  std::string output;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  if (pclose(pipe) != 0) output += "\n<exit status non-zero>";
  return output;
}

bool HaveTool(const char *name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

TEST(AviWriterFile, secondsOfPicturesAndAudio_openWithTheStatedStreams_andMatchingDurations) {
  orvan::test::TempDir dir;
  const std::string path = dir.File("record.avi");
  Messages messages;
  Recorded recorded;
  {
    CAviWriter writer(messages.Handler());
    ASSERT_TRUE(writer.OpenFile(path, 720, -480, 1, 4));
    recorded = RecordSeconds(writer, 3);
    EXPECT_TRUE(writer.CloseFile());
  }
  EXPECT_TRUE(messages.shown.empty());
  ASSERT_EQ(recorded.pictures, 21);
  ASSERT_EQ(recorded.audioBytes, 3u * 64000u);

  AVFormatContext *raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0);
  orvan::av::InputFormatContextPtr input(raw);
  ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 2u);
  EXPECT_STREQ(input->iformat->name, "avi");

  const AVStream *video = input->streams[0];
  const AVStream *audio = input->streams[1];
  ASSERT_EQ(video->codecpar->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(video->codecpar->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(video->codecpar->codec_tag, MKTAG('D', 'I', 'V', 'X'));
  EXPECT_EQ(video->codecpar->width, 720);
  EXPECT_EQ(video->codecpar->height, 480);  // the negative height as its absolute value
  EXPECT_EQ(av_q2d(video->avg_frame_rate), 7.0);
  ASSERT_EQ(audio->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(audio->codecpar->codec_id, AV_CODEC_ID_PCM_S16LE);
  EXPECT_EQ(audio->codecpar->sample_rate, 16000);
  EXPECT_EQ(audio->codecpar->ch_layout.nb_channels, 2);
  EXPECT_EQ(audio->codecpar->block_align, 4);
  const double videoSeconds = video->duration * av_q2d(video->time_base);
  EXPECT_NEAR(videoSeconds, 3.0, 1e-6);

  // Every video packet is there, in order, flagged key exactly where the
  // encoder said kind 0; and the pictures decode.
  orvan::av::PacketPtr packet = orvan::av::MakePacket();
  std::vector<bool> keys;
  uint32_t audioBytes = 0;
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  int decoded = 0;
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == video->index) {
      keys.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
      auto frame =
          orvan::test::MakeFrame(keys.back() ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME,
                                 std::vector<uint8_t>(packet->data, packet->data + packet->size));
      int32_t w = 0, h = 0;
      if (decoder.Decode(frame.get(), &w, &h, nullptr)) {
        ++decoded;
        EXPECT_EQ(w, 720);
        EXPECT_EQ(h, 480);
      }
    } else {
      audioBytes += uint32_t(packet->size);
    }
    av_packet_unref(packet.get());
  }
  ASSERT_EQ(keys.size(), recorded.kinds.size());
  int sinceKey = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i], recorded.kinds[i] == 0) << "picture " << i;
    sinceKey = recorded.kinds[i] == 0 ? 0 : sinceKey + 1;
    EXPECT_LT(sinceKey, 7) << "picture " << i;
  }
  EXPECT_EQ(recorded.kinds[0], 0);
  EXPECT_EQ(decoded, recorded.pictures);
  EXPECT_EQ(audioBytes, recorded.audioBytes);
  // The AVI reader gives no duration for PCM next to video; the audio's
  // length is its bytes at 64000 a second.
  EXPECT_NEAR(audioBytes / 64000.0, videoSeconds, 1e-6);
}

TEST(AviWriterFile, ffprobeAndFfmpegReadTheFile) {
  if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) GTEST_SKIP() << "no ffprobe/ffmpeg";
  orvan::test::TempDir dir;
  const std::string path = dir.File("probe.avi");
  {
    Messages messages;
    CAviWriter writer(messages.Handler());
    ASSERT_TRUE(writer.OpenFile(path, 720, 480));
    RecordSeconds(writer, 2);
    writer.CloseFile();
  }
  const std::string probe = RunCommand(
      "ffprobe -v error -show_entries "
      "stream=codec_name,codec_tag_string,width,height,r_frame_rate,sample_rate,channels,"
      "duration -of default=noprint_wrappers=1 '" +
      path + "' 2>&1");
  EXPECT_NE(probe.find("codec_name=mpeg4"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_tag_string=DIVX"), std::string::npos) << probe;
  EXPECT_NE(probe.find("width=720"), std::string::npos) << probe;
  EXPECT_NE(probe.find("height=480"), std::string::npos) << probe;
  EXPECT_NE(probe.find("r_frame_rate=7/1"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=pcm_s16le"), std::string::npos) << probe;
  EXPECT_NE(probe.find("sample_rate=16000"), std::string::npos) << probe;
  EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;
  EXPECT_NE(probe.find("duration=2.000000"), std::string::npos) << probe;  // the video
  // The audio lasts as long: its packets hold 2 s of 64000 bytes.
  const std::string sizes = RunCommand(
      "ffprobe -v error -select_streams a -show_entries "
      "packet=size -of csv=p=0 '" +
      path + "' 2>&1");
  long total = 0;
  for (size_t at = 0; at < sizes.size();) {
    total += std::strtol(sizes.c_str() + at, nullptr, 10);
    at = sizes.find('\n', at);
    if (at == std::string::npos) break;
    ++at;
  }
  EXPECT_EQ(total, 2 * 64000) << sizes;
  EXPECT_EQ(probe.find("rror"), std::string::npos) << probe;

  // A full decode of both streams meets no error.
  const std::string decode = RunCommand("ffmpeg -v error -xerror -i '" + path + "' -f null - 2>&1");
  EXPECT_TRUE(decode.empty()) << decode;
}

TEST(AviWriterFailures, pathInMissingFolder_showsCreateErrorOnce_andWritesNoFile) {
  orvan::test::TempDir dir;
  const std::string path = dir.File("no-such-folder/record.avi");
  Messages messages;
  CAviWriter writer(messages.Handler());
  EXPECT_FALSE(writer.OpenFile(path, 720, 480));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "AVIFileOpen[Create] Error");
  EXPECT_EQ(messages.shown[0].caption, "Warning");
  EXPECT_TRUE(writer.Failed());
  const uint8_t bytes[16] = {};
  EXPECT_EQ(writer.WriteSample(CAviWriter::kAudio, 0, bytes, sizeof bytes), 0);
  EXPECT_EQ(writer.WriteSample(CAviWriter::kVideo, 0, bytes, sizeof bytes, 0), 0);
  EXPECT_EQ(messages.shown.size(), 1u);
  EXPECT_TRUE(writer.CloseFile());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(AviWriterFailures, failedAudioWrite_showsPBFrameErrorOnce_andLeavesNoFile) {
  orvan::test::TempDir dir;
  const std::string path = dir.File("full.avi");
  Messages messages;
  CAviWriter writer(messages.Handler());
  {
    FileSizeLimit full(200000);
    ASSERT_TRUE(writer.OpenFile(path, 720, 480));
    const std::vector<uint8_t> audio(8000, 1);
    int accepted = 0;
    while (accepted < 1000 &&
           writer.WriteSample(CAviWriter::kAudio, accepted, audio.data(), 8000) == 1)
      ++accepted;
    ASSERT_LT(accepted, 1000);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "AVIStreamWrite[P,B-frame] Error");
    EXPECT_EQ(messages.shown[0].caption, "Warning");
    EXPECT_EQ(writer.WriteSample(CAviWriter::kVideo, 0, audio.data(), 100, 0), 0);
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(writer.LastResult(), 0);
    EXPECT_FALSE(writer.CloseFile());
  }
  // Half a file never appears under the name, and no second message.
  EXPECT_EQ(messages.shown.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(AviWriterFailures, failedKeyPictureWrite_showsIFrameError) {
  orvan::test::TempDir dir;
  Messages messages;
  CAviWriter writer(messages.Handler());
  FileSizeLimit full(200000);
  ASSERT_TRUE(writer.OpenFile(dir.File("full.avi"), 720, 480));
  const std::vector<uint8_t> picture(40000, 1);
  int accepted = 0;
  while (accepted < 1000 &&
         writer.WriteSample(CAviWriter::kVideo, accepted, picture.data(), 40000, 0) == 1)
    ++accepted;
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "AVIStreamWrite[I-frame] Error");
  writer.CloseFile();
}

TEST(AviWriterFailures, sourceOrDevice_isRefusedWithAMessageNamingIt) {
  orvan::test::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::vector<uint8_t> bytes(4096, 7);
  FILE *f = std::fopen(image.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  orvan::DiskSource disk;
  ASSERT_EQ(disk.OpenPath(image), orvan::DriveOpenStatus::Ok);
  Messages messages;
  CAviWriter writer(messages.Handler());
  EXPECT_FALSE(
      writer.OpenFile(image, 720, 480, 0, 0, orvan::platform::ReplacePolicy::kReplaceExisting));
  EXPECT_FALSE(writer.OpenFile("/dev/null", 720, 480));
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text,
            "refusing to write " + image + ": it is the source being read (" + image + ")");
  EXPECT_EQ(messages.shown[1].text, "refusing to write /dev/null: it is a device");
  EXPECT_EQ(std::filesystem::file_size(image), 4096u);
}

TEST(AviWriterFailures, zeroPictureSize_showsVideoFormatError_andCloseReleasesWhatExists) {
  orvan::test::TempDir dir;
  Messages messages;
  CAviWriter writer(messages.Handler());
  EXPECT_FALSE(writer.OpenFile(dir.File("zero.avi"), 0, 480));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "AVIStreamSetFormat[Video] Error");
  EXPECT_TRUE(writer.CloseFile());
  EXPECT_TRUE(writer.CloseFile());
}

TEST(AviWriterMessages, defaultHandler_isUsedByWritersMadeAfterwards) {
  std::vector<Message> seen;
  CAviWriter::SetDefaultMessageHandler([&](const std::string &text, const std::string &caption) {
    seen.push_back({text, caption});
  });
  {
    orvan::test::TempDir dir;
    CAviWriter writer;
    EXPECT_FALSE(writer.OpenFile(dir.File("missing/x.avi"), 720, 480));
  }
  CAviWriter::SetDefaultMessageHandler(nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "AVIFileOpen[Create] Error");
}

TEST(Mpeg4Encoder, keyPictureAtLeastEvery7_andRefusesBadCalls) {
  Mpeg4Encoder encoder;
  std::vector<uint8_t> out(encoder.MaxCodedBytes());
  const auto picture = ScreenPicture(720, 480, 0);
  int size = -1, kind = -1;
  // Not initialised yet.
  EXPECT_NE(encoder.Encode(picture.data(), picture.size(), out.data(), out.size(), &size, &kind),
            0);
  int32_t bad = 7 * 4096 + 3;
  EXPECT_NE(encoder.EncoderControl(Mpeg4Encoder::kControlSetSize, &bad), 0);
  EXPECT_NE(encoder.EncoderControl(9, &bad), 0);
  ASSERT_EQ(encoder.InitEncoder(), 0);
  EXPECT_EQ(encoder.Width(), 720);
  EXPECT_EQ(encoder.Height(), 480);
  // Too little input, or too little room for the coded picture.
  EXPECT_NE(
      encoder.Encode(picture.data(), picture.size() - 1, out.data(), out.size(), &size, &kind), 0);
  EXPECT_NE(encoder.Encode(picture.data(), picture.size(), out.data(), 10, &size, &kind), 0);

  ASSERT_EQ(encoder.InitEncoder(), 0);
  int sinceKey = 0;
  for (int i = 0; i < 22; ++i) {
    const auto p = ScreenPicture(720, 480, i);
    ASSERT_EQ(encoder.Encode(p.data(), p.size(), out.data(), out.size(), &size, &kind), 0);
    EXPECT_GT(size, 0);
    if (i == 0) {
      EXPECT_EQ(kind, 0);
    }
    sinceKey = kind == 0 ? 0 : sinceKey + 1;
    EXPECT_LT(sinceKey, 7);
  }
}

TEST(Mpeg4Encoder, packFourToThreeBytes_keepsBlueGreenRedInOrder) {
  std::vector<uint8_t> pixels = {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99};
  orvan::platform::PackFourToThreeBytes(pixels.data(), 4);
  const std::vector<uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), pixels.begin()));
}

TEST(AviWriterInterface, streamNumbers_zeroIsVideo_oneIsAudio) {
  EXPECT_EQ(int(CAviWriter::kVideo), 0);
  EXPECT_EQ(int(CAviWriter::kAudio), 1);
  orvan::test::TempDir dir;
  Messages messages;
  CAviWriter writer(messages.Handler());
  ASSERT_TRUE(writer.OpenFile(dir.File("n.avi"), 720, 480));
  const uint8_t bytes[8] = {};
  EXPECT_EQ(writer.WriteSample(2, 0, bytes, 8), 0);
  EXPECT_FALSE(writer.Failed());
  EXPECT_EQ(writer.WriteSample(1, 0, bytes, 8, -1), 1);
  EXPECT_TRUE(messages.shown.empty());
}

TEST(Mpeg4Encoder, libraryCalls_encodeDecodablePictures_keyFirst) {
  using namespace orvan::platform;
  int32_t scratch = 0;
  XVID_EncoderControl(0, &scratch);
  int32_t size = 0x002D01E0;
  ASSERT_EQ(XVID_EncoderControl(1, &size), 0);
  ASSERT_EQ(XVID_InitEncoder(), 0);
  std::vector<uint8_t> output(1036800);
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  for (int i = 0; i < 8; ++i) {
    const auto picture = ScreenPicture(720, 480, i);
    int coded = 0, kind = -1;
    ASSERT_EQ(XVID_Encode(picture.data(), output.data(), &coded, &kind), 0);
    if (i == 0 || i == 7) {
      EXPECT_EQ(kind, 0) << i;
    } else {
      EXPECT_NE(kind, 0) << i;
    }
    auto frame =
        orvan::test::MakeFrame(kind == 0 ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME,
                               std::vector<uint8_t>(output.begin(), output.begin() + coded));
    int32_t w = 0, h = 0;
    EXPECT_NE(decoder.Decode(frame.get(), &w, &h, nullptr), nullptr) << i;
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 480);
  }
  XVID_CleanupEncoder();
  int coded = 0, kind = 0;
  const auto picture = ScreenPicture(720, 480, 0);
  EXPECT_NE(XVID_Encode(picture.data(), output.data(), &coded, &kind), 0);  // cleaned up
}
