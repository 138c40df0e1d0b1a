#include "recorder/playback/play_hdd_thread.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "recorder/layout/index_search.h"

namespace orvan::recorder {

namespace {
constexpr PlaybackThread::PacingRule kDiskPacing{5, 6, 0};

class NullSource final : public ByteSource {
 public:
  bool Seek(uint64_t) override { return false; }
  bool Read(void *, size_t, size_t *) override { return false; }
};
NullSource g_nullSource;
}  // namespace

PlayHDDThread::PlayHDDThread(IPlaybackHost &host, ByteSource *disk,
                             const std::array<IViewerSink *, kChannelCount> &viewers,
                             int driveNumber, IScreenGrabber *grabber)
    : PlaybackThread(host, viewers, grabber, kDiskPacing),
      m_disk(disk ? *disk : g_nullSource, m_lock),
      m_haveDisk(disk != nullptr),
      m_driveNumber(driveNumber) {
  OpenSound();
  Resume();  // made running; the body reads the disk, then waits for Play()
}

void PlayHDDThread::CheckDisk() {
  if (m_haveDisk) {
    const GeometryStatus status = ReadGeometry(m_disk, m_geometry, &m_header, &m_state);
    if (status == GeometryStatus::Ok) {
      uint32_t start = 0, end = 0;
      IndexBlockTime(0, m_disk, start);
      IndexBlockTime(m_geometry.playEnd, m_disk, end);
      m_startTime = TimeToCalendar(start);
      m_endTime = TimeToCalendar(end);
      m_reader.Start(m_disk, 0);
      m_valid.store(true);
    } else if (status == GeometryStatus::NoValidState) {
      ShowMessage(kStateErrorText, "");
      Terminate();
    }
  }
  m_checked.store(true);
  if (m_valid.load())
    SetTimeLabels("Start : " + FormatRecorderTime(m_startTime),
                  "End : " + FormatRecorderTime(m_endTime));
  if (m_disk.Gone()) NoteDiskGone();
}

PlayHDDThread::~PlayHDDThread() {
  Terminate();
  WakePlayer();
  WaitFor();
}

int64_t PlayHDDThread::JumpTarget(int64_t offset, int width) const {
  const double exact = double(offset) * (double(m_geometry.playEnd) / double(width));
  int64_t next = static_cast<int64_t>(exact);
  next -= next % kEntriesPerBlock;
  if (next < 0) next = 0;
  return next;
}

bool PlayHDDThread::JumpTo(int64_t next) {
  m_batchNext = kNoBatch;  // what was left of the last sector is not played
  const bool ok = m_reader.Start(m_disk, next);
  m_nextEntry.store(m_reader.Next());
  return ok;
}

bool PlayHDDThread::ReadEntryAt(int64_t n, IndexEntry &entry) {
  if (n < 0 || n >= m_geometry.playEnd) return false;
  return ReadIndexEntry(m_disk, n, entry);
}

int64_t PlayHDDThread::PlayPosition() const {
  const size_t count = m_reader.Entries().size();
  if (m_batchNext < count) return m_reader.Next() - int64_t(count) + int64_t(m_batchNext);
  return m_reader.Next();
}

void PlayHDDThread::ResumeAt(int64_t n) {
  // From the start of the block, sector by sector, to the sector holding
  // entry n; the batch starts at n.
  JumpTo(n - n % kEntriesPerBlock);
  while (m_reader.Next() <= n && m_reader.Next() < m_geometry.playEnd &&
         m_reader.ReadStep(m_disk)) {
  }
  const int64_t first = m_reader.Next() - int64_t(m_reader.Entries().size());
  if (m_reader.Next() > n && n >= first) m_batchNext = size_t(n - first);
  m_nextEntry.store(m_reader.Next());
}

int64_t PlayHDDThread::SearchTime(uint32_t target) {
  if (!m_valid.load()) return -1;
  const int64_t entry = recorder::SearchTime(m_disk, m_geometry, SearchFromSeconds(target));
  m_searched.store(entry);
  PlayFrom(entry);
  return entry;
}

int64_t PlayHDDThread::FindEntryOfTime(uint32_t seconds) {
  if (!m_valid.load()) return -1;
  // The index search finds the block; the entry is looked for in it, and
  // in the next one when the time lies past its end.
  const int64_t block = recorder::SearchTime(m_disk, m_geometry, seconds);
  if (block < 0) return -1;
  IndexEntry e;
  // The block may start inside the second: its first entries lie before.
  int64_t start = block;
  while (start > 0 && start > block - kEntriesPerBlock && ReadEntryAt(start - 1, e) &&
         (e.channel >= kChannelCount || e.time >= seconds))
    --start;
  const int64_t end = std::min<int64_t>(m_geometry.playEnd, block + 2 * kEntriesPerBlock);
  int64_t n = start;
  for (; n < end; ++n) {
    if (!ReadEntryAt(n, e)) break;
    if (e.channel < kChannelCount && e.time >= seconds) break;
  }
  if (n >= end || n > start + 2 * kEntriesPerBlock) n = n > start ? n - 1 : start;
  m_searched.store(n);
  return n;
}

bool PlayHDDThread::SearchTimeOnPlayer(uint32_t target) {
  if (m_checked.load() && !m_valid.load()) return false;
  m_pendingSearch.store(int64_t{target});
  Play();
  return true;
}

RecordRead PlayHDDThread::ReadRecord(const IndexEntry &entry, uint8_t *buffer) {
  return recorder::ReadRecord(m_disk, m_geometry, entry, buffer);
}

bool PlayHDDThread::PassesFastForward(const IndexEntry &entry) {
  if (!ShownInDiskFastForward(entry.type)) return false;
  const int64_t seconds = entry.time;
  if (std::llabs(seconds - m_lastKeySeconds[entry.channel]) < 1) return false;
  m_lastKeySeconds[entry.channel] = seconds;
  // As in normal play, a wait of a second or more is not waited for: one
  // damaged delay must not hold fast forward for a minute.
  const int wait = int(entry.delayMs) - 7;
  if (wait > 0 && wait < kPacingLimitMs && PacingEnabled()) PacingSleep(wait);
  return true;
}

void PlayHDDThread::DecideLayout(int channel) {
  if (m_layoutDecider.Decided()) return;
  if (m_layoutDecider.See(static_cast<uint8_t>(channel))) {
    m_layout.store(m_layoutDecider.Value());
    SendLayout(m_layoutDecider.Value());
  }
}

void PlayHDDThread::HandleEntry(const IndexEntry &entry, int64_t n) {
  if (entry.channel >= kChannelCount) {
    NoteSkippedEntry();
    return;
  }
  DecideLayout(entry.channel);
  if (Mode() == 1 && !PassesFastForward(entry)) return;
  PlayEntry(entry, n);
}

void PlayHDDThread::PlayBatch() {
  const auto entries = m_reader.Entries();
  // A pause is honoured between two entries: the rest of the sector waits
  // for the next playing turn, so Pause() returns after one entry, not a
  // whole sector of paced entries.
  const int64_t first = m_reader.Next() - int64_t(entries.size());
  while (m_batchNext < entries.size()) {
    if (Terminated() || !Playing() || DiskGone()) return;
    const size_t k = m_batchNext++;
    HandleEntry(entries[k], first + int64_t(k));
  }
  if (!m_reader.Resync(m_disk))
    ShowMessage("SetFilePointerEx to index error : " + std::to_string(errno), "");
}

bool PlayHDDThread::BeforeTurns() {
  CheckDisk();
  if (!m_valid.load()) {
    Terminate();
    return false;
  }
  const int64_t nowSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
  m_lastKeySeconds.fill(nowSeconds);
  return true;
}

PlaybackThread::Turn PlayHDDThread::PlayTurn() {
  if (DiskGone()) return Turn::kNothingToPlay;
  const int64_t target = m_pendingSearch.exchange(-1);
  if (target >= 0) {
    // A search asked for from the window: run here, on the player's time.
    const int64_t entry =
        recorder::SearchTime(m_disk, m_geometry, SearchFromSeconds(uint32_t(target)));
    if (m_disk.Gone()) {
      NoteDiskGone();
      return Turn::kNothingToPlay;
    }
    m_searched.store(entry);
    PlayFrom(entry);
  }
  TakePendingJump();
  if (m_batchNext < m_reader.Entries().size()) {
    // The rest of a sector a pause interrupted.
    PlayBatch();
    return Turn::kPlayed;
  }
  const bool more = m_reader.Next() < m_geometry.playEnd;
  SetAtEnd(!more);
  if (!more) return Turn::kNothingToPlay;
  const int64_t at = m_reader.Next();
  switch (m_reader.Step(m_disk)) {
    case IndexStep::kRead:
      break;
    case IndexStep::kLost: {
      // Its entries are lost; the next sector is read at once.
      const LostIndexSector &lost = m_reader.LostEntries();
      NoteLoss(LostPart{LostPart::What::kIndex, lost.firstEntry,
                        std::min(lost.lastEntry, m_geometry.playEnd - 1), lost.byteOffset,
                        kSectorBytes});
      NoteIndexRead(true, at);
      m_reader.Resync(m_disk);
      m_nextEntry.store(m_reader.Next());
      return Turn::kAgainAtOnce;
    }
    case IndexStep::kEnded:
      // The disk ends inside the index (an image cut short).
      NoteIndexRead(false, at);
      return Turn::kNothingToPlay;
    case IndexStep::kGone:
      NoteDiskGone();
      return Turn::kNothingToPlay;
    case IndexStep::kStopped:
      return Turn::kNothingToPlay;
  }
  NoteIndexRead(true, at);
  m_nextEntry.store(m_reader.Next());
  m_batchNext = 0;
  PlayBatch();
  return Turn::kPlayed;
}

}  // namespace orvan::recorder
