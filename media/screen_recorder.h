// Saves what the screen shows into an AVI file while a recording or clip
// plays: the grab (through IScreenGrabber), its scaling to 720 x 480 B,G,R
// (libswscale), the MPEG-4 encoder and the AVI writer. The player only
// tells it the time of each picture it plays and hands it each audio block.
//
// Threads and guards: Start and Stop run on the main thread (Start writes
// the first picture there); PictureTime and AudioBlock on the playback
// thread. m_aviLock guards the writer, the encoder, the flags value, the
// time of the last picture and the picture buffers; the counters are
// atomics read without a lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/audio_timeline.h"
#include "media/playback_sinks.h"
#include "platform/av_handles.h"
#include "platform/output_file.h"

class CAviWriter;

namespace orvan::platform {
class Mpeg4Encoder;
}

namespace orvan::media {

class CScreenRecorder {
 public:
  static constexpr int kWidth = 720;
  static constexpr int kHeight = 480;
  static constexpr int kPictureIntervalMs = 133;  // at most one picture per interval

  enum class StartResult {
    kStarted,
    kFileFailed,     // the writer has told the user why
    kEncoderFailed,  // nothing told yet: the caller shows it
  };

  // Milliseconds of a steady clock.
  using Clock = std::function<int64_t()>;

  // grabber: may be null (every picture is then black); it must outlive
  // the recorder. clock: the steady clock when empty (tests give their own).
  explicit CScreenRecorder(IScreenGrabber *grabber, Clock clock = {});
  ~CScreenRecorder();
  CScreenRecorder(const CScreenRecorder &) = delete;
  CScreenRecorder &operator=(const CScreenRecorder &) = delete;

  // Main thread: closes any file still open, then opens fileName, starts
  // the encoder and writes the screen as it is as the first picture (black
  // when it cannot be grabbed), so a file of a paused player holds a
  // picture too. codec: the codec word of the stream last described;
  // flags: the player's flags value, passed with every audio sample.
  StartResult Start(const std::string &fileName, int codec, int flags,
                    platform::ReplacePolicy policy);
  // Main thread, the player not recording: finishes the file.
  void Stop();

  // Playback thread: a picture is played now; the screen is added when
  // kPictureIntervalMs have passed since the last picture added.
  void PictureTime();
  // Playback thread: one audio record, written as one sample.
  void AudioBlock(const void *data, uint32_t bytes);

  // Pictures and audio blocks written since the last Start.
  uint64_t Pictures() const { return m_pictures.load(); }
  uint64_t AudioBlocks() const { return m_audioBlocks.load(); }
  // Since the last Start: silences written into the audio (where the
  // player went on without it), and stretches where the audio came more
  // than half a second ahead of the file's clock.
  uint64_t AudioGaps() const { return m_audioGaps.load(); }
  uint64_t AudioAhead() const { return m_audioAhead.load(); }
  // Samples of silence written into the sound since the last Start.
  uint64_t AudioSilenceSamples() const { return m_silenceSamples.load(); }
  // Bytes of the pictures and audio written since the last Start: the
  // file's size but for its headers and index.
  uint64_t SampleBytes() const { return m_sampleBytes.load(); }

 private:
  // The next picture: the screen as it is, or (blankWhenNoGrab) a black
  // one when the screen cannot be grabbed. m_aviLock held, a file open.
  void WritePicture(bool blankWhenNoGrab);
  // The screen, scaled into m_picture. m_aviLock held.
  bool GrabScreen();
  void CloseLocked();
  int64_t ElapsedMs() const { return m_clock() - m_startMs; }

  IScreenGrabber *const m_grabber;
  const Clock m_clock;

  std::mutex m_aviLock;
  std::unique_ptr<CAviWriter> m_avi;                         // guarded by m_aviLock
  std::unique_ptr<orvan::platform::Mpeg4Encoder> m_encoder;  // guarded by m_aviLock
  int m_flags = -1;                                          // guarded by m_aviLock
  int64_t m_lastPictureMs = 0;                               // guarded by m_aviLock
  int64_t m_startMs = 0;                                     // guarded by m_aviLock
  int64_t m_lastSlot = -1;         // the 1/7 s of the last picture; m_aviLock
  AudioTimeline m_audioLine;       // m_aviLock
  int64_t m_audioSamples = 0;      // written, silence included; m_aviLock
  std::vector<uint8_t> m_picture;  // one 720 x 480 picture, 3 bytes a pixel; m_aviLock
  std::vector<uint8_t> m_coded;    // one coded picture; m_aviLock
  av::SwsContextPtr m_scaler;      // screen grab to 720 x 480 B,G,R; m_aviLock
  std::atomic<uint64_t> m_pictures{0};
  std::atomic<uint64_t> m_audioBlocks{0};
  std::atomic<uint64_t> m_audioGaps{0};
  std::atomic<uint64_t> m_audioAhead{0};
  std::atomic<uint64_t> m_silenceSamples{0};
  std::atomic<uint64_t> m_sampleBytes{0};
};

}  // namespace orvan::media
