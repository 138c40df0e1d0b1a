#include "recorder/recovery/byte_runs.h"

#include <algorithm>

namespace orvan::recorder {

void ByteRuns::Add(uint64_t begin, uint64_t end, uint32_t time) {
  if (end <= begin) return;
  // The common case: the record lies in, or right behind, the run grown last,
  // and reaches no run after it.
  if (m_last != m_runs.end() && begin >= m_last->second.begin && begin <= m_last->second.end) {
    auto next = std::next(m_last);
    if (end <= m_last->second.end) return;
    if (next == m_runs.end() || end < next->second.begin) {
      m_bytes += end - m_last->second.end;
      m_last->second.end = end;
      m_last->second.endTime = time;
      return;
    }
  }
  Run merged{begin, end, time, time};
  // Every run that overlaps or touches [begin, end) joins it.
  auto it = m_runs.upper_bound(begin);
  if (it != m_runs.begin()) {
    auto prev = std::prev(it);
    if (prev->second.end >= begin) it = prev;
  }
  while (it != m_runs.end() && it->second.begin <= end) {
    const Run &r = it->second;
    if (r.begin <= merged.begin) {
      merged.begin = r.begin;
      merged.beginTime = r.beginTime;
    }
    if (r.end >= merged.end) {
      merged.end = r.end;
      merged.endTime = r.endTime;
    }
    m_bytes -= r.end - r.begin;
    it = m_runs.erase(it);
  }
  m_bytes += merged.end - merged.begin;
  m_last = m_runs.emplace(merged.begin, merged).first;
}

bool ByteRuns::Overlaps(uint64_t begin, uint64_t end) const {
  if (end <= begin || m_runs.empty()) return false;
  auto it = m_runs.upper_bound(begin);
  if (it != m_runs.begin() && std::prev(it)->second.end > begin) return true;
  return it != m_runs.end() && it->second.begin < end;
}

const ByteRuns::Run *ByteRuns::Before(uint64_t offset) const {
  auto it = m_runs.upper_bound(offset);
  while (it != m_runs.begin()) {
    --it;
    if (it->second.end <= offset) return &it->second;
  }
  return nullptr;
}

const ByteRuns::Run *ByteRuns::After(uint64_t offset) const {
  auto it = m_runs.upper_bound(offset);
  return it == m_runs.end() ? nullptr : &it->second;
}

void ByteRuns::ForEachGap(uint64_t from, uint64_t to,
                          const std::function<void(uint64_t, uint64_t)> &gap) const {
  if (to <= from) return;
  uint64_t at = from;
  auto it = m_runs.upper_bound(from);
  if (it != m_runs.begin()) {
    auto prev = std::prev(it);
    at = std::max(at, prev->second.end);
  }
  for (; it != m_runs.end() && at < to; ++it) {
    if (it->second.begin > at) gap(at, std::min(it->second.begin, to));
    at = std::max(at, it->second.end);
  }
  if (at < to) gap(at, to);
}

void ByteRuns::ForEach(const std::function<void(const Run &)> &visit) const {
  for (const auto &[begin, run] : m_runs) visit(run);
}

uint64_t ByteRuns::BytesWithin(uint64_t from, uint64_t to) const {
  if (to <= from) return 0;
  uint64_t uncovered = 0;
  ForEachGap(from, to, [&](uint64_t b, uint64_t e) { uncovered += e - b; });
  return (to - from) - uncovered;
}

}  // namespace orvan::recorder
