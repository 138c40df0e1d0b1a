// orvan-cli: batch and forensic work on recorder disks and clips.
//
// Every command reads its disk read-only. Text goes to stdout (JSON with
// --json); errors go to stderr with a non-zero exit code:
//   1  usage, a file or drive that cannot be opened or written, a refused
//      output (a source, a device, or an existing file without --overwrite)
//   2  not a recorder disk, or a rejected clip
//   3  no valid state entry ("Check HDD State Error!!")
//   4  verify: a file does not match its manifest
//   5  with --strict: the source is damaged and the result partial
// What a damaged source lost is said in one warning line on stderr and in
// the JSON ("warnings", "readErrors", "skippedRecords").
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/disk_source.h"
#include "platform/wintime.h"
#include "recorder/clip_format.h"
#include "recorder/copy_hdd_thread.h"
#include "recorder/disk_discovery.h"
#include "recorder/disk_layout.h"
#include "recorder/event_list.h"
#include "recorder/index_search.h"
#ifdef ORVAN_CLI_PLAY
#include "tools/cli_play.h"
#endif
#include <QGuiApplication>

#include <cstdlib>
#include <iostream>

#include "app/still_image_command.h"
#include "platform/output_file.h"
#include "tools/cli_report.h"
#include "tools/cli_verify.h"

using namespace orvan;
using namespace orvan::recorder;
using orvan::tools::DamageReport;

namespace {

const char kUsage[] =
    "usage: orvan-cli COMMAND [arguments] [--json] [--image PATH]...\n"
    "  drives                               list the drive table and which drives are recorder "
    "disks\n"
    "  info DISK                            geometry, recorded span and event count\n"
    "  events DISK                          the event log as the event list shows it\n"
    "  search DISK WHEN                     the index entry where playing WHEN starts\n"
    "  export DISK --from WHEN --to WHEN -o OUT.in\n"
    "                                       copy a time range into a clip (OUT.in + OUT.da)\n"
    "  export DISK --from WHEN --to WHEN -o OUT.mkv|OUT.mp4 [--channel N]...\n"
    "                                       the recorded pictures and audio of the range, one\n"
    "                                       file per channel (OUT_CH1.mkv ...); every export\n"
    "                                       writes OUT.manifest.json with each file's SHA-256\n"
    "  verify OUT.manifest.json             check every file of an export against its manifest\n"
    "  clip CLIP.in                         check a clip and show its span\n"
    "  play SOURCE [options]                play a disk or clip through the viewers (see play "
    "--help)\n"
    "  yuv FILE.yuv -o OUT.bmp [--raw]      a still picture as Image Play shows it (or raw "
    "pixels)\n"
    "--overwrite lets an output replace an existing file (never a source or a device);\n"
    "--strict exits 5 when a damaged source gave a partial result.\n"
    "DISK is a disk image or block device path, or --drive N (drive N of the table: the\n"
    "--image entries first, then the machine's disks). WHEN is \"YYYY-MM-DD hh:mm:ss\"\n"
    "(recorder wall time) or a count of recorder seconds.\n";

enum Exit {
  kOk = tools::kExitOk,
  kError = tools::kExitError,
  kRejected = tools::kExitRejected,
  kStateError = tools::kExitStateError,
};

int Fail(int code, const std::string &message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return code;
}

std::string Json(const std::string &text) { return tools::JsonText(text); }

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

struct Args {
  std::vector<std::string> images;
  std::vector<std::string> positional;
  bool json = false;
  bool overwrite = false;
  bool strict = false;
  int drive = -1;
  std::string from, to, output;
  std::vector<int> channels;  // 1..4
};

bool ParseInt(const std::string &text, int &value) {
  const char *end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end;
}

bool ParseArgs(std::vector<std::string> argv, Args &a, std::string &error) {
  a.images = TakeImageOptions(argv);
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string &s = argv[i];
    auto value = [&](std::string &out) {
      if (i + 1 >= argv.size()) {
        error = s + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (s == "--json") {
      a.json = true;
    } else if (s == "--overwrite") {
      a.overwrite = true;
    } else if (s == "--strict") {
      a.strict = true;
    } else if (s == "--drive") {
      if (!value(v)) return false;
      if (!ParseInt(v, a.drive) || a.drive < 0) {
        error = "--drive needs a drive number";
        return false;
      }
    } else if (s == "--from") {
      if (!value(a.from)) return false;
    } else if (s == "--to") {
      if (!value(a.to)) return false;
    } else if (s == "-o" || s == "--output") {
      if (!value(a.output)) return false;
    } else if (s == "--channel") {
      int channel = 0;
      if (!value(v)) return false;
      if (!ParseInt(v, channel) || channel < 1 || channel > 4) {
        error = "--channel needs a channel number, 1 to 4";
        return false;
      }
      a.channels.push_back(channel);
    } else if (s.size() > 1 && s[0] == '-' && s != "-") {
      error = "unknown option: " + s;
      return false;
    } else {
      a.positional.push_back(s);
    }
  }
  return true;
}

// The disk a command reads: a path, or drive N of the table.
struct DiskArg {
  std::string path;
  int driveNumber = 0;  // in `table`
  DriveTable table;
};

bool ResolveDisk(const Args &a, size_t position, DiskArg &disk, std::string &error) {
  if (a.drive >= 0) {
    disk.table = DriveTable(a.images);
    const DriveInfo *info = disk.table.Find(a.drive);
    if (!info) {
      error = "No such drive: " + std::to_string(a.drive);
      return false;
    }
    disk.path = info->path;
    disk.driveNumber = a.drive;
    return true;
  }
  if (a.positional.size() <= position) {
    error = "no DISK given";
    return false;
  }
  disk.path = a.positional[position];
  // The path alone makes the table the copy thread opens by number.
  disk.table = DriveTable({disk.path}, "/nonexistent");
  disk.driveNumber = 0;
  return true;
}

bool ParseWhen(const std::string &text, uint32_t &seconds, std::string &error) {
  int64_t s = 0;
  if (!ParseRecorderTime(text, s) || s < 0 || s > int64_t{UINT32_MAX}) {
    error = "not a time: \"" + text + "\" (use \"YYYY-MM-DD hh:mm:ss\" or recorder seconds)";
    return false;
  }
  seconds = uint32_t(s);
  return true;
}

// Opens a recorder disk and reads its geometry, reporting failures the way
// every command does.
int OpenRecorder(const DiskArg &disk, DiskSource &source, DiskGeometry &geometry, bool needState) {
  if (source.OpenPath(disk.path) != DriveOpenStatus::Ok) return Fail(kError, source.LastError());
  const GeometryStatus status = ReadGeometry(source, geometry);
  if (status == GeometryStatus::NotRecorderDisk)
    return Fail(kRejected, "Not a recorder disk: " + disk.path);
  if (status == GeometryStatus::NoValidState && needState)
    return Fail(kStateError, kStateErrorText);
  return kOk;
}

// The event log's header and records, as far as they can be read.
void CheckEventLog(const EventLog &log, DamageReport &damage) {
  if (!log.headerRead) {
    ++damage.readErrors;
    damage.Warn("the event log cannot be read");
    return;
  }
  const size_t wanted = std::min(log.header.eventCount, kMaxEventCount);
  if (log.records.size() < wanted) {
    ++damage.readErrors;
    damage.Warn("only " + std::to_string(log.records.size()) + " of " + std::to_string(wanted) +
                " events could be read");
  }
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

// The output paths of a command, checked before any work: a source, a
// device or an existing file (without --overwrite) is refused at once.
bool RefuseOutputs(const std::vector<std::string> &paths, platform::ReplacePolicy policy) {
  for (const std::string &path : paths) {
    std::string error;
    const platform::OutputStatus status = platform::CheckOutputPath(path, policy, &error);
    if (status == platform::OutputStatus::kOk) continue;
    if (status == platform::OutputStatus::kExists) error += " (--overwrite replaces it)";
    Fail(kError, error);
    return true;
  }
  return false;
}

platform::ReplacePolicy PolicyOf(const Args &a) {
  return a.overwrite ? platform::ReplacePolicy::kReplaceExisting
                     : platform::ReplacePolicy::kKeepExisting;
}

int Drives(const Args &a) {
  const DriveTable table(a.images);
  std::string out = "[";
  for (const DriveInfo &d : table.Drives()) {
    DriveOpenStatus status;
    std::string message;
    const bool recorder = ProbeRecorderDisk(d.number, table, status, &message);
    if (status != DriveOpenStatus::Ok && status != DriveOpenStatus::NoSuchDrive)
      std::fprintf(stderr, "%s\n", message.c_str());
    // A FIFO, a folder or a character device is no drive: said, not listed.
    if (status == DriveOpenStatus::NotADisk) continue;
    if (a.json) {
      if (out.size() > 1) out += ", ";
      out += "{\"drive\": " + std::to_string(d.number) +
             ", \"name\": " + Json(DeviceItemName(d.number)) + ", \"path\": " + Json(d.path) +
             ", \"recorder\": " + (recorder ? "true" : "false") + "}";
    } else {
      std::printf(
          "%-10s %-30s %s\n", DeviceItemName(d.number).c_str(), d.path.c_str(),
          recorder ? "recorder disk" : (status == DriveOpenStatus::Ok ? "-" : "cannot open"));
    }
  }
  if (a.json) std::printf("%s]\n", out.c_str());
  return kOk;
}

int Info(const Args &a) {
  DiskArg disk;
  std::string error;
  if (!ResolveDisk(a, 1, disk, error)) return Fail(kError, error);
  DiskSource source;
  DiskGeometry g;
  if (int rc = OpenRecorder(disk, source, g, true)) return rc;
  DamageReport damage;
  tools::CheckImageLength(source, g, damage);
  uint32_t start = 0, end = 0;
  if (!IndexBlockTime(0, source, start)) {
    ++damage.readErrors;
    damage.Warn("the index cannot be read at entry 0: the start time is unknown");
  }
  const int64_t endBlock = g.playEnd / kEntriesPerBlock * kEntriesPerBlock;
  if (!IndexBlockTime(g.playEnd, source, end) && endBlock > 0) {
    ++damage.readErrors;
    damage.Warn("the index cannot be read at entry " + std::to_string(endBlock) +
                ": the end time is unknown");
  }
  CheckIndexEnds(source, g, damage);
  const EventLog log = ReadEventLog(source);
  CheckEventLog(log, damage);
  const uint32_t eventCount = log.headerRead ? log.header.eventCount : 0;
  if (a.json) {
    std::printf(
        "{\"recorder\": true, \"indexAreaMiB\": %u, \"dataBase\": %llu, \"indexCount\": %lld, "
        "\"playEnd\": %lld, "
        "\"start\": %s, \"end\": %s, \"startSeconds\": %u, \"endSeconds\": %u, \"eventCount\": "
        "%u, %s}\n",
        g.indexAreaMiB, static_cast<unsigned long long>(g.dataBase),
        static_cast<long long>(g.indexCount), static_cast<long long>(g.playEnd),
        Json(FormatRecorderTime(int64_t{start})).c_str(),
        Json(FormatRecorderTime(int64_t{end})).c_str(), start, end, eventCount,
        damage.JsonFields().c_str());
  } else {
    std::printf(
        "recorder disk  %s\nindex area     %u MiB\ndata base      %llu\nindex count    %lld\n"
        "played         %lld entries\nStart : %s\nEnd : %s\nevents         %u\n",
        disk.path.c_str(), g.indexAreaMiB, static_cast<unsigned long long>(g.dataBase),
        static_cast<long long>(g.indexCount), static_cast<long long>(g.playEnd),
        FormatRecorderTime(int64_t{start}).c_str(), FormatRecorderTime(int64_t{end}).c_str(),
        eventCount);
  }
  return damage.Finish(kOk, a.strict);
}

int Events(const Args &a) {
  DiskArg disk;
  std::string error;
  if (!ResolveDisk(a, 1, disk, error)) return Fail(kError, error);
  DiskSource source;
  DiskGeometry g;
  if (int rc = OpenRecorder(disk, source, g, false)) return rc;
  DamageReport damage;
  tools::CheckImageLength(source, g, damage);
  CheckEventLog(ReadEventLog(source), damage);
  CEventList list;
  list.LoadEvents(source);
  const auto &rows = list.Rows();
  if (a.json) {
    std::string out = "{\"events\": [";
    for (size_t i = 0; i < rows.size(); ++i) {
      if (i) out += ", ";
      out += "{\"num\": " + Json(rows[i][0]) + ", \"channel\": " + Json(rows[i][1]) +
             ", \"time\": " + Json(rows[i][2]) + ", \"type\": " + Json(rows[i][3]) +
             ", \"seconds\": " + std::to_string(list.Times()[i]) + "}";
    }
    std::printf("%s], %s}\n", out.c_str(), damage.JsonFields().c_str());
  } else {
    const auto &h = CEventList::HeaderRow();
    std::printf("%-6s %-8s %-20s %s\n", h[0].c_str(), h[1].c_str(), h[2].c_str(), h[3].c_str());
    for (const auto &r : rows)
      std::printf("%-6s %-8s %-20s %s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
    if (rows.size() < list.EventCount())
      std::printf("(%zu of %u events could be read)\n", rows.size(), list.EventCount());
  }
  return damage.Finish(kOk, a.strict);
}

// Counts the reads that fail, for readers that carry on past them.
class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(ByteSource &inner) : m_inner(inner) {}
  bool Seek(uint64_t offset) override { return Count(m_inner.Seek(offset)); }
  bool Read(void *buffer, size_t length, size_t *got = nullptr) override {
    return Count(m_inner.Read(buffer, length, got));
  }
  uint64_t Failures() const { return m_failures; }

 private:
  bool Count(bool ok) {
    if (!ok) ++m_failures;
    return ok;
  }
  ByteSource &m_inner;
  uint64_t m_failures = 0;
};

int Search(const Args &a) {
  DiskArg disk;
  std::string error;
  if (!ResolveDisk(a, 1, disk, error)) return Fail(kError, error);
  const size_t whenAt = a.drive >= 0 ? 1 : 2;
  if (a.positional.size() <= whenAt) return Fail(kError, "no WHEN given");
  uint32_t target = 0;
  if (!ParseWhen(a.positional[whenAt], target, error)) return Fail(kError, error);
  DiskSource source;
  DiskGeometry g;
  if (int rc = OpenRecorder(disk, source, g, true)) return rc;
  DamageReport damage;
  tools::CheckImageLength(source, g, damage);
  CountingSource counted(source);
  const int64_t entry = SearchTime(counted, g, target);
  if (counted.Failures()) {
    damage.readErrors += counted.Failures();
    damage.Warn(std::to_string(counted.Failures()) +
                " reads of the index failed: the entry found may be wrong");
  }
  if (a.json)
    std::printf("{\"target\": %u, \"entry\": %lld, %s}\n", target, static_cast<long long>(entry),
                damage.JsonFields().c_str());
  else
    std::printf("%s (%u): playing starts at entry %lld\n",
                FormatRecorderTime(int64_t{target}).c_str(), target, static_cast<long long>(entry));
  return damage.Finish(kOk, a.strict);
}

// The files an export made, for the JSON: name, length and SHA-256.
std::string FilesJson(const std::vector<ExportedFile> &files) {
  std::string out = "[";
  for (const ExportedFile &f : files) {
    if (out.size() > 1) out += ", ";
    out += "{\"path\": " + Json(f.path) + ", \"role\": " + Json(f.role) +
           ", \"sizeBytes\": " + std::to_string(f.sizeBytes) + ", \"sha256\": " + Json(f.sha256) +
           "}";
  }
  return out + "]";
}

int Export(const Args &a) {
  DiskArg disk;
  std::string error;
  if (!ResolveDisk(a, 1, disk, error)) return Fail(kError, error);
  if (a.from.empty() || a.to.empty() || a.output.empty())
    return Fail(kError, "export needs --from, --to and -o");
  uint32_t from = 0, to = 0;
  if (!ParseWhen(a.from, from, error) || !ParseWhen(a.to, to, error)) return Fail(kError, error);
  ExportOptions options;
  options.format = ExportFormatOfName(a.output);
  const bool media = options.format != ExportFormat::kClip;
  if (!a.channels.empty()) {
    if (!media) return Fail(kError, "--channel applies to .mkv and .mp4 exports");
    options.channelMask = 0;
    for (int c : a.channels) options.channelMask |= 1u << (c - 1);
  }
  std::vector<std::string> outputs{ManifestPathOf(a.output)};
  if (media) {
    for (int c = 0; c < 4; ++c)
      if (options.channelMask & (1u << c)) outputs.push_back(ChannelFilePath(a.output, c));
  } else {
    outputs.push_back(a.output);
    outputs.push_back(CompanionDataName(a.output));
  }
  DamageReport damage;
  {
    DiskSource source;
    DiskGeometry g;
    if (int rc = OpenRecorder(disk, source, g, true)) return rc;
    // Refused before the copy starts; the copy's own writers check again.
    if (RefuseOutputs(outputs, PolicyOf(a))) return kError;
    tools::CheckImageLength(source, g, damage);
  }
  DriveTable::SetProcess(disk.table);
  std::string stateMessage;
  CopyHDDThread copy(
      nullptr, disk.driveNumber, RecorderSecondsToSystemTime(from), RecorderSecondsToSystemTime(to),
      a.output, [&](const std::string &m) { stateMessage = m; }, PolicyOf(a), options);
  if (copy.Failure() == CopyFailure::StateError) return Fail(kStateError, kStateErrorText);
  const char *what = media ? "pictures" : "entries";
  const int64_t first = copy.StartEntry();
  const int64_t span = std::max<int64_t>(1, copy.Geometry().playEnd - first);
  auto lastReport = std::chrono::steady_clock::now();
  while (copy.Done() == 0 && !copy.Finished()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto now = std::chrono::steady_clock::now();
    if (now - lastReport >= std::chrono::milliseconds(500)) {
      lastReport = now;
      const int64_t at = std::clamp<int64_t>(copy.NextEntry() - first, 0, span);
      std::fprintf(stderr, "\rcopying: %lld %s written, index %lld%%",
                   static_cast<long long>(copy.EntriesWritten()), what,
                   static_cast<long long>(at * 100 / span));
    }
  }
  copy.WaitFor();
  std::fprintf(stderr, "\rcopying: %lld %s written, done        \n",
               static_cast<long long>(copy.EntriesWritten()), what);
  damage.readErrors += copy.ReadErrors();
  damage.skippedRecords += copy.SkippedRecords();
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
      break;
    case CopyFailure::NotRecorderDisk:
      return Fail(kRejected, "Not a recorder disk: " + disk.path);
    case CopyFailure::NoEntries:
      // Damage may be why nothing could be copied: say that too.
      damage.Finish(kRejected, false);
      return Fail(kRejected, damage.Partial()
                                 ? "Nothing in the chosen span could be read: no clip was written"
                                 : "Nothing was recorded in the chosen span: no clip was written");
    case CopyFailure::NoPictures:
      damage.Finish(kRejected, false);
      return Fail(kRejected,
                  damage.Partial()
                      ? "No picture in the chosen span could be read: no file was written"
                      : "No pictures were recorded in the chosen span: no file was written");
    case CopyFailure::EndBeforeStart:
      return Fail(kError, "--to is before --from: nothing is copied");
    default:
      return Fail(kError, copy.ErrorText());
  }
  if (a.json) {
    if (media)
      std::printf("{\"format\": %s, \"pictures\": %lld, \"files\": %s, \"manifest\": %s, %s}\n",
                  Json(ExportFormatName(options.format)).c_str(),
                  static_cast<long long>(copy.EntriesWritten()), FilesJson(copy.Files()).c_str(),
                  Json(copy.ManifestPath()).c_str(), damage.JsonFields().c_str());
    else
      std::printf(
          "{\"index\": %s, \"data\": %s, \"entries\": %lld, \"magic\": %s, \"files\": %s, "
          "\"manifest\": %s, %s}\n",
          Json(copy.IndexPath()).c_str(), Json(copy.DataPath()).c_str(),
          static_cast<long long>(copy.EntriesWritten()), Json(Hex32(copy.ClipMagic())).c_str(),
          FilesJson(copy.Files()).c_str(), Json(copy.ManifestPath()).c_str(),
          damage.JsonFields().c_str());
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
  return damage.Finish(kOk, a.strict);
}

int Clip(const Args &a) {
  if (a.positional.size() < 2) return Fail(kError, "no CLIP.in given");
  const std::string path = a.positional[1];
  CClipReader reader;
  if (!reader.OpenIndexOnly(path)) return Fail(kError, reader.LastError());
  ClipTrailer trailer;
  switch (reader.ReadClipTrailer(trailer)) {
    case ClipStatus::Ok:
      break;
    case ClipStatus::TooShort:
      return Fail(kRejected, kClipTooShortText);
    case ClipStatus::NoMagic:
      return Fail(kRejected, "No clip trailer in " + path);
    case ClipStatus::BadCount:
      return Fail(kRejected, "The clip trailer's count does not match its place in " + path);
    case ClipStatus::ReadError:
      return Fail(kError, "Cannot read " + path);
  }
  if (trailer.count == 0) return Fail(kRejected, "The clip holds no entries: " + path);
  IndexEntry first, last;
  if (!reader.ReadEntry(0, first) || !reader.ReadEntry(trailer.count - 1, last))
    return Fail(kRejected, "Cannot read the clip's entries in " + path);
  CClipReader both;
  if (!both.Open(path))
    return Fail(kRejected, "Cannot open the clip's data file " + CompanionDataName(path) + ": " +
                               both.LastError());
  DamageReport damage;
  tools::CheckClipData(both, damage);
  const std::string start = FormatRecorderTime(int64_t{first.time});
  const std::string end = FormatRecorderTime(int64_t{last.time});
  if (a.json)
    std::printf("{\"count\": %u, \"layout\": %d, \"start\": %s, \"end\": %s, %s}\n", trailer.count,
                trailer.layout, Json(start).c_str(), Json(end).c_str(),
                damage.JsonFields().c_str());
  else
    std::printf("%s: %u entries, %s, %s .. %s\n", path.c_str(), trailer.count,
                trailer.layout ? "one channel (four-way picture)" : "interleaved channels",
                start.c_str(), end.c_str());
  return damage.Finish(kOk, a.strict);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::string(argv[1]) == "yuv") {
    // The time stamp is drawn with Qt's fonts, which need the GUI
    // application object; no window is shown.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    return orvan::app::RunYuvCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                     std::cerr);
  }
  if (argc > 1 && std::string(argv[1]) == "verify")
    return orvan::tools::RunVerifyCommand(std::vector<std::string>(argv + 1, argv + argc));
#ifdef ORVAN_CLI_PLAY
  if (argc > 1 && std::string(argv[1]) == "play")
    return orvan::tools::RunPlayCommand(std::vector<std::string>(argv + 1, argv + argc));
#endif
  Args a;
  std::string error;
  if (!ParseArgs(std::vector<std::string>(argv, argv + argc), a, error)) {
    std::fputs(kUsage, stderr);
    return Fail(kError, error);
  }
  if (a.positional.empty()) {
    std::fputs(kUsage, stderr);
    return kError;
  }
  const std::string &command = a.positional[0];
  if (command == "drives") return Drives(a);
  if (command == "info") return Info(a);
  if (command == "events") return Events(a);
  if (command == "search") return Search(a);
  if (command == "export") return Export(a);
  if (command == "clip") return Clip(a);
  if (command == "help") {
    std::fputs(kUsage, stdout);
    return kOk;
  }
  std::fputs(kUsage, stderr);
  return Fail(kError, "unknown command: " + command);
}
