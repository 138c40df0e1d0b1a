#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/av_handles.h"
#include "platform/disk_source.h"
#include "recorder/layout/clip_format.h"
#include "recorder/playback/headless_host.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/recorder/image_helpers.h"
#include "tests/recorder/playback/playback_fixtures.h"
#include "tests/support/faulty_source.h"

using namespace orvan;
using namespace orvan::recorder;
using orvan::test::FourViewers;
using orvan::test::ServiceUntil;

namespace {

tools::SampleOptions FourChannels(int seconds) {
  tools::SampleOptions o;
  o.durationSeconds = seconds;
  o.fps = 8;
  o.events = 2;
  return o;
}

struct OpenDisk {
  explicit OpenDisk(const std::string &path) {
    EXPECT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok);
  }
  DiskSource disk;
};

// A disk image opened read-only with a player on it, four viewers and a
// headless host.
struct DiskPlay {
  // The player reads the disk's state and span on its own thread first.
  explicit DiskPlay(const std::string &path, IScreenGrabber *screen = nullptr)
      : d(path), player(host, &d.disk, viewers.Sinks(), 0, screen) {
    ServiceUntil([this] {
      return player.Finished() ||
             (player.DiskChecked() && (!player.DiskValid() || !host.StartLabel().empty()));
    });
  }
  OpenDisk d;
  HeadlessHost host;
  FourViewers viewers;
  PlayHDDThread player;
};

// An image written entry by entry, for the exact rules.
std::string PatternImage(orvan::test::TempDir &dir, const std::string &name,
                         const std::function<void(tools::RecorderImage &)> &fill) {
  tools::RecorderImage image;
  fill(image);
  std::string error;
  const std::string path = dir.File(name);
  EXPECT_TRUE(tools::WriteRecorderImage(path, image, &error)) << error;
  return path;
}

}  // namespace

TEST(PlayHDDThread, construction_readsTheSpanAndWaitsPausedUntilPlay) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("span.img", FourChannels(3), &summary);
  ASSERT_FALSE(path.empty());
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  EXPECT_TRUE(player.DiskValid());
  EXPECT_EQ(host.StartLabel(), "Start : " + FormatRecorderTime(int64_t(summary.firstTime)));
  EXPECT_EQ(host.EndLabel().rfind("End : ", 0), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(viewers.TotalPictures(), 0u);  // nothing before Play()
  EXPECT_FALSE(player.Playing());
}

TEST(PlayHDDThread, playingEveryChannel_startsEachWithAKeyPictureAndQueuesAudio) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("all.img", FourChannels(3), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  host.SetAudioChecked(true);
  player.SetPacingEnabled(false);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
  ASSERT_TRUE(player.Pause());
  for (int ch = 0; ch < 4; ++ch) {
    const auto pictures = viewers.v[ch].Pictures();
    ASSERT_FALSE(pictures.empty()) << ch;
    EXPECT_EQ(pictures.front().type, VORN_TESK::FT_IFRAME) << ch;
    // The description comes first, before any picture.
    EXPECT_EQ(viewers.v[ch].Snapshot().front().type, VORN_TESK::FT_INFO);
  }
  EXPECT_EQ(viewers.TotalPictures(), size_t(summary.pictures));
  // The last index sector is played whole: it may add some of the silent
  // tail blocks behind the recording.
  EXPECT_GE(player.AudioBlocksQueued(), uint64_t(summary.audioBlocks));
  EXPECT_LE(player.AudioBlocksQueued(), uint64_t(summary.audioBlocks) + 26);
  EXPECT_EQ(host.Layouts(), std::vector<int>{0});  // four channels: decided once, 0
}

TEST(PlayHDDThread, mjpegWithAudio_isDescribedOnceAsMjpeg_audioBlocksChangeNothing) {
  tools::SampleOptions options = FourChannels(3);
  options.codec = tools::SampleOptions::Codec::Mjpeg;
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("mjpeg-audio.img", options, &summary);
  ASSERT_GT(summary.audioBlocks, 10);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  host.SetAudioChecked(true);
  player.SetPacingEnabled(false);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
  ASSERT_TRUE(player.Pause());
  EXPECT_GE(player.AudioBlocksQueued(), uint64_t(summary.audioBlocks));
  for (int ch = 0; ch < 4; ++ch) {
    // One description, the pictures' own; the audio blocks in between do
    // not describe the video.
    EXPECT_EQ(viewers.v[ch].DescribedCodecs(), std::vector<int32_t>{0}) << ch;
    EXPECT_FALSE(viewers.v[ch].Pictures().empty()) << ch;
  }
}

TEST(PlayHDDThread, pacedPlay_followsTheRecordedDelays) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("paced.img", FourChannels(4), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  const auto start = std::chrono::steady_clock::now();
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.LastPlayedTime() >= summary.firstTime + 3; }));
  const double wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  player.Pause();
  const int64_t played = int64_t(player.LastPlayedTime()) - int64_t(player.FirstPlayedTime());
  // Reported, not asserted to the millisecond: the recorder's seconds are
  // whole, so 3 recorded seconds take between 2 and 4 seconds of wall time.
  std::printf("[ figures  ] paced play: %lld recorder seconds in %.2f s of wall time\n",
              (long long)played, wallSeconds);
  EXPECT_GE(wallSeconds, 1.5);
}

namespace {

// The payloads of the recording's audio entries, in index order.
std::vector<uint8_t> RecordedPcm(const std::string &path) {
  DiskSource disk;
  EXPECT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok);
  DiskGeometry geometry;
  EXPECT_EQ(ReadGeometry(disk, geometry), GeometryStatus::Ok);
  IndexReader reader;
  EXPECT_TRUE(reader.Start(disk, 0));
  std::vector<uint8_t> pcm, record(kMaxRecordBytes);
  while (reader.Next() < geometry.playEnd && reader.ReadStep(disk)) {
    for (const IndexEntry &e : reader.Entries())
      if (e.type == kTypeAudio && ReadDataRecord(disk, geometry, e, record.data()))
        pcm.insert(pcm.end(), record.begin(), record.begin() + e.size);
    EXPECT_TRUE(reader.Resync(disk));
  }
  return pcm;
}

}  // namespace

TEST(PlayHDDThread, audioThroughTheDiskDriver_isTheRecordedPcmWithoutAGap) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("sound.img", FourChannels(4), &summary);
  const std::vector<uint8_t> recorded = RecordedPcm(path);
  const size_t firstBlock = 4000;  // the sample's blocks: 62.5 ms each
  ASSERT_GT(recorded.size(), 40 * firstBlock);
  orvan::test::TempDir dir;
  const std::string played = dir.File("played.raw");
  // The driver takes a 64 ms buffer every 68 ms, a little slower than the
  // recording, so a player that is late now and then on a loaded machine
  // finds more than the prefill queued; an output started on the first
  // block would still take its first buffer before the second block came.
  const std::string oldDriver =
      std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", played.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "68", 1);
  uint32_t underruns = 0;
  {
    DiskPlay rig(path);
    auto &[d, host, viewers, player] = rig;
    host.SetAudioChecked(true);
    player.Play();
    ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }, 120000));
    ASSERT_TRUE(ServiceUntil([&] { return !player.AudioPending(); }, 120000));
    underruns = player.AudioUnderruns();
  }  // the player closes the device, and with it the file
  setenv("SDL_AUDIODRIVER", oldDriver.c_str(), 1);
  unsetenv("SDL_DISKAUDIOFILE");
  unsetenv("SDL_DISKAUDIODELAY");

  const std::vector<uint8_t> out = orvan::test::ReadFileBytes(played);
  // Silence until the output starts, then the recording, sample for
  // sample, from its first block to its end.
  const auto start =
      std::search(out.begin(), out.end(), recorded.begin(), recorded.begin() + firstBlock);
  ASSERT_NE(start, out.end()) << "the first block was never played";
  const size_t at = size_t(start - out.begin());
  ASSERT_GE(out.size() - at, recorded.size());
  size_t same = 0;
  while (same < recorded.size() && out[at + same] == recorded[same]) ++same;
  EXPECT_EQ(same, recorded.size())
      << "a gap after " << same << " bytes (" << double(same) / 64000.0 << " s)";
  EXPECT_EQ(underruns, 0u);
}

TEST(PlayHDDThread, layoutDecision_oneChannelAfterElevenEntries_twoChannelsAtTheSecond) {
  orvan::test::TempDir dir;
  const std::string single = PatternImage(dir, "single.img", [](tools::RecorderImage &im) {
    orvan::test::AddPatternEntries(im, 40, 1202982297, 10, 100, 1);
  });
  const std::string alternating = PatternImage(dir, "alt.img", [](tools::RecorderImage &im) {
    orvan::test::AddPatternEntries(im, 40, 1202982297, 10, 100, 2);
  });
  for (const auto &[path, expected] : {std::pair{single, 1}, std::pair{alternating, 0}}) {
    DiskPlay rig(path);
    auto &[d, host, viewers, player] = rig;
    player.SetPacingEnabled(false);
    player.Play();
    ASSERT_TRUE(
        ServiceUntil([&] { return player.LayoutDecision() >= 0 && !host.Layouts().empty(); }));
    player.Pause();
    EXPECT_EQ(host.Layouts(), std::vector<int>{expected}) << path;
  }
}

TEST(PlayHDDThread, searchTime_jumpsToTheBlockAndWaitsForKeyPicturesOnEveryChannel) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("search.img", FourChannels(40), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  host.SetAudioChecked(true);
  player.SetPacingEnabled(false);
  ASSERT_TRUE(player.Pause());
  const uint32_t target = summary.firstTime + 30;
  const int64_t entry = player.SearchTime(target);
  ASSERT_GE(entry, 512);
  EXPECT_EQ(entry % 512, 0);
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 40; }));
  player.Pause();
  EXPECT_GE(player.FirstPlayedTime(), summary.firstTime + 20);  // nothing from the start
  EXPECT_LE(player.FirstPlayedTime(), target);
  // Audio of channels still waiting for a key picture is not held back from
  // the sound device.
  EXPECT_GT(player.AudioBlocksQueued(), 0u);
  for (int ch = 0; ch < 4; ++ch) {
    const auto pictures = viewers.v[ch].Pictures();
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures.front().type, VORN_TESK::FT_IFRAME) << ch;
  }
}

// A search after SkipBefore lands on its time: what lies before it in the
// index block is handed over for decoding only, each channel from its key
// picture on, and every channel's first picture shown is its first at or
// after the time, whether or not it is a key picture.
TEST(PlayHDDThread, searchAfterSkipBefore_showsTheFirstPictureAtTheTime_decodingFromTheKey) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("skip.img", FourChannels(40), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  player.SetPacingEnabled(false);
  ASSERT_TRUE(player.Pause());
  // Not on a key picture's second: key pictures come every two seconds.
  const uint32_t target = summary.firstTime + 31;
  player.SkipBefore(target);
  ASSERT_GE(player.SearchTime(target), 512);
  ASSERT_TRUE(ServiceUntil([&] {
    for (auto &v : viewers.v)
      if (v.Pictures().empty()) return false;
    return true;
  }));
  player.Pause();
  EXPECT_EQ(player.FirstPlayedTime(), target);
  for (int ch = 0; ch < 4; ++ch) {
    bool shownOne = false, keyFirst = false, decodedBefore = false;
    for (const auto &t : viewers.v[ch].Snapshot()) {
      const uint32_t kind = VORN_TESK::FrameKind(t.type);
      if (kind != VORN_TESK::FT_IFRAME && kind != VORN_TESK::FT_PFRAME) continue;
      if (t.type & VORN_TESK::FT_DECODE_ONLY) {
        if (!decodedBefore) keyFirst = kind == VORN_TESK::FT_IFRAME;
        decodedBefore = true;
        EXPECT_LT(t.seconds, target) << ch;
        EXPECT_FALSE(shownOne) << ch;
        continue;
      }
      if (!shownOne) {
        EXPECT_EQ(t.seconds, target) << ch;
      }
      shownOne = true;
    }
    EXPECT_TRUE(decodedBefore) << ch;
    EXPECT_TRUE(keyFirst) << ch;
  }
}

TEST(PlayHDDThread, playBarJump_landsOnABlockAndWaitsForKeyPictures) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("jump.img", FourChannels(40), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  player.SetPacingEnabled(false);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 8; }));
  ASSERT_TRUE(player.Pause());
  for (auto &v : viewers.v) v.Clear();
  host.DragKnobTo(10 + 350);  // half the bar
  player.RequestSeek();
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 8; }));
  player.Pause();
  const int64_t halfTime = summary.firstTime + (summary.lastTime - summary.firstTime) / 2;
  int64_t firstAfterJump = INT64_MAX;
  for (auto &v : viewers.v)
    for (const auto &p : v.Pictures()) firstAfterJump = std::min(firstAfterJump, p.seconds);
  // The jump lands on the start of the 512-entry block (about 10.7 s of
  // this recording) that holds the middle entry.
  EXPECT_LE(firstAfterJump, halfTime + 1);
  EXPECT_GE(firstAfterJump, halfTime - 12);
  for (int ch = 0; ch < 4; ++ch) {
    const auto pictures = viewers.v[ch].Pictures();
    if (!pictures.empty()) {
      EXPECT_EQ(pictures.front().type, VORN_TESK::FT_IFRAME) << ch;
    }
  }
}

TEST(PlayHDDThread, releasingTheKnobWhereItWas_isNoJumpAndPlayGoesOn) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("nojump.img", FourChannels(6), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  player.SetPacingEnabled(false);
  player.RequestSeek();  // the knob has not moved from where the player put it
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 20; }));
  player.Pause();
  // Played on from the start, and the knob was not moved while the request
  // stayed pending.
  EXPECT_EQ(player.FirstPlayedTime(), summary.firstTime);
  EXPECT_EQ(host.KnobMoves(), 0);
}

TEST(PlayHDDThread, fastForward_showsOnlyKeyPicturesAtMostOneASecondWithoutAudio) {
  tools::SampleSummary summary;
  tools::SampleOptions o = FourChannels(12);
  o.keyInterval = 2;  // many key pictures, so the one-a-second rule is what limits
  const std::string path = orvan::test::SampleImage("ff.img", o, &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  host.SetAudioChecked(true);
  player.Forward();
  ASSERT_TRUE(ServiceUntil([&] { return player.LastPlayedTime() >= summary.lastTime - 1; }));
  player.Pause();
  EXPECT_EQ(player.AudioBlocksQueued(), 0u);
  for (int ch = 0; ch < 4; ++ch) {
    const auto pictures = viewers.v[ch].Pictures();
    ASSERT_FALSE(pictures.empty());
    for (size_t i = 0; i < pictures.size(); ++i) {
      EXPECT_EQ(pictures[i].type, VORN_TESK::FT_IFRAME);
      if (i) {
        EXPECT_GE(pictures[i].seconds - pictures[i - 1].seconds, 1);
      }
    }
    EXPECT_EQ(viewers.v[ch].Count(VORN_TESK::FT_AUDIO), 0u);
  }
}

// One index block whose delays read 0xFFFF: fast forward once slept 65 s
// per key picture there. Every pacing sleep now stays under a second (a
// wait of a second or more is not waited for), and without pacing there is
// none at all.
TEST(PlayHDDThread, fastForwardOverAbsurdDelays_reachesTheEnd_withEverySleepUnderASecond) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("absurd.img", FourChannels(24), &summary);
  {
    std::fstream image(path, std::ios::in | std::ios::out | std::ios::binary);
    const uint8_t delay[2] = {0xFF, 0xFF};
    for (int64_t n = kEntriesPerBlock; n < 2 * kEntriesPerBlock; ++n) {
      image.seekp(std::streamoff(IndexEntryPosition(n) + 2));
      image.write(reinterpret_cast<const char *>(delay), 2);
    }
    ASSERT_TRUE(image.good());
  }
  for (const bool pacing : {true, false}) {
    DiskPlay rig(path);
    auto &[d, host, viewers, player] = rig;
    player.SetPacingEnabled(pacing);
    player.Forward();
    ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }, 120000)) << pacing;
    player.Pause();
    EXPECT_GE(player.LastPlayedTime(), summary.lastTime - 2);
    EXPECT_LT(player.LongestPacingSleepMs(), kPacingLimitMs);
    if (pacing)
      EXPECT_GT(player.PacingSleeps(), 0u);
    else
      EXPECT_EQ(player.PacingSleeps(), 0u);
    EXPECT_EQ(player.ReadErrors(), 0u);
    EXPECT_EQ(player.SkippedRecords(), 0u);
  }
}

TEST(PlayHDDThread, noValidState_showsTheStateErrorAndEnds) {
  orvan::test::TempDir dir;
  const std::string path = PatternImage(dir, "nostate.img", [](tools::RecorderImage &im) {
    im.stateSlot = -1;
    orvan::test::AddPatternEntries(im, 10, 1202982297, 5);
  });
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  EXPECT_EQ(host.Messages(), std::vector<std::string>{"Check HDD State Error!!"});
  player.WaitFor();
  EXPECT_TRUE(player.Finished());
}

TEST(PlayHDDThread, notARecorderDisk_endsAtOnceWithoutAMessage) {
  orvan::test::TempDir dir;
  {
    std::ofstream f(dir.File("zero.img"), std::ios::binary);
    std::vector<char> zeros(1 << 20, 0);
    f.write(zeros.data(), std::streamsize(zeros.size()));
  }
  OpenDisk d(dir.File("zero.img"));
  HeadlessHost host;
  FourViewers viewers;
  PlayHDDThread player(host, &d.disk, viewers.Sinks(), 0);
  player.Play();
  player.WaitFor();
  EXPECT_FALSE(player.DiskValid());
  EXPECT_TRUE(host.Messages().empty());
}

// A viewer that never drains must not hang the player or the window.
TEST(PlayHDDThread, stalledViewer_pauseAndDestructionReturn) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("stall.img", FourChannels(3), &summary);
  OpenDisk d(path);
  HeadlessHost host;
  FourViewers viewers;
  for (auto &v : viewers.v) v.queued = 1000;
  auto player = std::make_unique<PlayHDDThread>(host, &d.disk, viewers.Sinks(), 0);
  player->SetPacingEnabled(false);
  player->Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.v[0].queueQueries.load() > 10; }));
  EXPECT_TRUE(player->Pause());
  player->Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.v[0].queueQueries.load() > 20; }));
  player->Terminate();
  player->WaitFor();
  player.reset();  // and the destructor returns
}

TEST(PlayHDDThread, pauseWhileThePlayerWaitsInSynchronize_isAcknowledged) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("sync.img", FourChannels(3), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  player.SetPacingEnabled(false);
  player.Play();
  // The main thread does not service calls for a while: the player blocks in
  // its first play-bar Synchronize.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(host.KnobMoves(), 0);
  EXPECT_TRUE(player.Pause());  // runs the pending call and gets the acknowledgement
}

TEST(PlayHDDThread, aviSavedDuringPlay_hasVideoAndAudioOfTheScreen) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("avi.img", FourChannels(3), &summary);
  orvan::test::TempDir dir;
  OpenDisk d(path);
  HeadlessHost host;
  host.SetAudioChecked(true);
  FourViewers viewers;
  orvan::test::RampScreen screen(1024, 768, 32);  // not 720 x 480: scaled, never overrun
  PlayHDDThread player(host, &d.disk, viewers.Sinks(), 0, &screen);
  const std::string avi = dir.File("saved.avi");
  // Saving starts before the first entry plays, so every audio block the
  // player queues falls inside the recording. (Started while playing, the
  // blocks queued before the file opened are rightly not in it.)
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(player.SetAviRecording(avi, 0, true));
  player.Play();
  // Generous: under a sanitizer the encoder is slow and the play falls behind.
  ASSERT_TRUE(ServiceUntil([&] { return host.IndicatorCloses() > 0; }, 600000));
  EXPECT_GT(player.AviPictures(), 5u);
  player.SetAviRecording("", -1, false);
  EXPECT_FALSE(player.AviOn());
  // Every audio block played went into the file too.
  EXPECT_EQ(player.AviAudioBlocks(), player.AudioBlocksQueued());
  EXPECT_GE(player.AviAudioBlocks(), uint64_t(summary.audioBlocks));

  AVFormatContext *raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, avi.c_str(), nullptr, nullptr), 0);
  orvan::av::InputFormatContextPtr input(raw);
  ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 2u);
  const AVStream *video = input->streams[0];
  const AVStream *audio = input->streams[1];
  EXPECT_EQ(video->codecpar->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(video->codecpar->width, 720);
  EXPECT_EQ(video->codecpar->height, 480);
  EXPECT_EQ(av_q2d(video->avg_frame_rate), 7.0);
  EXPECT_EQ(audio->codecpar->sample_rate, 16000);
  EXPECT_EQ(audio->codecpar->ch_layout.nb_channels, 2);
  uint64_t audioBytes = 0;
  int64_t pictures = 0, audioPackets = 0;
  orvan::av::PacketPtr packet = orvan::av::MakePacket();
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == audio->index) {
      audioBytes += uint64_t(packet->size);
      ++audioPackets;
    } else if (packet->size > 0) {  // slots without a picture are empty
      ++pictures;
    }
    av_packet_unref(packet.get());
  }
  // What the player counts is what the file holds.
  EXPECT_EQ(pictures, int64_t(player.AviPictures()));
  EXPECT_GE(audioPackets, int64_t(player.AviAudioBlocks()));
  // The sample's blocks, and the silence in front of the first (saving
  // started before it played).
  EXPECT_EQ(audioBytes, player.AviAudioBlocks() * 4000u + player.AviSilenceSamples() * 4u);
  // Pictures come at most once per 133 ms of wall time and are stamped 1/7 s
  // apart, so the video lasts about as long as the play took; the audio is
  // every block played. At recording speed the two match (figures below).
  const double wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double audioSeconds = double(audioBytes) / 64000.0;
  const double videoSeconds = double(pictures) / 7.0;
  std::printf("[ figures  ] AVI: %.2f s of audio, %.2f s of video (%lld pictures) in %.2f s\n",
              audioSeconds, videoSeconds, (long long)pictures, wallSeconds);
  EXPECT_LE(double(pictures), wallSeconds * 1000.0 / 133.0 + 1.0);
  EXPECT_GT(audioSeconds, 0.0);
}

TEST(PlayHDDThread, aviInAMissingFolder_isRefused) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("avimiss.img", FourChannels(2), &summary);
  OpenDisk d(path);
  HeadlessHost host;
  FourViewers viewers;
  orvan::test::RampScreen screen(720, 480, 32);
  PlayHDDThread player(host, &d.disk, viewers.Sinks(), 0, &screen);
  EXPECT_FALSE(player.SetAviRecording("/nonexistent-folder/x.avi", 0, true));
  EXPECT_FALSE(player.AviOn());
}

TEST(PlayHDDThread, destroyedMidPlay_returnsPromptly) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("mid.img", FourChannels(20), &summary);
  OpenDisk d(path);
  HeadlessHost host;
  FourViewers viewers;
  auto player = std::make_unique<PlayHDDThread>(host, &d.disk, viewers.Sinks(), 0);
  player->Play();  // paced: it is in the middle of the recording for a long while
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 10; }));
  player.reset();  // no Terminate or WaitFor first: the destructor does both
  EXPECT_LT(viewers.TotalPictures(), size_t(summary.pictures));
}

// A bad index sector costs its entries only: the player goes on behind it to
// the end, and says where the loss lay.
TEST(PlayHDDThread, lostIndexSector_isPassedOver_andPlayingReachesTheEnd) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("lostsector.img", FourChannels(6), &summary);
  orvan::test::FaultySource disk(orvan::test::ReadFileBytes(path));
  disk.Device().FailBytes(kIndexAreaOffset + 5 * 512, kIndexAreaOffset + 6 * 512);
  HeadlessHost host;
  FourViewers viewers;
  PlayHDDThread player(host, &disk, viewers.Sinks(), 0);
  player.SetPacingEnabled(false);
  ASSERT_TRUE(ServiceUntil([&] { return player.DiskChecked(); }));
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
  player.Pause();
  EXPECT_GE(player.LastPlayedTime(), summary.lastTime);
  const LossLog losses = player.Losses();
  ASSERT_EQ(losses.Parts().size(), 1u);
  // Index bytes 2560..3071: entries 128 to 153 (which runs on into the next).
  EXPECT_EQ(losses.Parts()[0].firstEntry, 128);
  EXPECT_EQ(losses.Parts()[0].lastEntry, 153);
  EXPECT_FALSE(player.IndexStalled());
  EXPECT_FALSE(player.DiskGone());
}

// A disk pulled while playing: the player tells its host once, plays
// nothing more and its reads end at once.
TEST(PlayHDDThread, diskPulledWhilePlaying_tellsTheHostOnce_andStops) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("pulled.img", FourChannels(60), &summary);
  orvan::test::FaultySource disk(orvan::test::ReadFileBytes(path));
  HeadlessHost host;
  FourViewers viewers;
  PlayHDDThread player(host, &disk, viewers.Sinks(), 0);
  player.SetPacingEnabled(false);
  ASSERT_TRUE(ServiceUntil([&] { return player.DiskChecked(); }));
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.TotalPictures() >= 20; }));
  ASSERT_TRUE(player.Pause());
  ASSERT_FALSE(player.AtEnd());
  disk.Device().FailEverything(EIO);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return host.DiskStoppedCalls() > 0; }));
  EXPECT_TRUE(player.DiskGone());
  const size_t shown = viewers.TotalPictures();
  const uint64_t asked = disk.Device().Reads();
  player.Play();  // nothing to play any more
  ServiceUntil([] { return false; }, 100);
  EXPECT_EQ(viewers.TotalPictures(), shown);
  EXPECT_EQ(disk.Device().Reads(), asked);
  EXPECT_EQ(host.DiskStoppedCalls(), 1);
  EXPECT_LT(player.LastPlayedTime(), summary.lastTime);
}

// An exact seek shows each channel's picture at the place asked, decoded
// silently from its key picture, and playing goes on right behind it with
// no wait for the next key picture.
TEST(PlayHDDThread, exactSeeks_showThePictureAskedFor_andPlayOnWithoutAKeyWait) {
  tools::SampleSummary summary;
  const std::string path = orvan::test::SampleImage("seek.img", FourChannels(40), &summary);
  DiskPlay rig(path);
  auto &[d, host, viewers, player] = rig;
  player.SetPacingEnabled(false);
  ASSERT_TRUE(player.Pause());

  // To a time: the first pictures shown are of that second, not a key
  // picture's.
  const uint32_t target = summary.firstTime + 31;
  player.SeekToTime(target);
  ASSERT_TRUE(ServiceUntil([&] { return player.SeeksDone() == 1; }));
  const int64_t landed = player.SeekLandedAt();
  ASSERT_GT(landed, 512);
  IndexEntry at;
  ASSERT_TRUE(ReadIndexEntry(d.disk, landed, at));
  EXPECT_EQ(at.time, target);
  ASSERT_TRUE(ReadIndexEntry(d.disk, landed - 1, at));
  EXPECT_LT(at.time, target);
  for (int ch = 0; ch < 4; ++ch) {
    const auto pictures = viewers.v[ch].Pictures();
    ASSERT_FALSE(pictures.empty()) << ch;
    EXPECT_EQ(pictures.back().seconds, target) << ch;
    EXPECT_EQ(VORN_TESK::FrameKind(pictures.back().type), VORN_TESK::FT_PFRAME) << ch;
    // Decoded from the key picture: the first thing handed over is one.
    bool first = true;
    for (const auto &t : viewers.v[ch].Snapshot()) {
      const uint32_t kind = VORN_TESK::FrameKind(t.type);
      if (kind != VORN_TESK::FT_IFRAME && kind != VORN_TESK::FT_PFRAME) continue;
      if (first) EXPECT_EQ(kind, VORN_TESK::FT_IFRAME) << ch;
      first = false;
    }
    const int64_t shown = player.ShownEntry(ch);
    EXPECT_GE(shown, landed - 4) << ch;
    EXPECT_LE(shown, landed + 8) << ch;
  }
  // Playing on: the next pictures follow at once, predicted ones included.
  const size_t before = viewers.v[0].Pictures().size();
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return viewers.v[0].Pictures().size() >= before + 3; }));
  ASSERT_TRUE(player.Pause());
  const auto after = viewers.v[0].Pictures();
  EXPECT_EQ(VORN_TESK::FrameKind(after[before].type), VORN_TESK::FT_PFRAME);
  EXPECT_EQ(player.Counters(0).keyWaitDrops.load(), 0u);

  // To an entry, backwards, near the start: the pictures there.
  for (auto &v : viewers.v) v.Clear();
  player.SeekToEntry(40);
  ASSERT_TRUE(ServiceUntil([&] { return player.SeeksDone() == 2; }));
  EXPECT_EQ(player.SeekLandedAt(), 40);
  for (int ch = 0; ch < 4; ++ch) {
    ASSERT_FALSE(viewers.v[ch].Pictures().empty()) << ch;
    EXPECT_LE(player.ShownEntry(ch), 48) << ch;
    EXPECT_GE(player.ShownEntry(ch), 30) << ch;
  }
  // Past the end: the last pictures; nothing breaks.
  player.SeekToEntry(INT64_MAX / 2);
  ASSERT_TRUE(ServiceUntil([&] { return player.SeeksDone() == 3; }));
}
