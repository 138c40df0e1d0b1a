#include "app/report/report_builder.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

extern "C" {
#include <libavutil/avutil.h>
}

#include "app/core/configuration.h"
#include "app/report/thumbnail.h"
#include "platform/disk_source.h"
#include "platform/ewf_image.h"
#include "platform/source_hash.h"
#include "recorder/export/export_manifest.h"
#include "recorder/export/span_reader.h"
#include "recorder/export/timing_analysis.h"
#include "recorder/layout/event_list.h"
#include "recorder/layout/index_search.h"

namespace orvan::app::report {
namespace {

using namespace orvan::recorder;

constexpr size_t kGapsListed = 20;
constexpr size_t kManifestLimitBytes = 16 << 20;

// A key picture the report shows: where it is, and what it is.
struct WantedPicture {
  int channel = 0;     // 0..3
  int64_t fromMs = 0;  // the first key picture at or after this time
  TextKey what = TextKey::Rep_first;
  int eventNumber = 0;
  bool found = false;
  IndexEntry entry;
  uint32_t seconds = 0;
};

// Per channel, what the first pass learns besides the timing survey.
struct ChannelKeys {
  int64_t keys = 0;
  bool first = false;
  IndexEntry firstEntry, lastEntry;
  int64_t lastKeyMs = -1;
};

// Reads the index from the first second to the last, passing every entry
// of channels 0..3 to `take`. False when the disk stopped answering.
bool ReadWholeIndex(ByteSource &source, const DiskGeometry &geometry, uint32_t first, uint32_t last,
                    const std::function<bool(const SpanEntry &)> &take,
                    std::vector<std::string> &warnings) {
  SpanReader reader(source, geometry, /*readRecords=*/false);
  reader.Start(first, int64_t{last} + 1);
  SpanReader::Step step;
  while ((step = reader.ReadSector(nullptr, take)) == SpanReader::Step::kMore) {
  }
  if (reader.IndexFailedAt() >= 0)
    warnings.push_back("the index cannot be read at entry " +
                       std::to_string(reader.IndexFailedAt()));
  return step != SpanReader::Step::kGone;
}

}  // namespace

std::string MachineName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

ExportSection ReadExport(const std::string &manifestPath) {
  ExportSection e;
  e.manifest = manifestPath;
  std::vector<VerifiedFile> files;
  std::string error;
  if (!VerifyManifest(manifestPath, files, &error)) {
    e.error = error;
    return e;
  }
  e.readable = true;
  // The span asked for; the file list came from the verification.
  std::error_code ec;
  if (std::filesystem::file_size(manifestPath, ec) <= kManifestLimitBytes && !ec) {
    std::ifstream in(manifestPath, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_object() && j.contains("span") && j["span"].is_object() &&
        j["span"].contains("asked") && j["span"]["asked"].is_object()) {
      const auto &asked = j["span"]["asked"];
      if (asked.contains("fromSeconds") && asked["fromSeconds"].is_number_unsigned())
        e.fromSeconds = asked["fromSeconds"].get<uint32_t>();
      if (asked.contains("toSeconds") && asked["toSeconds"].is_number_integer())
        e.toSeconds = asked["toSeconds"].get<int64_t>();
    }
  }
  for (const VerifiedFile &f : files)
    e.files.push_back({f.name, f.expectedBytes, f.expectedSha256, f.ok, f.problem});
  return e;
}

std::vector<ExportSection> ReadExports(const std::string &folder) {
  std::vector<std::string> manifests;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string suffix = ".manifest.json";
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      manifests.push_back(it->path().string());
  }
  std::sort(manifests.begin(), manifests.end());
  std::vector<ExportSection> exports;
  for (const std::string &m : manifests) exports.push_back(ReadExport(m));
  return exports;
}

bool BuildExamReport(const std::string &sourcePath, const BuildOptions &options, ExamReport &report,
                     std::string *error) {
  auto fail = [&](const std::string &why) {
    if (error) *error = why;
    return false;
  };
  report = ExamReport{};
  DiskSource source;
  if (source.OpenPath(sourcePath) != DriveOpenStatus::Ok) return fail(source.LastError());
  DiskGeometry &geometry = report.recorder.geometry;
  const GeometryStatus status = ReadGeometry(source, geometry);
  if (status == GeometryStatus::NotRecorderDisk) return fail("Not a recorder disk: " + sourcePath);
  if (status == GeometryStatus::NoValidState) return fail(kStateErrorText);

  CaseSection &c = report.caseInfo;
  c.caseNumber = options.caseNumber;
  c.examiner = options.examiner;
  c.createdUtc = UtcNow();
  c.program = "ORVAN Viewer " + ProgramVersionText();
  c.ffmpegVersion = av_version_info();
  c.libewfVersion = platform::LibewfVersion();
  c.machine = MachineName();

  const SourceIdentity identity = IdentifySource(source);
  EvidenceSection &ev = report.evidence;
  ev.path = identity.path.empty() ? sourcePath : identity.path;
  ev.kind = identity.kind;
  ev.segments = identity.segments;
  ev.model = identity.model;
  ev.serial = identity.serial;
  ev.sizeBytes = identity.sizeBytes;
  if (options.hash) {
    platform::HashOptions hashOptions;
    hashOptions.sha1 = !identity.storedSha1.empty();
    const uint64_t total = source.SizeBytes();
    if (options.hashProgress)
      hashOptions.progress = [&](uint64_t done) { options.hashProgress(done, total); };
    const platform::SourceHashes hashes = platform::HashSource(source, hashOptions);
    ev.hashed = true;
    ev.hashComplete = hashes.complete;
    ev.sha256 = hashes.sha256;
    ev.md5 = hashes.md5;
    if (!identity.storedMd5.empty())
      ev.stored.push_back({"MD5", identity.storedMd5, identity.storedMd5 == hashes.md5});
    if (!identity.storedSha1.empty())
      ev.stored.push_back({"SHA-1", identity.storedSha1, identity.storedSha1 == hashes.sha1});
    if (!hashes.complete)
      report.warnings.push_back("only " + std::to_string(hashes.bytes) + " of " +
                                std::to_string(total) + " bytes were hashed");
    if (hashes.unreadableSectors)
      report.warnings.push_back(std::to_string(hashes.unreadableSectors) +
                                " sectors cannot be read: hashed as zeros");
  } else {
    // Shown as stored, not compared: nothing was hashed.
    if (!identity.storedMd5.empty()) ev.stored.push_back({"MD5", identity.storedMd5, false});
    if (!identity.storedSha1.empty()) ev.stored.push_back({"SHA-1", identity.storedSha1, false});
  }

  // The recorded span: the first block's time and the last played entry's.
  uint32_t first = 0, last = 0;
  if (geometry.playEnd > 0 && ReadBlockTime(0, source, first) == BlockTimeRead::kRead)
    report.recorder.firstSeconds = first;
  if (geometry.playEnd > 0 && LastPlayedEntryTime(source, geometry, last))
    report.recorder.lastSeconds = last;

  // The event table, as the event list shows it.
  CEventList events;
  events.LoadEvents(source);
  report.eventCount = events.EventCount();
  for (size_t i = 0; i < events.Rows().size(); ++i) {
    report.events.push_back(events.Rows()[i]);
    report.eventKinds.push_back(i < events.Records().size() ? events.Records()[i].Kind() : 0);
  }
  if (events.Rows().size() < events.EventCount())
    report.warnings.push_back("only " + std::to_string(events.Rows().size()) + " of " +
                              std::to_string(events.EventCount()) + " events could be read");

  // Pass one: the timing survey, and each channel's first and last key
  // picture.
  TimingAnalysis timing;
  std::array<ChannelKeys, 4> keys{};
  std::array<int64_t, 4> middleKey{};
  std::vector<WantedPicture> wanted;
  const bool recorded = report.recorder.firstSeconds && report.recorder.lastSeconds &&
                        last >= first && geometry.playEnd > 0;
  if (recorded) {
    auto survey = [&](const SpanEntry &s) {
      if (s.entry.type == kTypeAudio || !IsKnownRecordType(s.entry.type)) return true;
      timing.Survey(s.entry, s.timeMs);
      if (IsKeyPicture(s.entry.type)) {
        ChannelKeys &k = keys[s.entry.channel & 3];
        if (!k.first) k.firstEntry = s.entry;
        k.first = true;
        k.lastEntry = s.entry;
        k.lastKeyMs = s.timeMs;
        ++k.keys;
      }
      return true;
    };
    if (!ReadWholeIndex(source, geometry, first, last, survey, report.warnings))
      report.warnings.push_back("the disk stopped answering");
    timing.EndSurvey();

    for (int ch = 0; ch < 4; ++ch) middleKey[size_t(ch)] = keys[size_t(ch)].keys / 2;
    // The events' pictures: the event's channel at its time.
    const auto &records = events.Records();
    for (size_t i = 0; i < records.size() && wanted.size() < options.maxEventPictures; ++i) {
      int ch = records[i].channel - 1;
      if (ch < 0 || ch > 3 || !keys[size_t(ch)].first) {
        ch = -1;
        for (int k = 0; k < 4 && ch < 0; ++k)
          if (keys[size_t(k)].first) ch = k;
      }
      if (ch < 0) break;
      WantedPicture w;
      w.channel = ch;
      w.fromMs = int64_t{events.Times()[i]} * 1000;
      w.what = TextKey::Rep_event_at;
      w.eventNumber = int(i + 1);
      if (i < events.Rows().size()) w.eventNumber = std::atoi(events.Rows()[i][0].c_str());
      wanted.push_back(w);
    }

    // Pass two: gaps, backward steps, the middle key pictures and the
    // events' key pictures.
    std::array<int64_t, 4> keysSeen{};
    std::array<IndexEntry, 4> middle{};
    std::array<bool, 4> middleFound{};
    auto rows = [&](const SpanEntry &s) {
      if (s.entry.type == kTypeAudio || !IsKnownRecordType(s.entry.type)) return true;
      timing.Row(s.number, s.entry, s.timeMs, std::nullopt);
      if (IsKeyPicture(s.entry.type)) {
        const int ch = s.entry.channel & 3;
        if (keysSeen[size_t(ch)]++ == middleKey[size_t(ch)] && !middleFound[size_t(ch)]) {
          middle[size_t(ch)] = s.entry;
          middleFound[size_t(ch)] = true;
        }
        for (WantedPicture &w : wanted)
          if (!w.found && w.channel == ch && s.timeMs >= w.fromMs) {
            w.found = true;
            w.entry = s.entry;
          }
      }
      return true;
    };
    ReadWholeIndex(source, geometry, first, last, rows, report.warnings);
    timing.Finish();

    std::vector<WantedPicture> shown;
    for (int ch = 0; ch < 4; ++ch) {
      const ChannelKeys &k = keys[size_t(ch)];
      if (!k.first) continue;
      shown.push_back({ch, 0, TextKey::Rep_first, 0, true, k.firstEntry, 0});
      if (middleFound[size_t(ch)])
        shown.push_back({ch, 0, TextKey::Rep_middle, 0, true, middle[size_t(ch)], 0});
      shown.push_back({ch, 0, TextKey::Rep_last, 0, true, k.lastEntry, 0});
    }
    shown.insert(shown.end(), wanted.begin(), wanted.end());
    for (const WantedPicture &w : shown) {
      if (!w.found) continue;
      Thumbnail t;
      t.channel = w.channel + 1;
      t.recorderSeconds = w.entry.time;
      t.what = w.what;
      t.eventNumber = w.eventNumber;
      const QImage picture = DecodeKeyPicture(source, geometry, w.entry);
      t.jpeg = ThumbnailJpeg(picture);
      ChannelSection &cs = report.recorder.channels[size_t(w.channel)];
      if (w.what == TextKey::Rep_first && !picture.isNull()) {
        cs.width = picture.width();
        cs.height = picture.height();
      }
      report.pictures.push_back(std::move(t));
    }
  }

  for (int ch = 0; ch < 4; ++ch) {
    ChannelSection &cs = report.recorder.channels[size_t(ch)];
    const ChannelTiming &t = timing.Channel(ch);
    cs.channel = ch + 1;
    cs.pictures = t.pictures;
    cs.keyPictures = t.keyPictures;
    if (keys[size_t(ch)].first)
      cs.codec = IsMjpegRecord(keys[size_t(ch)].firstEntry.type) ? "MJPEG" : "MPEG-4";
    cs.picturesPerSecond = t.picturesPerSecond;
    cs.gapThresholdMs = t.gapThresholdMs;
    cs.gapCount = t.gapCount;
    for (size_t g = 0; g < t.gaps.size() && g < kGapsListed; ++g)
      cs.gapsMs.emplace_back(t.gaps[g].fromMs, t.gaps[g].toMs);
  }

  if (!options.exportsDir.empty()) {
    report.exportsAsked = true;
    report.exports = ReadExports(options.exportsDir);
  }
  return true;
}

BeyondIndexSection BeyondIndexOf(const recorder::DiskSurvey &s, int64_t carvedPictures) {
  BeyondIndexSection b;
  b.filled = true;
  b.heldBackEntries = s.heldBack.entries;
  if (!s.heldBack.span.Empty()) b.heldBackSpan = {s.heldBack.span.first, s.heldBack.span.last};
  b.staleEntries = s.stale.entries;
  b.staleIntact = s.stale.intact;
  b.staleOverwritten = s.stale.overwritten;
  if (s.stale.entries > 0) b.staleFirstLast = {s.stale.first, s.stale.last};
  for (const recorder::SurveySpan &span : s.spans)
    if (span.origin == recorder::SurveySpan::Origin::kStale)
      b.staleSpans.push_back({span.firstTime, span.lastTime});
  b.unreferencedBytes = s.UnreferencedBytes();
  b.unreferencedPictures = carvedPictures;
  b.unreadableIndexSectors = int64_t(s.unreadableIndexSectors);
  return b;
}

}  // namespace orvan::app::report
