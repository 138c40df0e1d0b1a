// The timing of exports as the examiners' tools see it: ffprobe's packet
// times, ffmpeg's decode and framemd5, mpv's A-V reading; and the frames
// table of orvan-cli.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

using namespace orvan;
namespace fs = std::filesystem;

namespace {

constexpr const char *kFfmpeg = "/usr/bin/ffmpeg";
constexpr const char *kFfprobe = "/usr/bin/ffprobe";
constexpr const char *kMpv = "/usr/bin/mpv";
constexpr const char *kFrom = "2008-02-14 09:45:01";
constexpr const char *kTo = "2008-02-14 09:45:13";

std::vector<std::string> Split(const std::string &text, char by) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, by);) parts.push_back(part);
  if (!text.empty() && text.back() == by) parts.emplace_back();
  return parts;
}

// Recordings with audio: MPEG-4 and MJPEG, with the audio blocks' delays as
// long as the blocks, and left at 0.
class ExactTime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::TempDir;
    for (const char *codec : {"mpeg4", "mjpeg"})
      for (const char *delay : {"", "0"}) {
        const std::string name = std::string(codec) + (*delay ? "-d0" : "") + ".img";
        std::vector<std::string> args{"-o",  s_dir->File(name), "--duration", "16", "--codec",
                                      codec, "--fps",           "25"};
        if (*delay) args.insert(args.end(), {"--audio-delay", delay});
        const auto r = test::RunTool("orvan-mkdisk", args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        s_images.push_back(s_dir->File(name));
      }
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
    s_images.clear();
  }
  // Exports channel 1 (which carries the audio) of `image` to `ext`.
  static std::string ExportChannelOne(const std::string &image, const std::string &ext) {
    const std::string base = image.substr(0, image.size() - 4) + "-" + ext.substr(1);
    const auto r = test::RunTool("orvan-cli", {"export", image, "--from", kFrom, "--to", kTo, "-o",
                                               base + ext, "--channel", "1", "--overwrite"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return base + "_CH1" + ext;
  }
  static test::TempDir *s_dir;
  static std::vector<std::string> s_images;
};
test::TempDir *ExactTime::s_dir = nullptr;
std::vector<std::string> ExactTime::s_images;

}  // namespace

TEST_F(ExactTime, everyExportWithAudio_hasAudioPacketsThatNeverOverlap_andDecodesWithoutAMessage) {
  if (!fs::exists(kFfprobe) || !fs::exists(kFfmpeg)) GTEST_SKIP() << "no ffprobe or ffmpeg here";
  for (const std::string &image : s_images)
    for (const std::string ext : {".mkv", ".mp4"}) {
      const std::string file = ExportChannelOne(image, ext);
      SCOPED_TRACE(file);
      const auto probe =
          test::RunProgram(kFfprobe, {"-v", "error", "-select_streams", "a", "-show_entries",
                                      "packet=pts_time,duration_time", "-of", "csv=p=0", file});
      ASSERT_EQ(probe.exitCode, 0) << probe.err;
      const auto lines = Split(probe.out, '\n');
      ASSERT_GT(lines.size(), 100u);
      double end = -1;
      for (const std::string &line : lines) {
        if (line.empty()) continue;
        const auto cells = Split(line, ',');
        ASSERT_EQ(cells.size(), 2u) << line;
        const double pts = std::stod(cells[0]);
        EXPECT_GE(pts, end - 0.0015) << "a packet starts before the one before it ends: " << line;
        end = pts + (cells[1] == "N/A" ? 0.0 : std::stod(cells[1]));
      }
      // Decoding says nothing, but that Matroska keeps no channel layout
      // for PCM (ffmpeg guesses stereo from the count, for its own files too).
      const auto decode =
          test::RunProgram(kFfmpeg, {"-v", "warning", "-i", file, "-f", "null", "-"});
      EXPECT_EQ(decode.exitCode, 0);
      std::string said;
      for (const std::string &line : Split(decode.err, '\n'))
        if (!line.empty() && line.find("Guessed Channel Layout") == std::string::npos)
          said += line + "\n";
      EXPECT_EQ(said, "");
    }
}

namespace {

// One play of `file` in mpv at its own pace, headless: the largest A-V
// reading after mpv's first second (a file of ffmpeg's shows the same
// start), the number of readings, and whether mpv had to drop pictures
// (then the machine, not the file, decided the readings).
struct MpvPlay {
  bool ran = false;
  int readings = 0;
  double worst = 0;
  bool dropped = false;
};

MpvPlay PlayInMpv(const std::string &file) {
  MpvPlay play;
  const auto r =
      test::RunProgram(kMpv, {"--no-config", "--vo=null", "--ao=null",
                              "--term-status-msg=AVSYNC ${avsync} ${=time-pos} ${frame-drop-count} "
                              "${decoder-frame-drop-count}",
                              file});
  play.ran = r.exitCode == 0;
  const std::string all = r.out + r.err;
  for (size_t at = all.find("AVSYNC "); at != std::string::npos; at = all.find("AVSYNC ", at + 1)) {
    std::istringstream in(all.substr(at + 7, 60));
    double avsync = 0, position = 0;
    int drops = 0, decoderDrops = 0;
    if (!(in >> avsync >> position >> drops >> decoderDrops)) continue;
    play.dropped = play.dropped || drops > 0 || decoderDrops > 0;
    if (position < 1.0) continue;
    ++play.readings;
    play.worst = std::max(play.worst, std::fabs(avsync));
  }
  return play;
}

}  // namespace

TEST_F(ExactTime, mpvKeepsPicturesAndSoundInStep_overTheWholeFile) {
  if (!fs::exists(kMpv)) GTEST_SKIP() << "no mpv here (Debian package mpv)";
  // MPEG-4 with its audio blocks' delays at 0 (the case that drifted) and
  // MJPEG as the sample maker writes it, in both containers.
  for (const std::string &image : {s_images[1], s_images[2]})
    for (const std::string ext : {".mkv", ".mp4"}) {
      const std::string file = ExportChannelOne(image, ext);
      SCOPED_TRACE(file);
      // mpv plays in real time: a play it had to drop pictures in (a busy
      // machine) says nothing about the file, and is tried again.
      MpvPlay play;
      for (int attempt = 0; attempt < 3; ++attempt) {
        play = PlayInMpv(file);
        if (!play.dropped) break;
      }
      ASSERT_TRUE(play.ran);
      if (play.dropped) GTEST_SKIP() << "mpv dropped pictures in every play: the machine is busy";
      EXPECT_GT(play.readings, 5);
      EXPECT_LE(play.worst, 0.040);
    }
}

TEST_F(ExactTime, theFramesTableBesideAnExport_givesThePicturesMd5AsFfmpegsFramemd5Does) {
  if (!fs::exists(kFfmpeg)) GTEST_SKIP() << "no ffmpeg here";
  const std::string file = ExportChannelOne(s_images[0], ".mkv");
  const std::string base = s_images[0].substr(0, s_images[0].size() - 4) + "-mkv";
  const std::string table = base + ".frames.csv";
  const auto md5 = test::RunProgram(
      kFfmpeg, {"-v", "error", "-i", file, "-map", "0:v", "-c", "copy", "-f", "framemd5", "-"});
  ASSERT_EQ(md5.exitCode, 0) << md5.err;
  std::vector<std::string> fromFfmpeg, fromTable;
  for (const std::string &line : Split(md5.out, '\n')) {
    if (line.empty() || line[0] == '#') continue;
    std::string hash = Split(line, ',').back();
    hash.erase(0, hash.find_first_not_of(' '));
    fromFfmpeg.push_back(hash);
  }
  for (const std::string &line : Split(test::ReadFileText(table), '\n')) {
    const auto cells = Split(line, ',');
    if (cells.size() != 13 || cells[1] != "1" || cells[6].empty()) continue;
    if (cells[2] == "key" || cells[2] == "predicted" || cells[2] == "MJPEG")
      fromTable.push_back(cells[9]);
  }
  ASSERT_GT(fromTable.size(), 250u);
  EXPECT_EQ(fromTable, fromFfmpeg);
  // The manifest lists the table, and verify covers it.
  const std::string manifest = base + ".manifest.json";
  EXPECT_NE(test::ReadFileText(manifest).find("\"frames table\""), std::string::npos);
  EXPECT_EQ(test::RunTool("orvan-cli", {"verify", manifest}).exitCode, 0);
  { std::ofstream(table, std::ios::app) << "\n"; }
  EXPECT_EQ(test::RunTool("orvan-cli", {"verify", manifest}).exitCode, 4);
}

TEST_F(ExactTime, framesCommand_listsTheSpansEntries_asCsvOrJson_andSaysWhatIsDamaged) {
  const std::string &image = s_images[0];
  auto r = test::RunTool("orvan-cli", {"frames", image, "--from", kFrom, "--to", kTo});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Split(r.out, '\n');
  ASSERT_GT(lines.size(), 1000u);
  EXPECT_EQ(lines[0],
            "entry,channel,type,seconds,time,delayMs,exportSeconds,offset,size,md5,sha256,"
            "sameAsPrevious,gapBeforeMs");
  for (size_t i = 1; i + 1 < lines.size(); ++i) ASSERT_EQ(Split(lines[i], ',').size(), 13u);

  r = test::RunTool("orvan-cli",
                    {"frames", image, "--from", kFrom, "--to", kTo, "--channel", "3", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_TRUE(j.is_object()) << r.out.substr(0, 200);
  ASSERT_GT(j["frames"].size(), 250u);
  for (const auto &row : j["frames"]) ASSERT_EQ(row["channel"], 3);
  EXPECT_EQ(j["rows"], j["frames"].size());
  ASSERT_EQ(j["timing"].size(), 1u);
  const auto &t = j["timing"][0];
  EXPECT_EQ(t["channel"], 3);
  EXPECT_EQ(t["picturesPerSecond"]["median"], 25);
  EXPECT_EQ(t["intervalMs"]["median"], 40);
  EXPECT_EQ(t["keyPictureInterval"]["pictures"]["median"], 50);
  EXPECT_EQ(t["gapCount"], 0);

  // Nothing recorded in the span: exit 2.
  r = test::RunTool("orvan-cli", {"frames", image, "--from", "2009-01-01 00:00:00", "--to",
                                  "2009-01-01 00:01:00"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("No pictures were recorded"), std::string::npos) << r.err;

  // A damaged record is a row of type "corrupt", counted and warned of.
  const std::string damaged = s_dir->File("damaged.img");
  fs::copy_file(image, damaged);
  size_t at = 300;
  while (Split(lines[at], ',')[2] != "predicted") ++at;
  const auto table = Split(lines[at], ',');
  {
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(std::stoull(table[7])));
    const std::string junk(std::stoul(table[8]), 'Z');
    f.write(junk.data(), std::streamsize(junk.size()));
  }
  r = test::RunTool("orvan-cli", {"frames", damaged, "--from", kFrom, "--to", kTo, "--strict", "-o",
                                  s_dir->File("damaged.csv")});
  EXPECT_EQ(r.exitCode, 5) << r.err;
  EXPECT_NE(r.err.find("type \"corrupt\""), std::string::npos) << r.err;
  const auto rows = Split(test::ReadFileText(s_dir->File("damaged.csv")), '\n');
  ASSERT_EQ(rows.size(), lines.size());
  const auto row = Split(rows[at], ',');
  EXPECT_EQ(row[0], table[0]);
  EXPECT_EQ(row[2], "corrupt");
  EXPECT_NE(row[9], table[9]);  // the hashes are of what is there now
}
