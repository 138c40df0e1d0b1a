#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "recorder/export/copy_hdd_thread.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

constexpr uint32_t kStart = 1202982297;  // 2008-02-14 09:44:57

SYSTEMTIME At(int64_t seconds) { return RecorderSecondsToSystemTime(seconds); }

struct Copied {
  CopyFailure failure = CopyFailure::None;
  int done = 0;
  ClipStatus status = ClipStatus::ReadError;
  ClipTrailer trailer;
  std::vector<IndexEntry> entries;
  std::vector<uint8_t> data;
  std::vector<std::string> messages;
};

// Copies [from, to) of drive 0 into out.in and reads the clip back.
Copied Copy(const std::string &image, int64_t from, int64_t to, const std::string &out,
            platform::ReplacePolicy policy = platform::ReplacePolicy::kKeepExisting) {
  test::TempDir sys;
  DriveTable::SetProcess(DriveTable({image}, sys.Path().string()));
  Copied c;
  {
    CopyHDDThread t(
        nullptr, 0, At(from), At(to), out, [&](const std::string &m) { c.messages.push_back(m); },
        policy);
    EXPECT_TRUE(test::WaitUntil([&] { return t.Done() == 1 || t.Finished(); }));
    t.WaitFor();
    c.done = t.Done();
    c.failure = t.Failure();
  }
  CClipReader r;
  if (!r.Open(out)) return c;
  c.status = r.ReadClipTrailer(c.trailer);
  const auto bytes = test::ReadFileBytes(out);
  for (size_t i = 0; i + 12 <= bytes.size() && i + 12 != bytes.size(); i += 20)
    c.entries.push_back(IndexEntry::Parse(bytes.data() + i));
  c.data = test::ReadFileBytes(CompanionDataName(out));
  return c;
}

// 4 channels interleaved, 10 entries per second: block b starts at second
// 51.2 x b.
std::string MakeImage(const test::TempDir &dir, tools::RecorderImage &image, int64_t count = 3000,
                      int channels = 4) {
  test::AddPatternEntries(image, count, kStart, 10, 300, channels);
  std::string error;
  EXPECT_TRUE(tools::WriteRecorderImage(dir.File("disk.img"), image, &error)) << error;
  return dir.File("disk.img");
}

std::vector<uint8_t> RecordsOf(const tools::RecorderImage &image,
                               const std::vector<IndexEntry> &entries) {
  std::vector<uint8_t> out;
  for (const auto &e : entries)
    out.insert(out.end(), image.data.begin() + long(e.offset),
               image.data.begin() + long(e.offset + e.size));
  return out;
}

}  // namespace

TEST(CopyHDDThread, rangeInsideOneBlock_copiesFromTheBlockStartUpToTheEndTime) {
  test::TempDir dir;
  tools::RecorderImage image;
  const std::string disk = MakeImage(dir, image);
  // Block 1 holds entries 512..1023, seconds 51..102.
  const Copied c = Copy(disk, kStart + 60, kStart + 70, dir.File("out.in"));
  EXPECT_EQ(c.done, 1);
  ASSERT_EQ(c.status, ClipStatus::Ok);
  ASSERT_EQ(c.entries.size(), 700u - 512u);
  EXPECT_EQ(c.trailer.count, 188u);
  EXPECT_EQ(c.entries.front(), image.entries[512]);
  EXPECT_EQ(c.entries.back(), image.entries[699]);
  EXPECT_EQ(c.trailer.magic, kClipMagicInterleaved);
  // The data file holds the same records as the disk, back to back.
  EXPECT_EQ(c.data, RecordsOf(image, c.entries));
}

TEST(CopyHDDThread, rangeAcrossBlocks_andEntriesAtTheEndTimeAreNotCopied) {
  test::TempDir dir;
  tools::RecorderImage image;
  const std::string disk = MakeImage(dir, image);
  const Copied c = Copy(disk, kStart + 100, kStart + 250, dir.File("a.in"));
  ASSERT_EQ(c.status, ClipStatus::Ok);
  EXPECT_EQ(c.entries.front(), image.entries[512]);
  EXPECT_EQ(c.entries.size(), 2500u - 512u);
  EXPECT_EQ(c.entries.back().time, kStart + 249);

  // Start and end in the same second: nothing of that second.
  const Copied same = Copy(disk, kStart + 5, kStart + 5, dir.File("b.in"));
  ASSERT_EQ(same.entries.size(), 50u);  // seconds 0..4 of block 0
  EXPECT_EQ(same.entries.back().time, kStart + 4);
}

TEST(CopyHDDThread, channelsFourAndAbove_areNeverWritten_andOneChannelGivesTheSingleMagic) {
  test::TempDir dir;
  tools::RecorderImage image;
  test::AddPatternEntries(image, 2000, kStart, 10, 64, 1);
  for (auto &e : image.entries) e.channel = 2;
  for (size_t i = 3; i < image.entries.size(); i += 5)
    image.entries[i].channel = uint8_t(4 + i % 200);
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(dir.File("disk.img"), image, &error)) << error;
  const Copied c = Copy(dir.File("disk.img"), kStart, kStart + 150, dir.File("a.in"));
  ASSERT_EQ(c.status, ClipStatus::Ok);
  EXPECT_EQ(c.trailer.magic, kClipMagicSingle);
  EXPECT_EQ(c.trailer.layout, 1);
  EXPECT_EQ(c.entries.size(), 1500u - 300u);
  for (const auto &e : c.entries) EXPECT_EQ(e.channel, 2);
}

TEST(CopyHDDThread, secondChannelWithinElevenEntries_givesTheInterleavedMagic) {
  test::TempDir dir;
  tools::RecorderImage image;
  test::AddPatternEntries(image, 2000, kStart, 10, 64, 1);
  image.entries[10].channel = 1;  // the eleventh entry
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(dir.File("disk.img"), image, &error)) << error;
  const Copied c = Copy(dir.File("disk.img"), kStart, kStart + 150, dir.File("a.in"));
  EXPECT_EQ(c.trailer.magic, kClipMagicInterleaved);
}

TEST(CopyHDDThread, unreadableRecords_areSkipped_andTheEndOfTheIndexFinishesTheClip) {
  test::TempDir dir;
  tools::RecorderImage image;
  test::AddPatternEntries(image, 1500, kStart, 10, 300);
  image.entries[520].size = 200000;        // beyond the record buffer
  image.entries[530].offset = 1ull << 40;  // beyond the image
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(dir.File("disk.img"), image, &error)) << error;
  const Copied c = Copy(dir.File("disk.img"), kStart + 52, kStart + 100000, dir.File("a.in"));
  ASSERT_EQ(c.status, ClipStatus::Ok);
  // Everything from block 1 up to playEnd, and the rest of the sector that
  // holds playEnd (entries of the unplayed tail: zeros in this image).
  ASSERT_GE(c.entries.size(), 1500u - 512u - 2u);
  EXPECT_LE(c.entries.size(), 1500u - 512u - 2u + 25u);
  std::vector<IndexEntry> recorded;
  for (const auto &e : c.entries) {
    EXPECT_LT(e.size, 200000u);
    if (e.time != 0) recorded.push_back(e);
  }
  EXPECT_EQ(recorded.size(), 1500u - 512u - 2u);
  image.entries.erase(image.entries.begin() + 530);
  image.entries.erase(image.entries.begin() + 520);
  EXPECT_EQ(recorded.back(), image.entries.back());
  EXPECT_EQ(c.data, RecordsOf(image, c.entries));
}

TEST(CopyHDDThread, terminatedCopy_stillWritesTheTrailer) {
  test::TempDir dir, sys;
  tools::RecorderImage image;
  const std::string disk = MakeImage(dir, image, 20000);
  DriveTable::SetProcess(DriveTable({disk}, sys.Path().string()));
  int64_t written = 0;
  {
    CopyHDDThread t(nullptr, 0, At(kStart), At(kStart + 5000), dir.File("a.in"));
    t.Terminate();
    t.WaitFor();
    written = t.EntriesWritten();
    EXPECT_EQ(t.Done(), 0);
  }
  // Ended before its first entry: nothing copied, no files.
  if (written == 0) {
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.in")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.da")));
    return;
  }
  CClipReader r;
  ASSERT_TRUE(r.Open(dir.File("a.in")));
  EXPECT_EQ(r.IndexFileBytes(), 20u * uint64_t(written) + 12u);
  if (written >= 102) {
    ClipTrailer tr;
    ASSERT_EQ(r.ReadClipTrailer(tr), ClipStatus::Ok);
    EXPECT_EQ(int64_t{tr.count}, written);
  }
  // A stop request finishes the clip at the next turn.
  {
    CopyHDDThread t(nullptr, 0, At(kStart), At(kStart + 5000), dir.File("b.in"));
    t.StopCopy();
    ASSERT_TRUE(test::WaitUntil([&] { return t.Done() == 1; }));
    written = t.EntriesWritten();
  }
  if (written > 0)
    EXPECT_EQ(test::ReadFileBytes(dir.File("b.in")).size(), 20u * uint64_t(written) + 12u);
  else
    EXPECT_FALSE(std::filesystem::exists(dir.File("b.in")));
}

TEST(CopyHDDThread, noValidState_showsTheStateError_andWritesNothing) {
  test::TempDir dir;
  tools::RecorderImage image;
  image.stateSlot = -1;
  const std::string disk = MakeImage(dir, image);
  const auto before = test::ReadFileBytes(disk);
  const Copied c = Copy(disk, kStart, kStart + 100, dir.File("a.in"));
  EXPECT_EQ(c.failure, CopyFailure::StateError);
  EXPECT_EQ(c.done, 0);
  EXPECT_EQ(c.messages, std::vector<std::string>{"Check HDD State Error!!"});
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.in")));
  EXPECT_EQ(test::ReadFileBytes(disk), before);
}

TEST(CopyHDDThread, noSignature_writesNoClip_andTheDiskItselfIsNeverAnOutput) {
  test::TempDir dir;
  std::vector<uint8_t> zeros(kProbeBytes * 2);
  std::ofstream(dir.File("plain.img"), std::ios::binary)
      .write(reinterpret_cast<char *>(zeros.data()), long(zeros.size()));
  Copied c = Copy(dir.File("plain.img"), kStart, kStart + 100, dir.File("a.in"));
  EXPECT_EQ(c.failure, CopyFailure::NotRecorderDisk);
  EXPECT_EQ(c.done, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.in")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.da")));

  tools::RecorderImage image;
  const std::string disk = MakeImage(dir, image);
  const auto before = test::ReadFileBytes(disk);
  c = Copy(disk, kStart, kStart + 100, disk);
  EXPECT_EQ(c.failure, CopyFailure::FileCreateFailed);
  EXPECT_EQ(c.done, 1);
  EXPECT_EQ(test::ReadFileBytes(disk), before);

  c = Copy(dir.File("missing.img"), kStart, kStart + 100, dir.File("m.in"));
  EXPECT_EQ(c.failure, CopyFailure::DiskOpenFailed);
  EXPECT_EQ(c.done, 1);
}

TEST(CopyHDDThread, chosenTime_isReadAsUtcWallTime_inAnyZone) {
  const char *old = getenv("TZ");
  const std::string saved = old ? old : "";
  for (const char *zone : {"UTC", "Asia/Shanghai", "America/New_York"}) {
    setenv("TZ", zone, 1);
    tzset();
    SYSTEMTIME st{2008, 2, 0, 14, 9, 44, 57, 0};
    EXPECT_EQ(CopyHDDThread::ChosenTimeToSeconds(st), 1202982297) << zone;
  }
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(CopyHDDThread, aFullDisk_endsTheCopyWithAWriteFailure_andLeavesNoClip) {
  test::TempDir dir, sys;
  tools::RecorderImage image;
  const std::string disk = MakeImage(dir, image, 3000);  // about 900 KB of records
  DriveTable::SetProcess(DriveTable({disk}, sys.Path().string()));
  const std::string out = dir.File("a.in");
  const pid_t pid = fork();
  if (pid == 0) {
    // Files of this process may not grow beyond 100 KB.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
    bool failedAsExpected = false;
    {
      CopyHDDThread t(nullptr, 0, At(kStart), At(kStart + 5000), out);
      t.WaitFor();
      failedAsExpected = t.Failure() == CopyFailure::WriteFailed && t.Done() == 1;
    }
    _exit(failedAsExpected ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // Neither half a clip nor a temporary is left beside the disk.
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(CompanionDataName(out)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(CopyHDDThread, anEndBeforeTheStart_orASpanWithNothingToCopy_leavesNoFile_andAnOldOneAlone) {
  test::TempDir dir;
  tools::RecorderImage image;
  const std::string disk = MakeImage(dir, image);
  // Inside one block: copying from the block's start would still take its
  // entries before the end.
  Copied c = Copy(disk, kStart + 30, kStart + 20, dir.File("a.in"));
  EXPECT_EQ(c.failure, CopyFailure::EndBeforeStart);
  EXPECT_EQ(c.done, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.in")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.da")));

  // Start and end at the first second: entries at the end are not copied.
  // Even where replacing was allowed, the older clip stays.
  std::ofstream(dir.File("old.in")) << "an older clip";
  c = Copy(disk, kStart, kStart, dir.File("old.in"), platform::ReplacePolicy::kReplaceExisting);
  EXPECT_EQ(c.failure, CopyFailure::NoEntries);
  EXPECT_EQ(c.done, 1);
  const auto kept = test::ReadFileBytes(dir.File("old.in"));
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "an older clip");
  EXPECT_FALSE(std::filesystem::exists(dir.File("old.da")));
}
