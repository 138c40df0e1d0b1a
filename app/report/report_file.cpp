#include "app/report/report_file.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <cctype>

#include "app/report/report_html.h"
#include "platform/digest.h"

namespace orvan::app::report {
namespace {

bool EndsWith(std::string text, const std::string &tail) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char ch) { return char(std::tolower(ch)); });
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

ReportFormat ReportFormatOfName(const std::string &path) {
  if (EndsWith(path, ".html") || EndsWith(path, ".htm")) return ReportFormat::kHtml;
  if (EndsWith(path, ".pdf")) return ReportFormat::kPdf;
  return ReportFormat::kUnknown;
}

QByteArray ReportPdf(const ExamReport &report, const CCaptions &captions) {
  QByteArray pdf;
  QBuffer buffer(&pdf);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
  writer.setResolution(300);
  writer.setTitle(QString::fromStdString(captions.Text(TextKey::Rep_title)));
  writer.setCreator(QString::fromStdString(report.caseInfo.program));

  QTextDocument doc;
  doc.documentLayout()->setPaintDevice(&writer);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSizeF(9);
  doc.setDefaultFont(font);
  // The pictures, by the names the document's form of the HTML gives them.
  size_t n = 0;
  auto add = [&](const QByteArray &jpeg) {
    const size_t at = n++;
    if (jpeg.isEmpty()) return;
    QImage image = QImage::fromData(jpeg, "JPG");
    doc.addResource(QTextDocument::ImageResource,
                    QUrl(QString::fromStdString(PictureResourceName(at))), image);
  };
  for (const Thumbnail &t : report.pictures) add(t.jpeg);
  for (const Finding &f : report.findings) add(f.jpeg);
  doc.setHtml(QString::fromStdString(ReportHtml(report, captions, HtmlForm::kQtDocument)));

  const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
  const qreal width = page.width();
  const qreal band = writer.resolution() * 10 / 25.4;  // 10 mm for the header, and the footer
  const qreal body = page.height() - 2 * band;
  doc.setPageSize(QSizeF(width, body));
  const int pages = doc.pageCount();

  QFont small(QStringLiteral("DejaVu Sans"));
  small.setPointSizeF(8);
  const QString header = QString::fromStdString(captions.Text(TextKey::Rep_case_number) + ": " +
                                                report.caseInfo.caseNumber + "    " +
                                                captions.Text(TextKey::Rep_title));
  QPainter painter(&writer);
  for (int p = 0; p < pages; ++p) {
    if (p > 0) writer.newPage();
    painter.setFont(small);
    painter.drawText(QRectF(0, 0, width, band * 0.8), Qt::AlignLeft | Qt::AlignTop, header);
    painter.drawLine(QPointF(0, band * 0.8), QPointF(width, band * 0.8));
    const std::string footer =
        Fill(captions.Text(TextKey::Rep_page), std::to_string(p + 1), std::to_string(pages));
    painter.drawText(QRectF(0, band + body, width, band), Qt::AlignHCenter | Qt::AlignBottom,
                     QString::fromStdString(footer));
    painter.save();
    painter.translate(0, band - p * body);
    doc.drawContents(&painter, QRectF(0, p * body, width, body));
    painter.restore();
  }
  painter.end();
  return pdf;
}

bool WriteReportFile(const ExamReport &report, const CCaptions &captions, const std::string &path,
                     platform::ReplacePolicy policy, std::string *sha256, std::string *error) {
  QByteArray bytes;
  switch (ReportFormatOfName(path)) {
    case ReportFormat::kHtml:
      bytes = QByteArray::fromStdString(ReportHtml(report, captions, HtmlForm::kBrowser));
      break;
    case ReportFormat::kPdf:
      bytes = ReportPdf(report, captions);
      break;
    case ReportFormat::kUnknown:
      if (error) *error = "the report's name must end in .html or .pdf: " + path;
      return false;
  }
  if (!platform::WriteOutputFile(path, bytes.constData(), size_t(bytes.size()), policy, error))
    return false;
  if (sha256) {
    platform::Sha256 digest;
    digest.Update(bytes.constData(), size_t(bytes.size()));
    *sha256 = platform::HexOf(digest.Final());
  }
  return true;
}

}  // namespace orvan::app::report
