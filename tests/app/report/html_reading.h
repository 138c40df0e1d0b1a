// Reading a report's HTML back as a reader's program would: parsed as the
// XML it must be, its tables as rows of cell texts, its pictures' sources.
#pragma once

#include <QString>
#include <QXmlStreamReader>
#include <string>
#include <vector>

namespace orvan::test {

struct ReadHtml {
  bool parsed = false;
  std::string error;
  std::vector<std::vector<std::string>> rows;  // every table row, header rows too
  std::vector<std::string> imageSources;
  std::string text;  // all text, with a space between elements
};

inline ReadHtml ParseReportHtml(const std::string &html) {
  ReadHtml out;
  // The doctype line is HTML's; the rest is XML.
  QXmlStreamReader xml(QString::fromStdString(html));
  std::vector<std::string> row;
  std::string cell;
  int inCell = 0;
  bool inStyle = false;  // the style sheet is no text of the document
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      const QString name = xml.name().toString();
      if (name == "tr") row.clear();
      if (name == "style") inStyle = true;
      if (name == "td" || name == "th") {
        ++inCell;
        cell.clear();
      }
      if (name == "img")
        out.imageSources.push_back(xml.attributes().value("src").toString().toStdString());
    } else if (xml.isEndElement()) {
      const QString name = xml.name().toString();
      if ((name == "td" || name == "th") && inCell > 0) {
        --inCell;
        row.push_back(cell);
      }
      if (name == "tr") out.rows.push_back(row);
      if (name == "style") inStyle = false;
      out.text += ' ';
    } else if (xml.isCharacters() && !inStyle) {
      const std::string t = xml.text().toString().toStdString();
      out.text += t;
      if (inCell) cell += t;
    }
  }
  out.parsed = !xml.hasError();
  if (xml.hasError())
    out.error = xml.errorString().toStdString() + " at line " + std::to_string(xml.lineNumber());
  return out;
}

}  // namespace orvan::test
