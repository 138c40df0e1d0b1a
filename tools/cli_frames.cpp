// "orvan-cli frames DISK --from WHEN --to WHEN": the table of every index
// entry of a span (recorder/export/frames_table.h), as CSV or JSON, with the timing
// analysis of each channel's pictures in the JSON. The span is read as a
// Matroska or MP4 export of it would be (from each channel's key picture at
// or before the start), so the table says where such an export puts each
// entry. Rows are written as they are read: memory stays the same for a
// minute or a day.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "platform/wintime.h"
#include "recorder/export/export_manifest.h"
#include "recorder/export/frames_table.h"
#include "recorder/export/media_export.h"
#include "recorder/export/span_plan.h"
#include "recorder/layout/disk_layout.h"
#include "tools/cli_commands.h"
#include "tools/cli_report.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {
namespace {

using namespace orvan::recorder;

struct FramesOptions {
  SourceArg source;
  CommonSwitches switches;
  std::optional<uint32_t> from, to;
  std::vector<int> channels;  // 1..4; all when empty
  bool csv = false;
  bool noHash = false;
  std::string output;  // empty: stdout
};

int Fail(int code, const std::string &message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return code;
}

// Where the rows go: a guarded output file, or stdout.
class TableOutput {
 public:
  bool Open(const std::string &path, platform::ReplacePolicy policy) {
    if (path.empty()) return true;
    m_toFile = true;
    return m_file.Create(path, policy);
  }
  bool Write(const char *data, size_t length) {
    if (m_toFile) return m_file.Write(data, length);
    return std::fwrite(data, 1, length, stdout) == length;
  }
  bool Commit() {
    if (m_toFile) return m_file.Commit();
    return std::fflush(stdout) == 0;
  }
  void Abandon() { m_file.Abandon(); }
  std::string Error() const { return m_toFile ? m_file.Error() : "cannot write the table"; }

 private:
  bool m_toFile = false;
  platform::OutputFile m_file;
};

int RunFrames(const CommandLine &cli, const FramesOptions &o) {
  ResolvedSource where;
  std::string error;
  if (!ResolveSource(o.source, "DISK", where, error)) return Fail(kExitError, error);
  if (!o.from || !o.to) return cli.UsageFailure("frames needs --from and --to");
  if (o.csv && o.switches.json) return cli.UsageFailure("--csv and --json exclude each other");
  unsigned mask = 0;
  for (const int c : o.channels) mask |= 1u << (c - 1);
  if (!mask) mask = 0xF;

  DiskSource disk;
  if (disk.OpenPath(where.path) != DriveOpenStatus::Ok) return Fail(kExitError, disk.LastError());
  DiskGeometry geometry;
  const GeometryStatus status = ReadGeometry(disk, geometry);
  if (status == GeometryStatus::NotRecorderDisk)
    return Fail(kExitRejected, "Not a recorder disk: " + where.path);
  if (status == GeometryStatus::NoValidState) return Fail(kExitStateError, kStateErrorText);
  DamageReport damage;
  CheckImageLength(disk, geometry, damage);
  if (int64_t{*o.to} < int64_t{*o.from}) return Fail(kExitError, "--to is before --from");

  // First pass, the index alone: where each channel starts, and the
  // medians the gaps are measured against.
  SpanPlan plan = PlanSpan(disk, geometry, *o.from, *o.to, mask, nullptr);
  // Pictures of the asked span itself, not only of the lead-in before it.
  bool pictures = false;
  for (int c = 0; c < 4; ++c)
    pictures = pictures || ((mask & (1u << c)) && plan.channels[size_t(c)].firstAskedMs >= 0);
  if (!pictures) {
    damage.Finish(kExitRejected, false);
    return Fail(kExitRejected, "No pictures were recorded in the chosen span");
  }

  TableOutput out;
  if (!out.Open(o.output, o.switches.Policy())) return Fail(kExitError, out.Error());
  const FramesTable::Format format =
      o.switches.json ? FramesTable::Format::kJson : FramesTable::Format::kCsv;
  BackgroundFramesTable table(
      format, [&out](const char *data, size_t length) { return out.Write(data, length); }, geometry,
      !o.noHash, &plan.timing);
  Json head = {{"source", where.path},
               {"from", FormatRecorderTime(int64_t{*o.from})},
               {"to", FormatRecorderTime(int64_t{*o.to})},
               {"firstEntry", plan.firstEntry},
               {"hashes", !o.noHash}};
  std::string headText = JsonLine(head);
  headText = headText.substr(1, headText.size() - 2);  // the members, without braces
  if (!table.Begin(format == FramesTable::Format::kJson ? headText : std::string())) {
    out.Abandon();
    return Fail(kExitError, out.Error());
  }

  // Second pass: the rows, placed as a media export places them.
  SpanReader reader(disk, geometry);
  reader.SetLeadIn(mask);
  reader.OfferUnreadable(true);
  reader.Start(*o.from, *o.to);
  std::vector<ChannelTimeline> lines;
  for (int c = 0; c < 4; ++c) lines.emplace_back(plan.channels[size_t(c)], *o.from);
  int64_t lastPictureMs = -1;
  const bool progress = !o.output.empty() && isatty(STDERR_FILENO);
  auto lastProgress = std::chrono::steady_clock::now();
  const int64_t span = std::max<int64_t>(1, geometry.playEnd - plan.firstEntry);
  auto take = [&](const SpanEntry &s) {
    const int c = s.entry.channel & 3;
    const bool picture = IsKnownRecordType(s.entry.type) && s.entry.type != kTypeAudio;
    Placement p{Placement::Kind::kNotExported, -1};
    if (mask & (1u << c)) {
      if (s.entry.type == kTypeAudio)
        p = lines[size_t(c)].Audio(s, lastPictureMs);
      else if (picture)
        p = lines[size_t(c)].Picture(s);
      else
        p = {s.unreadable ? Placement::Kind::kUnreadable : Placement::Kind::kCorrupt, -1};
    }
    if (picture) lastPictureMs = s.timeMs;
    return table.Row(s, p);
  };
  SpanReader::Step step;
  while ((step = reader.ReadSector(nullptr, take)) == SpanReader::Step::kMore) {
    if (progress && std::chrono::steady_clock::now() - lastProgress > std::chrono::seconds(1)) {
      lastProgress = std::chrono::steady_clock::now();
      std::fprintf(stderr, "\rframes: %lld rows, index %lld%%",
                   static_cast<long long>(table.Rows()),
                   static_cast<long long>((reader.Next() - plan.firstEntry) * 100 / span));
    }
  }
  if (progress)
    std::fprintf(stderr, "\rframes: %lld rows, done          \n",
                 static_cast<long long>(table.Rows()));
  if (step == SpanReader::Step::kStopped) {
    out.Abandon();
    return Fail(kExitError, out.Error());
  }
  // Every row digested: the counts and the timing analysis are whole.
  if (!table.Drain()) {
    out.Abandon();
    return Fail(kExitError, out.Error());
  }
  plan.timing.Finish();
  damage.readErrors += reader.ReadErrors();
  damage.skippedRecords += reader.SkippedRecords();
  if (reader.IndexFailedAt() >= 0)
    damage.Warn("the index cannot be read at entry " + std::to_string(reader.IndexFailedAt()) +
                ": the table ends there");
  if (table.CorruptRows())
    damage.Warn(std::to_string(table.CorruptRows()) +
                " records cannot be read or are not what their entry says (type \"corrupt\")");

  std::string tail;
  if (format == FramesTable::Format::kJson) {
    Json end = {{"rows", table.Rows()}, {"corrupt", table.CorruptRows()}};
    damage.AddTo(end);
    std::string text = JsonLine(end);
    tail =
        "\"timing\":" + TimingJsonText(plan.timing, mask) + "," + text.substr(1, text.size() - 2);
  }
  if (!table.End(tail) || !out.Commit()) {
    out.Abandon();
    return Fail(kExitError, out.Error());
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

}  // namespace

void AddFramesCommand(CommandLine &cli) {
  auto o = std::make_shared<FramesOptions>();
  Command &cmd = cli.AddCommand("frames", "the table of every index entry of a time range",
                                [o, &cli] { return RunFrames(cli, *o); });
  cmd.Source(o->source, "DISK", "a disk image or block device")
      .When("--from", o->from, "the first time of the range")
      .When("--to", o->to, "the end of the range (entries recorded before it)")
      .Numbers("--channel", o->channels, "N", "only channel N (repeatable; all by default)",
               "--channel needs a channel number, 1 to 4", 1, 4)
      .Flag("--csv", o->csv, "CSV (the default)")
      .Flag("--no-hash", o->noHash, "leave out the records' MD5 and SHA-256 (faster)")
      .Text("-o,--output", o->output, "FILE", "write the table to FILE instead of stdout");
  cmd.Common(o->switches);
  cmd.Footer(
      "One row per index entry, in recording order, from each channel's key picture at or\n"
      "before --from (as a Matroska or MP4 export starts):\n"
      "  " +
      std::string(FramesTable::kCsvHeader) +
      "\n"
      "seconds and time are the recorder time to the millisecond, as the players and the\n"
      "exports time the entry; exportSeconds is where an export of the range puts it;\n"
      "offset is the record's first byte on the disk. --json gives the rows as \"frames\"\n"
      "and each channel's timing analysis (pictures per second, key-picture interval,\n"
      "gaps, times going backwards, repeated pictures) as \"timing\".");
}

}  // namespace orvan::tools
