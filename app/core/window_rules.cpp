#include "app/core/window_rules.h"

#include <algorithm>
#include <limits>

#include "platform/wintime.h"

namespace orvan::app {

SourceControls ControlsForSource(int source) {
  switch (source) {
    case kHddPlay:
      return {true, false, true, true, true, true, true, true, false, true};
    case kImagePlay:
      return {false, true, false, false, false, false, false, false, true, false};
    default:
      return {false, true, true, true, false, false, true, true, false, true};
  }
}

std::string CaptionFor(TextKey key, int language, const LanguageTexts &texts) {
  if (language == 1) return texts.Get(key);
  return std::string(EnglishText(key));
}

SourceCaptions CaptionsForSource(int source, int language, const LanguageTexts &texts) {
  if (language == 1) {
    switch (source) {
      case kHddPlay:
        return {texts.Get(TextKey::HDD_Play), texts.Get(TextKey::HDD_Play)};
      case kImagePlay:
        return {texts.Get(TextKey::Image_Play), texts.Get(TextKey::File_Select)};
      default:
        return {texts.Get(TextKey::File_Play), texts.Get(TextKey::File_Select)};
    }
  }
  switch (source) {
    case kHddPlay:
      return {"HDD Play", "HDD Select"};
    case kImagePlay:
      return {"Image Play", "File Select"};
    default:
      return {"File Play", "File Select"};
  }
}

int KnobLeftForDrag(int wantedLeft, const PlayBarGeometry &bar) {
  if (wantedLeft <= bar.imageLeft) return bar.imageLeft;
  return std::min(wantedLeft, bar.RightmostKnobLeft());
}

bool TrackReleaseRepositions(int x, const PlayBarGeometry &bar) {
  return x >= 0 && x <= bar.imageWidth;
}

int KnobLeftForTrackRelease(int x, const PlayBarGeometry &bar) {
  return std::min(x + bar.imageLeft, bar.RightmostKnobLeft());
}

uint32_t PickedTimeToRecorderSeconds(int year, int month, int day, int hour, int minute,
                                     int second) {
  const int64_t seconds = CalendarToUnixSeconds(year, month, day, hour, minute, second);
  if (seconds < 0) return 0;
  if (seconds > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(seconds);
}

TypedTime ParseTypedTime(const std::string &typed, int startField, const int current[3]) {
  TypedTime result;
  if (startField < 0 || startField > 2) return result;
  for (int f = 0; f < 3; ++f) result.fields[f] = f < startField ? current[f] : 0;
  int field = startField;
  std::string pending;  // the digits of the field being typed
  for (const char c : typed) {
    if (c == ':') {
      if (pending.empty()) continue;  // after a field that completed itself
      pending.clear();
      ++field;
      continue;
    }
    if (c < '0' || c > '9' || field > 2) return result;
    pending += c;
    const int value = std::stoi(pending);
    const int highest = field == 0 ? 23 : 59;
    if (value > highest) return result;
    result.fields[field] = value;
    if (pending.size() == 2 || value * 10 > highest) {
      pending.clear();
      ++field;
    }
  }
  result.valid = true;
  result.nextField = field;
  return result;
}

FullScreenGeometry FullScreenFor(int screenWidth, int screenHeight) {
  return {screenWidth, screenHeight, std::max(0, screenWidth), std::max(0, screenHeight)};
}

ResizedLayout LayoutForClient(int clientWidth, int clientHeight) {
  const int roomWidth = clientWidth - (kDesignedClientWidth - kDesignedPanelWidth);
  const int roomHeight = clientHeight - (kDesignedClientHeight - kDesignedPanelHeight);
  // The widest 3 : 2 panel that fits, in whole steps of 3 x 2 pixels.
  const int64_t steps = std::min<int64_t>(roomWidth / 3, roomHeight / 2);
  int width = int(steps * 3), height = int(steps * 2);
  if (width < kDesignedPanelWidth || height < kDesignedPanelHeight) {
    width = kDesignedPanelWidth;
    height = kDesignedPanelHeight;
  }
  return {width, height, width - kDesignedPanelWidth, height - kDesignedPanelHeight};
}

}  // namespace orvan::app
