// Plays a recorder disk: reads the time index in order, one sector a turn,
// and hands every entry to the viewer of its channel, paced at recording
// speed; fast forward shows one key picture a second per channel.
#pragma once

#include <atomic>

#include "recorder/disk_layout.h"
#include "recorder/locked_source.h"
#include "recorder/playback_thread.h"

namespace orvan::recorder {

class PlayHDDThread : public PlaybackThread {
 public:
  // Runs at once, paused: nothing is read before Play(), SearchTime() or a
  // play-bar jump. The source is opened and closed by the owner and must
  // outlive the thread. A source that is not a recorder disk ends the
  // thread at once; one without a valid state entry shows
  // "Check HDD State Error!!" and ends it.
  PlayHDDThread(IPlaybackHost &host, ByteSource *disk,
                const std::array<IViewerSink *, kChannelCount> &viewers, int driveNumber,
                IScreenGrabber *grabber = nullptr);
  ~PlayHDDThread() override;

  // The index search's block for `target`; -1 when the disk cannot be
  // read.
  int64_t SearchTime(uint32_t target) override;

  bool DiskValid() const { return m_valid.load(); }
  const DiskGeometry &Geometry() const { return m_geometry; }
  SYSTEMTIME DiskStartTime() const { return m_startTime; }
  SYSTEMTIME DiskEndTime() const { return m_endTime; }
  int DriveNumber() const { return m_driveNumber; }
  // The layout decided so far: -1 undecided, else 0 or 1.
  int LayoutDecision() const { return m_layout.load(); }

 protected:
  bool BeforeTurns() override;
  Turn PlayTurn() override;
  bool ReadRecord(const IndexEntry &entry, uint8_t *buffer) override;
  bool JumpTo(int64_t next) override;
  int64_t TotalEntries() const override { return m_geometry.playEnd; }
  int64_t NextEntry() const override { return m_nextEntry.load(); }
  int64_t JumpTarget(int64_t offset, int width) const override;
  bool ReadEntryAt(int64_t n, IndexEntry &entry) override;
  int64_t PlayPosition() const override;
  void ResumeAt(int64_t n) override;

 private:
  void HandleEntry(const IndexEntry &entry);
  // Plays the entries of the current sector from m_batchNext on, then moves
  // the reader behind them.
  void PlayBatch();
  bool PassesFastForward(const IndexEntry &entry);
  void DecideLayout(int channel);

  CTeskCriticalSection m_lock;  // held for each single Seek and Read of the disk
  LockedSource m_disk;
  std::atomic<bool> m_valid{false};
  int m_driveNumber;
  DiskHeader m_header;
  DiskStateEntry m_state;
  DiskGeometry m_geometry;
  SYSTEMTIME m_startTime{};
  SYSTEMTIME m_endTime{};

  // Player thread, except where a jump from SearchTime is handed over.
  IndexReader m_reader;
  static constexpr size_t kNoBatch = SIZE_MAX;
  size_t m_batchNext = kNoBatch;  // next entry of m_reader.Entries() to play
  std::atomic<int64_t> m_nextEntry{0};
  std::array<int64_t, kChannelCount> m_lastKeySeconds{};
  LayoutDecider m_layoutDecider;
  std::atomic<int> m_layout{-1};
};

}  // namespace orvan::recorder
