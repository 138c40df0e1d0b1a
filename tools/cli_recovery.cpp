#include "tools/cli_recovery.h"

#include <unistd.h>

#include <cstdio>

#include "platform/wintime.h"
#include "tools/exit_codes.h"

namespace orvan::tools {

using namespace orvan::recorder;

int OpenRecorderDisk(const SourceArg &source, OpenedDisk &disk) {
  ResolvedSource where;
  std::string error;
  if (!ResolveSource(source, "DISK", where, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitError;
  }
  disk.path = where.path;
  if (disk.source.OpenPath(where.path) != DriveOpenStatus::Ok) {
    std::fprintf(stderr, "%s\n", disk.source.LastError().c_str());
    return kExitError;
  }
  const GeometryStatus status = ReadGeometry(disk.source, disk.geometry);
  if (status == GeometryStatus::NotRecorderDisk) {
    std::fprintf(stderr, "Not a recorder disk: %s\n", where.path.c_str());
    return kExitRejected;
  }
  if (status == GeometryStatus::NoValidState) {
    std::fprintf(stderr, "%s\n", kStateErrorText);
    return kExitStateError;
  }
  disk.bytes = disk.source.SizeBytes();
  CheckImageLength(disk.source, disk.geometry, disk.damage);
  return 0;
}

ProgressLine::ProgressLine(std::string what)
    : m_what(std::move(what)),
      m_terminal(isatty(STDERR_FILENO) != 0),
      m_began(std::chrono::steady_clock::now()),
      m_last(m_began),
      m_phaseBegan(m_began) {}

ProgressLine::~ProgressLine() { Done(); }

void ProgressLine::Show(const std::string &phase, uint64_t done, uint64_t total) {
  if (!m_terminal) return;
  const auto now = std::chrono::steady_clock::now();
  if (phase != m_phase) {
    m_phase = phase;
    m_phaseBegan = now;
  }
  if (now - m_last < std::chrono::milliseconds(500) && done < total) return;
  m_last = now;
  const double seconds = std::chrono::duration<double>(now - m_phaseBegan).count();
  const double rate = seconds > 0 ? double(done) / seconds : 0;
  const double left = rate > 0 && total > done ? double(total - done) / rate : 0;
  std::fprintf(stderr, "\r%s: %s %3d%%, ETA %d:%02d   ", m_what.c_str(), phase.c_str(),
               total ? int(100.0 * double(done) / double(total)) : 100, int(left) / 60,
               int(left) % 60);
  m_shown = true;
}

void ProgressLine::Done() {
  if (!m_shown) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_began).count();
  std::fprintf(stderr, "\r%s: done in %.1f s                         \n", m_what.c_str(), seconds);
  m_shown = false;
}

DiskSurvey RunSurveyWithProgress(OpenedDisk &disk, bool keepRecoverable) {
  ProgressLine line("survey");
  SurveyOptions options;
  options.keepRecoverable = keepRecoverable;
  options.progress = [&line](const char *phase, uint64_t done, uint64_t total) {
    line.Show(phase, done, total);
  };
  DiskSurvey s = SurveyDisk(disk.source, disk.geometry, disk.bytes, options);
  line.Done();
  return s;
}

std::string FormatBytes(uint64_t bytes) {
  static const char *units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB"};
  double v = double(bytes);
  int u = 0;
  while (v >= 1024 && u < 5) v /= 1024, ++u;
  char text[48];
  if (u == 0)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(text, sizeof text, "%.1f %s", v, units[u]);
  return text;
}

namespace {

Json TimeJson(uint32_t t) { return t == 0 ? Json(nullptr) : Json(FormatRecorderTime(int64_t{t})); }

Json ChannelsJson(const std::array<SurveyChannel, 4> &channels, bool stale) {
  Json list = Json::array();
  for (int c = 0; c < 4; ++c) {
    const SurveyChannel &ch = channels[size_t(c)];
    if (ch.entries == 0) continue;
    Json j = {{"channel", c + 1},
              {"entries", ch.entries},
              {"pictures", ch.pictures},
              {"keyPictures", ch.keyPictures},
              {"audioBlocks", ch.audioBlocks}};
    if (stale) {
      j["intact"] = ch.intact;
      j["overwritten"] = ch.overwritten;
    }
    list.push_back(j);
  }
  return list;
}

}  // namespace

Json SpanJson(const SurveySpan &span, int number) {
  Json perChannel = Json::array();
  for (int c = 0; c < 4; ++c)
    if (span.channelEntries[size_t(c)])
      perChannel.push_back({{"channel", c + 1}, {"entries", span.channelEntries[size_t(c)]}});
  return {{"span", number},
          {"origin", OriginName(span.origin)},
          {"firstEntry", span.firstEntry},
          {"lastEntry", span.lastEntry},
          {"first", TimeJson(span.firstTime)},
          {"last", TimeJson(span.lastTime)},
          {"firstSeconds", span.firstTime},
          {"lastSeconds", span.lastTime},
          {"entries", span.entries},
          {"recoverable", span.intact},
          {"notRecoverable", span.overwritten},
          {"channels", perChannel}};
}

Json SurveyJson(const std::string &path, const DiskSurvey &s, const DamageReport &damage) {
  const DiskGeometry &g = s.geometry;
  Json invalidRuns = Json::array();
  for (const EntryRun &r : s.live.invalidRuns)
    invalidRuns.push_back({{"first", r.first}, {"last", r.last}, {"entries", r.Count()}});
  Json spans = Json::array();
  int number = 0;
  for (const SurveySpan &span : s.spans) spans.push_back(SpanJson(span, ++number));
  Json unreadable = Json::array();
  for (const LostIndexSector &l : s.unreadableIndex)
    unreadable.push_back(
        {{"byteOffset", l.byteOffset}, {"firstEntry", l.firstEntry}, {"lastEntry", l.lastEntry}});
  Json unreferenced = Json::array();
  size_t listed = 0;
  uint64_t runs = 0;
  if (s.diskBytes > g.dataBase)
    s.referenced.ForEachGap(g.dataBase, s.diskBytes, [&](uint64_t b, uint64_t e) {
      ++runs;
      if (listed++ < DiskSurvey::kMaxListed)
        unreferenced.push_back({{"offset", b}, {"bytes", e - b}});
    });
  Json j = {
      {"source", path},
      {"diskBytes", s.diskBytes},
      {"indexAreaMiB", g.indexAreaMiB},
      {"dataBase", g.dataBase},
      {"indexCount", g.indexCount},
      {"playEnd", g.playEnd},
      {"indexAreaEntries", s.indexAreaEntries},
      {"live",
       {{"entries", s.live.entries},
        {"invalid", s.live.invalid},
        {"first", TimeJson(s.live.span.first)},
        {"last", TimeJson(s.live.span.last)},
        {"channels", ChannelsJson(s.live.channels, false)},
        {"invalidRuns", invalidRuns}}},
      {"heldBack",
       {{"entries", s.heldBack.entries},
        {"valid", s.heldBack.valid},
        {"notAsTyped", s.heldBack.notAsTyped},
        {"first", TimeJson(s.heldBack.span.first)},
        {"last", TimeJson(s.heldBack.span.last)},
        {"channels", ChannelsJson(s.heldBack.channels, false)}}},
      {"stale",
       {{"entries", s.stale.entries},
        {"intact", s.stale.intact},
        {"overwritten", s.stale.overwritten},
        {"first", TimeJson(s.stale.first)},
        {"last", TimeJson(s.stale.last)},
        {"channels", ChannelsJson(s.stale.channels, true)},
        {"scannedTo", s.stale.scannedTo},
        {"endedBy", s.stale.endedByInvalidRun ? "4096 invalid entries" : "the index area's end"}}},
      {"spans", spans},
      {"unreadableIndex", {{"sectors", s.unreadableIndexSectors}, {"list", unreadable}}},
      {"unreadableRecords", s.unreadableRecords},
      {"skipped",
       {{"badType", s.skipped.badType},
        {"badChannel", s.skipped.badChannel},
        {"badSize", s.skipped.badSize},
        {"pastDisk", s.skipped.pastDisk},
        {"noTime", s.skipped.noTime},
        {"total", s.skipped.Total()}}},
      {"emptyEntries", s.emptyEntries},
      {"dataArea",
       {{"bytes", s.DataAreaBytes()},
        {"live", s.liveRecords.Bytes()},
        {"intactStale", s.intactRecords.Bytes()},
        {"overwrittenStale", s.overwrittenRecords.Bytes()},
        {"unreferenced", s.UnreferencedBytes()},
        {"unreferencedRuns", runs},
        {"unreferencedList", unreferenced}}},
      {"read",
       {{"indexBytes", s.indexBytesRead},
        {"dataBytes", s.dataBytesRead},
        {"backwardReads", s.backwardReads}}},
      {"complete", !s.gone && !s.stopped && s.unreadableIndexSectors == 0}};
  damage.AddTo(j);
  return j;
}

}  // namespace orvan::tools
