#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

using namespace orvan;
namespace fs = std::filesystem;

namespace {

constexpr const char *kFfmpeg = "/usr/bin/ffmpeg";
constexpr const char *kFfprobe = "/usr/bin/ffprobe";

class ExportCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::TempDir;
    s_image = s_dir->File("sample.img");
    const auto r = test::RunTool("orvan-mkdisk", {"-o", s_image, "--duration", "20"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    s_sha = test::FileSha256(s_image);
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  // Runs orvan-cli and checks the image was left as it was.
  static test::ToolResult Cli(const std::vector<std::string> &args) {
    auto r = test::RunTool("orvan-cli", args);
    EXPECT_EQ(test::FileSha256(s_image), s_sha) << "orvan-cli changed the image";
    return r;
  }
  static test::ToolResult Export(const std::string &out, std::vector<std::string> more = {}) {
    std::vector<std::string> args{
        "export", s_image, "--from", "2008-02-14 09:44:57", "--to", "2008-02-14 09:45:10",
        "-o",     out};
    args.insert(args.end(), more.begin(), more.end());
    return Cli(args);
  }
  static test::TempDir *s_dir;
  static std::string s_image;
  static std::string s_sha;
};
test::TempDir *ExportCli::s_dir = nullptr;
std::string ExportCli::s_image;
std::string ExportCli::s_sha;

}  // namespace

TEST_F(ExportCli, mkvAndMp4_decodeCleanlyInFfmpeg_andTheirManifestVerifies_untilOneByteChanges) {
  for (const std::string ext : {".mkv", ".mp4"}) {
    SCOPED_TRACE(ext);
    const std::string out = s_dir->File("e" + std::string(ext == ".mkv" ? "k" : "4") + ext);
    const auto r = Export(out, {"--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string base = out.substr(0, out.size() - ext.size());
    EXPECT_NE(r.out.find("\"manifest\": \"" + base + ".manifest.json\""), std::string::npos)
        << r.out;
    for (int c = 1; c <= 4; ++c) {
      const std::string file = base + "_CH" + std::to_string(c) + ext;
      ASSERT_TRUE(fs::exists(file)) << file;
      EXPECT_NE(r.out.find("\"sha256\": \"" + test::FileSha256(file) + "\""), std::string::npos);
      if (fs::exists(kFfmpeg)) {
        const auto decode =
            test::RunProgram(kFfmpeg, {"-v", "error", "-i", file, "-f", "null", "-"});
        EXPECT_EQ(decode.exitCode, 0) << file;
        EXPECT_EQ(decode.err, "") << file;
      }
      if (fs::exists(kFfprobe)) {
        const auto probe = test::RunProgram(
            kFfprobe,
            {"-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", file});
        EXPECT_EQ(probe.out, c == 1 ? "video\naudio\nsubtitle\n" : "video\nsubtitle\n") << file;
      }
    }
    const std::string manifest = base + ".manifest.json";
    auto v = Cli({"verify", manifest});
    EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
    EXPECT_NE(v.out.find("OK"), std::string::npos);

    const std::string changed = base + "_CH3" + ext;
    {
      std::fstream f(changed, std::ios::in | std::ios::out | std::ios::binary);
      f.seekg(5000);
      const char b = char(f.get() ^ 0x10);
      f.seekp(5000);
      f.put(b);
    }
    v = Cli({"verify", manifest, "--json"});
    EXPECT_EQ(v.exitCode, 4);
    EXPECT_NE(v.out.find("\"ok\": false"), std::string::npos) << v.out;
    v = Cli({"verify", manifest});
    auto line = [&](const std::string &verdict, const std::string &file) {
      const std::string name = fs::path(file).filename().string();
      return verdict + std::string(16 - verdict.size(), ' ') + name + "\n";
    };
    EXPECT_NE(v.out.find(line("FAILED (hash)", changed)), std::string::npos) << v.out;
    EXPECT_NE(v.out.find(line("OK", base + "_CH1" + ext)), std::string::npos) << v.out;
  }
}

TEST_F(ExportCli, theChannelsAsked_only_andASpanWithoutPictures_isExit2WithNoFile) {
  const std::string out = s_dir->File("two.mkv");
  auto r = Export(out, {"--channel", "2", "--channel", "4"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(fs::exists(s_dir->File("two_CH1.mkv")));
  EXPECT_TRUE(fs::exists(s_dir->File("two_CH2.mkv")));
  EXPECT_TRUE(fs::exists(s_dir->File("two_CH4.mkv")));

  const std::string quad = s_dir->File("quad.img");
  ASSERT_EQ(test::RunTool("orvan-mkdisk", {"-o", quad, "--duration", "3", "--quad"}).exitCode, 0);
  r = test::RunTool("orvan-cli", {"export", quad, "--from", "0", "--to", "4000000000", "-o",
                                  s_dir->File("none.mp4"), "--channel", "3"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("No pictures were recorded in the chosen span"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(s_dir->File("none_CH3.mp4")));
  EXPECT_FALSE(fs::exists(s_dir->File("none.manifest.json")));

  EXPECT_EQ(Export(s_dir->File("x.in"), {"--channel", "1"}).exitCode, 1);
  for (const char *bad : {"0", "5", "two"}) {
    r = Export(s_dir->File("bad.mkv"), {"--channel", bad});
    EXPECT_EQ(r.exitCode, 1) << bad;
    EXPECT_NE(r.err.find("--channel needs a channel number, 1 to 4"), std::string::npos) << r.err;
  }
  // One number per --channel: a second word is not taken as a channel.
  EXPECT_EQ(Export(s_dir->File("bad.mkv"), {"--channel", "1", "2"}).exitCode, 1);
  EXPECT_FALSE(fs::exists(s_dir->File("bad_CH1.mkv")));
  EXPECT_EQ(Cli({"verify"}).exitCode, 1);
  r = Cli({"verify", s_dir->File("missing.manifest.json")});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_NE(r.err.find("missing.manifest.json: no such file"), std::string::npos) << r.err;
  r = Cli({"verify", s_dir->Path().string()});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_NE(r.err.find("it is not a file"), std::string::npos) << r.err;
}

TEST_F(ExportCli, outputsThatAreTheSource_aFolder_orADevice_areRefusedBeforeAnythingIsWritten) {
  // The image itself under the name of a channel file.
  const std::string named = s_dir->File("src_CH1.mkv");
  fs::create_symlink(s_image, named);
  auto r =
      Cli({"export", named, "--from", "0", "--to", "4000000000", "-o", s_dir->File("src.mkv")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("refusing to write"), std::string::npos) << r.err;

  fs::create_directory(s_dir->File("dir_CH2.mp4"));
  r = Export(s_dir->File("dir.mp4"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("it is a folder"), std::string::npos) << r.err;

  fs::create_symlink("/dev/null", s_dir->File("dev.manifest.json"));
  r = Export(s_dir->File("dev.mkv"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("it is a device"), std::string::npos) << r.err;
  for (const char *left : {"src_CH2.mkv", "dir_CH1.mp4", "dev_CH1.mkv"})
    EXPECT_FALSE(fs::exists(s_dir->File(left))) << left;
}
