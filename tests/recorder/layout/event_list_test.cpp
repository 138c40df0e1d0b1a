#include <gtest/gtest.h>

#include "recorder/layout/event_list.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

std::string WriteLog(const test::TempDir &dir, const std::string &name, int64_t stored,
                     const std::vector<EventRecord> &events) {
  tools::RecorderImage image;
  image.events = events;
  image.eventCount = stored;
  test::AddPatternEntries(image, 10, 1202982297, 4);
  std::string error;
  EXPECT_TRUE(tools::WriteRecorderImage(dir.File(name), image, &error)) << error;
  return dir.File(name);
}

std::vector<EventRecord> Events(int n, uint8_t channel = 2) {
  std::vector<EventRecord> v;
  for (int k = 0; k < n; ++k)
    v.push_back(EventRecord{0, uint16_t((k % 6 + 1) << 4), channel, uint32_t(1202982297 + k)});
  return v;
}

}  // namespace

TEST(EventList, rowsCarryNumberChannelTimeAndKindName) {
  test::TempDir dir;
  auto events = Events(7);
  events[2].kindWord = 0x0031;  // low bits are not part of the kind
  const std::string path = WriteLog(dir, "d.img", 7, events);
  DiskSource src;
  ASSERT_EQ(src.OpenPath(path), DriveOpenStatus::Ok);
  CEventList list;
  list.LoadEvents(src);
  ASSERT_EQ(list.RowCount(), 8u);
  EXPECT_EQ(list.Cell(0, 0), "Num");
  EXPECT_EQ(list.Cell(1, 0), "Channel");
  EXPECT_EQ(list.Cell(2, 0), "Time");
  EXPECT_EQ(list.Cell(3, 0), "Type");
  EXPECT_EQ(list.Cell(0, 1), "1");
  EXPECT_EQ(list.Cell(1, 1), "2");
  EXPECT_EQ(list.Cell(2, 1), "2008/02/14_09:44:57");
  EXPECT_EQ(list.Cell(3, 1), "Rec Start");
  EXPECT_EQ(list.Cell(3, 2), "Power On");
  EXPECT_EQ(list.Cell(3, 3), "Alarm");
  EXPECT_EQ(list.Cell(3, 4), "Video Loss");
  EXPECT_EQ(list.Cell(3, 5), "Motion");
  // Kind 6: listed, no type, still a jump target.
  EXPECT_EQ(list.Cell(0, 6), "6");
  EXPECT_EQ(list.Cell(3, 6), "");
  uint32_t t = 0;
  ASSERT_TRUE(list.JumpTime(6, t));
  EXPECT_EQ(t, 1202982297u + 5);
  ASSERT_TRUE(list.JumpTime(5, t));
  EXPECT_EQ(t, 1202982297u + 4);
  EXPECT_FALSE(list.JumpTime(0, t));
  EXPECT_FALSE(list.JumpTime(8, t));
}

TEST(EventList, channelZeroOrAboveFour_isBlankOnlyInTheFirstSector) {
  test::TempDir dir;
  auto events = Events(70, 0);
  events[1].channel = 5;
  events[2].channel = 4;
  events[64].channel = 9;
  const std::string path = WriteLog(dir, "d.img", 70, events);
  DiskSource src;
  ASSERT_EQ(src.OpenPath(path), DriveOpenStatus::Ok);
  CEventList list;
  list.LoadEvents(src);
  EXPECT_EQ(list.Cell(1, 1), "");
  EXPECT_EQ(list.Cell(1, 2), "");
  EXPECT_EQ(list.Cell(1, 3), "4");
  EXPECT_EQ(list.Cell(1, 63), "");
  EXPECT_EQ(list.Cell(1, 64), "0");  // first record of the second sector
  EXPECT_EQ(list.Cell(1, 65), "9");
}

TEST(EventList, counts0_63_64_andACountBeyondTheImage) {
  test::TempDir dir;
  DiskSource src;
  CEventList list;

  ASSERT_EQ(src.OpenPath(WriteLog(dir, "a.img", 0, {})), DriveOpenStatus::Ok);
  list.LoadEvents(src);
  EXPECT_EQ(list.RowCount(), 1u);
  uint32_t t;
  EXPECT_FALSE(list.JumpTime(1, t));

  ASSERT_EQ(src.OpenPath(WriteLog(dir, "b.img", 63, Events(63))), DriveOpenStatus::Ok);
  list.LoadEvents(src);
  EXPECT_EQ(list.Times().size(), 63u);

  ASSERT_EQ(src.OpenPath(WriteLog(dir, "c.img", 64, Events(80))), DriveOpenStatus::Ok);
  list.LoadEvents(src);
  EXPECT_EQ(list.RowCount(), 65u);
  EXPECT_EQ(list.Times().size(), 64u);
  EXPECT_EQ(list.Cell(0, 64), "64");

  // A count far beyond what the log holds: capped at 14335 rows; every
  // record read (zeros here) is listed, and the list is bounded.
  ASSERT_EQ(src.OpenPath(WriteLog(dir, "d.img", 4000000000, Events(3))), DriveOpenStatus::Ok);
  list.LoadEvents(src);
  EXPECT_EQ(list.StoredEventCount(), 4000000000u);
  EXPECT_EQ(list.EventCount(), 14335u);
  EXPECT_EQ(list.RowCount(), 14336u);
  EXPECT_EQ(list.Times().size(), 14335u);
  EXPECT_EQ(list.Cell(2, 14335), "1970/01/01_00:00:00");
}

TEST(EventList, aFailedHeaderRead_keepsThePreviousCount_butNoRows) {
  test::TempDir dir;
  DiskSource src;
  CEventList list;
  ASSERT_EQ(src.OpenPath(WriteLog(dir, "a.img", 5, Events(5))), DriveOpenStatus::Ok);
  list.LoadEvents(src);
  ASSERT_EQ(list.Times().size(), 5u);
  std::vector<uint8_t> tiny(1024);
  MemorySource shortDisk(tiny.data(), tiny.size());
  list.LoadEvents(shortDisk);
  EXPECT_EQ(list.EventCount(), 5u);
  EXPECT_EQ(list.RowCount(), 6u);
  EXPECT_TRUE(list.Times().empty());  // the old list was cleared
  EXPECT_EQ(list.Cell(0, 1), "");
}
