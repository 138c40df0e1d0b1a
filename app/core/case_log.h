// The case log: what the examiner did with the open source, one line an
// action, each with the UTC time, the action and its parameters, from the
// moment the source is opened. The examination report carries it as its
// "Examination log".
//
// The log is written again, whole, to a file of the configuration folder
// after every line (through the guarded output, so the file never holds half
// a log), never beside the source. One file per source opened:
// CaseLog-YYYYMMDDTHHMMSSZ.txt.
//
// Threads: the main window's thread only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/core/language.h"

namespace orvan::app {

struct CaseLogEntry {
  std::string utc;  // ISO 8601, this machine's clock
  TextKey action = TextKey::Log_source_opened;
  std::vector<std::pair<std::string, std::string>> params;  // name, value
};

class CCaseLog {
 public:
  // Starts a new log (the previous one stays in its file) for `source` and
  // records "source opened" with its path and the given parameters.
  // folder: where the file goes; empty: ORVANCaseLogs in ConfigurationFolder().
  void Start(const std::string &source,
             const std::vector<std::pair<std::string, std::string>> &params,
             const std::string &folder = "");
  // One action. Ignored before Start().
  void Record(TextKey action, std::vector<std::pair<std::string, std::string>> params);
  // A bookmarked moment: recorder time, channel (1..4) and the note.
  void Bookmark(uint32_t recorderSeconds, int channel, const std::string &note);

  bool Started() const { return m_started; }
  const std::string &Source() const { return m_source; }
  const std::vector<CaseLogEntry> &Entries() const { return m_entries; }
  // The file the log is written to ("" before Start()).
  const std::string &FilePath() const { return m_file; }
  // The last write's failure, "" when it was written.
  const std::string &WriteError() const { return m_writeError; }

  // One line: "2026-12-09T11:26:06Z  search  target=2008/02/14_09:50:00".
  static std::string LineOf(const CaseLogEntry &entry, const CCaptions &captions);
  std::string Text(const CCaptions &captions) const;

 private:
  void WriteFile();

  bool m_started = false;
  std::string m_source;
  std::string m_file;
  std::string m_writeError;
  std::vector<CaseLogEntry> m_entries;
};

// The parameters as one text: "name=value; name=value".
std::string ParamsText(const std::vector<std::pair<std::string, std::string>> &params);

}  // namespace orvan::app
