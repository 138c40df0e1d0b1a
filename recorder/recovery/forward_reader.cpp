#include "recorder/recovery/forward_reader.h"

#include <algorithm>

namespace orvan::recorder {

bool ForwardReader::Piece::LostWithin(uint64_t offset, uint64_t length) const {
  for (const ByteRange &r : lost)
    if (r.offset < offset + length && offset < r.End()) return true;
  return false;
}

ForwardReader::ForwardReader(ByteSource &source, uint64_t diskBytes, size_t windowBytes)
    : m_source(source),
      m_diskBytes(diskBytes),
      m_windowBytes(std::max<size_t>(kSectorBytes, windowBytes / kSectorBytes * kSectorBytes)) {}

ForwardReader::Got ForwardReader::Fill(uint64_t from, size_t length) {
  if (m_filled && from < m_start) ++m_backward;
  m_filled = false;
  m_lost.clear();
  m_valid = 0;
  m_endsInWindow = false;
  m_start = from;
  size_t want = std::max(length, m_windowBytes);
  if (m_diskBytes > 0) {
    const uint64_t end = (m_diskBytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
    want = from >= end ? 0 : size_t(std::min<uint64_t>(want, end - from));
  }
  m_filled = true;
  if (want == 0) {
    m_endsInWindow = true;
    return Got::kRead;
  }
  if (m_window.size() < want) m_window.resize(want);
  ReadReport report;
  ++m_reads;
  if (!m_source.Seek(from)) {
    // A position the source refuses: nothing of it can be read.
    m_lost.push_back(ByteRange{0, want});
    m_valid = want;
    m_endsInWindow = m_diskBytes > 0 && from + want >= m_diskBytes;
    return Got::kRead;
  }
  const bool whole = m_source.ReadSectors(m_window.data(), want, report);
  if (report.gone) {
    m_filled = false;
    return Got::kGone;
  }
  if (report.stopped) {
    m_filled = false;
    return Got::kStopped;
  }
  m_valid = whole ? want : std::min(want, report.endsAt);
  m_endsInWindow = m_valid < want || (m_diskBytes > 0 && from + want >= m_diskBytes);
  m_bytesRead += m_valid;
  for (const ByteRange &r : report.lost)
    if (r.offset < m_valid)
      m_lost.push_back(ByteRange{r.offset, std::min(r.End(), m_valid) - r.offset});
  return Got::kRead;
}

ForwardReader::Got ForwardReader::Get(uint64_t offset, size_t length, Piece &piece) {
  piece = Piece{};
  const uint64_t end = offset + length;
  // Served from the window when it holds the bytes, or holds all the disk
  // has of them (the disk ends inside it).
  const bool inside = m_filled && offset >= m_start && (end <= m_start + m_valid || m_endsInWindow);
  if (!inside) {
    const uint64_t from = offset / kSectorBytes * kSectorBytes;
    const uint64_t to = (end + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
    const Got got = Fill(from, size_t(to - from));
    if (got != Got::kRead) return got;
  }
  if (offset >= m_start + m_valid) return Got::kRead;  // past the disk's end
  const size_t at = size_t(offset - m_start);
  piece.data = m_window.data() + at;
  piece.bytes = size_t(std::min<uint64_t>(length, m_valid - at));
  for (const ByteRange &r : m_lost)
    if (r.offset < at + piece.bytes && at < r.End()) {
      const uint64_t b = std::max<uint64_t>(r.offset, at),
                     e = std::min<uint64_t>(r.End(), at + piece.bytes);
      piece.lost.push_back(ByteRange{b - at, e - b});
    }
  return Got::kRead;
}

}  // namespace orvan::recorder
