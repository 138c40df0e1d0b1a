#include "recorder/copy_hdd_thread.h"

#include <algorithm>

#include "platform/log.h"
#include "recorder/export_manifest.h"
#include "recorder/media_export.h"

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
      m_startEntry = m_span->Start(m_startSeconds, m_endSeconds);
      m_progressNext = m_startEntry;
      // Every name is checked before anything is read; media files are made
      // as their channels' first key pictures come.
      std::vector<std::string> names;
      if (m_options.manifest) names.push_back(ManifestPathOf(outputPath));
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
  // The media sink is made here, after a look over the span's index.
  if (m_copying.load(std::memory_order_acquire) && m_options.format != ExportFormat::kClip) {
    const MediaSpanPlan plan = PlanMediaSpan(
        m_source, m_geometry, m_startSeconds, m_endSeconds,
        [this] { return Terminated() || !m_copying.load(std::memory_order_acquire); });
    m_sink = std::make_unique<MediaExportSink>(m_options.format, m_indexPath, m_options.channelMask,
                                               m_policy, plan);
  }
  auto seen = [this](const IndexEntry &e) {
    if (m_decision.See(e.channel)) m_layout.store(m_decision.Value(), std::memory_order_release);
    m_lastSeconds.store(e.time, std::memory_order_release);
  };
  auto take = [this](const SpanEntry &s) {
    if (!m_sink->Take(s)) return false;
    m_written.store(m_sink->Written(), std::memory_order_release);
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
      m_errorText = m_sink->Error();
      m_failure = CopyFailure::WriteFailed;
    } else {
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
}

void CopyHDDThread::FinishExport() {
  m_finished = true;
  if (!m_sink) return;
  if (m_failure.load() == CopyFailure::WriteFailed) {
    m_sink->Abandon();
    return;
  }
  if (m_sink->Written() == 0) {
    // Nothing to copy: no file, and files of those names stay as they were.
    m_sink->Abandon();
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
    return;
  }
  ORVAN_LOG_INFO(kLogCategory, "export %s: %lld entries", m_indexPath.c_str(),
                 static_cast<long long>(m_sink->Written()));
  m_files = m_sink->Files();
  if (m_options.manifest && !WriteExportManifest(folders)) m_failure = CopyFailure::ManifestFailed;
  folders.SyncAll();
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
  m.startEntry = m_startEntry;
  m.stopped = !m_spanEnded;
  m.channels = m_sink->Statistics().Channels();
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
