// The damage rules every disk reader goes through: a bad sector costs only
// itself, a read is tried twice before it is split, a disk that went away is
// told from one with a bad area, and reads give up when asked to.
#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <thread>

#include "platform/careful_read.h"
#include "platform/disk_source.h"
#include "tests/support/faulty_source.h"
#include "tests/support/test_support.h"

namespace orvan {
namespace {

using platform::CarefulReader;
using test::FaultyDevice;

std::vector<uint8_t> Pattern(size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = uint8_t(i * 31 + (i >> 9));
  return v;
}

TEST(CarefulRead, badSectorInALargeRead_losesThatSectorOnly_andKeepsTheRest) {
  FaultyDevice device(Pattern(64 * 512));
  device.FailBytes(10 * 512 + 100, 10 * 512 + 101);  // one byte of sector 10
  CarefulReader reader(&device);
  std::vector<uint8_t> buffer(32 * 512, 0xEE);
  ReadReport report;
  EXPECT_FALSE(reader.Read(512, buffer.data(), buffer.size(), report));
  ASSERT_EQ(report.lost.size(), 1u);
  EXPECT_EQ(report.lost[0], (ByteRange{9 * 512, 512}));  // sector 10 of the disk
  EXPECT_EQ(report.readBefore, 9u * 512);
  EXPECT_FALSE(report.gone);
  EXPECT_FALSE(report.stopped);
  EXPECT_EQ(report.endsAt, ReadReport::kNoEnd);
  for (size_t i = 0; i < buffer.size(); ++i) {
    const bool lost = i >= 9 * 512 && i < 10 * 512;
    ASSERT_EQ(buffer[i], lost ? 0 : device.Bytes()[512 + i]) << i;
  }
  EXPECT_FALSE(reader.Gone());
}

TEST(CarefulRead, deviceFailingWholeRequests_losesOnlyTheBadSectors_notTheRequestsStart) {
  FaultyDevice device(Pattern(256 * 512));
  device.FailWholeRequests(true);
  device.FailBytes(100 * 512 + 7, 102 * 512);  // sectors 100 and 101
  CarefulReader reader(&device);
  std::vector<uint8_t> buffer(128 * 512);
  ReadReport report;
  EXPECT_FALSE(reader.Read(64 * 512, buffer.data(), buffer.size(), report));
  EXPECT_EQ(report.lost, (std::vector<ByteRange>{{36 * 512, 2 * 512}}));
  EXPECT_EQ(0, std::memcmp(buffer.data(), device.Bytes().data() + 64 * 512, 36 * 512));
  EXPECT_EQ(0, std::memcmp(buffer.data() + 38 * 512, device.Bytes().data() + 102 * 512, 90 * 512));
}

TEST(CarefulRead, failedRead_isTriedOnceMore_beforeItIsSplit) {
  FaultyDevice device(Pattern(16 * 512));
  device.FailBytes(3 * 512, 4 * 512, /*transient=*/1);  // the first try only
  CarefulReader reader(&device);
  std::vector<uint8_t> buffer(8 * 512);
  ReadReport report;
  EXPECT_TRUE(reader.Read(0, buffer.data(), buffer.size(), report));
  EXPECT_TRUE(report.Complete());
  // The whole request, then once more from the sector that failed.
  const auto asked = device.Requests();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], (ByteRange{0, 8 * 512}));
  EXPECT_EQ(asked[1], (ByteRange{3 * 512, 5 * 512}));
  EXPECT_EQ(0, std::memcmp(buffer.data(), device.Bytes().data(), buffer.size()));
}

TEST(CarefulRead, singleBadSector_isAskedForTwice_andNoMore) {
  FaultyDevice device(Pattern(16 * 512));
  device.FailBytes(5 * 512, 6 * 512);
  CarefulReader reader(&device);
  uint8_t sector[512];
  ReadReport report;
  EXPECT_FALSE(reader.Read(5 * 512, sector, 512, report));
  EXPECT_EQ(device.Reads(), 2u);
  ASSERT_EQ(report.lost.size(), 1u);
  EXPECT_EQ(report.lost[0], (ByteRange{0, 512}));
  // A request whose first sector is bad: two whole tries, then the split
  // reads sector by sector, and after a good sector the rest whole.
  ReadReport wide;
  std::vector<uint8_t> buffer(6 * 512);
  const uint64_t before = device.Reads();
  EXPECT_FALSE(reader.Read(5 * 512, buffer.data(), buffer.size(), wide));
  EXPECT_EQ(wide.lost, (std::vector<ByteRange>{{0, 512}}));
  // Twice whole, sector 5 alone, sector 6 alone, then 7..10 whole.
  EXPECT_EQ(device.Reads() - before, 5u);
}

TEST(CarefulRead, badAreaOnADiskThatStillAnswers_costsItsSectors_andTheDiskIsNotGone) {
  // 300 sectors in a row: more than the probe's interval, far less than the
  // limit of a disk that keeps one sector only.
  FaultyDevice device(Pattern(2048 * 512));
  device.FailBytes(600 * 512, 900 * 512);
  CarefulReader reader(&device);
  std::vector<uint8_t> buffer(1024 * 512);
  ReadReport report;
  EXPECT_FALSE(reader.Read(256 * 512, buffer.data(), buffer.size(), report));
  EXPECT_FALSE(report.gone);
  EXPECT_FALSE(reader.Gone());
  ASSERT_EQ(report.lost.size(), 1u);
  EXPECT_EQ(report.lost[0], (ByteRange{344 * 512, 300 * 512}));
  // The sectors behind the area were read, not lost.
  EXPECT_EQ(0,
            std::memcmp(buffer.data() + 644 * 512, device.Bytes().data() + 900 * 512, 380 * 512));
  uint8_t after[512];
  EXPECT_TRUE(reader.Read(1500 * 512, after, 512, report));
}

TEST(CarefulRead, everyReadFailingAfterGoodOnes_makesTheDiskGone_withinAProbesWorth) {
  FaultyDevice device(Pattern(4096 * 512));
  CarefulReader reader(&device);
  uint8_t sector[512];
  ReadReport report;
  ASSERT_TRUE(reader.Read(0, sector, 512, report));
  device.FailEverything();
  // A player reads the index sector after sector: each lost one is one
  // more failed sector in a row.
  int reads = 0;
  for (uint64_t s = 1; s < 4096 && !report.gone; ++s, ++reads)
    reader.Read(s * 512, sector, 512, report);
  EXPECT_TRUE(report.gone);
  EXPECT_TRUE(reader.Gone());
  EXPECT_EQ(reads, platform::kProbeAfterFailedSectors);
  // From then on reads give up without asking the device.
  const uint64_t asked = device.Reads();
  EXPECT_FALSE(reader.Read(0, sector, 512, report));
  EXPECT_TRUE(report.gone);
  EXPECT_TRUE(report.lost.empty());
  EXPECT_EQ(device.Reads(), asked);
}

TEST(CarefulRead, largeReadOfAPulledDisk_givesUpAfterAProbe_notAfterEverySector) {
  FaultyDevice device(Pattern(8192 * 512));
  CarefulReader reader(&device);
  std::vector<uint8_t> buffer(4096 * 512);
  ReadReport report;
  ASSERT_TRUE(reader.Read(0, buffer.data(), 512, report));
  device.FailEverything();
  EXPECT_FALSE(reader.Read(512, buffer.data(), buffer.size(), report));
  EXPECT_TRUE(report.gone);
  EXPECT_EQ(report.LostBytes(), uint64_t(platform::kProbeAfterFailedSectors) * 512);
  EXPECT_LT(device.Reads(), 2u + 2 + platform::kProbeAfterFailedSectors + 2);
}

TEST(CarefulRead, deviceThatSaysItIsGone_orWhoseNodeVanished_isGoneAtTheFirstFailure) {
  for (const bool byNode : {false, true}) {
    SCOPED_TRACE(byNode ? "node vanished" : "ENODEV");
    FaultyDevice device(Pattern(64 * 512));
    CarefulReader reader(&device);
    uint8_t sector[512];
    ReadReport report;
    ASSERT_TRUE(reader.Read(0, sector, 512, report));
    if (byNode) {
      device.SetPresent(false);
      device.FailEverything(EIO);
    } else {
      device.FailEverything(ENODEV);
    }
    EXPECT_FALSE(reader.Read(512, sector, 512, report));
    EXPECT_TRUE(report.gone);
    EXPECT_TRUE(report.lost.empty());
    EXPECT_EQ(device.Reads(), 2u);
  }
}

TEST(CarefulRead, diskThatKeepsOneSectorOnly_isGoneAtTheLimitOfSectorsInARow) {
  // The probe sector answers, nothing else does.
  const uint64_t sectors = platform::kGoneAfterFailedSectors + 64;
  FaultyDevice device(Pattern(sectors * 512));
  device.FailBytes(512, sectors * 512);
  CarefulReader reader(&device);
  std::vector<uint8_t> buffer((sectors - 1) * 512);
  ReadReport report;
  uint8_t first[512];
  ASSERT_TRUE(reader.Read(0, first, 512, report));
  EXPECT_FALSE(reader.Read(512, buffer.data(), buffer.size(), report));
  EXPECT_TRUE(report.gone);
  EXPECT_EQ(report.LostBytes(), uint64_t(platform::kGoneAfterFailedSectors) * 512);
}

TEST(CarefulRead, endOfTheSource_isNoLoss_andSaysWhereItEnds) {
  FaultyDevice device(Pattern(10 * 512 + 100));  // an image cut inside a sector
  CarefulReader reader(&device);
  std::vector<uint8_t> buffer(4 * 512, 0xEE);
  ReadReport report;
  EXPECT_FALSE(reader.Read(8 * 512, buffer.data(), buffer.size(), report));
  EXPECT_TRUE(report.lost.empty());
  EXPECT_EQ(report.endsAt, 2u * 512 + 100);
  EXPECT_EQ(report.readBefore, 2u * 512 + 100);
  EXPECT_EQ(buffer[2 * 512 + 100], 0);
  EXPECT_EQ(device.Reads(), 1u);
  EXPECT_FALSE(reader.Gone());
}

TEST(CarefulRead, interruptAndDeadline_giveUpWithoutAsking_andNothingCountsAsLost) {
  FaultyDevice device(Pattern(64 * 512));
  CarefulReader reader(&device);
  uint8_t sector[512];
  ReadReport report;
  reader.Interrupt();
  EXPECT_FALSE(reader.Read(0, sector, 512, report));
  EXPECT_TRUE(report.stopped);
  EXPECT_TRUE(report.lost.empty());
  EXPECT_EQ(device.Reads(), 0u);
  reader.ClearInterrupt();
  EXPECT_TRUE(reader.Read(0, sector, 512, report));

  std::atomic<bool> stop{true};
  reader.SetStopFlag(&stop);
  EXPECT_FALSE(reader.Read(0, sector, 512, report));
  EXPECT_TRUE(report.stopped);
  reader.SetStopFlag(nullptr);
  {
    platform::ReadDeadline deadline(std::chrono::milliseconds(0));
    EXPECT_FALSE(reader.Read(0, sector, 512, report));
    EXPECT_TRUE(report.stopped);
  }
  EXPECT_TRUE(reader.Read(0, sector, 512, report));
  EXPECT_FALSE(reader.Gone());
}

TEST(CarefulRead, unalignedBytes_areReadFromTheirSectors_andLossesSpeakOfTheBytes) {
  FaultyDevice device(Pattern(8 * 512));
  device.FailBytes(2 * 512, 3 * 512);
  CarefulReader reader(&device);
  uint8_t bytes[40];
  ReadReport report;
  EXPECT_TRUE(reader.ReadBytes(1000, bytes, 20, report));
  EXPECT_EQ(0, std::memcmp(bytes, device.Bytes().data() + 1000, 20));
  // 20 bytes of an entry running across the bad sector's start.
  EXPECT_FALSE(reader.ReadBytes(2 * 512 - 10, bytes, 20, report));
  EXPECT_EQ(report.lost, (std::vector<ByteRange>{{10, 10}}));
  EXPECT_EQ(report.readBefore, 10u);
}

TEST(DiskSourceReads, imageFile_readsThroughItsWorker_andReportsTheEnd) {
  test::TempDir dir;
  const auto bytes = Pattern(5 * 512);
  const std::string path = dir.File("d.img");
  {
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  DiskSource source;
  ASSERT_EQ(source.OpenPath(path), DriveOpenStatus::Ok);
  std::vector<uint8_t> buffer(8 * 512);
  ReadReport report;
  ASSERT_TRUE(source.Seek(512));
  EXPECT_TRUE(source.ReadSectors(buffer.data(), 2 * 512, report));
  EXPECT_EQ(0, std::memcmp(buffer.data(), bytes.data() + 512, 2 * 512));
  EXPECT_FALSE(source.ReadSectors(buffer.data(), 4 * 512, report));  // 2 left
  EXPECT_EQ(report.endsAt, 2u * 512);
  EXPECT_TRUE(report.lost.empty());
  size_t got = 0;
  EXPECT_FALSE(source.Read(buffer.data(), 4 * 512, &got));
  EXPECT_EQ(got, 2u * 512);
  // Interrupted, reads give up at once, and again after a clear they read.
  source.Interrupt();
  EXPECT_FALSE(source.ReadSectors(buffer.data(), 512, report));
  EXPECT_TRUE(report.stopped);
  source.ClearInterrupt();
  EXPECT_TRUE(source.ReadSectors(buffer.data(), 512, report));
  EXPECT_FALSE(source.Gone());
}

}  // namespace
}  // namespace orvan
