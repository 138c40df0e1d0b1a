#include "media/audio_timeline.h"

#include <gtest/gtest.h>

using orvan::media::AudioTimeline;

namespace {
constexpr int64_t kBlock = 512;  // 32 ms at 16 kHz
}

TEST(AudioTimeline, blocksOfOneRecordedSecond_followOneAnother_insteadOfStackingAtItsStart) {
  // The index gives every block only its second (delays of 0).
  AudioTimeline line;
  int64_t expected = 0;
  for (int second = 0; second < 3; ++second)
    for (int i = 0; i < 31; ++i) {
      const int64_t start = second * 1000;
      EXPECT_EQ(line.Place(start, start + 999, kBlock), expected) << second << "/" << i;
      expected += kBlock;
    }
  EXPECT_TRUE(line.Gaps().empty());
  EXPECT_TRUE(line.Aheads().empty());
  EXPECT_EQ(line.EndSample(), 93 * kBlock);
}

TEST(AudioTimeline, aPauseLongerThanABlock_anchorsAgainAtTheAnchor_andIsReported_neverBackwards) {
  AudioTimeline line(1000);                              // sample 0 is at 1000 ms
  EXPECT_EQ(line.Place(1000, 1999, kBlock, 1010), 160);  // starts at its anchor
  EXPECT_EQ(line.Place(1042, 1042, kBlock), 160 + kBlock);
  // The index jumps 5 s ahead: the stream goes on there.
  const int64_t at = line.Place(6000, 6999, kBlock, 6100);
  EXPECT_EQ(at, (6100 - 1000) * 16);
  ASSERT_EQ(line.Gaps().size(), 1u);
  EXPECT_EQ(line.Gaps()[0].fromMs, 1000 + (160 + 2 * kBlock) / 16);
  EXPECT_EQ(line.Gaps()[0].toMs, 6100);
  // A block the index puts ahead by less than a block stays continuous; one
  // whose time lies behind the stream never goes back over it.
  EXPECT_EQ(line.Place(6100 + 32 + 20, 6200, kBlock), at + kBlock);
  EXPECT_EQ(line.Place(5000, 5000, kBlock), at + 2 * kBlock);
  EXPECT_EQ(line.Gaps().size(), 1u);
}

TEST(AudioTimeline, runningMoreThanHalfASecondPastTheIndex_isReportedOncePerStretch) {
  AudioTimeline line;
  // 60 blocks of 32 ms claimed to lie in one second: 1.92 s of sound.
  for (int i = 0; i < 60; ++i) line.Place(0, 999, kBlock);
  ASSERT_EQ(line.Aheads().size(), 1u);
  EXPECT_EQ(line.Aheads()[0].atMs, 0);
  EXPECT_GT(line.Aheads()[0].byMs, 500);
  // The index catches up (no report), then the stream runs ahead again.
  for (int i = 0; i < 10; ++i) line.Place(1300, 2299, kBlock);
  for (int i = 0; i < 60; ++i) line.Place(1300, 2299, kBlock);
  EXPECT_EQ(line.Aheads().size(), 2u);
  EXPECT_TRUE(line.Gaps().empty());
}

TEST(AudioTimeline, resetStartsOver_withNothingPlaced) {
  AudioTimeline line;
  line.Place(5000, 5000, kBlock);
  line.Place(9000, 9000, kBlock);
  line.Reset(100);
  EXPECT_FALSE(line.Started());
  EXPECT_TRUE(line.Gaps().empty());
  EXPECT_EQ(line.Place(100, 100, kBlock), 0);
  EXPECT_EQ(line.EndMs(), 100 + kBlock / 16);
}
