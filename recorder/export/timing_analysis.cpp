#include "recorder/export/timing_analysis.h"

#include <algorithm>

namespace orvan::recorder {

namespace {

bool IsPicture(const IndexEntry &e) { return IsKnownRecordType(e.type) && e.type != kTypeAudio; }

template <typename T>
void Keep(std::vector<T> &list, int64_t &count, const T &item) {
  ++count;
  if (list.size() < TimingAnalysis::kListLimit) list.push_back(item);
}

}  // namespace

ValueSpread ValueHistogram::Spread() const {
  ValueSpread s;
  for (const auto &[value, n] : m_counts) s.count += n;
  if (s.count == 0) return s;
  s.min = m_counts.begin()->first;
  s.max = m_counts.rbegin()->first;
  // The lower median: the value at position (count - 1) / 2 in order.
  const int64_t middle = (s.count - 1) / 2;
  int64_t seen = 0;
  for (const auto &[value, n] : m_counts) {
    seen += n;
    if (seen > middle) {
      s.median = value;
      break;
    }
  }
  return s;
}

void TimingAnalysis::Survey(const IndexEntry &e, int64_t ms) {
  if (e.channel >= 4 || !IsPicture(e)) return;
  State &s = m_channels[e.channel];
  ++s.result.pictures;
  if (s.lastMs >= 0 && ms >= s.lastMs) s.intervals.Add(ms - s.lastMs);
  s.lastMs = ms;
  const int64_t second = int64_t{e.time};
  if (second != s.second) {
    // A second is counted once the next one begins; the channel's first
    // and last seconds may be cut by the span, so they are not.
    if (s.second >= 0 && !s.firstSecond) s.perSecond.Add(s.inSecond);
    if (s.second >= 0) s.firstSecond = false;
    s.second = second;
    s.inSecond = 0;
  }
  ++s.inSecond;
  if (IsKeyPicture(e.type)) {
    ++s.result.keyPictures;
    if (s.picturesSinceKey >= 0) {
      s.keyPictures.Add(s.picturesSinceKey + 1);
      if (ms >= s.lastKeyMs) s.keyMs.Add(ms - s.lastKeyMs);
    }
    s.picturesSinceKey = 0;
    s.lastKeyMs = ms;
  } else if (s.picturesSinceKey >= 0) {
    ++s.picturesSinceKey;
  }
}

void TimingAnalysis::EndSurvey() {
  for (State &s : m_channels) {
    s.result.picturesPerSecond = s.perSecond.Spread();
    s.result.intervalMs = s.intervals.Spread();
    s.result.keyIntervalPictures = s.keyPictures.Spread();
    s.result.keyIntervalMs = s.keyMs.Spread();
    s.result.gapThresholdMs = 2 * s.result.intervalMs.median;
  }
}

void TimingAnalysis::Row(int64_t entryNumber, const IndexEntry &e, int64_t ms,
                         std::optional<bool> same) {
  if (e.channel >= 4 || !IsPicture(e)) return;
  State &s = m_channels[e.channel];
  ChannelTiming &r = s.result;
  if (s.rowLastMs >= 0) {
    if (ms < s.rowLastMs) {
      Keep(r.backwards, r.backwardCount, TimingStep{entryNumber, s.rowLastMs, ms});
    } else if (r.gapThresholdMs > 0 && ms - s.rowLastMs > r.gapThresholdMs) {
      Keep(r.gaps, r.gapCount, TimingGap{s.rowLastEntry, entryNumber, s.rowLastMs, ms});
    }
  }
  if (same.has_value()) {
    r.repeatsKnown = true;
    if (*same && s.rowLastEntry >= 0) {
      ++r.repeatedPictures;
      if (!s.inRun) {
        s.inRun = true;
        s.run = RepeatRun{s.rowLastEntry, entryNumber, 2, s.rowLastMs, ms};
      } else {
        s.run.lastEntry = entryNumber;
        ++s.run.pictures;
        s.run.toMs = ms;
      }
    } else {
      EndRun(s);
    }
  }
  s.rowLastMs = ms;
  s.rowLastEntry = entryNumber;
}

void TimingAnalysis::EndRun(State &s) {
  if (!s.inRun) return;
  s.inRun = false;
  Keep(s.result.repeats, s.result.repeatRunCount, s.run);
}

void TimingAnalysis::Finish() {
  for (State &s : m_channels) EndRun(s);
}

}  // namespace orvan::recorder
