// The survey on maker disks whose ground truth is known: an earlier, longer
// recording under the asked one, lost index sectors, garbage in the index
// area.
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "recorder/recovery/disk_survey.h"
#include "tests/recorder/recovery/recovery_fixtures.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

TEST(Survey, EarlierRecordingIsFoundEntryByEntry) {
  test::TempDir dir;
  const test::MadeDisk made = test::MakeDisk(dir, "prev.img", 8, 24);
  ASSERT_GT(made.summary.staleIntact, 0);
  ASSERT_GT(made.summary.staleOverwritten, 0);
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(made.path), DriveOpenStatus::Ok);
  SurveyOptions options;
  options.keepRecoverable = true;
  const DiskSurvey s = SurveyDisk(disk, made.geometry, disk.SizeBytes(), options);

  EXPECT_EQ(s.live.entries, made.summary.entries);
  EXPECT_EQ(s.live.invalid, 0);
  EXPECT_EQ(s.heldBack.entries, 300);
  EXPECT_EQ(s.stale.entries, made.summary.staleEntries);
  EXPECT_EQ(s.stale.intact, made.summary.staleIntact);
  EXPECT_EQ(s.stale.overwritten, made.summary.staleOverwritten);
  EXPECT_EQ(s.stale.intact + s.stale.overwritten, s.stale.entries);
  EXPECT_TRUE(s.stale.endedByInvalidRun);
  EXPECT_EQ(s.skipped.Total(), 0u) << "zeros behind the index are empty, not skipped";
  EXPECT_EQ(s.backwardReads, 0u) << "the survey reads front to back only";
  // Held back, then the earlier recording an hour and more before.
  ASSERT_EQ(s.spans.size(), 2u);
  EXPECT_EQ(s.spans[0].origin, SurveySpan::Origin::kHeldBack);
  EXPECT_EQ(s.spans[0].firstEntry, made.summary.entries);
  EXPECT_EQ(s.spans[1].origin, SurveySpan::Origin::kStale);
  EXPECT_EQ(s.spans[1].firstEntry, made.summary.indexCount);
  EXPECT_EQ(s.spans[1].lastEntry, made.summary.previousIndexCount - 1);
  EXPECT_LT(s.spans[1].lastTime, made.summary.firstTime);

  // Every recoverable entry is the index's own, and exactly those stale
  // ones whose record lies beyond the asked recording's records.
  const std::vector<IndexEntry> index = test::ReadIndex(made.path, made.summary.previousIndexCount);
  int64_t stale = 0;
  for (const RecoverableEntry &r : s.recoverable) {
    ASSERT_LT(r.number, int64_t(index.size()));
    EXPECT_EQ(r.entry, index[size_t(r.number)]) << r.number;
    if (r.number >= made.summary.indexCount) {
      ++stale;
      EXPECT_GE(r.entry.offset, made.summary.dataBytes) << r.number;
    }
  }
  EXPECT_EQ(stale, made.summary.staleIntact);
  EXPECT_EQ(int64_t(s.recoverable.size()), 300 + made.summary.staleIntact);
  // The data area's parts do not double count.
  EXPECT_EQ(s.liveRecords.Bytes(), made.summary.dataBytes);
  EXPECT_LE(s.liveRecords.Bytes() + s.intactRecords.Bytes() + s.UnreferencedBytes(),
            s.DataAreaBytes());
}

TEST(Survey, DiskWithoutStaleEntriesAndLostIndexSectors) {
  test::TempDir dir;
  tools::SampleOptions o;
  o.durationSeconds = 10;
  o.loseIndexFirst = 4;
  o.loseIndexLast = 6;
  const test::MadeDisk made = test::MakeDisk(dir, "lost.img", 10, 0, o);
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(made.path), DriveOpenStatus::Ok);
  const DiskSurvey s = SurveyDisk(disk, made.geometry, disk.SizeBytes());
  EXPECT_EQ(s.stale.entries, 0);
  EXPECT_EQ(s.heldBack.entries, 300);
  // Zeroed sectors are invalid entries, in one run, that the maker says it
  // lost (an entry half in a zeroed sector may still look valid: its
  // offset's high bytes are zero anyway).
  ASSERT_EQ(s.live.invalidRuns.size(), 1u);
  EXPECT_GE(s.live.invalidRuns[0].first, made.summary.lostFirstEntry);
  EXPECT_LE(s.live.invalidRuns[0].last, made.summary.lostLastEntry);
  EXPECT_GE(s.live.invalidRuns[0].Count(),
            made.summary.lostLastEntry - made.summary.lostFirstEntry - 1);
  EXPECT_EQ(s.live.entries + s.live.invalid, made.summary.entries);
  EXPECT_GT(s.UnreferencedBytes(), 0u) << "the lost entries' records are now unreferenced";
}

TEST(Survey, GarbageBehindTheIndexNeverBecomesAnEntry) {
  test::TempDir dir;
  const test::MadeDisk made = test::MakeDisk(dir, "garbage.img", 6, 0);
  // Random bytes over 2000 entries behind the held-back ones, and a few
  // hostile entries among them.
  std::vector<uint8_t> junk(2000 * kEntryBytes);
  std::mt19937 rng(7);
  for (auto &b : junk) b = uint8_t(rng());
  auto put = [&](size_t k, IndexEntry e) { e.Serialize(junk.data() + k * kEntryBytes); };
  IndexEntry huge;
  huge.type = 1;
  huge.time = 5;
  huge.size = 0x7FFFFFFF;
  put(3, huge);
  IndexEntry past = huge;
  past.size = 100;
  past.offset = uint64_t(1) << 62;
  put(4, past);
  IndexEntry negative = past;
  negative.offset = uint64_t(-512);
  put(5, negative);
  {
    std::fstream f(made.path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(IndexEntryPosition(made.summary.indexCount)));
    f.write(reinterpret_cast<const char *>(junk.data()), std::streamsize(junk.size()));
  }
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(made.path), DriveOpenStatus::Ok);
  SurveyOptions options;
  options.keepRecoverable = true;
  const DiskSurvey s = SurveyDisk(disk, made.geometry, disk.SizeBytes(), options);
  EXPECT_GE(s.skipped.badSize, 1u);
  EXPECT_GE(s.skipped.pastDisk, 2u);
  EXPECT_GT(s.skipped.Total(), 1900u) << "nearly all random entries fail a rule";
  // What passes every rule by chance is counted, but none of it is a
  // record that begins as its type says, so none is recoverable.
  for (const RecoverableEntry &r : s.recoverable) {
    EXPECT_LT(r.number, made.summary.indexCount) << "only held-back entries are recoverable";
    EXPECT_TRUE(IsValidEntry(made.geometry, disk.SizeBytes(), r.entry));
  }
  EXPECT_EQ(s.stale.intact + s.stale.overwritten, s.stale.entries);
}

TEST(Survey, TruncatedImageAndAStop) {
  test::TempDir dir;
  const test::MadeDisk made = test::MakeDisk(dir, "cut.img", 6, 12);
  // Cut inside the index area: the survey ends there, as far as it got.
  std::filesystem::resize_file(made.path, IndexEntryPosition(made.summary.indexCount + 100) + 300);
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(made.path), DriveOpenStatus::Ok);
  const DiskSurvey s = SurveyDisk(disk, made.geometry, disk.SizeBytes());
  // Every record lies beyond the cut: no entry is valid, none is read.
  EXPECT_EQ(s.live.entries, 0);
  EXPECT_EQ(s.live.invalid, made.summary.entries);
  EXPECT_EQ(s.dataBytesRead, 0u);
  EXPECT_LE(s.stale.entries, 116);
  EXPECT_EQ(s.stale.intact, 0) << "their records lie beyond the disk's end";

  std::atomic<bool> stop{true};
  SurveyOptions stopped;
  stopped.stop = &stop;
  EXPECT_TRUE(SurveyDisk(disk, made.geometry, disk.SizeBytes(), stopped).stopped);
}

}  // namespace
