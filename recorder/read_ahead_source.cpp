#include "recorder/read_ahead_source.h"

#include <algorithm>
#include <cstring>

namespace orvan::recorder {

ReadAheadSource::ReadAheadSource(ByteSource &source, size_t windowBytes)
    : m_source(source),
      m_window(std::max<size_t>(kSectorBytes, windowBytes / kSectorBytes * kSectorBytes)) {}

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
  if (length > m_window.size()) m_window.resize(length);
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

bool ReadAheadSource::Read(void *buffer, size_t length, size_t *got) {
  if (got) *got = 0;
  if (length % kSectorBytes || m_position > UINT64_MAX - length) return false;
  const uint64_t end = m_position + length;
  const bool onward = m_position >= m_lastStart && m_position <= m_lastEnd;
  m_onward = onward ? std::min(m_onward + 1, 2) : 0;
  const bool inWindow = m_position >= m_windowStart && end <= m_windowStart + m_windowBytes;
  if (!inWindow && (m_onward < 2 || m_position < m_noFillBefore || !Fill(m_position, length)))
    return Direct(buffer, length, got);
  std::memcpy(buffer, m_window.data() + (m_position - m_windowStart), length);
  if (got) *got = length;
  m_lastStart = m_position;
  m_lastEnd = end;
  m_position = end;
  return true;
}

}  // namespace orvan::recorder
