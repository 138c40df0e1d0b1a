#include "recorder/layout/recording_map.h"

#include <algorithm>
#include <map>
#include <queue>

namespace orvan::recorder {

namespace {

// Two read entries whose times differ by more than the gap bound. Its
// excess is the time it spans beyond what its entries take at the
// recording's usual rate: a gap shows as excess, so the spans with the most
// are halved first, and spans with too little to hold a gap are left alone.
struct Span {
  int64_t from, to;
  uint32_t fromTime, toTime;
  double excessSeconds;
  bool operator<(const Span &o) const { return excessSeconds < o.excessSeconds; }
};

bool HoldsGap(int64_t from, uint32_t fromTime, int64_t to, uint32_t toTime) {
  return to > from && toTime > fromTime && toTime - fromTime > CRecordingMap::kGapSeconds;
}

}  // namespace

void CRecordingMap::Clear() {
  m_entries = 0;
  m_reads = 0;
  m_samples.clear();
  m_gaps.clear();
}

void CRecordingMap::Build(int64_t entries, const TimeOfEntry &timeOf, int samples, int readBudget) {
  Clear();
  if (entries <= 0 || samples < 2 || readBudget < 2) return;
  m_entries = entries;
  std::map<int64_t, uint32_t> known;
  auto read = [&](int64_t n) {
    if (m_reads >= readBudget) return false;
    ++m_reads;
    uint32_t time = 0;
    if (!timeOf(n, time)) return false;
    known[n] = time;
    return true;
  };

  const int64_t count = std::min<int64_t>(samples, entries);
  for (int64_t k = 0; k < count; ++k) read(count > 1 ? (entries - 1) * k / (count - 1) : 0);

  // The usual rate: the median of the samples' entries a second.
  std::vector<double> rates;
  for (auto it = known.begin(); it != known.end() && std::next(it) != known.end(); ++it) {
    const auto next = std::next(it);
    if (next->second > it->second)
      rates.push_back(double(next->first - it->first) / double(next->second - it->second));
  }
  if (rates.empty()) rates.push_back(1.0);
  std::nth_element(rates.begin(), rates.begin() + rates.size() / 2, rates.end());
  const double entriesPerSecond = std::max(rates[rates.size() / 2], 1e-9);

  std::priority_queue<Span> spans;
  auto consider = [&](int64_t a, uint32_t ta, int64_t b, uint32_t tb) {
    if (!HoldsGap(a, ta, b, tb)) return;
    const double excess = double(tb - ta) - double(b - a - 1) / entriesPerSecond;
    if (b - a > 1 && excess < kGapSeconds / 2.0) return;
    spans.push(Span{a, b, ta, tb, excess});
  };
  for (auto it = known.begin(); it != known.end() && std::next(it) != known.end(); ++it)
    consider(it->first, it->second, std::next(it)->first, std::next(it)->second);
  while (!spans.empty() && m_reads < readBudget) {
    const Span s = spans.top();
    spans.pop();
    if (s.to == s.from + 1) {
      m_gaps.push_back(RecordingGap{s.to, s.fromTime, s.toTime});
      continue;
    }
    const int64_t mid = s.from + (s.to - s.from) / 2;
    if (!read(mid)) continue;
    const uint32_t tm = known[mid];
    consider(s.from, s.fromTime, mid, tm);
    consider(mid, tm, s.to, s.toTime);
  }
  // Spans whose last halving fell on neighbours are gaps even when the
  // budget ran out just then.
  while (!spans.empty()) {
    const Span s = spans.top();
    spans.pop();
    if (s.to == s.from + 1) m_gaps.push_back(RecordingGap{s.to, s.fromTime, s.toTime});
  }
  std::sort(m_gaps.begin(), m_gaps.end(),
            [](const RecordingGap &a, const RecordingGap &b) { return a.entry < b.entry; });
  m_samples.reserve(known.size());
  for (const auto &[entry, time] : known) m_samples.push_back(Sample{entry, time});
}

void CRecordingMap::BuildForDisk(ByteSource &disk, const DiskGeometry &geometry,
                                 const std::function<bool()> &stop) {
  Build(geometry.playEnd, [&disk, &stop](int64_t n, uint32_t &time) {
    IndexEntry entry;
    // A disk that stopped answering costs no more reads.
    if ((stop && stop()) || disk.Gone() || !ReadIndexEntry(disk, n, entry)) return false;
    time = entry.time;
    return true;
  });
}

uint32_t CRecordingMap::TimeAt(int64_t n) const {
  if (m_samples.empty()) return 0;
  auto it = std::upper_bound(m_samples.begin(), m_samples.end(), n,
                             [](int64_t v, const Sample &s) { return v < s.entry; });
  if (it == m_samples.begin()) return it->time;
  return std::prev(it)->time;
}

int64_t CRecordingMap::EntryOf(uint32_t time) const {
  if (m_samples.empty()) return -1;
  // The index's times rise with its entries (a clock set back breaks this
  // only locally: the first sample reaching the time is taken).
  auto it = std::find_if(m_samples.begin(), m_samples.end(),
                         [time](const Sample &s) { return s.time >= time; });
  if (it == m_samples.end()) return m_entries;
  if (it == m_samples.begin() || it->time == time) return it->entry;
  const Sample &before = *std::prev(it);
  if (it->entry == before.entry + 1) return it->entry;  // in a gap: where recording resumes
  const double share = double(time - before.time) / double(it->time - before.time);
  return before.entry + int64_t(share * double(it->entry - before.entry));
}

}  // namespace orvan::recorder
