// Where each recorded audio block goes on a file's timeline.
//
// The recorder's audio is one stream of 16 kHz samples cut into blocks; its
// index gives a block only a whole recorder second (and a pacing delay that
// recorders may leave at 0). Stamping each block with its index time would
// stack the blocks of one second on top of one another. So the audio is one
// continuous stream: each block starts where the one before it ended (its
// sample count), anchored at the time of the first block.
//
// The index still decides where the stream is. A block whose index time
// lies more than one block ahead of where the stream has got to follows a
// pause in recording (or lost blocks): the stream is anchored again at the
// block's own time, and that gap is reported. A stream that has run more
// than kAheadLimitMs past the latest time its index allows (the end of the
// block's recorded second) is reported too, once per stretch, and played on.
//
// Times are milliseconds on the caller's clock; positions are samples from
// the caller's zero. Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

namespace orvan::media {

class AudioTimeline {
 public:
  static constexpr int64_t kSampleRate = 16000;
  static constexpr int64_t kAheadLimitMs = 500;

  // A pause in the audio: the stream stood at fromMs and went on at toMs.
  struct Gap {
    int64_t fromMs = 0;
    int64_t toMs = 0;
  };
  // The stream had run byMs past the latest time the index allows, at the
  // block whose index time (the earliest it can be) is atMs.
  struct Ahead {
    int64_t atMs = 0;
    int64_t byMs = 0;
  };

  // zeroMs: the caller's time of sample 0.
  explicit AudioTimeline(int64_t zeroMs = 0) : m_zeroMs(zeroMs) {}
  // Starts over, with nothing placed.
  void Reset(int64_t zeroMs) { *this = AudioTimeline(zeroMs); }

  // The first sample of a block of `samples` samples whose index time is
  // earliestMs at the earliest and latestMs at the latest (the end of its
  // recorded second, or earliestMs when the time is exact). anchorMs
  // (at least earliestMs) is where the stream starts, or starts again after
  // a gap: a block cannot have been recorded before the entries in front of
  // it in the index, so callers pass the time of the picture before it.
  int64_t Place(int64_t earliestMs, int64_t latestMs, int64_t samples, int64_t anchorMs);
  int64_t Place(int64_t earliestMs, int64_t latestMs, int64_t samples) {
    return Place(earliestMs, latestMs, samples, earliestMs);
  }

  // Where the stream has got to (the end of the last block placed), as a
  // time on the caller's clock; the zero when nothing was placed.
  int64_t EndMs() const { return m_zeroMs + m_nextSample * 1000 / kSampleRate; }
  int64_t EndSample() const { return m_nextSample; }
  bool Started() const { return m_started; }

  const std::vector<Gap> &Gaps() const { return m_gaps; }
  const std::vector<Ahead> &Aheads() const { return m_aheads; }

 private:
  int64_t SampleOf(int64_t ms) const { return (ms - m_zeroMs) * kSampleRate / 1000; }

  int64_t m_zeroMs;
  bool m_started = false;
  int64_t m_nextSample = 0;
  bool m_aheadReported = false;  // in the current stretch of running ahead
  std::vector<Gap> m_gaps;
  std::vector<Ahead> m_aheads;
};

}  // namespace orvan::media
