#include "platform/audio_output.h"

#include <SDL.h>

#include "platform/log.h"

namespace orvan::platform {

namespace {
constexpr const char *kLogCategory = "audio";
}

AudioOutput::OpenResult AudioOutput::Open(int channels, int bitsPerSample, int samplesPerSecond) {
  Close();
  if (channels < 1 || channels > 8 || samplesPerSecond <= 0 ||
      (bitsPerSample != 8 && bitsPerSample != 16))
    return OpenResult::NoFormat;
  // SDL would take SIGINT and SIGTERM for its own event queue, which
  // nothing here reads: Ctrl+C and kill would go unheard. The program's
  // own handlers (or the default ones) stay in charge.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    ORVAN_LOG_WARN(kLogCategory, "no audio driver: %s", SDL_GetError());
    return OpenResult::NoDriver;
  }
  m_subsystemUp = true;

  SDL_AudioSpec wanted{};
  wanted.freq = samplesPerSecond;
  wanted.format = bitsPerSample == 16 ? AUDIO_S16LSB : AUDIO_U8;
  wanted.channels = Uint8(channels);
  wanted.samples = 1024;
  wanted.callback = nullptr;  // queue mode
  SDL_AudioSpec obtained{};
  // No changes allowed: SDL converts to whatever the hardware wants.
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (device == 0) {
    ORVAN_LOG_WARN(kLogCategory, "cannot open the audio device: %s", SDL_GetError());
    Close();
    return OpenResult::OpenFailed;
  }
  m_device = device;
  m_playing = false;  // SDL opens devices paused
  return OpenResult::Ok;
}

void AudioOutput::SetPlaying(bool on) {
  if (m_device == 0 || on == m_playing) return;
  SDL_PauseAudioDevice(m_device, on ? 0 : 1);
  m_playing = on;
}

bool AudioOutput::Queue(const void *bytes, uint32_t length) {
  if (m_device == 0) return false;
  if (length == 0) return true;
  return SDL_QueueAudio(m_device, bytes, length) == 0;
}

uint32_t AudioOutput::QueuedBytes() const {
  return m_device == 0 ? 0 : SDL_GetQueuedAudioSize(m_device);
}

void AudioOutput::Close() {
  if (m_device != 0) {
    // Closing a device plays out what is queued first (up to the two
    // seconds the sound device keeps there): a close is an end, so the
    // queue goes, and closing takes only the driver's own buffer.
    SDL_PauseAudioDevice(m_device, 1);
    SDL_ClearQueuedAudio(m_device);
    SDL_CloseAudioDevice(m_device);
    m_device = 0;
    m_playing = false;
  }
  if (m_subsystemUp) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    m_subsystemUp = false;
  }
}

}  // namespace orvan::platform
