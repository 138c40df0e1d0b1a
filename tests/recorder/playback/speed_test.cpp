// Play speeds, measured on a clock whose time passes only by the sleeps the
// player asks for: recorder seconds played per second of that clock, so no
// result depends on how fast the machine runs.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/disk_source.h"
#include "recorder/playback/headless_host.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/recorder/playback/playback_fixtures.h"

using namespace orvan;
using namespace orvan::recorder;
using orvan::test::FourViewers;
using orvan::test::ServiceUntil;
using orvan::test::SleepCountingClock;

namespace {

// The recorded time the pictures span: the sum of their delays.
double RecordedPictureSeconds(const std::string &path) {
  DiskSource disk;
  EXPECT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok);
  DiskGeometry geometry;
  EXPECT_EQ(ReadGeometry(disk, geometry), GeometryStatus::Ok);
  IndexReader reader;
  EXPECT_TRUE(reader.Start(disk, 0));
  int64_t ms = 0;
  while (reader.Next() < geometry.playEnd && reader.ReadStep(disk))
    for (const IndexEntry &e : reader.Entries())
      if (e.type != kTypeAudio) ms += e.delayMs;
  return ms / 1000.0;
}

struct SpeedRun {
  double ratio = 0;  // recorder seconds per clock second
  uint64_t audioBlocks = 0;
  size_t pictures = 0;
  size_t keyPictures = 0;
};

SpeedRun PlayWholeRecordingAt(const std::string &path, int eighths) {
  DiskSource disk;
  EXPECT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok);
  HeadlessHost host;
  host.SetAudioChecked(true);
  FourViewers viewers;
  SleepCountingClock clock;
  SpeedRun run;
  {
    PlayHDDThread player(host, &disk, viewers.Sinks(), 0);
    player.SetPacingClock(&clock);
    player.SetSpeed(eighths);
    player.Play();
    EXPECT_TRUE(ServiceUntil([&] { return player.AtEnd(); }));
    player.Pause();
    run.ratio = RecordedPictureSeconds(path) / (clock.NowUs() / 1e6);
    run.audioBlocks = player.AudioBlocksQueued();
  }
  for (auto &v : viewers.v)
    for (const auto &p : v.Pictures()) {
      ++run.pictures;
      run.keyPictures += p.type == VORN_TESK::FT_IFRAME;
    }
  return run;
}

}  // namespace

TEST(PlaySpeed, recorderSecondsPerClockSecond_followTheSpeed_soundOnlyAtNormalSpeed) {
  tools::SampleOptions o;
  o.durationSeconds = 10;
  const std::string path = orvan::test::SampleImage("speeds.img", o);
  for (int eighths : {1, 4, 8, 16, 32}) {
    const SpeedRun run = PlayWholeRecordingAt(path, eighths);
    const double speed = eighths / 8.0;
    std::printf("[ figures  ] speed x%.3f: %.3f recorder s per clock s\n", speed, run.ratio);
    EXPECT_NEAR(run.ratio, speed, speed * 0.1) << "x" << speed;
    EXPECT_EQ(run.audioBlocks > 0, eighths == 8) << "x" << speed;
    EXPECT_EQ(run.pictures, run.keyPictures * (o.fps * 2)) << "x" << speed;
  }
}

TEST(PlaySpeed, aboveFourTimes_onlyKeyPictures_atTheScaledPace) {
  tools::SampleOptions o;
  o.durationSeconds = 10;
  const std::string path = orvan::test::SampleImage("speeds.img", o);
  for (int eighths : {64, 128}) {
    const SpeedRun run = PlayWholeRecordingAt(path, eighths);
    const double speed = eighths / 8.0;
    std::printf("[ figures  ] speed x%.0f: %.3f recorder s per clock s\n", speed, run.ratio);
    EXPECT_NEAR(run.ratio, speed, speed * 0.1);
    EXPECT_GT(run.keyPictures, 0u);
    EXPECT_EQ(run.pictures, run.keyPictures);
    EXPECT_EQ(run.audioBlocks, 0u);
  }
}
