#include "recorder/play_file_thread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "recorder/clip_format.h"

namespace orvan::recorder {

namespace {
constexpr PlaybackThread::PacingRule kClipPacing{2, 3, 10};
constexpr int kMjpegFastForwardStride = 21;

// Reads exactly length bytes at offset; false on a short read or an error.
bool ReadAt(int fd, uint64_t offset, void *buffer, size_t length) {
  auto *p = static_cast<uint8_t *>(buffer);
  while (length > 0) {
    const ssize_t got = pread(fd, p, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}
}  // namespace

PlayFileThread::PlayFileThread(IPlaybackHost &host, int indexFd, int dataFd,
                               const std::array<IViewerSink *, kChannelCount> &viewers,
                               IScreenGrabber *grabber)
    : PlaybackThread(host, viewers, grabber, kClipPacing), m_indexFd(indexFd), m_dataFd(dataFd) {
  OpenSound();
  Resume();
}

PlayFileThread::~PlayFileThread() {
  Terminate();
  WaitFor();
}

bool PlayFileThread::ReadEntries(int64_t first, int count, IndexEntry *out) {
  uint8_t raw[kMjpegFastForwardStride * kEntryBytes];
  if (count <= 0 || count > kMjpegFastForwardStride || first < 0) return false;
  {
    CTeskAutoLock l(m_lock);
    if (!ReadAt(m_indexFd, uint64_t(first) * kEntryBytes, raw, size_t(count) * kEntryBytes))
      return false;
  }
  for (int i = 0; i < count; ++i) out[i] = IndexEntry::Parse(raw + i * kEntryBytes);
  return true;
}

bool PlayFileThread::Validate() {
  struct stat st {};
  if (fstat(m_indexFd, &st) != 0) return false;
  std::vector<uint8_t> tail;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size >= kClipTrailerSearchBytes) {
    tail.resize(kClipTrailerSearchBytes);
    CTeskAutoLock l(m_lock);
    if (!ReadAt(m_indexFd, size - kClipTrailerSearchBytes, tail.data(), tail.size())) return false;
  }
  const ClipTrailer trailer = FindClipTrailer(size, tail);
  if (trailer.status == ClipStatus::TooShort) {
    ShowMessage(kClipTooShortText, "Alarm");
    return false;
  }
  if (trailer.layout >= 0) {
    m_layoutValue.store(trailer.layout);
    SendLayout(trailer.layout);
  }
  if (trailer.status != ClipStatus::Ok || trailer.count == 0) return false;
  IndexEntry last, first;
  if (!ReadEntries(int64_t(trailer.count) - 1, 1, &last) || !ReadEntries(0, 1, &first)) return false;
  m_count.store(trailer.count);
  m_baseOffset = first.offset;
  SetTimeLabels("Start : " + FormatRecorderTime(TimeToCalendar(first.time)),
                "End : " + FormatRecorderTime(TimeToCalendar(last.time)));
  return true;
}

int64_t PlayFileThread::JumpTarget(int64_t offset, int width) const {
  const int64_t next = static_cast<int64_t>(double(offset) * (double(TotalEntries()) / double(width)));
  return next < 0 ? 0 : next;
}

bool PlayFileThread::JumpTo(int64_t next) {
  m_next.store(next);
  return true;
}

bool PlayFileThread::ReadRecord(const IndexEntry &entry, uint8_t *buffer) {
  if (entry.size > kMaxRecordBytes || entry.offset < m_baseOffset) return false;
  CTeskAutoLock l(m_lock);
  return ReadAt(m_dataFd, entry.offset - m_baseOffset, buffer, entry.size);
}

bool PlayFileThread::TakeNextEntry(IndexEntry &entry, bool &readFailed) {
  const int64_t count = m_count.load();
  int64_t next = m_next.load();
  readFailed = false;
  if (Mode() == 0) {
    if (!ReadEntries(next, 1, &entry)) {
      readFailed = true;
      return false;
    }
    m_next.store(next + 1);
    // Every entry plays, the last one included.
    return true;
  }
  if (LastDescription().videoCodec != 0) {
    // MPEG-4: on to the next key picture; what lies between is passed over.
    while (next < count && !Terminated()) {
      if (!ReadEntries(next, 1, &entry)) {
        readFailed = true;
        return false;
      }
      m_next.store(++next);
      if (entry.type == kTypeKeyPicture || entry.type == kTypeKeyPictureAlt) return true;
    }
    return false;
  }
  // MJPEG: every picture is a key picture; show every 21st entry.
  IndexEntry stride[kMjpegFastForwardStride];
  const int64_t remaining = count - next;
  if (remaining < kMjpegFastForwardStride) {
    m_next.store(count);
    return false;
  }
  if (!ReadEntries(next, kMjpegFastForwardStride, stride)) {
    readFailed = true;
    return false;
  }
  m_next.store(next + kMjpegFastForwardStride);
  entry = stride[kMjpegFastForwardStride - 1];
  return true;
}

void PlayFileThread::Execute() {
  if (m_indexFd < 0 || m_dataFd < 0 || !Validate()) {
    m_refused.store(true);
    return;
  }
  RestartPacing();
  while (!Terminated()) {
    if (Playing()) {
      PlayBarStep();
      if (m_next.load() < m_count.load()) {
        IndexEntry entry;
        bool readFailed = false;
        if (!TakeNextEntry(entry, readFailed)) {
          // A failed read is tried again next turn, after the usual pause.
          if (readFailed) Sleep(1);
          continue;
        }
        if (entry.channel < kChannelCount && !PlayEntry(entry)) continue;
      } else if (AviOn()) {
        CloseSavingIndicator();
      }
    } else {
      SetPauseAck();
    }
    Sleep(1);
  }
}

}  // namespace orvan::recorder
