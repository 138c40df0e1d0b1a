// A recovery: the entries a survey found recoverable (held back, whose
// records begin as their types say, and stale entries that are intact)
// written with the export's own sinks, in index order:
//   - a clip (NAME.in + NAME.da) holds them all;
//   - Matroska or MP4 give one file per span and channel (NAME_S1_CH1.mkv
//     ...), each starting at the channel's first key picture in the span,
//     timed by the recorder's clock;
// with NAME.frames.csv and NAME.manifest.json beside them. The manifest says
// "recovered": true and gives each span's origin, entries, times and files,
// and every file's SHA-256, so `verify` checks a recovery like any export.
// Nothing a survey judged overwritten is ever written.
//
// Threads: the caller's; `stop` may be set from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "recorder/export/export_manifest.h"
#include "recorder/export/export_sink.h"
#include "recorder/recovery/disk_survey.h"

namespace orvan::recorder {

struct RecoverOptions {
  ExportFormat format = ExportFormat::kClip;
  unsigned channelMask = 0xF;        // bit c: channel c
  std::optional<uint32_t> from, to;  // entries recorded in [from, to); all when not given
  bool framesTable = true;           // NAME.frames.csv
  platform::ReplacePolicy policy = platform::ReplacePolicy::kKeepExisting;
  std::function<void(uint64_t done, uint64_t total)> progress;  // entries
  const std::atomic<bool> *stop = nullptr;
};

// NAME_S<span>.mkv: the name whose channel files (ChannelFilePath) hold one
// span of a media recovery.
std::string SpanFilePath(const std::string &path, int span);

struct RecoveryResult {
  bool ok = false;
  std::string error;
  int64_t written = 0;      // entries (clip) or pictures (media)
  uint64_t unreadable = 0;  // recoverable entries whose record could not be read
  std::vector<RecoveredSpanRecord> spans;
  std::vector<ExportedFile> files;  // the manifest last
  std::string manifestPath;
  bool gone = false;
  bool stopped = false;
};

// survey: made with keepRecoverable. outputPath: NAME.in, NAME.mkv or
// NAME.mp4 (the format follows options.format).
RecoveryResult RecoverEntries(ByteSource &source, const DiskSurvey &survey,
                              const SourceIdentity &identity, const std::string &outputPath,
                              const RecoverOptions &options);

}  // namespace orvan::recorder
