#include "recorder/media_export.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "media/recorded_stream.h"
#include "platform/aac_encoder.h"
#include "platform/log.h"
#include "platform/media_muxer.h"
#include "platform/wintime.h"

namespace orvan::recorder {

namespace {

constexpr const char *kLogCategory = "export";
constexpr int kAudioRate = 16000;
constexpr int kAudioChannels = 2;
constexpr uint32_t kAudioFrameBytes = 4;  // one 16-bit stereo sample
constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kSamplesPerMs = kAudioRate / kMsPerSecond;
// Every stream counts time in audio samples: the MP4 muxer compares times
// of different streams as plain numbers (to end a text cue), so they must
// share one unit.
constexpr AVRational kTimeBase{1, kAudioRate};
constexpr int64_t kDefaultPictureMs = 40;

bool IsPictureRecord(int8_t type) { return IsKnownRecordType(type) && type != kTypeAudio; }

// ISO 8601 of recorder time, which is shown as UTC.
std::string IsoTime(int64_t ms) {
  const SYSTEMTIME st = RecorderSecondsToSystemTime(ms / kMsPerSecond);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", st.wYear, st.wMonth,
                st.wDay, st.wHour, st.wMinute, st.wSecond, int(ms % kMsPerSecond));
  return text;
}

// The 3GPP timed-text sample description: centred at the bottom, white on
// a clear background, one font.
std::vector<uint8_t> TimedTextDescription() {
  return {0,    0,    0,    0,                       // display flags
          1,    0xFF,                                // centred, at the bottom
          0,    0,    0,    0,                       // background colour
          0,    0,    0,    0,    0,   0,   0,   0,  // text box: the whole track
          0,    0,    0,    0,    0,   1,   0,   18,
          0xFF, 0xFF, 0xFF, 0xFF,  // style: font 1, 18 px, white
          0,    0,    0,    18,   'f', 't', 'a', 'b',
          0,    1,    0,    1,    5,  // font table, one entry
          'S',  'e',  'r',  'i',  'f'};
}

}  // namespace

class MediaExportSink::ChannelWriter {
 public:
  enum class Result { kWritten, kLeftOut, kCorrupt, kFailed };

  ChannelWriter(int channel, ExportFormat format, std::string path, platform::ReplacePolicy policy,
                const MediaSpanPlan::Channel &plan)
      : m_channel(channel),
        m_format(format),
        m_path(std::move(path)),
        m_policy(policy),
        m_plan(plan) {}

  bool Started() const { return m_started; }
  int64_t Pictures() const { return m_pictures; }
  std::string Error() const {
    return m_muxer.Error().empty() ? "cannot write " + m_path : m_muxer.Error();
  }
  void Abandon() { m_muxer.Abandon(); }

  Result Picture(const SpanEntry &s) {
    const bool mjpeg = IsMjpegRecord(s.entry.type);
    const bool key = IsKeyPicture(s.entry.type);
    if (!media::LooksLikePicture(mjpeg, s.record, s.entry.size)) return Result::kCorrupt;
    if (!m_started) {
      if (!key) return Result::kLeftOut;
      media::RecordedVideoFormat format;
      if (!media::ProbeRecordedVideo(mjpeg, s.record, s.entry.size, format))
        return Result::kCorrupt;
      if (!Open(s, format)) return Result::kFailed;
    } else if (mjpeg != m_mjpeg) {
      return Result::kCorrupt;  // one file holds one codec
    }
    const int64_t pts = m_pictures ? std::max(s.timeMs - m_firstMs, m_pending.pts + 1) : 0;
    if (!WritePending(pts)) return Result::kFailed;
    if (int64_t{s.entry.time} > m_lastCueSecond && !WriteCue(s.entry.time)) return Result::kFailed;
    // The record is only lent for this call: it is copied once, straight
    // into the packet the muxer will take over.
    m_pending.packet = platform::MediaMuxer::NewPacket(s.record, s.entry.size);
    if (!m_pending.packet) return Result::kFailed;
    m_pending.pts = pts;
    m_pending.key = key;
    m_pending.held = true;
    ++m_pictures;
    return Result::kWritten;
  }

  Result Audio(const SpanEntry &s) {
    if (!m_started || m_audioStream < 0) return Result::kLeftOut;
    if (s.entry.size == 0 || s.entry.size % kAudioFrameBytes) return Result::kCorrupt;
    const int64_t ms = s.timeMs - m_firstMs;
    if (ms < 0) return Result::kLeftOut;
    const int64_t frames = s.entry.size / kAudioFrameBytes;
    const int64_t pts = std::max(ms * kSamplesPerMs, m_lastAudioPts + 1);
    m_lastAudioPts = pts;
    if (!m_aac) {
      const bool ok =
          m_muxer.Write(m_audioStream, pts, frames, s.record, s.entry.size, /*key=*/true);
      return ok ? Result::kWritten : Result::kFailed;
    }
    m_samples.resize(size_t(frames) * kAudioChannels);
    std::memcpy(m_samples.data(), s.record, s.entry.size);  // little-endian, as recorded
    return m_aac->Encode(m_samples.data(), int(frames), pts, AacSink()) ? Result::kWritten
                                                                        : Result::kFailed;
  }

  // Writes what is held back and the trailer; the file is not yet in place.
  bool Finish() {
    const int64_t lastMs = m_pictures > 1 ? m_lastIntervalMs : kDefaultPictureMs;
    bool ok = WritePending(m_pending.pts + lastMs);
    if (ok && m_aac) ok = m_aac->Flush(AacSink());
    if (!ok) {
      m_muxer.Abandon();
      return false;
    }
    return m_muxer.Finish();
  }

  bool Commit(ExportedFile &file, platform::FolderSyncs &later) {
    if (!m_muxer.Commit(&later)) return false;
    file.path = m_path;
    file.role = "channel " + std::to_string(m_channel + 1);
    file.sizeBytes = m_muxer.SizeBytes();
    platform::Sha256Digest digest{};
    if (m_muxer.Sha256Of(digest)) file.sha256 = platform::HexOf(digest);
    return true;
  }

 private:
  struct PendingPicture {
    av::PacketPtr packet;
    int64_t pts = 0;
    bool key = false;
    bool held = false;
  };

  bool Open(const SpanEntry &key, const media::RecordedVideoFormat &format) {
    const bool matroska = m_format == ExportFormat::kMatroska;
    if (!m_muxer.Create(m_path, m_policy, matroska ? "matroska" : "mp4")) return false;
    platform::MuxStreamFormat video;
    video.type = AVMEDIA_TYPE_VIDEO;
    video.codec = format.mjpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4;
    video.width = format.width;
    video.height = format.height;
    video.extradata = format.headers;
    video.timeBase = kTimeBase;
    m_videoStream = m_muxer.AddStream(video);
    if (m_plan.audio) {
      platform::MuxStreamFormat audio;
      audio.type = AVMEDIA_TYPE_AUDIO;
      audio.timeBase = kTimeBase;
      audio.sampleRate = kAudioRate;
      audio.channels = kAudioChannels;
      if (matroska) {
        audio.codec = AV_CODEC_ID_PCM_S16LE;
      } else {
        m_aac = std::make_unique<platform::AacEncoder>();
        if (!m_aac->Open(kAudioRate, kAudioChannels)) {
          ORVAN_LOG_WARN(kLogCategory, "no AAC encoder: %s is written without audio",
                         m_path.c_str());
          m_aac.reset();
        }
        audio.codec = AV_CODEC_ID_AAC;
        audio.frameSamples = m_aac ? m_aac->FrameSamples() : 0;
        if (m_aac) audio.extradata = m_aac->Extradata();
      }
      if (matroska || m_aac) m_audioStream = m_muxer.AddStream(audio);
    }
    platform::MuxStreamFormat text;
    text.type = AVMEDIA_TYPE_SUBTITLE;
    text.codec = matroska ? AV_CODEC_ID_SUBRIP : AV_CODEC_ID_MOV_TEXT;
    text.timeBase = kTimeBase;
    if (!matroska) text.extradata = TimedTextDescription();
    m_textStream = m_muxer.AddStream(text);
    if (m_videoStream < 0 || m_textStream < 0 || (m_plan.audio && matroska && m_audioStream < 0)) {
      m_muxer.Abandon();
      return false;
    }

    m_firstMs = key.timeMs;
    const int64_t lastMs = std::max(m_plan.lastPictureMs, key.timeMs);
    m_muxer.SetMetadata("title", "CH" + std::to_string(m_channel + 1) + " " +
                                     FormatRecorderTime(m_firstMs / kMsPerSecond) + " \u2013 " +
                                     FormatRecorderTime(lastMs / kMsPerSecond));
    m_muxer.SetMetadata("creation_time", IsoTime(m_firstMs));
    if (m_plan.pictures > 1) {
      // Up to the end of the last picture (at its channel's mean spacing)
      // or of the last audio block.
      const int64_t spacing = (lastMs - m_firstMs) / (m_plan.pictures - 1);
      int64_t end = lastMs + std::max<int64_t>(spacing, 1);
      if (m_plan.audio) end = std::max(end, m_plan.lastAudioMs + 63);
      m_muxer.SetDurationMs(end - m_firstMs);
    }
    if (!m_muxer.Start()) {
      m_muxer.Abandon();
      return false;
    }
    m_mjpeg = format.mjpeg;
    m_started = true;
    return true;
  }

  // Writes the picture held back, now that the next one's time gives its
  // length.
  bool WritePending(int64_t nextPts) {
    if (!m_pending.held) return true;
    m_pending.held = false;
    const int64_t duration = std::max<int64_t>(nextPts - m_pending.pts, 1);
    if (m_pictures > 1) m_lastIntervalMs = duration;
    return m_muxer.Write(m_videoStream, m_pending.pts * kSamplesPerMs, duration * kSamplesPerMs,
                         std::move(m_pending.packet), m_pending.key);
  }

  // The recorder's date and time for the second that starts now.
  bool WriteCue(uint32_t second) {
    const int64_t start = std::max(int64_t{second} * kMsPerSecond - m_firstMs, m_lastCueEnd);
    const int64_t end = (int64_t{second} + 1) * kMsPerSecond - m_firstMs;
    m_lastCueSecond = second;
    if (end <= start) return true;
    m_lastCueEnd = end;
    const std::string clock = FormatRecorderTime(int64_t{second});
    if (m_format == ExportFormat::kMatroska)
      return m_muxer.Write(m_textStream, start * kSamplesPerMs, (end - start) * kSamplesPerMs,
                           clock.data(), clock.size(), true);
    std::vector<uint8_t> sample{uint8_t(clock.size() >> 8), uint8_t(clock.size())};
    sample.insert(sample.end(), clock.begin(), clock.end());
    return m_muxer.Write(m_textStream, start * kSamplesPerMs, (end - start) * kSamplesPerMs,
                         sample.data(), sample.size(), true);
  }

  platform::AacEncoder::PacketSink AacSink() {
    return [this](const uint8_t *data, size_t length, int64_t pts, int64_t duration) {
      return m_muxer.Write(m_audioStream, pts, duration, data, length, true);
    };
  }

  const int m_channel;
  const ExportFormat m_format;
  const std::string m_path;
  const platform::ReplacePolicy m_policy;
  const MediaSpanPlan::Channel m_plan;

  platform::MediaMuxer m_muxer;
  std::unique_ptr<platform::AacEncoder> m_aac;
  int m_videoStream = -1;
  int m_audioStream = -1;
  int m_textStream = -1;
  bool m_started = false;
  bool m_mjpeg = false;
  int64_t m_firstMs = 0;  // recorder time of the first picture: the file's 0
  int64_t m_pictures = 0;
  PendingPicture m_pending;
  int64_t m_lastIntervalMs = kDefaultPictureMs;
  int64_t m_lastCueSecond = -1;
  int64_t m_lastCueEnd = 0;
  int64_t m_lastAudioPts = -1;
  std::vector<int16_t> m_samples;
};

MediaSpanPlan PlanMediaSpan(ByteSource &disk, const DiskGeometry &geometry, uint32_t startSeconds,
                            int64_t endSeconds, const std::function<bool()> &stop) {
  MediaSpanPlan plan;
  SpanReader reader(disk, geometry, /*readRecords=*/false);
  reader.Start(startSeconds, endSeconds);
  auto take = [&](const SpanEntry &s) {
    MediaSpanPlan::Channel &c = plan.channels[s.entry.channel & 3];
    if (IsPictureRecord(s.entry.type)) {
      if (c.firstKeyMs < 0 && IsKeyPicture(s.entry.type)) c.firstKeyMs = s.timeMs;
      if (c.firstKeyMs >= 0) {
        c.lastPictureMs = s.timeMs;
        ++c.pictures;
      }
    } else if (s.entry.type == kTypeAudio && c.firstKeyMs >= 0) {
      c.audio = true;
      c.lastAudioMs = s.timeMs;
    }
    return true;
  };
  while (!(stop && stop()) && reader.ReadSector(nullptr, take) == SpanReader::Step::kMore) {
  }
  return plan;
}

MediaExportSink::MediaExportSink(ExportFormat format, std::string path, unsigned channelMask,
                                 platform::ReplacePolicy policy, const MediaSpanPlan &plan)
    : m_format(format),
      m_path(std::move(path)),
      m_channelMask(channelMask),
      m_policy(policy),
      m_plan(plan) {}

MediaExportSink::~MediaExportSink() { Abandon(); }

bool MediaExportSink::Take(const SpanEntry &s) {
  const int c = s.entry.channel & 3;
  if (!(m_channelMask & (1u << c))) return true;
  auto &writer = m_writers[size_t(c)];
  if (!writer)
    writer = std::make_unique<ChannelWriter>(c, m_format, ChannelFilePath(m_path, c), m_policy,
                                             m_plan.channels[size_t(c)]);
  ChannelWriter::Result result = ChannelWriter::Result::kCorrupt;
  if (s.entry.type == kTypeAudio)
    result = writer->Audio(s);
  else if (IsPictureRecord(s.entry.type))
    result = writer->Picture(s);
  switch (result) {
    case ChannelWriter::Result::kWritten:
      m_statistics.Written(s.entry, s.timeMs);
      return true;
    case ChannelWriter::Result::kLeftOut:
      ++m_statistics.Channel(c).beforeFirstKey;
      return true;
    case ChannelWriter::Result::kCorrupt:
      ++m_statistics.Channel(c).corrupt;
      ++m_corrupt;
      return true;
    case ChannelWriter::Result::kFailed:
      m_error = writer->Error();
      return false;
  }
  return true;
}

bool MediaExportSink::Finish(int /*layout*/, platform::FolderSyncs &later) {
  // Every file is finished before any is put in place, so a full disk
  // leaves none of them.
  for (auto &writer : m_writers) {
    if (!writer || !writer->Started() || writer->Finish()) continue;
    m_error = writer->Error();
    Abandon();
    return false;
  }
  for (auto &writer : m_writers) {
    if (!writer || !writer->Started()) continue;
    ExportedFile file;
    if (!writer->Commit(file, later)) {
      m_error = writer->Error();
      Abandon();
      return false;
    }
    m_files.push_back(file);
  }
  return true;
}

void MediaExportSink::Abandon() {
  for (auto &writer : m_writers)
    if (writer) writer->Abandon();
}

int64_t MediaExportSink::Written() const {
  int64_t pictures = 0;
  for (const auto &writer : m_writers)
    if (writer) pictures += writer->Pictures();
  return pictures;
}

std::vector<std::string> MediaExportSink::Notes() const {
  std::vector<std::string> notes{"pictures are the recorded ones, byte for byte"};
  bool audio = false;
  for (const auto &c : m_statistics.Channels()) audio = audio || c.audioBlocks > 0;
  if (audio && m_format == ExportFormat::kMp4)
    notes.push_back(
        "audio was re-encoded as AAC from the recorded PCM (16-bit stereo, 16 kHz): the only "
        "re-encoded part");
  else if (audio)
    notes.push_back("audio is the recorded PCM (16-bit stereo, 16 kHz), byte for byte");
  return notes;
}

}  // namespace orvan::recorder
