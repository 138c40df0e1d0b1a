#include "recorder/playback/headless_host.h"

#include <cstdio>

namespace orvan::recorder {

HeadlessHost::HeadlessHost(bool printMessages, int barLeft, int barWidth, int buttonWidth)
    : m_printMessages(printMessages) {
  m_bar.imageLeft.store(barLeft);
  m_bar.imageWidth.store(barWidth);
  m_bar.buttonWidth.store(buttonWidth);
  m_bar.buttonLeft.store(barLeft);
}

void HeadlessHost::SetTimeLabels(const std::string &startText, const std::string &endText) {
  std::lock_guard<std::mutex> l(m_lock);
  m_start = startText;
  m_end = endText;
}

void HeadlessHost::SetRecordingLayout(int layout) {
  std::lock_guard<std::mutex> l(m_lock);
  m_layouts.push_back(layout);
}

void HeadlessHost::CloseSavingIndicator() {
  std::lock_guard<std::mutex> l(m_lock);
  ++m_indicatorCloses;
}

void HeadlessHost::ShowMessage(const std::string &text, const std::string &caption) {
  {
    std::lock_guard<std::mutex> l(m_lock);
    m_messages.push_back(text);
  }
  if (m_printMessages)
    std::fprintf(stderr, "%s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", text.c_str());
}

void HeadlessHost::MovePlayBarButton(int left) {
  m_bar.buttonLeft.store(left);
  std::lock_guard<std::mutex> l(m_lock);
  ++m_knobMoves;
}

void HeadlessHost::DiskStoppedAnswering() {
  std::lock_guard<std::mutex> l(m_lock);
  ++m_diskStopped;
}

int HeadlessHost::DiskStoppedCalls() const {
  std::lock_guard<std::mutex> l(m_lock);
  return m_diskStopped;
}

std::string HeadlessHost::StartLabel() const {
  std::lock_guard<std::mutex> l(m_lock);
  return m_start;
}
std::string HeadlessHost::EndLabel() const {
  std::lock_guard<std::mutex> l(m_lock);
  return m_end;
}
std::vector<int> HeadlessHost::Layouts() const {
  std::lock_guard<std::mutex> l(m_lock);
  return m_layouts;
}
std::vector<std::string> HeadlessHost::Messages() const {
  std::lock_guard<std::mutex> l(m_lock);
  return m_messages;
}
int HeadlessHost::IndicatorCloses() const {
  std::lock_guard<std::mutex> l(m_lock);
  return m_indicatorCloses;
}
int HeadlessHost::KnobMoves() const {
  std::lock_guard<std::mutex> l(m_lock);
  return m_knobMoves;
}

}  // namespace orvan::recorder
