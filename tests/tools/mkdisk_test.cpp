extern "C" {
#include <libavcodec/avcodec.h>
}

#include <map>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/event_list.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

struct Recording {
  DiskGeometry geometry;
  std::vector<IndexEntry> entries;  // the played ones
  std::vector<std::vector<uint8_t>> records;
  CEventList events;
};

Recording Load(const std::string &path) {
  Recording r;
  DiskSource src;
  EXPECT_EQ(src.OpenPath(path), DriveOpenStatus::Ok);
  EXPECT_EQ(ReadGeometry(src, r.geometry), GeometryStatus::Ok);
  IndexReader reader;
  reader.Start(src, 0);
  std::vector<uint8_t> buf(kMaxRecordBytes);
  while (int64_t(r.entries.size()) < r.geometry.playEnd && reader.ReadStep(src)) {
    for (const auto &e : reader.Entries()) {
      if (int64_t(r.entries.size()) >= r.geometry.playEnd) break;
      r.entries.push_back(e);
      EXPECT_TRUE(ReadDataRecord(src, r.geometry, e, buf.data()));
      r.records.emplace_back(buf.begin(), buf.begin() + e.size);
    }
    reader.Resync(src);
  }
  r.events.LoadEvents(src);
  return r;
}

// Decodes the pictures of one channel in order with libavcodec; returns the
// number of pictures that came out at 720 x 480.
int DecodeChannel(const Recording &r, int channel, AVCodecID codecId) {
  const AVCodec *codec = avcodec_find_decoder(codecId);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> ctx(
      avcodec_alloc_context3(codec), [](AVCodecContext *c) { avcodec_free_context(&c); });
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return -1;
  std::unique_ptr<AVPacket, void (*)(AVPacket *)> pkt(av_packet_alloc(),
                                                      [](AVPacket *p) { av_packet_free(&p); });
  std::unique_ptr<AVFrame, void (*)(AVFrame *)> frame(av_frame_alloc(),
                                                      [](AVFrame *f) { av_frame_free(&f); });
  int decoded = 0;
  auto drain = [&] {
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0)
      if (frame->width == 720 && frame->height == 480) ++decoded;
  };
  for (size_t i = 0; i < r.entries.size(); ++i) {
    if (r.entries[i].channel != channel || r.entries[i].type == kTypeAudio) continue;
    pkt->data = const_cast<uint8_t *>(r.records[i].data());
    pkt->size = int(r.records[i].size());
    if (avcodec_send_packet(ctx.get(), pkt.get()) < 0) return -2;
    drain();
  }
  avcodec_send_packet(ctx.get(), nullptr);
  drain();
  return decoded;
}

std::string MakeSample(const test::TempDir &dir, const std::string &name,
                       std::vector<std::string> extra) {
  std::vector<std::string> args{"-o", dir.File(name)};
  args.insert(args.end(), extra.begin(), extra.end());
  const auto r = test::RunTool("orvan-mkdisk", args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return dir.File(name);
}

}  // namespace

TEST(OrvanMkdisk, sameSeed_givesTheSameImage_andAnotherSeedAnother) {
  test::TempDir dir;
  const auto a = test::FileSha256(MakeSample(dir, "a.img", {"--duration", "3", "--seed", "7"}));
  const auto b = test::FileSha256(MakeSample(dir, "b.img", {"--duration", "3", "--seed", "7"}));
  const auto c = test::FileSha256(MakeSample(dir, "c.img", {"--duration", "3", "--seed", "8"}));
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

TEST(OrvanMkdisk, fourChannelMpeg4_decodesEveryPicture_withAudioDelaysAndEvents) {
  test::TempDir dir;
  const Recording r =
      Load(MakeSample(dir, "s.img", {"--duration", "6", "--fps", "5", "--events", "9"}));
  ASSERT_EQ(r.geometry.playEnd, int64_t(r.entries.size()));
  EXPECT_EQ(r.geometry.indexCount, r.geometry.playEnd + 300);
  std::map<int, int> pictures;
  int audio = 0;
  int64_t pictureDelayMs = 0;
  uint32_t lastTime = 0;
  std::set<int> firstSeen;
  for (size_t i = 0; i < r.entries.size(); ++i) {
    const IndexEntry &e = r.entries[i];
    ASSERT_LT(e.channel, 4);
    EXPECT_GE(e.time, lastTime);
    lastTime = e.time;
    // Records lie back to back.
    if (i) {
      EXPECT_EQ(e.offset, r.entries[i - 1].offset + r.entries[i - 1].size);
    }
    if (e.type == kTypeAudio) {
      ++audio;
      EXPECT_EQ(e.size, 4000u);
      continue;
    }
    ASSERT_TRUE(e.type == kTypeKeyPicture || e.type == kTypePicture) << int(e.type);
    if (firstSeen.insert(e.channel).second) {
      EXPECT_EQ(e.type, kTypeKeyPicture);
    }
    EXPECT_LT(RoundedRecordBytes(r.geometry, e), kMaxRecordBytes + 1);
    ++pictures[e.channel];
    pictureDelayMs += e.delayMs;
  }
  EXPECT_EQ(audio, 96);  // 16 blocks of 62.5 ms per second
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(pictures[c], 30);
    EXPECT_EQ(DecodeChannel(r, c, AV_CODEC_ID_MPEG4), 30) << c;
  }
  // The pictures' delays add up to the recording's length.
  EXPECT_NEAR(double(pictureDelayMs), 6000.0, 40.0);
  EXPECT_EQ(r.entries.front().time, 1202982297u);
  EXPECT_EQ(r.entries.back().time, 1202982297u + 5);

  ASSERT_EQ(r.events.Rows().size(), 9u);
  std::set<std::string> kinds;
  for (const auto &row : r.events.Rows()) kinds.insert(row[3]);
  EXPECT_EQ(kinds,
            (std::set<std::string>{"Rec Start", "Power On", "Alarm", "Video Loss", "Motion"}));
}

TEST(OrvanMkdisk, mjpegWithAltTypes_givesType19KeyPicturesThatDecode) {
  test::TempDir dir;
  const Recording r = Load(MakeSample(
      dir, "m.img",
      {"--duration", "2", "--codec", "mjpeg", "--alt-types", "--no-audio", "--fps", "4"}));
  ASSERT_EQ(r.entries.size(), 32u);
  for (const auto &e : r.entries) EXPECT_EQ(e.type, kTypeMjpegKeyAlt);
  EXPECT_EQ(DecodeChannel(r, 3, AV_CODEC_ID_MJPEG), 8);
}

TEST(OrvanMkdisk, quadAltTypes_putsEveryPictureOnChannel0_asTypes18And17) {
  test::TempDir dir;
  const Recording r = Load(MakeSample(
      dir, "q.img", {"--duration", "4", "--quad", "--alt-types", "--key-interval", "5"}));
  int keys = 0, predicted = 0;
  for (const auto &e : r.entries) {
    EXPECT_EQ(e.channel, 0);
    if (e.type == kTypeKeyPictureAlt) ++keys;
    if (e.type == kTypePictureAlt) ++predicted;
  }
  EXPECT_EQ(keys + predicted, 32);
  EXPECT_EQ(keys, 7);  // pictures 0, 5, 10, ... 30
  EXPECT_EQ(DecodeChannel(r, 0, AV_CODEC_ID_MPEG4), 32);

  // A clip of it is marked as one channel.
  const auto out = test::RunTool("orvan-cli", {"export", dir.File("q.img"), "--from", "0", "--to",
                                               "4000000000", "-o", dir.File("q.in"), "--json"});
  ASSERT_EQ(out.exitCode, 0) << out.err;
  EXPECT_NE(out.out.find("\"magic\": \"0x12345678\""), std::string::npos) << out.out;
  const auto clip = test::RunTool("orvan-cli", {"clip", dir.File("q.in"), "--json"});
  EXPECT_NE(clip.out.find("\"layout\": 1"), std::string::npos) << clip.out;
}

TEST(OrvanMkdisk, emptyRecording_hasIndexCount300_andStartEqualsEnd) {
  test::TempDir dir;
  const std::string path = MakeSample(dir, "e.img", {"--duration", "0"});
  const auto r = test::RunTool("orvan-cli", {"info", path, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"indexCount\": 300, \"playEnd\": 0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"start\": \"2008/02/14_09:44:57\", \"end\": \"2008/02/14_09:44:57\""),
            std::string::npos)
      << r.out;
  const auto s = test::RunTool("orvan-cli", {"search", path, "2008-02-14 09:50:00", "--json"});
  EXPECT_NE(s.out.find("\"entry\": 0"), std::string::npos);
}

TEST(OrvanMkdisk, stateSlotAndStartTime_areWhereTheOptionsPutThem) {
  test::TempDir dir;
  const std::string path = MakeSample(dir, "s.img",
                                      {"--duration", "1", "--state-slot", "99", "--start",
                                       "2010-06-01 12:00:00", "--index-mib", "3", "--events", "0"});
  DiskSource src;
  ASSERT_EQ(src.OpenPath(path), DriveOpenStatus::Ok);
  DiskGeometry g;
  DiskStateEntry state;
  ASSERT_EQ(ReadGeometry(src, g, nullptr, &state), GeometryStatus::Ok);
  EXPECT_EQ(state.slot, 99);
  EXPECT_EQ(g.indexAreaMiB, 3u);
  const Recording r = Load(path);
  EXPECT_EQ(FormatRecorderTime(int64_t{r.entries.front().time}), "2010/06/01_12:00:00");
  EXPECT_EQ(r.events.RowCount(), 1u);
}

TEST(OrvanMkdisk, gap_jumpsTheTimeOnce_whereTheOptionsPutIt) {
  test::TempDir dir;
  const Recording r = Load(
      MakeSample(dir, "g.img",
                 {"--duration", "6", "--gap", "90", "--gap-at", "4", "--no-audio", "--fps", "2"}));
  ASSERT_FALSE(r.entries.empty());
  const uint32_t start = r.entries.front().time;
  int jumps = 0;
  for (size_t i = 1; i < r.entries.size(); ++i) {
    const uint32_t step = r.entries[i].time - r.entries[i - 1].time;
    if (step > 10) {
      ++jumps;
      EXPECT_EQ(r.entries[i - 1].time, start + 3);
      EXPECT_EQ(r.entries[i].time, start + 4 + 90);
    }
    EXPECT_LE(step, 91u);
  }
  EXPECT_EQ(jumps, 1);
  EXPECT_EQ(r.entries.back().time, start + 5 + 90);
  EXPECT_NE(test::RunTool("orvan-mkdisk", {"-o", dir.File("x.img"), "--gap", "-5"}).exitCode, 0);
}

TEST(OrvanMkdisk, badOptions_areRefused) {
  test::TempDir dir;
  EXPECT_NE(test::RunTool("orvan-mkdisk", {}).exitCode, 0);
  EXPECT_NE(test::RunTool("orvan-mkdisk", {"-o", dir.File("x.img"), "--fps", "0"}).exitCode, 0);
  EXPECT_NE(test::RunTool("orvan-mkdisk", {"-o", dir.File("x.img"), "--codec", "h264"}).exitCode,
            0);
  EXPECT_NE(
      test::RunTool("orvan-mkdisk", {"-o", dir.File("x.img"), "--state-slot", "100"}).exitCode, 0);
  EXPECT_NE(test::RunTool("orvan-mkdisk", {"-o", "/dev/null", "--duration", "1"}).exitCode, 0);
}
