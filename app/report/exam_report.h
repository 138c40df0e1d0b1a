// The examination report's content: what was examined, with what, what was
// found and exported, and the limits of it all. Built once (report_builder.h)
// and written as HTML (report_html.h) or PDF (report_pdf.h) from the same
// content, so both documents always say the same.
//
// Texts that come from the disk (event rows, times) are kept as the event
// list and the players show them; captions are the writers' business (the
// language table).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>

#include "app/core/case_log.h"
#include "recorder/export/timing_analysis.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::app::report {

struct CaseSection {
  std::string caseNumber;  // as given
  std::string examiner;
  std::string createdUtc;  // ISO 8601
  std::string program;     // name and version
  std::string ffmpegVersion;
  std::string libewfVersion;
  std::string machine;
};

struct EvidenceSection {
  std::string path;
  std::string kind;  // "image", "E01 image" or "block device" (platform's SourceIdentity)
  std::vector<std::string> segments;
  std::string model, serial;
  uint64_t sizeBytes = 0;
  bool hashed = false;  // the hashes below were computed
  bool hashComplete = false;
  std::string sha256, md5;
  // An E01's stored hashes and whether each matches ("MD5", stored, matches).
  struct StoredHash {
    std::string name, value;
    bool matches = false;
  };
  std::vector<StoredHash> stored;
  bool readOnly = true;
};

struct ChannelSection {
  int channel = 0;  // 1..4
  int64_t pictures = 0;
  int64_t keyPictures = 0;
  std::string codec;          // "MPEG-4", "MJPEG"; empty: no pictures
  int width = 0, height = 0;  // 0: unknown (no key picture decoded)
  recorder::ValueSpread picturesPerSecond;
  int64_t gapThresholdMs = 0;
  int64_t gapCount = 0;
  std::vector<std::pair<int64_t, int64_t>> gapsMs;  // from, to; the first few
};

struct RecorderSection {
  recorder::DiskGeometry geometry;
  std::optional<uint32_t> firstSeconds, lastSeconds;  // the recorded span
  std::array<ChannelSection, 4> channels{};
};

// What the survey of the disk finds beyond what the live index shows.
// Filled only by a caller that ran it; the report shows it only when filled.
struct BeyondIndexSection {
  bool filled = false;
  int64_t heldBackEntries = 0;
  std::optional<std::pair<uint32_t, uint32_t>> heldBackSpan;  // recorder seconds
  int64_t staleEntries = 0;
  int64_t staleIntact = 0;
  int64_t staleOverwritten = 0;
  std::optional<std::pair<uint32_t, uint32_t>> staleFirstLast;
  std::vector<std::pair<uint32_t, uint32_t>> staleSpans;
  uint64_t unreferencedBytes = 0;
  int64_t unreferencedPictures = 0;
  int64_t unreadableIndexSectors = 0;
};

// A picture of the recording, as a JPEG, captioned with its recorder time.
struct Thumbnail {
  int channel = 0;  // 1..4
  uint32_t recorderSeconds = 0;
  TextKey what = TextKey::Rep_first;  // Rep_first, Rep_middle, Rep_last or Rep_event_at
  int eventNumber = 0;                // for Rep_event_at
  QByteArray jpeg;                    // empty: no picture could be shown
};

// A bookmarked moment.
struct Finding {
  uint32_t recorderSeconds = 0;
  int channel = 0;  // 1..4; 0: the four channels (a bookmark of the grid)
  std::string note;
  QByteArray jpeg;  // the picture shown; may be empty
};

struct ExportSection {
  std::string manifest;  // its path
  bool readable = false;
  std::string error;  // when not readable
  uint32_t fromSeconds = 0;
  int64_t toSeconds = 0;
  struct File {
    std::string name;
    uint64_t sizeBytes = 0;
    std::string sha256;  // as the manifest lists it
    bool ok = false;     // verify passes now
    std::string problem;
  };
  std::vector<File> files;
  bool AllPass() const {
    if (!readable) return false;
    for (const File &f : files)
      if (!f.ok) return false;
    return true;
  }
};

struct ExamReport {
  CaseSection caseInfo;
  EvidenceSection evidence;
  RecorderSection recorder;
  std::vector<std::array<std::string, 4>> events;  // No., channel, time, type
  std::vector<int> eventKinds;                     // each row's kind (1..5 named)
  uint32_t eventCount = 0;                         // as the log's header says
  BeyondIndexSection beyond;
  std::vector<Thumbnail> pictures;
  std::vector<Finding> findings;
  bool exportsAsked = false;  // a folder of exports was named
  std::vector<ExportSection> exports;
  std::vector<std::string> warnings;  // what could not be read
  std::vector<CaseLogEntry> log;      // the window's case log; empty from the command line
  bool hasLog = false;
};

}  // namespace orvan::app::report
