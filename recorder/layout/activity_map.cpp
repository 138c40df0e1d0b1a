#include "recorder/layout/activity_map.h"

#include "media/frame.h"

#include <algorithm>

namespace orvan::recorder {

CActivityMap::CActivityMap(int64_t entries) : m_entries(std::max<int64_t>(entries, 0)) {
  for (auto &s : m_sums) s.assign(size_t(kBins), Sum{});
}

int CActivityMap::BinOf(int64_t n) const {
  if (m_entries <= 0) return 0;
  return int(std::clamp<int64_t>(n, 0, m_entries - 1) * kBins / m_entries);
}

int64_t CActivityMap::FirstEntryOf(int bin) const {
  return (int64_t(std::clamp(bin, 0, kBins)) * m_entries + kBins - 1) / kBins;
}

void CActivityMap::Add(int64_t n, const IndexEntry &e) {
  if (e.channel >= 4 || n < 0 || n >= m_entries) return;
  if (FrameTypeOfRecord(e.type) != VORN_TESK::FT_PFRAME || e.size > kMaxRecordBytes) return;
  Sum &s = m_sums[e.channel][size_t(BinOf(n))];
  s.bytes += e.size;
  ++s.count;
}

void CActivityMap::Finish(int windowBins) {
  const int half = std::clamp(windowBins, 1, kBins) / 2;
  for (int ch = 0; ch < 4; ++ch) {
    // Sliding sums over the window.
    std::vector<Sum> window(static_cast<size_t>(kBins));
    Sum running;
    for (int b = -half; b < kBins; ++b) {
      if (b + half < kBins) {
        running.bytes += m_sums[ch][size_t(b + half)].bytes;
        running.count += m_sums[ch][size_t(b + half)].count;
      }
      if (b - half - 1 >= 0) {
        running.bytes -= m_sums[ch][size_t(b - half - 1)].bytes;
        running.count -= m_sums[ch][size_t(b - half - 1)].count;
      }
      if (b >= 0) window[size_t(b)] = running;
    }
    std::vector<float> means;
    m_levels[ch].assign(size_t(kBins), -1.0f);
    for (const Sum &s : window)
      if (s.count) means.push_back(float(double(s.bytes) / s.count));
    if (means.empty()) continue;
    std::vector<float> sorted = means;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                     sorted.end());
    const float median = std::max(sorted[sorted.size() / 2], 1.0f);
    for (int b = 0; b < kBins; ++b) {
      const Sum &s = window[size_t(b)];
      if (s.count) m_levels[ch][size_t(b)] = float(double(s.bytes) / s.count) / median;
    }
  }
}

float CActivityMap::Level(int channel, int bin) const {
  if (channel < 0 || channel >= 4 || bin < 0 || bin >= kBins || m_levels[channel].empty())
    return -1.0f;
  return m_levels[channel][size_t(bin)];
}

float CActivityMap::LevelOver(int channel, int64_t first, int64_t count) const {
  if (count <= 0 || m_entries <= 0) return -1.0f;
  const int from = BinOf(first), to = BinOf(first + count - 1);
  double sum = 0;
  int bins = 0;
  for (int b = from; b <= to; ++b) {
    const float level = Level(channel, b);
    if (level >= 0) sum += level, ++bins;
  }
  return bins ? float(sum / bins) : -1.0f;
}

int64_t ReadActivity(ByteSource &disk, const DiskGeometry &geometry,
                     const std::function<bool()> &stop,
                     const std::function<void(CActivityMap map, bool final)> &publish) {
  const int64_t entries = geometry.playEnd;
  if (entries <= 0) return 0;
  const int64_t pieces = (entries + CActivityMap::kPieceEntries - 1) / CActivityMap::kPieceEntries;
  std::vector<uint8_t> buffer(size_t(CActivityMap::kPieceEntries) * kEntryBytes);
  int64_t read = 0;
  // Two seconds of recording per window, from the span's first and last
  // entry times.
  int windowBins = 1;
  {
    IndexEntry first, last;
    if (ReadIndexEntry(disk, 0, first) && ReadIndexEntry(disk, entries - 1, last) &&
        last.time > first.time)
      windowBins = int(std::clamp<int64_t>(
          int64_t(CActivityMap::kBins) * 2 / int64_t(last.time - first.time), 1, 256));
  }
  auto readPiece = [&](int64_t piece, CActivityMap &map) {
    const int64_t first = piece * CActivityMap::kPieceEntries;
    const int64_t count = std::min(CActivityMap::kPieceEntries, entries - first);
    // Whole sectors: the last piece is read rounded up, its tail ignored.
    const size_t bytes =
        size_t((count * int64_t(kEntryBytes) + kSectorBytes - 1) / kSectorBytes * kSectorBytes);
    if (!disk.Seek(IndexEntryPosition(first)) || !disk.Read(buffer.data(), bytes)) return false;
    ++read;
    for (int64_t k = 0; k < count; ++k)
      map.Add(first + k, IndexEntry::Parse(buffer.data() + size_t(k) * kEntryBytes));
    return true;
  };
  for (const int64_t stride : {CActivityMap::kCoarseStride, int64_t{1}}) {
    CActivityMap map(entries);
    for (int64_t piece = 0; piece < pieces; piece += stride) {
      if (stop && stop()) return read;
      // A piece that cannot be read is left out; a disk that stopped
      // answering ends the reading.
      if (!readPiece(piece, map) && disk.Gone()) return read;
    }
    // The coarse pass has one piece in kCoarseStride: its window spans
    // the pieces it leaves out.
    map.Finish(stride == 1 || pieces <= stride
                   ? windowBins
                   : std::max<int>(windowBins, int(CActivityMap::kBins * stride / pieces)));
    map.SetComplete(stride == 1);
    publish(std::move(map), stride == 1);
  }
  return read;
}

}  // namespace orvan::recorder
