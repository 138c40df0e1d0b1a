#include "recorder/copy_hdd_thread.h"

#include <algorithm>

#include "platform/log.h"
#include "recorder/index_search.h"

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
                             const SYSTEMTIME &end, const std::string &indexPath,
                             MessageSink showMessage, platform::ReplacePolicy policy)
    : TThread(true), m_owner(owner), m_indexPath(indexPath), m_record(kMaxRecordBytes) {
  const DriveOpenStatus opened = m_disk.Open(driveNumber);
  if (opened != DriveOpenStatus::Ok) {
    m_errorText = m_disk.LastError();
    m_failure = CopyFailure::DiskOpenFailed;
  } else {
    const GeometryStatus status = ReadGeometry(m_source, m_geometry, &m_header, &m_state);
    if (status == GeometryStatus::NotRecorderDisk) {
      // The geometry stays empty: nothing is copied, an empty clip is written.
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
      m_startEntry = SearchTime(m_source, m_geometry, m_startSeconds);
      m_reader.Start(m_source, m_startEntry);
      m_progressNext = m_startEntry;
      std::string error;
      if (m_writer.Create(m_indexPath, policy, &error)) {
        m_dataPath = m_writer.DataPath();
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
  m_writer.Close();
  m_disk.Close();
}

void CopyHDDThread::Execute() {
  while (!Terminated()) {
    if (!m_copying.load(std::memory_order_acquire)) {
      FinishClip();
      m_done.store(1, std::memory_order_release);
      Terminate();
      break;
    }
    const bool more = m_reader.Next() < m_geometry.playEnd;
    if (more && m_reader.ReadStep(m_source)) {
      CopySector();
      m_reader.Resync(m_source);  // a failed seek shows in the next read
      m_progressNext.store(m_reader.Next(), std::memory_order_release);
    } else {
      if (more) {
        // An unreadable index ends the clip here; the caller is told.
        m_readErrors.fetch_add(1, std::memory_order_acq_rel);
        m_indexFailedAt.store(m_reader.Next(), std::memory_order_release);
      }
      m_copying.store(false, std::memory_order_release);
    }
  }
  // Stopped or closed while copying: keep what was copied playable.
  if (!m_trailerWritten && m_writer.IsOpen()) FinishClip();
}

void CopyHDDThread::CopySector() {
  for (const IndexEntry &e : m_reader.Entries()) {
    if (e.channel >= 4) {
      m_skippedRecords.fetch_add(1, std::memory_order_acq_rel);
      continue;
    }
    if (m_decision.See(e.channel)) m_layout.store(m_decision.Value(), std::memory_order_release);
    m_lastSeconds.store(e.time, std::memory_order_release);
    if (int64_t{e.time} < m_endSeconds) {
      if (!ReadDataRecord(m_source, m_geometry, e, m_record.data())) {
        m_skippedRecords.fetch_add(1, std::memory_order_acq_rel);
        continue;
      }
      if (!m_writer.WriteEntry(e, m_record.data())) {
        m_errorText = "Writing the clip failed: " + m_indexPath;
        m_failure = CopyFailure::WriteFailed;
        m_copying.store(false, std::memory_order_release);
        return;
      }
      m_written.fetch_add(1, std::memory_order_acq_rel);
    } else {
      m_copying.store(false, std::memory_order_release);
    }
  }
}

void CopyHDDThread::FinishClip() {
  m_trailerWritten = true;
  if (!m_writer.IsOpen()) return;
  if (m_failure.load() == CopyFailure::WriteFailed) {
    m_writer.Abandon();
    return;
  }
  if (m_written.load() == 0) {
    // Nothing to copy: no clip, and a file of that name stays as it was.
    m_writer.Abandon();
    if (m_failure.load() == CopyFailure::None) m_failure = CopyFailure::NoEntries;
    return;
  }
  const int64_t written = m_written.load();
  const bool trailer = m_writer.WriteTrailer(MagicOfLayout(m_layout.load()),
                                             uint32_t(std::min<int64_t>(written, UINT32_MAX)));
  std::string why;
  if (!trailer) m_writer.Abandon();
  if (!trailer || !m_writer.Close(&why)) {
    m_errorText = "Writing the clip failed: " + m_indexPath + (why.empty() ? "" : " (" + why + ")");
    m_failure = CopyFailure::WriteFailed;
  }
  ORVAN_LOG_INFO(kLogCategory, "clip %s: %lld entries", m_indexPath.c_str(),
                 static_cast<long long>(written));
}

}  // namespace orvan::recorder
