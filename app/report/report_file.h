// The report's documents: HTML (a browser's, pictures embedded) or PDF
// (Qt's own PDF writer: A4, the case number in every page's header, page
// numbers), from the same content, written through the guarded output.
//
// The PDF needs a QGuiApplication (fonts); the caller makes one.
// Threads: the main thread (Qt's text layout and PDF writer).
#pragma once

#include <QByteArray>
#include <string>

#include "app/core/language.h"
#include "app/report/exam_report.h"
#include "platform/output_file.h"

namespace orvan::app::report {

enum class ReportFormat { kHtml, kPdf, kUnknown };
// By the name's ending (.html, .htm, .pdf, in any case).
ReportFormat ReportFormatOfName(const std::string &path);

// The PDF's bytes.
QByteArray ReportPdf(const ExamReport &report, const CCaptions &captions);

// Writes the report to `path` in the form its name says. False, with
// *error, when the name has no known ending or the file cannot be written.
// *sha256 (when given) receives the SHA-256 of the file written.
bool WriteReportFile(const ExamReport &report, const CCaptions &captions, const std::string &path,
                     platform::ReplacePolicy policy, std::string *sha256, std::string *error);

}  // namespace orvan::app::report
