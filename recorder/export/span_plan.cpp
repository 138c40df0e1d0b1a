#include "recorder/export/span_plan.h"

namespace orvan::recorder {

namespace {

// What a channel's pass has seen of its candidate start keys.
struct StartKeys {
  int64_t beforeEntry = -1, beforeMs = -1, beforePictures = 0;  // last key at or before the start
  int64_t afterEntry = -1, afterMs = -1, afterPictures = 0;     // first key after it
  int64_t lastAudioEntry = -1;
};

}  // namespace

SpanPlan PlanSpan(ByteSource &disk, const DiskGeometry &geometry, uint32_t startSeconds,
                  int64_t endSeconds, unsigned leadInMask, const std::function<bool()> &stop) {
  SpanPlan plan;
  SpanReader reader(disk, geometry, /*readRecords=*/false);
  reader.SetLeadIn(leadInMask);
  plan.firstEntry = reader.Start(startSeconds, endSeconds);
  const int64_t startMs = int64_t{startSeconds} * 1000;
  std::array<StartKeys, 4> keys{};
  auto take = [&](const SpanEntry &s) {
    const int c = s.entry.channel & 3;
    SpanPlan::Channel &ch = plan.channels[size_t(c)];
    StartKeys &k = keys[size_t(c)];
    if (s.entry.type == kTypeAudio) {
      k.lastAudioEntry = s.number;
      ch.lastAudioMs = s.timeMs;
      return true;
    }
    if (!IsKnownRecordType(s.entry.type)) return true;
    plan.timing.Survey(s.entry, s.timeMs);
    if (ch.firstAskedMs < 0 && s.timeMs >= startMs) ch.firstAskedMs = s.timeMs;
    ch.lastPictureMs = s.timeMs;
    const bool key = IsKeyPicture(s.entry.type);
    if (key && s.timeMs <= startMs) {
      k.beforeEntry = s.number;
      k.beforeMs = s.timeMs;
      k.beforePictures = 0;
    } else if (key && k.afterEntry < 0) {
      k.afterEntry = s.number;
      k.afterMs = s.timeMs;
    }
    if (k.beforeEntry >= 0) ++k.beforePictures;
    if (k.afterEntry >= 0) ++k.afterPictures;
    return true;
  };
  while (!(stop && stop()) && reader.ReadSector(nullptr, take) == SpanReader::Step::kMore) {
  }
  plan.timing.EndSurvey();
  for (size_t c = 0; c < 4; ++c) {
    SpanPlan::Channel &ch = plan.channels[c];
    const StartKeys &k = keys[c];
    if (k.beforeEntry >= 0) {
      ch.startKeyEntry = k.beforeEntry;
      ch.startKeyMs = k.beforeMs;
      ch.pictures = k.beforePictures;
    } else if (k.afterEntry >= 0) {
      ch.startKeyEntry = k.afterEntry;
      ch.startKeyMs = k.afterMs;
      ch.pictures = k.afterPictures;
    }
    ch.audio = ch.startKeyEntry >= 0 && k.lastAudioEntry > ch.startKeyEntry;
  }
  return plan;
}

}  // namespace orvan::recorder
