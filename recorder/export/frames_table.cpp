#include "recorder/export/frames_table.h"

#include <charconv>
#include <cstring>
#include <optional>

#include "platform/wintime.h"

namespace orvan::recorder {

namespace {

constexpr size_t kFlushBytes = 256 * 1024;
constexpr int64_t kMsPerSecond = 1000;

const char *TypeName(int8_t type) {
  switch (type) {
    case kTypeKeyPicture:
    case kTypeKeyPictureAlt:
      return "key";
    case kTypePicture:
    case kTypePictureAlt:
      return "predicted";
    case kTypeMjpegKey:
    case kTypeMjpegKeyAlt:
      return "MJPEG";
    case kTypeAudio:
      return "audio";
    default:
      return "unknown";
  }
}

void AppendInt(std::string &out, int64_t v) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

void AppendUnsigned(std::string &out, uint64_t v) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

// v / 10^digits with `digits` decimals.
void AppendFixed(std::string &out, int64_t v, int digits, int64_t scale) {
  if (v < 0) {
    out.push_back('-');
    v = -v;
  }
  AppendInt(out, v / scale);
  out.push_back('.');
  char fraction[8];
  int64_t f = v % scale;
  for (int i = digits - 1; i >= 0; --i, f /= 10) fraction[i] = char('0' + f % 10);
  out.append(fraction, size_t(digits));
}

void AppendHex(std::string &out, const std::vector<uint8_t> &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  for (const uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
}

}  // namespace

FramesTable::FramesTable(Format format, Output output, const DiskGeometry &geometry, bool hashes,
                         TimingAnalysis *timing)
    : m_format(format),
      m_output(std::move(output)),
      m_geometry(geometry),
      m_hashes(hashes),
      m_timing(timing) {
  m_buffer.reserve(kFlushBytes + 4096);
}

bool FramesTable::Flush() {
  if (m_failed) return false;
  if (!m_buffer.empty() && !m_output(m_buffer.data(), m_buffer.size())) m_failed = true;
  m_buffer.clear();
  return !m_failed;
}

bool FramesTable::Begin(const std::string &head) {
  if (m_format == Format::kCsv) {
    m_buffer.append(kCsvHeader);
    m_buffer.push_back('\n');
  } else {
    m_buffer.push_back('{');
    if (!head.empty()) {
      m_buffer.append(head);
      m_buffer.push_back(',');
    }
    m_buffer.append("\"frames\":[");
  }
  return Flush();
}

void FramesTable::AppendTime(int64_t ms) {
  const int64_t second = ms / kMsPerSecond;
  if (second != m_cachedSecond) {
    m_cachedSecond = second;
    m_cachedDate = FormatRecorderTime(second);
  }
  m_buffer.append(m_cachedDate);
  char fraction[4] = {'.', char('0' + ms % 1000 / 100), char('0' + ms % 100 / 10),
                      char('0' + ms % 10)};
  m_buffer.append(fraction, 4);
}

bool FramesTable::Row(const SpanEntry &s, const Placement &placement) {
  if (m_failed) return false;
  if (placement.kind == Placement::Kind::kNotExported) return true;
  const IndexEntry &e = s.entry;
  const int c = e.channel & 3;
  const bool unreadable = s.unreadable;
  const bool damaged = unreadable || placement.kind == Placement::Kind::kCorrupt;
  const bool picture = IsKnownRecordType(e.type) && e.type != kTypeAudio;
  const bool json = m_format == Format::kJson;
  Previous &previous = m_previous[size_t(c)];

  std::vector<uint8_t> md5, sha256;
  if (m_hashes && s.record && !unreadable) {
    m_md5.Reset();
    m_md5.Update(s.record, e.size);
    md5 = m_md5.Final();
    m_sha256.Reset();
    m_sha256.Update(s.record, e.size);
    sha256 = m_sha256.Final();
  }
  int sameAsPrevious = -1;  // unknown
  std::optional<int64_t> gapBeforeMs;
  if (picture) {
    if (previous.pictureMs >= 0) gapBeforeMs = s.timeMs - previous.pictureMs;
    if (!damaged && !sha256.empty() && !previous.sha256.empty())
      sameAsPrevious = previous.size == e.size && previous.sha256 == sha256;
    previous.pictureMs = s.timeMs;
    previous.size = e.size;
    if (damaged)
      previous.sha256.clear();
    else
      previous.sha256 = sha256;
    if (m_timing)
      m_timing->Row(s.number, e, s.timeMs,
                    sameAsPrevious < 0 ? std::nullopt : std::optional<bool>(sameAsPrevious == 1));
  }
  if (damaged) ++m_corrupt;
  const bool haveOffset = e.offset <= UINT64_MAX - m_geometry.dataBase;
  const char *type = damaged ? "corrupt" : TypeName(e.type);

  std::string &b = m_buffer;
  if (!json) {
    AppendInt(b, s.number);
    b.push_back(',');
    AppendInt(b, c + 1);
    b.push_back(',');
    b.append(type);
    b.push_back(',');
    AppendFixed(b, s.timeMs, 3, 1000);
    b.push_back(',');
    AppendTime(s.timeMs);
    b.push_back(',');
    AppendInt(b, e.delayMs);
    b.push_back(',');
    if (placement.kind == Placement::Kind::kWritten) AppendFixed(b, placement.fileUs, 6, 1000000);
    b.push_back(',');
    if (haveOffset) AppendUnsigned(b, m_geometry.dataBase + e.offset);
    b.push_back(',');
    AppendUnsigned(b, e.size);
    b.push_back(',');
    AppendHex(b, md5);
    b.push_back(',');
    AppendHex(b, sha256);
    b.push_back(',');
    if (sameAsPrevious >= 0) b.append(sameAsPrevious ? "true" : "false");
    b.push_back(',');
    if (gapBeforeMs) AppendInt(b, *gapBeforeMs);
    b.push_back('\n');
  } else {
    if (m_rows) b.push_back(',');
    b.append("{\"entry\":");
    AppendInt(b, s.number);
    b.append(",\"channel\":");
    AppendInt(b, c + 1);
    b.append(",\"type\":\"");
    b.append(type);
    b.append("\",\"recordType\":");
    AppendInt(b, e.type);
    b.append(",\"seconds\":");
    AppendFixed(b, s.timeMs, 3, 1000);
    b.append(",\"time\":\"");
    AppendTime(s.timeMs);
    b.append("\",\"delayMs\":");
    AppendInt(b, e.delayMs);
    b.append(",\"exportSeconds\":");
    if (placement.kind == Placement::Kind::kWritten)
      AppendFixed(b, placement.fileUs, 6, 1000000);
    else
      b.append("null");
    b.append(",\"offset\":");
    if (haveOffset)
      AppendUnsigned(b, m_geometry.dataBase + e.offset);
    else
      b.append("null");
    b.append(",\"size\":");
    AppendUnsigned(b, e.size);
    b.append(",\"md5\":");
    if (md5.empty()) {
      b.append("null,\"sha256\":null");
    } else {
      b.push_back('"');
      AppendHex(b, md5);
      b.append("\",\"sha256\":\"");
      AppendHex(b, sha256);
      b.push_back('"');
    }
    b.append(",\"sameAsPrevious\":");
    b.append(sameAsPrevious < 0 ? "null" : sameAsPrevious ? "true" : "false");
    b.append(",\"gapBeforeMs\":");
    if (gapBeforeMs)
      AppendInt(b, *gapBeforeMs);
    else
      b.append("null");
    if (damaged)
      b.append(unreadable ? ",\"damage\":\"unreadable\""
                          : ",\"damage\":\"not what its entry says\"");
    b.push_back('}');
  }
  ++m_rows;
  if (b.size() >= kFlushBytes) return Flush();
  return true;
}

bool FramesTable::End(const std::string &tail) {
  if (m_format == Format::kJson) {
    m_buffer.push_back(']');
    if (!tail.empty()) {
      m_buffer.push_back(',');
      m_buffer.append(tail);
    }
    m_buffer.append("}\n");
  }
  return Flush();
}

BackgroundFramesTable::BackgroundFramesTable(FramesTable::Format format, FramesTable::Output output,
                                             const DiskGeometry &geometry, bool hashes,
                                             TimingAnalysis *timing)
    : m_table(format, std::move(output), geometry, hashes, timing), m_hashes(hashes) {}

BackgroundFramesTable::~BackgroundFramesTable() {
  if (!m_worker.joinable()) return;
  {
    std::lock_guard<std::mutex> l(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  m_worker.join();
}

bool BackgroundFramesTable::Begin(const std::string &head) {
  if (!m_table.Begin(head)) return false;
  m_filling.bytes.reserve(kBatchBytes + kMaxRecordBytes);
  m_worker = std::thread([this] { Work(); });
  m_started = true;
  return true;
}

bool BackgroundFramesTable::Row(const SpanEntry &s, const Placement &placement) {
  if (!m_started) return false;
  Item item;
  item.entry = s.entry;
  item.timeMs = s.timeMs;
  item.number = s.number;
  item.unreadable = s.unreadable;
  item.placement = placement;
  // Without digests the table needs no record bytes.
  item.hasRecord = s.record != nullptr && m_hashes;
  item.at = m_filling.bytes.size();
  if (item.hasRecord)
    m_filling.bytes.insert(m_filling.bytes.end(), s.record, s.record + s.entry.size);
  m_filling.items.push_back(item);
  if (m_filling.bytes.size() >= kBatchBytes || m_filling.items.size() >= 65536) Hand();
  return !m_failed.load(std::memory_order_acquire);
}

void BackgroundFramesTable::Hand() {
  if (m_filling.items.empty()) return;
  std::unique_lock<std::mutex> l(m_lock);
  m_changed.wait(l, [this] { return m_waiting < kBatches || m_failed.load(); });
  m_full.push_back(std::move(m_filling));
  ++m_waiting;
  if (!m_spare.empty()) {
    m_filling = std::move(m_spare.back());
    m_spare.pop_back();
  } else {
    m_filling = Batch{};
    m_filling.bytes.reserve(kBatchBytes + kMaxRecordBytes);
  }
  l.unlock();
  m_changed.notify_all();
}

void BackgroundFramesTable::Work() {
  for (;;) {
    Batch batch;
    {
      std::unique_lock<std::mutex> l(m_lock);
      m_changed.wait(l, [this] { return !m_full.empty() || m_stop; });
      if (m_full.empty()) return;
      batch = std::move(m_full.front());
      m_full.pop_front();
    }
    bool ok = true;
    for (const Item &item : batch.items) {
      const SpanEntry s{item.entry, item.timeMs,
                        item.hasRecord ? batch.bytes.data() + item.at : nullptr, item.number,
                        item.unreadable};
      if (!(ok = m_table.Row(s, item.placement))) break;
    }
    batch.items.clear();
    batch.bytes.clear();
    {
      std::lock_guard<std::mutex> l(m_lock);
      if (!ok) m_failed.store(true, std::memory_order_release);
      --m_waiting;
      m_spare.push_back(std::move(batch));
    }
    m_changed.notify_all();
  }
}

bool BackgroundFramesTable::Drain() {
  if (m_worker.joinable()) {
    Hand();
    {
      std::lock_guard<std::mutex> l(m_lock);
      m_stop = true;
    }
    m_changed.notify_all();
    m_worker.join();
  }
  return m_started && !m_failed.load();
}

bool BackgroundFramesTable::End(const std::string &tail) {
  const bool drained = Drain();
  m_started = false;
  return drained && m_table.End(tail);
}

}  // namespace orvan::recorder
