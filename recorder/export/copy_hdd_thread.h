// CopyHDDThread: copies a time range of a recorder disk, in the
// background, with its own read-only handle on the disk and its own lock
// around each single Seek and Read: into a clip, or into one Matroska or MP4
// file per channel (recorder/export/media_export.h), with a manifest beside it
// (recorder/export/export_manifest.h).
//
// Created running: the constructor prepares the copy on the creating
// thread (opens the disk, finds the state, creates the clip files, checks
// the names of the media files) and starts the body as its last step; the
// body searches the start time first, so a slow disk holds the thread, not
// its creator. The form polls Done() and requests a stop with
// StopCopy(); the thread never calls into the main thread.
//
// Files are written under temporary names and put in place only when the
// copy succeeded: a copy that finds nothing to copy, or whose writing failed
// (a full disk), leaves no file behind (and no file it would have replaced
// is touched), and no manifest. A copy that is stopped or terminated before
// it finished still finishes its files and writes the manifest before the
// thread ends, so what was copied stays playable and provable.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/locks.h"
#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "platform/wintime.h"
#include "recorder/export/export_sink.h"
#include "recorder/export/frames_table.h"
#include "recorder/export/span_plan.h"
#include "recorder/export/span_reader.h"
#include "recorder/layout/clip_format.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/locked_source.h"

namespace orvan::recorder {

// Why a copy did not produce what was asked for.
enum class CopyFailure {
  None,
  DiskOpenFailed,    // the drive could not be opened
  NotRecorderDisk,   // no signature: nothing is copied, no file is written
  StateError,        // no valid state entry: nothing is written
  FileCreateFailed,  // a clip file could not be created (or was refused)
  WriteFailed,       // writing the clip failed part-way: no clip is left behind
  EndBeforeStart,    // the chosen end lies before the chosen start: nothing is copied
  NoEntries,         // no entry of the chosen span could be copied: no file is written
  NoPictures,        // a media export found no picture to write: no file is written
  ManifestFailed,    // the files are written, but their manifest could not be
  DiskGone,          // the disk stopped answering: what was copied is finished, marked incomplete
};

struct ExportOptions {
  ExportFormat format = ExportFormat::kClip;
  unsigned channelMask = 0xF;  // media files: bit c exports channel c
  bool manifest = true;        // NAME.manifest.json beside the files
  bool framesTable = true;     // NAME.frames.csv beside the files (with the manifest)
};

class CopyHDDThread final : public TThread {
 public:
  // Runs on the creating thread for the state error ("Check HDD State
  // Error!!"), before the constructor returns.
  using MessageSink = std::function<void(const std::string &text)>;

  // owner: the copy form, kept for the form's own use, never called.
  // outputPath: the clip's index file (the data file gets the companion
  // name), or NAME.mkv / NAME.mp4 for media files NAME_CH1.mkv ...
  // policy: whether existing files may be replaced (the window's save
  // dialog has asked; the command line needs --overwrite).
  CopyHDDThread(void *owner, int driveNumber, const SYSTEMTIME &start, const SYSTEMTIME &end,
                const std::string &outputPath, MessageSink showMessage = {},
                platform::ReplacePolicy policy = platform::ReplacePolicy::kKeepExisting,
                const ExportOptions &options = {});
  ~CopyHDDThread() override;

  // Stop request: the next turn writes the trailer and finishes; a read of
  // the disk in progress gives up at once.
  void StopCopy() {
    m_copying.store(false, std::memory_order_release);
    m_disk.Interrupt();
  }
  // 0 while working, 1 when the clip is finished.
  int Done() const { return m_done.load(std::memory_order_acquire); }
  bool Copying() const { return m_copying.load(std::memory_order_acquire); }

  void *Owner() const { return m_owner; }
  // Entries of a clip, pictures of media files.
  int64_t EntriesWritten() const { return m_written.load(std::memory_order_acquire); }
  // Recorder times of the first and the last of those written (0 before
  // any): the span the files hold, which starts before the chosen start
  // (a clip copies the start's whole index block).
  uint32_t FirstWrittenSeconds() const {
    return m_firstWrittenSeconds.load(std::memory_order_acquire);
  }
  uint32_t LastWrittenSeconds() const {
    return m_lastWrittenSeconds.load(std::memory_order_acquire);
  }
  // The next index entry to read, for progress against StartEntry()..PlayEnd().
  int64_t NextEntry() const { return m_progressNext.load(std::memory_order_acquire); }
  // Recorder time of the last entry examined (0 before any), for progress
  // against StartSeconds()..EndSeconds().
  uint32_t LastEntrySeconds() const { return m_lastSeconds.load(std::memory_order_acquire); }
  // Where the copy starts, once the body has searched it (0 before).
  int64_t StartEntry() const { return m_startEntry.load(std::memory_order_acquire); }
  // Set by the constructor, constant afterwards.
  const DiskGeometry &Geometry() const { return m_geometry; }
  uint32_t StartSeconds() const { return m_startSeconds; }
  int64_t EndSeconds() const { return m_endSeconds; }
  const std::string &IndexPath() const { return m_indexPath; }
  const ExportOptions &Options() const { return m_options; }
  // Valid once Finished(), and empty when no clip was written.
  const std::string &DataPath() const { return m_dataPath; }
  // Valid once Finished(): the files put in place, and the manifest (empty
  // when none was written).
  const std::vector<ExportedFile> &Files() const { return m_files; }
  const std::string &ManifestPath() const { return m_manifestPath; }
  // Valid once Finished(): the layout value and magic written.
  int Layout() const { return m_layout.load(std::memory_order_acquire); }
  uint32_t ClipMagic() const { return MagicOfLayout(Layout()); }
  // Valid once Finished() (or, for failures of preparation, at once).
  CopyFailure Failure() const { return m_failure.load(std::memory_order_acquire); }
  // What the copy lost on a damaged disk: index reads that failed (the
  // copy ends at the first, at entry IndexFailedAt(), else -1), and
  // entries not copied because their record could not be read or they
  // are not entries the recorder writes (media files also leave out
  // records that are not what their entry says).
  uint64_t ReadErrors() const { return m_readErrors.load(std::memory_order_acquire); }
  uint64_t SkippedRecords() const { return m_skippedRecords.load(std::memory_order_acquire); }
  int64_t IndexFailedAt() const { return m_indexFailedAt.load(std::memory_order_acquire); }
  // Valid once Finished(): where the sectors lost lay; whether the disk
  // stopped answering; whether everything asked for was copied (nothing
  // lost, skipped as unreadable, or left unread).
  const LossLog &Losses() const { return m_losses; }
  bool DiskGone() const { return m_diskGone.load(std::memory_order_acquire); }
  bool Complete() const { return m_complete.load(std::memory_order_acquire); }
  const std::string &ErrorText() const { return m_errorText; }

  // A chosen date and time (UTC calendar fields of recorder wall time) as
  // recorder seconds; milliseconds are ignored.
  static int64_t ChosenTimeToSeconds(const SYSTEMTIME &chosen);

 protected:
  void Execute() override;

 private:
  void FinishExport();
  // Ends the frames table's worker and drops its file.
  void DropFramesTable();
  // Puts the frames table in place beside the files; false with the error noted.
  bool CommitFramesTable(platform::FolderSyncs &folders);
  bool WriteExportManifest(platform::FolderSyncs &folders);
  void NoteLosses();

  void *const m_owner;
  const std::string m_indexPath;
  const ExportOptions m_options;
  const platform::ReplacePolicy m_policy;
  std::string m_dataPath;             // set when the clip files are created
  std::string m_errorText;            // set by the constructor, or by the thread before it finishes
  std::string m_manifestPath;         // set by the thread once the manifest is written
  std::vector<ExportedFile> m_files;  // set by the thread before it finishes

  // The disk: m_diskLock guards each single Seek and Read on m_disk; every
  // layout read goes through m_source, which takes it.
  DiskSource m_disk;
  CTeskCriticalSection m_diskLock;
  LockedSource m_source{m_disk, m_diskLock};

  // Set by the constructor, then read-only.
  DiskHeader m_header;
  DiskStateEntry m_state;
  DiskGeometry m_geometry;
  SourceIdentity m_sourceIdentity;
  uint32_t m_startSeconds = 0;
  int64_t m_endSeconds = 0;

  // Thread-only after construction.
  std::unique_ptr<SpanReader> m_span;
  std::unique_ptr<SpanPlan> m_plan;  // the look over the span's index, made first
  std::unique_ptr<IExportSink> m_sink;
  platform::OutputFile m_framesFile;                // NAME.frames.csv, while it is written
  std::unique_ptr<BackgroundFramesTable> m_frames;  // its worker digests the records
  LayoutDecider m_decision;
  bool m_spanEnded = false;  // the span was read to its end (or to an unreadable index)
  bool m_finished = false;
  bool m_frameTableFailed = false;  // the table's file could not be written
  LossLog m_losses;                 // read by others once the thread has finished

  // Shared with the form, read without a lock.
  std::atomic<bool> m_copying{false};
  std::atomic<int> m_done{0};
  std::atomic<int> m_layout{0};
  std::atomic<int64_t> m_written{0};
  std::atomic<int64_t> m_progressNext{0};
  std::atomic<uint32_t> m_lastSeconds{0};
  std::atomic<uint32_t> m_firstWrittenSeconds{0};
  std::atomic<uint32_t> m_lastWrittenSeconds{0};
  std::atomic<CopyFailure> m_failure{CopyFailure::None};
  std::atomic<uint64_t> m_readErrors{0};
  std::atomic<uint64_t> m_skippedRecords{0};
  std::atomic<int64_t> m_indexFailedAt{-1};
  std::atomic<int64_t> m_startEntry{0};
  std::atomic<bool> m_diskGone{false};
  std::atomic<bool> m_complete{false};
};

}  // namespace orvan::recorder
