#include "media/audio_timeline.h"

#include <algorithm>

namespace orvan::media {

int64_t AudioTimeline::Place(int64_t earliestMs, int64_t latestMs, int64_t samples,
                             int64_t anchorMs) {
  samples = std::max<int64_t>(samples, 0);
  latestMs = std::max(latestMs, earliestMs);
  anchorMs = std::clamp(anchorMs, earliestMs, latestMs);
  if (!m_started) {
    m_started = true;
    m_nextSample = std::max<int64_t>(SampleOf(anchorMs), 0);
  } else {
    const int64_t blockMs = samples * 1000 / kSampleRate;
    const int64_t endMs = EndMs();
    if (earliestMs - endMs > blockMs) {
      // Recording paused, or blocks were lost: the stream goes on where
      // the index says, never back over what was placed.
      m_gaps.push_back(Gap{endMs, anchorMs});
      m_nextSample = std::max(m_nextSample, SampleOf(anchorMs));
      m_aheadReported = false;
    }
  }
  const int64_t first = m_nextSample;
  const int64_t startMs = EndMs();
  if (startMs - latestMs > kAheadLimitMs) {
    if (!m_aheadReported) m_aheads.push_back(Ahead{earliestMs, startMs - latestMs});
    m_aheadReported = true;
  } else {
    m_aheadReported = false;
  }
  m_nextSample += samples;
  return first;
}

}  // namespace orvan::media
