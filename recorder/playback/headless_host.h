// A playback host without a window, for the command line and the tests:
// it keeps what a window would show (time labels, layout, messages, the
// knob's place) and prints messages to stderr when asked to.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "recorder/playback/playback_host.h"

namespace orvan::recorder {

class HeadlessHost : public IPlaybackHost {
 public:
  // A play bar of the main window's proportions.
  explicit HeadlessHost(bool printMessages = false, int barLeft = 10, int barWidth = 700,
                        int buttonWidth = 14);

  void SetTimeLabels(const std::string &startText, const std::string &endText) override;
  void SetRecordingLayout(int layout) override;
  void CloseSavingIndicator() override;
  void ShowMessage(const std::string &text, const std::string &caption) override;
  void MovePlayBarButton(int left) override;
  // Counted, not printed: a command says it in its own report.
  void DiskStoppedAnswering() override;
  bool AudioChecked() override { return m_audio; }
  PlayBarState &PlayBar() override { return m_bar; }

  void SetAudioChecked(bool on) { m_audio = on; }
  // Moves the knob as a user dragging it would.
  void DragKnobTo(int left) { m_bar.buttonLeft.store(left); }

  // Read back; m_lock guards everything below it.
  std::string StartLabel() const;
  std::string EndLabel() const;
  std::vector<int> Layouts() const;
  std::vector<std::string> Messages() const;
  int IndicatorCloses() const;
  int KnobMoves() const;
  int DiskStoppedCalls() const;

 private:
  bool m_printMessages;
  bool m_audio = false;
  PlayBarState m_bar;
  mutable std::mutex m_lock;
  std::string m_start, m_end;
  std::vector<int> m_layouts;
  std::vector<std::string> m_messages;
  int m_indicatorCloses = 0;
  int m_knobMoves = 0;
  int m_diskStopped = 0;
};

}  // namespace orvan::recorder
