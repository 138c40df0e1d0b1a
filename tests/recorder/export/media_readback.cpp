#include "tests/recorder/export/media_readback.h"

#include <filesystem>
#include <fstream>

#include "platform/av_handles.h"
#include "platform/disk_source.h"

namespace orvan::test {

SeekCost MeasureSeek(const std::string &path, int64_t toMs) {
  SeekCost cost;
  std::error_code ec;
  cost.fileBytes = std::filesystem::file_size(path, ec);
  AVFormatContext *raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return cost;
  av::InputFormatContextPtr context(raw);
  if (avformat_find_stream_info(context.get(), nullptr) < 0) return cost;
  int video = -1;
  for (unsigned i = 0; i < context->nb_streams; ++i)
    if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) video = int(i);
  if (video < 0) return cost;
  AVStream *st = context->streams[video];
  const int64_t target = av_rescale_q(toMs, AVRational{1, 1000}, st->time_base);
  av::PacketPtr packet = av::MakePacket();
  // The demuxer reads the cues at the first jump.
  if (av_seek_frame(context.get(), video, target, AVSEEK_FLAG_BACKWARD) >= 0) {
    cost.videoCues = avformat_index_get_entries_count(st);
    while (av_read_frame(context.get(), packet.get()) >= 0) {
      const bool found = packet->stream_index == video;
      if (found) cost.landedMs = av_rescale_q(packet->pts, st->time_base, AVRational{1, 1000});
      av_packet_unref(packet.get());
      if (found) break;
    }
    cost.ok = cost.landedMs >= 0;
  }
  cost.bytesRead = uint64_t(context->pb->bytes_read);
  return cost;
}

ReadMedia ReadMediaFile(const std::string &path) {
  ReadMedia media;
  AVFormatContext *raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return media;
  av::InputFormatContextPtr context(raw);
  if (avformat_find_stream_info(context.get(), nullptr) < 0) return media;
  if (const AVDictionaryEntry *t = av_dict_get(context->metadata, "title", nullptr, 0))
    media.title = t->value;
  for (unsigned i = 0; i < context->nb_chapters; ++i) {
    const AVChapter *c = context->chapters[i];
    ReadChapter chapter;
    chapter.startMs = av_rescale_q(c->start, c->time_base, AVRational{1, 1000});
    chapter.endMs = av_rescale_q(c->end, c->time_base, AVRational{1, 1000});
    if (const AVDictionaryEntry *t = av_dict_get(c->metadata, "title", nullptr, 0))
      chapter.title = t->value;
    media.chapters.push_back(chapter);
  }
  if (const AVDictionaryEntry *t = av_dict_get(context->metadata, "creation_time", nullptr, 0))
    media.creationTime = t->value;
  std::vector<av::CodecContextPtr> decoders(context->nb_streams);
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVCodecParameters *par = context->streams[i]->codecpar;
    ReadStream s;
    s.type = par->codec_type;
    s.codec = par->codec_id;
    s.extradata.assign(par->extradata, par->extradata + par->extradata_size);
    s.width = par->width;
    s.height = par->height;
    s.sampleRate = par->sample_rate;
    s.channels = par->ch_layout.nb_channels;
    media.streams.push_back(s);
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      const AVCodec *codec = avcodec_find_decoder(par->codec_id);
      decoders[i].reset(codec ? avcodec_alloc_context3(codec) : nullptr);
      if (!decoders[i] || avcodec_parameters_to_context(decoders[i].get(), par) < 0 ||
          avcodec_open2(decoders[i].get(), codec, nullptr) < 0)
        return media;
    }
  }
  av::PacketPtr packet = av::MakePacket();
  av::FramePtr frame = av::MakeFrame();
  auto drain = [&](unsigned i) {
    while (avcodec_receive_frame(decoders[i].get(), frame.get()) == 0) {
      media.streams[i].decodedSamples += frame->nb_samples;
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(context.get(), packet.get()) >= 0) {
    const unsigned i = unsigned(packet->stream_index);
    if (i < media.streams.size()) {
      ReadPacket p;
      const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      p.ptsMs = av_rescale_q(pts, context->streams[i]->time_base, AVRational{1, 1000});
      p.key = packet->flags & AV_PKT_FLAG_KEY;
      p.data.assign(packet->data, packet->data + packet->size);
      media.streams[i].packets.push_back(std::move(p));
      if (decoders[i] && avcodec_send_packet(decoders[i].get(), packet.get()) >= 0) drain(i);
    }
    av_packet_unref(packet.get());
  }
  for (unsigned i = 0; i < decoders.size(); ++i) {
    if (!decoders[i]) continue;
    avcodec_send_packet(decoders[i].get(), nullptr);
    drain(i);
  }
  media.ok = true;
  return media;
}

std::vector<RecordedEntry> ReadRecordedEntries(const std::string &image,
                                               recorder::DiskGeometry *geometry) {
  std::vector<RecordedEntry> out;
  DiskSource source;
  recorder::DiskGeometry g;
  if (source.OpenPath(image) != DriveOpenStatus::Ok ||
      recorder::ReadGeometry(source, g) != recorder::GeometryStatus::Ok)
    return out;
  if (geometry) *geometry = g;
  // A copy reads whole index sectors: the rest of the sector that holds the
  // last played entry is read too.
  const uint64_t bytes = (uint64_t(g.playEnd) * recorder::kEntryBytes + kSectorBytes - 1) /
                         kSectorBytes * kSectorBytes;
  const int64_t count = int64_t(bytes / recorder::kEntryBytes);
  std::vector<uint8_t> index(size_t(count) * recorder::kEntryBytes);
  std::ifstream in(image, std::ios::binary);
  in.seekg(std::streamoff(recorder::kIndexAreaOffset));
  in.read(reinterpret_cast<char *>(index.data()), std::streamsize(index.size()));
  for (int64_t n = 0; n < count; ++n)
    out.push_back({recorder::IndexEntry::Parse(index.data() + n * recorder::kEntryBytes), n});
  return out;
}

std::vector<uint8_t> ReadRecord(const std::string &image, const recorder::DiskGeometry &geometry,
                                const recorder::IndexEntry &entry) {
  std::vector<uint8_t> bytes(entry.size);
  std::ifstream in(image, std::ios::binary);
  in.seekg(std::streamoff(geometry.dataBase + entry.offset));
  in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
  return bytes;
}

}  // namespace orvan::test
