#include <cstring>

#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

// A source that counts the reads it was asked for and refuses reads that
// do not start on a sector, like a raw device.
class CountingSource : public ByteSource {
 public:
  explicit CountingSource(ByteSource &inner) : m_inner(inner) {}
  bool Seek(uint64_t offset) override { return m_inner.Seek(offset); }
  bool Read(void *b, size_t n, size_t *got) override {
    ++reads;
    bytes += n;
    return m_inner.Read(b, n, got);
  }
  int reads = 0;
  uint64_t bytes = 0;

 private:
  ByteSource &m_inner;
};

std::vector<uint8_t> ProbeWithState(int slot, uint64_t indexCount, uint32_t indexAreaMiB = 4) {
  std::vector<uint8_t> probe(kProbeBytes);
  const auto h = tools::MakeDiskHeader(indexAreaMiB);
  std::memcpy(probe.data(), h.data(), h.size());
  if (slot >= 0) {
    const auto s = tools::MakeStateEntry(kValidStateTag, indexCount);
    std::memcpy(probe.data() + 16 + 20 * slot, s.data(), s.size());
  }
  return probe;
}

}  // namespace

TEST(IsRecorderDisk, signatureMustComeBeforeTheFirstZeroByte) {
  std::vector<uint8_t> probe(kProbeBytes, 0);
  std::memcpy(probe.data(), "VORN", 4);
  EXPECT_TRUE(IsRecorderDisk(probe));
  probe.assign(kProbeBytes, 0);
  std::memcpy(probe.data() + 1, "VORN", 4);  // behind a zero first byte
  EXPECT_FALSE(IsRecorderDisk(probe));
  probe.assign(kProbeBytes, 'x');
  std::memcpy(probe.data() + 1000, "VORN", 4);  // no zero at all: the whole buffer counts
  EXPECT_TRUE(IsRecorderDisk(probe));
  probe.assign(kProbeBytes, 'x');
  std::memcpy(probe.data() + kProbeBytes - 3, "VOR", 3);  // cut off by the end
  EXPECT_FALSE(IsRecorderDisk(probe));
  EXPECT_FALSE(IsRecorderDisk({}));
}

TEST(ReadGeometry, stateEntryAt99_isAccepted_andNoneIsAStateError) {
  auto probe = ProbeWithState(99, 1000);
  DiskGeometry g;
  DiskStateEntry state;
  ASSERT_EQ(ParseGeometry(probe, g, nullptr, &state), GeometryStatus::Ok);
  EXPECT_EQ(state.slot, 99);
  EXPECT_EQ(g.indexCount, 1000);
  EXPECT_EQ(g.playEnd, 700);
  EXPECT_EQ(g.dataBase, 524288u + 4u * 1048576u);

  // Tags other than 170 are skipped; the first 170 wins.
  probe = ProbeWithState(40, 5000);
  const auto other = tools::MakeStateEntry(171, 9999);
  std::memcpy(probe.data() + 16, other.data(), 20);
  const auto later = tools::MakeStateEntry(kValidStateTag, 7777);
  std::memcpy(probe.data() + 16 + 20 * 41, later.data(), 20);
  ASSERT_EQ(ParseGeometry(probe, g, nullptr, &state), GeometryStatus::Ok);
  EXPECT_EQ(state.slot, 40);
  EXPECT_EQ(g.indexCount, 5000);

  probe = ProbeWithState(-1, 0);
  EXPECT_EQ(ParseGeometry(probe, g), GeometryStatus::NoValidState);
  // A 170 just behind the table (slot 100) does not count.
  const auto behind = tools::MakeStateEntry(kValidStateTag, 1000);
  std::memcpy(probe.data() + 16 + 20 * 100, behind.data(), 20);
  EXPECT_EQ(ParseGeometry(probe, g), GeometryStatus::NoValidState);
  EXPECT_EQ(std::string(kStateErrorText), "Check HDD State Error!!");
}

TEST(ReadGeometry, indexAreaZero_putsDataRightBehindTheIndexStart_andSmallCountsAreEmpty) {
  DiskGeometry g;
  ASSERT_EQ(ParseGeometry(ProbeWithState(0, 300, 0), g), GeometryStatus::Ok);
  EXPECT_EQ(g.dataBase, 524288u);
  EXPECT_EQ(g.playEnd, 0);
  ASSERT_EQ(ParseGeometry(ProbeWithState(0, 299, 0), g), GeometryStatus::Ok);
  EXPECT_EQ(g.playEnd, 0);
  ASSERT_EQ(ParseGeometry(ProbeWithState(0, 0, 0), g), GeometryStatus::Ok);
  EXPECT_EQ(g.playEnd, 0);
  ASSERT_EQ(ParseGeometry(ProbeWithState(0, 301, 0xFFFFFFFF), g), GeometryStatus::Ok);
  EXPECT_EQ(g.playEnd, 1);
  EXPECT_EQ(g.dataBase, 524288u + 0xFFFFFFFFull * 1048576u);
  // Counts that read as negative, or beyond any representable position.
  ASSERT_EQ(ParseGeometry(ProbeWithState(0, 0x8000000000000000ull), g), GeometryStatus::Ok);
  EXPECT_EQ(g.playEnd, 0);
  ASSERT_EQ(ParseGeometry(ProbeWithState(0, 0x7FFFFFFFFFFFFFFFull), g), GeometryStatus::Ok);
  EXPECT_EQ(g.playEnd, kMaxEntryNumber);
}

TEST(ReadGeometry, readsThroughTheSource_andShortDisksShowWhatTheyHold) {
  test::TempDir dir;
  tools::RecorderImage image;
  image.stateSlot = 3;
  test::AddPatternEntries(image, 1000, 1202982297, 10);
  DiskSource src;
  ASSERT_TRUE(test::WriteAndOpen(dir.File("d.img"), image, src));
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(src, g), GeometryStatus::Ok);
  EXPECT_EQ(g.playEnd, 1000);

  // A disk cut inside the first 512 KiB still shows its header and state;
  // its layout says how much is missing.
  const auto probe = ProbeWithState(0, 1000);
  MemorySource shortSource(probe.data(), 4096);
  ASSERT_EQ(ReadGeometry(shortSource, g), GeometryStatus::Ok);
  EXPECT_EQ(g.playEnd, 700);
  EXPECT_EQ(LayoutMinimumBytes(shortSource, g), kIndexAreaOffset + 1000 * kEntryBytes);
  MemorySource headerOnly(probe.data(), 8);
  EXPECT_EQ(ReadGeometry(headerOnly, g), GeometryStatus::NotRecorderDisk);
}

TEST(IndexReader, entryStraddlingTwoSectors_isAssembledFromTheCarry) {
  tools::RecorderImage image;
  test::AddPatternEntries(image, 1100, 1202982297, 3);
  image.entries[25].time = 0xA1B2C3D4;  // bytes 500..519 of the index area
  image.entries[25].offset = 0x0102030405060708ull;
  test::TempDir dir;
  DiskSource src;
  ASSERT_TRUE(test::WriteAndOpen(dir.File("d.img"), image, src));

  IndexReader reader;
  ASSERT_TRUE(reader.Start(src, 0));
  ASSERT_TRUE(reader.ReadStep(src));
  EXPECT_EQ(reader.Entries().size(), 25u);
  EXPECT_EQ(reader.CarryBytes(), 12u);
  EXPECT_EQ(reader.Next(), 25);
  ASSERT_TRUE(reader.Resync(src));
  ASSERT_TRUE(reader.ReadStep(src));
  ASSERT_EQ(reader.Entries().size(), 26u);  // (12 + 512) / 20
  EXPECT_EQ(reader.Entries()[0], image.entries[25]);
  EXPECT_EQ(reader.CarryBytes(), 4u);

  // Reading on, with data reads in between moving the position, yields
  // every entry exactly once, in order; the resync position stays on a
  // sector boundary throughout.
  ASSERT_TRUE(reader.Start(src, 512));
  int64_t expected = 512;
  std::vector<uint8_t> record(kMaxRecordBytes);
  DiskGeometry g = GeometryFrom(1, image.entries.size() + 300);
  while (expected < 1100) {
    ASSERT_TRUE(reader.ReadStep(src));
    for (const auto &e : reader.Entries()) {
      if (expected < 1100) {
        ASSERT_EQ(e, image.entries[size_t(expected)]) << expected;
      }
      ++expected;
      ASSERT_TRUE(ReadDataRecord(src, g, image.entries[0], record.data()));
    }
    ASSERT_TRUE(reader.Resync(src));  // fails on a position off the sector grid
  }
}

TEST(ReadDataRecord, unalignedShortRecord_readsOneSector_andBoundaryRecordTwo) {
  tools::RecorderImage image;
  image.indexAreaMiB = 0;
  image.data.resize(8192);
  for (size_t i = 0; i < image.data.size(); ++i) image.data[i] = uint8_t(i * 13 + 5);
  test::TempDir dir;
  DiskSource file;
  ASSERT_TRUE(test::WriteAndOpen(dir.File("d.img"), image, file));
  CountingSource src(file);
  const DiskGeometry g = GeometryFrom(0, 300);
  std::vector<uint8_t> buf(kMaxRecordBytes, 0xEE);

  IndexEntry e;
  e.offset = 1024 - 10;  // 10 bytes before a sector boundary
  e.size = 5;
  ASSERT_TRUE(ReadDataRecord(src, g, e, buf.data()));
  EXPECT_EQ(src.reads, 1);
  EXPECT_EQ(src.bytes, 512u);
  EXPECT_EQ(0, std::memcmp(buf.data(), image.data.data() + e.offset, 5));

  src.reads = 0;
  src.bytes = 0;
  e.offset = 1024;  // on a boundary
  e.size = 513;
  ASSERT_TRUE(ReadDataRecord(src, g, e, buf.data()));
  EXPECT_EQ(src.reads, 1);
  EXPECT_EQ(src.bytes, 1024u);
  EXPECT_EQ(0, std::memcmp(buf.data(), image.data.data() + 1024, 513));

  e.offset = 1500;  // head of 36 bytes, then a rounded rest
  e.size = 3000;
  ASSERT_TRUE(ReadDataRecord(src, g, e, buf.data()));
  EXPECT_EQ(0, std::memcmp(buf.data(), image.data.data() + 1500, 3000));

  e.offset = 8192 - 100;  // runs past the end of the image
  e.size = 200;
  EXPECT_FALSE(ReadDataRecord(src, g, e, buf.data()));
}

TEST(ReadDataRecord, recordsBeyondTheBufferOrOffsetRange_areRefusedWithoutReading) {
  std::vector<uint8_t> disk(kProbeBytes + 300000);
  MemorySource mem(disk.data(), disk.size());
  CountingSource src(mem);
  const DiskGeometry g = GeometryFrom(0, 1000);
  std::vector<uint8_t> buf(kMaxRecordBytes);
  IndexEntry e;
  e.offset = 0;
  e.size = kMaxRecordBytes;  // aligned and exactly the buffer: fine
  EXPECT_TRUE(ReadDataRecord(src, g, e, buf.data()));
  e.offset = 1;  // the head sector pushes it beyond 102400 bytes
  EXPECT_FALSE(ReadDataRecord(src, g, e, buf.data()));
  e.offset = 511;
  e.size = kMaxRecordBytes - 511;  // 1 head byte + 200 rounded sectors - 1
  EXPECT_TRUE(ReadDataRecord(src, g, e, buf.data()));
  e.size = 0xFFFFFFFF;
  EXPECT_FALSE(ReadDataRecord(src, g, e, buf.data()));
  src.reads = 0;
  e.size = 10;
  e.offset = ~0ull - 5;  // dataBase + offset would wrap
  EXPECT_FALSE(ReadDataRecord(src, g, e, buf.data()));
  e.offset = uint64_t(INT64_MAX);
  EXPECT_FALSE(ReadDataRecord(src, g, e, buf.data()));
  EXPECT_EQ(src.reads, 0);
}

TEST(ReadEventLog, counts63And64_readOneAndTwoSectors_andAbsurdCountsAreCapped) {
  auto makeLog = [](uint32_t stored, int records) {
    std::vector<uint8_t> disk(kProbeBytes);
    std::vector<EventRecord> events;
    for (int k = 0; k < records; ++k)
      events.push_back(EventRecord{0, uint16_t(0x31), 2, uint32_t(1000 + k)});
    const auto log = tools::MakeEventLogBytes(stored, events);
    std::memcpy(disk.data() + kEventLogOffset, log.data(), log.size());
    return disk;
  };
  {
    auto disk = makeLog(63, 63);
    MemorySource mem(disk.data(), disk.size());
    CountingSource src(mem);
    const EventLog log = ReadEventLog(src);
    EXPECT_EQ(src.reads, 1);
    ASSERT_EQ(log.records.size(), 63u);
    EXPECT_EQ(log.records[62].time, 1062u);
  }
  {
    auto disk = makeLog(64, 64);
    MemorySource mem(disk.data(), disk.size());
    CountingSource src(mem);
    const EventLog log = ReadEventLog(src);
    EXPECT_EQ(src.reads, 2);
    ASSERT_EQ(log.records.size(), 64u);
    EXPECT_EQ(log.records[63].time, 1063u);
    EXPECT_EQ(log.records[63].Kind(), 3);
  }
  {
    // A count far beyond the log area: reading stops where the log ends.
    auto disk = makeLog(0xFFFFFFFF, 10);
    MemorySource mem(disk.data(), disk.size());
    CountingSource src(mem);
    const EventLog log = ReadEventLog(src);
    EXPECT_EQ(log.header.eventCount, 0xFFFFFFFFu);
    EXPECT_EQ(log.records.size(), size_t(kMaxEventCount));
    EXPECT_EQ(src.reads, 1 + (14335 - 63 + 63) / 64);
  }
  {
    // The image ends inside the log: the records read so far stand.
    auto disk = makeLog(500, 500);
    MemorySource mem(disk.data(), kEventLogOffset + 3 * 512);
    const EventLog log = ReadEventLog(mem);
    EXPECT_EQ(log.records.size(), 63u + 2 * 64u);
  }
}

TEST(EventRecord, kindIsTheSignedWordShiftedByFour) {
  EXPECT_EQ((EventRecord{0, 0x0031, 1, 0}).Kind(), 3);
  EXPECT_EQ((EventRecord{0, 0x0060, 1, 0}).Kind(), 6);
  EXPECT_EQ((EventRecord{0, 0xFFF0, 1, 0}).Kind(), -1);
  EXPECT_EQ(EventKindName(3), "Alarm");
  EXPECT_EQ(EventKindName(6), "");
}

TEST(TimeToCalendar, isTheUtcCalendarWithoutZone) {
  const SYSTEMTIME st = TimeToCalendar(1202982297);
  EXPECT_EQ(st.wYear, 2008);
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 14);
  EXPECT_EQ(st.wHour, 9);
  EXPECT_EQ(st.wMinute, 44);
  EXPECT_EQ(st.wSecond, 57);
  EXPECT_EQ(st.wMilliseconds, 0);
  EXPECT_EQ(TimeToCalendar(0xFFFFFFFF).wYear, 2106);
}

TEST(RecordTypes, mapToFrameTypesCodecWordsAndFastForward) {
  EXPECT_EQ(FrameTypeOfRecord(0), 3u);
  EXPECT_EQ(FrameTypeOfRecord(17), 3u);
  for (int8_t t : {1, 2, 18, 19}) {
    EXPECT_EQ(FrameTypeOfRecord(t), 2u) << int(t);
    EXPECT_TRUE(IsKeyPicture(t));
  }
  EXPECT_EQ(FrameTypeOfRecord(3), 5u);
  for (int8_t t : {4, 5, 16, 20, -1, 127}) {
    EXPECT_EQ(FrameTypeOfRecord(t), 0u) << int(t);
    EXPECT_FALSE(IsKnownRecordType(t));
    EXPECT_EQ(CodecWordOfRecord(t), 4);
  }
  EXPECT_EQ(CodecWordOfRecord(2), 0);
  EXPECT_EQ(CodecWordOfRecord(19), 0);
  EXPECT_EQ(CodecWordOfRecord(3), 4);
  EXPECT_TRUE(ShownInDiskFastForward(2));
  EXPECT_FALSE(ShownInDiskFastForward(19));
  EXPECT_FALSE(ShownInDiskFastForward(0));
}

TEST(LayoutDecider, elevenEntriesOfOneChannel_giveOne_andASecondChannelGivesZero) {
  LayoutDecider one;
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(one.See(2)) << i;
  EXPECT_TRUE(one.See(2));  // the eleventh
  EXPECT_EQ(one.Value(), 1);
  EXPECT_FALSE(one.See(3));  // decided once, then fixed
  EXPECT_EQ(one.Value(), 1);

  LayoutDecider two;
  EXPECT_FALSE(two.See(0));
  EXPECT_TRUE(two.See(1));  // the second entry
  EXPECT_TRUE(two.Decided());
  EXPECT_EQ(two.Value(), 0);
}
