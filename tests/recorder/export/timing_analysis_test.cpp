#include "recorder/export/timing_analysis.h"

#include <gtest/gtest.h>

#include "recorder/export/frames_table.h"

using namespace orvan::recorder;

namespace {

IndexEntry Picture(int channel, bool key, uint32_t second) {
  IndexEntry e;
  e.type = key ? kTypeKeyPicture : kTypePicture;
  e.channel = uint8_t(channel);
  e.time = second;
  return e;
}

struct Shown {
  IndexEntry entry;
  int64_t ms;
  bool same = false;
};

// Channel 1 at 25 a second (key every 10), a 1 s hole, a step back in time,
// and three repeated pictures; channel 2 at 5 a second.
std::vector<Shown> Recording() {
  std::vector<Shown> r;
  int64_t ms = 10000;
  for (int i = 0; i < 100; ++i, ms += 40) {
    if (i == 50) ms += 1000;  // a hole
    int64_t at = ms;
    if (i == 70) at = ms - 200;  // the clock steps back
    r.push_back({Picture(1, i % 10 == 0, uint32_t(at / 1000)), at, i >= 80 && i < 83});
    if (i % 5 == 0) r.push_back({Picture(2, i % 20 == 0, uint32_t(at / 1000)), at});
  }
  return r;
}

TimingAnalysis Analyse(const std::vector<Shown> &r, bool compare = true) {
  TimingAnalysis a;
  for (const Shown &s : r) a.Survey(s.entry, s.ms);
  a.EndSurvey();
  int64_t n = 0;
  for (const Shown &s : r)
    a.Row(n++, s.entry, s.ms, compare ? std::optional<bool>(s.same) : std::nullopt);
  a.Finish();
  return a;
}

}  // namespace

TEST(ValueHistogram, spread_isTheLowerMedianAndTheRange) {
  ValueHistogram h;
  EXPECT_EQ(h.Spread().count, 0);
  for (int v : {40, 38, 42, 40, 1000, 40}) h.Add(v);
  const ValueSpread s = h.Spread();
  EXPECT_EQ(s.count, 6);
  EXPECT_EQ(s.median, 40);
  EXPECT_EQ(s.min, 38);
  EXPECT_EQ(s.max, 1000);
}

TEST(TimingAnalysis, answersRateKeyIntervalHolesStepsBackAndRepeats_perChannel) {
  const TimingAnalysis a = Analyse(Recording());
  const ChannelTiming &one = a.Channel(1);
  EXPECT_EQ(one.pictures, 100);
  EXPECT_EQ(one.keyPictures, 10);
  EXPECT_EQ(one.intervalMs.median, 40);
  EXPECT_EQ(one.gapThresholdMs, 80);
  EXPECT_EQ(one.keyIntervalPictures.median, 10);
  EXPECT_EQ(one.keyIntervalMs.median, 400);
  EXPECT_EQ(one.picturesPerSecond.median, 25);
  // The hole, and the picture after the step back (440 ms later than the
  // one before it, which was 200 ms early).
  ASSERT_EQ(one.gapCount, 2);
  EXPECT_EQ(one.gaps[0].toMs - one.gaps[0].fromMs, 1040);
  EXPECT_EQ(one.gaps[1].toMs - one.gaps[1].fromMs, 240);
  ASSERT_EQ(one.backwardCount, 1);
  EXPECT_EQ(one.backwards[0].fromMs - one.backwards[0].toMs, 160);
  ASSERT_TRUE(one.repeatsKnown);
  ASSERT_EQ(one.repeatRunCount, 1);
  EXPECT_EQ(one.repeats[0].pictures, 4);  // the one repeated, and three equal to it
  EXPECT_EQ(one.repeatedPictures, 3);

  const ChannelTiming &two = a.Channel(2);
  EXPECT_EQ(two.pictures, 20);
  EXPECT_EQ(two.intervalMs.median, 200);
  EXPECT_EQ(two.gapCount, 1);  // the hole is longer than 400 ms there too
  EXPECT_EQ(a.Channel(0).pictures, 0);
  EXPECT_EQ(a.Channel(0).gapThresholdMs, 0);
}

TEST(TimingAnalysis, withoutComparedBytes_repeatsAreUnknown_andListsAreCapped) {
  EXPECT_FALSE(Analyse(Recording(), false).Channel(1).repeatsKnown);
  // Every other interval a hole: more than the list keeps, all counted.
  std::vector<Shown> r;
  int64_t ms = 0;
  for (int i = 0; i < 5000; ++i) {
    ms += 40;
    if (i % 2 == 0 && i > 2000) ms += 500;
    r.push_back({Picture(0, i == 0, uint32_t(ms / 1000)), ms});
  }
  const TimingAnalysis analysis = Analyse(r);
  const ChannelTiming &t = analysis.Channel(0);
  EXPECT_GT(t.gapCount, int64_t(TimingAnalysis::kListLimit));
  EXPECT_EQ(t.gaps.size(), TimingAnalysis::kListLimit);
}
