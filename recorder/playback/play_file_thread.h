// Plays a clip (an index file with its data file): the same delivery,
// pacing, play bar and AVI saving as the disk player, reading the clip's
// entries one by one.
#pragma once

#include <atomic>
#include <cstdint>

#include "recorder/layout/clip_format.h"
#include "recorder/playback/playback_thread.h"

namespace orvan::recorder {

class PlayFileThread : public PlaybackThread {
 public:
  // The clip's files are opened and closed by the owner and must outlive
  // the thread. Runs at once; nothing plays before Play().
  PlayFileThread(IPlaybackHost &host, const CClipReader *clip,
                 const std::array<IViewerSink *, kChannelCount> &viewers,
                 IScreenGrabber *grabber = nullptr);
  ~PlayFileThread() override;

  // After validation (BeforeTurns): the clip's entry count and layout, -1
  // before or when the clip was refused.
  int64_t EntryCount() const { return m_count.load(); }
  int Layout() const { return m_layoutValue.load(); }
  // True once the clip has been checked and refused (too short, no magic,
  // wrong count, unreadable).
  bool Refused() const { return m_refused.load(); }
  // The first entry recorded at or after `target` (the last entry when
  // none is); -1 before validation or when the clip cannot be read.
  int64_t SearchTime(uint32_t target) override;

 protected:
  bool BeforeTurns() override;
  Turn PlayTurn() override;
  RecordRead ReadRecord(const IndexEntry &entry, uint8_t *buffer) override;
  uint64_t RecordByteOffset(const IndexEntry &entry) const override {
    return entry.offset - m_baseOffset;
  }
  bool JumpTo(int64_t next) override;
  int64_t TotalEntries() const override { return m_count.load() > 0 ? m_count.load() : 0; }
  int64_t NextEntry() const override { return m_next.load(); }
  int64_t JumpTarget(int64_t offset, int width) const override;
  int64_t FindEntryOfTime(uint32_t seconds) override;
  bool ReadEntryAt(int64_t n, IndexEntry &entry) override {
    return n < TotalEntries() && ReadEntry(n, entry) == RecordRead::kRead;
  }
  int64_t PlayPosition() const override { return m_next.load(); }
  void ResumeAt(int64_t n) override { m_next.store(n); }

 private:
  bool Validate();
  // Entry k of the index file; a lost one is noted as lost.
  RecordRead ReadEntry(int64_t k, IndexEntry &entry);
  // Takes the next entry to play by the mode's rule; false when there is
  // none this turn. `failed`: how a read that ended the taking ended
  // (kRead when none did).
  bool TakeNextEntry(IndexEntry &entry, RecordRead &failed);

  CTeskCriticalSection m_lock;  // held for each single read of either file
  const CClipReader *m_clip;
  std::atomic<int64_t> m_count{-1};
  std::atomic<int> m_layoutValue{-1};
  std::atomic<bool> m_refused{false};
  uint64_t m_baseOffset = 0;
  std::atomic<int64_t> m_next{0};  // entries read so far; written by the player
};

}  // namespace orvan::recorder
