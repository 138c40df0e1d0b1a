// The manifest written beside every export (NAME.manifest.json): what was
// read, what was asked for and written, what was lost, and each file's
// length and SHA-256, so that anyone can later prove the files unchanged
// (VerifyManifest, `orvan-cli verify`).
//
// Files are listed by name, relative to the manifest's folder: the export
// can be moved as a whole and still verified.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "recorder/export/export_sink.h"
#include "recorder/export/timing_analysis.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/read_losses.h"

namespace orvan::recorder {

// One span of a recovery: entries the live index no longer plays, from one
// part of the index, and the files that hold them.
struct RecoveredSpanRecord {
  int number = 0;      // as the survey counts spans, from 1
  std::string origin;  // "held back" or "stale"
  int64_t firstEntry = 0, lastEntry = 0;
  uint32_t firstSeconds = 0, lastSeconds = 0;
  int64_t entries = 0;             // written
  std::vector<std::string> files;  // names, as `files` lists them
};

struct ExportManifest {
  std::string createdUtc;  // ISO 8601, of this machine's clock
  SourceIdentity source;
  DiskGeometry geometry;
  int layout = 0;  // 1: one channel (the recorder's four-way picture), 0: channels interleave
  ExportFormat format = ExportFormat::kClip;
  uint32_t askedFromSeconds = 0;
  int64_t askedToSeconds = 0;
  int64_t startEntry = 0;  // first entry read: the start of the block holding the start
  bool stopped = false;    // stopped before the end of the span
  std::array<ChannelSummary, 4> channels{};
  // The timing analysis of each channel's pictures in the span read.
  std::array<ChannelTiming, 4> timing{};
  uint64_t skippedRecords = 0;  // entries left out: unreadable, oversized, corrupt, channel 4+
  uint64_t readErrors = 0;      // index reads that failed (the export ends at the first)
  std::vector<std::string> notes;
  std::vector<ExportedFile> files;
  // Whether everything asked for was written: nothing lost, left out as
  // unreadable, or left unread (a stop, the disk going away); where the
  // sectors lost lay.
  bool complete = false;
  bool diskGone = false;
  LossLog losses;
  // A recovery: what it wrote is not the live recording but entries behind
  // it (held back, or stale and intact), span by span.
  bool recovered = false;
  std::vector<RecoveredSpanRecord> recoveredSpans;
};

// The "lost" list of a manifest or a command's JSON.
nlohmann::ordered_json LostJson(const LossLog &losses);

// One span of a recovery, as the manifest and `orvan-cli recover --json`
// give it.
nlohmann::ordered_json RecoveredSpanJson(const RecoveredSpanRecord &span);

// This machine's clock now, as ISO 8601 UTC.
std::string UtcNow();

std::string ManifestJson(const ExportManifest &manifest);

// The timing analysis of the channels in `channelMask` that have pictures,
// as the JSON array the manifest and `orvan-cli frames --json` give
// ("timing": [...] without the name).
std::string TimingJsonText(const TimingAnalysis &timing, unsigned channelMask);

// Writes the manifest through an OutputFile. False, with *error naming the
// file, when it cannot be written. `later` as for OutputFile::Commit().
bool WriteManifest(const std::string &path, const ExportManifest &manifest,
                   platform::ReplacePolicy policy, std::string *error,
                   platform::FolderSyncs *later = nullptr);

struct VerifiedFile {
  std::string name;  // as the manifest lists it
  bool ok = false;
  std::string problem;  // "size", "hash", or why the file cannot be read
  uint64_t expectedBytes = 0;
  uint64_t actualBytes = 0;
  std::string expectedSha256;
  std::string actualSha256;
};

// Reads the manifest and every file it lists (beside it), comparing length
// and SHA-256. False, with *error, when the manifest itself cannot be read,
// is not a manifest, or lists a file outside its folder.
bool VerifyManifest(const std::string &manifestPath, std::vector<VerifiedFile> &results,
                    std::string *error);

}  // namespace orvan::recorder
