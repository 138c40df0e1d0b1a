// An AVI file written through libavformat's AVI muxer: one video stream of
// coded pictures and one PCM audio stream, made in the order the AVI
// recorder needs (file, video stream, its format, audio stream, its format)
// so each step can fail on its own.
//
// The muxer writes into a seekable MuxerOutput (platform/muxer_output.h):
// the file appears under its name only when it was finished whole, never
// over a source, a device or (unless allowed) an existing file.
//
// Threading: not thread-safe; the AVI recorder guards it with its lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/av_handles.h"
#include "platform/muxer_output.h"

namespace orvan::platform {

class AviFile {
 public:
  AviFile() = default;
  ~AviFile() { Close(); }
  AviFile(const AviFile &) = delete;
  AviFile &operator=(const AviFile &) = delete;

  // Prepares the file for writing. False, and no file, when it is refused
  // or cannot be created; Status() and Error() say why.
  bool Create(const std::string &path, ReplacePolicy policy = ReplacePolicy::kKeepExisting);
  bool CreateVideoStream();
  // MPEG-4 Visual pictures of the given size under the given four-character
  // code, `rate` pictures a second.
  bool SetVideoFormat(int width, int height, uint32_t fourcc, int rate);
  bool CreateAudioStream();
  // Interleaved PCM, signed 16-bit little-endian (or unsigned 8-bit). Writes
  // the file header: both streams are complete now.
  bool SetAudioFormat(int channels, int samplesPerSecond, int bitsPerSample);

  // One coded picture as picture number `frameNumber` (strictly increasing).
  bool WriteVideo(int64_t frameNumber, const void *data, uint32_t length, bool key);
  // One block of PCM, placed after everything written before.
  bool WriteAudio(const void *data, uint32_t length);

  // Finishes the file (index and header sizes) and puts it in place. A file
  // whose header was never written, or where a write failed, is dropped
  // instead. False when a started file could not be finished; Error() says
  // why. Safe to call on a file that failed half way or was never made.
  bool Close();
  OutputStatus Status() const { return m_output.Status(); }
  const std::string &Error() const { return m_output.Error(); }

  bool HasFile() const { return m_context != nullptr; }

 private:
  bool WritePacket(AVStream *stream, int64_t pts, int64_t duration, const void *data,
                   uint32_t length, bool key);

  MuxerOutput m_output;
  av::OutputFormatContextPtr m_context;
  bool m_writeFailed = false;
  AVStream *m_video = nullptr;  // owned by m_context
  AVStream *m_audio = nullptr;  // owned by m_context
  bool m_headerWritten = false;
  int m_audioBytesPerFrame = 4;
  int64_t m_audioBytes = 0;  // PCM bytes written so far
};

}  // namespace orvan::platform
