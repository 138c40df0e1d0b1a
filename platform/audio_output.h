// Audio output over SDL2 in queue mode: the device takes copies of PCM
// blocks and plays them in order. Headless runs use SDL's "dummy" or "disk"
// drivers (SDL_AUDIODRIVER, SDL_DISKAUDIOFILE).
//
// Threading: Open and Close on the owner's thread; Queue, QueuedBytes and
// SetPlaying from any one thread between them (SDL locks the device inside).
#pragma once

#include <cstdint>

namespace orvan::platform {

class AudioOutput {
 public:
  enum class OpenResult { Ok, NoDriver, NoFormat, OpenFailed };

  AudioOutput() = default;
  ~AudioOutput() { Close(); }
  AudioOutput(const AudioOutput &) = delete;
  AudioOutput &operator=(const AudioOutput &) = delete;

  // Opens the default output device for interleaved PCM of 8 (unsigned) or
  // 16 (signed, little-endian) bits, held: it plays silence until
  // SetPlaying(true).
  OpenResult Open(int channels, int bitsPerSample, int samplesPerSecond);
  // Hands a copy of the bytes to the device. False when closed or refused.
  bool Queue(const void *bytes, uint32_t length);
  // Bytes handed over and not yet taken by the device.
  uint32_t QueuedBytes() const;
  // Plays what is queued, or holds it (the device plays silence meanwhile).
  void SetPlaying(bool on);
  bool Playing() const { return m_playing; }
  // Stops the device at once; what is queued is dropped.
  void Close();
  bool IsOpen() const { return m_device != 0; }

 private:
  uint32_t m_device = 0;       // SDL_AudioDeviceID, 0 when closed
  bool m_subsystemUp = false;  // this object holds one SDL audio subsystem reference
  bool m_playing = false;
};

}  // namespace orvan::platform
