// A look over a span's index (no records) before it is copied, with the
// copy's own rules and clock: which key picture each channel's media file
// starts at, where the asked span begins in it, whether it carries audio and
// how long it lasts, and the first pass of the timing analysis
// (recorder/export/timing_analysis.h).
//
// A media file starts at its channel's last key picture recorded at or
// before the asked start, so that every picture of the asked span decodes;
// a channel without one starts at its first key picture in the span.
//
// Threads: the caller's (the copy thread, or a command), one at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "recorder/export/span_reader.h"
#include "recorder/export/timing_analysis.h"

namespace orvan::recorder {

struct SpanPlan {
  struct Channel {
    int64_t startKeyEntry = -1;  // -1: no key picture, no file
    int64_t startKeyMs = -1;
    int64_t firstAskedMs = -1;  // the first picture at or after the asked start; -1: none
    int64_t lastPictureMs = -1;
    int64_t pictures = 0;  // from the start key on
    int64_t lastAudioMs = -1;
    bool audio = false;  // audio blocks after the start key
  };
  int64_t firstEntry = 0;  // where the span is read from
  std::array<Channel, 4> channels{};
  TimingAnalysis timing;  // surveyed: medians known, rows not yet seen
};

// leadInMask: channels whose media files need the lead-in (0 for a clip,
// which keeps the block rule).
SpanPlan PlanSpan(ByteSource &disk, const DiskGeometry &geometry, uint32_t startSeconds,
                  int64_t endSeconds, unsigned leadInMask, const std::function<bool()> &stop);

}  // namespace orvan::recorder
