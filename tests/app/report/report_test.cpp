// orvan-cli report on sample recordings, its documents read back as their
// readers would: the PDF through pdftotext, the HTML through an XML reader,
// the pictures decoded, the exports' files changed under it.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "app/core/configuration.h"
#include "app/core/language.h"
#include "app/report/report_html.h"
#include "platform/digest.h"
#include "platform/disk_source.h"
#include "platform/wintime.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/event_list.h"
#include "tests/app/report/html_reading.h"
#include "tests/support/ewf_writer.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"
#include "tools/sample_recording.h"

namespace {

using orvan::test::RunProgram;
using orvan::test::RunTool;
using orvan::test::TempDir;

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string FileSha256(const std::string &path) {
  orvan::platform::Sha256Digest digest{};
  uint64_t bytes = 0;
  EXPECT_TRUE(orvan::platform::FileSha256(path, digest, bytes, nullptr)) << path;
  return orvan::platform::HexOf(digest);
}

// pdftotext of a PDF, the ligatures its fonts form undone.
std::string PdfText(const std::string &pdf) {
  const orvan::test::ToolResult r = RunProgram("pdftotext", {"-layout", pdf, "-"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string text = r.out;
  for (const auto &[from, to] : std::vector<std::pair<std::string, std::string>>{
           {"\xef\xac\x80", "ff"}, {"\xef\xac\x81", "fi"}, {"\xef\xac\x82", "fl"}}) {
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  }
  return text;
}

// One recording shared by the tests: 20 s, four channels, six events.
class ReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir;
    orvan::tools::SampleOptions options;
    options.outputPath = dir->File("disk.img");
    options.durationSeconds = 20;
    options.events = 6;
    std::string error;
    ASSERT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
    disk = options.outputPath;
    // Pictures per channel, counted from the index itself.
    orvan::DiskSource source;
    ASSERT_EQ(source.OpenPath(disk), orvan::DriveOpenStatus::Ok);
    orvan::recorder::DiskGeometry g;
    ASSERT_EQ(orvan::recorder::ReadGeometry(source, g), orvan::recorder::GeometryStatus::Ok);
    for (int64_t n = 0; n < g.playEnd; ++n) {
      orvan::recorder::IndexEntry e;
      ASSERT_TRUE(orvan::recorder::ReadIndexEntry(source, n, e));
      if (e.type != orvan::recorder::kTypeAudio && orvan::recorder::IsKnownRecordType(e.type))
        ++pictures[e.channel & 3];
    }
    orvan::recorder::CEventList list;
    list.LoadEvents(source);
    events = list.Rows();
  }
  static void TearDownTestSuite() {
    delete dir;
    dir = nullptr;
  }

  static TempDir *dir;
  static std::string disk;
  static orvan::tools::SampleSummary summary;
  static std::array<int64_t, 4> pictures;
  static std::vector<orvan::recorder::CEventList::Row> events;
};
TempDir *ReportTest::dir = nullptr;
std::string ReportTest::disk;
orvan::tools::SampleSummary ReportTest::summary;
std::array<int64_t, 4> ReportTest::pictures{};
std::vector<orvan::recorder::CEventList::Row> ReportTest::events;

TEST_F(ReportTest, pdf_showsTheHashesVersionSpanPictureCountsAndEveryEventRow) {
  const std::string pdf = dir->File("report.pdf");
  const auto r = RunTool("orvan-cli", {"report", disk, "-o", pdf, "--case", "K-17/2026",
                                       "--examiner", "I. Petrova", "--hash", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const nlohmann::json out = nlohmann::json::parse(r.out);
  // The report's own hash is the terminal's and the JSON's, not the document's.
  EXPECT_EQ(out["sha256"], FileSha256(pdf));
  const std::string text = PdfText(pdf);
  EXPECT_EQ(text.find(out["sha256"].get<std::string>()), std::string::npos);

  EXPECT_NE(text.find(FileSha256(disk)), std::string::npos) << "the source's SHA-256";
  EXPECT_NE(text.find(out["sourceMd5"].get<std::string>()), std::string::npos);
  EXPECT_NE(text.find("ORVAN Viewer " + orvan::app::ProgramVersionText()), std::string::npos);
  EXPECT_NE(text.find(orvan::FormatRecorderTime(int64_t{summary.firstTime}) + " – " +
                      orvan::FormatRecorderTime(int64_t{summary.lastTime})),
            std::string::npos)
      << "the recorded span";
  EXPECT_NE(text.find("I. Petrova"), std::string::npos);

  // The channel table: a line per channel starting with its number and
  // its picture count.
  std::istringstream lines(text);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  for (int c = 0; c < 4; ++c) {
    bool found = false;
    for (const std::string &line : all) {
      std::istringstream words(line);
      std::string channel, count;
      words >> channel >> count;
      found = found || (channel == std::to_string(c + 1) && count == std::to_string(pictures[c]) &&
                        line.find("MPEG-4") != std::string::npos);
    }
    EXPECT_TRUE(found) << "channel " << c + 1 << " with " << pictures[c] << " pictures";
  }
  ASSERT_EQ(events.size(), 6u);
  for (const auto &row : events) {
    bool found = false;
    for (const std::string &line : all) {
      std::istringstream words(line);
      std::string num, channel;
      words >> num >> channel;
      found = found || (num == row[0] && channel == row[1] &&
                        line.find(row[2] + " " + row[3]) != std::string::npos);
    }
    EXPECT_TRUE(found) << "event row " << row[0] << " " << row[2] << " " << row[3];
  }
  // A4 pages, each with the case number in its header and its number.
  std::vector<std::string> pages;
  std::string page;
  for (char ch : text) {
    if (ch == '\f') {
      pages.push_back(page);
      page.clear();
    } else {
      page += ch;
    }
  }
  ASSERT_GE(pages.size(), 2u);
  for (size_t p = 0; p < pages.size(); ++p) {
    EXPECT_NE(pages[p].find("Case number: K-17/2026"), std::string::npos) << "page " << p + 1;
    EXPECT_NE(
        pages[p].find("Page " + std::to_string(p + 1) + " of " + std::to_string(pages.size())),
        std::string::npos);
  }
  const auto info = RunProgram("pdfinfo", {pdf});
  EXPECT_NE(info.out.find("(A4)"), std::string::npos) << info.out;
}

TEST_F(ReportTest, html_parsesAndEveryPictureIsEmbeddedAndDecodes) {
  const std::string html = dir->File("report.html");
  const auto r = RunTool("orvan-cli", {"report", disk, "-o", html, "--case", "A&B <1>"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(FileSha256(html)), std::string::npos) << r.out;
  const std::string text = ReadAll(html);
  const orvan::test::ReadHtml read = orvan::test::ParseReportHtml(text);
  ASSERT_TRUE(read.parsed) << read.error;
  EXPECT_NE(read.text.find("A&B <1>"), std::string::npos) << "the case number, escaped";
  EXPECT_NE(text.find("@media print"), std::string::npos);
  EXPECT_NE(text.find("page-break-before:always"), std::string::npos);
  // First, middle and last key picture of each channel, and each event's.
  EXPECT_EQ(read.imageSources.size(), 4 * 3 + events.size());
  const std::string prefix = "data:image/jpeg;base64,";
  for (const std::string &src : read.imageSources) {
    ASSERT_EQ(src.rfind(prefix, 0), 0u) << src.substr(0, 40);
    const QImage picture = QImage::fromData(
        QByteArray::fromBase64(QByteArray::fromStdString(src.substr(prefix.size()))), "JPG");
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), 240);
  }
  // Captions with recorder times; without --hash the hashes are not claimed.
  EXPECT_NE(read.text.find("first key picture"), std::string::npos);
  EXPECT_NE(read.text.find(orvan::FormatRecorderTime(int64_t{summary.firstTime})),
            std::string::npos);
  EXPECT_NE(read.text.find("not computed"), std::string::npos);
  EXPECT_NE(read.text.find("opened read-only"), std::string::npos);
  EXPECT_EQ(read.text.find("Beyond the index"), std::string::npos) << "no survey was run";
}

TEST_F(ReportTest, exports_listEveryFileWithItsHashAndVerify_andAChangedByteFails) {
  TempDir exports;
  const uint32_t from = summary.firstTime + 2, to = summary.firstTime + 6;
  for (const std::string name : {"clip.in", "media.mkv"}) {
    const auto e = RunTool("orvan-cli", {"export", disk, "--from", std::to_string(from), "--to",
                                         std::to_string(to), "-o", exports.File(name)});
    ASSERT_EQ(e.exitCode, 0) << e.err;
  }
  // A damaged manifest and a foreign one are listed as unreadable.
  std::ofstream(exports.File("broken.manifest.json")) << "{\"files\": [";
  std::ofstream(exports.File("other.manifest.json")) << "{\"name\": \"not ours\"}";

  auto report = [&](const std::string &name) {
    const std::string html = dir->File(name);
    const auto r = RunTool("orvan-cli", {"report", disk, "-o", html, "--exports",
                                         exports.Path().string(), "--overwrite", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return orvan::test::ParseReportHtml(ReadAll(html));
  };
  // name -> (sha256, verdict) as the report's rows say.
  auto listed = [](const orvan::test::ReadHtml &read) {
    std::map<std::string, std::pair<std::string, std::string>> files;
    for (const auto &row : read.rows)
      if (row.size() == 4 && row[2].size() == 64) files[row[0]] = {row[2], row[3]};
    return files;
  };
  const orvan::test::ReadHtml before = report("exports.html");
  ASSERT_TRUE(before.parsed) << before.error;
  const auto files = listed(before);
  size_t expected = 0;
  int manifests = 0;
  for (const auto &entry : std::filesystem::directory_iterator(exports.Path())) {
    const std::string manifest = entry.path().filename().string();
    if (manifest.find(".manifest.json") == std::string::npos ||
        manifest == "broken.manifest.json" || manifest == "other.manifest.json")
      continue;
    ++manifests;
    const nlohmann::json m = nlohmann::json::parse(ReadAll(exports.File(manifest)));
    for (const auto &f : m["files"]) {
      ++expected;
      const std::string name = f["name"];
      ASSERT_TRUE(files.count(name)) << name;
      EXPECT_EQ(files.at(name).first, f["sha256"].get<std::string>());
      EXPECT_EQ(files.at(name).first, FileSha256(exports.File(name)));
      EXPECT_EQ(files.at(name).second, "passes") << name;
    }
  }
  EXPECT_EQ(manifests, 2);
  EXPECT_EQ(files.size(), expected);
  EXPECT_NE(before.text.find("broken.manifest.json"), std::string::npos);
  size_t unreadable = 0;
  for (size_t at = 0; (at = before.text.find("unreadable: ", at)) != std::string::npos; ++at)
    ++unreadable;
  EXPECT_EQ(unreadable, 2u);

  // One byte of the clip's data file changed.
  const std::string changed = exports.File("clip.da");
  {
    std::fstream f(changed, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(100);
    char byte = 0;
    f.read(&byte, 1);
    byte = char(byte ^ 0x01);
    f.seekp(100);
    f.write(&byte, 1);
  }
  const auto after = listed(report("exports-after.html"));
  for (const auto &[name, entry] : after)
    EXPECT_EQ(entry.second, name == "clip.da" ? "FAILS (hash)" : "passes") << name;
}

TEST_F(ReportTest, russianReport_hasNoEnglishCaptionLeft) {
  const std::string html = dir->File("report-ru.html");
  const auto r = RunTool("orvan-cli", {"report", disk, "-o", html, "--language", "ru"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const orvan::test::ReadHtml read = orvan::test::ParseReportHtml(ReadAll(html));
  ASSERT_TRUE(read.parsed) << read.error;
  EXPECT_NE(read.text.find("Отчёт об исследовании"), std::string::npos);
  const orvan::app::LanguageTexts russian = orvan::app::ReadLanguageFile(
      std::string(ORVAN_SOURCE_DIR_FOR_TESTS) + "/app/Language_Russian.ini");
  ASSERT_TRUE(russian.fileFound);
  int checked = 0;
  for (size_t k = 0; k < orvan::app::kTextKeyCount; ++k) {
    const auto key = orvan::app::TextKey(k);
    const std::string name(orvan::app::TextKeyName(key));
    if (name.rfind("Rep_", 0) != 0 && name.rfind("Col_", 0) != 0 && name.rfind("Kind_", 0) != 0)
      continue;
    // The window's own messages about the report are not in it.
    static const std::set<std::string> kWindowTexts{
        "Rep_written",  "Rep_not_written",  "Rep_menu",  "Rep_log_menu",
        "Rep_ask_case", "Rep_ask_examiner", "Rep_files", "Rep_no_source"};
    if (kWindowTexts.count(name)) continue;
    const std::string english(orvan::app::EnglishText(key));
    if (english == russian.Get(key)) continue;  // "SHA-256"
    // Each piece of the English text between its values.
    std::string piece;
    for (size_t i = 0; i <= english.size(); ++i) {
      if (i == english.size() || english[i] == '%') {
        if (std::count_if(piece.begin(), piece.end(),
                          [](unsigned char ch) { return std::isalpha(ch); }) >= 4) {
          const size_t at = read.text.find(piece);
          EXPECT_EQ(at, std::string::npos)
              << name << ": \"" << piece << "\" in \""
              << read.text.substr(at == std::string::npos ? 0 : std::max<size_t>(at, 60) - 60, 120)
              << "\"";
          ++checked;
        }
        piece.clear();
        ++i;  // the digit after %
      } else {
        piece += english[i];
      }
    }
  }
  EXPECT_GT(checked, 60);

  const std::string pdf = dir->File("report-ru.pdf");
  ASSERT_EQ(
      RunTool("orvan-cli", {"report", disk, "-o", pdf, "--language", "ru", "--case", "7"}).exitCode,
      0);
  const std::string text = PdfText(pdf);
  EXPECT_NE(text.find("Номер дела: 7"), std::string::npos);
  EXPECT_NE(text.find("Страница 1 из"), std::string::npos);
  EXPECT_EQ(text.find("Case number"), std::string::npos);
}

TEST(ReportBadInput, aSourceThatCannotBeRead_givesAClearErrorAndNoReport) {
  TempDir dir;
  std::ofstream(dir.File("zeros.img")) << std::string(1 << 20, '\0');
  const std::string out = dir.File("r.html");
  auto r = RunTool("orvan-cli", {"report", dir.File("zeros.img"), "-o", out});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Not a recorder disk"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));

  r = RunTool("orvan-cli", {"report", dir.File("missing.img"), "-o", out});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.img"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));

  r = RunTool("orvan-cli", {"report", dir.File("zeros.img"), "-o", dir.File("r.txt")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(".html or .pdf"), std::string::npos) << r.err;
}

TEST_F(ReportTest, theReportGoesThroughTheGuardedOutput) {
  TempDir out;
  const std::string html = out.File("r.html");
  std::ofstream(html) << "kept";
  auto r = RunTool("orvan-cli", {"report", disk, "-o", html});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadAll(html), "kept") << "an existing file is not replaced without --overwrite";
  // The source itself is refused as the output, even with --overwrite.
  const uint64_t size = std::filesystem::file_size(disk);
  const std::string link = out.File("disk.html");
  std::filesystem::create_hard_link(disk, link);
  r = RunTool("orvan-cli", {"report", disk, "-o", link, "--overwrite"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(std::filesystem::file_size(disk), size);
}

}  // namespace

namespace {

TEST_F(ReportTest, anE01_isNamedWithItsSegments_andItsStoredHashComparedWithTheData) {
  TempDir images;
  orvan::test::EwfWriteOptions good;
  std::string error;
  const auto segments = orvan::test::WriteEwfImage(disk, images.File("case"), good, &error);
  ASSERT_FALSE(segments.empty()) << error;
  orvan::test::EwfWriteOptions wrong;
  wrong.storedMd5 = "0123456789abcdef0123456789abcdef";
  ASSERT_FALSE(orvan::test::WriteEwfImage(disk, images.File("bad"), wrong, &error).empty());

  auto report = [&](const std::string &image, const std::string &name) {
    const std::string html = dir->File(name);
    const auto r = RunTool("orvan-cli", {"report", image, "-o", html, "--hash", "--overwrite"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return orvan::test::ParseReportHtml(ReadAll(html));
  };
  const auto read = report(images.File("case.E01"), "e01.html");
  std::map<std::string, std::string> rows;
  for (const auto &row : read.rows)
    if (row.size() == 2) rows[row[0]] = row[1];
  EXPECT_EQ(rows["Kind"], "E01 image");
  EXPECT_NE(rows["Segment files"].find("case.E01"), std::string::npos);
  // The disk inside, hashed: the raw image's own hash.
  EXPECT_EQ(rows["SHA-256"], FileSha256(disk));
  EXPECT_EQ(rows["Stored MD5"], orvan::test::FileMd5(disk) + " — matches");

  const auto bad = report(images.File("bad.E01"), "bad-e01.html");
  std::map<std::string, std::string> badRows;
  for (const auto &row : bad.rows)
    if (row.size() == 2) badRows[row[0]] = row[1];
  EXPECT_EQ(badRows["Stored MD5"], "0123456789abcdef0123456789abcdef — DOES NOT MATCH");
}

}  // namespace

namespace {

// The survey's counts, filled in by its caller, make a section of their own.
TEST(ReportContent, beyondTheIndex_isShownOnlyWhenFilled_withItsCountsAndSpans) {
  orvan::app::report::ExamReport report;
  const orvan::app::CCaptions english;
  auto text = [&] {
    const auto read = orvan::test::ParseReportHtml(
        orvan::app::report::ReportHtml(report, english, orvan::app::report::HtmlForm::kBrowser));
    EXPECT_TRUE(read.parsed) << read.error;
    return read;
  };
  EXPECT_EQ(text().text.find("Beyond the index"), std::string::npos);
  auto &b = report.beyond;
  b.filled = true;
  b.heldBackEntries = 1536;
  b.heldBackSpan = {{1202982297u, 1202982357u}};
  b.staleEntries = 9000;
  b.staleIntact = 7000;
  b.staleOverwritten = 2000;
  b.staleSpans = {{1202000000u, 1202003600u}};
  b.unreferencedBytes = 123456;
  b.unreferencedPictures = 42;
  b.unreadableIndexSectors = 3;
  const auto read = text();
  EXPECT_NE(read.text.find("Beyond the index"), std::string::npos);
  std::map<std::string, std::string> rows;
  for (const auto &row : read.rows)
    if (row.size() == 2) rows[row[0]] = row[1];
  EXPECT_EQ(rows["Held back entries"], "1536 (2008/02/14_09:44:57 – 2008/02/14_09:45:57)");
  EXPECT_EQ(rows["Stale entries"], "9000: intact 7000, overwritten 2000");
  EXPECT_EQ(rows["Unreferenced bytes"], "123456 bytes");
  EXPECT_EQ(rows["Unreferenced pictures"], "42");
  EXPECT_EQ(rows["Unreadable index sectors"], "3");
  // Texts from the disk or the user cannot break the document.
  report.events.push_back({"1", "2", "</td><script>", "Alarm"});
  report.eventKinds.push_back(0);
  report.caseInfo.examiner = std::string("a\x01") + "b & \"c\"";
  const auto odd = text();
  EXPECT_NE(odd.text.find("</td><script>"), std::string::npos);
  EXPECT_NE(odd.text.find("ab & \"c\""), std::string::npos);
}

}  // namespace

TEST(ReportSurvey, withSurvey_theReportShowsWhatTheDiskHoldsBeyondTheIndex) {
  TempDir dir;
  orvan::tools::SampleOptions options;
  options.outputPath = dir.File("prev.img");
  options.durationSeconds = 5;
  options.previousSeconds = 15;
  orvan::tools::SampleSummary made;
  std::string error;
  ASSERT_TRUE(orvan::tools::MakeSampleRecording(options, made, &error)) << error;
  const std::string pdf = dir.File("r.pdf");
  const auto r = RunTool("orvan-cli", {"report", options.outputPath, "-o", pdf, "--survey"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string text = PdfText(pdf);
  EXPECT_NE(text.find("Beyond the index"), std::string::npos) << text;
  EXPECT_NE(
      text.find(std::to_string(made.staleEntries) + ": intact " + std::to_string(made.staleIntact) +
                ", overwritten " + std::to_string(made.staleOverwritten)),
      std::string::npos)
      << text;
  // Without --survey the section is left out.
  const std::string plain = dir.File("plain.pdf");
  ASSERT_EQ(RunTool("orvan-cli", {"report", options.outputPath, "-o", plain}).exitCode, 0);
  EXPECT_EQ(PdfText(plain).find("Beyond the index"), std::string::npos);
}
