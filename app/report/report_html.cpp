#include "app/report/report_html.h"

#include <cstdio>

#include "platform/wintime.h"

namespace orvan::app::report {
namespace {

constexpr TextKey kKindKeys[5] = {TextKey::Kind_RecStart, TextKey::Kind_PowerOn,
                                  TextKey::Kind_Alarm, TextKey::Kind_VideoLoss,
                                  TextKey::Kind_Motion};

std::string Escape(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\n':
        out += "<br />";
        break;
      default:
        // Control bytes are not allowed in XML text.
        if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t') out += ch;
        break;
    }
  }
  return out;
}

std::string Time(uint32_t seconds) { return FormatRecorderTime(int64_t{seconds}); }

std::string TimeMs(int64_t ms) {
  char tail[8];
  std::snprintf(tail, sizeof tail, ".%03d", int(ms % 1000));
  return FormatRecorderTime(ms / 1000) + tail;
}

class Writer {
 public:
  Writer(const ExamReport &r, const CCaptions &c, HtmlForm form) : r(r), c(c), form(form) {}

  std::string Write() {
    out += "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"";
    out += c.Language() == 1 ? "ru" : "en";
    out += "\">\n<head>\n<meta charset=\"utf-8\" />\n<title>" + T(TextKey::Rep_title);
    if (!r.caseInfo.caseNumber.empty()) out += " — " + Escape(r.caseInfo.caseNumber);
    out += "</title>\n<style>\n";
    out += form == HtmlForm::kBrowser ? kBrowserStyle : kDocumentStyle;
    out += "</style>\n</head>\n<body>\n";
    out += "<h1>" + T(TextKey::Rep_title) + "</h1>\n";
    Case();
    Evidence();
    Recorder();
    Events();
    if (r.beyond.filled) Beyond();
    Pictures();
    if (!r.findings.empty()) Findings();
    if (r.exportsAsked) Exports();
    if (r.hasLog) Log();
    Limitations();
    out += "</body>\n</html>\n";
    return out;
  }

 private:
  static constexpr const char *kBrowserStyle =
      "body{font-family:'DejaVu Sans',Arial,sans-serif;font-size:10pt;margin:2em;color:#000}\n"
      "h1{font-size:18pt}h2{font-size:14pt;border-bottom:1px solid #444;margin-top:1.5em}\n"
      "table{border-collapse:collapse;margin:0.5em 0}\n"
      "td,th{border:1px solid #999;padding:2px 6px;text-align:left;vertical-align:top}\n"
      "th{background:#eee}.mono{font-family:'DejaVu Sans Mono',monospace}\n"
      ".fail{color:#b00000;font-weight:bold}.pass{color:#006000}\n"
      "figure{display:inline-block;margin:4px;text-align:center}\n"
      "figcaption{font-size:8pt}\n"
      "table.pictures{width:100%;table-layout:fixed}table.pictures td{border:none}\n"
      "table.pictures figure{display:block;margin:2px}table.pictures img{width:100%;height:auto}\n"
      "@media print{body{margin:0;font-size:9pt}section{page-break-before:always}"
      "section.first{page-break-before:auto}tr,figure{page-break-inside:avoid}"
      "@page{size:A4;margin:15mm}}\n";
  static constexpr const char *kDocumentStyle =
      "body{font-family:'DejaVu Sans';font-size:9pt}h1{font-size:16pt}h2{font-size:12pt}\n"
      "th{background-color:#eeeeee}.mono{font-family:'DejaVu Sans Mono'}\n"
      ".fail{color:#b00000;font-weight:bold}\n";

  std::string T(TextKey key) const { return Escape(c.Text(key)); }

  void Section(TextKey title, bool first = false) {
    if (open) out += "</section>\n";
    out += first ? "<section class=\"first\">\n" : "<section>\n";
    out += "<h2>" + T(title) + "</h2>\n";
    open = true;
  }
  void EndSections() {
    if (open) out += "</section>\n";
    open = false;
  }
  void TableStart() { out += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\n"; }
  void Row(const std::string &label, const std::string &valueHtml) {
    out += "<tr><th>" + label + "</th><td>" + valueHtml + "</td></tr>\n";
  }
  void Head(std::initializer_list<std::string> cells) {
    out += "<tr>";
    for (const std::string &cell : cells) out += "<th>" + cell + "</th>";
    out += "</tr>\n";
  }
  void Cells(std::initializer_list<std::string> cells) {
    out += "<tr>";
    for (const std::string &cell : cells) out += "<td>" + cell + "</td>";
    out += "</tr>\n";
  }
  std::string Mono(const std::string &text) {
    return "<span class=\"mono\">" + Escape(text) + "</span>";
  }

  void Case() {
    Section(TextKey::Rep_case, true);
    TableStart();
    Row(T(TextKey::Rep_case_number), Escape(r.caseInfo.caseNumber));
    Row(T(TextKey::Rep_examiner), Escape(r.caseInfo.examiner));
    Row(T(TextKey::Rep_made), Escape(r.caseInfo.createdUtc));
    Row(T(TextKey::Rep_program), Escape(r.caseInfo.program));
    Row(T(TextKey::Rep_ffmpeg), Escape(r.caseInfo.ffmpegVersion));
    Row(T(TextKey::Rep_libewf), Escape(r.caseInfo.libewfVersion));
    Row(T(TextKey::Rep_machine), Escape(r.caseInfo.machine));
    out += "</table>\n";
  }

  void Evidence() {
    const EvidenceSection &e = r.evidence;
    Section(TextKey::Rep_evidence);
    TableStart();
    Row(T(TextKey::Rep_path), Mono(e.path));
    const TextKey kind = e.kind == "E01 image"      ? TextKey::Rep_kind_e01
                         : e.kind == "block device" ? TextKey::Rep_kind_device
                                                    : TextKey::Rep_kind_image;
    Row(T(TextKey::Rep_kind), T(kind));
    if (!e.segments.empty()) {
      std::string list;
      for (const std::string &s : e.segments) list += (list.empty() ? "" : "<br />") + Mono(s);
      Row(T(TextKey::Rep_segments), list);
    }
    if (!e.model.empty()) Row(T(TextKey::Rep_model), Escape(e.model));
    if (!e.serial.empty()) Row(T(TextKey::Rep_serial), Escape(e.serial));
    Row(T(TextKey::Rep_size), Escape(BytesText(c, e.sizeBytes)));
    Row("SHA-256", e.hashed ? Mono(e.sha256) : T(TextKey::Rep_not_hashed));
    Row("MD5", e.hashed ? Mono(e.md5) : T(TextKey::Rep_not_hashed));
    for (const EvidenceSection::StoredHash &s : e.stored) {
      std::string value = Mono(s.value);
      if (e.hashed)
        value += s.matches ? " — " + T(TextKey::Rep_matches)
                           : " — <span class=\"fail\">" + T(TextKey::Rep_mismatch) + "</span>";
      Row(Escape(Fill(c.Text(TextKey::Rep_stored_hash), s.name)), value);
    }
    Row(T(TextKey::Rep_access), T(TextKey::Rep_read_only));
    out += "</table>\n";
  }

  void Recorder() {
    const RecorderSection &rec = r.recorder;
    Section(TextKey::Rep_recorder);
    out += "<h3>" + T(TextKey::Rep_geometry) + "</h3>\n";
    TableStart();
    Row("indexAreaMiB", std::to_string(rec.geometry.indexAreaMiB));
    Row("dataBase", std::to_string(rec.geometry.dataBase));
    Row("indexCount", std::to_string(rec.geometry.indexCount));
    Row("playEnd", std::to_string(rec.geometry.playEnd));
    std::string span = T(TextKey::Rep_none);
    if (rec.firstSeconds && rec.lastSeconds)
      span = Escape(Time(*rec.firstSeconds) + " – " + Time(*rec.lastSeconds));
    Row(T(TextKey::Rep_span), span);
    out += "</table>\n";
    TableStart();
    Head({T(TextKey::Col_Channel), T(TextKey::Rep_pictures_col), T(TextKey::Rep_key_col),
          T(TextKey::Rep_codec), T(TextKey::Rep_picture_size), T(TextKey::Rep_pps),
          T(TextKey::Rep_gaps_col)});
    for (const ChannelSection &ch : rec.channels) {
      const bool any = ch.pictures > 0;
      const std::string none = T(TextKey::Rep_none);
      std::string pps = none, gaps = none;
      if (ch.picturesPerSecond.count > 0)
        pps = std::to_string(ch.picturesPerSecond.median) + " (" +
              std::to_string(ch.picturesPerSecond.min) + "–" +
              std::to_string(ch.picturesPerSecond.max) + ")";
      if (any)
        gaps = std::to_string(ch.gapCount) + " (" +
               Escape(Fill(c.Text(TextKey::Rep_gaps), std::to_string(ch.gapThresholdMs))) + ")";
      const std::string size =
          ch.width > 0 ? std::to_string(ch.width) + " × " + std::to_string(ch.height) : none;
      Cells({std::to_string(ch.channel), std::to_string(ch.pictures),
             std::to_string(ch.keyPictures), any ? Escape(ch.codec) : none, size, pps, gaps});
    }
    out += "</table>\n";
    for (const ChannelSection &ch : rec.channels) {
      if (ch.gapsMs.empty()) continue;
      out += "<p>" + Escape(Fill(c.Text(TextKey::Rep_gap_list), std::to_string(ch.channel))) +
             ":<br />";
      for (const auto &[from, to] : ch.gapsMs)
        out += Escape(TimeMs(from) + " – " + TimeMs(to)) + "<br />";
      out += "</p>\n";
    }
  }

  void Events() {
    Section(TextKey::Rep_events);
    if (r.events.empty()) {
      out += "<p>" + T(TextKey::Rep_no_events) + "</p>\n";
      return;
    }
    TableStart();
    Head(
        {T(TextKey::Col_Num), T(TextKey::Col_Channel), T(TextKey::Col_Time), T(TextKey::Col_Type)});
    for (size_t i = 0; i < r.events.size(); ++i) {
      const auto &row = r.events[i];
      const int kind = i < r.eventKinds.size() ? r.eventKinds[i] : 0;
      const std::string type = kind >= 1 && kind <= 5 ? T(kKindKeys[kind - 1]) : Escape(row[3]);
      Cells({Escape(row[0]), Escape(row[1]), Escape(row[2]), type});
    }
    out += "</table>\n";
  }

  void Beyond() {
    const BeyondIndexSection &b = r.beyond;
    auto span = [&](const std::optional<std::pair<uint32_t, uint32_t>> &s) {
      return s ? " (" + Escape(Time(s->first) + " – " + Time(s->second)) + ")" : std::string();
    };
    Section(TextKey::Rep_beyond);
    TableStart();
    Row(T(TextKey::Rep_held_back), std::to_string(b.heldBackEntries) + span(b.heldBackSpan));
    Row(T(TextKey::Rep_stale), std::to_string(b.staleEntries) + ": " + T(TextKey::Rep_intact) +
                                   " " + std::to_string(b.staleIntact) + ", " +
                                   T(TextKey::Rep_overwritten) + " " +
                                   std::to_string(b.staleOverwritten));
    if (b.staleFirstLast) Row(T(TextKey::Rep_first_last), span(b.staleFirstLast));
    for (const auto &s : b.staleSpans) Row(T(TextKey::Rep_span), span(s));
    Row(T(TextKey::Rep_unreferenced), Escape(BytesText(c, b.unreferencedBytes)));
    if (b.unreferencedPictures >= 0)
      Row(T(TextKey::Rep_unref_pictures), std::to_string(b.unreferencedPictures));
    Row(T(TextKey::Rep_unreadable_index), std::to_string(b.unreadableIndexSectors));
    out += "</table>\n";
  }

  std::string Image(const QByteArray &jpeg) {
    const size_t n = pictureNumber++;
    if (jpeg.isEmpty()) return "<p>" + T(TextKey::Rep_no_picture) + "</p>";
    const std::string src = form == HtmlForm::kBrowser
                                ? "data:image/jpeg;base64," + jpeg.toBase64().toStdString()
                                : PictureResourceName(n);
    // The document's pictures are sized in its own units: four fit a row.
    const std::string width = form == HtmlForm::kQtDocument ? " width=\"150\"" : "";
    return "<img src=\"" + src + "\"" + width + " alt=\"\" />";
  }

  void Pictures() {
    Section(TextKey::Rep_pictures);
    if (r.pictures.empty()) {
      out += "<p>" + T(TextKey::Rep_no_picture) + "</p>\n";
      return;
    }
    // Four to a row in a table: QTextDocument knows no inline blocks.
    out += "<table class=\"pictures\" cellspacing=\"0\" cellpadding=\"3\">\n";
    int inRow = 0;
    for (const Thumbnail &t : r.pictures) {
      if (inRow == 0) out += "<tr>";
      std::string what = t.what == TextKey::Rep_event_at
                             ? Fill(c.Text(t.what), std::to_string(t.eventNumber))
                             : c.Text(t.what);
      out += "<td><figure>" + Image(t.jpeg) + "<figcaption>" + T(TextKey::Col_Channel) + " " +
             std::to_string(t.channel) + ", " + Escape(what) + "<br />" +
             Escape(Time(t.recorderSeconds)) + "</figcaption></figure></td>";
      if (++inRow == 4) {
        out += "</tr>\n";
        inRow = 0;
      }
    }
    if (inRow) out += "</tr>\n";
    out += "</table>\n";
  }

  void Findings() {
    Section(TextKey::Rep_findings);
    TableStart();
    Head({T(TextKey::Col_Time), T(TextKey::Col_Channel), T(TextKey::Rep_note),
          T(TextKey::Rep_picture)});
    for (const Finding &f : r.findings)
      Cells({Escape(Time(f.recorderSeconds)),
             f.channel >= 1 ? std::to_string(f.channel) : std::string("1\u20134"), Escape(f.note),
             Image(f.jpeg)});
    out += "</table>\n";
  }

  void Exports() {
    Section(TextKey::Rep_exports);
    if (r.exports.empty()) out += "<p>" + T(TextKey::Rep_no_exports) + "</p>\n";
    for (const ExportSection &e : r.exports) {
      out += "<h3>" + T(TextKey::Rep_manifest) + ": " + Mono(e.manifest) + "</h3>\n";
      if (!e.readable) {
        out += "<p class=\"fail\">" +
               Escape(Fill(c.Text(TextKey::Rep_unreadable_manifest), e.error)) + "</p>\n";
        continue;
      }
      out += "<p>" + T(TextKey::Rep_span) + ": " +
             Escape(Time(e.fromSeconds) + " – " + FormatRecorderTime(e.toSeconds)) + "</p>\n";
      TableStart();
      Head({T(TextKey::Rep_file), T(TextKey::Rep_size), "SHA-256", T(TextKey::Rep_verify)});
      for (const ExportSection::File &f : e.files) {
        const std::string verdict =
            f.ok ? "<span class=\"pass\">" + T(TextKey::Rep_passes) + "</span>"
                 : "<span class=\"fail\">" + Escape(Fill(c.Text(TextKey::Rep_fails), f.problem)) +
                       "</span>";
        Cells({Mono(f.name), Escape(BytesText(c, f.sizeBytes)), Mono(f.sha256), verdict});
      }
      out += "</table>\n";
    }
  }

  void Log() {
    Section(TextKey::Rep_log);
    TableStart();
    Head({T(TextKey::Rep_log_time), T(TextKey::Rep_log_action), T(TextKey::Rep_log_params)});
    for (const CaseLogEntry &e : r.log)
      Cells({Escape(e.utc), T(e.action), Escape(ParamsText(e.params))});
    out += "</table>\n";
  }

  void Limitations() {
    Section(TextKey::Rep_limitations);
    out += "<ul>\n<li>" + T(TextKey::Rep_limit_clock) + "</li>\n<li>" + T(TextKey::Rep_limit_key) +
           "</li>\n<li>" + T(TextKey::Rep_limit_overwritten) + "</li>\n</ul>\n";
    if (!r.warnings.empty()) {
      out += "<ul>\n";
      for (const std::string &w : r.warnings) out += "<li>" + Escape(w) + "</li>\n";
      out += "</ul>\n";
    }
    EndSections();
  }

  const ExamReport &r;
  const CCaptions &c;
  const HtmlForm form;
  std::string out;
  bool open = false;
  size_t pictureNumber = 0;
};

}  // namespace

std::string Fill(std::string text, const std::string &a, const std::string &b) {
  for (const auto &[mark, value] : {std::pair<std::string, const std::string &>{"%1", a},
                                    std::pair<std::string, const std::string &>{"%2", b}}) {
    const size_t at = text.find(mark);
    if (at != std::string::npos) text.replace(at, mark.size(), value);
  }
  return text;
}

std::string BytesText(const CCaptions &captions, uint64_t bytes) {
  return Fill(captions.Text(TextKey::Size_bytes), std::to_string(bytes));
}

std::string PictureResourceName(size_t n) { return "report-picture:" + std::to_string(n); }

std::string ReportHtml(const ExamReport &report, const CCaptions &captions, HtmlForm form) {
  return Writer(report, captions, form).Write();
}

}  // namespace orvan::app::report
