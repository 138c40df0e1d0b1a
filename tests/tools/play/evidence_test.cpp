// The evidence is never written: every writer of the tools refuses a
// source (named directly, through a symbolic or a hard link, or as a drive
// of the table), a device, a FIFO and a folder; sources that could block
// are refused; absurd delays, signals and damaged disks end plays cleanly.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "platform/av_handles.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

namespace fs = std::filesystem;
using orvan::test::RunTool;
using orvan::test::TempDir;

namespace {

constexpr uint64_t kIndexAreaOffset = 524288;

long long JsonNumber(const std::string &json, const std::string &key) {
  const size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return -1;
  return std::atoll(json.c_str() + at + key.size() + 4);
}

std::vector<std::string> Listing(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The three sources the writers read, made once.
class Evidence : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir;
    disk = dir->File("base.img");
    auto r = RunTool("orvan-mkdisk", {"-o", disk, "--duration", "4", "--seed", "5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunTool("orvan-cli",
                {"export", disk, "--from", "0", "--to", "4000000000", "-o", dir->File("base.in")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> still(8 + 1080 * 480, 128);
    std::fill(still.begin(), still.begin() + 8, 0);
    std::ofstream(dir->File("base.yuv"), std::ios::binary)
        .write(reinterpret_cast<const char *>(still.data()), std::streamsize(still.size()));
  }
  static void TearDownTestSuite() { delete dir; }
  static TempDir *dir;
  static std::string disk;
};
TempDir *Evidence::dir = nullptr;
std::string Evidence::disk;

enum class Kind { kDisk, kClip, kStill, kNone };

// One writer of the tools: what it reads, the name of the file it writes,
// and its command line for a source (its words) and that output.
struct Writer {
  std::string name;
  std::string tool;
  Kind reads;
  std::string writes;  // a file name; ".da" writers name their output by its ".in"
  std::function<std::vector<std::string>(const std::vector<std::string> &, const std::string &)>
      args;
};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string IndexNameOf(const std::string &data) { return data.substr(0, data.size() - 3) + ".in"; }

const std::vector<Writer> &Writers() {
  static const std::vector<Writer> writers = {
      {"snapshot", "orvan-cli", Kind::kDisk, "shot.jpg",
       [](auto &src, auto &out) {
         return Join(Join({"play"}, src), {"--no-pacing", "--duration", "1", "--snapshot", out});
       }},
      {"AVI", "orvan-cli", Kind::kDisk, "run.avi",
       [](auto &src, auto &out) {
         return Join(Join({"play"}, src), {"--no-pacing", "--duration", "1", "--avi", out});
       }},
      {"clip index", "orvan-cli", Kind::kDisk, "part.in",
       [](auto &src, auto &out) {
         return Join(Join({"export"}, src), {"--from", "0", "--to", "4000000000", "-o", out});
       }},
      {"clip data", "orvan-cli", Kind::kDisk, "part.da",
       [](auto &src, auto &out) {
         return Join(Join({"export"}, src),
                     {"--from", "0", "--to", "4000000000", "-o", IndexNameOf(out)});
       }},
      {"AVI of a clip", "orvan-cli", Kind::kClip, "c.da",
       [](auto &src, auto &out) {
         return Join(Join({"play"}, src), {"--no-pacing", "--duration", "1", "--avi", out});
       }},
      {"snapshot of a clip", "orvan-cli", Kind::kClip, "c.in",
       [](auto &src, auto &out) {
         return Join(Join({"play"}, src), {"--no-pacing", "--duration", "1", "--snapshot", out});
       }},
      {"bitmap", "orvan-cli", Kind::kStill, "still.bmp",
       [](auto &src, auto &out) {
         return Join(Join({"yuv"}, src), {"-o", out});
       }},
      {"disk image", "orvan-mkdisk", Kind::kNone, "made.img",
       [](auto &, auto &out) {
         return std::vector<std::string>{"-o", out, "--duration", "1"};
       }},
  };
  return writers;
}

std::string Extension(const std::string &name) { return fs::path(name).extension().string(); }

// Copies the writer's kind of source into `folder` so that the file the
// writer would hit is named `hitName`. Returns the files to hash; `words`
// receives the source as the command names it.
std::vector<std::string> PlaceSource(Kind kind, const fs::path &folder, const std::string &hitName,
                                     const std::string &base, std::vector<std::string> &words) {
  const auto copy = [&](const std::string &from, const fs::path &to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to.string();
  };
  switch (kind) {
    case Kind::kDisk: {
      const std::string path = copy(base + ".img", folder / hitName);
      words = {path};
      return {path};
    }
    case Kind::kClip: {
      const std::string stem = (folder / fs::path(hitName).stem()).string();
      words = {stem + ".in"};
      return {copy(base + ".in", stem + ".in"), copy(base + ".da", stem + ".da")};
    }
    case Kind::kStill: {
      const std::string path = copy(base + ".yuv", folder / hitName);
      words = {path};
      return {path};
    }
    case Kind::kNone:
      break;
  }
  words.clear();
  return {};
}

}  // namespace

// Every writer, against its source named directly, through a symbolic
// link, a hard link and (for disks) as drive 0 of the table; then against
// a FIFO, a character device and a folder. Each is refused with exit 1,
// saying why, and the source keeps its SHA-256.
TEST_F(Evidence, everyWriter_refusesItsSourceAndEveryNonFile_andLeavesTheSourceAsItWas) {
  const std::string base = dir->File("base");
  enum class Way { kDirect, kSymlink, kHardLink, kDrive, kFifo, kDevice, kFolder };
  const std::map<Way, std::string> wayNames = {
      {Way::kDirect, "direct"}, {Way::kSymlink, "symlink"}, {Way::kHardLink, "hard link"},
      {Way::kDrive, "--drive"}, {Way::kFifo, "FIFO"},       {Way::kDevice, "device"},
      {Way::kFolder, "folder"}};
  int runs = 0;
  for (const Writer &w : Writers()) {
    for (const auto &[way, wayName] : wayNames) {
      const bool sourceWay = way <= Way::kDrive;
      if (sourceWay && w.reads == Kind::kNone) continue;
      if (way == Way::kDrive && w.reads != Kind::kDisk) continue;
      SCOPED_TRACE(w.name + " / " + wayName);
      TempDir case_;
      const fs::path folder = case_.Path();
      const fs::path hit = folder / w.writes;
      std::vector<std::string> words;
      std::vector<std::string> sources;
      std::string out = hit.string();
      if (way == Way::kDirect || way == Way::kDrive) {
        sources = PlaceSource(w.reads, folder, w.writes, base, words);
        if (way == Way::kDrive) words = {"--image", sources[0], "--drive", "0"};
      } else {
        const std::string aside = "src" + Extension(w.writes);
        sources = PlaceSource(w.reads, folder, aside, base, words);
        const fs::path target = folder / aside;
        switch (way) {
          case Way::kSymlink:
            fs::create_symlink(target, hit);
            break;
          case Way::kHardLink:
            fs::create_hard_link(target, hit);
            break;
          case Way::kFifo:
            ASSERT_EQ(mkfifo(hit.c_str(), 0600), 0);
            break;
          case Way::kDevice:
            // A clip's data file is named through its index: a link gives
            // the device that name.
            if (Extension(w.writes) == ".da")
              fs::create_symlink("/dev/null", hit);
            else
              out = "/dev/null";
            break;
          case Way::kFolder:
            fs::create_directory(hit);
            break;
          default:
            break;
        }
      }
      std::vector<std::string> sums;
      for (const auto &s : sources) sums.push_back(orvan::test::FileSha256(s));
      const auto before = Listing(folder);

      const auto r = RunTool(w.tool, w.args(words, out), 60);
      ++runs;
      EXPECT_EQ(r.exitCode, 1) << r.err;
      EXPECT_NE(r.err.find("refusing to write"), std::string::npos) << r.err;
      if (sourceWay) {
        EXPECT_NE(r.err.find("it is the source being read"), std::string::npos) << r.err;
      }
      for (size_t i = 0; i < sources.size(); ++i)
        EXPECT_EQ(orvan::test::FileSha256(sources[i]), sums[i]) << sources[i];
      EXPECT_EQ(Listing(folder), before);  // nothing made, no temporary left
      if (way == Way::kFifo) {
        EXPECT_TRUE(fs::is_fifo(hit));
      }
      if (way == Way::kSymlink) {
        EXPECT_TRUE(fs::is_symlink(hit));
      }
    }
  }
  EXPECT_EQ(runs, 4 * 7 + 2 * 6 + 1 * 6 + 1 * 3);
}

// An ordinary existing file is replaced only when asked (orvan-mkdisk
// always replaces its own output).
TEST_F(Evidence, everyWriter_replacesAnExistingFile_onlyWithOverwrite) {
  const std::string base = dir->File("base");
  for (const Writer &w : Writers()) {
    SCOPED_TRACE(w.name);
    TempDir case_;
    std::vector<std::string> words;
    const std::string sourceName = w.reads == Kind::kDisk   ? "src.img"
                                   : w.reads == Kind::kClip ? "src.in"
                                                            : "src.yuv";
    PlaceSource(w.reads, case_.Path(), sourceName, base, words);
    const std::string out = case_.File(w.writes);
    std::ofstream(out) << "an older file";
    if (w.tool == "orvan-cli") {
      const auto kept = RunTool(w.tool, w.args(words, out), 60);
      EXPECT_EQ(kept.exitCode, 1) << kept.err;
      EXPECT_NE(kept.err.find("(--overwrite replaces it)"), std::string::npos) << kept.err;
      EXPECT_EQ(orvan::test::ReadFileText(out), "an older file");
    }
    auto args = w.args(words, out);
    if (w.tool == "orvan-cli") args.push_back("--overwrite");
    const auto replaced = RunTool(w.tool, args, 60);
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_GT(fs::file_size(out), 100u);
  }
}

// A FIFO or a character device named as the source: refused at once, never
// waited on (the run is killed after a minute, which fails the test).
TEST_F(Evidence, fifoAndCharacterDevice_asSources_areRefusedWithoutWaiting) {
  TempDir folder;
  ASSERT_EQ(mkfifo(folder.File("pipe.img").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(folder.File("pipe.in").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(folder.File("pipe.yuv").c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> commands = {
      {"play", folder.File("pipe.img")},
      {"play", "/dev/zero"},
      {"play", "--image", folder.File("pipe.img"), "--drive", "0"},
      {"play", folder.File("pipe.in")},
      {"yuv", folder.File("pipe.yuv"), "-o", folder.File("out.bmp")},
  };
  for (const auto &c : commands) {
    const auto r = RunTool("orvan-cli", c, 60);
    EXPECT_GE(r.exitCode, 1) << c[1] << ": " << r.err;
    EXPECT_LE(r.exitCode, 2) << c[1];
    EXPECT_TRUE(r.err.find("is not a disk or an image") != std::string::npos ||
                r.err.find("not a clip file") != std::string::npos ||
                r.err.find("not a regular file") != std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(fs::exists(folder.File("out.bmp")));
}

// One index block whose delays read 0xFFFF (65 s each): fast forward still
// plays the whole recording, and a timed run ends when its time is up.
TEST_F(Evidence, fastForwardOverAbsurdDelays_endsWithinItsDuration) {
  TempDir folder;
  const std::string slow = folder.File("slow.img");
  fs::copy_file(disk, slow);
  {
    std::fstream image(slow, std::ios::in | std::ios::out | std::ios::binary);
    for (int n = 0; n < 512; ++n) {
      image.seekp(std::streamoff(kIndexAreaOffset + 20 * n + 2));
      image.write("\xFF\xFF", 2);
    }
    ASSERT_TRUE(image.good());
  }
  const auto whole = RunTool("orvan-cli", {"play", disk, "--fast", "--json"}, 120);
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  const auto r = RunTool("orvan-cli", {"play", slow, "--fast", "--json"}, 120);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonNumber(r.out, "lastSeconds"), JsonNumber(whole.out, "lastSeconds"));
  const auto timed =
      RunTool("orvan-cli", {"play", slow, "--fast", "--duration", "1", "--json"}, 60);
  EXPECT_EQ(timed.exitCode, 0) << timed.err;
}

// SIGTERM in the middle of saving an AVI: play stops, finishes the file,
// prints what it played and exits 143; libavformat reads the whole file.
TEST_F(Evidence, sigtermDuringPlay_closesTheAviWhole_andExits143) {
  TempDir folder;
  // Long enough that the signal comes well before the end.
  const std::string longer = dir->File("long.img");
  const auto made = RunTool("orvan-mkdisk", {"-o", longer, "--duration", "40", "--no-audio"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const std::string avi = folder.File("stopped.avi");
  const std::string out = folder.File("out.json"), err = folder.File("err.txt");
  const pid_t pid =
      orvan::test::StartTool("orvan-cli", {"play", longer, "--avi", avi, "--json"}, out, err);
  ASSERT_GT(pid, 0);
  // Saving has begun once the AVI's temporary beside it holds data.
  const auto writing = [&] {
    for (const auto &e : fs::directory_iterator(folder.Path()))
      if (e.path().extension() == ".part" && e.file_size() > 50000) return true;
    return false;
  };
  const bool started = orvan::test::WaitUntil(writing, std::chrono::seconds(60));
  kill(pid, SIGTERM);
  const int code = orvan::test::WaitTool(pid, 60);
  ASSERT_TRUE(started) << orvan::test::ReadFileText(err);
  EXPECT_EQ(code, 143) << orvan::test::ReadFileText(err);
  const std::string json = orvan::test::ReadFileText(out);
  EXPECT_GT(JsonNumber(json, "aviPictures"), 0) << json;

  AVFormatContext *raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, avi.c_str(), nullptr, nullptr), 0);
  orvan::av::InputFormatContextPtr input(raw);
  ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 2u);
  AVPacket *packet = av_packet_alloc();
  long long video = 0;
  int rc = 0;
  while ((rc = av_read_frame(input.get(), packet)) >= 0) {
    video += packet->stream_index == 0;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  EXPECT_EQ(rc, AVERROR_EOF);
  EXPECT_EQ(video, JsonNumber(json, "aviPictures"));
  EXPECT_EQ(Listing(folder.Path()),
            (std::vector<std::string>{"err.txt", "out.json", "stopped.avi"}));
}

// A disk cut in its index, one cut in its data area, and one whose index is
// all 0xFF bytes: play ends, says what it lost, and --strict makes it exit 5.
TEST_F(Evidence, damagedDisks_playWhatTheyCan_andSaySo) {
  TempDir folder;
  const auto bytes = orvan::test::ReadFileText(disk);
  const struct {
    std::string name;
    std::string bytes;
    std::string warning;
    bool skipped, readErrors;
  } cases[] = {
      {"index", bytes.substr(0, kIndexAreaOffset + 1000), "playing ends there", true, true},
      {"data", bytes.substr(0, bytes.size() / 2), "truncated image", true, false},
      {"ff",
       bytes.substr(0, kIndexAreaOffset) + std::string(1 << 20, '\xFF') +
           bytes.substr(kIndexAreaOffset + (1 << 20)),
       "entries were not played", true, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.File(c.name + ".img");
    std::ofstream(path, std::ios::binary) << c.bytes;
    const auto r = RunTool("orvan-cli", {"play", path, "--no-pacing", "--json"}, 120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("warning: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\"warnings\": [\""), std::string::npos) << r.out;
    EXPECT_EQ(JsonNumber(r.out, "skippedRecords") > 0, c.skipped) << r.out;
    EXPECT_EQ(JsonNumber(r.out, "readErrors") > 0, c.readErrors) << r.out;
    EXPECT_EQ(RunTool("orvan-cli", {"play", path, "--no-pacing", "--strict"}, 120).exitCode, 5);
  }
  const auto sound = RunTool("orvan-cli", {"play", disk, "--no-pacing", "--json", "--strict"});
  EXPECT_EQ(sound.exitCode, 0) << sound.err;
  EXPECT_NE(sound.out.find("\"warnings\": [], \"readErrors\": 0, \"skippedRecords\": 0"),
            std::string::npos);
  EXPECT_EQ(sound.err.find("warning"), std::string::npos) << sound.err;
}
