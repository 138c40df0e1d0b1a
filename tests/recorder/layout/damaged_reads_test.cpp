// The layout's readers on a disk with bad sectors (an in-process faulty
// device behind the same damage rules a real disk is read with): an index
// sector costs the entries it holds, an event log sector its records, a
// block time the search passes over, a record its entry; a disk that went
// away ends each of them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "recorder/export/span_reader.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/event_list.h"
#include "recorder/layout/index_search.h"
#include "recorder/layout/read_losses.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/faulty_source.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

constexpr uint32_t kStart = 1202982297;

// The bytes of a written image, for a faulty source.
std::vector<uint8_t> ImageBytes(const tools::RecorderImage &image) {
  test::TempDir dir;
  std::string error;
  const std::string path = dir.File("d.img");
  EXPECT_TRUE(tools::WriteRecorderImage(path, image, &error)) << error;
  return test::ReadFileBytes(path);
}

tools::RecorderImage Entries(int64_t count, int perSecond = 10) {
  tools::RecorderImage image;
  test::AddPatternEntries(image, count, kStart, perSecond);
  return image;
}

TEST(DamagedIndex, lostSector_costsTheEntriesItHolds_andReadingGoesOnBehindIt) {
  const auto image = Entries(400);
  test::FaultySource source(ImageBytes(image));
  // Index sector 1: bytes 512..1023 of the index, entries 25 (its head in
  // sector 0) to 51 (running on into sector 2).
  source.Device().FailBytes(kIndexAreaOffset + 512, kIndexAreaOffset + 1024);
  IndexReader reader;
  ASSERT_TRUE(reader.Start(source, 0));
  std::vector<IndexEntry> read;
  std::vector<LostIndexSector> lost;
  while (reader.Next() < 400) {
    const IndexStep step = reader.Step(source);
    if (step == IndexStep::kLost) {
      lost.push_back(reader.LostEntries());
    } else {
      ASSERT_EQ(step, IndexStep::kRead);
      for (const IndexEntry &e : reader.Entries()) read.push_back(e);
    }
    reader.Resync(source);
  }
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].firstEntry, 25);
  EXPECT_EQ(lost[0].lastEntry, 51);
  EXPECT_EQ(lost[0].byteOffset, kIndexAreaOffset + 512);
  // Entries 0..24 and 52.. on, every one as written.
  ASSERT_GE(read.size(), 400u - 27);
  for (size_t i = 0; i < 25; ++i) EXPECT_EQ(read[i], image.entries[i]) << i;
  for (size_t i = 25; i < 400 - 27; ++i) EXPECT_EQ(read[i], image.entries[i + 27]) << i;
}

TEST(DamagedIndex, diskThatWentAway_endsTheReaderWhereItStands) {
  test::FaultySource source(ImageBytes(Entries(400)));
  IndexReader reader;
  ASSERT_TRUE(reader.Start(source, 0));
  ASSERT_EQ(reader.Step(source), IndexStep::kRead);
  reader.Resync(source);
  source.Device().FailEverything(ENODEV);
  const int64_t at = reader.Next();
  EXPECT_EQ(reader.Step(source), IndexStep::kGone);
  EXPECT_EQ(reader.Next(), at);
  EXPECT_TRUE(source.Gone());
}

TEST(DamagedEventLog, lostSector_costsItsRecords_andTheRestIsListedWithTheirNumbers) {
  auto image = Entries(20);
  for (uint32_t k = 0; k < 200; ++k)
    image.events.push_back(
        EventRecord{0, uint16_t(0x10 * (1 + k % 5)), uint8_t(1 + k % 4), kStart + k});
  test::FaultySource source(ImageBytes(image));
  // The second sector of the log: records 63..126.
  source.Device().FailBytes(kEventLogOffset + 512, kEventLogOffset + 1024);
  const EventLog log = ReadEventLog(source);
  ASSERT_TRUE(log.headerRead);
  ASSERT_EQ(log.lost.size(), 1u);
  EXPECT_EQ(log.lost[0].firstRecord, 63u);
  EXPECT_EQ(log.lost[0].lastRecord, 126u);
  ASSERT_EQ(log.records.size(), 200u - 64);
  EXPECT_EQ(log.numbers[62], 62u);
  EXPECT_EQ(log.numbers[63], 127u);
  EXPECT_EQ(log.records.back().time, kStart + 199);

  CEventList list;
  list.LoadEvents(source);
  EXPECT_EQ(list.Cell(0, 63), "63");
  EXPECT_EQ(list.Cell(0, 64), "128");  // the row after the gap says its record's number
  uint32_t time = 0;
  ASSERT_TRUE(list.JumpTime(64, time));
  EXPECT_EQ(time, kStart + 127);
}

TEST(DamagedSearch, unreadableBlockTime_isPassedOver_andTheNeighboursDecide) {
  const auto image = Entries(40 * 512, 512);  // one second per block
  const auto bytes = ImageBytes(image);
  test::FaultySource healthy(bytes);
  test::FaultySource source(bytes);
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(source, g), GeometryStatus::Ok);
  // The first sector of blocks 20 and 30: their times cannot be read.
  for (const int64_t block : {20, 30}) {
    const uint64_t at = IndexEntryPosition(block * 512);
    source.Device().FailBytes(at, at + 512);
  }
  for (int64_t block = 0; block < 40; ++block) {
    const uint32_t target = kStart + uint32_t(block);
    SearchReport report;
    const int64_t found = SearchTime(source, g, target, &report);
    const int64_t right = SearchTime(healthy, g, target);
    EXPECT_FALSE(report.gone);
    // Off by the blocks passed over at most, and never past the target.
    EXPECT_LE(found, right) << block;
    EXPECT_GE(found, right - 512) << block;
  }
  SearchReport report;
  SearchTime(source, g, kStart + 21, &report);
  EXPECT_FALSE(report.unreadableBlocks.empty());
  for (const int64_t b : report.unreadableBlocks) EXPECT_TRUE(b == 20 * 512 || b == 30 * 512) << b;
  // A disk gone: the search ends at once and says so.
  source.Device().FailEverything(ENODEV);
  SearchReport gone;
  SearchTime(source, g, kStart + 5, &gone);
  EXPECT_TRUE(gone.gone);
}

TEST(DamagedSpan, lostIndexSectorAndRecords_areLeftOut_locatedAndCounted_theRestTaken) {
  auto image = Entries(600, 20);
  const auto bytes = ImageBytes(image);
  test::FaultySource source(bytes);
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(source, g), GeometryStatus::Ok);
  // Index sector 4 (entries 102..127; 127 ends with it) and the records of
  // entries 300..302.
  source.Device().FailBytes(kIndexAreaOffset + 4 * 512, kIndexAreaOffset + 5 * 512);
  const uint64_t from = g.dataBase + image.entries[300].offset;
  const uint64_t to = g.dataBase + image.entries[302].offset + image.entries[302].size;
  source.Device().FailBytes(from, to);
  SpanReader span(source, g);
  span.Start(kStart, kStart + 1000);
  std::vector<int64_t> taken;
  std::set<uint32_t> offsets;
  SpanReader::Step step;
  while ((step = span.ReadSector(nullptr, [&](const SpanEntry &s) {
           offsets.insert(uint32_t(s.entry.offset));
           return std::memcmp(s.record, image.data.data() + s.entry.offset, s.entry.size) == 0;
         })) == SpanReader::Step::kMore) {
  }
  EXPECT_EQ(step, SpanReader::Step::kEnded);
  const LossLog &losses = span.Losses();
  ASSERT_GE(losses.Parts().size(), 2u);
  EXPECT_EQ(losses.Parts()[0],
            (LostPart{LostPart::What::kIndex, 102, 127, kIndexAreaOffset + 4 * 512, 512}));
  EXPECT_EQ(losses.IndexEntries(), 26u);
  // Records 300..302 lie in sectors shared with their neighbours: those
  // are lost with them, and each is named.
  std::vector<int64_t> expected, named;
  const uint64_t firstSector = from / 512 * 512, endSector = (to + 511) / 512 * 512;
  for (int64_t n = 0; n < 600; ++n) {
    const uint64_t at = g.dataBase + image.entries[size_t(n)].offset;
    if (at < endSector && at + image.entries[size_t(n)].size > firstSector) expected.push_back(n);
  }
  for (const LostPart &p : losses.Parts())
    if (p.what == LostPart::What::kRecord) named.push_back(p.firstEntry);
  EXPECT_EQ(named, expected);
  EXPECT_EQ(offsets.size() + losses.IndexEntries() + losses.Records(), 600u);
  EXPECT_FALSE(span.DiskGone());
}

TEST(DamagedSpan, diskThatWentAway_endsTheSpan_withWhatWasTakenKept) {
  // Records large enough that the span reads the disk as it goes.
  tools::RecorderImage image;
  test::AddPatternEntries(image, 2000, kStart, 20, 4000);
  test::FaultySource source(ImageBytes(image));
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(source, g), GeometryStatus::Ok);
  SpanReader span(source, g);
  span.Start(kStart, kStart + 1000);
  int taken = 0;
  SpanReader::Step step = SpanReader::Step::kMore;
  for (int sector = 0; step == SpanReader::Step::kMore; ++sector) {
    if (sector == 10) source.Device().FailEverything(EIO);
    step = span.ReadSector(nullptr, [&](const SpanEntry &) { return ++taken > 0; });
  }
  EXPECT_EQ(step, SpanReader::Step::kGone);
  EXPECT_TRUE(span.DiskGone());
  EXPECT_GT(taken, 0);
  EXPECT_LT(taken, 2000);
}

}  // namespace
