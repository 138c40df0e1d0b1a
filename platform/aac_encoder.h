// AAC-LC encoding of 16-bit interleaved PCM with libavcodec's "aac" encoder,
// for containers whose players expect compressed audio (MP4).
//
// Samples are taken in pieces of any length, each with the time of its first
// sample; they are cut into the encoder's frames of 1024 samples. A piece
// that starts later than the samples before it end (a pause in recording)
// closes the frame in progress with silence and starts the next frame at the
// piece's own time; a piece that starts a little early is played straight on.
//
// The encoder's lead-in (the packet before the first sample, which players
// of a container with an edit list would cut) is dropped, so the first
// sample plays at its own time in a file written front to back, where no
// edit list can be placed.
//
// Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/av_handles.h"

namespace orvan::platform {

class AacEncoder {
 public:
  // A coded packet: its bytes, and its time and length in samples. False
  // stops the encoding (the caller could not write it).
  using PacketSink =
      std::function<bool(const uint8_t *data, size_t length, int64_t pts, int64_t duration)>;

  AacEncoder() = default;
  AacEncoder(const AacEncoder &) = delete;
  AacEncoder &operator=(const AacEncoder &) = delete;

  bool Open(int sampleRate, int channels);
  // The codec's AudioSpecificConfig, for the container; valid after Open().
  const std::vector<uint8_t> &Extradata() const { return m_extradata; }
  int FrameSamples() const { return m_frameSamples; }

  // `frames` interleaved samples of all channels, the first one at `pts`
  // (in samples).
  bool Encode(const int16_t *samples, int frames, int64_t pts, const PacketSink &sink);
  // Encodes what is pending, padded with silence, and drains the encoder.
  bool Flush(const PacketSink &sink);

 private:
  bool EncodeFrame(const PacketSink &sink, bool last);
  bool Drain(const PacketSink &sink);

  av::CodecContextPtr m_context;
  av::FramePtr m_frame;
  av::PacketPtr m_packet;
  std::vector<uint8_t> m_extradata;
  int m_channels = 0;
  int m_frameSamples = 0;
  int m_pending = 0;               // samples in m_frame not yet encoded
  int64_t m_pendingPts = 0;        // time of the first of them
  bool m_hasTime = false;          // m_pendingPts is set
  int64_t m_firstPts = INT64_MIN;  // of the first frame encoded
  // Longest pause, in samples, that is still played straight on.
  int64_t m_straightOnSamples = 0;
};

}  // namespace orvan::platform
