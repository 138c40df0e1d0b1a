#include "platform/media_muxer.h"

#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include "platform/log.h"

namespace orvan::platform {

namespace {

constexpr const char *kLogCategory = "mux";

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

bool MediaMuxer::Failed(const std::string &what, int code) {
  m_failed = true;
  if (m_error.empty()) {
    // A failed write of the file itself says so in the output's own words.
    m_error = !m_output.Error().empty() ? m_output.Error()
                                        : "cannot write " + m_output.Path() + ": " + what + " (" +
                                              AvErrorText(code) + ")";
  }
  ORVAN_LOG_INFO(kLogCategory, "%s", m_error.c_str());
  return false;
}

bool MediaMuxer::Create(const std::string &path, ReplacePolicy policy, const char *format) {
  Abandon();
  m_error.clear();
  m_failed = false;
  // Matroska's index of key pictures goes behind the clusters and is found
  // from the head, which the muxer fills in last: it needs to seek.
  const bool matroska = format && std::strcmp(format, "matroska") == 0;
  if (!m_output.Create(
          path, policy,
          matroska ? MuxerOutput::Kind::kSeekableDigest : MuxerOutput::Kind::kStreaming))
    return false;
  AVFormatContext *raw = nullptr;
  const int rc = avformat_alloc_output_context2(&raw, nullptr, format, path.c_str());
  if (rc < 0 || !raw) {
    Failed("no muxer", rc);
    m_output.Abandon();
    return false;
  }
  m_context.reset(raw);
  m_context->pb = m_output.Io();
  m_context->flags |= AVFMT_FLAG_CUSTOM_IO;
  return true;
}

int MediaMuxer::AddStream(const MuxStreamFormat &f) {
  if (!m_context || m_started) return -1;
  AVStream *st = avformat_new_stream(m_context.get(), nullptr);
  if (!st) return -1;
  AVCodecParameters *par = st->codecpar;
  par->codec_type = f.type;
  par->codec_id = f.codec;
  if (f.type == AVMEDIA_TYPE_VIDEO) {
    par->width = f.width;
    par->height = f.height;
  } else if (f.type == AVMEDIA_TYPE_AUDIO) {
    av_channel_layout_default(&par->ch_layout, f.channels);
    par->sample_rate = f.sampleRate;
    par->frame_size = f.frameSamples;
    if (f.codec == AV_CODEC_ID_PCM_S16LE) {
      par->bits_per_coded_sample = 16;
      par->block_align = 2 * f.channels;
      par->bit_rate = int64_t(f.sampleRate) * par->block_align * 8;
    }
  }
  if (!f.extradata.empty()) {
    par->extradata =
        static_cast<uint8_t *>(av_mallocz(f.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return -1;
    std::memcpy(par->extradata, f.extradata.data(), f.extradata.size());
    par->extradata_size = int(f.extradata.size());
  }
  st->time_base = f.timeBase;
  av_dict_set(&st->metadata, "language", f.language.empty() ? "und" : f.language.c_str(), 0);
  m_timeBases.push_back(f.timeBase);
  return st->index;
}

void MediaMuxer::SetMetadata(const char *key, const std::string &value) {
  if (m_context) av_dict_set(&m_context->metadata, key, value.c_str(), 0);
}

void MediaMuxer::SetDurationMs(int64_t ms) {
  if (m_context && ms > 0) m_context->duration = av_rescale(ms, AV_TIME_BASE, 1000);
}

void MediaMuxer::AddChapter(int64_t startMs, int64_t endMs, const std::string &title) {
  if (!m_context || m_started || endMs <= startMs) return;
  auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
  if (!chapter) return;
  chapter->id = int64_t(m_context->nb_chapters) + 1;
  chapter->time_base = AVRational{1, 1000};
  chapter->start = startMs;
  chapter->end = endMs;
  av_dict_set(&chapter->metadata, "title", title.c_str(), 0);
  int count = int(m_context->nb_chapters);
  av_dynarray_add(&m_context->chapters, &count, chapter);
  if (count == int(m_context->nb_chapters)) {  // no memory: the array is freed
    av_dict_free(&chapter->metadata);
    av_free(chapter);
    m_context->nb_chapters = 0;
    return;
  }
  m_context->nb_chapters = unsigned(count);
}

bool MediaMuxer::Start() {
  if (!m_context || m_started || m_failed) return false;
  AVDictionary *options = nullptr;
  if (std::strcmp(m_context->oformat->name, "mp4") == 0) {
    // The movie header cannot be written last into a stream: fragments carry
    // the samples, cut at key pictures.
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
  } else if (std::strcmp(m_context->oformat->name, "matroska") == 0) {
    // The file's SHA-256 covers every byte; Matroska's CRC-32 of each
    // element would only repeat that, at a cost per byte.
    av_dict_set(&options, "write_crc32", "0", 0);
    // A file's clusters (the muxer's defaults for one that can seek), said
    // here so that they never fall back to a live stream's 32 KiB and 1 s.
    av_dict_set(&options, "cluster_size_limit", "5242880", 0);
    av_dict_set(&options, "cluster_time_limit", "5000", 0);
    // The same span of the same source gives the same bytes, so an export
    // made again can be checked against the first one's hashes: the segment
    // and track identifiers are derived instead of drawn at random (the
    // file then names its muxer "Lavf" without a version; the manifest
    // names this program).
    m_context->flags |= AVFMT_FLAG_BITEXACT;
  }
  // A file, not a live stream: packets wait in the I/O buffer until it is
  // full instead of each being handed to the file at once.
  m_context->flush_packets = 0;
  const int rc = avformat_write_header(m_context.get(), &options);
  av_dict_free(&options);
  if (rc < 0) return Failed("cannot write the header", rc);
  m_started = true;
  return true;
}

av::PacketPtr MediaMuxer::NewPacket(const void *data, size_t length) {
  if ((!data && length) || length > INT32_MAX) return nullptr;
  av::PacketPtr packet = av::MakePacket();
  if (!packet || av_new_packet(packet.get(), int(length)) < 0) return nullptr;
  if (length) std::memcpy(packet->data, data, length);
  return packet;
}

bool MediaMuxer::Write(int stream, int64_t pts, int64_t duration, const void *data, size_t length,
                       bool key) {
  if (!m_started || m_failed) return false;
  if ((!data && length) || length > INT32_MAX) return false;
  av::PacketPtr packet = NewPacket(data, length);
  if (!packet) return Failed("out of memory", AVERROR(ENOMEM));
  return Write(stream, pts, duration, std::move(packet), key);
}

bool MediaMuxer::Write(int stream, int64_t pts, int64_t duration, av::PacketPtr packet, bool key) {
  if (!m_started || m_failed || !packet) return false;
  if (stream < 0 || stream >= int(m_timeBases.size())) return false;
  packet->stream_index = stream;
  packet->pts = packet->dts = pts;
  packet->duration = duration;
  if (key) packet->flags |= AV_PKT_FLAG_KEY;
  av_packet_rescale_ts(packet.get(), m_timeBases[size_t(stream)],
                       m_context->streams[stream]->time_base);
  // The muxer takes the packet's reference over and leaves it blank.
  const int rc = av_interleaved_write_frame(m_context.get(), packet.get());
  if (rc < 0) return Failed("a packet was not written", rc);
  return true;
}

bool MediaMuxer::Finish() {
  if (!m_context) return false;
  if (m_started && !m_failed) {
    const int rc = av_write_trailer(m_context.get());
    if (rc < 0) Failed("cannot finish the file", rc);
  }
  if (m_started && !m_failed && !m_output.Flush()) Failed("cannot finish the file", AVERROR(EIO));
  const bool ok = m_started && !m_failed;
  m_context->pb = nullptr;  // ours, not the muxer's
  m_context.reset();
  m_timeBases.clear();
  m_started = false;
  if (!ok) m_output.Abandon();
  return ok;
}

bool MediaMuxer::Commit(FolderSyncs *later) {
  if (m_context || m_failed || !m_output.IsOpen()) return false;
  if (!m_output.Commit(later)) return Failed("cannot put the file in place", AVERROR(EIO));
  return true;
}

void MediaMuxer::Abandon() {
  if (m_context) m_context->pb = nullptr;
  m_context.reset();
  m_timeBases.clear();
  m_started = false;
  m_output.Abandon();
}

}  // namespace orvan::platform
