#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "recorder/export/copy_hdd_thread.h"
#include "recorder/export/export_manifest.h"
#include "recorder/export/frames_table.h"
#include "tests/recorder/export/media_readback.h"
#include "tests/support/test_support.h"
#include "tools/sample_recording.h"

using namespace orvan;
using namespace orvan::recorder;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kStart = 1202982297;  // 2008-02-14 09:44:57

std::string MakeRecording(const test::TempDir &dir, const std::string &name,
                          tools::SampleOptions options) {
  options.outputPath = dir.File(name);
  tools::SampleSummary summary;
  std::string error;
  EXPECT_TRUE(tools::MakeSampleRecording(options, summary, &error)) << error;
  return options.outputPath;
}

struct Exported {
  CopyFailure failure = CopyFailure::None;
  int64_t startEntry = 0;
  uint64_t skipped = 0;
  std::vector<ExportedFile> files;
  std::string manifest;
  std::string error;
};

Exported Export(const std::string &image, int64_t from, int64_t to, const std::string &out,
                ExportFormat format, unsigned channels = 0xF) {
  test::TempDir sys;
  DriveTable::SetProcess(DriveTable({image}, sys.Path().string()));
  ExportOptions options;
  options.format = format;
  options.channelMask = channels;
  CopyHDDThread t(nullptr, 0, RecorderSecondsToSystemTime(from), RecorderSecondsToSystemTime(to),
                  out, {}, platform::ReplacePolicy::kKeepExisting, options);
  EXPECT_TRUE(test::WaitUntil([&] { return t.Done() == 1 || t.Finished(); }));
  t.WaitFor();
  return {t.Failure(), t.StartEntry(),   t.SkippedRecords(),
          t.Files(),   t.ManifestPath(), t.ErrorText()};
}

// What one channel's file must hold, worked out from the recording's index:
// its pictures from its last key picture at or before the asked start (or
// its first key picture, when it has none before), each at the time of the
// recording's clock (the entry before plus its delay, inside the entry's
// second; pictures of all channels on one clock, audio on another), and its
// audio blocks behind that key picture in the index.
struct Expected {
  std::vector<IndexEntry> pictures;
  std::vector<int64_t> pictureMs;
  std::vector<IndexEntry> audio;
  uint64_t audioBytes = 0;
  int64_t firstAskedMs = -1;
  bool blocksLost = false;  // the stream is anchored again where a block is missing
};

Expected ExpectedChannel(const std::string &image, int64_t startEntry, int64_t fromSeconds,
                         int64_t endSeconds, int channel, const std::set<int64_t> &leftOut = {}) {
  DiskGeometry g;
  const auto entries = test::ReadRecordedEntries(image, &g);
  struct Timed {
    IndexEntry entry;
    int64_t number;
    int64_t ms;
  };
  std::vector<Timed> timed;
  struct Run {
    bool on = false;
    int64_t next = 0;
  } pictures, audio;
  for (const auto &[e, n] : entries) {
    Run &run = e.type == kTypeAudio ? audio : pictures;
    const int64_t second = int64_t{e.time} * 1000;
    const int64_t ms = std::min(std::max(run.on ? run.next : second, second), second + 999);
    run.on = true;
    run.next = ms + e.delayMs;
    if (n < startEntry || e.time >= endSeconds || e.channel != channel || leftOut.count(n))
      continue;
    timed.push_back({e, n, ms});
  }
  int64_t startKey = -1, firstKeyAfter = -1;
  for (const Timed &t : timed) {
    if (!IsKeyPicture(t.entry.type)) continue;
    if (t.ms <= fromSeconds * 1000)
      startKey = t.number;
    else if (firstKeyAfter < 0)
      firstKeyAfter = t.number;
  }
  if (startKey < 0) startKey = firstKeyAfter;
  Expected x;
  x.blocksLost = !leftOut.empty();
  for (const Timed &t : timed) {
    if (startKey < 0 || t.number < startKey) continue;
    if (t.entry.type == kTypeAudio) {
      x.audio.push_back(t.entry);
      x.audioBytes += t.entry.size;
      continue;
    }
    x.pictures.push_back(t.entry);
    x.pictureMs.push_back(t.ms);
    if (x.firstAskedMs < 0 && t.ms >= fromSeconds * 1000) x.firstAskedMs = t.ms;
  }
  return x;
}

// "yyyy/mm/dd_hh:nn:ss.mmm"
std::string ClockText(int64_t ms) {
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", int(ms % 1000));
  return FormatRecorderTime(ms / 1000) + fraction;
}

// The cue texts of a text track: Matroska holds the text, MP4 a 16-bit
// length in front of it.
std::vector<std::string> CueTexts(const test::ReadStream &s) {
  std::vector<std::string> texts;
  for (const auto &p : s.packets) {
    if (s.codec == AV_CODEC_ID_MOV_TEXT) {
      if (p.data.size() > 2) texts.emplace_back(p.data.begin() + 2, p.data.end());
    } else {
      texts.emplace_back(p.data.begin(), p.data.end());
    }
  }
  return texts;
}

// Checks one channel's file against the recording.
void CheckChannelFile(const std::string &image, const std::string &file, const Expected &x,
                      bool mp4, int channel) {
  SCOPED_TRACE(file);
  DiskGeometry g;
  test::ReadRecordedEntries(image, &g);
  const test::ReadMedia media = test::ReadMediaFile(file);
  ASSERT_TRUE(media.ok);
  const test::ReadStream *video = media.Of(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(video, nullptr);
  ASSERT_EQ(video->packets.size(), x.pictures.size());
  for (size_t i = 0; i < x.pictures.size(); ++i) {
    ASSERT_EQ(video->packets[i].data, test::ReadRecord(image, g, x.pictures[i])) << "picture " << i;
    EXPECT_EQ(video->packets[i].key, IsKeyPicture(x.pictures[i].type)) << "picture " << i;
    EXPECT_NEAR(video->packets[i].ptsMs, x.pictureMs[i] - x.pictureMs[0], 1) << "picture " << i;
  }
  EXPECT_EQ(video->packets.front().ptsMs, 0);
  EXPECT_EQ(media.title, "CH" + std::to_string(channel + 1) + " " +
                             FormatRecorderTime(x.pictureMs.front() / 1000) + " \u2013 " +
                             FormatRecorderTime(x.pictureMs.back() / 1000));
  EXPECT_EQ(media.creationTime.substr(0, 19), FormatRecorderTime(x.pictureMs.front() / 1000)
                                                  .replace(4, 1, "-")
                                                  .replace(7, 1, "-")
                                                  .replace(10, 1, "T"));

  // The clock: a cue for every picture, from it to the next, saying its
  // recorder date and time to the millisecond.
  const test::ReadStream *text = media.Of(AVMEDIA_TYPE_SUBTITLE);
  ASSERT_NE(text, nullptr);
  std::vector<std::string> cues = CueTexts(*text);
  if (mp4) cues.erase(std::remove(cues.begin(), cues.end(), ""), cues.end());
  ASSERT_EQ(cues.size(), x.pictures.size());
  for (size_t i = 0; i < cues.size(); ++i) {
    EXPECT_EQ(cues[i], ClockText(x.pictureMs[i])) << "cue " << i;
    if (!mp4) {
      EXPECT_EQ(text->packets[i].ptsMs, video->packets[i].ptsMs) << "cue " << i;
    }
  }

  const test::ReadStream *audio = media.Of(AVMEDIA_TYPE_AUDIO);
  if (x.audioBytes == 0) {
    EXPECT_EQ(audio, nullptr);
    return;
  }
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->sampleRate, 16000);
  EXPECT_EQ(audio->channels, 2);
  if (mp4) {
    EXPECT_EQ(audio->codec, AV_CODEC_ID_AAC);
    // One continuous stream of 1024-sample frames.
    for (size_t i = 1; i < audio->packets.size() && !x.blocksLost; ++i)
      EXPECT_NEAR(audio->packets[i].ptsMs - audio->packets[i - 1].ptsMs, 64, 1) << "frame " << i;
    // Whole frames of 1024 samples: the last one is padded.
    EXPECT_GE(audio->decodedSamples, int64_t(x.audioBytes / 4));
    EXPECT_LT(audio->decodedSamples, int64_t(x.audioBytes / 4) + 2048);
  } else {
    EXPECT_EQ(audio->codec, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(audio->decodedSamples, int64_t(x.audioBytes / 4));
    // One continuous stream: every block starts where the one before ended
    // (recorder times here have no pause longer than a block).
    ASSERT_EQ(audio->packets.size(), x.audio.size());
    int64_t samples = 0;
    for (size_t i = 0; i < x.audio.size() && !x.blocksLost; ++i) {
      EXPECT_NEAR(audio->packets[i].ptsMs, audio->packets[0].ptsMs + samples / 16, 1)
          << "block " << i;
      samples += x.audio[i].size / 4;
    }
  }
}

nlohmann::json ReadJson(const std::string &path) {
  return nlohmann::json::parse(test::ReadFileText(path), nullptr, false);
}

void CheckManifestFiles(const Exported &e, size_t count) {
  ASSERT_FALSE(e.manifest.empty());
  const nlohmann::json m = ReadJson(e.manifest);
  ASSERT_TRUE(m.is_object());
  ASSERT_EQ(m["files"].size(), count);
  for (const auto &f : m["files"]) {
    const std::string path = (fs::path(e.manifest).parent_path() / f["name"].get<std::string>());
    EXPECT_EQ(f["sha256"], test::FileSha256(path)) << path;
    EXPECT_EQ(f["sizeBytes"], fs::file_size(path)) << path;
  }
  std::vector<VerifiedFile> results;
  std::string error;
  ASSERT_TRUE(VerifyManifest(e.manifest, results, &error)) << error;
  for (const auto &r : results) EXPECT_TRUE(r.ok) << r.name << ": " << r.problem;
}

struct RecordedEntryRef {
  IndexEntry entry;
  int64_t number;
};

class MediaExport : public ::testing::TestWithParam<ExportFormat> {
 protected:
  bool Mp4() const { return GetParam() == ExportFormat::kMp4; }
  std::string Ext() const { return Mp4() ? ".mp4" : ".mkv"; }
  test::TempDir dir;
};

}  // namespace

TEST(ExportStatistics, aGapIsMoreThanTwoSecondsWithoutAPicture_betweenPicturesOfItsChannel) {
  ExportStatistics s;
  auto entry = [](int8_t type, uint8_t channel) {
    IndexEntry e;
    e.type = type;
    e.channel = channel;
    return e;
  };
  s.Written(entry(kTypeKeyPicture, 1), 1000);
  s.Written(entry(kTypePicture, 1), 3000);  // exactly 2 s: no gap
  s.Written(entry(kTypePicture, 1), 5001);
  s.Written(entry(kTypeAudio, 1), 7000);  // sound is no picture
  s.Written(entry(kTypePicture, 1), 9500);
  s.Written(entry(kTypePicture, 2), 100);  // another channel's clock
  s.Written(entry(kTypeMjpegKey, 2), 2000);
  const ChannelSummary &one = s.Channels()[1];
  EXPECT_EQ(one.gaps, (std::vector<std::pair<int64_t, int64_t>>{{3000, 5001}, {5001, 9500}}));
  EXPECT_EQ(one.pictures, 4);
  EXPECT_EQ(one.keyPictures, 1);
  EXPECT_EQ(one.audioBlocks, 1);
  EXPECT_EQ(one.firstMs, 1000);
  EXPECT_EQ(one.lastMs, 9500);
  EXPECT_TRUE(s.Channels()[2].gaps.empty());
  EXPECT_EQ(s.Channels()[2].keyPictures, 1);
  EXPECT_TRUE(s.Channels()[0].Empty());
}

TEST_P(MediaExport, mpeg4WithAudio_holdsEachChannelsPicturesByteForByte_atTheRecordersTimes) {
  tools::SampleOptions o;
  o.durationSeconds = 30;
  const std::string image = MakeRecording(dir, "disk.img", o);
  const std::string before = test::FileSha256(image);
  // From inside the second block: the copy starts at that block's start.
  const Exported e = Export(image, kStart + 14, kStart + 25, dir.File("out" + Ext()), GetParam());
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  EXPECT_GT(e.startEntry, 0);
  ASSERT_EQ(e.files.size(), 5u);  // the channels, and the table of the span's entries
  EXPECT_EQ(e.files[4].path, dir.File("out.frames.csv"));
  for (int c = 0; c < 4; ++c) {
    const std::string file = dir.File("out_CH" + std::to_string(c + 1) + Ext());
    EXPECT_EQ(e.files[size_t(c)].path, file);
    const Expected x = ExpectedChannel(image, e.startEntry, kStart + 14, kStart + 25, c);
    CheckChannelFile(image, file, x, Mp4(), c);
    // The codec configuration is what a decoder needs first: the sequence
    // headers and the key picture's own headers, up to its picture.
    const test::ReadMedia media = test::ReadMediaFile(file);
    ASSERT_NE(media.Of(AVMEDIA_TYPE_VIDEO), nullptr);
    const auto &headers = media.Of(AVMEDIA_TYPE_VIDEO)->extradata;
    ASSERT_GE(headers.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(headers.begin(), headers.begin() + 4),
              (std::vector<uint8_t>{0, 0, 1, 0xB0}));
  }
  CheckManifestFiles(e, 5);
  const nlohmann::json m = ReadJson(e.manifest);
  EXPECT_EQ(m["format"], Mp4() ? "mp4" : "matroska");
  const Expected first = ExpectedChannel(image, e.startEntry, kStart + 14, kStart + 25, 0);
  EXPECT_EQ(m["channels"][0]["pictures"], first.pictures.size());
  EXPECT_EQ(m["channels"][0]["firstAskedMs"], first.firstAskedMs);
  EXPECT_EQ(m["channels"][0]["leftOutBeforeFirstKeyPicture"], 0);
  const std::string notes = m["notes"].dump();
  EXPECT_EQ(notes.find("AAC") != std::string::npos, Mp4()) << notes;
  EXPECT_EQ(test::FileSha256(image), before);
}

TEST_P(MediaExport, mjpegWithoutAudio_andAQuadRecording_giveFilesOfTheirChannelsOnly) {
  tools::SampleOptions mjpeg;
  mjpeg.durationSeconds = 8;
  mjpeg.codec = tools::SampleOptions::Codec::Mjpeg;
  mjpeg.audio = false;
  const std::string image = MakeRecording(dir, "mjpeg.img", mjpeg);
  Exported e = Export(image, kStart, kStart + 60, dir.File("m" + Ext()), GetParam(), 0b0101);
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  ASSERT_EQ(e.files.size(), 3u);  // channels 1 and 3, as asked, and the table
  for (int c : {0, 2}) {
    const Expected x = ExpectedChannel(image, 0, kStart, kStart + 60, c);
    CheckChannelFile(image, dir.File("m_CH" + std::to_string(c + 1) + Ext()), x, Mp4(), c);
  }
  EXPECT_FALSE(fs::exists(dir.File("m_CH2" + Ext())));
  CheckManifestFiles(e, 3);

  tools::SampleOptions quad;
  quad.durationSeconds = 8;
  quad.quad = true;
  quad.altTypes = true;
  const std::string quadImage = MakeRecording(dir, "quad.img", quad);
  e = Export(quadImage, kStart, kStart + 60, dir.File("q" + Ext()), GetParam());
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  ASSERT_EQ(e.files.size(), 2u);
  const Expected quadExpected = ExpectedChannel(quadImage, 0, kStart, kStart + 60, 0);
  CheckChannelFile(quadImage, dir.File("q_CH1" + Ext()), quadExpected, Mp4(), 0);
  // Seconds holding one picture more than the rate (its delays adding up to
  // more than the second) still give no two pictures at once.
  for (size_t i = 1; i < quadExpected.pictureMs.size(); ++i)
    EXPECT_GT(quadExpected.pictureMs[i] - quadExpected.pictureMs[i - 1], 50) << "picture " << i;
  EXPECT_EQ(ReadJson(e.manifest)["recorder"]["layout"], "one channel (four-way picture)");
}

TEST_P(MediaExport, theSameSpanExportedAgain_givesTheSameBytes) {
  tools::SampleOptions o;
  o.durationSeconds = 4;
  const std::string image = MakeRecording(dir, "disk.img", o);
  const Exported first = Export(image, kStart, kStart + 60, dir.File("a" + Ext()), GetParam());
  const Exported again = Export(image, kStart, kStart + 60, dir.File("b" + Ext()), GetParam());
  ASSERT_EQ(first.failure, CopyFailure::None) << first.error;
  ASSERT_EQ(again.failure, CopyFailure::None) << again.error;
  ASSERT_EQ(first.files.size(), 5u);
  ASSERT_EQ(again.files.size(), first.files.size());
  for (size_t i = 0; i < first.files.size(); ++i) {
    EXPECT_FALSE(first.files[i].sha256.empty());
    EXPECT_EQ(first.files[i].sha256, again.files[i].sha256) << first.files[i].path;
    EXPECT_EQ(test::FileSha256(first.files[i].path), test::FileSha256(again.files[i].path));
  }
}

TEST_P(MediaExport, corruptRecords_areLeftOutAndCounted_neverWritten) {
  tools::SampleOptions o;
  o.durationSeconds = 6;
  const std::string image = MakeRecording(dir, "disk.img", o);
  DiskGeometry g;
  const auto entries = test::ReadRecordedEntries(image, &g);
  // A predicted picture of channel 2 whose bytes are no picture, and an
  // audio block of a length no stereo sample stream has.
  int64_t badPicture = -1, badAudio = -1;
  for (const auto &[entry, n] : entries) {
    if (badPicture < 0 && n > 40 && entry.channel == 1 && entry.type == kTypePicture)
      badPicture = n;
    if (badAudio < 0 && n > 40 && entry.type == kTypeAudio) badAudio = n;
  }
  ASSERT_GE(badPicture, 0);
  ASSERT_GE(badAudio, 0);
  {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    const IndexEntry &p = entries[size_t(badPicture)].entry;
    f.seekp(std::streamoff(g.dataBase + p.offset));
    const std::vector<char> junk(p.size, char(0x5A));
    f.write(junk.data(), std::streamsize(junk.size()));
    IndexEntry a = entries[size_t(badAudio)].entry;
    a.size -= 1;
    uint8_t bytes[kEntryBytes];
    a.Serialize(bytes);
    f.seekp(std::streamoff(IndexEntryPosition(badAudio)));
    f.write(reinterpret_cast<char *>(bytes), sizeof bytes);
  }
  const Exported e = Export(image, kStart, kStart + 60, dir.File("c" + Ext()), GetParam());
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  EXPECT_EQ(e.skipped, 2u);
  CheckChannelFile(image, dir.File("c_CH2" + Ext()),
                   ExpectedChannel(image, 0, kStart, kStart + 60, 1, {badPicture}), Mp4(), 1);
  CheckChannelFile(image, dir.File("c_CH1" + Ext()),
                   ExpectedChannel(image, 0, kStart, kStart + 60, 0, {badAudio}), Mp4(), 0);
  const nlohmann::json m = ReadJson(e.manifest);
  EXPECT_EQ(m["skippedRecords"], 2);
  EXPECT_EQ(m["channels"][0]["corruptRecords"], 1);
  EXPECT_EQ(m["channels"][1]["corruptRecords"], 1);
}

TEST_P(MediaExport, aSpanWithoutPictures_writesNoFile_andNoManifest) {
  tools::SampleOptions o;
  o.durationSeconds = 4;
  o.quad = true;
  const std::string image = MakeRecording(dir, "quad.img", o);
  const Exported e = Export(image, kStart, kStart + 60, dir.File("n" + Ext()), GetParam(), 0b0010);
  EXPECT_EQ(e.failure, CopyFailure::NoPictures);
  EXPECT_TRUE(e.files.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST_P(MediaExport, aFullDisk_stopsWithTheFileNamed_andLeavesNoFileAndNoManifest) {
  tools::SampleOptions o;
  o.durationSeconds = 10;
  const std::string image = MakeRecording(dir, "disk.img", o);
  test::TempDir sys;
  DriveTable::SetProcess(DriveTable({image}, sys.Path().string()));
  const std::string out = dir.File("full" + Ext());
  const ExportFormat format = GetParam();
  const pid_t pid = fork();
  if (pid == 0) {
    // Files of this process may not grow beyond 300 KB.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{300000, 300000};
    setrlimit(RLIMIT_FSIZE, &limit);
    ExportOptions options;
    options.format = format;
    bool named = false;
    {
      CopyHDDThread t(nullptr, 0, RecorderSecondsToSystemTime(kStart),
                      RecorderSecondsToSystemTime(kStart + 60), out, {},
                      platform::ReplacePolicy::kKeepExisting, options);
      t.WaitFor();
      named = t.Failure() == CopyFailure::WriteFailed &&
              t.ErrorText().find("full_CH") != std::string::npos && t.ManifestPath().empty();
    }
    _exit(named ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST_P(MediaExport, audioWithoutPacingDelays_isStillOneContinuousStream_inStepWithThePictures) {
  // Recorders may leave an audio block's delay at 0: the index then gives
  // the blocks of a second one and the same time.
  tools::SampleOptions o;
  o.durationSeconds = 16;
  o.audioDelayMs = 0;
  const std::string image = MakeRecording(dir, "disk.img", o);
  const Exported e =
      Export(image, kStart + 5, kStart + 14, dir.File("z" + Ext()), GetParam(), 0b0001);
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  const Expected x = ExpectedChannel(image, e.startEntry, kStart + 5, kStart + 14, 0);
  ASSERT_GT(x.audio.size(), 100u);
  CheckChannelFile(image, dir.File("z_CH1" + Ext()), x, Mp4(), 0);
  // In step: the audio of each recorded second starts within that second
  // of the pictures' clock.
  const test::ReadMedia media = test::ReadMediaFile(dir.File("z_CH1" + Ext()));
  const test::ReadStream *audio = media.Of(AVMEDIA_TYPE_AUDIO);
  ASSERT_NE(audio, nullptr);
  const int64_t lastMs = audio->packets.back().ptsMs + x.pictureMs.front();
  EXPECT_NEAR(double(lastMs), double(kStart + 14) * 1000.0, 1100.0);
  const nlohmann::json m = ReadJson(e.manifest);
  EXPECT_TRUE(m["channels"][0]["audioGaps"].empty()) << m["channels"][0]["audioGaps"];
  EXPECT_TRUE(m["channels"][0]["audioAhead"].empty()) << m["channels"][0]["audioAhead"];
}

TEST_P(MediaExport, aPauseInRecording_anchorsTheAudioAgainAfterIt_andTheManifestSaysWhere) {
  tools::SampleOptions o;
  o.durationSeconds = 12;
  o.gapSeconds = 5;
  o.gapAtSeconds = 6;
  const std::string image = MakeRecording(dir, "gap.img", o);
  const Exported e = Export(image, kStart, kStart + 60, dir.File("g" + Ext()), GetParam(), 1);
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  const nlohmann::json channel = ReadJson(e.manifest)["channels"][0];
  ASSERT_EQ(channel["audioGaps"].size(), 1u) << channel;
  const auto &gap = channel["audioGaps"][0];
  EXPECT_NEAR(gap["fromMs"].get<double>(), double(kStart + 6) * 1000.0, 100.0);
  EXPECT_NEAR(gap["seconds"].get<double>(), 5.0, 0.1);
  // The file's audio jumps once, by the pause, and never overlaps.
  const test::ReadMedia media = test::ReadMediaFile(dir.File("g_CH1" + Ext()));
  const test::ReadStream *audio = media.Of(AVMEDIA_TYPE_AUDIO);
  ASSERT_NE(audio, nullptr);
  int jumps = 0;
  for (size_t i = 1; i < audio->packets.size(); ++i) {
    const int64_t step = audio->packets[i].ptsMs - audio->packets[i - 1].ptsMs;
    EXPECT_GT(step, 60) << "packet " << i;
    if (step > 1000) ++jumps;
  }
  EXPECT_EQ(jumps, 1);
  // The pictures' hole is in the timing analysis.
  EXPECT_EQ(channel["timing"]["gapCount"], 1);
}

TEST_P(MediaExport, everyPictureOfTheAskedSpan_isInTheFile_fromTheKeyPictureAtOrBeforeIt) {
  tools::SampleOptions o;
  o.durationSeconds = 20;
  o.keyInterval = 40;  // 5 s between key pictures: the start lies well inside a group
  const std::string image = MakeRecording(dir, "disk.img", o);
  const int64_t from = kStart + 12, to = kStart + 16;
  const Exported e = Export(image, from, to, dir.File("a" + Ext()), GetParam());
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  const nlohmann::json m = ReadJson(e.manifest);
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    const Expected x = ExpectedChannel(image, e.startEntry, from, to, c);
    ASSERT_FALSE(x.pictures.empty());
    EXPECT_TRUE(IsKeyPicture(x.pictures.front().type));
    EXPECT_LE(x.pictureMs.front(), from * 1000);
    CheckChannelFile(image, dir.File("a_CH" + std::to_string(c + 1) + Ext()), x, Mp4(), c);
    const auto &channel = m["channels"][size_t(c)];
    EXPECT_EQ(channel["firstAskedMs"], x.firstAskedMs);
    int64_t leadIn = 0;
    for (const int64_t ms : x.pictureMs) leadIn += ms < from * 1000;
    EXPECT_GT(leadIn, 0);
    EXPECT_EQ(channel["leadInPictures"], leadIn);
    EXPECT_EQ(channel["leftOutBeforeFirstKeyPicture"], 0);
    if (!Mp4()) {
      // Where the asked span begins, as a chapter.
      const test::ReadMedia media =
          test::ReadMediaFile(dir.File("a_CH" + std::to_string(c + 1) + Ext()));
      ASSERT_EQ(media.chapters.size(), 2u);
      EXPECT_EQ(media.chapters[1].startMs, x.firstAskedMs - x.pictureMs.front());
      EXPECT_EQ(media.chapters[0].endMs, media.chapters[1].startMs);
      EXPECT_EQ(media.chapters[1].title, "Asked span from 2008/02/14_09:45:09.000");
    }
  }
}

TEST_P(MediaExport, theFramesTable_listsEveryEntryOfTheSpan_withTheTimesAndBytesTheFilesHold) {
  tools::SampleOptions o;
  o.durationSeconds = 10;
  const std::string image = MakeRecording(dir, "disk.img", o);
  const int64_t from = kStart + 3, to = kStart + 8;
  const Exported e = Export(image, from, to, dir.File("t" + Ext()), GetParam(), 0b0011);
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  DiskGeometry g;
  const auto entries = test::ReadRecordedEntries(image, &g);
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(test::ReadFileText(dir.File("t.frames.csv")));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, FramesTable::kCsvHeader);
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream cells(line);
    for (std::string f; std::getline(cells, f, ',');) fields.push_back(f);
    if (line.back() == ',') fields.emplace_back();
    ASSERT_EQ(fields.size(), 13u) << line;
    rows.push_back(fields);
  }
  // One row per entry of the channels asked for, in index order, from the
  // first entry read to the end of the span.
  std::vector<RecordedEntryRef> wanted;
  for (const auto &[entry, n] : entries)
    if (n >= e.startEntry && entry.time < to && entry.channel < 2) wanted.push_back({entry, n});
  ASSERT_EQ(rows.size(), wanted.size());
  const std::array<test::ReadMedia, 2> media = {test::ReadMediaFile(dir.File("t_CH1" + Ext())),
                                                test::ReadMediaFile(dir.File("t_CH2" + Ext()))};
  std::array<size_t, 2> next{};
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto &r = rows[i];
    const IndexEntry &entry = wanted[i].entry;
    SCOPED_TRACE(i);
    EXPECT_EQ(r[0], std::to_string(wanted[i].number));
    EXPECT_EQ(r[1], std::to_string(entry.channel + 1));
    EXPECT_EQ(r[7], std::to_string(g.dataBase + entry.offset));
    EXPECT_EQ(r[8], std::to_string(entry.size));
    EXPECT_EQ(r[11].empty(), entry.type == kTypeAudio || r[11].empty());
    const auto record = test::ReadRecord(image, g, entry);
    EXPECT_EQ(r[10], test::Sha256Hex(record));
    if (entry.type == kTypeAudio || r[6].empty()) continue;
    // A picture in the file: its packet is the record, at the row's time.
    const test::ReadStream *video = media[entry.channel].Of(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    ASSERT_LT(next[entry.channel], video->packets.size());
    const test::ReadPacket &p = video->packets[next[entry.channel]++];
    EXPECT_EQ(p.data, record);
    EXPECT_NEAR(std::stod(r[6]) * 1000.0, double(p.ptsMs), 1.0);
  }
  for (int c = 0; c < 2; ++c)
    EXPECT_EQ(next[size_t(c)], media[size_t(c)].Of(AVMEDIA_TYPE_VIDEO)->packets.size());
}

TEST(MatroskaExport,
     aTenMinuteExport_hasACueForEveryKeyPicture_andSeeksToItsMiddleWithoutReadingItThrough) {
  test::TempDir dir;
  tools::SampleOptions o;
  o.durationSeconds = 600;
  o.loopSeconds = 10;  // ten minutes made in seconds
  const std::string image = MakeRecording(dir, "long.img", o);
  const Exported e =
      Export(image, kStart, kStart + 600, dir.File("long.mkv"), ExportFormat::kMatroska, 1);
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  const nlohmann::json m = ReadJson(e.manifest);
  const int64_t keys = m["channels"][0]["keyPictures"];
  ASSERT_GT(keys, 250);
  const test::SeekCost cost = test::MeasureSeek(dir.File("long_CH1.mkv"), 300000);
  EXPECT_EQ(cost.videoCues, keys);
  ASSERT_TRUE(cost.ok);
  EXPECT_LE(cost.landedMs, 300000);
  EXPECT_GT(cost.landedMs, 300000 - 2100);
  // Opening, the cues and one cluster: a small part of the file.
  EXPECT_LT(cost.bytesRead, cost.fileBytes / 20) << cost.bytesRead << " of " << cost.fileBytes;
  CheckManifestFiles(e, 2);
}

INSTANTIATE_TEST_SUITE_P(Formats, MediaExport,
                         ::testing::Values(ExportFormat::kMatroska, ExportFormat::kMp4),
                         [](const auto &info) {
                           return std::string(info.param == ExportFormat::kMp4 ? "Mp4"
                                                                               : "Matroska");
                         });

TEST(ClipExportManifest, listsBothClipFiles_verifies_andFailsOnOneChangedByteOrLength) {
  test::TempDir dir;
  tools::SampleOptions o;
  o.durationSeconds = 6;
  const std::string image = MakeRecording(dir, "disk.img", o);
  const Exported e = Export(image, kStart, kStart + 3, dir.File("clip.in"), ExportFormat::kClip);
  ASSERT_EQ(e.failure, CopyFailure::None) << e.error;
  EXPECT_EQ(e.manifest, dir.File("clip.manifest.json"));
  CheckManifestFiles(e, 3);
  const nlohmann::json m = ReadJson(e.manifest);
  EXPECT_EQ(m["files"][0]["name"], "clip.in");
  EXPECT_EQ(m["files"][1]["name"], "clip.da");
  EXPECT_EQ(m["files"][2]["name"], "clip.frames.csv");
  EXPECT_EQ(m["source"]["kind"], "image");
  EXPECT_EQ(m["source"]["path"], image);
  EXPECT_EQ(m["source"]["sizeBytes"], fs::file_size(image));
  EXPECT_EQ(m["span"]["asked"]["from"], "2008/02/14_09:44:57");

  {
    std::fstream f(dir.File("clip.da"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(100);
    const char c = char(f.get() ^ 1);
    f.seekp(100);
    f.put(c);
  }
  fs::resize_file(dir.File("clip.in"), fs::file_size(dir.File("clip.in")) - 1);
  std::vector<VerifiedFile> results;
  std::string error;
  ASSERT_TRUE(VerifyManifest(e.manifest, results, &error)) << error;
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].problem, "size");
  EXPECT_EQ(results[1].problem, "hash");
  EXPECT_TRUE(results[2].ok);

  // A manifest naming a file outside its folder is refused, not followed.
  std::ofstream(dir.File("evil.manifest.json"))
      << R"({"files": [{"name": "../etc/passwd", "sizeBytes": 1, "sha256": "00"}]})";
  EXPECT_FALSE(VerifyManifest(dir.File("evil.manifest.json"), results, &error));
  EXPECT_NE(error.find("outside"), std::string::npos) << error;
}
