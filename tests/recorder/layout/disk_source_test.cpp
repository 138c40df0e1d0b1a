#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "recorder/layout/disk_discovery.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;
namespace fs = std::filesystem;

namespace {

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

// Runs fn in a child process that, when this one is root, first drops to an
// unprivileged user (so file modes apply); returns fn's result.
int RunUnprivileged(const std::function<int()> &fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    _exit(fn());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

std::string MakeRecorder(const test::TempDir &dir, const std::string &name) {
  tools::RecorderImage image;
  test::AddPatternEntries(image, 10, 1202982297, 4);
  std::string error;
  const std::string path = dir.File(name);
  EXPECT_TRUE(tools::WriteRecorderImage(path, image, &error)) << error;
  return path;
}

}  // namespace

TEST(DriveTable, imagesComeFirst_thenWholeDisksInNameOrder_withoutEmptyLoopsRamZram) {
  test::TempDir sys;
  for (const char *name : {"sdb", "loop0", "ram3", "zram0", "nvme0n1", "sda", "loop12"})
    fs::create_directory(sys.Path() / name);
  DriveTable table({"/images/a.img", "/images/b.img"}, sys.Path().string());
  ASSERT_EQ(table.Drives().size(), 5u);
  EXPECT_EQ(table.Find(0)->path, "/images/a.img");
  EXPECT_TRUE(table.Find(0)->isImage);
  EXPECT_EQ(table.Find(1)->path, "/images/b.img");
  EXPECT_EQ(table.Find(2)->path, "/dev/nvme0n1");
  EXPECT_FALSE(table.Find(2)->isImage);
  EXPECT_EQ(table.Find(3)->path, "/dev/sda");
  EXPECT_EQ(table.Find(4)->path, "/dev/sdb");
  EXPECT_EQ(table.Find(4)->number, 4);
  EXPECT_EQ(table.Find(5), nullptr);
  EXPECT_EQ(table.Find(-1), nullptr);
}

TEST(DriveTable, loopDeviceWithAnImageAttached_isListed_unattachedOnesAreNot) {
  test::TempDir sys;
  for (const char *name : {"loop0", "loop3", "sda"}) fs::create_directory(sys.Path() / name);
  fs::create_directories(sys.Path() / "loop3" / "loop");
  WriteBytes((sys.Path() / "loop3" / "loop" / "backing_file").string(), {'/', 'x', '\n'});
  DriveTable table({}, sys.Path().string());
  ASSERT_EQ(table.Drives().size(), 2u);
  EXPECT_EQ(table.Find(0)->path, "/dev/loop3");
  EXPECT_EQ(table.Find(1)->path, "/dev/sda");
}

TEST(DriveTable, anImagePutFirst_isDriveZero_theRestMoveDown_andAListedOneMoves) {
  test::TempDir dir, sys;
  fs::create_directory(sys.Path() / "sda");
  for (const char *name : {"a.img", "b.img", "new.img"}) WriteBytes(dir.File(name), {1});
  DriveTable table({dir.File("a.img"), dir.File("b.img")}, sys.Path().string());
  table.PutImageFirst(dir.File("new.img"));
  ASSERT_EQ(table.Drives().size(), 4u);
  const char *expected[] = {"new.img", "a.img", "b.img"};
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(table.Find(n)->path, dir.File(expected[n]));
    EXPECT_EQ(table.Find(n)->number, n);
    EXPECT_TRUE(table.Find(n)->isImage);
  }
  EXPECT_EQ(table.Find(3)->path, "/dev/sda");
  EXPECT_EQ(table.Find(3)->number, 3);
  // The same file under another name is the same image.
  table.PutImageFirst(dir.Path().string() + "/./b.img");
  ASSERT_EQ(table.Drives().size(), 4u);
  EXPECT_EQ(table.Find(0)->path, dir.Path().string() + "/./b.img");
  EXPECT_EQ(table.Find(1)->path, dir.File("new.img"));
  EXPECT_EQ(table.Find(2)->path, dir.File("a.img"));
}

TEST(DriveTable, imageOptions_areTakenOutOfTheArguments) {
  std::vector<std::string> args{"prog",          "--image", "a.img",  "info",
                                "--image=b.img", "--json",  "--image"};
  const auto images = TakeImageOptions(args);
  EXPECT_EQ(images, (std::vector<std::string>{"a.img", "b.img"}));
  EXPECT_EQ(args, (std::vector<std::string>{"prog", "info", "--json", "--image"}));
}

TEST(DiskSource, readsOnlyWholeAlignedSectors_andKeepsPositionOnFailure) {
  test::TempDir dir;
  std::vector<uint8_t> bytes(2048);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i / 512 + 1);
  WriteBytes(dir.File("d.img"), bytes);
  DiskSource src;
  ASSERT_EQ(src.OpenPath(dir.File("d.img")), DriveOpenStatus::Ok);
  uint8_t buf[2048];
  EXPECT_FALSE(src.Seek(100));
  EXPECT_TRUE(src.Seek(512));
  EXPECT_FALSE(src.Read(buf, 100));
  ASSERT_TRUE(src.Read(buf, 512));
  EXPECT_EQ(buf[0], 2);
  // A read across the end fails, tells how much was there, and a retry
  // starts at the same place.
  size_t got = 0;
  EXPECT_FALSE(src.Read(buf, 2048, &got));
  EXPECT_EQ(got, 1024u);
  ASSERT_TRUE(src.Read(buf, 512));
  EXPECT_EQ(buf[0], 3);
}

TEST(DiskSource, openImage_isARegisteredSource_untilClosed) {
  test::TempDir dir;
  WriteBytes(dir.File("d.img"), std::vector<uint8_t>(512, 7));
  std::filesystem::create_hard_link(dir.File("d.img"), dir.File("hard.img"));
  const auto keep = platform::ReplacePolicy::kReplaceExisting;
  DiskSource src;
  ASSERT_EQ(src.OpenPath(dir.File("d.img")), DriveOpenStatus::Ok);
  EXPECT_EQ(platform::CheckOutputPath(dir.File("hard.img"), keep, nullptr),
            platform::OutputStatus::kIsSource);
  src.Close();
  EXPECT_EQ(platform::CheckOutputPath(dir.File("hard.img"), keep, nullptr),
            platform::OutputStatus::kOk);
}

TEST(DiskSource, missingImage_isNoSuchDrive_andUnreadableOneIsNamed_withoutRawDiskAdvice) {
  test::TempDir dir;
  DiskSource src;
  EXPECT_EQ(src.OpenPath(dir.File("missing.img")), DriveOpenStatus::NoSuchDrive);
  WriteBytes(dir.File("locked.img"), std::vector<uint8_t>(512));
  chmod(dir.File("locked.img").c_str(), 0);
  const std::string locked = dir.File("locked.img");
  const int rc = RunUnprivileged([&] {
    DiskSource s;
    if (s.OpenPath(locked) != DriveOpenStatus::AccessDenied) return 1;
    if (s.LastError().find(locked) == std::string::npos) return 2;
    // Rights to raw disks and imaging are advice for devices, not files.
    if (s.LastError() != "Cannot read " + locked + ": permission denied") return 3;
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

TEST(ScanRecorderDisks, listsRecorderDrivesOnly_andStopsAtTheFirstMissingDrive) {
  test::TempDir dir, sys;
  const std::string rec0 = MakeRecorder(dir, "rec0.img");
  std::vector<uint8_t> plain(kProbeBytes, 0);
  WriteBytes(dir.File("system.img"), plain);
  // "VORN" after a zero byte does not count.
  std::vector<uint8_t> hidden(kProbeBytes, 0);
  std::memcpy(hidden.data() + 1, "VORN", 4);
  WriteBytes(dir.File("hidden.img"), hidden);
  // Too short for the 512 KiB probe: skipped, the scan goes on.
  WriteBytes(dir.File("short.img"), std::vector<uint8_t>(4096, 'V'));
  const std::string rec4 = MakeRecorder(dir, "rec4.img");
  const std::string rec6 = MakeRecorder(dir, "rec6.img");
  DriveTable table({dir.File("system.img"), rec0, dir.File("hidden.img"), dir.File("short.img"),
                    rec4, dir.File("gone.img"), rec6},
                   sys.Path().string());
  std::vector<std::string> messages;
  const auto found = ScanRecorderDisks(table, &messages);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].driveNumber, 1);
  EXPECT_EQ(found[0].name, "Device_1");
  // What the device list's tooltip tells of it.
  EXPECT_EQ(found[0].sizeBytes, fs::file_size(rec0));
  EXPECT_TRUE(found[0].spanKnown);
  EXPECT_EQ(found[0].firstSeconds, 1202982297u);
  EXPECT_EQ(DescribeFoundDisk(found[0]), rec0 + "\n" + SizeText(fs::file_size(rec0)) +
                                             "\nrecorded 2008/02/14_09:44:57 \u2013 "
                                             "2008/02/14_09:44:59");
  EXPECT_EQ(found[1].driveNumber, 4);
  EXPECT_EQ(found[1].name, "Device_4");
  EXPECT_TRUE(messages.empty());
}

TEST(ScanRecorderDisks, unreadableDrive_isSkippedWithAMessage_andTheScanGoesOn) {
  test::TempDir dir, sys;
  WriteBytes(dir.File("locked.img"), std::vector<uint8_t>(kProbeBytes));
  chmod(dir.File("locked.img").c_str(), 0);
  const std::string rec = MakeRecorder(dir, "rec.img");
  DriveTable table({dir.File("locked.img"), rec}, sys.Path().string());
  const int rc = RunUnprivileged([&] {
    std::vector<std::string> messages;
    const auto found = ScanRecorderDisks(table, &messages);
    if (found.size() != 1 || found[0].driveNumber != 1) return 1;
    if (messages.size() != 1 || messages[0].find("locked.img") == std::string::npos) return 2;
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

TEST(DeviceItems, sizesReadAsTheUserCountsThem) {
  EXPECT_EQ(SizeText(512), "512 bytes");
  EXPECT_EQ(SizeText(8u << 20), "8.0 MiB (8388608 bytes)");
  EXPECT_EQ(SizeText(3ull << 40), "3.0 TiB (3298534883328 bytes)");
  FoundDisk unknown;
  unknown.path = "/dev/sdz";
  EXPECT_EQ(DescribeFoundDisk(unknown), "/dev/sdz\nsize unknown\nrecorded span unknown");
}

TEST(DeviceItems, namesAndNumbers_roundTrip) {
  EXPECT_EQ(DeviceItemName(0), "Device_0");
  EXPECT_EQ(DeviceItemName(12), "Device_12");
  int n = -1;
  ASSERT_TRUE(DriveNumberFromItem("Device_12", n));
  EXPECT_EQ(n, 12);  // drive 12, not drive 1
  EXPECT_FALSE(DriveNumberFromItem("Device", n));
  EXPECT_FALSE(DriveNumberFromItem("Device_", n));
}
