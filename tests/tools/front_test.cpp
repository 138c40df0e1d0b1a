// The tools' command-line front: WHEN, the source, the option table's
// parsing and errors, --help and --version, and the JSON writer.
#include <filesystem>
#include <fstream>
#include <limits>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"
#include "tools/command_line.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

using namespace orvan::tools;

namespace {

// Runs a CommandLine in this process on the words; stderr is returned in
// `err`.
int RunWords(CommandLine &cli, std::vector<std::string> words, std::string *err = nullptr) {
  std::vector<const char *> argv;
  for (const std::string &w : words) argv.push_back(w.c_str());
  testing::internal::CaptureStderr();
  const int code = cli.Run(int(argv.size()), argv.data());
  const std::string captured = testing::internal::GetCapturedStderr();
  if (err) *err = captured;
  return code;
}

// A program with one command shaped like "search DISK WHEN".
struct SearchLike {
  SourceArg source;
  std::string when;
  std::optional<uint32_t> from;
  std::string output;
  CommonSwitches switches;
  bool ran = false;
  CommandLine cli{"tool", "a test program"};

  SearchLike() {
    cli.AddCommand("search", "look",
                   [this] {
                     ran = true;
                     return kExitOk;
                   })
        .Source(source, "DISK", "a disk")
        .Positional("WHEN", when, "a time")
        .When("--from", from, "a start")
        .Text("-o,--output", output, "OUT", "a file")
        .Common(switches);
  }
};

}  // namespace

TEST(ToolFront, when_takesWallTimeOrSeconds_withinTheRecordersRange) {
  uint32_t s = 0;
  std::string error;
  EXPECT_TRUE(ParseWhen("2008-02-14 09:45:10", s, error));
  EXPECT_EQ(s, 1202982310u);
  EXPECT_TRUE(ParseWhen("2008/02/14_09:45:10", s, error));
  EXPECT_EQ(s, 1202982310u);
  EXPECT_TRUE(ParseWhen("4294967295", s, error));
  EXPECT_EQ(s, 4294967295u);
  for (const char *bad : {"4294967296", "1969-12-31 23:59:59", "yesterday", "", "-5",
                          "2008-02-30x09:45:10", "2008-13-01 00:00:00"}) {
    EXPECT_FALSE(ParseWhen(bad, s, error)) << bad;
    EXPECT_EQ(error, std::string("not a time: \"") + bad +
                         "\" (use \"YYYY-MM-DD hh:mm:ss\" or recorder seconds)");
  }
}

TEST(ToolFront, source_isThePathAlone_orDriveNOfTheImagesFirst) {
  ResolvedSource r;
  std::string error;
  ASSERT_TRUE(ResolveSource({"/some/disk.img", -1, {}}, "DISK", r, error));
  EXPECT_EQ(r.path, "/some/disk.img");
  EXPECT_EQ(r.driveNumber, 0);
  ASSERT_NE(r.table.Find(0), nullptr);
  EXPECT_EQ(r.table.Find(0)->path, "/some/disk.img");
  EXPECT_EQ(r.table.Find(1), nullptr);

  ASSERT_TRUE(ResolveSource({"", 1, {"/a.img", "/b.img"}}, "DISK", r, error));
  EXPECT_EQ(r.path, "/b.img");
  EXPECT_EQ(r.driveNumber, 1);

  EXPECT_FALSE(ResolveSource({"", 900, {"/a.img"}}, "DISK", r, error));
  EXPECT_EQ(error, "No such drive: 900");
  EXPECT_FALSE(ResolveSource({}, "SOURCE", r, error));
  EXPECT_EQ(error, "no SOURCE given");
}

TEST(ToolFront, options_anywhere_imageBothSpellings_lastValueWins) {
  SearchLike t;
  ASSERT_EQ(RunWords(t.cli, {"tool", "search", "--json", "d.img", "--image", "a", "-o", "x",
                             "--image=b", "123", "--output", "y", "--from", "5"}),
            kExitOk);
  EXPECT_TRUE(t.ran);
  EXPECT_EQ(t.source.path, "d.img");
  EXPECT_EQ(t.when, "123");
  EXPECT_EQ(t.source.images, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(t.output, "y");
  EXPECT_EQ(t.from, 5u);
  EXPECT_TRUE(t.switches.json);
  EXPECT_FALSE(t.switches.strict);
}

TEST(ToolFront, driveTakesTheSourcesPlace_theWordsMoveUp) {
  SearchLike t;
  ASSERT_EQ(RunWords(t.cli, {"tool", "search", "--drive", "2", "2008-02-14 09:45:10"}), kExitOk);
  EXPECT_EQ(t.source.drive, 2);
  EXPECT_EQ(t.source.path, "");
  EXPECT_EQ(t.when, "2008-02-14 09:45:10");

  SearchLike extra;
  std::string err;
  EXPECT_EQ(RunWords(extra.cli, {"tool", "search", "--drive", "0", "d.img", "5"}, &err),
            kExitError);
  EXPECT_FALSE(extra.ran);
  EXPECT_EQ(err, "Usage: tool search [OPTIONS] [DISK] [WHEN]\nunexpected argument: 5\n");
}

TEST(ToolFront, badCommandLines_sayWhatIsWrong_inTheToolsWords_andExit1) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"search", "d", "--bogus"}, "unknown option: --bogus"},
      {{"search", "d", "--drive", "x"}, "--drive needs a drive number"},
      {{"search", "d", "--drive", "-1"}, "--drive needs a drive number"},
      {{"search", "d", "--drive"}, "--drive needs a value"},
      {{"search", "d", "-o"}, "--output needs a value"},
      {{"search", "d", "--from", "soon"},
       "not a time: \"soon\" (use \"YYYY-MM-DD hh:mm:ss\" or recorder seconds)"},
      {{"search", "d", "1", "2"}, "unexpected argument: 2"},
  };
  for (const auto &[words, text] : cases) {
    SearchLike t;
    std::vector<std::string> argv{"tool"};
    argv.insert(argv.end(), words.begin(), words.end());
    std::string err;
    EXPECT_EQ(RunWords(t.cli, argv, &err), kExitError) << text;
    EXPECT_FALSE(t.ran) << text;
    EXPECT_EQ(err, "Usage: tool search [OPTIONS] [DISK] [WHEN]\n" + text + "\n");
  }
  // No command, or an unknown one: the whole help, then what was wrong.
  SearchLike none;
  std::string err;
  EXPECT_EQ(RunWords(none.cli, {"tool"}, &err), kExitError);
  EXPECT_EQ(err, none.cli.Help());
  EXPECT_EQ(RunWords(none.cli, {"tool", "frobnicate"}, &err), kExitError);
  EXPECT_EQ(err, none.cli.Help() + "unknown command: frobnicate\n");
}

TEST(ToolFront, json_oneLineInInsertionOrder_escaped_validUtf8) {
  Json object = {{"z", 1}, {"a", "x"}};
  object["list"] = Json::array({Json::object({{"b", true}, {"c", nullptr}}), Json::array()});
  object["big"] = std::numeric_limits<uint64_t>::max();
  object["neg"] = std::numeric_limits<int64_t>::min();
  object["half"] = 0.5;
  EXPECT_EQ(JsonLine(object),
            R"({"z": 1, "a": "x", "list": [{"b": true, "c": null}, []], )"
            R"("big": 18446744073709551615, "neg": -9223372036854775808, "half": 0.5})");
  // Quotes, backslashes and control characters are escaped; UTF-8 stays as
  // it is; bytes that are not UTF-8 (a path may hold any) become U+FFFD.
  EXPECT_EQ(JsonLine("a\"b\\c\n\t\x01/\xd0\x96"), "\"a\\\"b\\\\c\\n\\t\\u0001/\xd0\x96\"");
  EXPECT_EQ(JsonLine("bad\xff.img"), "\"bad\xef\xbf\xbd.img\"");
  EXPECT_EQ(JsonLine(Json::object()), "{}");
}

TEST(ToolFront, helpAndVersion_comeFromTheOptionTables) {
  for (const std::string tool : {"orvan-cli", "orvan-mkdisk", "orvan-extract"}) {
    const auto version = orvan::test::RunTool(tool, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, tool + " " + ORVAN_VERSION + "\n");
  }
  const auto cli = orvan::test::RunTool("orvan-cli", {"--help"});
  EXPECT_EQ(cli.exitCode, 0);
  for (const char *command :
       {"drives", "info", "events", "search", "export", "clip", "yuv", "verify"})
    EXPECT_NE(cli.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
  EXPECT_EQ(orvan::test::RunTool("orvan-cli", {"help"}).out, cli.out);

  const auto exportHelp = orvan::test::RunTool("orvan-cli", {"export", "--help"});
  EXPECT_EQ(exportHelp.exitCode, 0);
  for (const char *option :
       {"--drive N", "--image PATH", "--from WHEN", "--to WHEN", "-o,--output OUT.in",
        "--channel N", "--json", "--overwrite", "--strict"})
    EXPECT_NE(exportHelp.out.find(option), std::string::npos) << option;

  const auto mkdisk = orvan::test::RunTool("orvan-mkdisk", {"-h"});
  EXPECT_EQ(mkdisk.exitCode, 0);
  for (const char *option :
       {"-o,--output PATH", "--duration N", "--start WHEN", "--codec mpeg4|mjpeg", "--alt-types",
        "--quad", "--fps N", "--key-interval N", "--events N", "--no-audio", "--state-slot N",
        "--index-mib N", "--seed N"})
    EXPECT_NE(mkdisk.out.find(option), std::string::npos) << option;
  // Accepted for every program, but no option of this one.
  EXPECT_EQ(mkdisk.out.find("--image"), std::string::npos);
  EXPECT_EQ(mkdisk.out.find("\n\n\n"), std::string::npos);
  const auto stray = orvan::test::RunTool("orvan-mkdisk", {"-o", "x.img", "extra"});
  EXPECT_EQ(stray.exitCode, 1);
  EXPECT_EQ(stray.err, "Usage: orvan-mkdisk [OPTIONS]\norvan-mkdisk: unknown argument: extra\n");
}

// What the still conversion's tests in tests/app cannot see: the command's
// JSON, its exit for a refused still, and its usage errors.
TEST(ToolFront, yuvJson_isLinesAndTime_refusedStillExits2_andUsageErrorsExit1) {
  orvan::test::TempDir dir;
  const std::string yuv = dir.File("in.yuv");
  {
    std::ofstream out(yuv, std::ios::binary);
    const uint32_t header[2] = {0, 1202982297};  // 480 lines, recorder time
    out.write(reinterpret_cast<const char *>(header), sizeof header);
    const std::vector<char> samples(1080 * 480, char(128));
    out.write(samples.data(), std::streamsize(samples.size()));
  }
  const auto r =
      orvan::test::RunTool("orvan-cli", {"yuv", yuv, "-o", dir.File("raw.bin"), "--json", "--raw"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "{\"lines\": 480, \"time\": \"2008/02/14_09:44:57\"}\n");
  const std::string bad = dir.File("bad.yuv");
  {
    std::ofstream out(bad, std::ios::binary);
    const uint32_t header[2] = {2, 0};  // no such line code
    out.write(reinterpret_cast<const char *>(header), sizeof header);
  }
  for (const char *format : {"--json", "--raw"}) {
    const auto refused =
        orvan::test::RunTool("orvan-cli", {"yuv", bad, "-o", dir.File("x.out"), format});
    EXPECT_EQ(refused.exitCode, 2) << format;
    EXPECT_TRUE(refused.out.empty()) << format;
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.out"))) << format;
  }
  EXPECT_EQ(orvan::test::RunTool("orvan-cli", {"yuv", yuv}).exitCode, 1);
  EXPECT_EQ(orvan::test::RunTool("orvan-cli", {"yuv", yuv, "-o", "x", "--bogus"}).exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists("x"));
}
