// orvan-cli: batch and forensic work on recorder disks and clips.
//
// Every command reads its disk read-only. Text goes to stdout (JSON with
// --json); errors go to stderr with a non-zero exit code:
//   1  usage, or a file or drive that cannot be opened or written
//   2  not a recorder disk, or a rejected clip
//   3  no valid state entry ("Check HDD State Error!!")
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

using namespace orvan;
using namespace orvan::recorder;

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
    "  clip CLIP.in                         check a clip and show its span\n"
    "  play SOURCE [options]                play a disk or clip through the viewers (see play "
    "--help)\n"
    "  yuv FILE.yuv -o OUT.bmp [--raw]      a still picture as Image Play shows it (or raw "
    "pixels)\n"
    "DISK is a disk image or block device path, or --drive N (drive N of the table: the\n"
    "--image entries first, then the machine's disks). WHEN is \"YYYY-MM-DD hh:mm:ss\"\n"
    "(recorder wall time) or a count of recorder seconds.\n";

enum Exit { kOk = 0, kError = 1, kRejected = 2, kStateError = 3 };

int Fail(int code, const std::string &message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return code;
}

std::string Json(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

struct Args {
  std::vector<std::string> images;
  std::vector<std::string> positional;
  bool json = false;
  int drive = -1;
  std::string from, to, output;
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

int Drives(const Args &a) {
  const DriveTable table(a.images);
  std::string out = "[";
  for (const DriveInfo &d : table.Drives()) {
    DriveOpenStatus status;
    std::string message;
    const bool recorder = ProbeRecorderDisk(d.number, table, status, &message);
    if (status != DriveOpenStatus::Ok && status != DriveOpenStatus::NoSuchDrive)
      std::fprintf(stderr, "%s\n", message.c_str());
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
  uint32_t start = 0, end = 0;
  IndexBlockTime(0, source, start);
  IndexBlockTime(g.playEnd, source, end);
  const EventLog log = ReadEventLog(source);
  const uint32_t eventCount = log.headerRead ? log.header.eventCount : 0;
  if (a.json) {
    std::printf(
        "{\"recorder\": true, \"indexAreaMiB\": %u, \"dataBase\": %llu, \"indexCount\": %lld, "
        "\"playEnd\": %lld, "
        "\"start\": %s, \"end\": %s, \"startSeconds\": %u, \"endSeconds\": %u, \"eventCount\": "
        "%u}\n",
        g.indexAreaMiB, static_cast<unsigned long long>(g.dataBase),
        static_cast<long long>(g.indexCount), static_cast<long long>(g.playEnd),
        Json(FormatRecorderTime(int64_t{start})).c_str(),
        Json(FormatRecorderTime(int64_t{end})).c_str(), start, end, eventCount);
  } else {
    std::printf(
        "recorder disk  %s\nindex area     %u MiB\ndata base      %llu\nindex count    %lld\n"
        "played         %lld entries\nStart : %s\nEnd : %s\nevents         %u\n",
        disk.path.c_str(), g.indexAreaMiB, static_cast<unsigned long long>(g.dataBase),
        static_cast<long long>(g.indexCount), static_cast<long long>(g.playEnd),
        FormatRecorderTime(int64_t{start}).c_str(), FormatRecorderTime(int64_t{end}).c_str(),
        eventCount);
  }
  return kOk;
}

int Events(const Args &a) {
  DiskArg disk;
  std::string error;
  if (!ResolveDisk(a, 1, disk, error)) return Fail(kError, error);
  DiskSource source;
  DiskGeometry g;
  if (int rc = OpenRecorder(disk, source, g, false)) return rc;
  CEventList list;
  list.LoadEvents(source);
  const auto &rows = list.Rows();
  if (a.json) {
    std::string out = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
      if (i) out += ", ";
      out += "{\"num\": " + Json(rows[i][0]) + ", \"channel\": " + Json(rows[i][1]) +
             ", \"time\": " + Json(rows[i][2]) + ", \"type\": " + Json(rows[i][3]) +
             ", \"seconds\": " + std::to_string(list.Times()[i]) + "}";
    }
    std::printf("%s]\n", out.c_str());
  } else {
    const auto &h = CEventList::HeaderRow();
    std::printf("%-6s %-8s %-20s %s\n", h[0].c_str(), h[1].c_str(), h[2].c_str(), h[3].c_str());
    for (const auto &r : rows)
      std::printf("%-6s %-8s %-20s %s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
    if (rows.size() < list.EventCount())
      std::printf("(%zu of %u events could be read)\n", rows.size(), list.EventCount());
  }
  return kOk;
}

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
  const int64_t entry = SearchTime(source, g, target);
  if (a.json)
    std::printf("{\"target\": %u, \"entry\": %lld}\n", target, static_cast<long long>(entry));
  else
    std::printf("%s (%u): playing starts at entry %lld\n",
                FormatRecorderTime(int64_t{target}).c_str(), target, static_cast<long long>(entry));
  return kOk;
}

int Export(const Args &a) {
  DiskArg disk;
  std::string error;
  if (!ResolveDisk(a, 1, disk, error)) return Fail(kError, error);
  if (a.from.empty() || a.to.empty() || a.output.empty())
    return Fail(kError, "export needs --from, --to and -o");
  uint32_t from = 0, to = 0;
  if (!ParseWhen(a.from, from, error) || !ParseWhen(a.to, to, error)) return Fail(kError, error);
  {
    DiskSource source;
    DiskGeometry g;
    if (int rc = OpenRecorder(disk, source, g, true)) return rc;
  }
  DriveTable::SetProcess(disk.table);
  std::string stateMessage;
  CopyHDDThread copy(nullptr, disk.driveNumber, RecorderSecondsToSystemTime(from),
                     RecorderSecondsToSystemTime(to), a.output,
                     [&](const std::string &m) { stateMessage = m; });
  if (copy.Failure() == CopyFailure::StateError) return Fail(kStateError, kStateErrorText);
  const int64_t first = copy.StartEntry();
  const int64_t span = std::max<int64_t>(1, copy.Geometry().playEnd - first);
  auto lastReport = std::chrono::steady_clock::now();
  while (copy.Done() == 0 && !copy.Finished()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto now = std::chrono::steady_clock::now();
    if (now - lastReport >= std::chrono::milliseconds(500)) {
      lastReport = now;
      const int64_t at = std::clamp<int64_t>(copy.NextEntry() - first, 0, span);
      std::fprintf(stderr, "\rcopying: %lld entries written, index %lld%%",
                   static_cast<long long>(copy.EntriesWritten()),
                   static_cast<long long>(at * 100 / span));
    }
  }
  copy.WaitFor();
  std::fprintf(stderr, "\rcopying: %lld entries written, done        \n",
               static_cast<long long>(copy.EntriesWritten()));
  switch (copy.Failure()) {
    case CopyFailure::None:
      break;
    case CopyFailure::NotRecorderDisk:
      return Fail(kRejected, "Not a recorder disk: " + disk.path);
    case CopyFailure::NoEntries:
      return Fail(kRejected, "Nothing was recorded in the chosen span: no clip was written");
    case CopyFailure::EndBeforeStart:
      return Fail(kError, "--to is before --from: nothing is copied");
    default:
      return Fail(kError, copy.ErrorText());
  }
  if (a.json) {
    std::printf("{\"index\": %s, \"data\": %s, \"entries\": %lld, \"magic\": %s}\n",
                Json(copy.IndexPath()).c_str(), Json(copy.DataPath()).c_str(),
                static_cast<long long>(copy.EntriesWritten()),
                Json(Hex32(copy.ClipMagic())).c_str());
  } else {
    std::printf("%s + %s: %lld entries, magic %s\n", copy.IndexPath().c_str(),
                copy.DataPath().c_str(), static_cast<long long>(copy.EntriesWritten()),
                Hex32(copy.ClipMagic()).c_str());
  }
  return kOk;
}

int Clip(const Args &a) {
  if (a.positional.size() < 2) return Fail(kError, "no CLIP.in given");
  const std::string path = a.positional[1];
  CClipReader reader;
  if (!reader.OpenIndexOnly(path)) return Fail(kError, "Cannot open " + path);
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
    return Fail(kRejected, "Cannot open the clip's data file " + CompanionDataName(path));
  const std::string start = FormatRecorderTime(int64_t{first.time});
  const std::string end = FormatRecorderTime(int64_t{last.time});
  if (a.json)
    std::printf("{\"count\": %u, \"layout\": %d, \"start\": %s, \"end\": %s}\n", trailer.count,
                trailer.layout, Json(start).c_str(), Json(end).c_str());
  else
    std::printf("%s: %u entries, %s, %s .. %s\n", path.c_str(), trailer.count,
                trailer.layout ? "one channel (four-way picture)" : "interleaved channels",
                start.c_str(), end.c_str());
  return kOk;
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
