// The examination report as one HTML document. Every text is escaped; the
// document is well-formed XML (XHTML served as HTML), so any parser reads it.
//
// Two forms of the same content:
//   - kBrowser: pictures embedded as data: URIs, a print style sheet with a
//     page break before each section: the HTML report itself;
//   - kQtDocument: pictures named "report-picture:N" (N counting the
//     report's pictures, then its findings), for QTextDocument, which the
//     PDF writer fills with the same pictures (report_pdf.h).
#pragma once

#include <string>

#include "app/core/language.h"
#include "app/report/exam_report.h"

namespace orvan::app::report {

enum class HtmlForm { kBrowser, kQtDocument };

std::string ReportHtml(const ExamReport &report, const CCaptions &captions, HtmlForm form);

// A resource name of the Qt document's pictures.
std::string PictureResourceName(size_t n);

// "%1 bytes" with the count, in the captions' language.
std::string BytesText(const CCaptions &captions, uint64_t bytes);
// The text with %1, %2 replaced.
std::string Fill(std::string text, const std::string &a, const std::string &b = "");

}  // namespace orvan::app::report
