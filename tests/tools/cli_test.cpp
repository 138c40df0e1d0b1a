#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>

#include <gtest/gtest.h>

#include "platform/disk_source.h"
#include "recorder/layout/clip_format.h"
#include "recorder/layout/disk_layout.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"
#include "tools/disk_image.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

constexpr uint32_t kStart = 1202982297;

// The raw text of a JSON field (a number, true/false or a quoted string).
std::string Field(const std::string &json, const std::string &key) {
  const std::regex re("\"" + key + "\": (\"[^\"]*\"|[^,}\\]]+)");
  std::smatch m;
  return std::regex_search(json, m, re) ? m[1].str() : "<missing>";
}

// One shared sample for the commands that only read it.
class OrvanCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::TempDir;
    s_image = s_dir->File("sample.img");
    const auto r = test::RunTool(
        "orvan-mkdisk", {"-o", s_image, "--duration", "30", "--events", "12", "--seed", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    s_checksum = test::FileSha256(s_image);
    ASSERT_FALSE(s_checksum.empty());
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  // Runs orvan-cli and checks the image was not changed by it.
  static test::ToolResult Cli(std::vector<std::string> args) {
    auto r = test::RunTool("orvan-cli", args);
    EXPECT_EQ(test::FileSha256(s_image), s_checksum) << "orvan-cli changed the image";
    return r;
  }
  static test::TempDir *s_dir;
  static std::string s_image;
  static std::string s_checksum;
};
test::TempDir *OrvanCli::s_dir = nullptr;
std::string OrvanCli::s_image;
std::string OrvanCli::s_checksum;

}  // namespace

TEST_F(OrvanCli, info_reportsGeometrySpanAndEventCount) {
  const auto r = Cli({"info", s_image, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Field(r.out, "recorder"), "true");
  EXPECT_EQ(Field(r.out, "indexAreaMiB"), "1");
  EXPECT_EQ(Field(r.out, "dataBase"), std::to_string(524288 + 1048576));
  const int64_t playEnd = std::stoll(Field(r.out, "playEnd"));
  EXPECT_EQ(std::stoll(Field(r.out, "indexCount")), playEnd + 300);
  EXPECT_EQ(playEnd, 30 * (4 * 8 + 16));
  EXPECT_EQ(Field(r.out, "start"), "\"2008/02/14_09:44:57\"");
  EXPECT_EQ(Field(r.out, "startSeconds"), std::to_string(kStart));
  // The end is the block time of the block holding playEnd.
  const uint32_t end = uint32_t(std::stoul(Field(r.out, "endSeconds")));
  EXPECT_EQ(Field(r.out, "end"), "\"" + FormatRecorderTime(int64_t{end}) + "\"");
  EXPECT_GT(end, kStart + 15);
  EXPECT_LE(end, kStart + 29);
  EXPECT_EQ(Field(r.out, "eventCount"), "12");
  // The text form says the same.
  const auto text = Cli({"info", s_image});
  ASSERT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("Start : 2008/02/14_09:44:57"), std::string::npos);
}

TEST_F(OrvanCli, events_listTheGridCellsAndSeconds) {
  const auto r = Cli({"events", s_image, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::regex row(
      R"re(\{"num": "(\d+)", "channel": "(\d*)", "time": "(\d{4}/\d\d/\d\d_\d\d:\d\d:\d\d)", "type": "([A-Za-z ]*)", "seconds": (\d+)\})re");
  int n = 0;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), row);
       it != std::sregex_iterator(); ++it) {
    ++n;
    EXPECT_EQ((*it)[1].str(), std::to_string(n));
    EXPECT_EQ((*it)[3].str(), FormatRecorderTime(std::stoll((*it)[5].str())));
  }
  EXPECT_EQ(n, 12);
  EXPECT_NE(
      r.out.find(
          R"({"num": "1", "channel": "1", "time": "2008/02/14_09:44:57", "type": "Power On", "seconds": 1202982297})"),
      std::string::npos);
}

TEST_F(OrvanCli, search_acceptsWallTimeOrSeconds_andGivesBlockStarts) {
  auto r = Cli({"search", s_image, "2008-02-14 09:45:10", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Field(r.out, "target"), std::to_string(kStart + 13));
  const int64_t entry = std::stoll(Field(r.out, "entry"));
  EXPECT_EQ(entry % 512, 0);
  EXPECT_GT(entry, 0);
  r = Cli({"search", s_image, std::to_string(kStart + 13), "--json"});
  EXPECT_EQ(Field(r.out, "entry"), std::to_string(entry));
  r = Cli({"search", s_image, "2000-01-01 00:00:00", "--json"});
  EXPECT_EQ(Field(r.out, "entry"), "0");
  r = Cli({"search", s_image, "yesterday", "--json"});
  EXPECT_EQ(r.exitCode, 1);
}

TEST_F(OrvanCli, exportThenClip_roundTripsEntriesTimesMagicAndRecords) {
  const std::string out = s_dir->File("part.in");
  const auto r = Cli({"export", s_image, "--from", "2008-02-14 09:45:10", "--to",
                      "2008-02-14 09:45:20", "-o", out, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Field(r.out, "index"), "\"" + out + "\"");
  EXPECT_EQ(Field(r.out, "data"), "\"" + s_dir->File("part.da") + "\"");
  EXPECT_EQ(Field(r.out, "magic"), "\"0x87654321\"");
  const int64_t entries = std::stoll(Field(r.out, "entries"));
  EXPECT_NE(r.err.find("copying"), std::string::npos);

  const auto c = Cli({"clip", out, "--json"});
  ASSERT_EQ(c.exitCode, 0) << c.err;
  EXPECT_EQ(Field(c.out, "count"), std::to_string(entries));
  EXPECT_EQ(Field(c.out, "layout"), "0");
  EXPECT_EQ(Field(c.out, "end"), "\"2008/02/14_09:45:19\"");

  // The clip starts at the block that holds the start time, and its records
  // are the disk's records, byte for byte.
  const auto s = Cli({"search", s_image, "2008-02-14 09:45:10", "--json"});
  const int64_t first = std::stoll(Field(s.out, "entry"));
  DiskSource disk;
  ASSERT_EQ(disk.OpenPath(s_image), DriveOpenStatus::Ok);
  DiskGeometry g;
  ASSERT_EQ(ReadGeometry(disk, g), GeometryStatus::Ok);
  IndexReader reader;
  reader.Start(disk, first);
  CClipReader clip;
  ASSERT_TRUE(clip.Open(out));
  const auto data = test::ReadFileBytes(s_dir->File("part.da"));
  std::vector<uint8_t> rec(kMaxRecordBytes);
  int64_t k = 0;
  uint64_t at = 0;
  while (k < entries && reader.ReadStep(disk)) {
    for (const auto &e : reader.Entries()) {
      if (k >= entries) break;
      IndexEntry fromClip;
      ASSERT_TRUE(clip.ReadEntry(uint64_t(k), fromClip));
      ASSERT_EQ(fromClip, e) << k;
      ASSERT_TRUE(ReadDataRecord(disk, g, e, rec.data()));
      ASSERT_LE(at + e.size, data.size());
      ASSERT_EQ(0, std::memcmp(rec.data(), data.data() + at, e.size)) << k;
      at += e.size;
      ++k;
    }
    reader.Resync(disk);
  }
  EXPECT_EQ(k, entries);
  EXPECT_EQ(at, data.size());
  IndexEntry e0;
  ASSERT_TRUE(clip.ReadEntry(0, e0));
  EXPECT_LE(e0.time, kStart + 13);
}

TEST_F(OrvanCli, drives_listImagesFirst_withTheRecorderFlag) {
  const std::string plain = s_dir->File("plain.img");
  std::ofstream(plain) << std::string(600000, 'x');
  const auto r = Cli({"drives", "--image", s_image, "--image", plain, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("[{\"drive\": 0, \"name\": \"Device_0\", \"path\": \"" + s_image +
                            "\", \"recorder\": true}, "
                            "{\"drive\": 1, \"name\": \"Device_1\", \"path\": \"" +
                            plain + "\", \"recorder\": false}",
                        0),
            0u)
      << r.out;
  // --drive N reads drive N of that table.
  const auto info = Cli({"info", "--drive", "0", "--image", s_image, "--json"});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_EQ(Field(info.out, "eventCount"), "12");
  EXPECT_EQ(Cli({"info", "--drive", "1", "--image", s_image, "--image", plain}).exitCode, 2);
}

TEST_F(OrvanCli, exportOntoTheImageItself_isRefused) {
  const auto r = Cli({"export", s_image, "--from", "0", "--to", "4000000000", "-o", s_image});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("refusing"), std::string::npos);
}

TEST(OrvanCliErrors, notARecorderDisk_isExit2_andNoStateIsExit3) {
  test::TempDir dir;
  std::ofstream(dir.File("zero.img")) << std::string(600000, '\0');
  for (const char *cmd : {"info", "events", "search", "export"}) {
    std::vector<std::string> args{cmd, dir.File("zero.img")};
    if (std::string(cmd) == "search") args.push_back("0");
    if (std::string(cmd) == "export")
      args.insert(args.end(), {"--from", "0", "--to", "9", "-o", dir.File("o.in")});
    const auto r = test::RunTool("orvan-cli", args);
    EXPECT_EQ(r.exitCode, 2) << cmd << r.err;
    EXPECT_NE(r.err.find("Not a recorder disk"), std::string::npos);
  }
  tools::RecorderImage image;
  image.stateSlot = -1;
  std::string error;
  ASSERT_TRUE(tools::WriteRecorderImage(dir.File("nostate.img"), image, &error));
  const auto sum = test::FileSha256(dir.File("nostate.img"));
  ASSERT_FALSE(sum.empty());
  auto r = test::RunTool("orvan-cli", {"info", dir.File("nostate.img"), "--json"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "Check HDD State Error!!\n");
  r = test::RunTool("orvan-cli", {"export", dir.File("nostate.img"), "--from", "0", "--to", "9",
                                  "-o", dir.File("n.in")});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_FALSE(std::filesystem::exists(dir.File("n.in")));
  // The event log does not need the state.
  EXPECT_EQ(test::RunTool("orvan-cli", {"events", dir.File("nostate.img")}).exitCode, 0);
  EXPECT_EQ(test::FileSha256(dir.File("nostate.img")), sum);
  EXPECT_EQ(test::RunTool("orvan-cli", {"info", dir.File("missing.img")}).exitCode, 1);
  EXPECT_EQ(test::RunTool("orvan-cli", {"frobnicate"}).exitCode, 1);
}

TEST(OrvanCliErrors, rejectedClips_exit2) {
  test::TempDir dir;
  std::ofstream(dir.File("short.in")) << std::string(2032, '\0');
  std::ofstream(dir.File("short.da"));
  auto r = test::RunTool("orvan-cli", {"clip", dir.File("short.in"), "--json"});
  EXPECT_EQ(r.exitCode, 2);
  // The window's words (recorder::ClipRefusal), naming the file.
  EXPECT_EQ(r.err, dir.File("short.in") + ": The file too short to play video.\n");
  std::ofstream(dir.File("none.in")) << std::string(4000, '\1');
  std::ofstream(dir.File("none.da"));
  r = test::RunTool("orvan-cli", {"clip", dir.File("none.in")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "No clip trailer in " + dir.File("none.in") + "\n");
  EXPECT_EQ(test::RunTool("orvan-cli", {"clip", dir.File("nothere.in")}).exitCode, 1);
  // A trailer at the very start claims no entries at all.
  std::string empty(2048, '\0');
  StoreU32(reinterpret_cast<uint8_t *>(empty.data()), kClipMagicSingle);
  std::ofstream(dir.File("empty.in")) << empty;
  std::ofstream(dir.File("empty.da"));
  r = test::RunTool("orvan-cli", {"clip", dir.File("empty.in")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("no entries"), std::string::npos);
}

// Damaged and absurd images: every command ends quickly with a clear error
// or a partial result, never a crash, and never touches the image.
TEST(OrvanCliErrors, corruptImages_endWithAnErrorOrPartialResult) {
  test::TempDir dir;
  const std::string good = dir.File("good.img");
  ASSERT_EQ(
      test::RunTool("orvan-mkdisk", {"-o", good, "--duration", "5", "--events", "70"}).exitCode, 0);
  const auto bytes = test::ReadFileBytes(good);
  struct Case {
    std::string name;
    std::function<void(std::vector<uint8_t> &)> damage;
  };
  const std::vector<Case> cases = {
      {"truncated-in-index", [](auto &b) { b.resize(kIndexAreaOffset + 1000); }},
      {"truncated-in-log", [](auto &b) { b.resize(kEventLogOffset + 700); }},
      {"truncated-in-data", [](auto &b) { b.resize(b.size() / 2); }},
      {"huge-index-area", [](auto &b) { StoreU32(b.data() + 12, 0xFFFFFFFF); }},
      {"huge-index-count", [](auto &b) { StoreU64(b.data() + 16 + 12, 0x7FFFFFFFFFFFFFFFull); }},
      {"negative-index-count", [](auto &b) { StoreU64(b.data() + 16 + 12, ~0ull); }},
      {"huge-event-count", [](auto &b) { StoreU32(b.data() + kEventLogOffset, 0xFFFFFFFF); }},
      {"garbage-index",
       [](auto &b) {
         uint32_t x = 12345;
         for (size_t i = kIndexAreaOffset; i < kIndexAreaOffset + 200000 && i < b.size(); ++i) {
           x = x * 1103515245 + 12345;
           b[i] = uint8_t(x >> 16);
         }
       }},
      {"times-out-of-order",
       [](auto &b) {
         for (size_t n = 0; n < 2000; n += 3)
           StoreU32(b.data() + kIndexAreaOffset + 20 * n + 4, uint32_t(n * 7919));
       }},
  };
  for (const auto &c : cases) {
    auto damaged = bytes;
    c.damage(damaged);
    const std::string path = dir.File(c.name + ".img");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(damaged.data()), long(damaged.size()));
    const auto sum = test::FileSha256(path);
    ASSERT_FALSE(sum.empty());
    const std::vector<std::vector<std::string>> commands = {
        {"info", path, "--json"},
        {"events", path, "--json"},
        {"search", path, "2008-02-14 09:44:59", "--json"},
        {"export", path, "--from", "0", "--to", "4000000000", "-o", dir.File(c.name + ".in"),
         "--json"},
    };
    for (const auto &cmd : commands) {
      const auto r = test::RunTool("orvan-cli", cmd, 60);
      EXPECT_GE(r.exitCode, 0) << c.name << " " << cmd[0] << " crashed or hung: " << r.err;
      EXPECT_LE(r.exitCode, 3) << c.name << " " << cmd[0];
      if (r.exitCode != 0) {
        EXPECT_FALSE(r.err.empty()) << c.name << " " << cmd[0];
      }
    }
    const auto clip = test::RunTool("orvan-cli", {"clip", dir.File(c.name + ".in")});
    EXPECT_GE(clip.exitCode, 0) << c.name;
    EXPECT_EQ(test::FileSha256(path), sum) << c.name;
  }
}

// Damaged disks keep their tolerant reading, and say what was lost: in one
// warning line, in the JSON, and as exit 5 under --strict.
TEST(OrvanCliDamage, truncatedIndexDataAreaAndFFIndex_reportWarningsAndCounts) {
  test::TempDir dir;
  const std::string good = dir.File("good.img");
  ASSERT_EQ(test::RunTool("orvan-mkdisk", {"-o", good, "--duration", "6"}).exitCode, 0);
  const auto bytes = test::ReadFileBytes(good);
  struct Case {
    std::string name;
    std::function<void(std::vector<uint8_t> &)> damage;
    std::string infoWarning;    // said by info
    std::string exportWarning;  // said by export
    bool nothingCopied;         // the damage leaves nothing to copy: no clip
  };
  const std::vector<Case> cases = {
      {"index", [](auto &b) { b.resize(kIndexAreaOffset + 1000); },
       "truncated image: 525288 bytes, the layout needs at least 536048", "the clip ends there",
       true},
      {"data", [](auto &b) { b.resize(b.size() / 2); }, "truncated image: ", "were not copied",
       false},
      {"ff",
       [](auto &b) {
         std::fill(b.begin() + kIndexAreaOffset, b.begin() + kIndexAreaOffset + kMiB, 0xFF);
       },
       "is not a recorder entry", "were not copied", true},
      // Cut before the index: once "Not a recorder disk".
      {"short", [](auto &b) { b.resize(kEventLogOffset + 700); },
       "the index cannot be read at entry 0: the start time is unknown", "the clip ends there",
       true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto damaged = bytes;
    c.damage(damaged);
    const std::string path = dir.File(c.name + ".img");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(damaged.data()), long(damaged.size()));
    const auto sum = test::FileSha256(path);
    ASSERT_FALSE(sum.empty());

    const auto info = test::RunTool("orvan-cli", {"info", path, "--json"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.err.find("warning: "), std::string::npos);
    EXPECT_NE(info.err.find(c.infoWarning), std::string::npos) << info.err;
    EXPECT_NE(info.out.find(c.infoWarning), std::string::npos) << info.out;
    EXPECT_EQ(test::RunTool("orvan-cli", {"info", path, "--strict"}).exitCode, 5);

    const auto clip = dir.File(c.name + ".in");
    const auto ex = test::RunTool(
        "orvan-cli", {"export", path, "--from", "0", "--to", "4000000000", "-o", clip, "--json"});
    EXPECT_NE(ex.err.find(c.exportWarning), std::string::npos) << ex.err;
    if (c.nothingCopied) {
      // Nothing in the span can be read: no clip, and the damage is told.
      EXPECT_EQ(ex.exitCode, 2) << ex.err;
      EXPECT_NE(ex.err.find("Nothing in the chosen span could be read"), std::string::npos);
      EXPECT_FALSE(std::filesystem::exists(clip));
      EXPECT_EQ(test::FileSha256(path), sum);
      continue;
    }
    EXPECT_EQ(ex.exitCode, 0) << ex.err;
    EXPECT_EQ(Field(ex.out, "readErrors"), "0") << ex.out;
    const int64_t entries = std::stoll(Field(ex.out, "entries"));
    const int64_t skipped = std::stoll(Field(ex.out, "skippedRecords"));
    if (c.name == "data" || c.name == "ff") {
      EXPECT_GT(skipped, 0);
      // Every entry of the index was either copied or counted.
      EXPECT_GE(entries + skipped, int64_t(6 * 48));
    }
    EXPECT_EQ(test::RunTool("orvan-cli", {"export", path, "--from", "0", "--to", "4000000000", "-o",
                                          clip, "--overwrite", "--strict"})
                  .exitCode,
              5);
    EXPECT_EQ(test::FileSha256(path), sum);
  }
  // A sound disk says nothing, and --strict changes nothing.
  const auto info = test::RunTool("orvan-cli", {"info", good, "--json", "--strict"});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_TRUE(info.err.empty()) << info.err;
  EXPECT_NE(info.out.find("\"warnings\": [], \"readErrors\": 0, \"skippedRecords\": 0}"),
            std::string::npos);
  const auto events = test::RunTool("orvan-cli", {"events", good, "--json", "--strict"});
  EXPECT_EQ(events.exitCode, 0);
  EXPECT_EQ(events.out.rfind("{\"events\": [{\"num\": \"1\"", 0), 0u) << events.out;
}

// A FIFO named as a disk once hung every command, drives included.
TEST(OrvanCliSources, fifoAndCharacterDevice_areRefusedAtOnce_andLeftOutOfTheDrives) {
  test::TempDir dir;
  const std::string fifo = dir.File("pipe.img");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(dir.File("pipe.in").c_str(), 0600), 0);
  for (const std::string &source : {fifo, std::string("/dev/zero")}) {
    for (std::vector<std::string> cmd :
         {std::vector<std::string>{"info", source},
          {"events", source},
          {"search", source, "0"},
          {"export", source, "--from", "0", "--to", "9", "-o", dir.File("o.in")},
          {"info", "--image", source, "--drive", "0"}}) {
      const auto r = test::RunTool("orvan-cli", cmd, 60);
      EXPECT_EQ(r.exitCode, 1) << cmd[0] << " " << source << ": " << r.err;
      EXPECT_EQ(r.err, source + " is not a disk or an image\n");
    }
  }
  const auto clip = test::RunTool("orvan-cli", {"clip", dir.File("pipe.in")}, 60);
  EXPECT_EQ(clip.exitCode, 1);
  EXPECT_NE(clip.err.find("not a clip file"), std::string::npos) << clip.err;
  const std::string image = dir.File("d.img");
  ASSERT_EQ(test::RunTool("orvan-mkdisk", {"-o", image, "--duration", "1"}).exitCode, 0);
  const auto drives =
      test::RunTool("orvan-cli", {"drives", "--image", fifo, "--image", image, "--json"}, 60);
  EXPECT_EQ(drives.exitCode, 0);
  EXPECT_NE(drives.err.find(fifo + " is not a disk or an image"), std::string::npos);
  EXPECT_EQ(drives.out.find(fifo), std::string::npos) << drives.out;
  EXPECT_EQ(drives.out.rfind("[{\"drive\": 1, \"name\": \"Device_1\", \"path\": \"" + image +
                                 "\", \"recorder\": true}",
                             0),
            0u)
      << drives.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("o.in")));
}
