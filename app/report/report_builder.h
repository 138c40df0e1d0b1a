// Gathers the examination report of one recorder disk: the case, the
// evidence (with its hashes when asked), the recorder's layout, span and
// per-channel timing, the event table, pictures of the recording and of the
// events, and the exports of a folder with their verification now.
//
// The index is read twice, front to back, without the records (the timing
// analysis's two passes); only the key pictures shown are read and decoded.
//
// Threads: the caller's; the source is used by this call alone meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/report/exam_report.h"
#include "recorder/recovery/disk_survey.h"

namespace orvan::app::report {

struct BuildOptions {
  std::string caseNumber;
  std::string examiner;
  bool hash = false;       // SHA-256 and MD5 of the whole source
  std::string exportsDir;  // every *.manifest.json in it; empty: none
  size_t maxEventPictures = 24;
  // Called on the building thread while hashing, with the bytes done.
  std::function<void(uint64_t doneBytes, uint64_t totalBytes)> hashProgress;
};

// False, with *error for the user, when the source cannot be opened or is
// no recorder disk (no report is made then).
bool BuildExamReport(const std::string &sourcePath, const BuildOptions &options, ExamReport &report,
                     std::string *error);

// The exports section of one manifest: its span and files, each verified now.
ExportSection ReadExport(const std::string &manifestPath);
// Every *.manifest.json of `folder`, in name order.
std::vector<ExportSection> ReadExports(const std::string &folder);

// This machine's name.
std::string MachineName();

// "Beyond the index" from a survey of the same source; carvedPictures: the
// pictures a carve found in its unreferenced stretches (-1: none was run).
BeyondIndexSection BeyondIndexOf(const recorder::DiskSurvey &survey, int64_t carvedPictures = -1);

}  // namespace orvan::app::report
