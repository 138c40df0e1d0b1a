#include "recorder/read_ahead_source.h"

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

bool ReadAheadSource::Direct(void *buffer, size_t length, size_t *got) {
  ++m_sourceReads;
  size_t read = 0;
  const bool ok = m_source.Seek(m_position) && m_source.Read(buffer, length, &read);
  if (got) *got = ok ? length : std::min(read, length);
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
  }
  if (m_window.size() < std::max(length, m_windowCapacity))
    m_window.resize(std::max(length, m_windowCapacity));
  const size_t want = std::max(length, m_window.size()) - kept;
  m_windowStart = from;
  m_windowBytes = kept;
  if (from > UINT64_MAX - kept) return false;
  ++m_sourceReads;
  size_t read = 0;
  const bool ok = m_source.Seek(from + kept) && m_source.Read(m_window.data() + kept, want, &read);
  m_windowBytes = kept + (ok ? want : read / kSectorBytes * kSectorBytes);
  if (!ok) m_noFillBefore = from + kept + want;
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

bool ReadAheadSource::Read(void *buffer, size_t length, size_t *got) {
  if (got) *got = 0;
  if (length % kSectorBytes || m_position > UINT64_MAX - length) return false;
  const uint8_t *bytes = Serve(m_position, length);
  if (!bytes) return Direct(buffer, length, got);
  std::memcpy(buffer, bytes, length);
  if (got) *got = length;
  return true;
}

const uint8_t *ReadAheadSource::View(uint64_t offset, size_t length) {
  if (offset % kSectorBytes || length % kSectorBytes || offset > UINT64_MAX - length)
    return nullptr;
  m_position = offset;
  const int onwardBefore = m_onward;
  const uint8_t *bytes = Serve(offset, length);
  if (!bytes) m_onward = onwardBefore;  // the caller's Read() there counts as the read
  return bytes;
}

}  // namespace orvan::recorder
