// orvan-cli: batch and forensic work on recorder disks and clips.
//
// Every command reads its disk read-only. Text goes to stdout (JSON with
// --json); errors go to stderr with a non-zero exit code
// (tools/exit_codes.h). What a damaged source lost is said in one warning
// line on stderr and in the JSON ("warnings", "readErrors",
// "skippedRecords"). The commands are registered on the command line
// (tools/command_line.h): the disk and clip commands here, play, yuv,
// hash and verify in files of their own.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "platform/wintime.h"
#include "recorder/export/copy_hdd_thread.h"
#include "recorder/layout/clip_format.h"
#include "recorder/layout/disk_discovery.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/event_list.h"
#include "recorder/layout/index_search.h"
#include "recorder/layout/read_losses.h"
#include "tools/cli_commands.h"
#include "tools/cli_report.h"
#include "tools/command_line.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

using namespace orvan;
using namespace orvan::recorder;
using namespace orvan::tools;

namespace {

// What the disk and clip commands are given; each uses its part.
struct DiskOptions {
  SourceArg source;
  CommonSwitches switches;
  std::string when;                  // search
  std::optional<uint32_t> from, to;  // export
  std::string output;                // export
  std::vector<int> channels;         // export to .mkv/.mp4: 1..4, all when empty
  std::string clip;                  // clip
};

int Fail(int code, const std::string &message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return code;
}

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// The recorder disk a command reads. Each step reports its failure the way
// every command does and returns the exit code (kExitOk: go on).
struct CommandDisk {
  ResolvedSource where;
  DiskSource source;
  DiskGeometry geometry;
  DamageReport damage;

  int Resolve(const SourceArg &arg) {
    std::string error;
    return ResolveSource(arg, "DISK", where, error) ? kExitOk : Fail(kExitError, error);
  }
  // Opens the resolved disk, reads its geometry and checks its length.
  int Open(bool needState) {
    if (source.OpenPath(where.path) != DriveOpenStatus::Ok)
      return Fail(kExitError, source.LastError());
    const GeometryStatus status = ReadGeometry(source, geometry);
    if (status == GeometryStatus::NotRecorderDisk)
      return Fail(kExitRejected, "Not a recorder disk: " + where.path);
    if (status == GeometryStatus::NoValidState && needState)
      return Fail(kExitStateError, kStateErrorText);
    CheckImageLength(source, geometry, damage);
    return kExitOk;
  }
  int ResolveAndOpen(const SourceArg &arg, bool needState) {
    const int code = Resolve(arg);
    return code != kExitOk ? code : Open(needState);
  }
};

// The event log's header and records, as far as they can be read.
void CheckEventLog(const EventLog &log, DamageReport &damage) {
  if (log.gone) damage.diskGone = true;
  if (!log.headerRead) {
    if (log.gone) return;
    ++damage.readErrors;
    damage.Warn("the event log cannot be read");
    return;
  }
  for (const EventLog::LostSector &lost : log.lost)
    damage.Lost(LostPart{LostPart::What::kEvents, lost.firstRecord, lost.lastRecord,
                         lost.byteOffset, kSectorBytes});
  const size_t wanted = std::min(log.header.eventCount, kMaxEventCount);
  if (log.records.size() < wanted) {
    if (log.lost.empty()) ++damage.readErrors;
    damage.Warn("only " + std::to_string(log.records.size()) + " of " + std::to_string(wanted) +
                " events could be read");
  }
}

// A block time for info; false, with what was lost and a warning ending in
// `consequence`, when it cannot be read.
bool InfoBlockTime(int64_t n, ByteSource &source, uint32_t &time, DamageReport &damage,
                   const std::string &consequence) {
  const BlockTimeRead read = ReadBlockTime(n, source, time);
  const int64_t block = n / kEntriesPerBlock * kEntriesPerBlock;
  switch (read) {
    case BlockTimeRead::kRead:
      return true;
    case BlockTimeRead::kGone:
      damage.diskGone = true;
      return false;
    case BlockTimeRead::kLost:
      damage.Lost(LostPart{LostPart::What::kBlockTime, block, block, IndexEntryPosition(block),
                           kSectorBytes});
      break;
    default:
      ++damage.readErrors;
      break;
  }
  damage.Warn("the index cannot be read at entry " + std::to_string(block) + ": " + consequence);
  return false;
}

// The first and the last entry played are entries the recorder writes (a
// read that fails is told by the block times already).
void CheckIndexEnds(ByteSource &source, const DiskGeometry &geometry, DamageReport &damage) {
  if (geometry.playEnd <= 0) return;
  for (const int64_t n : {int64_t{0}, geometry.playEnd - 1}) {
    IndexEntry entry;
    if (ReadIndexEntry(source, n, entry) && !IsPlausibleEntry(geometry, entry))
      damage.Warn("index entry " + std::to_string(n) + " is not a recorder entry (channel " +
                  std::to_string(entry.channel) + ", type " + std::to_string(entry.type) +
                  "): the index is damaged");
    if (geometry.playEnd == 1) break;
  }
}

int Drives(const DiskOptions &o) {
  const DriveTable table(o.source.images);
  Json list = Json::array();
  for (const DriveInfo &d : table.Drives()) {
    DriveOpenStatus status;
    std::string message;
    const bool recorder = ProbeRecorderDisk(d.number, table, status, &message);
    if (status != DriveOpenStatus::Ok && status != DriveOpenStatus::NoSuchDrive)
      std::fprintf(stderr, "%s\n", message.c_str());
    // A FIFO, a folder or a character device is no drive: said, not listed.
    if (status == DriveOpenStatus::NotADisk) continue;
    if (o.switches.json) {
      list.push_back({{"drive", d.number},
                      {"name", DeviceItemName(d.number)},
                      {"path", d.path},
                      {"recorder", recorder}});
    } else {
      std::printf(
          "%-10s %-30s %s\n", DeviceItemName(d.number).c_str(), d.path.c_str(),
          recorder ? "recorder disk" : (status == DriveOpenStatus::Ok ? "-" : "cannot open"));
    }
  }
  if (o.switches.json) PrintJson(list);
  return kExitOk;
}

int Info(const DiskOptions &o) {
  CommandDisk disk;
  if (int rc = disk.ResolveAndOpen(o.source, true)) return rc;
  DiskSource &source = disk.source;
  const DiskGeometry &g = disk.geometry;
  DamageReport &damage = disk.damage;
  uint32_t start = 0, end = 0;
  InfoBlockTime(0, source, start, damage, "the start time is unknown");
  const int64_t endBlock = g.playEnd / kEntriesPerBlock * kEntriesPerBlock;
  if (endBlock == 0)
    end = start;  // the same block, read already
  else if (!damage.diskGone)
    InfoBlockTime(g.playEnd, source, end, damage, "the end time is unknown");
  CheckIndexEnds(source, g, damage);
  const EventLog log = ReadEventLog(source);
  CheckEventLog(log, damage);
  const uint32_t eventCount = log.headerRead ? log.header.eventCount : 0;
  if (o.switches.json) {
    Json info = {{"recorder", true},
                 {"indexAreaMiB", g.indexAreaMiB},
                 {"dataBase", g.dataBase},
                 {"indexCount", g.indexCount},
                 {"playEnd", g.playEnd},
                 {"start", FormatRecorderTime(int64_t{start})},
                 {"end", FormatRecorderTime(int64_t{end})},
                 {"startSeconds", start},
                 {"endSeconds", end},
                 {"eventCount", eventCount}};
    damage.AddTo(info);
    PrintJson(info);
  } else {
    std::printf(
        "recorder disk  %s\nindex area     %u MiB\ndata base      %llu\nindex count    %lld\n"
        "played         %lld entries\nStart : %s\nEnd : %s\nevents         %u\n",
        disk.where.path.c_str(), g.indexAreaMiB, static_cast<unsigned long long>(g.dataBase),
        static_cast<long long>(g.indexCount), static_cast<long long>(g.playEnd),
        FormatRecorderTime(int64_t{start}).c_str(), FormatRecorderTime(int64_t{end}).c_str(),
        eventCount);
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

int Events(const DiskOptions &o) {
  CommandDisk disk;
  if (int rc = disk.ResolveAndOpen(o.source, false)) return rc;
  DiskSource &source = disk.source;
  DamageReport &damage = disk.damage;
  CheckEventLog(ReadEventLog(source), damage);
  CEventList list;
  list.LoadEvents(source);
  const auto &rows = list.Rows();
  if (o.switches.json) {
    Json events = Json::array();
    for (size_t i = 0; i < rows.size(); ++i)
      events.push_back({{"num", rows[i][0]},
                        {"channel", rows[i][1]},
                        {"time", rows[i][2]},
                        {"type", rows[i][3]},
                        {"seconds", list.Times()[i]}});
    Json report = {{"events", std::move(events)}};
    damage.AddTo(report);
    PrintJson(report);
  } else {
    const auto &h = CEventList::HeaderRow();
    std::printf("%-6s %-8s %-20s %s\n", h[0].c_str(), h[1].c_str(), h[2].c_str(), h[3].c_str());
    for (const auto &r : rows)
      std::printf("%-6s %-8s %-20s %s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
    if (rows.size() < list.EventCount())
      std::printf("(%zu of %u events could be read)\n", rows.size(), list.EventCount());
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

int Search(const DiskOptions &o) {
  CommandDisk disk;
  if (int rc = disk.Resolve(o.source)) return rc;
  if (o.when.empty()) return Fail(kExitError, "no WHEN given");
  uint32_t target = 0;
  std::string error;
  if (!ParseWhen(o.when, target, error)) return Fail(kExitError, error);
  if (int rc = disk.Open(true)) return rc;
  DamageReport &damage = disk.damage;
  SearchReport report;
  const int64_t entry = SearchTime(disk.source, disk.geometry, target, &report);
  for (const int64_t block : report.unreadableBlocks)
    damage.Lost(LostPart{LostPart::What::kBlockTime, block, block, IndexEntryPosition(block),
                         kSectorBytes});
  if (!report.unreadableBlocks.empty())
    damage.Warn(std::to_string(report.unreadableBlocks.size()) +
                " block times cannot be read: the blocks next to them decided");
  damage.diskGone = report.gone;
  if (o.switches.json) {
    Json found = {{"target", target}, {"entry", entry}};
    damage.AddTo(found);
    PrintJson(found);
  } else {
    std::printf("%s (%u): playing starts at entry %lld\n",
                FormatRecorderTime(int64_t{target}).c_str(), target, static_cast<long long>(entry));
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

// The files an export made: path, role, length and SHA-256.
Json FilesJson(const std::vector<ExportedFile> &files) {
  Json list = Json::array();
  for (const ExportedFile &f : files)
    list.push_back(
        {{"path", f.path}, {"role", f.role}, {"sizeBytes", f.sizeBytes}, {"sha256", f.sha256}});
  return list;
}

int Export(const DiskOptions &o) {
  CommandDisk disk;
  if (int rc = disk.Resolve(o.source)) return rc;
  if (!o.from || !o.to || o.output.empty())
    return Fail(kExitError, "export needs --from, --to and -o");
  const uint32_t from = *o.from, to = *o.to;
  const platform::ReplacePolicy policy = o.switches.Policy();
  ExportOptions options;
  options.format = ExportFormatOfName(o.output);
  const bool media = options.format != ExportFormat::kClip;
  if (!o.channels.empty()) {
    if (!media) return Fail(kExitError, "--channel applies to .mkv and .mp4 exports");
    options.channelMask = 0;
    for (const int c : o.channels) options.channelMask |= 1u << (c - 1);
  }
  std::vector<std::string> outputs{ManifestPathOf(o.output)};
  if (media) {
    for (int c = 0; c < 4; ++c)
      if (options.channelMask & (1u << c)) outputs.push_back(ChannelFilePath(o.output, c));
  } else {
    outputs.push_back(o.output);
    outputs.push_back(CompanionDataName(o.output));
  }
  if (int rc = disk.Open(true)) return rc;
  // Refused before the copy starts; the copy's own writers check again.
  if (RefuseOutputs(outputs, policy)) return kExitError;
  // The copy thread opens the disk itself.
  disk.source.Close();
  DamageReport &damage = disk.damage;
  DriveTable::SetProcess(disk.where.table);
  std::string stateMessage;
  CopyHDDThread copy(
      nullptr, disk.where.driveNumber, RecorderSecondsToSystemTime(from),
      RecorderSecondsToSystemTime(to), o.output, [&](const std::string &m) { stateMessage = m; },
      policy, options);
  if (copy.Failure() == CopyFailure::StateError) return Fail(kExitStateError, kStateErrorText);
  const char *what = media ? "pictures" : "entries";
  const int64_t first = copy.StartEntry();
  const int64_t span = std::max<int64_t>(1, copy.Geometry().playEnd - first);
  // The copy thread wakes this thread when it ends, so the wait ends with
  // it; until then, a progress line every 500 ms (the wait's limit).
  auto ended = [&] { return copy.Done() != 0 || copy.Finished(); };
  while (!TThread::WaitWhileServicing(ended, 500)) {
    const int64_t at = std::clamp<int64_t>(copy.NextEntry() - first, 0, span);
    std::fprintf(stderr, "\rcopying: %lld %s written, index %lld%%",
                 static_cast<long long>(copy.EntriesWritten()), what,
                 static_cast<long long>(at * 100 / span));
  }
  copy.WaitFor();
  std::fprintf(stderr, "\rcopying: %lld %s written, done        \n",
               static_cast<long long>(copy.EntriesWritten()), what);
  // Each lost place is one of the copy's read errors already.
  damage.readErrors += copy.ReadErrors() - copy.Losses().Places();
  damage.Lost(copy.Losses());
  damage.skippedRecords += copy.SkippedRecords();
  damage.diskGone = copy.DiskGone();
  if (copy.IndexFailedAt() >= 0)
    damage.Warn("the index cannot be read at entry " + std::to_string(copy.IndexFailedAt()) +
                (media ? ": the export ends there" : ": the clip ends there"));
  if (copy.SkippedRecords())
    damage.Warn(std::to_string(copy.SkippedRecords()) +
                (media ? " entries were left out: their records cannot be read, are damaged or "
                         "are not what their entry says"
                       : " entries were not copied: their records cannot be read or they are "
                         "damaged"));
  switch (copy.Failure()) {
    case CopyFailure::None:
    case CopyFailure::DiskGone:  // what was copied is finished, and said to be incomplete
      break;
    case CopyFailure::NotRecorderDisk:
      return Fail(kExitRejected, "Not a recorder disk: " + disk.where.path);
    case CopyFailure::NoEntries:
      // Damage may be why nothing could be copied: say that too.
      damage.Finish(kExitRejected, false);
      return Fail(kExitRejected,
                  damage.Partial()
                      ? "Nothing in the chosen span could be read: no clip was written"
                      : "Nothing was recorded in the chosen span: no clip was written");
    case CopyFailure::NoPictures:
      damage.Finish(kExitRejected, false);
      return Fail(kExitRejected,
                  damage.Partial()
                      ? "No picture in the chosen span could be read: no file was written"
                      : "No pictures were recorded in the chosen span: no file was written");
    case CopyFailure::EndBeforeStart:
      return Fail(kExitError, "--to is before --from: nothing is copied");
    default:
      return Fail(kExitError, copy.ErrorText());
  }
  if (o.switches.json) {
    Json result = media ? Json{{"format", ExportFormatName(options.format)},
                               {"pictures", copy.EntriesWritten()}}
                        : Json{{"index", copy.IndexPath()},
                               {"data", copy.DataPath()},
                               {"entries", copy.EntriesWritten()},
                               {"magic", Hex32(copy.ClipMagic())}};
    result["files"] = FilesJson(copy.Files());
    result["manifest"] = copy.ManifestPath();
    result["complete"] = copy.Complete();
    damage.AddTo(result);
    PrintJson(result);
  } else if (media) {
    for (const ExportedFile &f : copy.Files())
      std::printf("%s: %llu bytes, SHA-256 %s\n", f.path.c_str(),
                  static_cast<unsigned long long>(f.sizeBytes), f.sha256.c_str());
    std::printf("%s\n", copy.ManifestPath().c_str());
  } else {
    std::printf("%s + %s: %lld entries, magic %s\n%s\n", copy.IndexPath().c_str(),
                copy.DataPath().c_str(), static_cast<long long>(copy.EntriesWritten()),
                Hex32(copy.ClipMagic()).c_str(), copy.ManifestPath().c_str());
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

int Clip(const DiskOptions &o) {
  if (o.clip.empty()) return Fail(kExitError, "no CLIP.in given");
  const std::string &path = o.clip;
  CClipReader reader;
  if (!reader.OpenIndexOnly(path)) return Fail(kExitError, reader.LastError());
  // Refused in the window's words.
  bool unreadable = false;
  if (const std::string refusal = ClipRefusal(reader, path, &unreadable); !refusal.empty())
    return Fail(unreadable ? kExitError : kExitRejected, refusal);
  ClipTrailer trailer;
  IndexEntry first, last;
  if (reader.ReadClipTrailer(trailer) != ClipStatus::Ok || trailer.count == 0 ||
      !reader.ReadEntry(0, first) || !reader.ReadEntry(trailer.count - 1, last))
    return Fail(kExitError, "Cannot read " + path);
  CClipReader both;
  if (!both.Open(path))
    return Fail(kExitRejected, "Cannot open the clip's data file " + CompanionDataName(path) +
                                   ": " + both.LastError());
  DamageReport damage;
  tools::CheckClipData(both, damage);
  const std::string start = FormatRecorderTime(int64_t{first.time});
  const std::string end = FormatRecorderTime(int64_t{last.time});
  if (o.switches.json) {
    Json clip = {
        {"count", trailer.count}, {"layout", trailer.layout}, {"start", start}, {"end", end}};
    damage.AddTo(clip);
    PrintJson(clip);
  } else {
    std::printf("%s: %u entries, %s, %s .. %s\n", path.c_str(), trailer.count,
                trailer.layout ? "one channel (four-way picture)" : "interleaved channels",
                start.c_str(), end.c_str());
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

const char kDiskText[] = "a disk image or block device";
const char kWhenText[] =
    "DISK is a disk image or block device path, or --drive N (drive N of the table: the\n"
    "--image entries first, then the machine's disks). WHEN is \"YYYY-MM-DD hh:mm:ss\"\n"
    "(recorder wall time) or a count of recorder seconds.";

// Registers a disk or clip command; `add` registers its own options.
void AddDiskCommand(CommandLine &cli, const std::string &name, const std::string &summary,
                    int (*run)(const DiskOptions &),
                    const std::function<void(Command &, DiskOptions &)> &add) {
  auto o = std::make_shared<DiskOptions>();
  Command &cmd = cli.AddCommand(name, summary, [o, run] { return run(*o); });
  add(cmd, *o);
  cmd.Common(o->switches);
}

void AddDiskCommands(CommandLine &cli) {
  AddDiskCommand(cli, "drives", "list the drive table and which drives are recorder disks", Drives,
                 [](Command &cmd, DiskOptions &o) { cmd.Images(o.source.images); });
  AddDiskCommand(cli, "info", "geometry, recorded span and event count", Info,
                 [](Command &cmd, DiskOptions &o) {
                   cmd.Source(o.source, "DISK", kDiskText).Footer(kWhenText);
                 });
  AddDiskCommand(cli, "events", "the event log as the event list shows it", Events,
                 [](Command &cmd, DiskOptions &o) {
                   cmd.Source(o.source, "DISK", kDiskText).Footer(kWhenText);
                 });
  AddDiskCommand(cli, "search", "the index entry where playing WHEN starts", Search,
                 [](Command &cmd, DiskOptions &o) {
                   cmd.Source(o.source, "DISK", kDiskText)
                       .Positional("WHEN", o.when, "the time to look for")
                       .Footer(kWhenText);
                 });
  AddDiskCommand(
      cli, "export", "copy a time range into a clip or into .mkv/.mp4 files", Export,
      [](Command &cmd, DiskOptions &o) {
        cmd.Source(o.source, "DISK", kDiskText)
            .When("--from", o.from, "the first time to copy")
            .When("--to", o.to, "the time to copy to")
            .Text("-o,--output", o.output, "OUT.in|OUT.mkv|OUT.mp4",
                  "a clip (its data in OUT.da), or a file per channel (OUT_CH1.mkv ...)")
            .Numbers("--channel", o.channels, "N",
                     "only channel N into .mkv/.mp4 (repeatable; all by default)",
                     "--channel needs a channel number, 1 to 4", 1, 4)
            .Footer(std::string(kWhenText) +
                    "\nEvery export writes OUT.manifest.json: the source, the span, what was "
                    "lost,\nand each file's length and SHA-256 (\"orvan-cli verify\" checks "
                    "them).");
      });
  AddDiskCommand(cli, "clip", "check a clip and show its span", Clip,
                 [](Command &cmd, DiskOptions &o) {
                   cmd.Positional("CLIP.in", o.clip, "a clip's index file");
                 });
}

}  // namespace

int main(int argc, char **argv) {
  CommandLine cli("orvan-cli", "Batch and forensic work on recorder disks and clips.");
  AddDiskCommands(cli);
#ifdef ORVAN_CLI_PLAY
  AddPlayCommand(cli);
#endif
  AddYuvCommand(cli);
  AddHashCommand(cli);
  AddFramesCommand(cli);
  AddVerifyCommand(cli);
  AddExamReportCommand(cli);
  AddSurveyCommand(cli);
  cli.AddCommand("help", "print this help", [&cli] {
    std::fputs(cli.Help().c_str(), stdout);
    return kExitOk;
  });
  cli.Footer(std::string(kWhenText) +
             "\n\"orvan-cli COMMAND --help\" lists a command's options.\n"
             "Exit codes: 0 done; 1 usage, I/O error or a refused output; 2 not a recorder disk\n"
             "or a rejected clip or a span without pictures; 3 \"Check HDD State Error!!\";\n"
             "4 a file that does not match its manifest; 5 a partial result under --strict;\n"
             "130 and 143 play stopped by SIGINT or SIGTERM.");
  return cli.Run(argc, argv);
}
