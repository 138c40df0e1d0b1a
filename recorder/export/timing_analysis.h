// The examiner's questions about a span's pictures, per channel: is the
// picture rate constant, how far apart are the key pictures, where are the
// holes, does time ever go backwards, and where does the camera repeat
// itself (a frozen picture, a repeated record).
//
// Two passes over the span, with memory that does not grow with its length
// (histograms of small values, and lists capped at kListLimit items with the
// full count kept):
//   1. Survey(): every picture entry, from the index alone; EndSurvey()
//      then knows the medians.
//   2. Row(): every picture entry again, in the same order, with whether its
//      bytes repeat the channel's previous picture: gaps (longer than twice
//      the median interval), backward steps and runs of repeats are found.
//
// Times are milliseconds on the recording's clock (recorder/export/span_reader.h).
// Threads: one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

// The middle value and the range of a set of whole numbers.
struct ValueSpread {
  int64_t count = 0;  // values seen; the rest is 0 when none
  int64_t median = 0;
  int64_t min = 0;
  int64_t max = 0;
};

// A histogram of whole numbers, kept as value -> count.
class ValueHistogram {
 public:
  void Add(int64_t value) { ++m_counts[value]; }
  ValueSpread Spread() const;

 private:
  std::map<int64_t, int64_t> m_counts;
};

struct TimingGap {
  int64_t afterEntry = 0;  // the picture before the gap
  int64_t entry = 0;       // the picture after it
  int64_t fromMs = 0;
  int64_t toMs = 0;
};

struct TimingStep {  // a picture recorded earlier than the one before it
  int64_t entry = 0;
  int64_t fromMs = 0;  // the picture before
  int64_t toMs = 0;    // this one
};

struct RepeatRun {  // pictures whose bytes equal the first one's
  int64_t firstEntry = 0;
  int64_t lastEntry = 0;
  int64_t pictures = 0;  // the first included
  int64_t fromMs = 0;
  int64_t toMs = 0;
};

struct ChannelTiming {
  int64_t pictures = 0;
  int64_t keyPictures = 0;
  ValueSpread
      picturesPerSecond;   // over the recorder seconds holding pictures, first and last left out
  ValueSpread intervalMs;  // from one picture to the next
  ValueSpread keyIntervalPictures;
  ValueSpread keyIntervalMs;
  int64_t gapThresholdMs = 0;  // twice the median interval
  std::vector<TimingGap> gaps;
  int64_t gapCount = 0;
  std::vector<TimingStep> backwards;
  int64_t backwardCount = 0;
  std::vector<RepeatRun> repeats;
  int64_t repeatRunCount = 0;
  int64_t repeatedPictures = 0;  // pictures equal to the one before them
  bool repeatsKnown = false;     // the pictures' bytes were compared
};

class TimingAnalysis {
 public:
  static constexpr size_t kListLimit = 1000;

  void Survey(const IndexEntry &entry, int64_t timeMs);
  void EndSurvey();
  // sameAsPrevious: unknown when the bytes were not compared.
  void Row(int64_t entryNumber, const IndexEntry &entry, int64_t timeMs,
           std::optional<bool> sameAsPrevious);
  // After the last Row(): ends the runs still open.
  void Finish();

  // The gap before this picture is one (after Row() saw the one before).
  int64_t GapThresholdMs(int channel) const {
    return m_channels[size_t(channel & 3)].result.gapThresholdMs;
  }
  const ChannelTiming &Channel(int channel) const { return m_channels[size_t(channel & 3)].result; }

 private:
  struct State {
    ChannelTiming result;
    // Survey
    ValueHistogram intervals, perSecond, keyPictures, keyMs;
    int64_t lastMs = -1;
    int64_t second = -1;
    int64_t inSecond = 0;
    bool firstSecond = true;
    int64_t picturesSinceKey = -1;  // -1: no key picture yet
    int64_t lastKeyMs = -1;
    // Rows
    int64_t rowLastMs = -1;
    int64_t rowLastEntry = -1;
    RepeatRun run;
    bool inRun = false;
  };
  void EndRun(State &s);

  std::array<State, 4> m_channels{};
};

}  // namespace orvan::recorder
