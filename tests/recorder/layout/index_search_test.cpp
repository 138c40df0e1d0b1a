#include <cstring>
#include <map>

#include <gtest/gtest.h>

#include "recorder/layout/index_search.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

constexpr uint32_t kStart = 1202982297;  // 2008-02-14 09:44:57

// An index of any length, computed on demand: entry n has the time
// kStart + n / entriesPerSecond. Sectors of `overrides` hold other times.
class SyntheticIndex : public ByteSource {
 public:
  explicit SyntheticIndex(int64_t entriesPerSecond) : m_eps(entriesPerSecond) {}
  bool Seek(uint64_t offset) override {
    if (offset % 512) return false;
    m_pos = offset;
    return true;
  }
  bool Read(void *buffer, size_t length, size_t *got) override {
    if (got) *got = 0;
    if (length % 512 || m_pos < kIndexAreaOffset) return false;
    auto *out = static_cast<uint8_t *>(buffer);
    for (size_t i = 0; i < length; ++i) {
      const uint64_t at = m_pos + i - kIndexAreaOffset;
      const int64_t n = int64_t(at / 20);
      uint8_t entry[20];
      IndexEntry e;
      e.time = uint32_t(kStart + n / m_eps);
      auto it = timeOverrides.find(n);
      if (it != timeOverrides.end()) e.time = it->second;
      e.Serialize(entry);
      out[i] = entry[at % 20];
    }
    if (failingSectors.count(m_pos)) {
      if (failingSectors[m_pos]-- > 0) return false;
    }
    ++reads;
    if (firstReadTimes.count(m_pos)) {
      StoreU32(out + 4, firstReadTimes[m_pos]);
      firstReadTimes.erase(m_pos);
    }
    m_pos += length;
    if (got) *got = length;
    return true;
  }
  std::map<int64_t, uint32_t> timeOverrides;
  std::map<uint64_t, uint32_t> firstReadTimes;  // returned once, then the real bytes
  std::map<uint64_t, int> failingSectors;       // fail this many reads
  int reads = 0;

 private:
  int64_t m_eps;
  uint64_t m_pos = 0;
};

DiskGeometry GeometryWithPlayEnd(int64_t playEnd) {
  return GeometryFrom(1, uint64_t(playEnd) + 300);
}

uint32_t BlockTime(int64_t block, int64_t eps) { return uint32_t(kStart + block * 512 / eps); }

}  // namespace

TEST(IndexBlockTime, readsTheFirstEntryOfTheBlockHoldingN) {
  SyntheticIndex index(10);
  uint32_t t = 0;
  ASSERT_TRUE(IndexBlockTime(1023, index, t));
  EXPECT_EQ(t, BlockTime(1, 10));
  ASSERT_TRUE(IndexBlockTime(1024, index, t));
  EXPECT_EQ(t, BlockTime(2, 10));
  EXPECT_EQ(index.reads, 2);
  // Entry numbers far beyond 32 bits are not truncated.
  const int64_t huge = (int64_t{1} << 33) + 700;
  ASSERT_TRUE(IndexBlockTime(huge, index, t));
  EXPECT_EQ(t, uint32_t(kStart + (huge / 512 * 512) / 10));
}

TEST(IndexBlockTime, a1970TimeIsReadAgain_andAFailedReadLeavesTheTimeAlone) {
  SyntheticIndex index(10);
  index.firstReadTimes[IndexEntryPosition(512)] = 77;  // reads as 1970 once
  uint32_t t = 0;
  ASSERT_TRUE(IndexBlockTime(600, index, t));
  EXPECT_EQ(t, BlockTime(1, 10));
  EXPECT_EQ(index.reads, 2);

  // A block whose time really is in 1970 keeps it after the second read.
  index.timeOverrides[1024] = 5;
  ASSERT_TRUE(IndexBlockTime(1024, index, t));
  EXPECT_EQ(t, 5u);

  index.failingSectors[IndexEntryPosition(2048)] = 1;
  t = 1234;
  EXPECT_FALSE(IndexBlockTime(2048, index, t));
  EXPECT_EQ(t, 1234u);
}

TEST(SearchTime, targetsBeforeAndAfterTheRecording_giveTheEnds) {
  SyntheticIndex index(10);
  const DiskGeometry g = GeometryWithPlayEnd(100000);
  EXPECT_EQ(SearchTime(index, g, kStart - 1), 0);
  EXPECT_EQ(SearchTime(index, g, 0), 0);
  EXPECT_EQ(SearchTime(index, g, kStart + 100000), 100000 / 512 * 512);
  EXPECT_EQ(SearchTime(index, g, 0xFFFFFFFF), 100000 / 512 * 512);
}

TEST(SearchTime, returnsBlockStart_whenTargetInsideBlock_orOnItsFirstTime) {
  SyntheticIndex index(10);
  const DiskGeometry g = GeometryWithPlayEnd(1000000);
  for (int64_t block : {0, 1, 2, 7, 100, 977, 1500, 1952}) {
    const uint32_t first = BlockTime(block, 10);
    EXPECT_EQ(SearchTime(index, g, first), block * 512) << block;
    // Inside the block: after its first time, before the next block's.
    const uint32_t inside = first + 20;
    ASSERT_LT(inside, BlockTime(block + 1, 10));
    EXPECT_EQ(SearchTime(index, g, inside), block * 512) << block;
    // Searching twice gives the same block.
    EXPECT_EQ(SearchTime(index, g, inside), SearchTime(index, g, inside));
  }
}

TEST(SearchTime, readsAboutLog2PassesOfThreeSectors) {
  SyntheticIndex index(10);
  const DiskGeometry g = GeometryWithPlayEnd(2000000);
  index.reads = 0;
  SearchTime(index, g, BlockTime(2345, 10) + 3);
  EXPECT_LE(index.reads, 3 * 23);
}

TEST(SearchTime, playEndBelowOneBlock_alwaysGivesZero) {
  SyntheticIndex index(1);
  for (int64_t playEnd : {0, 1, 300, 511}) {
    const DiskGeometry g = GeometryWithPlayEnd(playEnd);
    for (uint32_t target : {0u, kStart, kStart + 100, kStart + 511, 0xFFFFFFFFu})
      EXPECT_EQ(SearchTime(index, g, target), 0) << playEnd << " " << target;
  }
}

TEST(SearchTime, entryNumbersBeyond32Bits_areFound) {
  SyntheticIndex index(1000);
  const int64_t playEnd = int64_t{6} * 1000 * 1000 * 1000;  // 6e9 entries
  const DiskGeometry g = GeometryWithPlayEnd(playEnd);
  const int64_t block = (int64_t{5} << 30) / 512 + 3;  // past 2^32 entries
  const uint32_t first = BlockTime(block, 1000);
  const int64_t found = SearchTime(index, g, first);
  // Neighbouring blocks may share a second; the first block of that second
  // is where its pictures start.
  EXPECT_EQ(found % 512, 0);
  EXPECT_EQ(uint32_t(kStart + found / 1000), first);
  EXPECT_GT(found, int64_t{1} << 32);
  EXPECT_EQ(SearchTime(index, g, 0xFFFFFFFF), playEnd / 512 * 512);
}

TEST(SearchTime, outOfOrderAndUnreadableBlocks_stillEndInRange) {
  SyntheticIndex index(10);
  const DiskGeometry g = GeometryWithPlayEnd(50000);
  // A 1970 block in the middle, and a block that moves backwards.
  index.timeOverrides[(50000 / 2) / 512 * 512] = 3;
  index.timeOverrides[512 * 30] = kStart + 10;
  for (uint32_t target = kStart; target < kStart + 5000; target += 97) {
    const int64_t r = SearchTime(index, g, target);
    EXPECT_EQ(r % 512, 0);
    EXPECT_GE(r, 0);
    EXPECT_LE(r, 50000);
  }
  // Nothing can be read at all: the times count as 0, the target is after
  // them, and the end block comes back.
  SyntheticIndex dead(10);
  for (int64_t b = 0; b <= 50000; b += 512) dead.failingSectors[IndexEntryPosition(b)] = 1000;
  EXPECT_EQ(SearchTime(dead, g, kStart), 50000 / 512 * 512);
}

TEST(SearchTime, onARealImage_findsTheBlockOfAnEntryTime) {
  tools::RecorderImage image;
  test::AddPatternEntries(image, 5000, kStart, 7, 16);
  test::TempDir dir;
  DiskSource src;
  ASSERT_TRUE(test::WriteAndOpen(dir.File("d.img"), image, src));
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(src, g), GeometryStatus::Ok);
  ASSERT_EQ(g.playEnd, 5000);
  // Entry 3000 lies in block 5 (2560..3071).
  EXPECT_EQ(SearchTime(src, g, image.entries[3000].time), 2560);
  EXPECT_EQ(SearchTime(src, g, image.entries[4999].time + 1), 4608);
}
