#include "recorder/layout/read_ahead_source.h"

#include <algorithm>
#include <cstring>

namespace orvan::recorder {

ReadAheadSource::ReadAheadSource(ByteSource &source, size_t windowBytes)
    : m_source(source),
      m_windowCapacity(std::max<size_t>(kSectorBytes, windowBytes / kSectorBytes * kSectorBytes)) {}

bool ReadAheadSource::Seek(uint64_t offset) {
  if (offset % kSectorBytes) return false;
  m_position = offset;
  return true;
}

bool ReadAheadSource::Direct(void *buffer, size_t length, ReadReport &report) {
  ++m_sourceReads;
  const bool ok = m_source.Seek(m_position) && m_source.ReadSectors(buffer, length, report);
  if (ok) {
    m_lastStart = m_position;
    m_lastEnd = m_position + length;
    m_position += length;
  }
  return ok;
}

bool ReadAheadSource::Fill(uint64_t from, size_t length) {
  // What the window holds from `from` on moves to its front; the rest is read.
  size_t kept = 0;
  if (from >= m_windowStart && from < m_windowStart + m_windowBytes) {
    kept = size_t(m_windowStart + m_windowBytes - from);
    std::memmove(m_window.data(), m_window.data() + (from - m_windowStart), kept);
    std::erase_if(m_windowLost, [from](const ByteRange &r) { return r.End() <= from; });
  } else {
    m_windowLost.clear();
  }
  if (m_window.size() < std::max(length, m_windowCapacity))
    m_window.resize(std::max(length, m_windowCapacity));
  const size_t want = std::max(length, m_window.size()) - kept;
  m_windowStart = from;
  m_windowBytes = kept;
  if (from > UINT64_MAX - kept) return false;
  ++m_sourceReads;
  ReadReport report;
  const uint64_t at = from + kept;
  const bool ok = m_source.Seek(at) && m_source.ReadSectors(m_window.data() + kept, want, report);
  if (ok) {
    m_windowBytes = kept + want;
  } else if (!report.lost.empty() && !report.gone && !report.stopped) {
    // Lost sectors stay holes in the window; the rest of it is good.
    const size_t until = report.endsAt == ReadReport::kNoEnd ? want : report.endsAt;
    m_windowBytes = kept + until / kSectorBytes * kSectorBytes;
    for (const ByteRange &r : report.lost)
      if (r.offset < until) m_windowLost.push_back(ByteRange{at + r.offset, r.bytes});
  } else {
    m_windowBytes = kept + report.readBefore / kSectorBytes * kSectorBytes;
    m_noFillBefore = at + want;
  }
  return m_windowBytes >= length;
}

const uint8_t *ReadAheadSource::Serve(uint64_t offset, size_t length) {
  const uint64_t end = offset + length;
  const bool onward = offset >= m_lastStart && offset <= m_lastEnd;
  const int onwardReads = onward ? std::min(m_onward + 1, 2) : 0;
  const bool inWindow = offset >= m_windowStart && end <= m_windowStart + m_windowBytes;
  if (!inWindow && (onwardReads < 2 || offset < m_noFillBefore || !Fill(offset, length))) {
    m_onward = onwardReads;
    return nullptr;
  }
  m_onward = onwardReads;
  m_lastStart = offset;
  m_lastEnd = end;
  m_position = end;
  return m_window.data() + (offset - m_windowStart);
}

bool ReadAheadSource::ReadSectors(void *buffer, size_t length, ReadReport &report) {
  report.Clear();
  if (length % kSectorBytes || m_position > UINT64_MAX - length) {
    report.stopped = true;
    return false;
  }
  const uint64_t offset = m_position;
  const uint8_t *bytes = Serve(offset, length);
  if (!bytes) return Direct(buffer, length, report);
  std::memcpy(buffer, bytes, length);
  // The window's holes are this read's losses, without reading them again.
  for (const ByteRange &r : m_windowLost) {
    if (r.End() <= offset || r.offset >= offset + length) continue;
    const uint64_t from = std::max(r.offset, offset), to = std::min(r.End(), offset + length);
    report.AddLost(from - offset, to - from);
  }
  if (report.lost.empty()) {
    report.readBefore = length;
    return true;
  }
  report.readBefore = size_t(report.lost.front().offset);
  m_position = offset;  // a failed read leaves the position where it was
  return false;
}

bool ReadAheadSource::Read(void *buffer, size_t length, size_t *got) {
  ReadReport report;
  const bool ok = ReadSectors(buffer, length, report);
  if (got) *got = ok ? length : std::min(report.readBefore, length);
  return ok;
}

const uint8_t *ReadAheadSource::View(uint64_t offset, size_t length) {
  if (offset % kSectorBytes || length % kSectorBytes || offset > UINT64_MAX - length)
    return nullptr;
  m_position = offset;
  const int onwardBefore = m_onward;
  const uint8_t *bytes = Serve(offset, length);
  if (bytes) {
    for (const ByteRange &r : m_windowLost)
      if (r.offset < offset + length && offset < r.End()) {
        bytes = nullptr;  // Read() there says what is lost
        break;
      }
  }
  if (!bytes) {
    m_onward = onwardBefore;  // the caller's Read() there counts as the read
    m_position = offset;
  }
  return bytes;
}

}  // namespace orvan::recorder
