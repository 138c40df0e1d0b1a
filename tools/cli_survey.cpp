// "orvan-cli survey DISK": what the disk holds beyond the live recording
// (recorder/recovery/disk_survey.h): the live entries and the invalid runs
// inside them, the held-back entries, the stale entries an earlier recording
// left (intact or overwritten) and the spans they form, unreadable index
// sectors, and the data area's live, stale and unreferenced bytes.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/disk_source.h"
#include "platform/wintime.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/recovery/carver.h"
#include "recorder/recovery/disk_survey.h"
#include "recorder/recovery/recovery_export.h"
#include "tools/cli_commands.h"
#include "tools/cli_recovery.h"
#include "tools/cli_report.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {

using namespace orvan::recorder;

namespace {

struct SurveyCliOptions {
  SourceArg source;
  CommonSwitches switches;
};

std::string Percent(uint64_t part, uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", whole ? 100.0 * double(part) / double(whole) : 0.0);
  return text;
}

int RunSurvey(const SurveyCliOptions &o) {
  OpenedDisk disk;
  if (const int failed = OpenRecorderDisk(o.source, disk)) return failed;
  const DiskSurvey s = RunSurveyWithProgress(disk, false);
  if (s.stopped) return kExitError;
  DamageReport damage;
  for (const std::string &w : disk.damage.warnings) damage.Warn(w);
  if (s.unreadableIndexSectors)
    damage.Warn(std::to_string(s.unreadableIndexSectors) + " index sectors cannot be read");
  if (s.gone) damage.diskGone = true;

  if (o.switches.json) {
    PrintJson(SurveyJson(disk.path, s, damage));
  } else {
    const DiskGeometry &g = s.geometry;
    std::printf("%s: %s, index area %u MiB (%llu entries), data from byte %llu\n",
                disk.path.c_str(), FormatBytes(s.diskBytes).c_str(), g.indexAreaMiB,
                static_cast<unsigned long long>(s.indexAreaEntries),
                static_cast<unsigned long long>(g.dataBase));
    std::printf("live:      %lld entries (0 .. %lld), %s .. %s, %lld invalid in %zu runs\n",
                static_cast<long long>(s.live.entries), static_cast<long long>(g.playEnd - 1),
                FormatRecorderTime(int64_t{s.live.span.first}).c_str(),
                FormatRecorderTime(int64_t{s.live.span.last}).c_str(),
                static_cast<long long>(s.live.invalid), s.live.invalidRuns.size());
    for (const EntryRun &r : s.live.invalidRuns)
      std::printf("           invalid entries %lld .. %lld\n", static_cast<long long>(r.first),
                  static_cast<long long>(r.last));
    std::printf("held back: %lld entries (of %lld valid)%s%s%s\n",
                static_cast<long long>(s.heldBack.entries),
                static_cast<long long>(s.heldBack.valid), s.heldBack.span.Empty() ? "" : ", ",
                s.heldBack.span.Empty() ? "" : FormatRecorderTime(s.heldBack.span.first).c_str(),
                s.heldBack.span.Empty()
                    ? ""
                    : (" .. " + FormatRecorderTime(int64_t{s.heldBack.span.last})).c_str());
    if (s.stale.entries == 0) {
      std::printf("stale:     none (no entries of an earlier recording behind the index)\n");
    } else {
      std::printf("stale:     %lld entries, %lld intact, %lld overwritten, %s .. %s\n",
                  static_cast<long long>(s.stale.entries), static_cast<long long>(s.stale.intact),
                  static_cast<long long>(s.stale.overwritten),
                  FormatRecorderTime(int64_t{s.stale.first}).c_str(),
                  FormatRecorderTime(int64_t{s.stale.last}).c_str());
    }
    int number = 0;
    for (const SurveySpan &span : s.spans)
      std::printf("  span %d: %s, entries %lld .. %lld, %s .. %s, %lld valid, %lld recoverable\n",
                  ++number, OriginName(span.origin), static_cast<long long>(span.firstEntry),
                  static_cast<long long>(span.lastEntry),
                  FormatRecorderTime(int64_t{span.firstTime}).c_str(),
                  FormatRecorderTime(int64_t{span.lastTime}).c_str(),
                  static_cast<long long>(span.entries), static_cast<long long>(span.intact));
    const uint64_t area = s.DataAreaBytes();
    std::printf("data area: %s; live %s, intact stale %s, unreferenced %s\n",
                FormatBytes(area).c_str(), Percent(s.liveRecords.Bytes(), area).c_str(),
                Percent(s.intactRecords.Bytes(), area).c_str(),
                Percent(s.UnreferencedBytes(), area).c_str());
    if (s.skipped.Total())
      std::printf("skipped:   %llu entries outside the live recording that are not valid\n",
                  static_cast<unsigned long long>(s.skipped.Total()));
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

struct RecoverCliOptions {
  SourceArg source;
  CommonSwitches switches;
  std::string output;
  std::optional<uint32_t> from, to;
  std::vector<int> channels;
};

int RunRecover(const CommandLine &cli, const RecoverCliOptions &o) {
  if (o.output.empty()) return cli.UsageFailure("recover needs -o NAME.in, NAME.mkv or NAME.mp4");
  if (o.from && o.to && *o.to < *o.from) {
    std::fprintf(stderr, "--to is before --from\n");
    return kExitError;
  }
  if (RefuseOutputs({o.output}, o.switches.Policy())) return kExitError;
  OpenedDisk disk;
  if (const int failed = OpenRecorderDisk(o.source, disk)) return failed;
  const DiskSurvey s = RunSurveyWithProgress(disk, true);
  DamageReport damage;
  for (const std::string &w : disk.damage.warnings) damage.Warn(w);
  if (s.gone) {
    damage.diskGone = true;
    return damage.Finish(kExitError, o.switches.strict);
  }
  RecoverOptions options;
  options.format = ExportFormatOfName(o.output);
  if (!o.channels.empty()) {
    options.channelMask = 0;
    for (const int c : o.channels) options.channelMask |= 1u << (c - 1);
  }
  options.from = o.from;
  options.to = o.to;
  options.policy = o.switches.Policy();
  ProgressLine line("recover");
  options.progress = [&line](uint64_t done, uint64_t total) { line.Show("entries", done, total); };
  const SourceIdentity identity = IdentifySource(disk.source);
  const RecoveryResult r = RecoverEntries(disk.source, s, identity, o.output, options);
  line.Done();
  if (r.gone) damage.diskGone = true;
  if (r.unreadable)
    damage.Warn(std::to_string(r.unreadable) + " recoverable records cannot be read");
  if (!r.ok && r.files.empty()) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    if (r.gone) return damage.Finish(kExitError, o.switches.strict);
    return s.recoverable.empty() ? kExitRejected : kExitError;
  }
  if (o.switches.json) {
    Json spans = Json::array();
    for (const RecoveredSpanRecord &span : r.spans) spans.push_back(RecoveredSpanJson(span));
    Json files = Json::array();
    for (const ExportedFile &f : r.files)
      files.push_back(
          {{"path", f.path}, {"role", f.role}, {"sizeBytes", f.sizeBytes}, {"sha256", f.sha256}});
    Json j = {{"source", disk.path},
              {"recovered", true},
              {"format", ExportFormatName(options.format)},
              {"written", r.written},
              {"spans", spans},
              {"files", files},
              {"manifest", r.manifestPath}};
    damage.AddTo(j);
    PrintJson(j);
  } else {
    for (const RecoveredSpanRecord &span : r.spans)
      std::printf("span %d (%s): entries %lld .. %lld, %s .. %s, %lld written\n", span.number,
                  span.origin.c_str(), static_cast<long long>(span.firstEntry),
                  static_cast<long long>(span.lastEntry),
                  FormatRecorderTime(int64_t{span.firstSeconds}).c_str(),
                  FormatRecorderTime(int64_t{span.lastSeconds}).c_str(),
                  static_cast<long long>(span.entries));
    for (const ExportedFile &f : r.files)
      std::printf("%s  %s\n", f.sha256.empty() ? std::string(64, '-').c_str() : f.sha256.c_str(),
                  f.path.c_str());
  }
  if (!r.ok) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return kExitError;
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

struct CarveCliOptions {
  SourceArg source;
  CommonSwitches switches;
  std::string output;
  int64_t fromOffset = 0, toOffset = 0;
};

int RunCarve(const CommandLine &cli, const CarveCliOptions &o) {
  if (o.output.empty()) return cli.UsageFailure("carve needs -o DIR");
  if (o.toOffset && o.toOffset <= o.fromOffset) {
    std::fprintf(stderr, "--to-offset is not after --from-offset\n");
    return kExitError;
  }
  // The folder may exist; each file in it goes through the guarded output,
  // which refuses a source, a device and (without --overwrite) a file there.
  OpenedDisk disk;
  if (const int failed = OpenRecorderDisk(o.source, disk)) return failed;
  const DiskSurvey s = RunSurveyWithProgress(disk, false);
  DamageReport damage;
  for (const std::string &w : disk.damage.warnings) damage.Warn(w);
  if (s.gone) {
    damage.diskGone = true;
    return damage.Finish(kExitError, o.switches.strict);
  }
  CarveOptions options;
  options.outputDir = o.output;
  options.fromOffset = uint64_t(o.fromOffset);
  options.toOffset = uint64_t(o.toOffset);
  options.policy = o.switches.Policy();
  ProgressLine line("carve");
  options.progress = [&line](uint64_t done, uint64_t total) { line.Show("data", done, total); };
  const CarveResult r = CarveDisk(disk.source, s, IdentifySource(disk.source), options);
  line.Done();
  if (r.gone) damage.diskGone = true;
  if (r.skippedLost)
    damage.Warn(std::to_string(r.skippedLost) + " pictures lie on sectors that cannot be read");
  if (!r.ok && r.manifestPath.empty()) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return damage.Finish(kExitError, o.switches.strict);
  }
  if (o.switches.json) {
    Json pictures = Json::array();
    for (const CarvedPicture &p : r.pictures) pictures.push_back(CarvedPictureJson(p, false));
    Json j = {
        {"source", disk.path},      {"fromOffset", r.fromOffset},     {"toOffset", r.toOffset},
        {"stretches", r.stretches}, {"bytesScanned", r.bytesScanned}, {"candidates", r.candidates},
        {"rejected", r.rejected},   {"pictures", pictures},           {"manifest", r.manifestPath}};
    damage.AddTo(j);
    PrintJson(j);
  } else {
    for (const CarvedPicture &p : r.pictures)
      std::printf("%12llu  %6zu bytes  %-17s %dx%d  between %s and %s  %s\n",
                  static_cast<unsigned long long>(p.offset), p.size, p.kind.c_str(), p.width,
                  p.height, p.timeBefore ? FormatRecorderTime(int64_t{p.timeBefore}).c_str() : "-",
                  p.timeAfter ? FormatRecorderTime(int64_t{p.timeAfter}).c_str() : "-",
                  p.file.c_str());
    std::printf(
        "%zu pictures from %llu unreferenced stretches (%s read), %llu candidates refused\n",
        r.pictures.size(), static_cast<unsigned long long>(r.stretches),
        FormatBytes(r.bytesScanned).c_str(), static_cast<unsigned long long>(r.rejected));
  }
  if (!r.ok) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return kExitError;
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

}  // namespace

void AddSurveyCommand(CommandLine &cli) {
  auto o = std::make_shared<SurveyCliOptions>();
  Command &cmd = cli.AddCommand("survey", "what the disk holds beyond the live index",
                                [o] { return RunSurvey(*o); });
  cmd.Source(o->source, "DISK", "a disk image or block device");
  cmd.Common(o->switches);
  cmd.Footer(
      "One pass over the index area, then the starts of the records it could not judge by\n"
      "their entries. Live: entries 0 .. playEnd-1 and the invalid runs inside them. Held\n"
      "back: the 300 entries the state counts but the player never uses. Stale: entries from\n"
      "indexCount on that an earlier recording left; intact when no live or held-back record\n"
      "overlaps them and their record begins as their type says, overwritten otherwise.");

  auto r = std::make_shared<RecoverCliOptions>();
  Command &rec = cli.AddCommand("recover", "write the held-back and intact stale entries",
                                [r, &cli] { return RunRecover(cli, *r); });
  rec.Source(r->source, "DISK", "a disk image or block device")
      .Text("-o,--output", r->output, "NAME.in|NAME.mkv|NAME.mp4",
            "the clip, or the name of the media files (NAME_S1_CH1.mkv ...)",
            "-o needs a file name")
      .When("--from", r->from, "only entries recorded at or after this time")
      .When("--to", r->to, "only entries recorded before this time")
      .Numbers("--channel", r->channels, "N", "only channel N (repeatable; all by default)",
               "--channel needs a channel number, 1 to 4", 1, 4);
  rec.Common(r->switches);
  rec.Footer(
      "Writes what the survey finds recoverable, in index order: the held-back entries whose\n"
      "records begin as their types say, and the intact stale entries. Nothing overwritten\n"
      "is written. A clip holds them all; Matroska and MP4 give one file per span and\n"
      "channel, each from the channel's first key picture in the span. NAME.manifest.json\n"
      "(\"recovered\": true, each span's origin, entries and times, every file's SHA-256)\n"
      "and NAME.frames.csv are written beside them; `verify` checks the manifest.");

  auto k = std::make_shared<CarveCliOptions>();
  Command &carve = cli.AddCommand("carve", "pictures in the data area no entry points to",
                                  [k, &cli] { return RunCarve(cli, *k); });
  carve.Source(k->source, "DISK", "a disk image or block device")
      .Text("-o,--output", k->output, "DIR",
            "the folder the pictures and carve.manifest.json go to", "-o needs a folder")
      .Number("--from-offset", k->fromOffset, "B", "carve from this disk offset (bytes)",
              "--from-offset needs a byte offset", int64_t{0}, INT64_MAX)
      .Number("--to-offset", k->toOffset, "B", "carve up to this disk offset (bytes)",
              "--to-offset needs a byte offset", int64_t{0}, INT64_MAX);
  carve.Common(k->switches);
  carve.Footer(
      "Reads the stretches of the data area that no valid entry (live, held back or stale)\n"
      "points into, and keeps the MPEG-4 key pictures and JPEG pictures there that decode on\n"
      "their own: DIR/<disk offset>.png each, and DIR/carve.manifest.json with every\n"
      "picture's offset, size, kind, SHA-256 and the times of the nearest referenced\n"
      "records before and after it on the disk. The whole data area unless a range is given.");
}

}  // namespace orvan::tools
