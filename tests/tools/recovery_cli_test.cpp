// survey, recover and carve as a user runs them: on maker disks, their JSON
// checked against what the maker says it wrote, the files they write played
// with ffprobe and checked with verify.
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

namespace fs = std::filesystem;
using orvan::test::RunProgram;
using orvan::test::RunTool;

namespace {

nlohmann::json Json(const orvan::test::ToolResult &r) {
  return nlohmann::json::parse(r.out, nullptr, false);
}

TEST(RecoveryCli, SurveyRecoverVerifyOnAnEarlierRecording) {
  orvan::test::TempDir dir;
  const std::string image = dir.File("prev.img");
  auto made = RunTool("orvan-mkdisk", {"-o", image, "--duration", "6", "--previous", "20"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  // "earlier recording: N entries, S left stale (I intact, O overwritten)"
  long long total = 0, stale = 0, intact = 0, overwritten = 0;
  const size_t at = made.out.find("earlier recording:");
  ASSERT_NE(at, std::string::npos) << made.out;
  ASSERT_EQ(std::sscanf(made.out.c_str() + at,
                        "earlier recording: %lld entries, %lld left stale (%lld intact, %lld "
                        "overwritten)",
                        &total, &stale, &intact, &overwritten),
            4);

  const auto survey = RunTool("orvan-cli", {"survey", image, "--json"});
  ASSERT_EQ(survey.exitCode, 0) << survey.err;
  const auto s = Json(survey);
  ASSERT_FALSE(s.is_discarded()) << survey.out;
  EXPECT_EQ(s["heldBack"]["entries"], 300);
  EXPECT_EQ(s["stale"]["entries"], stale);
  EXPECT_EQ(s["stale"]["intact"], intact);
  EXPECT_EQ(s["stale"]["overwritten"], overwritten);
  EXPECT_EQ(s["read"]["backwardReads"], 0);

  const std::string mkv = dir.File("rec.mkv");
  const auto rec = RunTool("orvan-cli", {"recover", image, "-o", mkv, "--json"});
  ASSERT_EQ(rec.exitCode, 0) << rec.err;
  const auto r = Json(rec);
  EXPECT_TRUE(r["recovered"].get<bool>());
  const std::string ch1 = dir.File("rec_S2_CH1.mkv");
  ASSERT_TRUE(fs::exists(ch1)) << rec.out;
  const auto probe = RunProgram(
      "ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                  "stream=codec_name,nb_read_packets", "-of", "csv=p=0", ch1});
  ASSERT_EQ(probe.exitCode, 0) << probe.err;
  EXPECT_EQ(probe.out.substr(0, 6), "mpeg4,");
  const auto verify = RunTool("orvan-cli", {"verify", dir.File("rec.manifest.json")});
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;

  // Nothing to recover on a disk without stale entries in the span asked:
  // said, and no file.
  const auto none = RunTool(
      "orvan-cli", {"recover", image, "-o", dir.File("none.in"), "--from", "2030-01-01 00:00:00"});
  EXPECT_NE(none.exitCode, 0);
  EXPECT_NE(none.err.find("Nothing recoverable"), std::string::npos) << none.err;
  EXPECT_FALSE(fs::exists(dir.File("none.in")));
}

TEST(RecoveryCli, PlainDiskHasNoStaleEntriesAndCarveFindsLostPictures) {
  orvan::test::TempDir dir;
  const std::string plain = dir.File("plain.img");
  ASSERT_EQ(RunTool("orvan-mkdisk", {"-o", plain, "--duration", "4"}).exitCode, 0);
  const auto survey = RunTool("orvan-cli", {"survey", plain});
  EXPECT_EQ(survey.exitCode, 0) << survey.err;
  EXPECT_NE(survey.out.find("stale:     none"), std::string::npos) << survey.out;
  EXPECT_EQ(Json(RunTool("orvan-cli", {"survey", plain, "--json"}))["stale"]["entries"], 0);

  const std::string lost = dir.File("lost.img");
  ASSERT_EQ(
      RunTool("orvan-mkdisk", {"-o", lost, "--duration", "8", "--lose-index", "5:9"}).exitCode, 0);
  const auto carve = RunTool("orvan-cli", {"carve", lost, "-o", dir.File("out"), "--json"});
  ASSERT_EQ(carve.exitCode, 0) << carve.err;
  const auto c = Json(carve);
  ASSERT_FALSE(c["pictures"].empty()) << carve.out;
  for (const auto &p : c["pictures"]) {
    EXPECT_EQ(p["kind"], "mpeg4 key picture");
    EXPECT_TRUE(fs::exists(p["file"].get<std::string>()));
    const auto png = RunProgram("ffprobe", {"-v", "error", "-show_entries", "stream=width,height",
                                            "-of", "csv=p=0", p["file"].get<std::string>()});
    EXPECT_EQ(png.out, "720,480\n");
  }
  EXPECT_TRUE(fs::exists(dir.File("out/carve.manifest.json")));
  // A range outside the data area, and a source that is not a disk.
  EXPECT_NE(
      RunTool("orvan-cli", {"carve", lost, "-o", dir.File("o2"), "--to-offset", "1024"}).exitCode,
      0);
  EXPECT_NE(RunTool("orvan-cli", {"survey", dir.File("out/carve.manifest.json")}).exitCode, 0);
}

}  // namespace
