// "orvan-cli report SOURCE -o NAME.html|NAME.pdf": the examination report of
// a recorder disk (app/report/): case, evidence, recorder, events, pictures,
// exports and limitations in one document, in English or Russian. The
// report's own SHA-256 goes to the terminal and the JSON, not into the
// document.
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/core/language.h"
#include "app/report/report_builder.h"
#include "app/report/report_file.h"
#include "recorder/recovery/disk_survey.h"
#include "tools/cli_commands.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {
namespace {

struct ExamReportOptions {
  SourceArg source;
  CommonSwitches switches;
  std::string output;
  std::string caseNumber;
  std::string examiner;
  std::string exports;
  std::string language = "en";
  bool hash = false;
  bool survey = false;
};

int Fail(int code, const std::string &message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return code;
}

int RunExamReport(const CommandLine &cli, const ExamReportOptions &o) {
  if (o.output.empty()) return cli.UsageFailure("report needs -o NAME.html or NAME.pdf");
  if (app::report::ReportFormatOfName(o.output) == app::report::ReportFormat::kUnknown)
    return cli.UsageFailure("the report's name must end in .html or .pdf: " + o.output);
  ResolvedSource where;
  std::string error;
  if (!ResolveSource(o.source, "SOURCE", where, error)) return Fail(kExitError, error);
  // The source stays open, and so known to the guarded output as a source,
  // until the report is written: no name of it can receive the report.
  DiskSource held;
  if (held.OpenPath(where.path) != DriveOpenStatus::Ok) return Fail(kExitError, held.LastError());
  // Refused before the disk is read.
  if (platform::CheckOutputPath(o.output, o.switches.Policy(), &error) !=
      platform::OutputStatus::kOk)
    return Fail(kExitError, error);

  // Qt's PDF writer and its fonts need a GUI application; none is shown.
  static int argc = 1;
  static char name[] = "orvan-cli";
  static char *argv[] = {name, nullptr};
  std::unique_ptr<QGuiApplication> gui;
  if (!QCoreApplication::instance()) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    gui = std::make_unique<QGuiApplication>(argc, argv);
  }

  const app::CCaptions captions =
      o.language == "ru" ? app::CCaptions(1, app::LoadLanguageTexts()) : app::CCaptions();
  app::report::BuildOptions build;
  build.caseNumber = o.caseNumber;
  build.examiner = o.examiner;
  build.hash = o.hash;
  build.exportsDir = o.exports;
  const bool progress = o.hash && isatty(STDERR_FILENO) == 1;
  auto last = std::chrono::steady_clock::now();
  build.hashProgress = [&](uint64_t done, uint64_t total) {
    if (!progress) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - last < std::chrono::milliseconds(250)) return;
    last = now;
    std::fprintf(stderr, "\rhashing: %3d%%", total ? int(done * 100 / total) : 100);
  };
  app::report::ExamReport report;
  if (!app::report::BuildExamReport(where.path, build, report, &error)) {
    if (progress) std::fprintf(stderr, "\n");
    const bool rejected = error.rfind("Not a recorder disk", 0) == 0;
    return Fail(rejected ? kExitRejected : kExitError, error);
  }
  if (progress) std::fprintf(stderr, "\rhashing: done\n");
  if (o.survey) {
    // What the disk holds beyond the live index, as `survey` finds it.
    recorder::DiskGeometry geometry;
    if (recorder::ReadGeometry(held, geometry) == recorder::GeometryStatus::Ok)
      report.beyond =
          app::report::BeyondIndexOf(recorder::SurveyDisk(held, geometry, held.SizeBytes()));
  }
  std::string sha256;
  if (!app::report::WriteReportFile(report, captions, o.output, o.switches.Policy(), &sha256,
                                    &error))
    return Fail(kExitError, error);

  int failedExports = 0;
  for (const app::report::ExportSection &e : report.exports) failedExports += !e.AllPass();
  if (o.switches.json) {
    Json out = {{"report", o.output},
                {"sha256", sha256},
                {"source", report.evidence.path},
                {"events", report.events.size()},
                {"pictures", report.pictures.size()},
                {"exports", report.exports.size()},
                {"exportsFailing", failedExports},
                {"warnings", report.warnings}};
    if (report.evidence.hashed) {
      out["sourceSha256"] = report.evidence.sha256;
      out["sourceMd5"] = report.evidence.md5;
    }
    PrintJson(out);
  } else {
    std::printf("report   %s\nSHA-256  %s\n", o.output.c_str(), sha256.c_str());
    if (failedExports)
      std::printf("exports  %d of %zu do not verify\n", failedExports, report.exports.size());
    for (const std::string &w : report.warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
  }
  return kExitOk;
}

}  // namespace

void AddExamReportCommand(CommandLine &cli) {
  auto o = std::make_shared<ExamReportOptions>();
  Command &cmd = cli.AddCommand("report", "the examination report of a disk, as HTML or PDF",
                                [o, &cli] { return RunExamReport(cli, *o); });
  cmd.Source(o->source, "SOURCE", "a raw image, a block device or an E01 image")
      .Text("-o,--output", o->output, "NAME.html|NAME.pdf", "the report to write")
      .Text("--case", o->caseNumber, "TEXT", "the case number")
      .Text("--examiner", o->examiner, "TEXT", "the examiner")
      .Text("--exports", o->exports, "DIR", "list and verify every export manifest in DIR")
      .Flag("--hash", o->hash, "compute the source's SHA-256 and MD5 (reads the whole source)")
      .Flag("--survey", o->survey,
            "survey the disk and add what it holds beyond the live index (as `survey`)")
      .Value("--language", "en|ru", "the report's language (default en)",
             [o](const std::string &text, std::string &error) {
               if (text != "en" && text != "ru") {
                 error = "--language needs en or ru";
                 return false;
               }
               o->language = text;
               return true;
             });
  cmd.Common(o->switches);
  cmd.TooMany("more than one SOURCE");
  cmd.Footer(
      "One self-contained document: the case, the tool and its versions, the evidence and\n"
      "its hashes (--hash), the recorder's layout, span and per-channel timing, the event\n"
      "table, pictures of the recording and of its events, each export of --exports DIR\n"
      "with its files verified now, and the limitations. The report's own SHA-256 is\n"
      "printed, not written into it.");
}

}  // namespace orvan::tools
