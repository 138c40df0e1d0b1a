// Picture stepping of a paused player, on a sample recording: forward hands
// over the next picture in recording order, back the picture before,
// decoded silently from its key picture.
#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "recorder/playback/headless_host.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/recorder/playback/playback_fixtures.h"

using namespace orvan;
using namespace orvan::recorder;
using orvan::test::FourViewers;
using orvan::test::ServiceUntil;

namespace {

constexpr uint32_t kShown = VORN_TESK::FT_PFRAME;
constexpr uint32_t kKeyShown = VORN_TESK::FT_IFRAME;
constexpr uint32_t kSilent = VORN_TESK::FT_DECODE_ONLY;

struct Rig {
  explicit Rig(const std::string &path) { EXPECT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok); }
  DiskSource disk;
  HeadlessHost host;
  FourViewers viewers;
};

// Pictures taken by each viewer since the last Clear, types as given.
std::array<std::vector<uint32_t>, 4> Taken(FourViewers &viewers) {
  std::array<std::vector<uint32_t>, 4> out;
  for (int ch = 0; ch < 4; ++ch)
    for (const auto &t : viewers.v[ch].Snapshot())
      if (VORN_TESK::FrameKind(t.type) != VORN_TESK::FT_INFO) out[ch].push_back(t.type);
  return out;
}

void ClearAll(FourViewers &viewers) {
  for (auto &v : viewers.v) v.Clear();
}

}  // namespace

TEST(PlayerStep, forwardInTheGrid_isTheNextPictureOfAnyChannel_backDecodesFromTheKey) {
  tools::SampleOptions o;
  o.durationSeconds = 4;
  Rig rig(orvan::test::SampleImage("steps.img", o));
  PlayHDDThread player(rig.host, &rig.disk, rig.viewers.Sinks(), 0);
  player.SetPacingEnabled(false);
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return rig.viewers.TotalPictures() > 60; }));
  ASSERT_TRUE(player.Pause());
  ClearAll(rig.viewers);

  // Forward: one picture shown, by one viewer (its decoder may first be
  // brought up to it silently); then the next one, straight on.
  ASSERT_TRUE(player.Step(1, -1));
  auto taken = Taken(rig.viewers);
  int stepped = -1;
  for (int ch = 0; ch < 4; ++ch)
    if (!taken[ch].empty()) {
      EXPECT_EQ(stepped, -1) << "a second channel moved";
      stepped = ch;
      EXPECT_FALSE(taken[ch].back() & kSilent);
      for (size_t i = 0; i + 1 < taken[ch].size(); ++i) EXPECT_TRUE(taken[ch][i] & kSilent);
    }
  ASSERT_GE(stepped, 0);
  ClearAll(rig.viewers);
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(player.Step(1, -1));
    taken = Taken(rig.viewers);
    size_t count = 0;
    for (int ch = 0; ch < 4; ++ch) count += taken[ch].size();
    EXPECT_EQ(count, 1u) << "step " << i;
    ClearAll(rig.viewers);
  }
  ASSERT_TRUE(player.Step(1, -1));
  taken = Taken(rig.viewers);
  for (int ch = 0; ch < 4; ++ch)
    if (!taken[ch].empty()) stepped = ch;
  ClearAll(rig.viewers);

  // Back: the same channel, from a key picture, every picture but the last
  // one decoded silently.
  ASSERT_TRUE(player.Step(-1, -1));
  taken = Taken(rig.viewers);
  for (int ch = 0; ch < 4; ++ch) {
    if (ch != stepped) {
      EXPECT_TRUE(taken[ch].empty()) << ch;
      continue;
    }
    ASSERT_FALSE(taken[ch].empty());
    const uint32_t last = taken[ch].back();
    EXPECT_TRUE(last == kShown || last == kKeyShown);
    if (last == kShown) {
      EXPECT_EQ(taken[ch].front(), kKeyShown | kSilent);
    }
    for (size_t i = 0; i + 1 < taken[ch].size(); ++i) EXPECT_TRUE(taken[ch][i] & kSilent);
  }
  EXPECT_FALSE(player.Playing());
}

TEST(PlayerStep, enlargedChannel_stepsThroughItsOwnPictures_andPlayGoesOnFromThere) {
  tools::SampleOptions o;
  o.durationSeconds = 10;
  Rig rig(orvan::test::SampleImage("steps10.img", o));
  PlayHDDThread player(rig.host, &rig.disk, rig.viewers.Sinks(), 0);
  // Paced, so the pause comes early in the recording.
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return rig.viewers.TotalPictures() > 40; }));
  ASSERT_TRUE(player.Pause());
  ClearAll(rig.viewers);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(player.Step(1, 2));
  auto taken = Taken(rig.viewers);
  size_t shown = 0;
  for (uint32_t t : taken[2]) shown += !(t & kSilent);
  EXPECT_EQ(shown, 5u);
  for (int ch : {0, 1, 3}) EXPECT_TRUE(taken[ch].empty());
  const uint32_t steppedTo = player.LastPlayedTime();
  player.Play();
  ASSERT_TRUE(ServiceUntil([&] { return player.ResumedAtTime() != 0; }));
  EXPECT_GE(player.ResumedAtTime(), steppedTo);
  EXPECT_LE(player.ResumedAtTime(), steppedTo + 3);  // the next key pictures
}
