#include "platform/avi_file.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "platform/log.h"

namespace orvan::platform {

namespace {

constexpr const char *kLogCategory = "avi";

}  // namespace

bool AviFile::Create(const std::string &path, ReplacePolicy policy) {
  Close();
  if (!m_output.Create(path, policy, MuxerOutput::Kind::kSeekable)) {
    ORVAN_LOG_ERROR(kLogCategory, "%s", m_output.Error().c_str());
    return false;
  }
  AVFormatContext *raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, "avi", path.c_str()) < 0 || !raw) {
    m_output.Abandon();
    return false;
  }
  av::OutputFormatContextPtr context(raw);
  context->pb = m_output.Io();
  context->flags |= AVFMT_FLAG_CUSTOM_IO;
  m_context = std::move(context);
  return true;
}

bool AviFile::CreateVideoStream() {
  if (!m_context || m_headerWritten) return false;
  m_video = avformat_new_stream(m_context.get(), nullptr);
  return m_video != nullptr;
}

bool AviFile::SetVideoFormat(int width, int height, uint32_t fourcc, int rate) {
  if (!m_video || width <= 0 || height <= 0 || width > 16384 || height > 16384 || rate <= 0)
    return false;
  AVCodecParameters *par = m_video->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_MPEG4;
  par->codec_tag = fourcc;
  par->width = width;
  par->height = height;
  par->bits_per_coded_sample = 24;
  par->format = AV_PIX_FMT_YUV420P;
  m_video->time_base = AVRational{1, rate};
  m_video->avg_frame_rate = AVRational{rate, 1};
  m_video->r_frame_rate = AVRational{rate, 1};
  return true;
}

bool AviFile::CreateAudioStream() {
  if (!m_context || m_headerWritten) return false;
  m_audio = avformat_new_stream(m_context.get(), nullptr);
  return m_audio != nullptr;
}

bool AviFile::SetAudioFormat(int channels, int samplesPerSecond, int bitsPerSample) {
  if (!m_audio || channels < 1 || channels > 8 || samplesPerSecond <= 0 ||
      (bitsPerSample != 8 && bitsPerSample != 16))
    return false;
  AVCodecParameters *par = m_audio->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = bitsPerSample == 16 ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_PCM_U8;
  par->codec_tag = 1;  // WAVE_FORMAT_PCM
  av_channel_layout_default(&par->ch_layout, channels);
  par->sample_rate = samplesPerSecond;
  par->bits_per_coded_sample = bitsPerSample;
  par->block_align = channels * bitsPerSample / 8;
  par->bit_rate = int64_t(par->block_align) * samplesPerSecond * 8;
  m_audio->time_base = AVRational{1, samplesPerSecond};
  m_audioBytesPerFrame = par->block_align;

  const int rc = avformat_write_header(m_context.get(), nullptr);
  if (rc < 0) {
    ORVAN_LOG_ERROR(kLogCategory, "cannot write the AVI header (%d)", rc);
    return false;
  }
  m_headerWritten = true;
  return true;
}

bool AviFile::WriteVideo(int64_t frameNumber, const void *data, uint32_t length, bool key) {
  if (!m_headerWritten || !m_video || frameNumber < 0) return false;
  const int64_t pts =
      av_rescale_q(frameNumber, AVRational{1, m_video->avg_frame_rate.num}, m_video->time_base);
  const int64_t duration =
      av_rescale_q(1, AVRational{1, m_video->avg_frame_rate.num}, m_video->time_base);
  return WritePacket(m_video, pts, duration, data, length, key);
}

bool AviFile::WriteAudio(const void *data, uint32_t length) {
  if (!m_headerWritten || !m_audio) return false;
  // Positions follow the bytes written: a record of any length lands right
  // after the one before, and durations add up to the audio's real length.
  const AVRational sampleBase{1, m_audio->codecpar->sample_rate};
  const int64_t pts =
      av_rescale_q(m_audioBytes / m_audioBytesPerFrame, sampleBase, m_audio->time_base);
  const int64_t duration =
      av_rescale_q(length / m_audioBytesPerFrame, sampleBase, m_audio->time_base);
  if (!WritePacket(m_audio, pts, duration, data, length, true)) return false;
  m_audioBytes += length;
  return true;
}

bool AviFile::WritePacket(AVStream *stream, int64_t pts, int64_t duration, const void *data,
                          uint32_t length, bool key) {
  if (!data && length) return false;
  av::PacketPtr packet = av::MakePacket();
  if (!packet || av_new_packet(packet.get(), int(length)) < 0) return false;
  if (length) std::memcpy(packet->data, data, length);
  packet->stream_index = stream->index;
  packet->pts = packet->dts = pts;
  packet->duration = duration;
  if (key) packet->flags |= AV_PKT_FLAG_KEY;
  // Written at once, in the caller's order: errors show on the call that
  // met them, and nothing waits in an interleaving queue.
  const int rc = av_write_frame(m_context.get(), packet.get());
  if (rc < 0) {
    ORVAN_LOG_ERROR(kLogCategory, "packet not written (%d)", rc);
    m_writeFailed = true;
    return false;
  }
  return true;
}

bool AviFile::Close() {
  bool finished = m_headerWritten && !m_writeFailed;
  if (m_context && m_headerWritten) {
    const int rc = av_write_trailer(m_context.get());
    if (rc < 0) {
      ORVAN_LOG_ERROR(kLogCategory, "cannot finish the AVI file (%d)", rc);
      finished = false;
    }
  }
  // The I/O context is ours, not the muxer's: take it back before the
  // context is freed.
  if (m_context) m_context->pb = nullptr;
  m_context.reset();
  m_video = nullptr;
  m_audio = nullptr;
  const bool started = m_headerWritten;
  m_headerWritten = false;
  m_writeFailed = false;
  m_audioBytes = 0;
  if (!m_output.IsOpen()) return true;
  if (finished) return m_output.Commit();  // false when a buffered write fails now
  m_output.Abandon();
  return !started;
}

}  // namespace orvan::platform
