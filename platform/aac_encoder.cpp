#include "platform/aac_encoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "platform/log.h"

namespace orvan::platform {

bool AacEncoder::Open(int sampleRate, int channels) {
  m_context.reset();
  const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec || sampleRate <= 0 || channels < 1 || channels > 8) return false;
  av::CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return false;
  context->sample_fmt = AV_SAMPLE_FMT_FLTP;
  context->sample_rate = sampleRate;
  av_channel_layout_default(&context->ch_layout, channels);
  context->bit_rate = 48000 * channels;
  context->time_base = AVRational{1, sampleRate};
  // Headers go to the container, not into every packet.
  context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) {
    ORVAN_LOG_WARN("aac", "cannot open the AAC encoder");
    return false;
  }
  m_frame = av::MakeFrame();
  m_packet = av::MakePacket();
  if (!m_frame || !m_packet) return false;
  m_frame->format = AV_SAMPLE_FMT_FLTP;
  m_frame->nb_samples = context->frame_size;
  m_frame->sample_rate = sampleRate;
  if (av_channel_layout_copy(&m_frame->ch_layout, &context->ch_layout) < 0 ||
      av_frame_get_buffer(m_frame.get(), 0) < 0)
    return false;
  m_extradata.assign(context->extradata, context->extradata + context->extradata_size);
  m_channels = channels;
  m_frameSamples = context->frame_size;
  m_pending = 0;
  m_hasTime = false;
  m_firstPts = INT64_MIN;
  m_straightOnSamples = sampleRate / 4;
  m_context = std::move(context);
  return true;
}

bool AacEncoder::Encode(const int16_t *samples, int frames, int64_t pts, const PacketSink &sink) {
  if (!m_context || frames < 0 || (!samples && frames)) return false;
  if (m_hasTime && pts > m_pendingPts + m_pending + m_straightOnSamples) {
    // A pause: what is pending ends here, the piece starts a frame at its time.
    if (m_pending && !EncodeFrame(sink, true)) return false;
    m_hasTime = false;
  }
  if (!m_hasTime) {
    m_pendingPts = pts;
    m_hasTime = true;
  }
  int done = 0;
  while (done < frames) {
    if (av_frame_make_writable(m_frame.get()) < 0) return false;
    const int take = std::min(frames - done, m_frameSamples - m_pending);
    for (int c = 0; c < m_channels; ++c) {
      auto *plane = reinterpret_cast<float *>(m_frame->extended_data[c]) + m_pending;
      const int16_t *in = samples + size_t(done) * size_t(m_channels) + size_t(c);
      for (int i = 0; i < take; ++i)
        plane[i] = float(in[size_t(i) * size_t(m_channels)]) / 32768.0f;
    }
    m_pending += take;
    done += take;
    if (m_pending == m_frameSamples && !EncodeFrame(sink, false)) return false;
  }
  return true;
}

bool AacEncoder::EncodeFrame(const PacketSink &sink, bool last) {
  if (av_frame_make_writable(m_frame.get()) < 0) return false;
  for (int c = 0; c < m_channels; ++c) {
    auto *plane = reinterpret_cast<float *>(m_frame->extended_data[c]);
    std::fill(plane + m_pending, plane + m_frameSamples, 0.0f);
  }
  m_frame->pts = m_pendingPts;
  if (m_firstPts == INT64_MIN) m_firstPts = m_pendingPts;
  const int rc = avcodec_send_frame(m_context.get(), m_frame.get());
  m_pendingPts += m_frameSamples;
  m_pending = 0;
  if (last) m_hasTime = false;
  if (rc < 0) return false;
  return Drain(sink);
}

bool AacEncoder::Drain(const PacketSink &sink) {
  for (;;) {
    const int rc = avcodec_receive_packet(m_context.get(), m_packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    if (m_packet->pts < m_firstPts) {
      av_packet_unref(m_packet.get());  // the lead-in
      continue;
    }
    const bool ok = sink(m_packet->data, size_t(m_packet->size), m_packet->pts,
                         m_packet->duration > 0 ? m_packet->duration : m_frameSamples);
    av_packet_unref(m_packet.get());
    if (!ok) return false;
  }
}

bool AacEncoder::Flush(const PacketSink &sink) {
  if (!m_context) return false;
  if (m_pending && !EncodeFrame(sink, true)) return false;
  if (avcodec_send_frame(m_context.get(), nullptr) < 0) return false;
  const bool ok = Drain(sink);
  m_context.reset();
  return ok;
}

}  // namespace orvan::platform
