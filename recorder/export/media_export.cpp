#include "recorder/export/media_export.h"

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
// "yyyy/mm/dd_hh:nn:ss.mmm" of a time on the recording's clock.
std::string ClockText(int64_t ms) {
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", int(ms % kMsPerSecond));
  return FormatRecorderTime(ms / kMsPerSecond) + fraction;
}

}  // namespace

ChannelTimeline::ChannelTimeline(const SpanPlan::Channel &plan, uint32_t askedStartSeconds)
    : m_plan(plan), m_askedStartMs(int64_t{askedStartSeconds} * kMsPerSecond) {}

Placement::Kind ChannelTimeline::NotYet(bool asked) const {
  // In front of a key picture at or before the asked start, everything lies
  // before the span (up to the clocks' rounding); in front of a later one,
  // what the span asked for is lost.
  const bool keyBefore = m_plan.startKeyEntry >= 0 && m_plan.startKeyMs <= m_askedStartMs;
  return asked && !keyBefore ? Placement::Kind::kLeftOut : Placement::Kind::kBeforeStart;
}

Placement ChannelTimeline::Picture(const SpanEntry &s) {
  using Kind = Placement::Kind;
  const bool asked = s.timeMs >= m_askedStartMs;
  if (s.unreadable || !s.record) return {Kind::kUnreadable, -1};
  const bool mjpeg = IsMjpegRecord(s.entry.type);
  const bool key = IsKeyPicture(s.entry.type);
  if (!media::LooksLikePicture(mjpeg, s.record, s.entry.size)) return {Kind::kCorrupt, -1};
  if (!m_started) {
    // The file starts at the key picture the look over the index chose, or
    // at the next one that decodes when that one is damaged.
    if (m_plan.startKeyEntry < 0 || s.number < m_plan.startKeyEntry || !key)
      return {NotYet(asked), -1};
    if (!media::ProbeRecordedVideo(mjpeg, s.record, s.entry.size, m_format))
      return {Kind::kCorrupt, -1};
    m_started = true;
    m_firstMs = s.timeMs;
    m_audio.Reset(0);
  } else if (mjpeg != m_format.mjpeg) {
    return {Kind::kCorrupt, -1};  // one file holds one codec
  }
  const int64_t pts = m_pictures ? std::max(s.timeMs - m_firstMs, m_lastPts + 1) : 0;
  m_lastPts = pts;
  ++m_pictures;
  if (!asked) ++m_leadIn;
  return {Kind::kWritten, pts * 1000};
}

Placement ChannelTimeline::Audio(const SpanEntry &s, int64_t lastPictureMs) {
  using Kind = Placement::Kind;
  if (s.unreadable || !s.record) return {Kind::kUnreadable, -1};
  if (!m_started) return {NotYet(s.timeMs >= m_askedStartMs), -1};
  if (s.entry.size == 0 || s.entry.size % kAudioFrameBytes) return {Kind::kCorrupt, -1};
  m_audioFrames = s.entry.size / kAudioFrameBytes;
  // The index gives the block its second (and, from its pacing, a time in
  // it that recorders may leave at the second's start); the block cannot
  // have been recorded before the picture in front of it.
  const int64_t earliest = s.timeMs - m_firstMs;
  const int64_t latest =
      std::max(s.timeMs, (int64_t{s.entry.time} + 1) * kMsPerSecond - 1) - m_firstMs;
  const int64_t anchor = std::max(s.timeMs, lastPictureMs) - m_firstMs;
  m_audioSample = m_audio.Place(earliest, latest, m_audioFrames, anchor);
  return {Kind::kWritten, m_audioSample * 1000000 / kAudioRate};
}

class MediaExportSink::ChannelWriter {
 public:
  ChannelWriter(int channel, ExportFormat format, std::string path, platform::ReplacePolicy policy,
                const SpanPlan::Channel &plan, uint32_t askedStartSeconds)
      : m_channel(channel),
        m_format(format),
        m_path(std::move(path)),
        m_policy(policy),
        m_plan(plan),
        m_line(plan, askedStartSeconds),
        m_askedStartMs(int64_t{askedStartSeconds} * kMsPerSecond) {}

  bool Started() const { return m_line.Started(); }
  int64_t Pictures() const { return m_line.Pictures(); }
  const ChannelTimeline &Line() const { return m_line; }
  int64_t FirstAskedMs() const { return m_firstAskedMs; }
  std::string Error() const {
    return m_muxer.Error().empty() ? "cannot write " + m_path : m_muxer.Error();
  }
  void Abandon() { m_muxer.Abandon(); }

  Placement Picture(const SpanEntry &s) {
    const bool starting = !m_line.Started();
    Placement p = m_line.Picture(s);
    if (p.kind != Placement::Kind::kWritten) return p;
    if (starting && !Open(s)) return {Placement::Kind::kFailed, -1};
    const int64_t pts = p.fileUs / 1000;
    if (!WritePending(pts)) return {Placement::Kind::kFailed, -1};
    if (m_firstAskedMs < 0 && s.timeMs >= m_askedStartMs) m_firstAskedMs = s.timeMs;
    // The record is only lent for this call: it is copied once, straight
    // into the packet the muxer will take over.
    m_pending.packet = platform::MediaMuxer::NewPacket(s.record, s.entry.size);
    if (!m_pending.packet) return {Placement::Kind::kFailed, -1};
    m_pending.pts = pts;
    m_pending.timeMs = s.timeMs;
    m_pending.key = IsKeyPicture(s.entry.type);
    m_pending.held = true;
    return p;
  }

  Placement Audio(const SpanEntry &s, int64_t lastPictureMs) {
    if (m_line.Started() && m_audioStream < 0) return {Placement::Kind::kNotExported, -1};
    Placement p = m_line.Audio(s, lastPictureMs);
    if (p.kind != Placement::Kind::kWritten) return p;
    const int64_t pts = m_line.AudioSample();
    const int64_t frames = m_line.AudioFrames();
    bool ok;
    if (!m_aac) {
      ok = m_muxer.Write(m_audioStream, pts, frames, s.record, s.entry.size, /*key=*/true);
    } else {
      if (!m_aacStarted && pts > 0) {
        // AAC frames run from the file's start, in silence up to the first
        // block, so the first one plays at its own time (a fragmented MP4
        // has no edit list to place a late first frame).
        m_samples.assign(size_t(pts) * kAudioChannels, 0);
        if (!m_aac->Encode(m_samples.data(), int(pts), 0, AacSink()))
          return {Placement::Kind::kFailed, -1};
      }
      m_aacStarted = true;
      m_samples.resize(size_t(frames) * kAudioChannels);
      std::memcpy(m_samples.data(), s.record, s.entry.size);  // little-endian, as recorded
      ok = m_aac->Encode(m_samples.data(), int(frames), pts, AacSink());
    }
    return ok ? p : Placement{Placement::Kind::kFailed, -1};
  }

  // Writes what is held back and the trailer; the file is not yet in place.
  bool Finish() {
    const int64_t lastMs = Pictures() > 1 ? m_lastIntervalMs : kDefaultPictureMs;
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
    int64_t pts = 0;  // ms in the file
    int64_t timeMs = 0;
    bool key = false;
    bool held = false;
  };

  bool Open(const SpanEntry &key) {
    const media::RecordedVideoFormat &format = m_line.Format();
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

    const int64_t firstMs = key.timeMs;
    const int64_t lastMs = std::max(m_plan.lastPictureMs, firstMs);
    m_muxer.SetMetadata("title", "CH" + std::to_string(m_channel + 1) + " " +
                                     FormatRecorderTime(firstMs / kMsPerSecond) + " \u2013 " +
                                     FormatRecorderTime(lastMs / kMsPerSecond));
    m_muxer.SetMetadata("creation_time", IsoTime(firstMs));
    int64_t end = lastMs - firstMs + kDefaultPictureMs;
    if (m_plan.pictures > 1) {
      // Up to the end of the last picture (at its channel's mean spacing)
      // or of the last audio block.
      const int64_t spacing = (lastMs - firstMs) / (m_plan.pictures - 1);
      end = lastMs - firstMs + std::max<int64_t>(spacing, 1);
      if (m_plan.audio) end = std::max(end, m_plan.lastAudioMs + 63 - firstMs);
      m_muxer.SetDurationMs(end);
    }
    if (matroska) {
      // Where the asked span begins, for players' chapter lists: the
      // pictures in front of it are there to decode it.
      const std::string asked = "Asked span from " + ClockText(m_askedStartMs);
      const int64_t leadIn =
          m_plan.firstAskedMs > firstMs ? std::min(m_plan.firstAskedMs - firstMs, end) : 0;
      if (leadIn > 0)
        m_muxer.AddChapter(0, leadIn, "Lead-in from the key picture at " + ClockText(firstMs));
      m_muxer.AddChapter(leadIn, std::max(end, leadIn + 1), asked);
    }
    if (!m_muxer.Start()) {
      m_muxer.Abandon();
      return false;
    }
    return true;
  }

  // Writes the picture held back, and its clock cue, now that the next
  // one's time gives their length.
  bool WritePending(int64_t nextPts) {
    if (!m_pending.held) return true;
    m_pending.held = false;
    const int64_t duration = std::max<int64_t>(nextPts - m_pending.pts, 1);
    if (Pictures() > 1) m_lastIntervalMs = duration;
    return m_muxer.Write(m_videoStream, m_pending.pts * kSamplesPerMs, duration * kSamplesPerMs,
                         std::move(m_pending.packet), m_pending.key) &&
           WriteCue(m_pending.pts, duration, ClockText(m_pending.timeMs));
  }

  bool WriteCue(int64_t pts, int64_t duration, const std::string &clock) {
    if (m_format == ExportFormat::kMatroska)
      return m_muxer.Write(m_textStream, pts * kSamplesPerMs, duration * kSamplesPerMs,
                           clock.data(), clock.size(), true);
    std::vector<uint8_t> sample{uint8_t(clock.size() >> 8), uint8_t(clock.size())};
    sample.insert(sample.end(), clock.begin(), clock.end());
    return m_muxer.Write(m_textStream, pts * kSamplesPerMs, duration * kSamplesPerMs, sample.data(),
                         sample.size(), true);
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
  const SpanPlan::Channel m_plan;
  ChannelTimeline m_line;
  const int64_t m_askedStartMs;

  platform::MediaMuxer m_muxer;
  std::unique_ptr<platform::AacEncoder> m_aac;
  bool m_aacStarted = false;
  int m_videoStream = -1;
  int m_audioStream = -1;
  int m_textStream = -1;
  int64_t m_firstAskedMs = -1;
  PendingPicture m_pending;
  int64_t m_lastIntervalMs = kDefaultPictureMs;
  std::vector<int16_t> m_samples;
};

MediaExportSink::MediaExportSink(ExportFormat format, std::string path, unsigned channelMask,
                                 platform::ReplacePolicy policy, const SpanPlan &plan,
                                 uint32_t askedStartSeconds)
    : m_format(format),
      m_path(std::move(path)),
      m_channelMask(channelMask),
      m_policy(policy),
      m_planChannels(plan.channels),
      m_askedStartSeconds(askedStartSeconds) {}

MediaExportSink::~MediaExportSink() { Abandon(); }

bool MediaExportSink::Take(const SpanEntry &s) {
  using Kind = Placement::Kind;
  const int c = s.entry.channel & 3;
  const bool picture = IsPictureRecord(s.entry.type);
  if (picture) m_lastPictureMs = s.timeMs;
  if (!(m_channelMask & (1u << c))) {
    m_placement = {Kind::kNotExported, -1};
    return true;
  }
  auto &writer = m_writers[size_t(c)];
  if (!writer)
    writer = std::make_unique<ChannelWriter>(c, m_format, ChannelFilePath(m_path, c), m_policy,
                                             m_planChannels[size_t(c)], m_askedStartSeconds);
  if (s.entry.type == kTypeAudio)
    m_placement = writer->Audio(s, m_lastPictureMs);
  else if (picture)
    m_placement = writer->Picture(s);
  else
    m_placement = {s.unreadable ? Kind::kUnreadable : Kind::kCorrupt, -1};
  switch (m_placement.kind) {
    case Kind::kWritten:
      m_statistics.Written(s.entry, s.timeMs);
      return true;
    case Kind::kLeftOut:
      ++m_statistics.Channel(c).beforeFirstKey;
      return true;
    case Kind::kCorrupt:
      ++m_statistics.Channel(c).corrupt;
      ++m_corrupt;
      return true;
    case Kind::kFailed:
      m_error = writer->Error();
      return false;
    default:
      return true;
  }
}

bool MediaExportSink::Finish(int /*layout*/, platform::FolderSyncs &later) {
  // What each file holds of the asked span and of its audio's timing.
  for (int c = 0; c < 4; ++c) {
    const auto &writer = m_writers[size_t(c)];
    if (!writer || !writer->Started()) continue;
    ChannelSummary &summary = m_statistics.Channel(c);
    const ChannelTimeline &line = writer->Line();
    summary.firstAskedMs = writer->FirstAskedMs();
    summary.leadInPictures = line.LeadInPictures();
    for (media::AudioTimeline::Gap g : line.AudioLine().Gaps()) {
      g.fromMs += line.FirstMs();
      g.toMs += line.FirstMs();
      summary.audioGaps.push_back(g);
    }
    for (media::AudioTimeline::Ahead a : line.AudioLine().Aheads()) {
      a.atMs += line.FirstMs();
      summary.audioAhead.push_back(a);
    }
  }
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
  std::vector<std::string> notes{
      "pictures are the recorded ones, byte for byte, from each channel's last key picture at "
      "or before the asked start"};
  bool audio = false;
  for (const auto &c : m_statistics.Channels()) audio = audio || c.audioBlocks > 0;
  if (audio && m_format == ExportFormat::kMp4)
    notes.push_back(
        "audio was re-encoded as AAC from the recorded PCM (16-bit stereo, 16 kHz): the only "
        "re-encoded part");
  else if (audio)
    notes.push_back("audio is the recorded PCM (16-bit stereo, 16 kHz), byte for byte");
  if (audio)
    notes.push_back(
        "audio blocks follow one another without a break; the stream is anchored again only "
        "where the index shows a pause (audioGaps)");
  return notes;
}

}  // namespace orvan::recorder
