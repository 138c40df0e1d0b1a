// Where the entries of a copied span go: a clip (.in + .da), or one media
// file per channel (recorder/export/media_export.h). The copy thread reads the
// span (recorder/export/span_reader.h) and hands every entry to one sink; the sink
// writes its files, says what it wrote per channel, and puts the files in
// place only when all of them were finished whole.
//
// Threads: a sink is used by the copy thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "media/audio_timeline.h"
#include "platform/output_file.h"
#include "recorder/export/span_reader.h"
#include "recorder/layout/clip_format.h"

namespace orvan::recorder {

enum class ExportFormat { kClip, kMatroska, kMp4 };

// The format a chosen name asks for: ".mkv" Matroska, ".mp4" MP4 (any
// case), anything else a clip.
ExportFormat ExportFormatOfName(const std::string &path);
const char *ExportFormatName(ExportFormat format);  // "clip", "matroska", "mp4"
// NAME of NAME.in, NAME.mkv or NAME.mp4 (the path without that extension).
std::string ExportBaseName(const std::string &path);
// NAME.manifest.json beside the export.
std::string ManifestPathOf(const std::string &path);
// NAME.frames.csv beside the export: the table of every entry of its span.
std::string FramesTablePathOf(const std::string &path);
// NAME_CH1.mkv ... for channel 0..3 of a media export.
std::string ChannelFilePath(const std::string &path, int channel);

// One file an export wrote, as the manifest lists it.
struct ExportedFile {
  std::string path;
  std::string role;  // "clip index", "clip data", "channel 1", ...
  uint64_t sizeBytes = 0;
  std::string sha256;  // lower-case hex, computed while writing
};

// A finished output file as the manifest lists it: its name, length and
// the SHA-256 computed while it was written.
ExportedFile ExportedFileOf(const platform::OutputFile &file, const std::string &role);

// What was written of one channel. Times are milliseconds of recorder time
// (seconds since 1970 x 1000) on the recording's clock.
struct ChannelSummary {
  int64_t pictures = 0;
  int64_t keyPictures = 0;
  int64_t audioBlocks = 0;
  int64_t firstMs = -1;  // first and last entry written; -1: none
  int64_t lastMs = -1;
  // More than 2 s without a picture between two pictures written.
  std::vector<std::pair<int64_t, int64_t>> gaps;
  // Entries of the channel not written, and why.
  int64_t beforeFirstKey = 0;  // pictures and audio of the asked span before any key picture
  int64_t corrupt = 0;         // records that are not what their entry says
  // Media files: the first picture of the asked span (-1: none), and the
  // pictures written in front of it, from the key picture they decode from.
  int64_t firstAskedMs = -1;
  int64_t leadInPictures = 0;
  // Media files: where the audio stream had to be anchored again (a pause
  // in recording or lost blocks), and where it ran ahead of its index.
  std::vector<media::AudioTimeline::Gap> audioGaps;
  std::vector<media::AudioTimeline::Ahead> audioAhead;

  bool Empty() const { return pictures == 0 && audioBlocks == 0; }
};

// Counts written entries into per-channel summaries.
class ExportStatistics {
 public:
  static constexpr int64_t kGapMs = 2000;
  void Written(const IndexEntry &entry, int64_t timeMs);
  ChannelSummary &Channel(int c) { return m_channels[size_t(c & 3)]; }
  const std::array<ChannelSummary, 4> &Channels() const { return m_channels; }

 private:
  std::array<ChannelSummary, 4> m_channels{};
  std::array<int64_t, 4> m_lastPictureMs{-1, -1, -1, -1};
};

// What became of the last entry a sink was given.
struct Placement {
  enum class Kind {
    kWritten,      // in the file, at fileUs
    kNotExported,  // a channel not asked for
    kBeforeStart,  // in front of the key picture the channel's file starts at
    kLeftOut,      // in the asked span, but no key picture before it to decode from
    kCorrupt,      // not what its entry says
    kUnreadable,   // its record could not be read
    kFailed,       // writing failed
  };
  Kind kind = Kind::kWritten;
  int64_t fileUs = -1;  // microseconds from the file's start
};

class IExportSink {
 public:
  virtual ~IExportSink() = default;
  // One entry of the span with its record. False when writing failed:
  // Error() names the file, and the export stops.
  virtual bool Take(const SpanEntry &entry) = 0;
  // What Take() did with the entry it was given last.
  virtual const Placement &LastPlacement() const = 0;
  // Finishes every file and puts them in place. False, with Error(), when
  // any could not be finished. The files' folders are left for `later` to
  // sync (platform::FolderSyncs).
  virtual bool Finish(int layout, platform::FolderSyncs &later) = 0;
  // Drops every file not yet in place.
  virtual void Abandon() = 0;
  // Entries (clip) or pictures (media) written.
  virtual int64_t Written() const = 0;
  // After Finish(): the files in place.
  virtual const std::vector<ExportedFile> &Files() const = 0;
  virtual const ExportStatistics &Statistics() const = 0;
  // Records left out because they are not what their entry says.
  virtual uint64_t CorruptRecords() const { return 0; }
  // Remarks for the manifest (what was re-encoded, for instance).
  virtual std::vector<std::string> Notes() const { return {}; }
  virtual const std::string &Error() const = 0;
};

// A clip: every entry as it is, records back to back.
class ClipExportSink final : public IExportSink {
 public:
  // False, with *error, when the clip files cannot be made.
  bool Create(const std::string &indexPath, platform::ReplacePolicy policy, std::string *error);
  const std::string &DataPath() const { return m_writer.DataPath(); }

  bool Take(const SpanEntry &entry) override;
  const Placement &LastPlacement() const override { return m_placement; }
  bool Finish(int layout, platform::FolderSyncs &later) override;
  void Abandon() override { m_writer.Abandon(); }
  int64_t Written() const override { return m_written; }
  const std::vector<ExportedFile> &Files() const override { return m_files; }
  const ExportStatistics &Statistics() const override { return m_statistics; }
  const std::string &Error() const override { return m_error; }

 private:
  std::string m_indexPath;
  CClipWriter m_writer;
  ExportStatistics m_statistics;
  int64_t m_written = 0;
  int64_t m_firstMs = -1;  // the clip's time 0: its first entry's
  Placement m_placement;
  std::vector<ExportedFile> m_files;
  std::string m_error;
};

}  // namespace orvan::recorder
