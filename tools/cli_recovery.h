// What the survey, recover and carve commands share: opening a recorder
// disk for them, the survey run with a progress line, its JSON, and the
// progress line itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/recovery/disk_survey.h"
#include "tools/cli_report.h"
#include "tools/command_line.h"
#include "tools/json_writer.h"

namespace orvan::tools {

struct OpenedDisk {
  std::string path;
  DiskSource source;
  recorder::DiskGeometry geometry;
  uint64_t bytes = 0;
  DamageReport damage;  // what opening found (a truncated image)
};

// Opens the source and reads its geometry; 0, or the exit code after the
// message was printed.
int OpenRecorderDisk(const SourceArg &source, OpenedDisk &disk);

// A progress line on stderr with the rate and the time left, shown only on
// a terminal, at most twice a second.
class ProgressLine {
 public:
  explicit ProgressLine(std::string what);
  ~ProgressLine();
  void Show(const std::string &phase, uint64_t done, uint64_t total);
  void Done();

 private:
  const std::string m_what;
  const bool m_terminal;
  std::chrono::steady_clock::time_point m_began, m_last;
  std::string m_phase;
  std::chrono::steady_clock::time_point m_phaseBegan;
  bool m_shown = false;
};

recorder::DiskSurvey RunSurveyWithProgress(OpenedDisk &disk, bool keepRecoverable);

Json SurveyJson(const std::string &path, const recorder::DiskSurvey &survey,
                const DamageReport &damage);

Json SpanJson(const recorder::SurveySpan &span, int number);

// "12.3 MiB" and the like.
std::string FormatBytes(uint64_t bytes);

}  // namespace orvan::tools
