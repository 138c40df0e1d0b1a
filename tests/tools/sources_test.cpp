// E01 images and hashes through orvan-cli: every answer from an E01 is the
// raw image's, hashes agree with sha256sum and md5sum, and damaged or
// incomplete segment sets say which file is at fault.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "recorder/layout/clip_format.h"
#include "recorder/layout/disk_layout.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/ewf_writer.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"
#include "tools/disk_image.h"

using namespace orvan;
namespace fs = std::filesystem;

namespace {

std::string Field(const std::string &json, const std::string &key) {
  const std::regex re("\"" + key + "\": (\"[^\"]*\"|[^,}\\]]+)");
  std::smatch m;
  return std::regex_search(json, m, re) ? m[1].str() : "<missing>";
}

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

test::EwfWriteOptions SmallSegments(bool compress = true, bool storeSha1 = true,
                                    const std::string &storedMd5 = {}) {
  test::EwfWriteOptions options;
  options.segmentBytes = 256 << 10;
  options.compress = compress;
  options.storeSha1 = storeSha1;
  options.storedMd5 = storedMd5;
  return options;
}

// The first word of a checksum tool's line.
std::string Digest(const std::string &program, const std::string &path) {
  const auto r = test::RunProgram(program, {path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out.substr(0, r.out.find(' '));
}

// Changes bytes in the middle of a file, where a segment keeps chunks.
void Spoil(const std::string &path) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(fs::file_size(path) / 2));
  f.write("\xde\xad\xbe\xef\xde\xad\xbe\xef", 8);
}

// One recording, as a raw image and as an E01 of 256 KiB segments.
class Sources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::TempDir;
    s_raw = s_dir->File("sample.img");
    const auto r = test::RunTool("orvan-mkdisk", {"-o", s_raw, "--duration", "8", "--fps", "4",
                                                  "--events", "12", "--seed", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string error;
    s_segments = test::WriteEwfImage(s_raw, s_dir->File("case"), SmallSegments(), &error);
    ASSERT_GE(s_segments.size(), 2u) << error;
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  // The JSON of a command on the raw image and on the E01, with the paths
  // of the source taken out.
  static std::pair<std::string, std::string> Both(const std::vector<std::string> &before,
                                                  const std::vector<std::string> &after = {}) {
    std::string answers[2];
    const std::string sources[2] = {s_raw, s_segments[0]};
    for (int i = 0; i < 2; ++i) {
      std::vector<std::string> args = before;
      args.push_back(sources[i]);
      args.insert(args.end(), after.begin(), after.end());
      args.push_back("--json");
      const auto r = test::RunTool("orvan-cli", args);
      EXPECT_EQ(r.exitCode, 0) << r.err;
      answers[i] = r.out;
    }
    return {answers[0], answers[1]};
  }
  static test::TempDir *s_dir;
  static std::string s_raw;
  static std::vector<std::string> s_segments;
};
test::TempDir *Sources::s_dir = nullptr;
std::string Sources::s_raw;
std::vector<std::string> Sources::s_segments;

}  // namespace

TEST_F(Sources, e01_answersEveryCommandAsTheRawImage_andExportsTheSameBytes) {
  for (const auto &[raw, e01] :
       {Both({"info"}), Both({"events"}), Both({"search"}, {"2008-02-14 09:45:01"}),
        Both({"search"}, {"2008-02-14 09:44:00"})}) {
    EXPECT_EQ(raw, e01);
    EXPECT_NE(raw.find("\"warnings\": []"), std::string::npos);
  }
  const auto info = Both({"info"}).first;
  EXPECT_EQ(Field(info, "eventCount"), "12");

  // Whole exports and one span, byte for byte.
  for (const auto &[from, to] : {std::pair<std::string, std::string>{"0", "4000000000"},
                                 {"2008-02-14 09:44:59", "2008-02-14 09:45:02"}}) {
    std::string clips[2];
    const std::string sources[2] = {s_raw, s_segments[0]};
    for (int i = 0; i < 2; ++i) {
      clips[i] = s_dir->File("clip" + std::to_string(i) + ".in");
      const auto r = test::RunTool("orvan-cli", {"export", sources[i], "--from", from, "--to", to,
                                                 "-o", clips[i], "--overwrite", "--json"});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    EXPECT_EQ(test::FileSha256(clips[0]), test::FileSha256(clips[1]));
    EXPECT_EQ(test::FileSha256(recorder::CompanionDataName(clips[0])),
              test::FileSha256(recorder::CompanionDataName(clips[1])));
    EXPECT_GT(fs::file_size(recorder::CompanionDataName(clips[0])), 1000u);
  }

  // In the drive table an E01 is a recorder disk like its raw image.
  const auto drives =
      test::RunTool("orvan-cli", {"drives", "--image", s_raw, "--image", s_segments[0], "--json"});
  ASSERT_EQ(drives.exitCode, 0) << drives.err;
  EXPECT_NE(drives.out.find("\"path\": " + Quoted(s_segments[0]) + ", \"recorder\": true"),
            std::string::npos)
      << drives.out;
  const auto byNumber = test::RunTool(
      "orvan-cli", {"info", "--drive", "1", "--image", s_raw, "--image", s_segments[0], "--json"});
  EXPECT_EQ(byNumber.out, Both({"info"}).first);
}

TEST_F(Sources, e01MediaExport_isTheRawImages_andItsManifestNamesEverySegmentAndStoredHash) {
  const std::string sources[2] = {s_raw, s_segments[0]};
  std::string manifests[2], files[2];
  for (int i = 0; i < 2; ++i) {
    const std::string out = s_dir->File("media" + std::to_string(i) + ".mkv");
    const auto r = test::RunTool("orvan-cli", {"export", sources[i], "--from", "0", "--to",
                                               "4000000000", "-o", out, "--overwrite", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    files[i] = s_dir->File("media" + std::to_string(i) + "_CH1.mkv");
    manifests[i] = test::ReadFileText(s_dir->File("media" + std::to_string(i) + ".manifest.json"));
  }
  // Matroska's segment and track UIDs are random, so the files are
  // compared by their length and the counts written.
  ASSERT_TRUE(fs::exists(files[0]) && fs::exists(files[1]));
  EXPECT_EQ(fs::file_size(files[0]), fs::file_size(files[1]));
  EXPECT_EQ(Field(manifests[0], "pictures"), Field(manifests[1], "pictures"));
  EXPECT_EQ(Field(manifests[0], "kind"), Quoted("image"));
  EXPECT_EQ(manifests[0].find("\"segments\""), std::string::npos);
  EXPECT_EQ(Field(manifests[1], "kind"), Quoted("E01 image"));
  EXPECT_EQ(std::stoull(Field(manifests[0], "sizeBytes")),
            std::stoull(Field(manifests[1], "sizeBytes")));
  EXPECT_EQ(Field(manifests[1], "storedSha1"), Quoted(Digest("sha1sum", s_raw)));
  for (const std::string &segment : s_segments)
    EXPECT_NE(manifests[1].find(Quoted(fs::absolute(segment).string())), std::string::npos)
        << segment;
  const auto verify = test::RunTool("orvan-cli", {"verify", s_dir->File("media1.manifest.json")});
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
}

TEST_F(Sources, hash_equalsSha256sumAndMd5sum_forRawAndE01_andTheStoredHashesMatch) {
  const std::string sha256 = Digest("sha256sum", s_raw);
  const std::string md5 = Digest("md5sum", s_raw);
  ASSERT_EQ(sha256.size(), 64u);
  const auto raw = test::RunTool("orvan-cli", {"hash", s_raw, "--json"});
  ASSERT_EQ(raw.exitCode, 0) << raw.err;
  EXPECT_EQ(Field(raw.out, "sha256"), Quoted(sha256));
  EXPECT_EQ(Field(raw.out, "md5"), Quoted(md5));
  EXPECT_EQ(Field(raw.out, "bytes"), std::to_string(fs::file_size(s_raw)));
  EXPECT_EQ(Field(raw.out, "kind"), "\"raw\"");

  const auto e01 = test::RunTool("orvan-cli", {"hash", s_segments[0], "--json"});
  ASSERT_EQ(e01.exitCode, 0) << e01.err;
  EXPECT_EQ(Field(e01.out, "kind"), "\"e01\"");
  EXPECT_EQ(Field(e01.out, "sha256"), Quoted(sha256));
  EXPECT_EQ(Field(e01.out, "md5"), Quoted(md5));
  EXPECT_EQ(Field(e01.out, "sha1"), Quoted(Digest("sha1sum", s_raw)));
  EXPECT_EQ(Field(e01.out, "storedMatch"), "true");
  EXPECT_NE(e01.out.find("\"warnings\": []"), std::string::npos);
  // No progress line when the output is not a terminal.
  EXPECT_EQ(e01.err.find('\r'), std::string::npos);
  const auto text = test::RunTool("orvan-cli", {"hash", s_segments[0]});
  EXPECT_NE(text.out.find("SHA-256  " + sha256), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("stored MD5    " + md5 + ": matches"), std::string::npos) << text.out;

  // A file that ends inside a sector is hashed as far as it goes.
  const std::string odd = s_dir->File("odd.img");
  fs::copy_file(s_raw, odd, fs::copy_options::overwrite_existing);
  fs::resize_file(odd, fs::file_size(s_raw) - 1000);
  const auto cut = test::RunTool("orvan-cli", {"hash", odd, "--json"});
  EXPECT_EQ(Field(cut.out, "sha256"), Quoted(Digest("sha256sum", odd)));
  EXPECT_EQ(Field(cut.out, "md5"), Quoted(Digest("md5sum", odd)));
  std::ofstream(s_dir->File("empty.img"));
  const auto empty = test::RunTool("orvan-cli", {"hash", s_dir->File("empty.img"), "--json"});
  EXPECT_EQ(Field(empty.out, "sha256"), Quoted(Digest("sha256sum", s_dir->File("empty.img"))));
}

TEST_F(Sources, hash_takesDriveN_listsItsOptions_andRefusesBadCommandLines) {
  const auto byPath = test::RunTool("orvan-cli", {"hash", s_segments[0], "--json"});
  const auto byNumber = test::RunTool(
      "orvan-cli", {"hash", "--drive", "1", "--image", s_raw, "--image", s_segments[0], "--json"});
  ASSERT_EQ(byNumber.exitCode, 0) << byNumber.err;
  EXPECT_EQ(Field(byNumber.out, "source"), Quoted(s_segments[0]));
  EXPECT_EQ(Field(byNumber.out, "sha256"), Field(byPath.out, "sha256"));

  const auto help = test::RunTool("orvan-cli", {"hash", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char *option : {"SOURCE", "--drive N", "--image PATH", "--json", "--strict"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_NE(test::RunTool("orvan-cli", {"--help"}).out.find("\n  hash "), std::string::npos);

  const auto none = test::RunTool("orvan-cli", {"hash"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("no SOURCE given"), std::string::npos) << none.err;
  const auto two = test::RunTool("orvan-cli", {"hash", s_raw, s_raw});
  EXPECT_EQ(two.exitCode, 1);
  EXPECT_NE(two.err.find("more than one SOURCE"), std::string::npos) << two.err;
  EXPECT_EQ(two.out, "");
  const auto noDrive = test::RunTool("orvan-cli", {"hash", "--drive", "5", "--image", s_raw});
  EXPECT_EQ(noDrive.exitCode, 1);
  EXPECT_NE(noDrive.err.find("No such drive: 5"), std::string::npos) << noDrive.err;
  EXPECT_EQ(test::RunTool("orvan-cli", {"hash", s_raw, "--md5-only"}).exitCode, 1);
}

TEST_F(Sources, e01WhoseStoredHashIsWrong_readsFine_butTheHashSaysSo) {
  std::string error;
  const auto segments =
      test::WriteEwfImage(s_raw, s_dir->File("wrong"),
                          SmallSegments(true, false, "0123456789abcdef0123456789abcdef"), &error);
  ASSERT_FALSE(segments.empty()) << error;
  const auto info = test::RunTool("orvan-cli", {"info", segments[0], "--json"});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_EQ(info.out, Both({"info"}).first);

  const auto r = test::RunTool("orvan-cli", {"hash", segments[0], "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Field(r.out, "md5"), Quoted(test::FileMd5(s_raw)));
  EXPECT_EQ(Field(r.out, "storedMatch"), "false");
  EXPECT_EQ(Field(r.out, "sha1"), "<missing>");
  EXPECT_NE(r.err.find("the MD5 stored in " + segments[0] + " does not match its data"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::RunTool("orvan-cli", {"hash", segments[0], "--strict"}).exitCode, 5);
}

TEST_F(Sources, missingCutAndDamagedSegments_giveErrorsNamingTheFile) {
  std::string error;
  const auto segments =
      test::WriteEwfImage(s_raw, s_dir->File("hurt"), SmallSegments(false), &error);
  ASSERT_GE(segments.size(), 3u) << error;
  const std::string aside = s_dir->File("aside");
  fs::rename(segments[1], aside);
  for (const char *command : {"info", "events", "hash"}) {
    const auto r = test::RunTool("orvan-cli", {command, segments[0]});
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_NE(r.err.find("Segment file " + segments[1] + " is missing"), std::string::npos)
        << command << ": " << r.err;
  }
  fs::rename(aside, segments[1]);
  fs::copy_file(segments.back(), aside);
  fs::resize_file(segments.back(), fs::file_size(segments.back()) - 100);
  const auto cut = test::RunTool("orvan-cli", {"info", segments[0]});
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_NE(cut.err.find(segments.back() + " is cut short or damaged"), std::string::npos)
      << cut.err;
  fs::rename(aside, segments.back());

  // A chunk that fails its checksum: the hash goes on, with zeros for it,
  // and says where and in which file.
  Spoil(segments[1]);
  const auto r = test::RunTool("orvan-cli", {"hash", segments[0], "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Field(r.out, "unreadableSectors"), "64");
  EXPECT_NE(r.out.find("cannot be read (hashed as zeros): Damaged data in " + segments[1]),
            std::string::npos)
      << r.out;
  EXPECT_EQ(test::RunTool("orvan-cli", {"hash", segments[0], "--strict"}).exitCode, 5);
}

TEST_F(Sources, ewfacquireImage_readsAsTheRawImage) {
  if (test::RunProgram("ewfacquire", {"-V"}).exitCode != 0)
    GTEST_SKIP() << "ewfacquire (Debian ewf-tools) is not installed";
  const std::string base = s_dir->File("acquired");
  const auto acquired =
      test::RunProgram("ewfacquire", {"-u", "-q", "-d", "sha1", "-t", base, s_raw});
  ASSERT_EQ(acquired.exitCode, 0) << acquired.err;
  const auto info = test::RunTool("orvan-cli", {"info", base + ".E01", "--json"});
  EXPECT_EQ(info.out, Both({"info"}).first);
  const auto hash = test::RunTool("orvan-cli", {"hash", base + ".E01", "--json"});
  EXPECT_EQ(Field(hash.out, "md5"), Quoted(test::FileMd5(s_raw)));
  EXPECT_EQ(Field(hash.out, "storedMatch"), "true");
}

TEST_F(Sources, hash_showsAProgressLineOnATerminal) {
  int terminal = -1;
  const std::string cli = test::BinaryDir() + "/tools/orvan-cli";
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(cli.c_str(), cli.c_str(), "hash", s_segments[0].c_str(), nullptr);
    _exit(127);
  }
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{terminal, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    const ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;  // the program ended and closed the terminal
    seen.append(buffer, size_t(n));
  }
  close(terminal);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  EXPECT_TRUE(std::regex_search(seen, std::regex("\rhashing: +100% [0-9.]+ MB/s"))) << seen;
  EXPECT_NE(seen.find("SHA-256"), std::string::npos);
}

TEST(SourcesLarge, imageBeyond2TiB_isReadToItsEnd) {
  test::TempDir dir;
  // The test's file system must hold a sparse file of 3 TiB.
  const std::string probe = dir.File("probe");
  { std::ofstream(probe).put('x'); }
  std::error_code ec;
  fs::resize_file(probe, 3ull << 40, ec);
  if (ec) GTEST_SKIP() << "the temporary folder cannot hold a 3 TiB sparse file: " << ec.message();
  fs::remove(probe);

  // Records beyond 2 TiB, and the disk ends at 3 TiB.
  tools::RecorderImage image;
  constexpr uint64_t kFar = (5ull << 40) / 2;  // 2.5 TiB into the data area
  test::AddPatternEntries(image, 40, 1202982297, 4, 3000);
  for (auto &e : image.entries) e.offset += kFar;
  image.dataAt = kFar;
  const uint64_t dataBase = recorder::kIndexAreaOffset + (1u << 20);
  image.tailBytes = (3ull << 40) - (dataBase + kFar + image.data.size());
  const std::string path = dir.File("big.img");
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(path, image, &error)) << error;
  ASSERT_EQ(fs::file_size(path), 3ull << 40);

  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(path), DriveOpenStatus::Ok);
  EXPECT_EQ(disk.SizeBytes(), 3ull << 40);
  std::vector<uint8_t> sector(512, 1);
  ASSERT_TRUE(disk.Seek((3ull << 40) - 512));
  ASSERT_TRUE(disk.Read(sector.data(), 512));
  EXPECT_EQ(sector, std::vector<uint8_t>(512, 0));

  const auto info = test::RunTool("orvan-cli", {"info", path, "--json"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("\"warnings\": []"), std::string::npos);
  const std::string clip = dir.File("far.in");
  const auto r =
      test::RunTool("orvan-cli", {"export", path, "--from", "0", "--to", "4000000000", "-o", clip});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Every record came from beyond 2 TiB, byte for byte.
  EXPECT_EQ(test::ReadFileBytes(recorder::CompanionDataName(clip)), image.data);
}
