#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "recorder/export/span_reader.h"
#include "recorder/layout/index_search.h"
#include "recorder/layout/read_ahead_source.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

constexpr uint32_t kStart = 1202982297;

IndexEntry Entry(int8_t type, uint32_t time, uint16_t delayMs) {
  IndexEntry e;
  e.type = type;
  e.time = time;
  e.delayMs = delayMs;
  return e;
}

// What a copy took, read the plain way: one sector of index at a time and
// each record with its own reads, straight from the disk.
struct Taken {
  std::vector<IndexEntry> entries;
  std::vector<std::vector<uint8_t>> records;
};

Taken ReadPlainly(ByteSource &disk, const DiskGeometry &g, uint32_t from, int64_t to) {
  Taken t;
  IndexReader reader;
  reader.Start(disk, SearchTime(disk, g, from));
  std::vector<uint8_t> record(kMaxRecordBytes);
  bool ended = false;
  while (!ended && reader.Next() < g.playEnd && reader.ReadStep(disk)) {
    for (const IndexEntry &e : reader.Entries()) {
      if (e.channel >= 4) continue;
      if (e.time >= to) {
        ended = true;
        continue;
      }
      if (!ReadDataRecord(disk, g, e, record.data())) continue;
      t.entries.push_back(e);
      t.records.emplace_back(record.begin(), record.begin() + e.size);
    }
    reader.Resync(disk);
  }
  return t;
}

Taken ReadSpan(SpanReader &span, uint32_t from, int64_t to) {
  Taken t;
  span.Start(from, to);
  auto take = [&](const SpanEntry &s) {
    t.entries.push_back(s.entry);
    t.records.emplace_back(s.record, s.record + s.entry.size);
    return true;
  };
  while (span.ReadSector(nullptr, take) == SpanReader::Step::kMore) {
  }
  return t;
}

}  // namespace

TEST(RecordingClock, followsTheDelays_snapsForwardToItsSecond_andStopsAtTheSecondsEnd) {
  RecordingClock clock;
  const int64_t t = int64_t{kStart} * 1000;
  EXPECT_EQ(clock.Stamp(Entry(kTypeKeyPicture, kStart, 300)), t);
  EXPECT_EQ(clock.Stamp(Entry(kTypePicture, kStart, 500)), t + 300);
  // Audio blocks run their own clock.
  EXPECT_EQ(clock.Stamp(Entry(kTypeAudio, kStart, 62)), t);
  EXPECT_EQ(clock.Stamp(Entry(kTypeAudio, kStart, 62)), t + 62);
  EXPECT_EQ(clock.Stamp(Entry(kTypePicture, kStart, 400)), t + 800);
  // Delays that run past the second stop at its last millisecond.
  EXPECT_EQ(clock.Stamp(Entry(kTypePicture, kStart, 40)), t + 999);
  // The next second goes on from the delays when they reach into it, not
  // 1 ms after the picture before...
  EXPECT_EQ(clock.Stamp(Entry(kTypePicture, kStart + 1, 40)), t + 1039);
  // ... and snaps forward to the recorder's second after a pause.
  EXPECT_EQ(clock.Stamp(Entry(kTypePicture, kStart + 9, 40)), t + 9000);
  // Unknown types get their second and move nothing.
  EXPECT_EQ(clock.Stamp(Entry(42, kStart + 9, 900)), t + 9000);
  EXPECT_EQ(clock.Stamp(Entry(kTypePicture, kStart + 9, 40)), t + 9040);
}

TEST(ReadAheadSource, answersEveryReadAsTheSourceWould_upToAndPastTheEndOfACutImage) {
  test::TempDir dir;
  // 3 MiB and a half sector short of another: the window's last fill is cut.
  std::vector<uint8_t> bytes(3 * 1048576 + 7 * 512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131 + (i >> 9));
  std::ofstream(dir.File("cut.img"), std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  DiskSource plain, inner;
  ASSERT_EQ(plain.OpenPath(dir.File("cut.img")), DriveOpenStatus::Ok);
  ASSERT_EQ(inner.OpenPath(dir.File("cut.img")), DriveOpenStatus::Ok);
  ReadAheadSource ahead(inner, 1048576);

  // Records of various lengths back to back, each read as the record reader
  // reads it: its head sector (the last sector of the record before), then
  // the rest; now and then a jump back, as a new span would make.
  std::vector<uint8_t> a(8192), b(8192);
  uint64_t at = 512;
  int reads = 0;
  auto same = [&](uint64_t from, size_t length) {
    size_t gotA = 1, gotB = 2;
    const bool okA = plain.Seek(from) && plain.Read(a.data(), length, &gotA);
    const bool okB = ahead.Seek(from) && ahead.Read(b.data(), length, &gotB);
    EXPECT_EQ(okA, okB) << "at " << from;
    EXPECT_EQ(gotA, gotB) << "at " << from;
    if (okA && okB) {
      EXPECT_EQ(std::memcmp(a.data(), b.data(), length), 0) << "at " << from;
    }
    ++reads;
  };
  int readsInside = 0;
  uint64_t sourceReadsInside = 0;
  for (int round = 0; round < 240; ++round) {
    for (size_t length : {512u, 4096u, 1024u, 8192u, 512u}) {
      if (at + length <= bytes.size()) {
        readsInside = reads;
        sourceReadsInside = ahead.SourceReads();
      }
      same(at - 512, 512);
      same(at, length);
      at += length;
    }
    if (round % 50 == 49) same(at / 2 / 512 * 512, 4096);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(at, bytes.size());  // the walk ran past the end
  // Inside the image, far fewer calls reached the file than reads were
  // answered; past its end each read goes to the file, to fail there.
  EXPECT_LT(sourceReadsInside, uint64_t(readsInside) / 20);
}

TEST(ReadAheadSource, viewsHoldWhatReadsWouldRead_acrossWindowEnds_andFailWhereTheSourceFails) {
  test::TempDir dir;
  std::vector<uint8_t> bytes(3 * 1048576 + 7 * 512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131 + (i >> 9));
  std::ofstream(dir.File("cut.img"), std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  DiskSource inner;
  ASSERT_EQ(inner.OpenPath(dir.File("cut.img")), DriveOpenStatus::Ok);
  ReadAheadSource ahead(inner, 1048576);

  // Records back to back, each taken as the span reader takes it: its
  // sectors in one view (the head sector being the last of the record
  // before), else with reads. Lengths that do not divide the window put
  // records across its end.
  std::vector<uint8_t> got(70 * 512);
  uint64_t at = 512;
  int records = 0, viewed = 0, readOk = 0;
  const size_t lengths[] = {512, 69 * 512, 1024, 8192, 3 * 512, 40 * 512};
  while (at - 512 < bytes.size()) {
    const size_t length = lengths[size_t(records) % std::size(lengths)];
    const uint64_t from = at - 512;
    const bool inside = from + 512 + length <= bytes.size();
    if (const uint8_t *view = ahead.View(from, 512 + length)) {
      ASSERT_TRUE(inside) << "a view past the end at " << from;
      EXPECT_EQ(std::memcmp(view, bytes.data() + from, 512 + length), 0) << "at " << from;
      ++viewed;
    } else if (ahead.Seek(from) && ahead.Read(got.data(), 512 + length)) {
      ASSERT_TRUE(inside) << "a read past the end at " << from;
      EXPECT_EQ(std::memcmp(got.data(), bytes.data() + from, 512 + length), 0) << "at " << from;
      ++readOk;
    } else {
      EXPECT_FALSE(inside) << "a failed read inside the image at " << from;
    }
    ++records;
    at += length;
  }
  // All but the first records and those the image's end cuts are views,
  // made from a few large reads.
  EXPECT_GT(viewed, records - 8);
  EXPECT_LT(ahead.SourceReads(), uint64_t(records) / 20);
  EXPECT_EQ(ahead.View(511, 512), nullptr);  // not on a sector
}

TEST(SpanReader, takesWhatAPlainCopyTakes_inLargeReads_evenWhereTheDataAreaIsCutShort) {
  test::TempDir dir;
  tools::RecorderImage image;
  test::AddPatternEntries(image, 6000, kStart, 10, 700);
  // A corrupt entry in the middle of a run of records: a size no record
  // has. It is skipped and counted; the records around it are taken.
  image.entries[1500].size = kMaxRecordBytes + 1;
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(dir.File("disk.img"), image, &error)) << error;
  DiskSource disk;
  DiskGeometry g;
  ASSERT_EQ(disk.OpenPath(dir.File("disk.img")), DriveOpenStatus::Ok);
  ASSERT_EQ(ReadGeometry(disk, g), GeometryStatus::Ok);

  SpanReader span(disk, g);
  const Taken plain = ReadPlainly(disk, g, kStart + 60, kStart + 480);
  const Taken read = ReadSpan(span, kStart + 60, kStart + 480);
  ASSERT_EQ(read.entries.size(), plain.entries.size());
  EXPECT_EQ(read.entries, plain.entries);
  EXPECT_EQ(read.records, plain.records);
  EXPECT_LT(span.DiskReads(), read.entries.size() / 20);
  EXPECT_EQ(span.SkippedRecords(), 1u);
  EXPECT_EQ(std::count(read.entries.begin(), read.entries.end(), image.entries[1499]), 1);
  EXPECT_EQ(std::count(read.entries.begin(), read.entries.end(), image.entries[1501]), 1);

  // The image ends in the middle of the span's records: those behind the
  // end are skipped, the others taken, as a plain copy does.
  std::filesystem::resize_file(dir.File("disk.img"), g.dataBase + image.entries[3000].offset + 100);
  DiskSource cut;
  ASSERT_EQ(cut.OpenPath(dir.File("disk.img")), DriveOpenStatus::Ok);
  SpanReader cutSpan(cut, g);
  const Taken cutPlain = ReadPlainly(cut, g, kStart + 60, kStart + 480);
  const Taken cutRead = ReadSpan(cutSpan, kStart + 60, kStart + 480);
  EXPECT_EQ(cutRead.entries, cutPlain.entries);
  EXPECT_EQ(cutRead.records, cutPlain.records);
  ASSERT_FALSE(cutPlain.entries.empty());
  EXPECT_LT(cutPlain.entries.size(), plain.entries.size());
  // Only the records the cut reaches are lost; the last one whole before it
  // is taken.
  const uint64_t cutAt = image.entries[3000].offset + 100;
  EXPECT_LE(cutPlain.entries.back().offset + cutPlain.entries.back().size, cutAt);
  EXPECT_GT(cutPlain.entries.back().offset + 2 * cutPlain.entries.back().size + 512, cutAt);
  EXPECT_EQ(cutSpan.SkippedRecords(), uint64_t(plain.entries.size() - cutPlain.entries.size()) + 1);
}

// A single entry's time is the one a span's table gives it: the table's
// clock run from the start of the recording, and from a span beginning
// anywhere before, agree with the clock primed from the block before.
TEST(EntryTimeMs, givesTheTablesMilliseconds_forEntriesAnywhere) {
  test::TempDir dir;
  tools::RecorderImage image;
  // 33 entries a second: delays that do not add up to whole seconds.
  test::AddPatternEntries(image, 3000, kStart, 33, 300);
  std::string error;
  const std::string path = dir.File("entry-ms.img");
  ASSERT_TRUE(tools::WriteRecorderImage(path, image, &error)) << error;
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok);
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(disk, g), GeometryStatus::Ok);
  RecordingClock clock;
  std::vector<int64_t> tableMs;
  for (int64_t n = 0; n < g.playEnd; ++n) {
    IndexEntry e;
    ASSERT_TRUE(ReadIndexEntry(disk, n, e));
    tableMs.push_back(e.channel < 4 ? clock.Stamp(e) : -1);
  }
  int checked = 0;
  for (int64_t n = 0; n < g.playEnd; n += 97) {
    IndexEntry e;
    const int64_t ms = EntryTimeMs(disk, g, n, &e);
    if (e.channel >= 4) continue;
    EXPECT_EQ(ms, tableMs[size_t(n)]) << n;
    EXPECT_EQ(ms / 1000, int64_t{e.time}) << n;
    ++checked;
  }
  EXPECT_GT(checked, 20);
  EXPECT_EQ(EntryTimeMs(disk, g, g.playEnd), -1);
  EXPECT_EQ(EntryTimeMs(disk, g, -1), -1);
  // An entry that cannot be read on the way: no time.
  EXPECT_EQ(EntryTimeMs([](int64_t k, IndexEntry &) { return k < 3; }, 5), -1);
}
