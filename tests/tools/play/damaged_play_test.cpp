// orvan-cli play on failing reads served by a FUSE file system: a disk or a
// clip with bad sectors plays to its end, losing only what those sectors
// held, and says where; a disk pulled while playing ends play with "The disk
// stopped answering" and exit 1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/faulty_mount.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

using orvan::test::FaultyMount;
using orvan::test::RunTool;
using orvan::test::TempDir;
using Json = nlohmann::json;

namespace {

constexpr uint64_t kIndexAreaOffset = 524288;

Json ParseJson(const std::string &text) {
  return Json::parse(text, nullptr, /*allow_exceptions=*/false);
}

class DamagedPlay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new TempDir;
    s_image = s_dir->File("minute.img");
    ASSERT_EQ(RunTool("orvan-mkdisk", {"-o", s_image, "--duration", "30"}).exitCode, 0);
    const auto info = RunTool("orvan-cli", {"info", s_image, "--json"});
    s_info = ParseJson(info.out);
    // The clip of the whole recording.
    s_clip = s_dir->File("whole.in");
    ASSERT_EQ(RunTool("orvan-cli", {"export", s_image, "--from", "0", "--to", "4000000000", "-o",
                                    s_clip, "--json"})
                  .exitCode,
              0);
    s_healthy = ParseJson(RunTool("orvan-cli", {"play", s_image, "--no-pacing", "--json"}).out);
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override {
    const std::string why = FaultyMount::Unavailable();
    if (!why.empty()) GTEST_SKIP() << "no FUSE file system here: " << why;
  }
  static TempDir *s_dir;
  static std::string s_image, s_clip;
  static Json s_info, s_healthy;
};
TempDir *DamagedPlay::s_dir = nullptr;
std::string DamagedPlay::s_image, DamagedPlay::s_clip;
Json DamagedPlay::s_info, DamagedPlay::s_healthy;

TEST_F(DamagedPlay, badIndexSectorAndBadData_playToTheEnd_andSayWhatWasLost) {
  const uint64_t dataBase = s_info["dataBase"].get<uint64_t>();
  // Three index sectors (entries 281..358) and 100 KB of records.
  FaultyMount mount(s_image,
                    {{530000, 531000}, {dataBase + (1 << 20), dataBase + (1 << 20) + 102400}});
  ASSERT_TRUE(mount.Started()) << mount.Error();
  const auto r = RunTool("orvan-cli", {"play", mount.Path(), "--no-pacing", "--json"}, 300);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json played = ParseJson(r.out);
  ASSERT_TRUE(played.is_object()) << r.out;
  // Not three seconds and the end: the last second played is the healthy one's.
  EXPECT_EQ(played["lastSeconds"], s_healthy["lastSeconds"]);
  bool index = false, record = false;
  for (const Json &item : played["lost"]) {
    if (item["what"] == "index") {
      index = true;
      EXPECT_EQ(item["fromEntry"], 281);
      EXPECT_EQ(item["toEntry"], 358);
    }
    record |= item["what"] == "record";
  }
  EXPECT_TRUE(index) << r.out;
  EXPECT_TRUE(record) << r.out;
  EXPECT_NE(r.err.find("warning: unreadable sectors cost 78 index entries"), std::string::npos)
      << r.err;
  EXPECT_EQ(RunTool("orvan-cli", {"play", mount.Path(), "--no-pacing", "--strict"}, 300).exitCode,
            5);
}

TEST_F(DamagedPlay, clipWithABadIndexSector_playsOn_losingOnlyItsEntries) {
  // Sector 3 of the clip's index file: entries 76..102, wholly or in part.
  FaultyMount mount(s_clip, {{3 * 512, 4 * 512}}, "whole.in", {s_dir->File("whole.da")});
  ASSERT_TRUE(mount.Started()) << mount.Error();
  const auto r = RunTool("orvan-cli", {"play", mount.Path(), "--no-pacing", "--json"}, 300);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json played = ParseJson(r.out);
  ASSERT_TRUE(played.is_object()) << r.out;
  EXPECT_EQ(played["lastSeconds"], s_healthy["lastSeconds"]);
  ASSERT_EQ(played["lost"].size(), 1u) << r.out;
  EXPECT_EQ(played["lost"][0]["fromEntry"], 76);
  EXPECT_EQ(played["lost"][0]["toEntry"], 102);
}

TEST_F(DamagedPlay, diskPulledWhilePlaying_endsPlayWithTheMessage_andExits1) {
  for (const bool clip : {false, true}) {
    SCOPED_TRACE(clip ? "clip" : "disk");
    FaultyMount mount(
        clip ? s_clip : s_image, {}, clip ? "whole.in" : "disk.img",
        clip ? std::vector<std::string>{s_dir->File("whole.da")} : std::vector<std::string>{});
    ASSERT_TRUE(mount.Started()) << mount.Error();
    // The header and a few seconds, then nothing answers.
    mount.FailAfter(3 << 20);
    const auto r = RunTool("orvan-cli", {"play", mount.Path(), "--no-pacing", "--json"}, 300);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("The disk stopped answering"), std::string::npos) << r.err;
    const Json played = ParseJson(r.out);
    ASSERT_TRUE(played.is_object()) << r.out;
    EXPECT_TRUE(played["diskStoppedAnswering"].get<bool>());
    EXPECT_LT(played["lastSeconds"].get<int64_t>(), s_healthy["lastSeconds"].get<int64_t>());
  }
}

TEST_F(DamagedPlay, unreadableTailOfTheIndex_costsItsEntries_andPlayEndsAtTheIndexEnd) {
  // Every index sector from entry 1000 to the end of the played index.
  const int64_t playEnd = s_info["playEnd"].get<int64_t>();
  ASSERT_GT(playEnd, 1100);
  const uint64_t from = kIndexAreaOffset + 20 * 1000;
  const uint64_t to = kIndexAreaOffset + 20 * uint64_t(playEnd);
  FaultyMount mount(s_image, {{from, to}});
  ASSERT_TRUE(mount.Started()) << mount.Error();
  const auto r = RunTool("orvan-cli", {"play", mount.Path(), "--no-pacing", "--json"}, 300);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Json played = ParseJson(r.out);
  ASSERT_TRUE(played.is_object()) << r.out;
  ASSERT_EQ(played["lost"].size(), 1u) << r.out;
  const Json &lost = played["lost"][0];
  EXPECT_EQ(lost["what"], "index");
  EXPECT_LE(lost["fromEntry"].get<int64_t>(), 1000);
  EXPECT_EQ(lost["toEntry"].get<int64_t>(), playEnd - 1);
  EXPECT_LT(played["lastSeconds"].get<int64_t>(), s_healthy["lastSeconds"].get<int64_t>());
}

}  // namespace
