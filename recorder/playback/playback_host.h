// What a playback thread asks of the window that owns it. Every call but
// the play-bar reads comes through TThread::Synchronize and so runs on the
// main thread; the main window implements it, and a headless host serves
// the command line and the tests.
#pragma once

#include <atomic>
#include <string>

namespace orvan::recorder {

// The play bar as the thread sees it. The window keeps these up to date
// (on the main thread) whenever it moves or resizes the bar or the knob;
// the thread reads them without a lock.
struct PlayBarState {
  std::atomic<int> imageLeft{0};    // PlayBarImage left
  std::atomic<int> imageWidth{0};   // PlayBarImage width
  std::atomic<int> buttonWidth{0};  // PlayBarBtn width
  std::atomic<int> buttonLeft{0};   // PlayBarBtn left
  // The part of the recording the track spans, in entries: from viewFirst,
  // viewEntries of them (0: the whole recording). The knob stands at the
  // reader's place inside it, at the track's edge when the place is
  // outside.
  std::atomic<int64_t> viewFirst{0};
  std::atomic<int64_t> viewEntries{0};
};

class IPlaybackHost {
 public:
  virtual ~IPlaybackHost() = default;
  // All on the main thread.
  virtual void SetTimeLabels(const std::string &startText, const std::string &endText) = 0;
  // 1: the recording is one four-way picture; 0: separate channels.
  virtual void SetRecordingLayout(int layout) = 0;
  virtual void CloseSavingIndicator() = 0;
  virtual void ShowMessage(const std::string &text, const std::string &caption) = 0;
  // Moves PlayBarBtn to `left` (and updates PlayBarState::buttonLeft).
  virtual void MovePlayBarButton(int left) = 0;
  // The state of the audio check box.
  virtual bool AudioChecked() = 0;
  // The play bar the thread reads; lives as long as the host.
  virtual PlayBarState &PlayBar() = 0;
  // The disk (or the clip's drive) stopped answering: playing has ended.
  // Once per player. A window says so in its language; this default shows
  // the fixed English text.
  virtual void DiskStoppedAnswering() { ShowMessage(kDiskStoppedAnsweringText, ""); }

  static constexpr const char *kDiskStoppedAnsweringText = "The disk stopped answering";
};

}  // namespace orvan::recorder
