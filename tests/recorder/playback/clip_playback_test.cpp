#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>

#include "platform/disk_source.h"
#include "recorder/layout/clip_format.h"
#include "recorder/playback/headless_host.h"
#include "recorder/playback/play_file_thread.h"
#include "tests/recorder/playback/playback_fixtures.h"

using namespace orvan;
using namespace orvan::recorder;
using orvan::test::FourViewers;
using orvan::test::ServiceUntil;

namespace {

// Copies entries [first, first + count) of a sample disk into a clip, the
// way the copier lays one out; returns the entries written.
std::vector<IndexEntry> WriteClip(const std::string &diskPath, const std::string &clipPath,
                                  int64_t first, int64_t count, int layout) {
  DiskSource disk;
  EXPECT_EQ(disk.OpenPath(diskPath), DriveOpenStatus::Ok);
  DiskGeometry geometry;
  EXPECT_EQ(ReadGeometry(disk, geometry), GeometryStatus::Ok);
  IndexReader reader;
  EXPECT_TRUE(reader.Start(disk, 0));
  std::vector<IndexEntry> all;
  while (reader.Next() < geometry.playEnd && reader.ReadStep(disk)) {
    for (const IndexEntry &e : reader.Entries()) all.push_back(e);
    EXPECT_TRUE(reader.Resync(disk));
  }
  CClipWriter writer;
  std::string error;
  EXPECT_TRUE(writer.Create(clipPath, platform::ReplacePolicy::kKeepExisting, &error)) << error;
  std::vector<uint8_t> record(kMaxRecordBytes);
  std::vector<IndexEntry> written;
  for (int64_t k = first; k < first + count && k < int64_t(all.size()); ++k) {
    EXPECT_TRUE(ReadDataRecord(disk, geometry, all[k], record.data()));
    EXPECT_TRUE(writer.WriteEntry(all[k], record.data()));
    written.push_back(all[k]);
  }
  EXPECT_TRUE(writer.WriteTrailer(MagicOfLayout(layout), uint32_t(written.size())));
  writer.Close();
  return written;
}

struct ClipCase {
  orvan::test::TempDir dir;
  std::vector<IndexEntry> entries;
  CClipReader clip;

  ClipCase(tools::SampleOptions options, int64_t first, int64_t count, int layout = 0) {
    const std::string disk = orvan::test::SampleImage("clipsrc.img", options);
    entries = WriteClip(disk, dir.File("clip.in"), first, count, layout);
    EXPECT_TRUE(clip.Open(dir.File("clip.in")));
  }
};

tools::SampleOptions Sample(int seconds, tools::SampleOptions::Codec codec) {
  tools::SampleOptions o;
  o.durationSeconds = seconds;
  o.codec = codec;
  o.events = 1;
  return o;
}

// Plays the first picture (which sends the clip's description), forgets
// what the viewers got, then fast-forwards to the end of the clip.
void FastForwardToTheEnd(PlayFileThread &player, FourViewers &viewers) {
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 1; }));
  player.Pause();
  for (auto &v : viewers.v) v.Clear();
  player.Forward();
  ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
  player.Pause();
}

// Entries the player delivered or dropped while waiting for a key picture.
uint64_t HandledEntries(PlayFileThread &player) {
  uint64_t handled = 0;
  for (int ch = 0; ch < 4; ++ch)
    handled += player.Counters(ch).delivered.load() + player.Counters(ch).keyWaitDrops.load();
  return handled;
}

}  // namespace

TEST(PlayFileThread, everyEntryOfTheClipPlays_theLastOneIncluded) {
  ClipCase c(Sample(4, tools::SampleOptions::Codec::Mpeg4), 0, 150);
  ASSERT_EQ(c.entries.size(), 150u);
  HeadlessHost host;
  host.SetAudioChecked(true);
  FourViewers viewers;
  PlayFileThread player(host, &c.clip, viewers.Sinks());
  player.SetPacingEnabled(false);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
  player.Pause();
  EXPECT_EQ(HandledEntries(player), 150u);
  EXPECT_EQ(player.LastPlayedTime(), c.entries.back().time);
  EXPECT_EQ(host.StartLabel(), "Start : " + FormatRecorderTime(int64_t(c.entries.front().time)));
  EXPECT_EQ(host.EndLabel(), "End : " + FormatRecorderTime(int64_t(c.entries.back().time)));
  EXPECT_EQ(host.Layouts(), std::vector<int>{0});
}

TEST(PlayFileThread, fastForwardMpeg4_stopsOnKeyPicturesOnlyAndPlaysNoAudio) {
  ClipCase c(Sample(6, tools::SampleOptions::Codec::Mpeg4), 0, 280);
  size_t keys = 0;
  for (const IndexEntry &e : c.entries) keys += (e.type == 1 || e.type == 18);
  HeadlessHost host;
  host.SetAudioChecked(true);
  FourViewers viewers;
  PlayFileThread player(host, &c.clip, viewers.Sinks());
  ASSERT_NO_FATAL_FAILURE(FastForwardToTheEnd(player, viewers));
  size_t shown = 0;
  for (auto &v : viewers.v) {
    for (const auto &p : v.Pictures()) EXPECT_EQ(p.type, VORN_TESK::FT_IFRAME);
    EXPECT_EQ(v.Count(VORN_TESK::FT_AUDIO), 0u);
    shown += v.Pictures().size();
  }
  EXPECT_GE(shown + 1, keys - 1);  // every key picture after the first entry
  EXPECT_LE(shown, keys);
}

TEST(PlayFileThread, fastForwardMjpeg_showsEvery21stEntry) {
  ClipCase c(Sample(4, tools::SampleOptions::Codec::Mjpeg), 0, 200);
  HeadlessHost host;
  FourViewers viewers;
  PlayFileThread player(host, &c.clip, viewers.Sinks());
  player.SetPacingEnabled(false);
  ASSERT_NO_FATAL_FAILURE(FastForwardToTheEnd(player, viewers));
  // Whatever entry the jump of 21 lands on is shown (pictures; an audio
  // entry goes to its viewer as audio).
  size_t handed = 0;
  for (auto &v : viewers.v)
    for (const auto &t : v.Snapshot()) handed += t.type != VORN_TESK::FT_INFO;
  const size_t remaining = 200 - 1;
  EXPECT_LE(handed, remaining / 21);
  EXPECT_GE(handed + 2, remaining / 21);
}

TEST(PlayFileThread, mjpegWithAudio_isDescribedOnceAsMjpeg) {
  ClipCase c(Sample(4, tools::SampleOptions::Codec::Mjpeg), 0, 200);
  size_t audio = 0;
  for (const IndexEntry &e : c.entries) audio += e.type == kTypeAudio;
  ASSERT_GT(audio, 10u);
  HeadlessHost host;
  host.SetAudioChecked(true);
  FourViewers viewers;
  PlayFileThread player(host, &c.clip, viewers.Sinks());
  player.SetPacingEnabled(false);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
  player.Pause();
  for (auto &v : viewers.v) EXPECT_EQ(v.DescribedCodecs(), std::vector<int32_t>{0});
}

TEST(PlayFileThread, shortClip_isRefusedWithTheAlarmMessage) {
  ClipCase c(Sample(3, tools::SampleOptions::Codec::Mpeg4), 0, 101);  // 2032 bytes
  HeadlessHost host;
  FourViewers viewers;
  PlayFileThread player(host, &c.clip, viewers.Sinks());
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.Finished(); }));
  EXPECT_TRUE(player.Refused());
  EXPECT_EQ(host.Messages(), std::vector<std::string>{"The file too short to play video."});
  EXPECT_EQ(viewers.TotalPictures(), 0u);
}

TEST(PlayFileThread, singleChannelMagic_asksForTheQuadLayout) {
  tools::SampleOptions o = Sample(4, tools::SampleOptions::Codec::Mpeg4);
  o.quad = true;
  ClipCase c(o, 0, 120, 1);
  HeadlessHost host;
  FourViewers viewers;
  PlayFileThread player(host, &c.clip, viewers.Sinks());
  ASSERT_TRUE(ServiceUntil([&] { return !host.Layouts().empty(); }));
  EXPECT_EQ(host.Layouts(), std::vector<int>{1});
  EXPECT_EQ(player.Layout(), 1);
}

TEST(PlayFileThread, playBarJumpToHalf_startsAtEntryHalfAndWaitsForKeyPictures) {
  ClipCase c(Sample(8, tools::SampleOptions::Codec::Mpeg4), 0, 300);
  HeadlessHost host(false, 10, 700, 14);
  FourViewers viewers;
  PlayFileThread player(host, &c.clip, viewers.Sinks());
  player.SetPacingEnabled(false);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 4; }));
  ASSERT_TRUE(player.Pause());
  for (auto &v : viewers.v) v.Clear();
  host.DragKnobTo(10 + 350);
  player.RequestSeek();
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
  player.Pause();
  // No rounding to blocks: the first picture after the jump is the first
  // key picture of its channel at or after entry 150.
  for (int ch = 0; ch < 4; ++ch) {
    const auto pictures = viewers.v[ch].Pictures();
    if (pictures.empty()) continue;
    EXPECT_EQ(pictures.front().type, VORN_TESK::FT_IFRAME);
    EXPECT_GE(pictures.front().seconds, int64_t(c.entries[150].time));
  }
  EXPECT_GT(viewers.TotalPictures(), 0u);
}

TEST(PlayFileThread, pacedPlay_takesHalfTheClockAtTwiceTheSpeed_andPlaysEveryEntry) {
  // The player goes on without its turn's pause after waiting for a
  // picture: the speed is the pacing's, on the clock it is given.
  ClipCase c(Sample(4, tools::SampleOptions::Codec::Mpeg4), 0, 300);
  int64_t clockUs[2] = {};
  for (const int eighths : {8, 16}) {
    HeadlessHost host;
    FourViewers viewers;
    orvan::test::SleepCountingClock clock;
    {
      PlayFileThread player(host, &c.clip, viewers.Sinks());
      player.SetPacingClock(&clock);
      player.SetSpeed(eighths);
      player.Play();
      ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
      player.Pause();
      EXPECT_EQ(HandledEntries(player), c.entries.size()) << "x" << eighths / 8.0;
    }
    clockUs[eighths / 16] = clock.NowUs();
  }
  std::printf("[ figures  ] clip on the clock: %.3f s at x1, %.3f s at x2\n", clockUs[0] / 1e6,
              clockUs[1] / 1e6);
  ASSERT_GT(clockUs[0], 1000000);
  EXPECT_NEAR(double(clockUs[1]) / clockUs[0], 0.5, 0.05);
}
