// orvan-cli on failing reads served by a FUSE file system (the kernel's own
// error path): a bad sector costs only what it holds, every loss is located
// in the JSON and the manifests, a pulled disk ends every command with
// "The disk stopped answering" and exit 1, and nothing hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"
#include "tests/support/faulty_mount.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

using namespace orvan;
using namespace orvan::recorder;
using Json = nlohmann::json;

namespace {

// The index sector run of a failing disk, and 100 KB of its data
// area (from this far into it).
constexpr uint64_t kBadIndexFrom = 530000, kBadIndexTo = 531000;
constexpr uint64_t kBadDataInto = 3 << 20, kBadDataBytes = 100 * 1024;

Json ParseJson(const std::string &text) {
  return Json::parse(text, nullptr, /*allow_exceptions=*/false);
}

// One minute of four channels, with what its index says.
class DamagedMedia : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::TempDir;
    s_image = s_dir->File("minute.img");
    const auto made = test::RunTool("orvan-mkdisk", {"-o", s_image, "--duration", "60"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    DiskSource disk;
    ASSERT_EQ(disk.OpenPath(s_image), DriveOpenStatus::Ok);
    ASSERT_EQ(ReadGeometry(disk, s_geometry), GeometryStatus::Ok);
    IndexReader reader;
    reader.Start(disk, 0);
    while (reader.Next() < s_geometry.playEnd && reader.ReadStep(disk)) {
      for (const IndexEntry &e : reader.Entries()) s_entries.push_back(e);
      reader.Resync(disk);
    }
    s_entries.resize(size_t(s_geometry.playEnd));
    s_firstTime = s_entries.front().time;
    s_lastTime = s_entries.back().time;
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override {
    const std::string why = test::FaultyMount::Unavailable();
    if (!why.empty()) GTEST_SKIP() << "no FUSE file system here: " << why;
  }

  static uint64_t BadDataFrom() { return s_geometry.dataBase + kBadDataInto; }
  // The failing disk: EIO in one index sector run and in 100 KB of data.
  static std::vector<std::pair<uint64_t, uint64_t>> FailingDiskDamage() {
    return {{kBadIndexFrom, kBadIndexTo}, {BadDataFrom(), BadDataFrom() + kBadDataBytes}};
  }
  // Entries whose index bytes touch the bad index sectors (whole sectors
  // fail), and those (others) whose record touches the bad data.
  static bool IndexLost(int64_t n) {
    const uint64_t from = kBadIndexFrom / 512 * 512, to = (kBadIndexTo + 511) / 512 * 512;
    const uint64_t at = IndexEntryPosition(n);
    return at < to && at + kEntryBytes > from;
  }
  static bool RecordLost(const IndexEntry &e) {
    const uint64_t from = BadDataFrom(), to = from + kBadDataBytes;
    const uint64_t at = s_geometry.dataBase + e.offset;
    const uint64_t first = at / 512 * 512, end = (at + e.size + 511) / 512 * 512;
    return first < to && end > from;
  }

  static test::TempDir *s_dir;
  static std::string s_image;
  static DiskGeometry s_geometry;
  static std::vector<IndexEntry> s_entries;
  static uint32_t s_firstTime, s_lastTime;
};
test::TempDir *DamagedMedia::s_dir = nullptr;
std::string DamagedMedia::s_image;
DiskGeometry DamagedMedia::s_geometry;
std::vector<IndexEntry> DamagedMedia::s_entries;
uint32_t DamagedMedia::s_firstTime = 0, DamagedMedia::s_lastTime = 0;

TEST_F(DamagedMedia, exportOfTheWholeMinute_writesAllButTheLostEntries_andItsManifestListsThem) {
  test::FaultyMount mount(s_image, FailingDiskDamage());
  ASSERT_TRUE(mount.Started()) << mount.Error();
  test::TempDir out;
  const std::string from = std::to_string(s_firstTime), to = std::to_string(s_lastTime + 1);

  // A clip: every entry but those of the lost index sectors and the lost
  // records.
  int64_t expected = 0, indexLost = 0, recordsLost = 0;
  for (size_t n = 0; n < s_entries.size(); ++n) {
    if (IndexLost(int64_t(n))) {
      ++indexLost;
    } else if (RecordLost(s_entries[n])) {
      ++recordsLost;
    } else {
      ++expected;
    }
  }
  ASSERT_GT(indexLost, 25);
  ASSERT_GT(recordsLost, 0);
  const std::string clip = out.File("whole.in");
  const auto ex = test::RunTool(
      "orvan-cli", {"export", mount.Path(), "--from", from, "--to", to, "-o", clip, "--json"}, 600);
  ASSERT_EQ(ex.exitCode, 0) << ex.err;
  const Json result = ParseJson(ex.out);
  ASSERT_TRUE(result.is_object()) << ex.out;
  EXPECT_EQ(result["entries"].get<int64_t>(), expected);
  EXPECT_FALSE(result["complete"].get<bool>());
  EXPECT_NE(ex.err.find("warning: unreadable sectors cost " + std::to_string(indexLost) +
                        " index entries, " + std::to_string(recordsLost) + " records"),
            std::string::npos)
      << ex.err;

  // Its manifest says it is incomplete and where every loss lay.
  const Json manifest = ParseJson(test::ReadFileText(out.File("whole.manifest.json")));
  ASSERT_TRUE(manifest.is_object());
  EXPECT_FALSE(manifest["complete"].get<bool>());
  EXPECT_FALSE(manifest["span"]["stoppedBeforeTheEnd"].get<bool>());
  const Json &lost = manifest["lost"];
  ASSERT_TRUE(lost.is_array());
  int64_t listedIndex = 0, listedRecords = 0;
  for (const Json &item : lost) {
    if (item["what"] == "index") {
      EXPECT_EQ(item["fromEntry"].get<int64_t>(), 281);
      EXPECT_EQ(item["byteOffset"].get<uint64_t>(), kBadIndexFrom / 512 * 512);
      EXPECT_EQ(item["bytes"].get<uint64_t>(), 3u * 512);
      listedIndex += item["toEntry"].get<int64_t>() - item["fromEntry"].get<int64_t>() + 1;
    } else {
      EXPECT_EQ(item["what"], "record");
      const int64_t n = item["entry"].get<int64_t>();
      ASSERT_LT(size_t(n), s_entries.size());
      EXPECT_TRUE(RecordLost(s_entries[size_t(n)])) << n;
      ++listedRecords;
    }
  }
  EXPECT_EQ(listedIndex, indexLost);
  EXPECT_EQ(listedRecords, recordsLost);
  // Each index sector is one read that failed, each record another.
  EXPECT_EQ(manifest["readErrors"].get<int64_t>(), 3 + recordsLost);

  // Matroska files of the whole minute, less the lost parts.
  const std::string mkv = out.File("media.mkv");
  const auto media = test::RunTool(
      "orvan-cli", {"export", mount.Path(), "--from", from, "--to", to, "-o", mkv, "--json"}, 600);
  ASSERT_EQ(media.exitCode, 0) << media.err;
  const Json mediaManifest = ParseJson(test::ReadFileText(out.File("media.manifest.json")));
  ASSERT_TRUE(mediaManifest.is_object());
  EXPECT_FALSE(mediaManifest["complete"].get<bool>());
  EXPECT_EQ(mediaManifest["lost"].size(), lost.size());
  ASSERT_EQ(mediaManifest["channels"].size(), 4u);
  for (const Json &channel : mediaManifest["channels"]) {
    // Each channel's file runs from the first seconds to the last.
    EXPECT_LE(channel["firstMs"].get<int64_t>(), int64_t(s_firstTime + 3) * 1000);
    EXPECT_GE(channel["lastMs"].get<int64_t>(), int64_t(s_lastTime - 1) * 1000);
  }
  // --strict: the same export is a partial result.
  EXPECT_EQ(test::RunTool("orvan-cli", {"export", mount.Path(), "--from", from, "--to", to, "-o",
                                        clip, "--overwrite", "--strict"})
                .exitCode,
            5);
}

TEST_F(DamagedMedia, searchInfoAndHash_passOverWhatCannotBeRead_andSayWhere) {
  // The block time of block 2 (entries 1024..) and the failing disk's damage.
  auto damage = FailingDiskDamage();
  const uint64_t block2 = IndexEntryPosition(1024);
  damage.push_back({block2, block2 + 512});
  test::FaultyMount mount(s_image, damage);
  ASSERT_TRUE(mount.Started()) << mount.Error();

  // The search lands where the healthy image's does, the unreadable block
  // passed over.
  const std::string when = std::to_string(s_entries[1100].time);
  const auto healthy = test::RunTool("orvan-cli", {"search", s_image, when, "--json"});
  const auto damaged = test::RunTool("orvan-cli", {"search", mount.Path(), when, "--json"});
  ASSERT_EQ(healthy.exitCode, 0) << healthy.err;
  ASSERT_EQ(damaged.exitCode, 0) << damaged.err;
  const Json h = ParseJson(healthy.out), d = ParseJson(damaged.out);
  EXPECT_LE(std::abs(d["entry"].get<int64_t>() - h["entry"].get<int64_t>()), 512) << damaged.out;
  bool blockListed = false;
  for (const Json &item : d["lost"])
    blockListed |= item["what"] == "blockTime" && item["entry"].get<int64_t>() == 1024;
  EXPECT_TRUE(blockListed) << damaged.out;

  // Hash: exactly the sectors served with EIO are zeros in the digest.
  auto bytes = test::ReadFileBytes(s_image);
  uint64_t sectors = 0;
  for (const auto &[from, to] : damage) {
    for (uint64_t s = from / 512; s < (to + 511) / 512; ++s, ++sectors)
      std::fill(bytes.begin() + long(s * 512), bytes.begin() + long(s * 512 + 512), 0);
  }
  test::TempDir out;
  const std::string zeroed = out.File("zeroed.img");
  std::ofstream(zeroed, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), long(bytes.size()));
  const auto hash = test::RunTool("orvan-cli", {"hash", mount.Path(), "--json"});
  ASSERT_EQ(hash.exitCode, 0) << hash.err;
  const Json hashed = ParseJson(hash.out);
  EXPECT_EQ(hashed["unreadableSectors"].get<uint64_t>(), sectors);
  EXPECT_EQ(hashed["sha256"].get<std::string>(), test::FileSha256(zeroed));
  EXPECT_EQ(hashed["lost"].size(), damage.size());
}

TEST_F(DamagedMedia, diskPulledPartWay_exportFinishesWhatItHas_marksItIncomplete_andExits1) {
  test::FaultyMount mount(s_image);
  ASSERT_TRUE(mount.Started()) << mount.Error();
  test::TempDir out;
  // Enough for the header, the search and the first windows of the span,
  // then nothing answers.
  mount.FailAfter(4 << 20);
  const std::string clip = out.File("pulled.in");
  const auto ex = test::RunTool("orvan-cli",
                                {"export", mount.Path(), "--from", std::to_string(s_firstTime),
                                 "--to", std::to_string(s_lastTime + 1), "-o", clip, "--json"},
                                300);
  EXPECT_EQ(ex.exitCode, 1) << ex.err;
  EXPECT_NE(ex.err.find("The disk stopped answering"), std::string::npos) << ex.err;
  const Json result = ParseJson(ex.out);
  ASSERT_TRUE(result.is_object()) << ex.out;
  EXPECT_TRUE(result["diskStoppedAnswering"].get<bool>());
  EXPECT_FALSE(result["complete"].get<bool>());
  const int64_t written = result["entries"].get<int64_t>();
  EXPECT_GT(written, 0);
  EXPECT_LT(written, int64_t(s_entries.size()));
  // The clip is whole and playable as far as it goes; no temporary is left.
  const auto check = test::RunTool("orvan-cli", {"clip", clip, "--json"});
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(ParseJson(check.out)["count"].get<int64_t>(), written);
  const Json manifest = ParseJson(test::ReadFileText(out.File("pulled.manifest.json")));
  ASSERT_TRUE(manifest.is_object());
  EXPECT_FALSE(manifest["complete"].get<bool>());
  EXPECT_TRUE(manifest["diskStoppedAnswering"].get<bool>());
  EXPECT_TRUE(manifest["span"]["stoppedBeforeTheEnd"].get<bool>());
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(out.Path()))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"pulled.da", "pulled.frames.csv", "pulled.in",
                                             "pulled.manifest.json"}));
  EXPECT_EQ(test::RunTool("orvan-cli", {"verify", out.File("pulled.manifest.json")}).exitCode, 0);
}

TEST_F(DamagedMedia, diskPulled_hashSearchAndEventsStopWithTheMessage_andExit1) {
  test::FaultyMount mount(s_image);
  ASSERT_TRUE(mount.Started()) << mount.Error();
  mount.FailAfter(4 << 20);
  const auto hash = test::RunTool("orvan-cli", {"hash", mount.Path(), "--json"}, 300);
  EXPECT_EQ(hash.exitCode, 1) << hash.err;
  EXPECT_NE(hash.err.find("The disk stopped answering"), std::string::npos) << hash.err;
  const Json hashed = ParseJson(hash.out);
  ASSERT_TRUE(hashed.is_object()) << hash.out;
  EXPECT_LT(hashed["bytes"].get<uint64_t>(), std::filesystem::file_size(s_image));
  // Once nothing answers at all, every command says so and ends.
  mount.Fail(true);
  for (const std::vector<std::string> &cmd :
       {std::vector<std::string>{"search", mount.Path(), std::to_string(s_firstTime + 30)},
        {"info", mount.Path()},
        {"events", mount.Path()}}) {
    const auto r = test::RunTool("orvan-cli", cmd, 120);
    EXPECT_NE(r.exitCode, 0) << cmd[0];
    EXPECT_NE(r.exitCode, 5) << cmd[0];
  }
}

}  // namespace
