#include "recorder/export/export_manifest.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "platform/digest.h"
#include "platform/wintime.h"

#ifndef ORVAN_VERSION
#define ORVAN_VERSION "unknown"
#endif

namespace orvan::recorder {

namespace {

using Json = nlohmann::ordered_json;

constexpr uint64_t kManifestLimitBytes = 16 << 20;

// "yyyy/mm/dd_hh:nn:ss.mmm" of recorder milliseconds.
std::string RecorderTimeMs(int64_t ms) {
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", int(ms % 1000));
  return FormatRecorderTime(ms / 1000) + fraction;
}

std::string FileName(const std::string &path) {
  return std::filesystem::path(path).filename().string();
}

Json SpreadJson(const ValueSpread &v) {
  if (v.count == 0) return nullptr;
  return {{"median", v.median}, {"min", v.min}, {"max", v.max}, {"count", v.count}};
}

Json TimeJson(const char *name, int64_t ms) {
  return {{name, RecorderTimeMs(ms)}, {std::string(name) + "Ms", ms}};
}

Json ChannelTimingJson(int channel, const ChannelTiming &t) {
  Json j;
  j["channel"] = channel + 1;
  j["pictures"] = t.pictures;
  j["keyPictures"] = t.keyPictures;
  j["picturesPerSecond"] = SpreadJson(t.picturesPerSecond);
  j["intervalMs"] = SpreadJson(t.intervalMs);
  j["keyPictureInterval"] = {{"pictures", SpreadJson(t.keyIntervalPictures)},
                             {"ms", SpreadJson(t.keyIntervalMs)}};
  j["gapThresholdMs"] = t.gapThresholdMs;
  Json gaps = Json::array();
  for (const TimingGap &g : t.gaps) {
    Json item = {{"afterEntry", g.afterEntry}, {"entry", g.entry}};
    item.update(TimeJson("from", g.fromMs));
    item.update(TimeJson("to", g.toMs));
    item["ms"] = g.toMs - g.fromMs;
    gaps.push_back(item);
  }
  j["gaps"] = gaps;
  j["gapCount"] = t.gapCount;
  Json back = Json::array();
  for (const TimingStep &b : t.backwards) {
    Json item = {{"entry", b.entry}};
    item.update(TimeJson("from", b.fromMs));
    item.update(TimeJson("to", b.toMs));
    back.push_back(item);
  }
  j["backwards"] = back;
  j["backwardCount"] = t.backwardCount;
  if (t.repeatsKnown) {
    Json runs = Json::array();
    for (const RepeatRun &r : t.repeats) {
      Json item = {
          {"firstEntry", r.firstEntry}, {"lastEntry", r.lastEntry}, {"pictures", r.pictures}};
      item.update(TimeJson("from", r.fromMs));
      item.update(TimeJson("to", r.toMs));
      runs.push_back(item);
    }
    j["repeats"] = runs;
    j["repeatRunCount"] = t.repeatRunCount;
    j["repeatedPictures"] = t.repeatedPictures;
  } else {
    j["repeats"] = nullptr;  // the pictures' bytes were not compared
  }
  return j;
}

Json ChannelJson(int channel, const ChannelSummary &c) {
  Json j;
  j["channel"] = channel + 1;
  j["pictures"] = c.pictures;
  j["keyPictures"] = c.keyPictures;
  j["audioBlocks"] = c.audioBlocks;
  if (c.firstMs >= 0) {
    j["first"] = RecorderTimeMs(c.firstMs);
    j["last"] = RecorderTimeMs(c.lastMs);
    j["firstMs"] = c.firstMs;
    j["lastMs"] = c.lastMs;
  }
  Json gaps = Json::array();
  for (const auto &[from, to] : c.gaps)
    gaps.push_back({{"from", RecorderTimeMs(from)},
                    {"to", RecorderTimeMs(to)},
                    {"fromMs", from},
                    {"toMs", to},
                    {"seconds", double(to - from) / 1000.0}});
  j["gaps"] = gaps;
  if (c.firstAskedMs >= 0) {
    j["firstAsked"] = RecorderTimeMs(c.firstAskedMs);
    j["firstAskedMs"] = c.firstAskedMs;
    j["leadInPictures"] = c.leadInPictures;
  }
  j["leftOutBeforeFirstKeyPicture"] = c.beforeFirstKey;
  j["corruptRecords"] = c.corrupt;
  if (c.audioBlocks > 0 || !c.audioGaps.empty()) {
    Json gaps = Json::array();
    for (const auto &g : c.audioGaps) {
      Json item = TimeJson("from", g.fromMs);
      item.update(TimeJson("to", g.toMs));
      item["seconds"] = double(g.toMs - g.fromMs) / 1000.0;
      gaps.push_back(item);
    }
    j["audioGaps"] = gaps;
    Json ahead = Json::array();
    for (const auto &a : c.audioAhead) {
      Json item = TimeJson("at", a.atMs);
      item["byMs"] = a.byMs;
      ahead.push_back(item);
    }
    j["audioAhead"] = ahead;
  }
  return j;
}

}  // namespace

Json LostJson(const LossLog &losses) {
  Json list = Json::array();
  for (const LostPart &p : losses.Parts()) {
    Json item = {{"what", LostWhatName(p.what)}};
    switch (p.what) {
      case LostPart::What::kIndex:
        item["fromEntry"] = p.firstEntry;
        item["toEntry"] = p.lastEntry;
        break;
      case LostPart::What::kEvents:  // records counted from 1, as the list shows them
        item["fromEvent"] = p.firstEntry + 1;
        item["toEvent"] = p.lastEntry + 1;
        break;
      case LostPart::What::kRecord:
      case LostPart::What::kBlockTime:
        item["entry"] = p.firstEntry;
        break;
      case LostPart::What::kSectors:
        break;
    }
    item["byteOffset"] = p.byteOffset;
    item["bytes"] = p.bytes;
    list.push_back(std::move(item));
  }
  return list;
}

nlohmann::ordered_json RecoveredSpanJson(const RecoveredSpanRecord &r) {
  return {{"span", r.number},
          {"origin", r.origin},
          {"firstEntry", r.firstEntry},
          {"lastEntry", r.lastEntry},
          {"from", FormatRecorderTime(int64_t{r.firstSeconds})},
          {"to", FormatRecorderTime(int64_t{r.lastSeconds})},
          {"fromSeconds", r.firstSeconds},
          {"toSeconds", r.lastSeconds},
          {"entries", r.entries},
          {"files", r.files}};
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string TimingJsonText(const TimingAnalysis &timing, unsigned channelMask) {
  Json list = Json::array();
  for (int c = 0; c < 4; ++c)
    if ((channelMask & (1u << c)) && timing.Channel(c).pictures > 0)
      list.push_back(ChannelTimingJson(c, timing.Channel(c)));
  return list.dump();
}

std::string ManifestJson(const ExportManifest &m) {
  Json j;
  j["program"] = {{"name", "ORVAN Viewer"}, {"version", ORVAN_VERSION}};
  j["created"] = m.createdUtc;
  Json source = {
      {"path", m.source.path}, {"kind", m.source.kind}, {"sizeBytes", m.source.sizeBytes}};
  if (!m.source.model.empty()) source["model"] = m.source.model;
  if (!m.source.serial.empty()) source["serial"] = m.source.serial;
  if (!m.source.segments.empty()) source["segments"] = m.source.segments;
  if (!m.source.storedMd5.empty()) source["storedMd5"] = m.source.storedMd5;
  if (!m.source.storedSha1.empty()) source["storedSha1"] = m.source.storedSha1;
  j["source"] = source;
  j["recorder"] = {
      {"indexAreaMiB", m.geometry.indexAreaMiB},
      {"dataBase", m.geometry.dataBase},
      {"indexCount", m.geometry.indexCount},
      {"playEnd", m.geometry.playEnd},
      {"layout", m.layout == 1 ? "one channel (four-way picture)" : "channels interleave"}};
  j["format"] = ExportFormatName(m.format);
  if (m.recovered) {
    j["recovered"] = true;
    Json spans = Json::array();
    for (const RecoveredSpanRecord &r : m.recoveredSpans) spans.push_back(RecoveredSpanJson(r));
    j["recoveredSpans"] = spans;
  }

  int64_t firstMs = -1, lastMs = -1;
  for (const ChannelSummary &c : m.channels) {
    if (c.firstMs < 0) continue;
    if (firstMs < 0 || c.firstMs < firstMs) firstMs = c.firstMs;
    lastMs = std::max(lastMs, c.lastMs);
  }
  Json span;
  span["asked"] = {{"from", FormatRecorderTime(int64_t{m.askedFromSeconds})},
                   {"to", FormatRecorderTime(m.askedToSeconds)},
                   {"fromSeconds", m.askedFromSeconds},
                   {"toSeconds", m.askedToSeconds}};
  if (firstMs >= 0)
    span["written"] = {{"from", RecorderTimeMs(firstMs)},
                       {"to", RecorderTimeMs(lastMs)},
                       {"fromMs", firstMs},
                       {"toMs", lastMs}};
  span["firstEntryRead"] = m.startEntry;
  span["stoppedBeforeTheEnd"] = m.stopped;
  j["span"] = span;
  j["complete"] = m.complete;
  j["diskStoppedAnswering"] = m.diskGone;

  Json channels = Json::array();
  for (int c = 0; c < 4; ++c) {
    const ChannelSummary &s = m.channels[size_t(c)];
    if (s.Empty() && !s.corrupt && !s.beforeFirstKey) continue;
    Json channel = ChannelJson(c, s);
    if (m.timing[size_t(c)].pictures > 0)
      channel["timing"] = ChannelTimingJson(c, m.timing[size_t(c)]);
    channels.push_back(channel);
  }
  j["channels"] = channels;
  j["skippedRecords"] = m.skippedRecords;
  j["readErrors"] = m.readErrors;
  j["lost"] = LostJson(m.losses);
  if (m.losses.NotListed()) j["lostNotListed"] = m.losses.NotListed();
  j["notes"] = m.notes;
  Json files = Json::array();
  for (const ExportedFile &f : m.files)
    files.push_back({{"name", FileName(f.path)},
                     {"role", f.role},
                     {"sizeBytes", f.sizeBytes},
                     {"sha256", f.sha256}});
  j["files"] = files;
  return j.dump(2) + "\n";
}

bool WriteManifest(const std::string &path, const ExportManifest &manifest,
                   platform::ReplacePolicy policy, std::string *error,
                   platform::FolderSyncs *later) {
  const std::string text = ManifestJson(manifest);
  platform::OutputFile file;
  const bool ok =
      file.Create(path, policy) && file.Write(text.data(), text.size()) && file.Commit(later);
  if (!ok && error) *error = file.Error();
  return ok;
}

bool VerifyManifest(const std::string &manifestPath, std::vector<VerifiedFile> &results,
                    std::string *error) {
  results.clear();
  auto fail = [&](const std::string &why) {
    if (error) *error = why;
    return false;
  };
  std::error_code ec;
  const auto status = std::filesystem::status(manifestPath, ec);
  if (status.type() == std::filesystem::file_type::not_found)
    return fail("cannot read " + manifestPath + ": no such file");
  if (ec || !std::filesystem::is_regular_file(status))
    return fail("cannot read " + manifestPath + ": it is not a file");
  if (std::filesystem::file_size(manifestPath, ec) > kManifestLimitBytes || ec)
    return fail(manifestPath + " is too large to be a manifest");
  std::ifstream in(manifestPath, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  if (!in.good() && !in.eof()) return fail("cannot read " + manifestPath);
  const Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded() || !j.is_object() || !j.contains("files") || !j["files"].is_array())
    return fail(manifestPath + " is not an export manifest");
  const std::filesystem::path folder = std::filesystem::path(manifestPath).parent_path();
  for (const Json &f : j["files"]) {
    if (!f.is_object() || !f.contains("name") || !f["name"].is_string() ||
        !f.contains("sizeBytes") || !f["sizeBytes"].is_number_unsigned() || !f.contains("sha256") ||
        !f["sha256"].is_string())
      return fail(manifestPath + " lists a file without its name, length or SHA-256");
    VerifiedFile v;
    v.name = f["name"].get<std::string>();
    if (v.name.empty() || v.name == "." || v.name == ".." || v.name.find('/') != std::string::npos)
      return fail(manifestPath + " lists a file outside its folder: " + v.name);
    v.expectedBytes = f["sizeBytes"].get<uint64_t>();
    v.expectedSha256 = f["sha256"].get<std::string>();
    platform::Sha256Digest digest{};
    std::string why;
    if (!platform::FileSha256((folder / v.name).string(), digest, v.actualBytes, &why)) {
      v.problem = why;
    } else {
      v.actualSha256 = platform::HexOf(digest);
      if (v.actualBytes != v.expectedBytes)
        v.problem = "size";
      else if (v.actualSha256 != v.expectedSha256)
        v.problem = "hash";
      else
        v.ok = true;
    }
    results.push_back(v);
  }
  if (results.empty()) return fail(manifestPath + " lists no files");
  return true;
}

}  // namespace orvan::recorder
