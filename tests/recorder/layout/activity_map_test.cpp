#include "recorder/layout/activity_map.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/disk_source.h"
#include "tests/support/test_support.h"
#include "tools/sample_recording.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

// A minute of a still scene that moves from 20 s to 32 s into it.
std::string StillWithStretch(const test::TempDir &dir) {
  tools::SampleOptions o;
  o.outputPath = dir.File("stretch.img");
  o.durationSeconds = 60;
  o.motionAtSeconds = 20;
  o.motionSeconds = 12;
  tools::SampleSummary summary;
  std::string error;
  EXPECT_TRUE(tools::MakeSampleRecording(o, summary, &error)) << error;
  return o.outputPath;
}

}  // namespace

// The coarse map comes first, then the whole one; both find the stretch
// of motion on every channel, and nothing outside it stands out.
TEST(ActivityMap, aStillSceneWithAMovingStretch_showsTheStretch_coarseThenWhole) {
  test::TempDir dir;
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(StillWithStretch(dir)), DriveOpenStatus::Ok);
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(disk, g), GeometryStatus::Ok);
  std::vector<std::pair<CActivityMap, bool>> handed;
  const int64_t pieces = ReadActivity(disk, g, {}, [&](CActivityMap map, bool final) {
    handed.emplace_back(std::move(map), final);
  });
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_FALSE(handed[0].second);
  EXPECT_TRUE(handed[1].second);
  EXPECT_TRUE(handed[1].first.Complete());
  EXPECT_GT(pieces, 0);
  // Where the seconds of the recording lie along the index.
  std::vector<uint32_t> timeOf(size_t(g.playEnd));
  for (int64_t n = 0; n < g.playEnd; ++n) {
    IndexEntry e;
    ASSERT_TRUE(ReadIndexEntry(disk, n, e));
    timeOf[size_t(n)] = e.time;
  }
  const uint32_t start = timeOf.front();
  const CActivityMap &map = handed[1].first;
  // Each second's level, as the strip draws a pixel: the mean over its
  // entries.
  std::vector<int64_t> firstOf(61, -1);
  for (int64_t n = 0; n < g.playEnd; ++n) {
    const uint32_t second = timeOf[size_t(n)] - start;
    if (second <= 60 && firstOf[second] < 0) firstOf[second] = n;
  }
  for (int ch = 0; ch < 4; ++ch) {
    for (const CActivityMap *m : {&map, static_cast<const CActivityMap *>(&handed[0].first)}) {
      float lowestInside = 1e9f, highestOutside = 0;
      double insideSum = 0, outsideSum = 0;
      int inside = 0, outside = 0;
      for (uint32_t second = 0; second + 1 < 60; ++second) {
        if (firstOf[second] < 0 || firstOf[second + 1] < 0) continue;
        const float level =
            m->LevelOver(ch, firstOf[second], firstOf[second + 1] - firstOf[second]);
        if (level < 0) continue;
        // A second's margin at either end of the stretch.
        if (second >= 21 && second < 31) {
          ++inside, insideSum += level;
          lowestInside = std::min(lowestInside, level);
        } else if (second < 19 || second > 33) {
          ++outside, outsideSum += level;
          highestOutside = std::max(highestOutside, level);
        }
      }
      ASSERT_GT(inside, 0) << ch;
      ASSERT_GT(outside, 0) << ch;
      if (m == &map) {
        // Every second of the stretch stands above every still one.
        EXPECT_EQ(inside, 10) << ch;
        EXPECT_GT(lowestInside, highestOutside) << ch;
      }
      EXPECT_GT(insideSum / inside, 2 * outsideSum / outside) << ch;
    }
  }
  // Asked to stop: nothing more is handed over.
  handed.clear();
  ReadActivity(
      disk, g, [] { return true; },
      [&](CActivityMap map, bool final) { handed.emplace_back(std::move(map), final); });
  EXPECT_TRUE(handed.empty());
}
