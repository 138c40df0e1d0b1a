#include "recorder/playback/play_file_thread.h"

namespace orvan::recorder {

namespace {
constexpr PlaybackThread::PacingRule kClipPacing{2, 3, 10};
constexpr int kMjpegFastForwardStride = 21;
}  // namespace

PlayFileThread::PlayFileThread(IPlaybackHost &host, const CClipReader *clip,
                               const std::array<IViewerSink *, kChannelCount> &viewers,
                               IScreenGrabber *grabber)
    : PlaybackThread(host, viewers, grabber, kClipPacing), m_clip(clip) {
  OpenSound();
  Resume();
}

PlayFileThread::~PlayFileThread() {
  Terminate();
  WakePlayer();
  WaitFor();
}

RecordRead PlayFileThread::ReadEntry(int64_t k, IndexEntry &entry) {
  if (k < 0) return RecordRead::kInvalid;
  RecordRead read;
  {
    CTeskAutoLock l(m_lock);
    read = m_clip->ReadEntryChecked(uint64_t(k), entry);
  }
  if (read == RecordRead::kLost)
    NoteLoss(LostPart{LostPart::What::kIndex, k, k, uint64_t(k) * kEntryBytes, kEntryBytes});
  if (read == RecordRead::kGone) NoteDiskGone();
  return read;
}

bool PlayFileThread::Validate() {
  ClipTrailer trailer;
  ClipStatus status;
  {
    CTeskAutoLock l(m_lock);
    status = m_clip->ReadClipTrailer(trailer);
  }
  if (status == ClipStatus::TooShort) {
    ShowMessage(kClipTooShortText, kClipTooShortCaption);
    return false;
  }
  if (status == ClipStatus::Ok) {
    m_layoutValue.store(trailer.layout);
    SendLayout(trailer.layout);
  }
  if (status != ClipStatus::Ok || trailer.count == 0) return false;
  IndexEntry last, first;
  if (ReadEntry(int64_t(trailer.count) - 1, last) != RecordRead::kRead ||
      ReadEntry(0, first) != RecordRead::kRead)
    return false;
  m_count.store(trailer.count);
  m_baseOffset = first.offset;
  SetTimeLabels("Start : " + FormatRecorderTime(TimeToCalendar(first.time)),
                "End : " + FormatRecorderTime(TimeToCalendar(last.time)));
  return true;
}

int64_t PlayFileThread::JumpTarget(int64_t offset, int width) const {
  const int64_t next =
      static_cast<int64_t>(double(offset) * (double(TotalEntries()) / double(width)));
  return next < 0 ? 0 : next;
}

bool PlayFileThread::JumpTo(int64_t next) {
  m_next.store(next);
  return true;
}

int64_t PlayFileThread::SearchTime(uint32_t target) {
  const int64_t found = FindEntryOfTime(SearchFromSeconds(target));
  if (found < 0) return -1;
  PlayFrom(found);
  return found;
}

int64_t PlayFileThread::FindEntryOfTime(uint32_t target) {
  const int64_t count = m_count.load();
  if (count <= 0) return -1;
  // Entries are in recording order: the first one at or after the target,
  // by halving; an unreadable entry ends the search unchanged.
  int64_t low = 0, high = count - 1;
  while (low < high) {
    const int64_t middle = low + (high - low) / 2;
    IndexEntry entry;
    if (ReadEntry(middle, entry) != RecordRead::kRead) return -1;
    if (entry.time < target)
      low = middle + 1;
    else
      high = middle;
  }
  return low;
}

RecordRead PlayFileThread::ReadRecord(const IndexEntry &entry, uint8_t *buffer) {
  CTeskAutoLock l(m_lock);
  return m_clip->ReadRecordChecked(entry, m_baseOffset, buffer);
}

bool PlayFileThread::TakeNextEntry(IndexEntry &entry, RecordRead &failed) {
  const int64_t count = m_count.load();
  int64_t next = m_next.load();
  failed = RecordRead::kRead;
  // A lost entry is passed over (it is noted); anything else ends the
  // taking where it stands.
  auto read = [&](int64_t k, IndexEntry &e) {
    const RecordRead r = ReadEntry(k, e);
    if (r != RecordRead::kRead && r != RecordRead::kLost) failed = r;
    return r;
  };
  if (Mode() == 0) {
    const RecordRead r = read(next, entry);
    if (r == RecordRead::kLost) m_next.store(next + 1);
    if (r != RecordRead::kRead) return false;
    m_next.store(next + 1);
    // Every entry plays, the last one included.
    return true;
  }
  if (LastPictureCodecWord() != 0) {
    // MPEG-4: on to the next key picture; what lies between is passed over.
    while (next < count && !Terminated()) {
      const RecordRead r = read(next, entry);
      if (r != RecordRead::kRead && r != RecordRead::kLost) return false;
      m_next.store(++next);
      if (r == RecordRead::kRead &&
          (entry.type == kTypeKeyPicture || entry.type == kTypeKeyPictureAlt))
        return true;
    }
    return false;
  }
  // MJPEG: every picture is a key picture; show every 21st entry.
  const int64_t remaining = count - next;
  if (remaining < kMjpegFastForwardStride) {
    m_next.store(count);
    return false;
  }
  IndexEntry last;
  RecordRead r = RecordRead::kRead;
  for (int i = 0; i < kMjpegFastForwardStride; ++i) {
    r = read(next + i, last);
    if (r != RecordRead::kRead && r != RecordRead::kLost) return false;
  }
  m_next.store(next + kMjpegFastForwardStride);
  if (r != RecordRead::kRead) return false;
  entry = last;
  return true;
}

bool PlayFileThread::BeforeTurns() {
  if (m_clip && Validate()) return true;
  m_refused.store(true);
  return false;
}

PlaybackThread::Turn PlayFileThread::PlayTurn() {
  if (DiskGone()) return Turn::kNothingToPlay;
  TakePendingJump();
  const bool more = m_next.load() < m_count.load();
  SetAtEnd(!more);
  if (!more) return Turn::kNothingToPlay;
  IndexEntry entry;
  RecordRead failed = RecordRead::kRead;
  // A failed read is tried again next turn, after the usual pause; a lost
  // entry is passed over at once.
  const int64_t at = m_next.load();
  if (!TakeNextEntry(entry, failed)) {
    if (failed == RecordRead::kGone || DiskGone()) return Turn::kNothingToPlay;
    if (failed != RecordRead::kRead) NoteIndexRead(false, at);
    return failed != RecordRead::kRead ? Turn::kPlayed : Turn::kAgainAtOnce;
  }
  NoteIndexRead(true, at);
  if (entry.channel >= kChannelCount) {
    NoteSkippedEntry();
    return Turn::kPlayed;
  }
  if (!PlayEntry(entry, m_next.load() - 1)) return Turn::kAgainAtOnce;
  return Turn::kPlayed;
}

}  // namespace orvan::recorder
