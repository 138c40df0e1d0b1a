// Recovery written with the export's sinks, and carving, compared with what
// the maker wrote, entry by entry and byte by byte.
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "recorder/export/export_manifest.h"
#include "recorder/layout/clip_format.h"
#include "recorder/recovery/carver.h"
#include "recorder/recovery/disk_survey.h"
#include "recorder/recovery/recovery_export.h"
#include "tests/recorder/export/media_readback.h"
#include "tests/recorder/recovery/recovery_fixtures.h"

using namespace orvan;
using namespace orvan::recorder;
namespace fs = std::filesystem;

namespace {

struct Surveyed {
  test::MadeDisk made;
  DiskSource disk;
  DiskSurvey survey;
};

void SurveyOf(Surveyed &s) {
  ASSERT_EQ(s.disk.OpenPath(s.made.path), DriveOpenStatus::Ok);
  SurveyOptions options;
  options.keepRecoverable = true;
  s.survey = SurveyDisk(s.disk, s.made.geometry, s.disk.SizeBytes(), options);
}

nlohmann::json ReadJson(const std::string &path) {
  std::ifstream f(path);
  return nlohmann::json::parse(f);
}

TEST(Recovery, ClipHoldsEveryRecoverableEntryAndItsRecord) {
  test::TempDir dir;
  Surveyed s{test::MakeDisk(dir, "prev.img", 10, 30), {}, {}};
  SurveyOf(s);
  const std::string clip = dir.File("r.in");
  const RecoveryResult r = RecoverEntries(s.disk, s.survey, IdentifySource(s.disk), clip, {});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.written, int64_t(s.survey.recoverable.size()));
  EXPECT_EQ(r.unreadable, 0u);

  // The clip's entries are the recoverable ones in index order, and its
  // data the records as they lie on the disk.
  CClipReader reader;
  ASSERT_TRUE(reader.Open(clip));
  ClipTrailer trailer;
  ASSERT_EQ(reader.ReadClipTrailer(trailer), ClipStatus::Ok);
  ASSERT_EQ(int64_t(trailer.count), r.written);
  EXPECT_EQ(trailer.magic, MagicOfLayout(0)) << "the pictures interleave four channels";
  std::ifstream data(CompanionDataName(clip), std::ios::binary);
  for (uint32_t k = 0; k < trailer.count; ++k) {
    const RecoverableEntry &want = s.survey.recoverable[k];
    IndexEntry got;
    ASSERT_TRUE(reader.ReadEntry(k, got));
    ASSERT_EQ(got, want.entry) << k;
    std::vector<uint8_t> bytes(got.size);
    data.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(got.size));
    ASSERT_EQ(bytes, test::ReadBytes(s.made.path, s.made.geometry.dataBase + got.offset, got.size))
        << "entry " << want.number;
  }

  // The manifest says what it is, and its files check.
  const nlohmann::json m = ReadJson(ManifestPathOf(clip));
  EXPECT_TRUE(m["recovered"].get<bool>());
  ASSERT_EQ(m["recoveredSpans"].size(), 2u);
  EXPECT_EQ(m["recoveredSpans"][0]["origin"], "held back");
  EXPECT_EQ(m["recoveredSpans"][1]["origin"], "stale");
  EXPECT_EQ(m["recoveredSpans"][1]["entries"].get<int64_t>(), s.made.summary.staleIntact);
  std::vector<VerifiedFile> verified;
  std::string error;
  ASSERT_TRUE(VerifyManifest(ManifestPathOf(clip), verified, &error)) << error;
  for (const VerifiedFile &v : verified) EXPECT_TRUE(v.ok) << v.name << " " << v.problem;
  EXPECT_TRUE(fs::exists(FramesTablePathOf(clip)));
}

TEST(Recovery, MediaFilesPerSpanAndChannelStartAtKeyPictures) {
  test::TempDir dir;
  Surveyed s{test::MakeDisk(dir, "prev.img", 8, 30), {}, {}};
  SurveyOf(s);
  RecoverOptions options;
  options.format = ExportFormat::kMatroska;
  const std::string out = dir.File("r.mkv");
  const RecoveryResult r = RecoverEntries(s.disk, s.survey, IdentifySource(s.disk), out, options);
  ASSERT_TRUE(r.ok) << r.error;
  // The held-back span is silent audio only: no picture, no file. The
  // stale span gives one file per channel.
  ASSERT_EQ(r.spans.size(), 2u);
  EXPECT_TRUE(r.spans[0].files.empty());
  ASSERT_EQ(r.spans[1].files.size(), 4u);
  for (int c = 0; c < 4; ++c) {
    const std::string path = ChannelFilePath(SpanFilePath(out, r.spans[1].number), c);
    const test::ReadMedia media = test::ReadMediaFile(path);
    ASSERT_TRUE(media.ok) << path;
    const test::ReadStream *video = media.Of(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    ASSERT_FALSE(video->packets.empty());
    EXPECT_TRUE(video->packets.front().key) << "a file starts at a key picture";
    // Its pictures are the channel's intact stale pictures from its first
    // key picture on, byte for byte.
    std::vector<std::vector<uint8_t>> want;
    bool started = false;
    for (const RecoverableEntry &e : s.survey.recoverable) {
      if (e.number < s.made.summary.indexCount || e.entry.channel != c ||
          e.entry.type == kTypeAudio)
        continue;
      started = started || IsKeyPicture(e.entry.type);
      if (started)
        want.push_back(
            test::ReadBytes(s.made.path, s.made.geometry.dataBase + e.entry.offset, e.entry.size));
    }
    ASSERT_EQ(video->packets.size(), want.size()) << "channel " << c + 1;
    for (size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(video->packets[i].data, want[i]) << "channel " << c + 1 << " picture " << i;
  }
  std::vector<VerifiedFile> verified;
  std::string error;
  ASSERT_TRUE(VerifyManifest(ManifestPathOf(out), verified, &error)) << error;
  EXPECT_EQ(verified.size(), 5u) << "four channels and the frames table";
}

TEST(Recovery, NothingRecoverableWritesNothing) {
  test::TempDir dir;
  Surveyed s{test::MakeDisk(dir, "plain.img", 5, 0), {}, {}};
  SurveyOf(s);
  RecoverOptions options;
  options.from = s.made.summary.firstTime;  // the held-back span lies after the live one
  options.to = s.made.summary.firstTime + 1;
  const RecoveryResult r =
      RecoverEntries(s.disk, s.survey, IdentifySource(s.disk), dir.File("none.in"), options);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
  EXPECT_FALSE(fs::exists(dir.File("none.in")));
  EXPECT_FALSE(fs::exists(dir.File("none.manifest.json")));
}

TEST(Carve, FindsTheKeyPicturesOfLostIndexSectorsAndNothingReferenced) {
  test::TempDir dir;
  tools::SampleOptions o;
  // The same recording twice, once with index sectors lost: the intact
  // one's index is the ground truth.
  const test::MadeDisk whole = test::MakeDisk(dir, "whole.img", 12, 0, o);
  o.loseIndexFirst = 10;
  o.loseIndexLast = 17;
  Surveyed s{test::MakeDisk(dir, "lost.img", 12, 0, o), {}, {}};
  SurveyOf(s);
  CarveOptions options;
  options.outputDir = dir.File("carved");
  const CarveResult r = CarveDisk(s.disk, s.survey, IdentifySource(s.disk), options);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.backwardReads, 0u);

  const auto index = test::ReadIndex(whole.path, whole.summary.entries);
  const uint64_t base = whole.geometry.dataBase;
  std::set<uint64_t> lostKeys;  // key records of the lost entries that nothing references now
  for (int64_t n = s.made.summary.lostFirstEntry; n <= s.made.summary.lostLastEntry; ++n) {
    const IndexEntry &e = index[size_t(n)];
    if (IsKeyPicture(e.type) &&
        !s.survey.referenced.Overlaps(base + e.offset, base + e.offset + e.size))
      lostKeys.insert(base + e.offset);
  }
  ASSERT_FALSE(lostKeys.empty());
  std::set<uint64_t> carved;
  for (const CarvedPicture &p : r.pictures) {
    carved.insert(p.offset);
    EXPECT_TRUE(lostKeys.count(p.offset)) << "picture at " << p.offset << " is no lost key record";
    EXPECT_FALSE(s.survey.referenced.Overlaps(p.offset, p.offset + p.size));
    EXPECT_EQ(p.width, 720);
    EXPECT_EQ(p.height, 480);
    EXPECT_TRUE(fs::exists(p.file));
    // The carved bytes start with the record as the recorder wrote it.
    for (int64_t n = s.made.summary.lostFirstEntry; n <= s.made.summary.lostLastEntry; ++n) {
      const IndexEntry &e = index[size_t(n)];
      if (base + e.offset != p.offset) continue;
      const auto record = test::ReadBytes(whole.path, p.offset, e.size);
      const auto got = test::ReadBytes(s.made.path, p.offset, p.size);
      ASSERT_GE(got.size(), record.size());
      EXPECT_TRUE(std::equal(record.begin(), record.end(), got.begin()));
      EXPECT_LE(p.timeBefore, e.time);
      EXPECT_GE(p.timeAfter, e.time);
    }
  }
  EXPECT_EQ(carved, lostKeys);

  const nlohmann::json m = ReadJson(r.manifestPath);
  ASSERT_EQ(m["pictures"].size(), r.pictures.size());
  for (const auto &p : m["pictures"])
    for (const char *key : {"offset", "size", "kind", "sha256", "timeBefore", "timeAfter"})
      EXPECT_TRUE(p.contains(key)) << key;

  // The intact disk has no unreferenced pictures.
  Surveyed w{whole, {}, {}};
  SurveyOf(w);
  CarveOptions none;
  const CarveResult nothing = CarveDisk(w.disk, w.survey, IdentifySource(w.disk), none);
  ASSERT_TRUE(nothing.ok) << nothing.error;
  EXPECT_TRUE(nothing.pictures.empty());
}

}  // namespace
