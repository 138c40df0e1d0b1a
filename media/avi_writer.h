// Writes what the screen shows into an AVI file: MPEG-4 pictures under the
// "DIVX" code at 7 pictures a second, and 16-bit stereo PCM at 16000 Hz.
//
// Threads and guards: OpenFile and CloseFile run on the main thread while
// the playback thread does not record; WriteSample runs on the playback
// thread. m_lock is held for a whole OpenFile, WriteSample and CloseFile and
// guards m_file, m_failed and m_lastResult.
//
// Failures: the first failing step shows its message once through the
// message handler (captioned "Warning", as an error) and marks the writer
// failed; nothing more is written until the owner closes and deletes it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "media/locks.h"
#include "platform/avi_file.h"

class CAviWriter {
 public:
  // Stream numbers as the playback threads pass them.
  enum Stream { kVideo = 0, kAudio = 1 };
  // Video frame kinds: 0 is a key picture, anything else predicted.
  static constexpr int kKeyFrame = 0;

  static constexpr int kVideoRate = 7;
  static constexpr int kAudioChannels = 2;
  static constexpr int kAudioRate = 16000;
  static constexpr int kAudioBits = 16;

  // Shows a failure to the user: text and caption ("Warning"). Called on the
  // thread that met the failure (the playback thread for writes), so a GUI
  // handler must hand it over to the main thread itself.
  using MessageHandler = std::function<void(const std::string &text, const std::string &caption)>;
  // The handler every writer made afterwards uses. The default prints
  // "Warning: <text>" on stderr (the command line's message box).
  static void SetDefaultMessageHandler(MessageHandler handler);

  CAviWriter();
  explicit CAviWriter(MessageHandler handler);
  ~CAviWriter();
  CAviWriter(const CAviWriter &) = delete;
  CAviWriter &operator=(const CAviWriter &) = delete;

  // Creates the file with both streams; width and height are taken as
  // absolute values. False (after one message) when a step failed. A path
  // that is a source being read, a device or (unless `policy` replaces it)
  // an existing file is refused with a message naming it.
  bool OpenFile(
      const std::string &path, int width, int height, int sourceKind = 0, int codec = 0,
      orvan::platform::ReplacePolicy policy = orvan::platform::ReplacePolicy::kKeepExisting);
  // Writes one audio record (position ignored: records follow each other)
  // or one coded picture at frame `position`. 1 on success, 0 on failure or
  // after an earlier failure.
  // `stream` is a Stream number; any other number writes nothing and
  // returns 0. For audio, `frameKind` (the playback thread's flags value) is
  // not used: every audio record is a key sample.
  int WriteSample(int stream, int64_t position, const void *data, uint32_t length,
                  int frameKind = kKeyFrame);
  // Finishes the file and puts it in place under its name. False, after one
  // message, when a file that was started could not be finished (nothing
  // is left under its name then); a writer that had failed already drops
  // its file without a second message.
  bool CloseFile();

  bool Failed() const;
  // Result of the last file call: 0 for success, else a negative code.
  int LastResult() const;

 private:
  bool Fail(const std::string &text);

  mutable CTeskCriticalSection m_lock;
  orvan::platform::AviFile m_file;  // guarded by m_lock
  bool m_failed = false;            // guarded by m_lock
  int m_lastResult = 0;             // guarded by m_lock
  MessageHandler m_handler;         // set at construction, read-only afterwards
};
