// The survey's rules on small disks made entry by entry, where every stale
// entry's fate is known: overlap with a live record, a record that is not
// what its type says, spans broken by time, and a disk that fails under the
// reading; and the forward reader the passes read through.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "recorder/recovery/disk_survey.h"
#include "recorder/recovery/forward_reader.h"
#include "tests/support/faulty_source.h"
#include "tests/support/test_support.h"
#include "tools/disk_image.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

constexpr uint32_t kT = 1202982297;

struct Built {
  tools::RecorderImage image;
  // Appends an entry and its record behind the last one: a picture's
  // starts with a VOP start code unless `picture` is false.
  IndexEntry &Add(int8_t type, uint8_t channel, uint32_t time, uint32_t size, bool picture = true) {
    IndexEntry e;
    e.type = type;
    e.channel = channel;
    e.time = time;
    e.size = size;
    e.offset = image.data.size();
    for (uint32_t i = 0; i < size; ++i) image.data.push_back(uint8_t(0x40 + i % 64));
    if (picture && size >= 4) {
      image.data[e.offset] = 0;
      image.data[e.offset + 1] = 0;
      image.data[e.offset + 2] = 1;
      image.data[e.offset + 3] = 0xB6;
    }
    image.entries.push_back(e);
    return image.entries.back();
  }
};

std::vector<uint8_t> Bytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

TEST(HandMadeSurvey, EachStaleEntryGetsTheVerdictItsBytesCall) {
  test::TempDir dir;
  Built b;
  // Live: 10 pictures of 1000 bytes (entries 0..9), held back: 300 audio.
  for (int i = 0; i < 10; ++i) b.Add(i == 0 ? 1 : 0, uint8_t(i % 4), kT + uint32_t(i), 1000);
  for (int i = 0; i < 300; ++i) b.Add(3, 0, kT + 10, 400, false);
  b.image.indexCount = 310;
  // Stale, in index order:
  IndexEntry &over = b.Add(1, 1, kT - 5000, 800);  // 310: overlaps the last live record
  over.offset = 9 * 1000 + 500;
  b.Add(1, 2, kT - 4999, 800);                     // 311: intact
  b.Add(0, 3, kT - 4998, 800, false);              // 312: no start code: overwritten
  b.Add(3, 0, kT - 4997, 402, false);              // 313: audio, not whole samples
  b.Add(3, 0, kT - 4996, 400, false);              // 314: audio, intact
  b.Add(0, 1, kT - 3000, 800);                     // 315: 1996 s later: a new span
  b.Add(0, 1, kT - 3500, 800);                     // 316: backwards: a new span
  b.Add(0, 6, kT - 3499, 800);                     // 317: channel 6: skipped
  IndexEntry &huge = b.Add(0, 1, kT - 3498, 800);  // 318: past the disk
  huge.offset = uint64_t(1) << 40;
  const std::string path = dir.File("made.img");
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(path, b.image, &error)) << error;
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok);
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(disk, g), GeometryStatus::Ok);
  SurveyOptions options;
  options.keepRecoverable = true;
  const DiskSurvey s = SurveyDisk(disk, g, disk.SizeBytes(), options);

  EXPECT_EQ(s.live.entries, 10);
  EXPECT_EQ(s.heldBack.entries, 300);
  EXPECT_EQ(s.stale.entries, 7);
  EXPECT_EQ(s.stale.intact, 4);
  EXPECT_EQ(s.stale.overwritten, 3);  // 310, 312, 313
  EXPECT_EQ(s.skipped.badChannel, 1u);
  EXPECT_EQ(s.skipped.pastDisk, 1u);
  std::vector<int64_t> recovered;
  for (const RecoverableEntry &r : s.recoverable)
    if (r.number >= 310) recovered.push_back(r.number);
  EXPECT_EQ(recovered, (std::vector<int64_t>{311, 314, 315, 316}));
  // Held back, then stale 310..314, 315 (a jump of 1996 s), 316 (backwards).
  ASSERT_EQ(s.spans.size(), 4u);
  EXPECT_EQ(s.spans[1].firstEntry, 310);
  EXPECT_EQ(s.spans[1].lastEntry, 314);
  EXPECT_EQ(s.spans[2].firstEntry, 315);
  EXPECT_EQ(s.spans[3].firstEntry, 316);
}

TEST(HandMadeSurvey, UnreadableIndexSectorsAreListedAndTheDiskGoingAwayEndsIt) {
  test::TempDir dir;
  Built b;
  for (int i = 0; i < 200; ++i)
    b.Add(i % 8 == 0 ? 1 : 0, uint8_t(i % 4), kT + uint32_t(i / 10), 300);
  b.image.indexCount = 100;  // 100 .. 199 are stale (and intact: no live record is over them)
  const std::string path = dir.File("bad.img");
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(path, b.image, &error)) << error;
  test::FaultySource faulty(Bytes(path));
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(faulty, g), GeometryStatus::Ok);
  // The index sector holding entries 128..153 (bytes 2560..3071 of the area).
  faulty.Device().FailBytes(kIndexAreaOffset + 2560, kIndexAreaOffset + 3072);
  const uint64_t size = faulty.Device().Bytes().size();
  const DiskSurvey s = SurveyDisk(faulty, g, size);
  EXPECT_EQ(s.unreadableIndexSectors, 1u);
  ASSERT_EQ(s.unreadableIndex.size(), 1u);
  EXPECT_EQ(s.unreadableIndex[0].firstEntry, 128);
  EXPECT_EQ(s.unreadableIndex[0].lastEntry, 153);
  // Entry 153 runs on into the next sector: lost with it. The rest are read.
  EXPECT_EQ(s.stale.entries, 100 - 26);
  EXPECT_FALSE(s.gone);

  faulty.Device().FailEverything(ENODEV);
  const DiskSurvey gone = SurveyDisk(faulty, g, size);
  EXPECT_TRUE(gone.gone);
}

TEST(ForwardReader, ServesRequestsFromWindowsAndSaysWhatItCannot) {
  std::vector<uint8_t> disk(3 * 4096 + 100);
  for (size_t i = 0; i < disk.size(); ++i) disk[i] = uint8_t(i * 13);
  test::FaultySource source(disk);
  source.Device().FailBytes(5120, 5632);  // sector 10
  ForwardReader reader(source, disk.size(), 4096);
  ForwardReader::Piece piece;
  ASSERT_EQ(reader.Get(100, 300, piece), ForwardReader::Got::kRead);
  ASSERT_EQ(piece.bytes, 300u);
  EXPECT_EQ(piece.data[0], uint8_t(100 * 13));
  EXPECT_TRUE(piece.lost.empty());
  ASSERT_EQ(reader.Get(3000, 200, piece), ForwardReader::Got::kRead);  // the same window
  EXPECT_EQ(reader.Reads(), 1u);
  // Across the window's end: a new window from the request's sector.
  ASSERT_EQ(reader.Get(4000, 1500, piece), ForwardReader::Got::kRead);
  EXPECT_EQ(reader.Reads(), 2u);
  ASSERT_EQ(piece.lost.size(), 1u);
  EXPECT_EQ(piece.lost[0].offset, 5120u - 4000);
  EXPECT_EQ(piece.lost[0].bytes, 5500u - 5120) << "cut to the request";
  EXPECT_EQ(piece.data[0], uint8_t(4000 * 13));
  // The disk's end: what there is, then nothing.
  ASSERT_EQ(reader.Get(disk.size() - 50, 200, piece), ForwardReader::Got::kRead);
  EXPECT_EQ(piece.bytes, 50u);
  ASSERT_EQ(reader.Get(disk.size() + 10, 20, piece), ForwardReader::Got::kRead);
  EXPECT_EQ(piece.bytes, 0u);
  EXPECT_EQ(reader.BackwardReads(), 0u);
  ASSERT_EQ(reader.Get(0, 10, piece), ForwardReader::Got::kRead);
  EXPECT_EQ(reader.BackwardReads(), 1u);
}

}  // namespace
