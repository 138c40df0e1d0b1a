#include "app/core/case_log.h"

#include <ctime>
#include <filesystem>

#include "app/core/configuration.h"
#include "platform/output_file.h"
#include "platform/wintime.h"

namespace orvan::app {
namespace {

std::string UtcStamp(const char *pattern) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[40];
  std::strftime(text, sizeof text, pattern, &parts);
  return text;
}

}  // namespace

std::string ParamsText(const std::vector<std::pair<std::string, std::string>> &params) {
  std::string text;
  for (const auto &[name, value] : params) {
    if (!text.empty()) text += "; ";
    text += name + "=" + value;
  }
  return text;
}

void CCaseLog::Start(const std::string &source,
                     const std::vector<std::pair<std::string, std::string>> &params,
                     const std::string &folder) {
  m_started = true;
  m_source = source;
  m_entries.clear();
  // A folder of their own in the configuration folder, beside the
  // bookmarks': never where a source lies.
  const std::filesystem::path dir =
      folder.empty() ? std::filesystem::path(ConfigurationFolder()) / "ORVANCaseLogs"
                     : std::filesystem::path(folder);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string name = "CaseLog-" + UtcStamp("%Y%m%dT%H%M%SZ");
  // Two sources opened within one second keep a file each.
  std::filesystem::path file = dir / (name + ".txt");
  for (int n = 2; std::filesystem::exists(file, ec) && n < 1000; ++n)
    file = dir / (name + "-" + std::to_string(n) + ".txt");
  m_file = file.string();
  std::vector<std::pair<std::string, std::string>> all{{"path", source}};
  all.insert(all.end(), params.begin(), params.end());
  Record(TextKey::Log_source_opened, std::move(all));
}

void CCaseLog::Record(TextKey action, std::vector<std::pair<std::string, std::string>> params) {
  if (!m_started) return;
  m_entries.push_back({UtcStamp("%Y-%m-%dT%H:%M:%SZ"), action, std::move(params)});
  WriteFile();
}

void CCaseLog::Bookmark(uint32_t recorderSeconds, int channel, const std::string &note) {
  Record(TextKey::Log_bookmark, {{"time", FormatRecorderTime(int64_t{recorderSeconds})},
                                 {"channel", std::to_string(channel)},
                                 {"note", note}});
}

std::string CCaseLog::LineOf(const CaseLogEntry &entry, const CCaptions &captions) {
  std::string line = entry.utc + "  " + captions.Text(entry.action);
  const std::string params = ParamsText(entry.params);
  if (!params.empty()) line += "  " + params;
  return line;
}

std::string CCaseLog::Text(const CCaptions &captions) const {
  std::string text;
  for (const CaseLogEntry &e : m_entries) text += LineOf(e, captions) + "\n";
  return text;
}

void CCaseLog::WriteFile() {
  // The file is the examiner's record: the program's own words, in English.
  const std::string text = Text(CCaptions());
  std::string error;
  m_writeError.clear();
  if (!platform::WriteOutputFile(m_file, text.data(), text.size(),
                                 platform::ReplacePolicy::kReplaceExisting, &error))
    m_writeError = error;
}

}  // namespace orvan::app
