// Plays a recorder disk: reads the time index in order, one sector a turn,
// and hands every entry to the viewer of its channel, paced at recording
// speed; fast forward shows one key picture a second per channel.
#pragma once

#include <atomic>

#include "recorder/layout/disk_layout.h"
#include "recorder/layout/locked_source.h"
#include "recorder/playback/playback_thread.h"

namespace orvan::recorder {

class PlayHDDThread : public PlaybackThread {
 public:
  // Runs at once, paused: nothing is played before Play(), SearchTime() or
  // a play-bar jump. The source is opened and closed by the owner and must
  // outlive the thread. The disk's header, state and span are read on the
  // player's own thread first (DiskChecked() then holds), so a slow disk
  // never holds the creator: a source that is not a recorder disk ends the
  // thread; one without a valid state entry shows "Check HDD State Error!!"
  // and ends it.
  PlayHDDThread(IPlaybackHost &host, ByteSource *disk,
                const std::array<IViewerSink *, kChannelCount> &viewers, int driveNumber,
                IScreenGrabber *grabber = nullptr);
  ~PlayHDDThread() override;

  // The index search's block for `target`, run on the caller's thread;
  // -1 when the disk cannot be read (or is not checked yet).
  int64_t SearchTime(uint32_t target) override;
  // The same search run by the player at its next turn, which then plays
  // from there: the caller (the window) never waits for the disk. False
  // when the disk is not a valid recorder disk.
  bool SearchTimeOnPlayer(uint32_t target);
  // The entry the last search on the player found (-1 before any).
  int64_t SearchedEntry() const { return m_searched.load(); }

  // Once DiskChecked(): whether the disk is a recorder disk with a valid
  // state, and its geometry and span (empty before).
  bool DiskChecked() const { return m_checked.load(); }
  bool DiskValid() const { return m_valid.load(); }
  DiskGeometry Geometry() const { return m_checked.load() ? m_geometry : DiskGeometry{}; }
  SYSTEMTIME DiskStartTime() const { return m_checked.load() ? m_startTime : SYSTEMTIME{}; }
  SYSTEMTIME DiskEndTime() const { return m_checked.load() ? m_endTime : SYSTEMTIME{}; }
  int DriveNumber() const { return m_driveNumber; }
  // The layout decided so far: -1 undecided, else 0 or 1.
  int LayoutDecision() const { return m_layout.load(); }

 protected:
  bool BeforeTurns() override;
  Turn PlayTurn() override;
  RecordRead ReadRecord(const IndexEntry &entry, uint8_t *buffer) override;
  uint64_t RecordByteOffset(const IndexEntry &entry) const override {
    return m_geometry.dataBase + entry.offset;
  }
  bool JumpTo(int64_t next) override;
  int64_t TotalEntries() const override { return m_geometry.playEnd; }
  int64_t NextEntry() const override { return m_nextEntry.load(); }
  int64_t JumpTarget(int64_t offset, int width) const override;
  int64_t FindEntryOfTime(uint32_t seconds) override;
  bool ReadEntryAt(int64_t n, IndexEntry &entry) override;
  int64_t PlayPosition() const override;
  void ResumeAt(int64_t n) override;

 private:
  void HandleEntry(const IndexEntry &entry, int64_t n);
  // Reads the header, the state and the span (player thread, first).
  void CheckDisk();
  // Plays the entries of the current sector from m_batchNext on, then moves
  // the reader behind them.
  void PlayBatch();
  bool PassesFastForward(const IndexEntry &entry);
  void DecideLayout(int channel);

  CTeskCriticalSection m_lock;  // held for each single Seek and Read of the disk
  LockedSource m_disk;
  bool m_haveDisk = false;
  // Written by the player before m_checked is set, read-only afterwards.
  std::atomic<bool> m_checked{false};
  std::atomic<bool> m_valid{false};
  std::atomic<int64_t> m_pendingSearch{-1};  // a target for the player's search, -1: none
  std::atomic<int64_t> m_searched{-1};
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
