#include "platform/ewf_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "platform/source_hash.h"
#include "tests/support/ewf_writer.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::platform;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSegmentBytes = 1 << 20;

// A disk of `bytes` bytes, mostly noise that does not compress, so the
// E01 has several segments of kSegmentBytes.
std::vector<uint8_t> MakeDisk(size_t bytes) {
  std::vector<uint8_t> disk(bytes);
  std::mt19937 noise(7);
  for (size_t i = 0; i < bytes; ++i)
    disk[i] = (i / 65536) % 4 ? uint8_t(noise()) : uint8_t(i * 31 / 512);
  return disk;
}

void Put(const std::string &path, const std::vector<uint8_t> &bytes, size_t size = SIZE_MAX) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            std::streamsize(std::min(size, bytes.size())));
}

// Changes bytes in the middle of a file, where a segment keeps chunks.
void Spoil(const std::string &path) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(fs::file_size(path) / 2));
  f.write("\xde\xad\xbe\xef\xde\xad\xbe\xef", 8);
}

class EwfSet : public ::testing::Test {
 protected:
  void SetUp() override {
    m_disk = MakeDisk(3 * 1024 * 1024 + 4096);
    m_raw = m_dir.File("disk.img");
    Put(m_raw, m_disk);
  }
  std::vector<std::string> Write(const std::string &base, test::EwfWriteOptions options = {}) {
    if (!options.segmentBytes) options.segmentBytes = kSegmentBytes;
    std::string error;
    auto segments = test::WriteEwfImage(m_raw, m_dir.File(base), options, &error);
    EXPECT_FALSE(segments.empty()) << error;
    return segments;
  }
  test::TempDir m_dir;
  std::vector<uint8_t> m_disk;
  std::string m_raw;
};

}  // namespace

TEST(EwfNames, nextSegment_followsTheEnCaseScheme_andKeepsTheCase) {
  EXPECT_EQ(NextEwfSegmentName("/cases/a.E01"), "/cases/a.E02");
  EXPECT_EQ(NextEwfSegmentName("a.E09"), "a.E10");
  EXPECT_EQ(NextEwfSegmentName("a.E99"), "a.EAA");
  EXPECT_EQ(NextEwfSegmentName("a.EAZ"), "a.EBA");
  EXPECT_EQ(NextEwfSegmentName("a.EZZ"), "a.FAA");
  EXPECT_EQ(NextEwfSegmentName("a.e01"), "a.e02");
  EXPECT_EQ(NextEwfSegmentName("a.e99"), "a.eaa");
  EXPECT_EQ(NextEwfSegmentName("a.ZZZ"), "");
  EXPECT_EQ(NextEwfSegmentName("a.bin"), "");
  EXPECT_EQ(NextEwfSegmentName("a.dd"), "");
  EXPECT_EQ(NextEwfSegmentName("a.E1"), "");
  EXPECT_EQ(NextEwfSegmentName("dir.E01/a"), "");
  EXPECT_EQ(NextEwfSegmentName(""), "");
}

TEST(EwfNames, kindIsToldBySignature) {
  const uint8_t ewf[] = {'E', 'V', 'F', 9, 13, 10, 0xFF, 0};
  const uint8_t ewf2[] = {'E', 'V', 'F', '2', 13, 10, 0x81, 0};
  const uint8_t logical[] = {'L', 'V', 'F', 9, 13, 10, 0xFF, 0};
  const uint8_t vorn[] = {'V', 'O', 'R', 'N', 0, 0, 0, 0};
  EXPECT_EQ(EwfKindOf(ewf, 8), EwfFileKind::kImage);
  EXPECT_EQ(EwfKindOf(ewf2, 8), EwfFileKind::kImage);
  EXPECT_EQ(EwfKindOf(logical, 8), EwfFileKind::kLogical);
  EXPECT_EQ(EwfKindOf(vorn, 8), EwfFileKind::kNone);
  EXPECT_EQ(EwfKindOf(ewf, 7), EwfFileKind::kNone);
}

TEST_F(EwfSet, readsEqualTheRawDisk_atEveryPlace_andEverySegmentIsASource) {
  const auto segments = Write("case");
  ASSERT_GE(segments.size(), 3u);
  DiskSource source;
  ASSERT_EQ(source.OpenPath(segments[0]), DriveOpenStatus::Ok) << source.LastError();
  ASSERT_NE(source.Ewf(), nullptr);
  EXPECT_EQ(source.SizeBytes(), m_disk.size());
  EXPECT_EQ(source.Ewf()->SegmentPaths(), segments);
  EXPECT_EQ(source.Ewf()->StoredMd5(), test::FileMd5(m_raw));
  EXPECT_EQ(source.Ewf()->StoredSha1(), test::FileSha1(m_raw));

  // The whole disk in reads of odd sizes, crossing chunks and segments.
  std::vector<uint8_t> read(m_disk.size());
  uint64_t at = 0;
  for (size_t step = 512; at < read.size(); step = step * 3 % 200000 / 512 * 512 + 512) {
    const size_t n = size_t(std::min<uint64_t>(step, read.size() - at));
    ASSERT_TRUE(source.Seek(at));
    ASSERT_TRUE(source.Read(read.data() + at, n)) << at << " " << source.LastError();
    at += n;
  }
  EXPECT_TRUE(read == m_disk);
  // Backwards, and past the end.
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(source.Seek(m_disk.size() - 512));
  ASSERT_TRUE(source.Read(sector.data(), 512));
  EXPECT_EQ(0, std::memcmp(sector.data(), &m_disk[m_disk.size() - 512], 512));
  ASSERT_TRUE(source.Seek(1024));
  ASSERT_TRUE(source.Read(sector.data(), 512));
  EXPECT_EQ(0, std::memcmp(sector.data(), &m_disk[1024], 512));
  size_t got = 99;
  ASSERT_TRUE(source.Seek(m_disk.size()));
  EXPECT_FALSE(source.Read(sector.data(), 512, &got));
  EXPECT_EQ(got, 0u);

  // No output may replace any segment while the image is open.
  for (const auto &segment : segments)
    EXPECT_EQ(CheckOutputPath(segment, ReplacePolicy::kReplaceExisting, nullptr),
              OutputStatus::kIsSource)
        << segment;
  source.Close();
  EXPECT_EQ(CheckOutputPath(segments[1], ReplacePolicy::kReplaceExisting, nullptr),
            OutputStatus::kOk);
}

TEST_F(EwfSet, anImageIsToldByItsBytes_notItsName) {
  const auto segments = Write(
      "one",
      {.segmentBytes = 64 * kSegmentBytes, .compress = true, .storeSha1 = true, .storedMd5 = {}});
  ASSERT_EQ(segments.size(), 1u);
  const std::string renamed = m_dir.File("evidence.bin");
  fs::rename(segments[0], renamed);
  DiskSource source;
  ASSERT_EQ(source.OpenPath(renamed), DriveOpenStatus::Ok) << source.LastError();
  ASSERT_NE(source.Ewf(), nullptr);
  EXPECT_EQ(source.SizeBytes(), m_disk.size());
  // And a raw image called .E01 stays a raw image.
  const std::string raw = m_dir.File("raw.E01");
  fs::copy_file(m_raw, raw);
  ASSERT_EQ(source.OpenPath(raw), DriveOpenStatus::Ok) << source.LastError();
  EXPECT_EQ(source.Ewf(), nullptr);
  EXPECT_EQ(source.SizeBytes(), m_disk.size());
  // A logical evidence file holds files, not a disk.
  const std::string logical = m_dir.File("files.L01");
  Put(logical, {'L', 'V', 'F', 9, 13, 10, 0xFF, 0, 1, 1, 0, 0, 0});
  EXPECT_EQ(source.OpenPath(logical), DriveOpenStatus::NotADisk);
  EXPECT_NE(source.LastError().find("files.L01 is a logical evidence file"), std::string::npos);
}

TEST_F(EwfSet, missingOrCutSegments_areRefused_namingTheFile) {
  auto segments = Write("case");
  ASSERT_GE(segments.size(), 3u);
  DiskSource source;
  const std::string kept = m_dir.File("kept");
  fs::rename(segments[1], kept);
  EXPECT_EQ(source.OpenPath(segments[0]), DriveOpenStatus::Failed);
  EXPECT_EQ(source.LastError(), "Segment file " + segments[1] + " is missing: the image " +
                                    segments[0] + " goes on beyond " + segments[0]);
  EXPECT_FALSE(source.IsOpen());
  fs::rename(kept, segments[1]);

  const std::string last = segments.back();
  fs::rename(last, kept);
  EXPECT_EQ(source.OpenPath(segments[0]), DriveOpenStatus::Failed);
  EXPECT_NE(source.LastError().find("Segment file " + last + " is missing"), std::string::npos)
      << source.LastError();
  fs::rename(kept, last);

  fs::resize_file(segments[1], fs::file_size(segments[1]) / 2);
  EXPECT_EQ(source.OpenPath(segments[0]), DriveOpenStatus::Failed);
  EXPECT_EQ(source.LastError(), "Segment file " + segments[1] + " is cut short or damaged");
  fs::resize_file(segments[1], 5);
  EXPECT_EQ(source.OpenPath(segments[0]), DriveOpenStatus::Failed);
  EXPECT_NE(source.LastError().find(segments[1]), std::string::npos) << source.LastError();

  // A segment of another set in the place of the second.
  const auto other =
      Write("other",
            {.segmentBytes = kSegmentBytes, .compress = true, .storeSha1 = true, .storedMd5 = {}});
  fs::copy_file(other[2], segments[1], fs::copy_options::overwrite_existing);
  EXPECT_EQ(source.OpenPath(segments[0]), DriveOpenStatus::Failed);
  EXPECT_NE(source.LastError().find("says it is segment 3, not segment 2"), std::string::npos)
      << source.LastError();
  // Nothing stays registered after a refused open.
  EXPECT_EQ(CheckOutputPath(segments[0], ReplacePolicy::kReplaceExisting, nullptr),
            OutputStatus::kOk);
}

TEST_F(EwfSet, aDamagedChunk_failsItsReads_namingTheSegment_andTheRestReads) {
  const auto segments =
      Write("case",
            {.segmentBytes = kSegmentBytes, .compress = false, .storeSha1 = true, .storedMd5 = {}});
  ASSERT_GE(segments.size(), 3u);
  Spoil(segments[1]);
  DiskSource source;
  ASSERT_EQ(source.OpenPath(segments[0]), DriveOpenStatus::Ok) << source.LastError();
  std::vector<uint8_t> buffer(64 * 1024);
  uint64_t failures = 0, firstBad = UINT64_MAX;
  for (uint64_t at = 0; at < m_disk.size(); at += buffer.size()) {
    const size_t n = size_t(std::min<uint64_t>(buffer.size(), m_disk.size() - at));
    size_t got = 0;
    ASSERT_TRUE(source.Seek(at));
    if (source.Read(buffer.data(), n, &got)) {
      EXPECT_EQ(0, std::memcmp(buffer.data(), &m_disk[at], n)) << at;
      continue;
    }
    ++failures;
    // The good bytes in front of the damage are handed out, none after.
    EXPECT_LT(got, n);
    EXPECT_EQ(0, std::memcmp(buffer.data(), &m_disk[at], got));
    firstBad = std::min(firstBad, at + got);
    EXPECT_NE(source.LastError().find("Damaged data in " + segments[1]), std::string::npos)
        << source.LastError();
  }
  EXPECT_EQ(failures, 1u);
  EXPECT_GT(firstBad, kSegmentBytes / 2);
  // Asked again, the damaged chunk fails again.
  ASSERT_TRUE(source.Seek(firstBad / 512 * 512));
  EXPECT_FALSE(source.Read(buffer.data(), 512));
}

TEST_F(EwfSet, hashSource_inManySmallBlocks_equalsTheFilesDigests_andAStopEndsIt) {
  // An E01, and a raw file that ends inside a sector.
  const auto segments = Write("case");
  const std::string cut = m_dir.File("cut.img");
  Put(cut, m_disk, m_disk.size() - 300);
  for (const std::string &path : {segments[0], cut}) {
    DiskSource source;
    ASSERT_EQ(source.OpenPath(path), DriveOpenStatus::Ok) << source.LastError();
    HashOptions options;
    options.sha1 = true;
    options.blockBytes = 5 * 4096 + 1;  // rounded down to sectors
    uint64_t calls = 0, last = 0;
    options.progress = [&](uint64_t done) {
      EXPECT_GT(done, last);
      last = done;
      ++calls;
    };
    const SourceHashes small = HashSource(source, options);
    EXPECT_TRUE(small.complete);
    const std::string raw = path == cut ? cut : m_raw;
    EXPECT_EQ(small.bytes, fs::file_size(raw));
    EXPECT_EQ(small.md5, test::FileMd5(raw)) << path;
    EXPECT_EQ(small.sha1, test::FileSha1(raw)) << path;
    EXPECT_EQ(calls, (small.bytes + 20479) / 20480);
    EXPECT_EQ(small.unreadableSectors, 0u);

    const SourceHashes large = HashSource(source, HashOptions{});
    EXPECT_EQ(large.sha256, small.sha256);
    EXPECT_EQ(large.sha256.size(), 64u);
    EXPECT_TRUE(large.sha1.empty());

    std::atomic<bool> stop{false};
    options.stop = &stop;
    options.progress = [&](uint64_t) { stop = true; };
    const SourceHashes stopped = HashSource(source, options);
    EXPECT_FALSE(stopped.complete);
    EXPECT_LT(stopped.bytes, small.bytes);
  }
}
