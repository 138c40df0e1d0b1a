#include "tests/support/faulty_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvan::test {

void FaultyDevice::FailBytes(uint64_t from, uint64_t to, int transient) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_bad.push_back(Bad{from, to, transient > 0 ? transient : -1});
}

std::vector<ByteRange> FaultyDevice::Requests() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_requests;
}

platform::DeviceAnswer FaultyDevice::ReadAt(uint64_t offset, void *buffer, size_t length,
                                            const platform::DeviceWait &) {
  m_reads.fetch_add(1);
  platform::DeviceAnswer answer;
  uint64_t firstBad = UINT64_MAX;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_requests.push_back(ByteRange{offset, length});
    for (Bad &b : m_bad) {
      if (b.transient == 0 || b.to <= offset || b.from >= offset + length) continue;
      firstBad = std::min(firstBad, std::max(b.from, offset));
      if (b.transient > 0) --b.transient;
    }
  }
  if (const int error = m_failAll.load()) {
    answer.error = error;
    return answer;
  }
  const uint64_t end = std::min<uint64_t>(offset + length, m_bytes.size());
  uint64_t stop = offset < end ? end : offset;
  if (firstBad != UINT64_MAX) stop = m_whole.load() ? offset : std::min(stop, firstBad / 512 * 512);
  if (stop > offset) std::memcpy(buffer, m_bytes.data() + offset, size_t(stop - offset));
  answer.bytes = size_t(stop > offset ? stop - offset : 0);
  if (firstBad != UINT64_MAX) answer.error = EIO;
  return answer;
}

bool FaultySource::Seek(uint64_t offset) {
  if (offset % kSectorBytes) return false;
  m_position = offset;
  return true;
}

bool FaultySource::Read(void *buffer, size_t length, size_t *got) {
  ReadReport report;
  const bool ok = ReadSectors(buffer, length, report);
  if (got) *got = ok ? length : std::min(report.readBefore, length);
  return ok;
}

bool FaultySource::ReadSectors(void *buffer, size_t length, ReadReport &report) {
  if (!m_reader.Read(m_position, buffer, length, report)) return false;
  m_position += length;
  return true;
}

}  // namespace orvan::test
