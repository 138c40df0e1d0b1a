// The rules a recovery believes an entry by, the merged byte runs it
// decides overlap with, and the scanner that finds pictures in raw bytes.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/recovery/byte_runs.h"
#include "recorder/recovery/carve_scanner.h"
#include "recorder/recovery/entry_rules.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

DiskGeometry Geometry() { return GeometryFrom(1, 2000); }  // data from byte 1572864

IndexEntry Entry(int8_t type, uint8_t channel, uint32_t size, uint64_t offset, uint32_t time) {
  IndexEntry e;
  e.type = type;
  e.channel = channel;
  e.size = size;
  e.offset = offset;
  e.time = time;
  return e;
}

TEST(EntryRules, EachRuleAndItsEdges) {
  const DiskGeometry g = Geometry();
  const uint64_t disk = g.dataBase + 1000000;
  EXPECT_EQ(CheckEntry(g, disk, Entry(1, 0, 100, 0, 5)), EntryVerdict::kValid);
  EXPECT_EQ(CheckEntry(g, disk, Entry(19, 3, 102400, 0, 5)), EntryVerdict::kValid);
  EXPECT_EQ(CheckEntry(g, disk, Entry(5, 0, 100, 0, 5)), EntryVerdict::kBadType);
  EXPECT_EQ(CheckEntry(g, disk, Entry(-1, 0, 100, 0, 5)), EntryVerdict::kBadType);
  EXPECT_EQ(CheckEntry(g, disk, Entry(0, 4, 100, 0, 5)), EntryVerdict::kBadChannel);
  EXPECT_EQ(CheckEntry(g, disk, Entry(0, 255, 100, 0, 5)), EntryVerdict::kBadChannel);
  EXPECT_EQ(CheckEntry(g, disk, Entry(0, 0, 0, 0, 5)), EntryVerdict::kBadSize);
  EXPECT_EQ(CheckEntry(g, disk, Entry(0, 0, 102401, 0, 5)), EntryVerdict::kBadSize);
  EXPECT_EQ(CheckEntry(g, disk, Entry(0, 0, 0xFFFFFFFF, 0, 5)), EntryVerdict::kBadSize);
  // The record's last byte is the disk's last byte: inside; one further: not.
  EXPECT_EQ(CheckEntry(g, disk, Entry(3, 0, 100, 1000000 - 100, 5)), EntryVerdict::kValid);
  EXPECT_EQ(CheckEntry(g, disk, Entry(3, 0, 100, 1000000 - 99, 5)), EntryVerdict::kPastDisk);
  // Offsets that overflow the disk's positions, whatever the disk's length.
  EXPECT_EQ(CheckEntry(g, 0, Entry(3, 0, 100, UINT64_MAX, 5)), EntryVerdict::kPastDisk);
  EXPECT_EQ(CheckEntry(g, 0, Entry(3, 0, 100, UINT64_MAX - g.dataBase - 50, 5)),
            EntryVerdict::kPastDisk);
  EXPECT_EQ(CheckEntry(g, disk, Entry(1, 0, 100, 0, 0)), EntryVerdict::kNoTime);
}

TEST(EntryRules, RecordsBeginAsTheirTypesSay) {
  const uint8_t mpeg4[] = {0x00, 0x00, 0x01, 0xB6};
  const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF};
  const uint8_t zeros[] = {0, 0, 0};
  for (int8_t type : {int8_t(0), int8_t(1), int8_t(17), int8_t(18)}) {
    EXPECT_TRUE(BeginsAsTyped(Entry(type, 0, 50, 0, 1), mpeg4, 4)) << int(type);
    EXPECT_FALSE(BeginsAsTyped(Entry(type, 0, 50, 0, 1), jpeg, 3)) << int(type);
    EXPECT_FALSE(BeginsAsTyped(Entry(type, 0, 50, 0, 1), zeros, 3)) << int(type);
    EXPECT_FALSE(BeginsAsTyped(Entry(type, 0, 50, 0, 1), mpeg4, 2)) << "head too short";
  }
  for (int8_t type : {int8_t(2), int8_t(19)}) {
    EXPECT_TRUE(BeginsAsTyped(Entry(type, 0, 50, 0, 1), jpeg, 3));
    EXPECT_FALSE(BeginsAsTyped(Entry(type, 0, 50, 0, 1), mpeg4, 4));
  }
  // Audio is whole stereo samples, whatever its bytes.
  EXPECT_TRUE(BeginsAsTyped(Entry(3, 0, 4000, 0, 1), nullptr, 0));
  EXPECT_FALSE(BeginsAsTyped(Entry(3, 0, 4002, 0, 1), nullptr, 0));
  // A record shorter than the start it should have.
  EXPECT_FALSE(BeginsAsTyped(Entry(1, 0, 2, 0, 1), mpeg4, 4));
  EXPECT_FALSE(BeginsAsTyped(Entry(7, 0, 50, 0, 1), mpeg4, 4));
}

TEST(ByteRuns, MergesOverlappingAndTouchingRangesInAnyOrder) {
  ByteRuns runs;
  runs.Add(100, 200, 1);
  runs.Add(200, 300, 2);  // touches: one run
  runs.Add(500, 600, 5);
  runs.Add(50, 120, 0);  // overlaps the first from before
  runs.Add(400, 450, 4);
  EXPECT_EQ(runs.Runs(), 3u);
  EXPECT_EQ(runs.Bytes(), 250u + 50 + 100);
  runs.Add(290, 510, 3);  // joins all three
  EXPECT_EQ(runs.Runs(), 1u);
  EXPECT_EQ(runs.Bytes(), 550u);
  runs.Add(60, 70, 9);  // inside: nothing changes
  EXPECT_EQ(runs.Bytes(), 550u);
  EXPECT_TRUE(runs.Overlaps(599, 700));
  EXPECT_FALSE(runs.Overlaps(600, 700)) << "touching is not overlapping";
  EXPECT_FALSE(runs.Overlaps(0, 50));
  EXPECT_FALSE(runs.Overlaps(70, 70)) << "an empty range overlaps nothing";
}

TEST(ByteRuns, GapsAndTheTimesOnEitherSide) {
  ByteRuns runs;
  for (uint64_t i = 0; i < 10; ++i) runs.Add(i * 10, i * 10 + 10, uint32_t(100 + i));  // 0..100
  runs.Add(300, 400, 300);
  runs.Add(400, 420, 301);
  EXPECT_EQ(runs.Runs(), 2u);
  std::vector<std::pair<uint64_t, uint64_t>> gaps;
  runs.ForEachGap(0, 1000, [&](uint64_t b, uint64_t e) { gaps.push_back({b, e}); });
  ASSERT_EQ(gaps.size(), 2u);
  EXPECT_EQ(gaps[0], (std::pair<uint64_t, uint64_t>{100, 300}));
  EXPECT_EQ(gaps[1], (std::pair<uint64_t, uint64_t>{420, 1000}));
  gaps.clear();
  runs.ForEachGap(50, 350, [&](uint64_t b, uint64_t e) { gaps.push_back({b, e}); });
  ASSERT_EQ(gaps.size(), 1u);
  EXPECT_EQ(gaps[0], (std::pair<uint64_t, uint64_t>{100, 300}));
  EXPECT_EQ(runs.BytesWithin(50, 350), 100u);
  // A position in the first gap lies after the record ending at 100 (time
  // 109) and before the one starting at 300 (time 300).
  ASSERT_NE(runs.Before(150), nullptr);
  EXPECT_EQ(runs.Before(150)->endTime, 109u);
  ASSERT_NE(runs.After(150), nullptr);
  EXPECT_EQ(runs.After(150)->beginTime, 300u);
  EXPECT_EQ(runs.Before(50), nullptr);
  EXPECT_EQ(runs.After(500), nullptr);
}

// An MPEG-4 picture as a recorder's encoder writes it: stream headers,
// then the VOP, then payload bytes without start codes.
std::vector<uint8_t> Vop(bool intra, bool headers, size_t payload) {
  std::vector<uint8_t> v;
  if (headers) {
    const uint8_t h[] = {0, 0, 1, 0xB0, 0xF5, 0, 0, 1,    0xB5, 0x09,
                         0, 0, 1, 0x00, 0,    0, 1, 0x20, 0x08};
    v.insert(v.end(), h, h + sizeof h);
  }
  const uint8_t vop[] = {0, 0, 1, 0xB6, uint8_t(intra ? 0x10 : 0x50)};
  v.insert(v.end(), vop, vop + sizeof vop);
  for (size_t i = 0; i < payload; ++i) v.push_back(uint8_t(0x80 | (i % 0x7F)));
  return v;
}

TEST(CarveScanner, FindsKeyPicturesWithTheirHeadersAndJpegs) {
  std::vector<uint8_t> bytes(37, 0x55);
  const size_t first = bytes.size();
  const auto key = Vop(true, true, 300);
  bytes.insert(bytes.end(), key.begin(), key.end());
  const auto predicted = Vop(false, false, 200);
  bytes.insert(bytes.end(), predicted.begin(), predicted.end());
  const size_t lone = bytes.size();
  const auto keyAlone = Vop(true, false, 100);
  bytes.insert(bytes.end(), keyAlone.begin(), keyAlone.end());
  const size_t jpegAt = bytes.size();
  const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 0xFF, 0x00, 3, 0xFF, 0xD9};
  bytes.insert(bytes.end(), jpeg, jpeg + sizeof jpeg);
  bytes.insert(bytes.end(), 20, 0x11);

  std::vector<CarveCandidate> found;
  ScanForPictures(bytes.data(), bytes.size(), bytes.size(), found);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].kind, CarveCandidate::Kind::kMpeg4Key);
  EXPECT_EQ(found[0].at, first);
  EXPECT_TRUE(found[0].hasHeaders);
  EXPECT_EQ(found[0].bytes, key.size()) << "ends where the predicted picture starts";
  EXPECT_EQ(found[1].at, lone);
  EXPECT_FALSE(found[1].hasHeaders);
  // The lone key picture runs to the next start of anything: the JPEG's
  // bytes have no start code, so it runs to the end of the buffer.
  EXPECT_EQ(found[1].bytes, bytes.size() - lone);
  EXPECT_EQ(found[2].kind, CarveCandidate::Kind::kJpeg);
  EXPECT_EQ(found[2].at, jpegAt);
  EXPECT_EQ(found[2].bytes, sizeof jpeg);

  // Only pictures starting before the limit are reported.
  found.clear();
  ScanForPictures(bytes.data(), bytes.size(), lone, found);
  EXPECT_EQ(found.size(), 1u);
}

TEST(CarveScanner, RefusesWhatCannotBeAPicture) {
  std::vector<CarveCandidate> found;
  // A JPEG start without an end, a key picture longer than any record,
  // start codes cut by the buffer's end, and nothing at all.
  std::vector<uint8_t> open = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0};
  ScanForPictures(open.data(), open.size(), open.size(), found);
  auto huge = Vop(true, true, kMaxCarvedBytes + 10);
  ScanForPictures(huge.data(), huge.size(), huge.size(), found);
  const uint8_t cut[] = {0x22, 0x00, 0x00, 0x01};
  ScanForPictures(cut, sizeof cut, sizeof cut, found);
  ScanForPictures(nullptr, 0, 0, found);
  const std::vector<uint8_t> zeros(1 << 16, 0);
  ScanForPictures(zeros.data(), zeros.size(), zeros.size(), found);
  EXPECT_TRUE(found.empty());
}

}  // namespace
