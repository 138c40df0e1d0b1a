// The main window's rules that need no widgets: which controls each play
// source offers and how they are captioned, the play bar's knob arithmetic,
// picked date and time to recorder seconds, and the full-screen geometry. The window applies them
// to its widgets.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/language.h"

namespace orvan::app {

enum PlaySourceKind { kHddPlay = 0, kFilePlay = 1, kImagePlay = 2 };

// The controls a play source shows or enables.
struct SourceControls {
  bool deviceComboVisible;
  bool openBtnVisible;
  bool playButtonsEnabled;  // PlayBtn, PauseBtn, ForwardBtn
  bool aviButtonsEnabled;   // SaveAVIBtn, StopAVIBtn
  bool copyEnabled;
  bool searchEnabled;      // DatePicker, TimePicker, SearchBtn, EventBtn
  bool playBarBtnEnabled;  // also its visibility
  bool videoPanelVisible;  // PlayBarImage, LivePanel, the three time labels
  bool videoImageVisible;
  bool fullScreenAndAudioEnabled;
};

// The table for source 0, 1 or 2; any other value gives the File Play row.
SourceControls ControlsForSource(int source);

struct SourceCaptions {
  std::string namePanel;
  std::string deviceGroup;
};

// NamePanel and DeviceGroup captions of a source: fixed English texts for
// language 0, the language file's texts otherwise.
SourceCaptions CaptionsForSource(int source, int language, const LanguageTexts &texts);

// The caption a keyed control shows in a language (English fixed text or
// the file's text).
std::string CaptionFor(TextKey key, int language, const LanguageTexts &texts);

// Where the play bar lies, in the window's client coordinates.
struct PlayBarGeometry {
  int imageLeft;
  int imageWidth;
  int buttonWidth;

  int RightmostKnobLeft() const { return imageLeft + imageWidth - buttonWidth; }
};

// Knob left while dragging, for the left the pointer asks for (the knob's
// left at the press plus the pointer's travel since): the track's left when
// that is at or left of it, else the smaller of it and the rightmost knob
// position.
int KnobLeftForDrag(int wantedLeft, const PlayBarGeometry &bar);

// A release on the track at x (relative to the track) repositions only when
// 0 <= x <= the track's width.
bool TrackReleaseRepositions(int x, const PlayBarGeometry &bar);
// Knob left for such a release: the smaller of x + the track's left and
// the rightmost knob position.
int KnobLeftForTrackRelease(int x, const PlayBarGeometry &bar);

// A time typed into a time field, key by key: digits, with or without
// colons ("094520", "9:45:20", "0945"), filling the fields hour, minute,
// second from `startField` on (the field the typing began in; fields
// before it keep their values, later ones start at 0). A field is complete
// after two digits, after one that no second digit could follow (a 3 to 9
// in the hours, 6 to 9 in the minutes or seconds), or at a colon.
struct TypedTime {
  bool valid = false;  // false: a field out of range, or more than the fields
  int fields[3] = {0, 0, 0};
  int nextField = 0;  // where the next digit goes; 3 when all are complete
};
TypedTime ParseTypedTime(const std::string &typed, int startField, const int current[3]);

// A date and time picked by the user as recorder seconds: the wall-clock
// fields counted from 1970-01-01 00:00 as if they were UTC, which is how the
// recorder counts. Out-of-range results clamp to 0 and UINT32_MAX.
uint32_t PickedTimeToRecorderSeconds(int year, int month, int day, int hour, int minute,
                                     int second);

struct FullScreenGeometry {
  int windowWidth, windowHeight;
  int panelWidth, panelHeight;
};
// The window takes the whole primary screen, and so does the video panel:
// full screen shows only the video (no menu, no status line, no strip of
// background below it).
FullScreenGeometry FullScreenFor(int screenWidth, int screenHeight);

// The designed client area and video panel; the controls right of the
// panel (x from kDesignedPanelRight) and below it (y from
// kDesignedPanelBottom) keep their places relative to its right and bottom
// edges when it grows.
constexpr int kDesignedClientWidth = 956;
constexpr int kDesignedClientHeight = 559;
constexpr int kDesignedPanelLeft = 13;
constexpr int kDesignedPanelTop = 21;
constexpr int kDesignedPanelWidth = 720;
constexpr int kDesignedPanelHeight = 480;
constexpr int kDesignedPanelRight = kDesignedPanelLeft + kDesignedPanelWidth;
constexpr int kDesignedPanelBottom = kDesignedPanelTop + kDesignedPanelHeight;

// The video panel in a client area of this size: as large as the designed
// margins leave room for, at 3 : 2, never smaller than designed. dx and dy
// are how far its right and bottom edges moved.
struct ResizedLayout {
  int panelWidth, panelHeight;
  int dx, dy;
};
ResizedLayout LayoutForClient(int clientWidth, int clientHeight);

}  // namespace orvan::app
