#include "recorder/playback/playback_thread.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "media/sound_device.h"
#include "platform/log.h"

namespace orvan::recorder {

namespace {
constexpr const char *kLogCategory = "playback";
// A channel's decoder holds its last picture before the step cursor.
constexpr int64_t kDecodedUpToCursor = -2;
}  // namespace

using VORN_TESK::Frames;
using VORN_TESK::tagFrame;

PlaybackThread::PlaybackThread(IPlaybackHost &host,
                               const std::array<IViewerSink *, kChannelCount> &viewers,
                               IScreenGrabber *grabber, PacingRule pacing)
    : TThread(true),
      m_host(host),
      m_viewers(viewers),
      m_pacing(pacing),
      m_record(kMaxRecordBytes),
      m_sound(std::make_unique<CSoundDevice>()),
      m_screen(grabber) {}

int64_t PlaybackThread::SteadyPacingClock::NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void PlaybackThread::SteadyPacingClock::Sleep(int64_t ms, const std::function<bool()> &stop) {
  m_player.InterruptibleSleep(ms, stop);
}

void PlaybackThread::SetSpeed(int eighths) {
  bool known = false;
  for (int s : kSpeedsEighths) known = known || s == eighths;
  m_speedEighths.store(known ? eighths : kNormalSpeedEighths);
  // The pacing restarts from the next entry at the new rate.
  m_restartRequest.store(true);
}

PlaybackThread::~PlaybackThread() {
  // The owner has terminated and waited; make sure of it before the sound
  // device and the AVI file go away under the player.
  Terminate();
  WakePlayer();
  WaitFor();
  m_screen.Stop();
  m_sound->Close();
}

uint32_t PlaybackThread::AudioUnderruns() const { return m_sound->Underruns(); }

bool PlaybackThread::AudioPending() const {
  return m_sound->PendingBlocks() > 0 || m_sound->QueuedBytes() > 0;
}

void PlaybackThread::OpenSound() {
  // Without an audio device playback goes on silently; the audio output
  // has logged why.
  m_sound->Open(2, 16, 16000);
}

void PlaybackThread::Play() {
  m_resumedAt.store(0);
  m_mode.store(0);
  m_restartRequest.store(true);
  m_playing.store(true);
  m_audioOn.store(m_host.AudioChecked());
  WakePlayer();
}

void PlaybackThread::Forward() {
  m_mode.store(1);
  m_playing.store(true);
  m_audioOn.store(m_host.AudioChecked());
  WakePlayer();
}

void PlaybackThread::RequestSeek() {
  m_seekRequest.store(true);
  WakePlayer();
}

bool PlaybackThread::Pause() {
  m_pauseAck.store(false);
  m_playing.store(false);
  WakeSleep();  // a pacing sleep ends now, not after its wait
  WakePlayer();
  // Up to 500 checks 10 ms apart. Synchronized calls keep running meanwhile,
  // so a player inside Synchronize can still reach its acknowledgement.
  return TThread::WaitWhileServicing([this] { return m_pauseAck.load() || Finished(); }, 5000) &&
         m_pauseAck.load();
}

bool PlaybackThread::SetAviRecording(const std::string &fileName, int flags, bool on,
                                     platform::ReplacePolicy policy) {
  if (on) {
    m_aviOn.store(false);
    // The codec word is the one the player last described (read as an
    // atomic: the player writes it).
    const auto started = m_screen.Start(fileName, m_describedCodec.load(), flags, policy);
    if (started == media::CScreenRecorder::StartResult::kEncoderFailed)
      ShowMessage("MPEG-4 encoder could not be started", "Warning");
    if (started != media::CScreenRecorder::StartResult::kStarted) return false;
    m_aviOn.store(true);
    WakePlayer();
    return true;
  }
  EndAviRecording();
  Play();
  return true;
}

void PlaybackThread::EndAviRecording() {
  Pause();
  m_aviOn.store(false);
  m_screen.Stop();
}

void PlaybackThread::Execute() {
  if (!BeforeTurns()) return;
  RestartPacing();
  while (!Terminated()) {
    TakeSeekRequest();
    if (m_playing.load()) {
      if (m_stepCursor >= 0) {
        // Playing goes on from the picture stepped to.
        ResumeAt(m_stepCursor);
        m_stepCursor = -1;
        if (m_cursorFromSeek) {
          // A seek left every channel it showed decoded up to the cursor:
          // those play on at once; Play()'s restart is taken here so that
          // it does not make them wait for key pictures again.
          for (int ch = 0; ch < kChannelCount; ++ch)
            m_waitKey[ch] = m_stepDecoded[ch] != kDecodedUpToCursor;
          if (m_restartRequest.exchange(false)) {
            m_sound->Reset();
            RestartPacing();
          }
          if (m_resumedAt.load() == 0) m_resumedAt.store(m_seekShownSeconds.load());
          m_cursorFromSeek = false;
        } else {
          ResetAllWaitKey();
        }
      }
      PlayBarStep();
      m_pacedPicture = false;
      const Turn turn = PlayTurn();
      if (turn == Turn::kAgainAtOnce) continue;
      if (turn == Turn::kNothingToPlay) {
        if (m_aviOn.load()) CloseSavingIndicator();
        WaitForControl();
        continue;
      }
      // The turn already waited for its picture's recorded time; picture
      // pacing is anchored to the start, so the pause after the turn would
      // only cost a wake-up (and a little of the next wait).
      if (m_pacedPicture) continue;
    } else {
      if (const int direction = m_stepRequest.exchange(0)) {
        m_stepShown.store(RunStep(direction, m_stepChannel.load()));
        m_stepDone.store(true);
      }
      m_pauseAck.store(true);
      WaitForControl();
      continue;
    }
    Sleep(1);
  }
}

bool PlaybackThread::Step(int direction, int channel) {
  if (direction == 0 || m_playing.load()) return false;
  m_stepDone.store(false);
  m_stepShown.store(false);
  m_stepChannel.store(channel >= 0 && channel < kChannelCount ? channel : -1);
  m_stepRequest.store(direction > 0 ? 1 : -1);
  WakePlayer();
  return TThread::WaitWhileServicing([this] { return m_stepDone.load() || Finished(); }, 5000) &&
         m_stepShown.load();
}

namespace {
// How far a step looks for the next or previous picture, or back for a key
// picture: a damaged index cannot make it read the whole disk.
constexpr int64_t kStepScanEntries = 8192;
// How far past the place a seek looks for the round of pictures that
// counts as at it: one picture of each channel, until one comes again.
constexpr int64_t kSeekAheadEntries = 16;

bool IsStepPicture(const IndexEntry &e) {
  const uint32_t type = FrameTypeOfRecord(e.type);
  return e.channel < kChannelCount &&
         (type == VORN_TESK::FT_IFRAME || type == VORN_TESK::FT_PFRAME);
}
}  // namespace

bool PlaybackThread::RunStep(int direction, int channel) {
  m_cursorFromSeek = false;
  if (m_stepCursor < 0) {
    // Play handed every channel no longer waiting for a key picture all its
    // pictures up to here.
    m_stepCursor = PlayPosition();
    for (int ch = 0; ch < kChannelCount; ++ch)
      m_stepDecoded[ch] = m_waitKey[ch] ? -1 : kDecodedUpToCursor;
  }
  const int64_t total = TotalEntries();
  IndexEntry e;
  if (direction > 0) {
    for (int64_t n = m_stepCursor; n < total && n < m_stepCursor + kStepScanEntries; ++n) {
      if (!ReadEntryAt(n, e)) return false;
      if (!IsStepPicture(e)) continue;
      if (channel >= 0 && e.channel != channel) {
        m_stepDecoded[e.channel] = -1;  // passed over: its decoder falls behind
        continue;
      }
      m_stepCursor = n + 1;
      return ShowSteppedPicture(n, e);
    }
    return false;
  }
  // Back: the last picture stepped to (of the channel) is taken back; its
  // viewer shows the picture of its channel before it.
  int64_t last = -1;
  for (int64_t n = m_stepCursor - 1; n >= 0 && n >= m_stepCursor - kStepScanEntries; --n) {
    if (!ReadEntryAt(n, e)) return false;
    if (!IsStepPicture(e)) continue;
    if (channel >= 0 && e.channel != channel) {
      m_stepDecoded[e.channel] = -1;
      continue;
    }
    last = n;
    break;
  }
  if (last < 0) return false;
  const int shownChannel = e.channel;
  for (int64_t n = last - 1; n >= 0 && n >= last - kStepScanEntries; --n) {
    IndexEntry before;
    if (!ReadEntryAt(n, before)) return false;
    if (!IsStepPicture(before) || before.channel != shownChannel) continue;
    m_stepCursor = last;
    m_stepDecoded[shownChannel] = -1;  // it holds a later picture
    return ShowSteppedPicture(n, before);
  }
  return false;
}

bool PlaybackThread::ShowSteppedPicture(int64_t n, const IndexEntry &entry) {
  const int channel = entry.channel;
  int64_t from = n;
  const int64_t decoded = m_stepDecoded[channel];
  // Forward steps look from the cursor on, so nothing of the channel lies
  // between the cursor and n.
  bool continuous = decoded == kDecodedUpToCursor || (decoded >= 0 && decoded < n);
  if (continuous && decoded >= 0) {
    // Only when no picture of the channel lies between.
    IndexEntry between;
    for (int64_t k = decoded + 1; k < n && continuous; ++k)
      if (!ReadEntryAt(k, between) || (IsStepPicture(between) && between.channel == channel))
        continuous = false;
  }
  if (!continuous && !IsKeyPicture(entry.type)) {
    from = -1;
    IndexEntry key;
    for (int64_t k = n - 1; k >= 0 && k >= n - kStepScanEntries; --k) {
      if (!ReadEntryAt(k, key)) return false;
      if (key.channel == channel && IsStepPicture(key) && IsKeyPicture(key.type)) {
        from = k;
        break;
      }
    }
    if (from < 0) return false;
  }
  for (int64_t k = from; k < n; ++k) {
    IndexEntry e;
    if (!ReadEntryAt(k, e)) return false;
    if (IsStepPicture(e) && e.channel == channel && !HandOverStepped(e, true, k)) return false;
  }
  if (!HandOverStepped(entry, false, n)) return false;
  m_stepDecoded[channel] = n;
  return true;
}

bool PlaybackThread::HandOverStepped(const IndexEntry &entry, bool decodeOnly, int64_t n) {
  IViewerSink *viewer = m_viewers[entry.channel];
  if (!viewer) return false;
  const SYSTEMTIME time = TimeToCalendar(entry.time);
  SendDescriptionIfChanged(entry.type, time);
  const RecordRead read = ReadRecord(entry, m_record.data());
  if (read == RecordRead::kGone) NoteDiskGone();
  if (read != RecordRead::kRead) return false;
  const uint32_t type =
      FrameTypeOfRecord(entry.type) | (decodeOnly ? VORN_TESK::FT_DECODE_ONLY : 0);
  tagFrame *frame = Frames().Create(type, entry.size, &time, m_record.data());
  if (!frame) return false;
  for (;;) {
    int32_t queued = 0;
    viewer->Command(kViewerQueueLength, &queued);
    if (queued <= kBackPressureFrames) break;
    if (Terminated()) {
      Frames().Release(frame);
      return false;
    }
    Sleep(1);
  }
  viewer->Command(kViewerTakeFrame, frame);  // ownership passes to the viewer
  m_waitKey[entry.channel] = false;
  if (!decodeOnly) {
    ChannelCounters &counters = m_counters[entry.channel];
    counters.delivered.fetch_add(1, std::memory_order_relaxed);
    counters.pictures.fetch_add(1, std::memory_order_relaxed);
    counters.lastPictureSeconds.store(entry.time, std::memory_order_relaxed);
    m_lastPlayed.store(entry.time);
    if (m_firstPlayed.load() == 0) m_firstPlayed.store(entry.time);
    m_shownEntry[entry.channel].store(n);
  }
  return true;
}

void PlaybackThread::SeekToEntry(int64_t n) {
  m_seekSeconds.store(0);
  m_seekEntry.store(n < 0 ? 0 : n);
  // A seek replaces the jumps asked for before it.
  m_seekRequest.store(false);
  m_pendingJump.store(-1);
  m_skipBefore.store(0);
  WakePlayer();
}

void PlaybackThread::SeekToTime(uint32_t seconds) {
  m_seekEntry.store(-1);
  m_seekSeconds.store(seconds);
  m_seekRequest.store(false);
  m_pendingJump.store(-1);
  m_skipBefore.store(0);
  WakePlayer();
}

void PlaybackThread::TakeSeekRequest() {
  int64_t n = m_seekEntry.exchange(-1);
  if (const uint32_t seconds = m_seekSeconds.exchange(0)) n = FindEntryOfTime(seconds);
  if (n < 0) return;
  RunSeek(n);
  m_seekLanded.store(n);
  m_seeksDone.fetch_add(1);
}

bool PlaybackThread::RunSeek(int64_t n) {
  const int64_t total = TotalEntries();
  if (total <= 0) return false;
  n = std::clamp<int64_t>(n, 0, total - 1);
  // The round of pictures at the place: each channel's first from n on,
  // until a channel comes again.
  IndexEntry e;
  int64_t last = n - 1;
  std::array<bool, kChannelCount> ahead{};
  for (int64_t k = n; k < total && k < n + kSeekAheadEntries; ++k) {
    if (!ReadEntryAt(k, e)) break;
    if (!IsStepPicture(e)) continue;
    if (ahead[e.channel]) break;
    ahead[e.channel] = true;
    last = k;
  }
  if (last < 0) last = 0;
  // Back from there: each channel's last picture, then the key picture
  // before it. Entries are kept in order for the decoding pass.
  std::array<int64_t, kChannelCount> shown{-1, -1, -1, -1}, key{-1, -1, -1, -1};
  std::vector<std::pair<int64_t, IndexEntry>> pictures;
  for (int64_t k = last; k >= 0 && k > last - kStepScanEntries; --k) {
    if (!ReadEntryAt(k, e)) break;
    if (IsStepPicture(e)) {
      const int ch = e.channel;
      if (key[ch] < 0) {
        pictures.emplace_back(k, e);
        if (shown[ch] < 0) shown[ch] = k;
        if (IsKeyPicture(e.type)) key[ch] = k;
      }
    }
    bool complete = true;
    for (int ch = 0; ch < kChannelCount; ++ch)
      complete = complete && (shown[ch] < 0) == (key[ch] < 0);
    // Once each channel met has its key picture, and every channel has
    // been met (or the scan has gone a whole key interval further).
    if (complete && std::all_of(shown.begin(), shown.end(), [](int64_t s) { return s >= 0; }))
      break;
    if (complete && k < last - kStepScanEntries / 4) break;
  }
  m_stepCursor = last + 1;
  m_cursorFromSeek = true;
  bool any = false;
  uint32_t shownSeconds = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) m_stepDecoded[ch] = -1;
  for (auto it = pictures.rbegin(); it != pictures.rend(); ++it) {
    const int64_t k = it->first;
    const int ch = it->second.channel;
    if (key[ch] < 0 || k < key[ch] || k > shown[ch]) continue;
    if (Terminated()) return false;
    const bool isShown = k == shown[ch];
    if (!HandOverStepped(it->second, !isShown, k)) {
      key[ch] = -1;  // the channel waits for its next key picture when playing
      continue;
    }
    if (isShown) {
      m_stepDecoded[ch] = kDecodedUpToCursor;
      any = true;
      shownSeconds = std::max(shownSeconds, it->second.time);
    }
  }
  m_seekShownSeconds.store(shownSeconds);
  return any;
}

void PlaybackThread::WaitForControl() {
  std::unique_lock<std::mutex> hold(m_controlLock);
  m_controlChanged.wait_for(hold, std::chrono::milliseconds(kIdleTurnMs),
                            [this] { return m_controlPending; });
  m_controlPending = false;
}

void PlaybackThread::WakePlayer() {
  {
    std::lock_guard<std::mutex> hold(m_controlLock);
    m_controlPending = true;
  }
  m_controlChanged.notify_one();
}

void PlaybackThread::ResetAllWaitKey() { m_waitKey.fill(true); }

void PlaybackThread::PlayFrom(int64_t next) {
  m_pendingJump.store(next);
  Play();
}

uint32_t PlaybackThread::SearchFromSeconds(uint32_t target) const {
  if (m_skipBefore.load() == 0 || target < kSkipDecodeSeconds) return target;
  return target - kSkipDecodeSeconds;
}

void PlaybackThread::TakePendingJump() {
  const int64_t jump = m_pendingJump.exchange(-1);
  if (jump < 0) return;
  JumpTo(jump);
  ResetAllWaitKey();
}

void PlaybackThread::RestartPacing() {
  m_paceStartUs = m_clock.load()->NowUs();
  m_paceSumUs = 0;
}

int64_t PlaybackThread::MillisecondsSincePaceStart() const {
  return (m_clock.load()->NowUs() - m_paceStartUs) / 1000;
}

void PlaybackThread::SetTimeLabels(const std::string &start, const std::string &end) {
  TThread::Synchronize([&] { m_host.SetTimeLabels(start, end); });
}

void PlaybackThread::ShowMessage(const std::string &text, const std::string &caption) {
  TThread::Synchronize([&] { m_host.ShowMessage(text, caption); });
}

void PlaybackThread::CloseSavingIndicator() {
  TThread::Synchronize([&] { m_host.CloseSavingIndicator(); });
}

void PlaybackThread::SendLayout(int layout) {
  TThread::Synchronize([&] { m_host.SetRecordingLayout(layout); });
}

void PlaybackThread::PlayBarStep() {
  PlayBarState &bar = m_host.PlayBar();
  const int imageLeft = bar.imageLeft.load();
  const int imageWidth = bar.imageWidth.load();
  if (m_seekRequest.load()) {
    const int offset = bar.buttonLeft.load() - imageLeft;
    // A knob released where the player last put it is no jump; the request
    // stays pending until the knob really moves.
    if (offset == m_lastBarOffset || imageWidth <= 0) return;
    const int64_t viewEntries = bar.viewEntries.load();
    const int64_t next = viewEntries > 0
                             ? bar.viewFirst.load() + int64_t(offset) * viewEntries / imageWidth
                             : JumpTarget(offset, imageWidth);
    if (!JumpTo(next)) ORVAN_LOG_WARN(kLogCategory, "jump to entry %lld failed", (long long)next);
    m_seekRequest.store(false);
    ResetAllWaitKey();
    m_sound->Reset();
    RestartPacing();
    return;
  }
  // The knob follows the reader. Only a real move is sent to the window.
  const int64_t total = TotalEntries();
  int left = imageLeft;
  const int64_t viewEntries = bar.viewEntries.load();
  const int64_t first = viewEntries > 0 ? bar.viewFirst.load() : 0;
  const int64_t span = viewEntries > 0 ? viewEntries : total;
  if (span > 0)
    left = imageLeft + static_cast<int>(int64_t(imageWidth) *
                                        std::clamp<int64_t>(NextEntry() - first, 0, span) / span);
  const int limit = imageLeft + imageWidth - bar.buttonWidth.load();
  if (left > limit) left = limit;
  m_lastBarOffset = left - imageLeft;
  if (left != bar.buttonLeft.load()) TThread::Synchronize([&] { m_host.MovePlayBarButton(left); });
}

void PlaybackThread::SendDescriptionIfChanged(int8_t recordType, const SYSTEMTIME &time) {
  // Only a picture describes the video stream. An audio block (or a record
  // of no known type) keeps the description of the last picture: in an
  // MJPEG recording a description per audio block would make every viewer
  // reopen its decoder and wait for a key picture, again and again.
  const uint32_t frameType = FrameTypeOfRecord(recordType);
  if (frameType != VORN_TESK::FT_IFRAME && frameType != VORN_TESK::FT_PFRAME) return;
  const VORN_TESK::StreamDescription d = VORN_TESK::PlaybackDescription(IsMjpegRecord(recordType));
  if (m_descriptionSent && VORN_TESK::SameDescription(d, m_lastDescription)) return;
  m_lastDescription = d;
  m_describedCodec.store(d.videoCodec);
  m_descriptionSent = true;
  for (IViewerSink *viewer : m_viewers) {
    if (!viewer) continue;
    tagFrame *info = Frames().Create(VORN_TESK::FT_INFO, sizeof d, &time, &d);
    if (info) viewer->Command(kViewerTakeFrame, info);
  }
}

bool PlaybackThread::PlayEntry(const IndexEntry &entry, int64_t n) {
  if (m_restartRequest.exchange(false)) {
    ResetAllWaitKey();
    m_sound->Reset();
    RestartPacing();
  }
  if (const uint32_t skipBefore = m_skipBefore.load()) {
    if (entry.time < skipBefore) {
      // Each channel's pictures from its key picture on are decoded, not
      // shown: the first picture at the time asked is shown itself, not
      // the next key picture after it.
      if (IsStepPicture(entry) && entry.time + kSkipDecodeSeconds >= skipBefore &&
          (!m_waitKey[entry.channel] || IsKeyPicture(entry.type)))
        HandOverStepped(entry, true);
      return true;
    }
    m_skipBefore.store(0);
    RestartPacing();  // what was passed over took no recorded time
  }
  // Fast speeds show key pictures only, keeping the pace of what they
  // pass over.
  if (m_mode.load() == 0 && m_speedEighths.load() > kKeyPicturesOnlyAboveEighths &&
      !IsKeyPicture(entry.type)) {
    Pace(entry);
    return true;
  }
  const int channel = entry.channel;
  const SYSTEMTIME time = TimeToCalendar(entry.time);
  SendDescriptionIfChanged(entry.type, time);

  const RecordRead read = ReadRecord(entry, m_record.data());
  if (read == RecordRead::kGone) {
    NoteDiskGone();
    return true;
  }
  if (read == RecordRead::kRead) {
    const uint32_t frameType = FrameTypeOfRecord(entry.type);
    if (frameType == 0) {
      NoteSkippedEntry();
      return false;
    }
    if (entry.type == kTypeAudio && m_mode.load() == 0 && m_audioOn.load() &&
        m_speedEighths.load() == kNormalSpeedEighths) {
      m_sound->Write(m_record.data(), entry.size);
      m_audioQueued.fetch_add(1, std::memory_order_relaxed);
    }
    tagFrame *frame = Frames().Create(frameType, entry.size, &time, m_record.data());
    if (frame) {
      if (m_aviOn.load()) {
        if (frame->dwType == VORN_TESK::FT_AUDIO)
          m_screen.AudioBlock(frame->Data(), frame->PayloadBytes());
        else
          m_screen.PictureTime();
      }
      WaitForViewer(channel);
      if (Terminated()) {
        Frames().Release(frame);
        return true;
      }
      Deliver(channel, frame, entry.type, n);
    }
  } else if (read != RecordRead::kStopped) {
    NoteSkippedEntry();
    if (read == RecordRead::kLost)
      NoteLoss(LostPart{LostPart::What::kRecord, n, n, RecordByteOffset(entry), entry.size});
  }
  Pace(entry);
  return true;
}

void PlaybackThread::WaitForViewer(int channel) {
  IViewerSink *viewer = m_viewers[channel];
  if (!viewer) return;
  // The wait also ends when the player is asked to stop or to pause, so a
  // viewer that stopped draining can never hang the player or the window.
  for (;;) {
    int32_t queued = 0;
    viewer->Command(kViewerQueueLength, &queued);
    if (queued <= kBackPressureFrames || Terminated() || !m_playing.load()) return;
    Sleep(1);
  }
}

void PlaybackThread::Deliver(int channel, tagFrame *&frame, int8_t recordType, int64_t n) {
  IViewerSink *viewer = m_viewers[channel];
  ChannelCounters &counters = m_counters[channel];
  if (!viewer || (m_waitKey[channel] && !IsKeyPicture(recordType))) {
    Frames().Release(frame);
    counters.keyWaitDrops.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  m_waitKey[channel] = false;
  const bool picture = frame->dwType != VORN_TESK::FT_AUDIO;
  const uint32_t seconds = static_cast<uint32_t>(FileTimeToRecorderSeconds(frame->ftTime));
  viewer->Command(kViewerTakeFrame, frame);  // ownership passes to the viewer
  frame = nullptr;
  counters.delivered.fetch_add(1, std::memory_order_relaxed);
  if (picture) {
    counters.pictures.fetch_add(1, std::memory_order_relaxed);
    counters.lastPictureSeconds.store(seconds, std::memory_order_relaxed);
    m_shownEntry[channel].store(n);
  }
  if (m_firstPlayed.load() == 0) m_firstPlayed.store(seconds);
  if (m_resumedAt.load() == 0) m_resumedAt.store(seconds);
  m_lastPlayed.store(seconds);
}

void PlaybackThread::Pace(const IndexEntry &entry) {
  if (m_mode.load() == 1) {
    if (entry.type != kTypeAudio && m_pacing.fastForwardPictureSleepMs > 0 &&
        m_pacingEnabled.load())
      PacingSleep(m_pacing.fastForwardPictureSleepMs);
    return;
  }
  if (!m_pacingEnabled.load()) return;
  // Every wait is scaled by the speed, and so is the bound past which a
  // (damaged) delay is not waited for: a slow speed stretches real delays.
  const int eighths = m_speedEighths.load();
  const int64_t limitMs = kPacingLimitMs * std::max(kNormalSpeedEighths, eighths) / eighths;
  if (entry.type == kTypeAudio) {
    PacingSleep(kAudioBlockPauseMs * kNormalSpeedEighths / eighths, limitMs);
    return;
  }
  m_paceSumUs += int64_t(entry.delayMs) * 1000 * kNormalSpeedEighths / eighths;
  const int64_t wait = m_paceSumUs / 1000 - MillisecondsSincePaceStart();
  if (wait > 0 && wait < limitMs) {
    PacingSleep(wait > m_pacing.marginThresholdMs ? wait - m_pacing.marginMs : wait, limitMs);
    m_pacedPicture = true;
  }
}

void PlaybackThread::PacingSleep(int64_t ms, int64_t limitMs) {
  if (ms <= 0) return;
  ms = std::min<int64_t>(ms, limitMs - 1);
  m_pacingSleeps.fetch_add(1, std::memory_order_relaxed);
  if (ms > m_longestPacingSleepMs.load(std::memory_order_relaxed))
    m_longestPacingSleepMs.store(ms, std::memory_order_relaxed);
  m_clock.load()->Sleep(ms, [this] { return !m_playing.load(); });
}

LossLog PlaybackThread::Losses() const {
  std::lock_guard<std::mutex> hold(m_lossLock);
  return m_losses;
}

void PlaybackThread::NoteLoss(const LostPart &part) {
  m_readErrors.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard<std::mutex> hold(m_lossLock);
  m_losses.Add(part);
}

void PlaybackThread::NoteDiskGone() {
  if (m_diskGone.exchange(true)) return;
  ORVAN_LOG_WARN(kLogCategory, "%s: playing ends", IPlaybackHost::kDiskStoppedAnsweringText);
  TThread::Synchronize([&] { m_host.DiskStoppedAnswering(); });
}

void PlaybackThread::NoteIndexRead(bool ok, int64_t at) {
  if (ok) {
    m_stalledAt.store(-1);
    return;
  }
  // The player tries the same place again each turn: one error per place.
  if (m_stalledAt.load() == at) return;
  m_readErrors.fetch_add(1, std::memory_order_relaxed);
  m_stalledAt.store(at);
}

}  // namespace orvan::recorder
