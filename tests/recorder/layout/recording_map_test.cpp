// The recording map: gaps found at their entries within a bounded number of
// reads, and times and entries mapped both ways.
#include <gtest/gtest.h>

#include "recorder/layout/recording_map.h"

using orvan::recorder::CRecordingMap;

namespace {

constexpr uint32_t kStart = 1202982297;

// 100 entries a second from kStart; from `gapAt` on the time is `jump`
// seconds later, from `gapAt2` on `jump2` more.
CRecordingMap::TimeOfEntry Timeline(int64_t gapAt, uint32_t jump, int64_t gapAt2 = -1,
                                    uint32_t jump2 = 0, int *reads = nullptr) {
  return [=](int64_t n, uint32_t &time) {
    if (reads) ++*reads;
    time = kStart + uint32_t(n / 100) + (n >= gapAt ? jump : 0) +
           (gapAt2 >= 0 && n >= gapAt2 ? jump2 : 0);
    return true;
  };
}

}  // namespace

TEST(RecordingMap, gapsAreFoundAtTheirEntries_andJumpsOfTenSecondsAreNone) {
  CRecordingMap map;
  int reads = 0;
  map.Build(1000000, Timeline(300000, 60, 777777, 11, &reads));
  ASSERT_EQ(map.Gaps().size(), 2u);
  EXPECT_EQ(map.Gaps()[0].entry, 300000);
  EXPECT_EQ(map.Gaps()[0].lastBefore, kStart + 2999);
  EXPECT_EQ(map.Gaps()[0].firstAfter, kStart + 3000 + 60);
  EXPECT_EQ(map.Gaps()[1].entry, 777777);
  EXPECT_LE(reads, CRecordingMap::kDefaultReadBudget);
  EXPECT_EQ(reads, map.Reads());

  map.Build(1000000, Timeline(500000, CRecordingMap::kGapSeconds - 1));
  EXPECT_TRUE(map.Gaps().empty());
  // A long recording without gaps costs the samples and little more.
  map.Build(1000000, [](int64_t n, uint32_t &time) {
    time = kStart + uint32_t(n / 3);
    return true;
  });
  EXPECT_TRUE(map.Gaps().empty());
  EXPECT_LT(map.Reads(), CRecordingMap::kDefaultSamples + 64);
}

TEST(RecordingMap, timesAndEntriesMapBothWays_aTimeInAGapGoesWhereRecordingResumes) {
  CRecordingMap map;
  map.Build(200000, Timeline(100000, 300));
  EXPECT_EQ(map.FirstTime(), kStart);
  EXPECT_EQ(map.LastTime(), kStart + 1999 + 300);
  // Within the samples' spacing (about 200 entries, two seconds).
  EXPECT_NEAR(double(map.EntryOf(kStart + 500)), 50000.0, 200.0);
  EXPECT_NEAR(double(map.TimeAt(150000)), double(kStart + 1500 + 300), 2.0);
  EXPECT_EQ(map.EntryOf(kStart + 1000 + 100), 100000);
  EXPECT_EQ(map.EntryOf(kStart - 5), 0);
  EXPECT_EQ(map.EntryOf(kStart + 5000), map.Entries());
}

TEST(RecordingMap, unreadableOrEmptyIndex_givesAnEmptyMap) {
  CRecordingMap map;
  map.Build(0, Timeline(-1, 0));
  EXPECT_TRUE(map.Empty());
  map.Build(5000, [](int64_t, uint32_t &) { return false; });
  EXPECT_TRUE(map.Empty());
  EXPECT_EQ(map.EntryOf(kStart), -1);
  EXPECT_EQ(map.TimeAt(10), 0u);
  // A budget smaller than the samples spends itself and stops.
  int reads = 0;
  map.Build(1000000, Timeline(1, 100, -1, 0, &reads), 1024, 100);
  EXPECT_EQ(reads, 100);
}
