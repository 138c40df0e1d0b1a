#include "recorder/export/copy_hdd_thread.h"

#include <algorithm>

#include "platform/log.h"
#include "recorder/export/export_manifest.h"
#include "recorder/export/media_export.h"

namespace orvan::recorder {

namespace {
constexpr const char *kLogCategory = "copy";
}  // namespace

int64_t CopyHDDThread::ChosenTimeToSeconds(const SYSTEMTIME &chosen) {
  // The recorder's clock is shown with the UTC calendar, so a chosen wall
  // time converts back the same way, whatever this machine's zone is.
  return CalendarToUnixSeconds(chosen.wYear, chosen.wMonth, chosen.wDay, chosen.wHour,
                               chosen.wMinute, chosen.wSecond);
}

CopyHDDThread::CopyHDDThread(void *owner, int driveNumber, const SYSTEMTIME &start,
                             const SYSTEMTIME &end, const std::string &outputPath,
                             MessageSink showMessage, platform::ReplacePolicy policy,
                             const ExportOptions &options)
    : TThread(true), m_owner(owner), m_indexPath(outputPath), m_options(options), m_policy(policy) {
  const DriveOpenStatus opened = m_disk.Open(driveNumber);
  if (opened != DriveOpenStatus::Ok) {
    m_errorText = m_disk.LastError();
    m_failure = CopyFailure::DiskOpenFailed;
  } else {
    m_sourceIdentity = IdentifySource(m_disk);
    const GeometryStatus status = ReadGeometry(m_source, m_geometry, &m_header, &m_state);
    if (status == GeometryStatus::NotRecorderDisk) {
      // The geometry stays empty: nothing is copied, no file is written.
      m_geometry = DiskGeometry{};
      m_failure = CopyFailure::NotRecorderDisk;
    } else if (status == GeometryStatus::NoValidState) {
      m_errorText = kStateErrorText;
      m_failure = CopyFailure::StateError;
      if (showMessage) showMessage(kStateErrorText);
      Terminate();
    }

    m_startSeconds = uint32_t(std::clamp<int64_t>(ChosenTimeToSeconds(start), 0, UINT32_MAX));
    m_endSeconds = ChosenTimeToSeconds(end);
    if (m_endSeconds < ChosenTimeToSeconds(start) && m_failure == CopyFailure::None) {
      // The block before the start would still be copied: nothing is.
      m_failure = CopyFailure::EndBeforeStart;
    } else if (m_failure != CopyFailure::StateError) {
      m_span = std::make_unique<SpanReader>(m_source, m_geometry);
      // Media files start at a key picture before the asked start; a clip
      // keeps the block rule.
      if (m_options.format != ExportFormat::kClip) m_span->SetLeadIn(m_options.channelMask);
      m_span->OfferUnreadable(true);
      // Every name is checked before anything is read; media files are made
      // as their channels' first key pictures come.
      std::vector<std::string> names;
      if (m_options.manifest) names.push_back(ManifestPathOf(outputPath));
      if (m_options.manifest && m_options.framesTable)
        names.push_back(FramesTablePathOf(outputPath));
      if (m_options.format != ExportFormat::kClip)
        for (int c = 0; c < 4; ++c)
          if (m_options.channelMask & (1u << c)) names.push_back(ChannelFilePath(outputPath, c));
      std::string error;
      for (const std::string &name : names) {
        if (platform::CheckOutputPath(name, policy, &error) == platform::OutputStatus::kOk)
          continue;
        if (error.empty()) error = "cannot write " + name;
        break;
      }
      if (error.empty() && m_options.format == ExportFormat::kClip) {
        auto clip = std::make_unique<ClipExportSink>();
        if (clip->Create(m_indexPath, policy, &error)) {
          m_dataPath = clip->DataPath();
          m_sink = std::move(clip);
        }
      }
      if (error.empty()) {
        m_copying = true;
      } else {
        m_errorText = error;
        m_failure = CopyFailure::FileCreateFailed;
      }
    }
  }
  Resume();
}

CopyHDDThread::~CopyHDDThread() {
  // The body reads the disk and writes the files: end it before they close.
  Terminate();
  WaitFor();
  if (m_sink) m_sink->Abandon();
  m_disk.Close();
}

void CopyHDDThread::Execute() {
  if (m_copying.load(std::memory_order_acquire)) {
    const int64_t start = m_span->Start(m_startSeconds, m_endSeconds);
    m_startEntry.store(start, std::memory_order_release);
    m_progressNext.store(start, std::memory_order_release);
  }
  // A look over the span's index comes first: where each media file starts
  // and what it holds, and the medians of the timing analysis.
  if (m_copying.load(std::memory_order_acquire)) {
    const bool media = m_options.format != ExportFormat::kClip;
    m_plan = std::make_unique<SpanPlan>(PlanSpan(
        m_source, m_geometry, m_startSeconds, m_endSeconds, media ? m_options.channelMask : 0,
        [this] { return Terminated() || !m_copying.load(std::memory_order_acquire); }));
    if (media)
      m_sink = std::make_unique<MediaExportSink>(
          m_options.format, m_indexPath, m_options.channelMask, m_policy, *m_plan, m_startSeconds);
    if (m_options.manifest && m_options.framesTable) {
      const std::string path = FramesTablePathOf(m_indexPath);
      if (m_framesFile.Create(path, m_policy)) {
        m_framesFile.ComputeSha256();
        m_frames = std::make_unique<BackgroundFramesTable>(
            FramesTable::Format::kCsv,
            [this](const char *data, size_t length) { return m_framesFile.Write(data, length); },
            m_geometry, /*hashes=*/true, &m_plan->timing);
      }
      if (!m_frames || !m_frames->Begin()) {
        m_errorText = m_framesFile.Error().empty() ? "cannot write " + path : m_framesFile.Error();
        m_failure = CopyFailure::FileCreateFailed;
        m_copying.store(false, std::memory_order_release);
      }
    }
  }
  auto seen = [this](const IndexEntry &e) {
    if (m_decision.See(e.channel)) m_layout.store(m_decision.Value(), std::memory_order_release);
    m_lastSeconds.store(e.time, std::memory_order_release);
  };
  auto take = [this](const SpanEntry &s) {
    if (!m_sink->Take(s)) return false;
    if (m_frames && !m_frames->Row(s, m_sink->LastPlacement())) {
      m_frameTableFailed = true;
      return false;
    }
    const int64_t written = m_sink->Written();
    if (written > m_written.load(std::memory_order_relaxed)) {
      if (m_firstWrittenSeconds.load(std::memory_order_relaxed) == 0)
        m_firstWrittenSeconds.store(s.entry.time, std::memory_order_release);
      m_lastWrittenSeconds.store(s.entry.time, std::memory_order_release);
    }
    m_written.store(written, std::memory_order_release);
    return true;
  };
  while (!Terminated()) {
    if (!m_copying.load(std::memory_order_acquire)) {
      FinishExport();
      m_done.store(1, std::memory_order_release);
      Terminate();
      break;
    }
    const SpanReader::Step step = m_span->ReadSector(seen, take);
    m_progressNext.store(m_span->Next(), std::memory_order_release);
    NoteLosses();
    if (step == SpanReader::Step::kMore) continue;
    if (step == SpanReader::Step::kStopped) {
      m_errorText = m_frameTableFailed ? m_framesFile.Error() : m_sink->Error();
      if (m_errorText.empty()) m_errorText = "cannot write " + FramesTablePathOf(m_indexPath);
      m_failure = CopyFailure::WriteFailed;
    } else if (step == SpanReader::Step::kGone) {
      // What was copied is finished and said to be incomplete.
      m_diskGone.store(true, std::memory_order_release);
      m_errorText = kDiskStoppedText;
    } else if (step != SpanReader::Step::kGaveUp) {
      m_spanEnded = true;
    }
    m_copying.store(false, std::memory_order_release);
  }
  // Stopped or closed while copying: keep what was copied playable.
  if (!m_finished) FinishExport();
}

void CopyHDDThread::NoteLosses() {
  m_skippedRecords.store(m_span->SkippedRecords() + (m_sink ? m_sink->CorruptRecords() : 0),
                         std::memory_order_release);
  m_readErrors.store(m_span->ReadErrors(), std::memory_order_release);
  m_indexFailedAt.store(m_span->IndexFailedAt(), std::memory_order_release);
  if (m_span->DiskGone()) m_diskGone.store(true, std::memory_order_release);
}

void CopyHDDThread::FinishExport() {
  m_finished = true;
  if (m_span) {
    m_losses = m_span->Losses();
    // Entries of channels 4 and above are never asked for; anything else
    // not copied is.
    const uint64_t leftOut = m_span->SkippedRecords() - m_span->OtherChannelEntries() +
                             (m_sink ? m_sink->CorruptRecords() : 0);
    m_complete.store(m_spanEnded && !m_diskGone.load() && m_span->ReadErrors() == 0 && leftOut == 0,
                     std::memory_order_release);
  }
  if (m_diskGone.load() && m_failure.load() == CopyFailure::None) m_failure = CopyFailure::DiskGone;
  if (!m_sink) {
    DropFramesTable();
    return;
  }
  if (m_failure.load() == CopyFailure::WriteFailed) {
    m_sink->Abandon();
    DropFramesTable();
    return;
  }
  if (m_sink->Written() == 0) {
    // Nothing to copy: no file, and files of those names stay as they were.
    m_sink->Abandon();
    DropFramesTable();
    if (m_failure.load() == CopyFailure::None)
      m_failure = m_options.format == ExportFormat::kClip ? CopyFailure::NoEntries
                                                          : CopyFailure::NoPictures;
    return;
  }
  // The files and the manifest share one folder sync, after the last
  // rename; each file was synced at its commit.
  platform::FolderSyncs folders;
  if (!m_sink->Finish(m_layout.load(), folders)) {
    m_errorText = m_sink->Error();
    m_failure = CopyFailure::WriteFailed;
    DropFramesTable();
    return;
  }
  ORVAN_LOG_INFO(kLogCategory, "export %s: %lld entries", m_indexPath.c_str(),
                 static_cast<long long>(m_sink->Written()));
  m_files = m_sink->Files();
  if (m_frames && !CommitFramesTable(folders)) {
    // The files are in place and whole; what is missing is their table,
    // and with it the manifest that would list it.
    m_failure = CopyFailure::ManifestFailed;
    folders.SyncAll();
    return;
  }
  if (m_options.manifest && !WriteExportManifest(folders)) m_failure = CopyFailure::ManifestFailed;
  folders.SyncAll();
}

void CopyHDDThread::DropFramesTable() {
  m_frames.reset();  // its worker ends before the file it writes goes
  m_framesFile.Abandon();
}

bool CopyHDDThread::CommitFramesTable(platform::FolderSyncs &folders) {
  const std::string path = FramesTablePathOf(m_indexPath);
  if (!m_frames->End() || !m_framesFile.Commit(&folders)) {
    m_errorText = m_framesFile.Error().empty() ? "cannot write " + path : m_framesFile.Error();
    ORVAN_LOG_WARN(kLogCategory, "%s", m_errorText.c_str());
    DropFramesTable();
    return false;
  }
  m_files.push_back(ExportedFileOf(m_framesFile, "frames table"));
  return true;
}

bool CopyHDDThread::WriteExportManifest(platform::FolderSyncs &folders) {
  ExportManifest m;
  m.createdUtc = UtcNow();
  m.source = m_sourceIdentity;
  m.geometry = m_geometry;
  m.layout = m_layout.load();
  m.format = m_options.format;
  m.askedFromSeconds = m_startSeconds;
  m.askedToSeconds = m_endSeconds;
  m.startEntry = m_startEntry.load();
  m.stopped = !m_spanEnded;
  m.complete = m_complete.load();
  m.diskGone = m_diskGone.load();
  m.losses = m_losses;
  m.channels = m_sink->Statistics().Channels();
  if (m_plan && m_frames) {
    m_plan->timing.Finish();
    for (int c = 0; c < 4; ++c) m.timing[size_t(c)] = m_plan->timing.Channel(c);
  }
  m.skippedRecords = m_skippedRecords.load();
  m.readErrors = m_readErrors.load();
  m.notes = m_sink->Notes();
  m.files = m_files;
  const std::string path = ManifestPathOf(m_indexPath);
  std::string error;
  if (!WriteManifest(path, m, m_policy, &error, &folders)) {
    m_errorText = error.empty() ? "cannot write " + path : error;
    ORVAN_LOG_WARN(kLogCategory, "%s", m_errorText.c_str());
    return false;
  }
  m_manifestPath = path;
  return true;
}

}  // namespace orvan::recorder
