// What the disk player and the clip player share: the control flags the
// main window sets, delivery of one index entry to the viewers with
// back-pressure and key-picture waits, pacing, the play bar, and AVI saving
// of what the screen shows.
//
// Threads: the operations (Play, Forward, Pause, SetAudio, RequestSeek,
// SetAviRecording) run on the main thread; Execute() and everything it
// calls run on the player's own thread. The control flags are atomics read
// without a lock. AVI saving is the screen recorder's, under its own lock.
// Calls into the window go through TThread::Synchronize.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/frame.h"
#include "media/locks.h"
#include "media/playback_sinks.h"
#include "media/screen_recorder.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/read_losses.h"
#include "recorder/playback/playback_host.h"

class CSoundDevice;

namespace orvan::recorder {

constexpr int kChannelCount = 4;
constexpr int kBackPressureFrames = 50;  // a viewer holding more makes the player wait
// The pause after each audio block, at normal speed.
constexpr int kAudioBlockPauseMs = 15;
// Every pacing sleep is shorter than this; a computed wait of this much or
// more is not waited for at all.
constexpr int kPacingLimitMs = 1000;

// The time pacing reads and the sleeps it takes. The player's own clock is
// steady_clock and interruptible sleeps; tests bring one whose time passes
// only by the sleeps asked for, so the pacing is measured without
// depending on the machine's speed. Called on the player thread only.
class PacingClock {
 public:
  virtual ~PacingClock() = default;
  virtual int64_t NowUs() = 0;
  // Sleeps `ms`, ending early once `stop` is true.
  virtual void Sleep(int64_t ms, const std::function<bool()> &stop) = 0;
};

// Play speeds in eighths of normal speed: 1/8 to 16 times.
constexpr int kSpeedsEighths[] = {1, 2, 4, 8, 16, 32, 64, 128};
constexpr int kNormalSpeedEighths = 8;
// Above this speed only key pictures are shown.
constexpr int kKeyPicturesOnlyAboveEighths = 32;

// Per-channel counts, for the command line and the tests. Written by the
// player thread only; read with relaxed atomics.
struct ChannelCounters {
  std::atomic<uint64_t> delivered{0};           // frames handed to the viewer (pictures and audio)
  std::atomic<uint64_t> keyWaitDrops{0};        // frames released while waiting for a key picture
  std::atomic<uint64_t> pictures{0};            // pictures handed over
  std::atomic<uint32_t> lastPictureSeconds{0};  // recorder time of the last one (0: none)
};

class PlaybackThread : public TThread {
 public:
  struct PacingRule {
    int marginMs;                   // sleep this much less than computed ...
    int marginThresholdMs;          // ... when the wait is above this
    int fastForwardPictureSleepMs;  // after a non-audio entry in fast forward
  };

  ~PlaybackThread() override;

  // Normal play from where the reader stands: waits for key pictures,
  // empties the audio queue, restarts pacing.
  void Play();
  // Fast forward: key pictures only.
  void Forward();
  // Normal play's speed, in eighths (one of kSpeedsEighths; others are
  // taken as normal speed): the recorded delays are scaled by it, sound
  // plays at normal speed only, and above 4 times only key pictures are
  // shown. Takes effect at the next entry; Forward ignores it.
  void SetSpeed(int eighths);
  int Speed() const { return m_speedEighths.load(); }
  // Stops reading at the next turn and waits (up to five seconds, running
  // synchronized calls meanwhile) for the thread to acknowledge. True when
  // it did.
  bool Pause();
  void SetAudio(bool on) { m_audioOn.store(on); }
  // Jump to the knob's position at the next turn.
  void RequestSeek();
  // Finds where `target` (recorder seconds) was recorded and plays from
  // there, waiting for key pictures. Runs the search on the caller's
  // thread; callers Pause() first. Returns the entry playing starts at, or
  // -1 when nothing can be found (nothing changes then).
  virtual int64_t SearchTime(uint32_t target) = 0;
  // Entries recorded before `seconds` are passed over, unshown and
  // unpaced, until the first one at or after it: a search lands on its
  // time, not at the start of the index block that holds it. The search
  // then starts kSkipDecodeSeconds earlier, and the pictures passed over
  // in those seconds are decoded (from each channel's key picture on), so
  // the first picture shown is the channel's first at or after that time,
  // not its next key picture. Call before the search; 0 cancels.
  void SkipBefore(uint32_t seconds) { m_skipBefore.store(seconds); }
  static constexpr uint32_t kSkipDecodeSeconds = 3;
  // On: a new AVI file at fileName receives the screen as it is at once
  // (black when it cannot be grabbed), so even a file of a paused player
  // holds a picture; then what the screen shows, at most one picture per
  // CScreenRecorder::kPictureIntervalMs, and the audio. False (and nothing recorded) when
  // the file cannot be made or is refused (a source, a device, or an
  // existing file `policy` keeps). Off: pauses, closes the file, plays again.
  bool SetAviRecording(const std::string &fileName, int flags, bool on,
                       platform::ReplacePolicy policy = platform::ReplacePolicy::kKeepExisting);
  // Off without playing again: pauses and closes the file (headless runs
  // that end with the recording).
  void EndAviRecording();

  // A paused player's picture stepping (callers Pause() first); waits up to
  // five seconds, running synchronized calls, for the player's answer.
  // direction 1: the next recorded picture, of `channel` or (-1) of any
  // channel, to that picture's viewer; -1: the viewer of the last picture
  // stepped to (of `channel`, or of any) goes back to its picture before,
  // decoded silently from the key picture before it. True when a picture
  // was handed over. Play() goes on from the picture stepped to.
  bool Step(int direction, int channel);

  // Exact seeks: the player goes to entry `n` (or to the first entry
  // recorded at or after `seconds`) at its next turn, playing or paused.
  // Each channel's viewer is handed its last picture at or before the
  // place (the first round of pictures from the place on counts as at it),
  // decoded silently from the key picture before it, so the picture asked
  // for is on screen without waiting for the next key picture. Playing
  // then goes on from behind the pictures shown, with no wait for a key
  // picture. Return at once; a later seek replaces one not yet taken.
  void SeekToEntry(int64_t n);
  void SeekToTime(uint32_t seconds);
  // Seeks the player has carried out, and the entry the last one went to
  // (-1 before any): the window's time line and the tests read them.
  uint64_t SeeksDone() const { return m_seeksDone.load(); }
  int64_t SeekLandedAt() const { return m_seekLanded.load(); }

  // What each channel's viewer was last handed to show (outside playing's
  // stream, the pictures of steps and seeks; while playing, each picture):
  // its entry number (-1: none yet). Any thread.
  int64_t ShownEntry(int channel) const {
    return channel >= 0 && channel < kChannelCount ? m_shownEntry[channel].load() : -1;
  }

  bool Playing() const { return m_playing.load(); }
  // Entries the play bar spans (the disk's played entries, the clip's).
  int64_t PlayBarEntries() const { return TotalEntries(); }
  // True while the reader stands at the end of the recording (or of the
  // clip) with nothing more to play.
  bool AtEnd() const { return m_atEnd.load(); }
  bool FastForward() const { return m_mode.load() == 1; }
  bool AviOn() const { return m_aviOn.load(); }
  const ChannelCounters &Counters(int channel) const { return m_counters[channel]; }
  // Recorder times of the first and the last entry handed to a viewer
  // (0 before any).
  uint32_t FirstPlayedTime() const { return m_firstPlayed.load(); }
  uint32_t LastPlayedTime() const { return m_lastPlayed.load(); }
  // Recorder time of the first entry handed to a viewer since the last
  // Play() (searches and jumps included); 0 until one is.
  uint32_t ResumedAtTime() const { return m_resumedAt.load(); }
  // AVI pictures and audio blocks written so far in this recording.
  uint64_t AviPictures() const { return m_screen.Pictures(); }
  uint64_t AviAudioBlocks() const { return m_screen.AudioBlocks(); }
  // Silences written into the AVI's sound where playing went on without it.
  uint64_t AviAudioGaps() const { return m_screen.AudioGaps(); }
  uint64_t AviSilenceSamples() const { return m_screen.AudioSilenceSamples(); }
  // Bytes of pictures and audio written (CScreenRecorder::SampleBytes).
  uint64_t AviBytes() const { return m_screen.SampleBytes(); }
  // Audio records handed to the sound device.
  uint64_t AudioBlocksQueued() const { return m_audioQueued.load(); }
  // Times the sound output ran short in the middle of the audio (0 without
  // a sound device).
  uint32_t AudioUnderruns() const;
  // Audio still on its way to the speaker: in the ring or queued at the
  // output.
  bool AudioPending() const;

  // Tests and benchmarks: play without the pacing sleeps (fast forward's
  // included).
  void SetPacingEnabled(bool on) { m_pacingEnabled.store(on); }
  // Tests: the clock pacing reads and sleeps on; set before the first
  // Play(), kept for the player's life (the caller's object outlives it).
  void SetPacingClock(PacingClock *clock) { m_clock.store(clock ? clock : &m_steadyClock); }
  // Pacing sleeps taken so far, and the longest one asked for.
  uint64_t PacingSleeps() const { return m_pacingSleeps.load(); }
  int64_t LongestPacingSleepMs() const { return m_longestPacingSleepMs.load(); }

  // What the reader lost on a damaged source: index (or clip entry) reads
  // that failed, each place counted once, and entries that were not played
  // because their record could not be read or they are not entries the
  // recorder writes.
  uint64_t ReadErrors() const { return m_readErrors.load(); }
  uint64_t SkippedRecords() const { return m_skippedRecords.load(); }
  // True while the reader stands at a place of the index it cannot read; it
  // tries again each turn and plays nothing meanwhile. The entry number of
  // that place, -1 when none.
  bool IndexStalled() const { return m_stalledAt.load() >= 0; }
  int64_t StalledAt() const { return m_stalledAt.load(); }
  // Where the sectors lost while playing lay (index sectors with their
  // entries, records with theirs). Any thread: a copy.
  LossLog Losses() const;
  // True once the disk (or the clip's files) stopped answering: the player
  // has told its host and plays nothing more.
  bool DiskGone() const { return m_diskGone.load(); }

 protected:
  PlaybackThread(IPlaybackHost &host, const std::array<IViewerSink *, kChannelCount> &viewers,
                 IScreenGrabber *grabber, PacingRule pacing);

  // One entry of the index (number `n`), after the channel filter and the
  // derived class's own filters: description, record, frame, AVI,
  // back-pressure, delivery, pacing. Returns false, having done nothing
  // more, for a record type outside the table.
  bool PlayEntry(const IndexEntry &entry, int64_t n);

  // What one playing turn came to.
  enum class Turn {
    kPlayed,         // entries were played (or tried): pause 1 ms, turn again
    kAgainAtOnce,    // nothing played this time: turn again without the pause
    kNothingToPlay,  // the end (or an unreadable index): idle, saving ends
  };
  // The turns every player takes until it is told to end: the play bar,
  // then PlayTurn() while playing, the acknowledgement while paused.
  void Execute() final;
  // Player thread, before the first turn: false ends the thread at once.
  virtual bool BeforeTurns() = 0;
  virtual Turn PlayTurn() = 0;

  // Reads the entry's record into buffer (kMaxRecordBytes). Player thread.
  virtual RecordRead ReadRecord(const IndexEntry &entry, uint8_t *buffer) = 0;
  // Where the entry's record lies in what is read (for the losses).
  virtual uint64_t RecordByteOffset(const IndexEntry &entry) const = 0;
  // Positions the reader at entry `next` for a play-bar jump. Player thread.
  virtual bool JumpTo(int64_t next) = 0;
  // Entries the play bar spans (playEnd, or the clip's count).
  virtual int64_t TotalEntries() const = 0;
  // Entry number of the next entry to read.
  virtual int64_t NextEntry() const = 0;
  // Player thread, for stepping: the entry numbered `n`; the number of the
  // next entry to play; and the next turn's playing from entry `n`.
  virtual bool ReadEntryAt(int64_t n, IndexEntry &entry) = 0;
  virtual int64_t PlayPosition() const = 0;
  virtual void ResumeAt(int64_t n) = 0;
  // Player thread, for time seeks: the first entry recorded at or after
  // `seconds`; -1 when none can be found.
  virtual int64_t FindEntryOfTime(uint32_t seconds) = 0;
  // Turns the play-bar jump computes `next` for: disk jumps land on
  // multiples of 512, clip jumps anywhere.
  virtual int64_t JumpTarget(int64_t offset, int width) const = 0;

  // The play-bar step of a playing turn: the jump when one is requested,
  // else the knob follows the reader.
  void PlayBarStep();
  void CloseSavingIndicator();
  void ShowMessage(const std::string &text, const std::string &caption);
  void SendLayout(int layout);
  void RestartPacing();
  void ResetAllWaitKey();
  // A search's result: the player moves its own reader to entry `next` at
  // its next turn (the caller has paused it) and plays from there.
  void PlayFrom(int64_t next);
  // The time a search for `target` looks for: kSkipDecodeSeconds earlier
  // while a SkipBefore is pending, so the key pictures before it are read.
  uint32_t SearchFromSeconds(uint32_t target) const;
  // Player thread, at the start of a turn: the jump PlayFrom asked for.
  void TakePendingJump();
  void SetAtEnd(bool atEnd) { m_atEnd.store(atEnd); }
  int Mode() const { return m_mode.load(); }
  bool PacingEnabled() const { return m_pacingEnabled.load(); }
  // Player thread: sleeps `ms` (bounded below limitMs), ending at once
  // when the player is paused or told to end.
  void PacingSleep(int64_t ms, int64_t limitMs = kPacingLimitMs);
  // Player thread: an index read at entry `at` failed or succeeded.
  void NoteIndexRead(bool ok, int64_t at);
  // Player thread: an entry was passed over as unplayable.
  void NoteSkippedEntry() { m_skippedRecords.fetch_add(1, std::memory_order_relaxed); }
  // Player thread: sectors were lost (counted as a read error each).
  void NoteLoss(const LostPart &part);
  // Player thread: the source stopped answering; the host is told once.
  void NoteDiskGone();
  // Codec word of the last description sent, which only pictures set (4
  // before the first picture).
  int LastPictureCodecWord() const { return m_describedCodec.load(); }
  void SetTimeLabels(const std::string &start, const std::string &end);
  void OpenSound();
  // Cuts short the player's wait between idle turns (paused, or nothing
  // left to play), after a control flag has changed. Any thread.
  void WakePlayer();

  IPlaybackHost &m_host;

 private:
  void SendDescriptionIfChanged(int8_t recordType, const SYSTEMTIME &time);
  void WaitForViewer(int channel);
  void Deliver(int channel, VORN_TESK::tagFrame *&frame, int8_t recordType, int64_t n);
  void Pace(const IndexEntry &entry);
  // Player thread: one step as Step() asks; true when a picture was shown.
  bool RunStep(int direction, int channel);
  // Player thread: entry `n` (a picture of its channel) shown, decoding
  // silently from the key picture before it unless its channel's decoder
  // holds the picture just before it.
  bool ShowSteppedPicture(int64_t n, const IndexEntry &entry);
  // Player thread: one picture to its viewer outside playing.
  bool HandOverStepped(const IndexEntry &entry, bool decodeOnly, int64_t n = -1);
  // Player thread: the exact seek to entry n; true when a picture was shown.
  bool RunSeek(int64_t n);
  // Player thread: the seek requests, taken at the start of a turn.
  void TakeSeekRequest();
  int64_t MillisecondsSincePaceStart() const;
  // Player thread: an idle turn's pause, until WakePlayer or kIdleTurnMs.
  void WaitForControl();

  // Idle turns (paused, or at the end) come this often at most, unless an
  // operation wakes the player; so does a stop request, by this bound.
  static constexpr int kIdleTurnMs = 50;

  std::array<IViewerSink *, kChannelCount> m_viewers;
  const PacingRule m_pacing;

  // Control flags: main thread writes, player reads (and acknowledges).
  std::atomic<bool> m_playing{false};
  std::atomic<bool> m_pauseAck{true};
  std::atomic<int> m_mode{0};
  std::atomic<bool> m_audioOn{false};
  std::atomic<bool> m_seekRequest{false};
  std::atomic<bool> m_aviOn{false};
  std::atomic<bool> m_pacingEnabled{true};
  std::atomic<bool> m_atEnd{false};
  std::atomic<uint32_t> m_skipBefore{0};
  std::atomic<int> m_speedEighths{kNormalSpeedEighths};
  // Stepping: Step() sets the request (direction) and channel and waits
  // for stepDone; the player answers while paused.
  std::atomic<int> m_stepRequest{0};
  std::atomic<int> m_stepChannel{-1};
  std::atomic<bool> m_stepDone{true};
  // Exact seeks: set by SeekToEntry / SeekToTime (-1, 0: none), taken by
  // the player.
  std::atomic<int64_t> m_seekEntry{-1};
  std::atomic<uint32_t> m_seekSeconds{0};
  std::atomic<uint64_t> m_seeksDone{0};
  std::atomic<int64_t> m_seekLanded{-1};
  std::atomic<uint32_t> m_seekShownSeconds{0};  // the time the last seek showed
  std::array<std::atomic<int64_t>, kChannelCount> m_shownEntry{-1, -1, -1, -1};
  std::atomic<bool> m_stepShown{false};
  // Set by Play() and jumps, taken by the player at its next entry so that
  // waits and pacing restart on the player's own thread.
  std::atomic<bool> m_restartRequest{false};
  std::atomic<int64_t> m_pendingJump{-1};  // set by PlayFrom, taken by the player
  // m_controlLock guards m_controlPending: an operation changed a flag
  // while the player may wait between idle turns (m_controlChanged).
  std::mutex m_controlLock;
  std::condition_variable m_controlChanged;
  bool m_controlPending = false;

  // Player thread only.
  std::array<bool, kChannelCount> m_waitKey{true, true, true, true};
  // Stepping: the entry after the last picture stepped to (-1: not
  // stepping; playing goes on from here), and per channel the last picture
  // its decoder was given while stepping (-1: unknown; -2: its last one
  // before the cursor).
  int64_t m_stepCursor = -1;
  std::array<int64_t, kChannelCount> m_stepDecoded{-1, -1, -1, -1};
  // The cursor was left by a seek: the channels it showed a picture of
  // (m_stepDecoded kDecodedUpToCursor) play on without a key wait.
  bool m_cursorFromSeek = false;
  VORN_TESK::StreamDescription m_lastDescription{};
  bool m_descriptionSent = false;
  std::atomic<int> m_describedCodec{4};  // copy of m_lastDescription's codec for the main thread
  class SteadyPacingClock final : public PacingClock {
   public:
    explicit SteadyPacingClock(PlaybackThread &player) : m_player(player) {}
    int64_t NowUs() override;
    void Sleep(int64_t ms, const std::function<bool()> &stop) override;

   private:
    PlaybackThread &m_player;
  };
  SteadyPacingClock m_steadyClock{*this};
  std::atomic<PacingClock *> m_clock{&m_steadyClock};
  int64_t m_paceStartUs = 0;
  int64_t m_paceSumUs = 0;      // the recorded delays since the start, scaled by the speed
  bool m_pacedPicture = false;  // this turn slept until a picture's recorded time
  int m_lastBarOffset = 0;
  std::vector<uint8_t> m_record;
  std::array<ChannelCounters, kChannelCount> m_counters;
  std::atomic<uint64_t> m_audioQueued{0};
  std::atomic<uint32_t> m_firstPlayed{0};
  std::atomic<uint32_t> m_lastPlayed{0};
  std::atomic<uint32_t> m_resumedAt{0};  // zeroed by Play(), set by the player
  std::atomic<uint64_t> m_pacingSleeps{0};
  std::atomic<int64_t> m_longestPacingSleepMs{0};
  std::atomic<uint64_t> m_readErrors{0};
  std::atomic<uint64_t> m_skippedRecords{0};
  std::atomic<int64_t> m_stalledAt{-1};
  std::atomic<bool> m_diskGone{false};
  mutable std::mutex m_lossLock;  // guards m_losses (player writes, anyone copies)
  LossLog m_losses;

  // Sound: opened at construction, written by the player, reset by Play()
  // and jumps, closed at destruction after the thread has ended.
  std::unique_ptr<CSoundDevice> m_sound;

  // AVI saving: the main thread starts and stops it, the player tells it
  // of each picture and audio block while m_aviOn holds. Closed by the
  // destructor after the thread has ended.
  media::CScreenRecorder m_screen;
};

}  // namespace orvan::recorder
