#include "tools/sample_recording.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/wintime.h"
#include "recorder/layout/disk_layout.h"
#include "tools/disk_image.h"

namespace orvan::tools {

using namespace orvan::recorder;

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 480;
constexpr int kAudioRate = 16000;
constexpr int kAudioFramesPerBlock = 1000;  // 62.5 ms of 16-bit stereo: 4000 bytes
constexpr int64_t kAudioBlockUs = int64_t{kAudioFramesPerBlock} * 1000000 / kAudioRate;
// Largest picture record: the record and its sector rounding must fit the
// readers' buffer.
constexpr uint32_t kMaxPictureBytes = kMaxRecordBytes - 2 * kSectorBytes;

// splitmix64: the same sequence on every platform for a seed.
class Random {
 public:
  explicit Random(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return int(Next() % uint64_t(n)); }

 private:
  uint64_t m_state;
};

// 5 x 7 glyphs, one row per byte, bit 4 the leftmost column.
const std::array<uint8_t, 7> *Glyph(char c) {
  static const std::array<uint8_t, 7> digits[10] = {
      {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
      {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
      {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
      {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
      {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};
  static const std::array<uint8_t, 7> colon = {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00};
  static const std::array<uint8_t, 7> slash = {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10};
  static const std::array<uint8_t, 7> letterC = {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E};
  static const std::array<uint8_t, 7> letterH = {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11};
  if (c >= '0' && c <= '9') return &digits[c - '0'];
  switch (c) {
    case ':':
      return &colon;
    case '/':
      return &slash;
    case 'C':
      return &letterC;
    case 'H':
      return &letterH;
    default:
      return nullptr;
  }
}

struct Picture {
  uint8_t *y;
  uint8_t *u;
  uint8_t *v;
  int yStride;
  int cStride;
};

void FillRect(const Picture &p, int x0, int y0, int w, int h, uint8_t yv, int uv = -1,
              int vv = -1) {
  x0 = std::clamp(x0, 0, kWidth);
  y0 = std::clamp(y0, 0, kHeight);
  w = std::clamp(w, 0, kWidth - x0);
  h = std::clamp(h, 0, kHeight - y0);
  for (int y = y0; y < y0 + h; ++y) std::memset(p.y + y * p.yStride + x0, yv, size_t(w));
  if (uv < 0) return;
  for (int y = y0 / 2; y < (y0 + h) / 2; ++y) {
    std::memset(p.u + y * p.cStride + x0 / 2, uv, size_t(w / 2));
    std::memset(p.v + y * p.cStride + x0 / 2, vv, size_t(w / 2));
  }
}

void DrawText(const Picture &p, int x, int y, int scale, const std::string &text, uint8_t luma) {
  for (char c : text) {
    if (const auto *g = Glyph(c)) {
      for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col)
          if ((*g)[size_t(row)] & (0x10 >> col))
            FillRect(p, x + col * scale, y + row * scale, scale, scale, luma);
    }
    x += 6 * scale;
  }
}

// One channel's scene in a region of the picture: a drifting gradient, a
// bouncing box, the channel number and the recorder's running time.
// `shrink` is 1 for a full picture and 2 for a quarter of a quad picture.
void DrawScene(const Picture &p, int x0, int y0, int shrink, int channel, int64_t timeUs,
               uint32_t wallSeconds) {
  const int w = kWidth / shrink;
  const int h = kHeight / shrink;
  static const uint8_t tintU[4] = {112, 150, 120, 140};
  static const uint8_t tintV[4] = {140, 112, 100, 150};
  const int phase = int(timeUs / 8000) * (channel + 1);
  std::array<uint8_t, kWidth> columns{};
  for (int x = 0; x < w; ++x) {
    const int v = (x * shrink + phase) % 512;
    columns[size_t(x)] = uint8_t(40 + (v < 256 ? v : 511 - v) / 4);
  }
  for (int y = 0; y < h; ++y) {
    uint8_t *row = p.y + (y0 + y) * p.yStride + x0;
    const int add = (y * shrink) / 12;
    for (int x = 0; x < w; ++x) row[x] = uint8_t(columns[size_t(x)] + add);
  }
  for (int y = 0; y < h / 2; ++y) {
    std::memset(p.u + (y0 / 2 + y) * p.cStride + x0 / 2, tintU[channel & 3], size_t(w / 2));
    std::memset(p.v + (y0 / 2 + y) * p.cStride + x0 / 2, tintV[channel & 3], size_t(w / 2));
  }
  // The box bounces left and right at a channel's own speed.
  const int box = 96 / shrink;
  const int span = w - box;
  const int64_t travel = (timeUs / 1000) * (120 + 40 * channel) / 1000 / shrink;
  const int bx = int(travel % (2 * span));
  const int boxX = bx < span ? bx : 2 * span - bx;
  const int boxY = h / 2 - box / 2 + (channel - 2) * 8 / shrink;
  FillRect(p, x0 + boxX, y0 + boxY, box, box, 210, 255 - tintU[channel & 3],
           255 - tintV[channel & 3]);

  const SYSTEMTIME st = RecorderSecondsToSystemTime(wallSeconds);
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
  char date[32];
  std::snprintf(date, sizeof date, "%04d/%02d/%02d", st.wYear, st.wMonth, st.wDay);
  const int s = 8 / shrink;
  FillRect(p, x0 + s * 2 - s, y0 + s * 2 - s, 6 * s * 3 + s, 9 * s, 16);
  DrawText(p, x0 + s * 2, y0 + s * 2, s, "CH" + std::to_string(channel + 1), 235);
  const int t = 5 / shrink > 0 ? 5 / shrink : 2;
  FillRect(p, x0 + 16 / shrink - t, y0 + h - 10 * t - t, 6 * t * 8 + t, 9 * t, 16);
  DrawText(p, x0 + 16 / shrink, y0 + h - 10 * t, t, clock, 235);
  const int d = 3 / shrink > 0 ? 3 / shrink : 1;
  DrawText(p, x0 + w - 6 * d * 10 - 16 / shrink, y0 + 16 / shrink, d, date, 235);
  // A grey square in each corner, the very edge of the picture: what a
  // view that trims the border leaves out and a whole view keeps.
  const int mark = kCornerMarkPixels / shrink;
  const int corners[4][2] = {{0, 0}, {w - mark, 0}, {0, h - mark}, {w - mark, h - mark}};
  for (int c = 0; c < 4; ++c)
    FillRect(p, x0 + corners[c][0], y0 + corners[c][1], mark, mark, kCornerMarkLuma[c], 128, 128);
}

struct CodecDeleter {
  void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// One encoder per recorded channel: each channel is a stream of its own,
// decodable from any of its key pictures.
class ChannelEncoder {
 public:
  // qscale: 0 for the usual quality, else the quantiser asked for.
  bool Open(SampleOptions::Codec codec, int fps, int keyInterval, int qscale, std::string *error) {
    m_codec = codec;
    m_keyInterval = keyInterval;
    const AVCodec *enc = avcodec_find_encoder(
        codec == SampleOptions::Codec::Mjpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4);
    if (!enc) {
      if (error) *error = "libavcodec has no MPEG-4 / MJPEG encoder";
      return false;
    }
    m_ctx.reset(avcodec_alloc_context3(enc));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_ctx || !m_frame || !m_packet) return false;
    AVCodecContext *c = m_ctx.get();
    c->width = kWidth;
    c->height = kHeight;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->pix_fmt = codec == SampleOptions::Codec::Mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    c->gop_size = keyInterval;
    c->max_b_frames = 0;
    c->thread_count = 1;
    c->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
    c->global_quality = FF_QP2LAMBDA * (qscale > 0                             ? qscale
                                        : codec == SampleOptions::Codec::Mjpeg ? 8
                                                                               : 5);
    if (avcodec_open2(c, enc, nullptr) < 0) {
      if (error) *error = "Cannot open the picture encoder";
      return false;
    }
    m_frame->format = c->pix_fmt;
    m_frame->width = kWidth;
    m_frame->height = kHeight;
    if (av_frame_get_buffer(m_frame.get(), 32) < 0) return false;
    return true;
  }

  Picture Canvas() {
    av_frame_make_writable(m_frame.get());
    return Picture{m_frame->data[0], m_frame->data[1], m_frame->data[2], m_frame->linesize[0],
                   m_frame->linesize[1]};
  }

  // Encodes the canvas; out receives the coded picture, key whether it is
  // a key picture.
  bool Encode(std::vector<uint8_t> &out, bool &key, std::string *error) {
    m_frame->pts = m_index;
    m_frame->pict_type = (m_index % m_keyInterval == 0) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    ++m_index;
    if (avcodec_send_frame(m_ctx.get(), m_frame.get()) < 0 ||
        avcodec_receive_packet(m_ctx.get(), m_packet.get()) < 0) {
      if (error) *error = "Encoding a picture failed";
      return false;
    }
    out.assign(m_packet->data, m_packet->data + m_packet->size);
    key = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(m_packet.get());
    if (out.size() > kMaxPictureBytes) {
      if (error) *error = "A coded picture is larger than a recorder record may be";
      return false;
    }
    return true;
  }

 private:
  SampleOptions::Codec m_codec = SampleOptions::Codec::Mpeg4;
  int m_keyInterval = 16;
  int64_t m_index = 0;
  CodecPtr m_ctx;
  FramePtr m_frame;
  PacketPtr m_packet;
};

struct Slot {
  int64_t timeUs;
  int channel;     // -1: audio block
  int64_t number;  // picture or block number of its stream
};

void MakeAudioBlock(int64_t block, bool silent, std::vector<uint8_t> &out) {
  out.resize(size_t(kAudioFramesPerBlock) * 4);
  for (int i = 0; i < kAudioFramesPerBlock; ++i) {
    const int64_t n = block * kAudioFramesPerBlock + i;
    const int64_t msInSecond = (n % kAudioRate) * 1000 / kAudioRate;
    int16_t left = 0, right = 0;
    if (!silent) {
      // A soft tone, with a higher beep at the start of every second.
      const double f = msInSecond < 100 ? 880.0 : 440.0;
      const double a = msInSecond < 100 ? 6000.0 : 2500.0;
      left = int16_t(std::lround(a * std::sin(2.0 * M_PI * f * double(n) / kAudioRate)));
      right = int16_t(std::lround(a * std::sin(2.0 * M_PI * f * 1.5 * double(n) / kAudioRate)));
    }
    StoreU16(out.data() + 4 * i, uint16_t(left));
    StoreU16(out.data() + 4 * i + 2, uint16_t(right));
  }
}

// Buffers the data area and writes it in large pieces.
class DataWriter {
 public:
  DataWriter(ImageFile &file, uint64_t dataBase) : m_file(file), m_base(dataBase) {
    m_buffer.reserve(kChunk);
  }
  uint64_t Append(const std::vector<uint8_t> &record) {
    const uint64_t offset = m_size;
    m_buffer.insert(m_buffer.end(), record.begin(), record.end());
    m_size += record.size();
    if (m_buffer.size() >= kChunk) Flush();
    return offset;
  }
  bool Flush() {
    if (!m_buffer.empty() && !m_file.WriteAt(m_base + m_flushed, m_buffer.data(), m_buffer.size()))
      m_ok = false;
    m_flushed += m_buffer.size();
    m_buffer.clear();
    return m_ok;
  }
  uint64_t Size() const { return m_size; }
  bool Ok() const { return m_ok; }

 private:
  static constexpr size_t kChunk = 8 << 20;
  ImageFile &m_file;
  uint64_t m_base;
  uint64_t m_size = 0;
  uint64_t m_flushed = 0;
  std::vector<uint8_t> m_buffer;
  bool m_ok = true;
};

std::vector<EventRecord> MakeEvents(const SampleOptions &o, Random &rng) {
  std::vector<EventRecord> events;
  static const int kCycle[] = {3, 5, 4, 3, 5};
  for (int i = 0; i < o.events; ++i) {
    EventRecord e;
    e.reserved = uint8_t(rng.Next());
    int kind;
    if (i == 0)
      kind = 2;  // Power On
    else if (i == 1)
      kind = 1;  // Rec Start
    else if (i < 7)
      kind = kCycle[i - 2];
    else
      kind = 1 + rng.Below(5);
    e.kindWord = uint16_t((kind << 4) | rng.Below(16));
    e.channel = uint8_t(i < 2 ? 1 : 1 + rng.Below(4));
    const int64_t at =
        i < 2 ? 0 : int64_t(o.durationSeconds) * i / std::max(1, o.events) + rng.Below(3);
    e.time = uint32_t(o.startSeconds + std::min<int64_t>(at, std::max(0, o.durationSeconds - 1)));
    events.push_back(e);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const EventRecord &a, const EventRecord &b) { return a.time < b.time; });
  return events;
}

}  // namespace

namespace {

// The timeline of a recording: pictures of each channel at its frame rate,
// staggered and jittered as a recorder's capture would be, and audio blocks
// on channel 0, in recording order.
std::vector<Slot> PlanSlots(const SampleOptions &o, Random &rng) {
  std::vector<Slot> slots;
  const int channels = o.quad ? 1 : 4;
  const int64_t durationUs = int64_t(o.durationSeconds) * 1000000;
  const int64_t intervalUs = 1000000 / o.fps;
  for (int c = 0; c < channels; ++c) {
    for (int64_t k = 0;; ++k) {
      const int64_t jitter = int64_t(rng.Below(4001)) - 2000;
      const int64_t t = k * 1000000 / o.fps + c * intervalUs / channels + (k ? jitter : 0);
      if (k * 1000000 / o.fps >= durationUs) break;
      slots.push_back(Slot{std::max<int64_t>(t, 0), c, k});
    }
  }
  if (o.audio)
    for (int64_t j = 0; j * kAudioBlockUs < durationUs; ++j)
      slots.push_back(Slot{j * kAudioBlockUs, -1, j});
  std::stable_sort(slots.begin(), slots.end(), [](const Slot &a, const Slot &b) {
    if (a.timeUs != b.timeUs) return a.timeUs < b.timeUs;
    return a.channel > b.channel;  // pictures before audio at the same moment
  });
  return slots;
}

// Encodes one recording's records into the data area from its first byte
// on, and gives its entries: the played ones, then the 300 the state counts
// but no reader plays.
bool WriteRecording(const SampleOptions &o, int qscale, const std::vector<Slot> &slots,
                    ImageFile &file, uint64_t dataBase, std::vector<IndexEntry> &entries,
                    uint64_t &dataBytes, SampleSummary &summary, std::string *error) {
  // Recorder seconds of a moment of the recording, the gap's jump included.
  const int64_t gapAtUs =
      int64_t(o.gapAtSeconds < 0 ? o.durationSeconds / 2 : o.gapAtSeconds) * 1000000;
  auto wallOf = [&](int64_t timeUs) {
    return uint32_t(o.startSeconds + timeUs / 1000000 + (timeUs >= gapAtUs ? o.gapSeconds : 0));
  };
  const int channels = o.quad ? 1 : 4;
  const int keyInterval = o.keyInterval > 0 ? o.keyInterval : 2 * o.fps;
  const bool mjpeg = o.codec == SampleOptions::Codec::Mjpeg;
  const int64_t durationUs = int64_t(o.durationSeconds) * 1000000;
  const int64_t intervalUs = 1000000 / o.fps;

  std::vector<ChannelEncoder> encoders(static_cast<size_t>(channels));
  for (auto &e : encoders)
    if (!e.Open(o.codec, o.fps, keyInterval, qscale, error)) return false;

  DataWriter data(file, dataBase);
  entries.clear();
  entries.reserve(slots.size() + size_t(kUnplayedTailEntries));
  std::vector<uint8_t> record;
  const int8_t keyType = mjpeg ? (o.altTypes ? kTypeMjpegKeyAlt : kTypeMjpegKey)
                               : (o.altTypes ? kTypeKeyPictureAlt : kTypeKeyPicture);
  const int8_t predictedType = o.altTypes ? kTypePictureAlt : kTypePicture;

  // Delays: from one picture to the next picture, and from one audio block
  // to the next, in whole milliseconds that add up without drift.
  auto nextTimeOfKind = [&](size_t i) -> int64_t {
    const bool audio = slots[i].channel < 0;
    for (size_t j = i + 1; j < slots.size(); ++j)
      if ((slots[j].channel < 0) == audio) return slots[j].timeUs;
    return audio ? slots[i].timeUs + kAudioBlockUs : slots[i].timeUs + intervalUs / channels;
  };

  // The loop: pictures per channel and audio blocks it holds, and the
  // records made for it, by stream and number.
  int64_t loopPictures = 0, loopBlocks = 0;
  if (o.loopSeconds > 0) {
    loopPictures = int64_t(o.loopSeconds) * o.fps;
    loopPictures = (loopPictures + keyInterval - 1) / keyInterval * keyInterval;
    loopBlocks = std::max<int64_t>(1, loopPictures * 1000000 / o.fps / kAudioBlockUs);
  }
  std::vector<std::vector<IndexEntry>> loopRecords(size_t(channels) + 1);

  for (size_t i = 0; i < slots.size(); ++i) {
    const Slot &s = slots[i];
    const uint32_t wall = wallOf(s.timeUs);
    IndexEntry e;
    e.time = wall;
    e.delayMs = uint16_t(std::clamp<int64_t>(nextTimeOfKind(i) / 1000 - s.timeUs / 1000, 0, 65535));
    std::vector<IndexEntry> &loop = loopRecords[size_t(s.channel + 1)];
    const int64_t loopLength = s.channel < 0 ? loopBlocks : loopPictures;
    if (loopLength > 0 && s.number >= loopLength) {
      // Behind the loop: the record of the same place in it.
      const IndexEntry &made = loop[size_t(s.number % loopLength)];
      e.type = made.type;
      e.channel = made.channel;
      e.size = made.size;
      e.offset = made.offset;
      if (s.channel < 0) {
        if (o.audioDelayMs >= 0) e.delayMs = uint16_t(o.audioDelayMs);
        ++summary.audioBlocks;
      } else {
        ++summary.pictures;
      }
      entries.push_back(e);
      continue;
    }
    if (s.channel < 0) {
      if (o.audioDelayMs >= 0) e.delayMs = uint16_t(o.audioDelayMs);
      MakeAudioBlock(s.number, false, record);
      e.type = kTypeAudio;
      e.channel = 0;
      ++summary.audioBlocks;
    } else {
      ChannelEncoder &enc = encoders[size_t(s.channel)];
      const Picture p = enc.Canvas();
      // A still scene holds its first moving picture outside the stretch.
      int64_t sceneUs = s.timeUs;
      if (o.motionAtSeconds >= 0) {
        const int64_t fromUs = int64_t(o.motionAtSeconds) * 1000000;
        const int64_t toUs = fromUs + int64_t(std::max(o.motionSeconds, 0)) * 1000000;
        sceneUs = std::clamp<int64_t>(s.timeUs, fromUs, toUs);
      }
      if (o.quad) {
        for (int q = 0; q < 4; ++q)
          DrawScene(p, (q % 2) * kWidth / 2, (q / 2) * kHeight / 2, 2, q, sceneUs, wall);
      } else {
        DrawScene(p, 0, 0, 1, s.channel, sceneUs, wall);
      }
      bool key = false;
      if (!enc.Encode(record, key, error)) return false;
      e.type = (mjpeg || key) ? keyType : predictedType;
      e.channel = uint8_t(s.channel);
      ++summary.pictures;
    }
    e.size = uint32_t(record.size());
    e.offset = data.Append(record);
    summary.largestRecord = std::max(summary.largestRecord, e.size);
    entries.push_back(e);
    if (loopLength > 0) loop.push_back(e);
  }

  // The tail the state counts but no reader plays: silent audio blocks
  // that carry the timeline on.
  const int64_t tailStartUs = durationUs;
  for (int64_t j = 0; j < kUnplayedTailEntries; ++j) {
    const int64_t t = tailStartUs + j * kAudioBlockUs;
    MakeAudioBlock(j, true, record);
    IndexEntry e;
    e.type = kTypeAudio;
    e.channel = 0;
    e.delayMs = uint16_t(o.audioDelayMs >= 0 ? o.audioDelayMs : kAudioBlockUs / 1000);
    e.time = wallOf(t);
    e.size = uint32_t(record.size());
    e.offset = data.Append(record);
    entries.push_back(e);
  }
  if (!data.Flush()) {
    if (error) *error = "Cannot write " + o.outputPath;
    return false;
  }
  dataBytes = data.Size();
  return true;
}

bool WriteIndex(ImageFile &file, const std::vector<IndexEntry> &entries) {
  std::vector<uint8_t> index(entries.size() * kEntryBytes);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].Serialize(index.data() + kEntryBytes * i);
  return file.WriteAt(kIndexAreaOffset, index.data(), index.size());
}

}  // namespace

bool MakeSampleRecording(const SampleOptions &o, SampleSummary &summary, std::string *error) {
  summary = SampleSummary{};
  if (o.durationSeconds < 0 || o.durationSeconds > 24 * 3600 || o.fps < 1 || o.fps > 30 ||
      o.events < 0 || o.events > int(kMaxEventCount) || o.stateSlot < 0 ||
      o.stateSlot >= kStateEntryCount || o.startSeconds < 0 || o.gapSeconds < 0 ||
      o.gapSeconds > 366 * 24 * 3600 || o.gapAtSeconds < -1 || o.audioDelayMs < -1 ||
      o.loopSeconds < 0 || o.loopSeconds > 24 * 3600 || o.imageBytes > (uint64_t{1} << 50) ||
      o.audioDelayMs > 65535 || o.previousSeconds < 0 || o.previousSeconds > 24 * 3600 ||
      o.loseIndexFirst < -1 || o.loseIndexLast < o.loseIndexFirst ||
      o.startSeconds + o.durationSeconds + o.gapSeconds + 60 > int64_t{UINT32_MAX}) {
    if (error) *error = "An option is out of range";
    return false;
  }
  // The earlier recording ends an hour before the asked one starts.
  const int64_t previousStart = o.startSeconds - o.previousSeconds - 3600;
  if (o.previousSeconds > 0 && previousStart < 1) {
    if (error) *error = "The earlier recording would start before 1970";
    return false;
  }
  Random rng(o.seed);
  const std::vector<Slot> slots = PlanSlots(o, rng);
  SampleOptions earlier = o;
  std::vector<Slot> earlierSlots;
  if (o.previousSeconds > 0) {
    earlier.durationSeconds = o.previousSeconds;
    earlier.startSeconds = previousStart;
    earlier.gapSeconds = 0;
    // More pictures a second and fewer key pictures: each differs less from
    // the one before, so its records are smaller than the asked one's.
    earlier.fps = 30;
    earlier.keyInterval = 300;
    Random other(uint64_t(o.seed) ^ 0x5EEDull);
    earlierSlots = PlanSlots(earlier, other);
  }

  const int64_t played = int64_t(slots.size());
  const int64_t indexCount = played + kUnplayedTailEntries;
  const int64_t earlierCount =
      earlierSlots.empty() ? 0 : int64_t(earlierSlots.size()) + kUnplayedTailEntries;
  uint32_t indexAreaMiB = o.indexAreaMiB;
  const uint64_t needMiB =
      (uint64_t(std::max(indexCount, earlierCount)) * kEntryBytes + kMiB - 1) / kMiB;
  if (indexAreaMiB == 0) indexAreaMiB = uint32_t(std::max<uint64_t>(1, needMiB));
  if (indexAreaMiB < needMiB) {
    if (error) *error = "The index area is too small for the recording";
    return false;
  }
  if (o.loseIndexLast >= int64_t(uint64_t(indexAreaMiB) * kMiB / kSectorBytes)) {
    if (error) *error = "The index sectors to lose lie beyond the index area";
    return false;
  }
  const uint64_t dataBase = kIndexAreaOffset + uint64_t(indexAreaMiB) * kMiB;

  ImageFile file;
  if (!file.Create(o.outputPath, error)) return false;

  // The earlier, longer recording first, its records coarser (smaller), so
  // the asked one written over it from the same first byte covers more of
  // its records than of its index: part of what is left behind is
  // overwritten, the rest intact.
  std::vector<IndexEntry> earlierEntries;
  uint64_t earlierBytes = 0;
  if (!earlierSlots.empty()) {
    SampleSummary ignored;
    if (!WriteRecording(earlier, 31, earlierSlots, file, dataBase, earlierEntries, earlierBytes,
                        ignored, error) ||
        !WriteIndex(file, earlierEntries)) {
      if (error && error->empty()) *error = "Cannot write " + o.outputPath;
      return false;
    }
  }
  std::vector<IndexEntry> entries;
  uint64_t dataBytes = 0;
  if (!WriteRecording(o, 0, slots, file, dataBase, entries, dataBytes, summary, error))
    return false;

  // Header, state table, event log, index.
  std::vector<uint8_t> head(kProbeBytes, 0);
  const auto header = MakeDiskHeader(indexAreaMiB);
  std::memcpy(head.data(), header.data(), header.size());
  for (int slot = 0; slot < o.stateSlot; ++slot) {
    // Older states the recorder left behind, not marked valid.
    const auto stale = MakeStateEntry(uint32_t(0x55 + rng.Below(16)), rng.Next() % 100000);
    std::memcpy(head.data() + kStateTableOffset + kStateEntryBytes * uint64_t(slot), stale.data(),
                stale.size());
  }
  const auto state = MakeStateEntry(kValidStateTag, uint64_t(indexCount));
  std::memcpy(head.data() + kStateTableOffset + kStateEntryBytes * uint64_t(o.stateSlot),
              state.data(), state.size());
  const int64_t gapAtUs =
      int64_t(o.gapAtSeconds < 0 ? o.durationSeconds / 2 : o.gapAtSeconds) * 1000000;
  auto events = MakeEvents(o, rng);
  for (EventRecord &e : events)
    if (int64_t(e.time - o.startSeconds) * 1000000 >= gapAtUs) e.time += uint32_t(o.gapSeconds);
  const auto log = MakeEventLogBytes(uint32_t(events.size()), events);
  std::memcpy(head.data() + kEventLogOffset, log.data(), log.size());

  const uint64_t written = std::max(dataBytes, earlierBytes);
  const uint64_t imageBytes = std::max<uint64_t>(
      (dataBase + written + kMiB + kSectorBytes - 1) / kSectorBytes * kSectorBytes,
      (o.imageBytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes);
  bool ok = file.WriteAt(0, head.data(), head.size()) && WriteIndex(file, entries);
  if (ok && o.loseIndexFirst >= 0) {
    // Index sectors lost after writing: zeros where entries were.
    const std::vector<uint8_t> zeros(size_t(o.loseIndexLast - o.loseIndexFirst + 1) * kSectorBytes,
                                     0);
    ok = file.WriteAt(kIndexAreaOffset + uint64_t(o.loseIndexFirst) * kSectorBytes, zeros.data(),
                      zeros.size());
    summary.lostFirstEntry = int64_t(uint64_t(o.loseIndexFirst) * kSectorBytes / kEntryBytes);
    summary.lostLastEntry =
        int64_t((uint64_t(o.loseIndexLast + 1) * kSectorBytes - 1) / kEntryBytes);
  }
  ok = ok && file.SetSize(imageBytes);
  std::string why;
  ok = ok && file.Close(&why);
  if (!ok) {
    if (error) *error = why.empty() ? "Cannot write " + o.outputPath : why;
    return false;
  }
  summary.entries = played;
  summary.indexCount = indexCount;
  summary.dataBytes = dataBytes;
  summary.imageBytes = imageBytes;
  summary.firstTime = entries.empty() ? 0 : entries.front().time;
  summary.lastTime = played ? entries[size_t(played - 1)].time : summary.firstTime;
  // What of the earlier recording is left: its entries behind the asked
  // one's index; intact where no record of the asked one lies over them
  // (those lie back to back from the data area's first byte).
  summary.previousIndexCount = earlierCount;
  for (int64_t n = indexCount; n < earlierCount; ++n) {
    ++summary.staleEntries;
    const IndexEntry &e = earlierEntries[size_t(n)];
    if (e.offset >= dataBytes)
      ++summary.staleIntact;
    else
      ++summary.staleOverwritten;
  }
  return true;
}

}  // namespace orvan::tools
