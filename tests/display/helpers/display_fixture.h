// A video panel with four viewer windows and a display manager, without
// widgets, for the display tests.
#pragma once

#include <QImage>

#include <memory>
#include <mutex>
#include <vector>

#include "display/display_manager.h"
#include "display/video_window.h"

namespace orvan::test {

// Records every repaint request (any thread).
class RecordingSink : public IRepaintSink {
 public:
  void RequestRepaint(const RECT &rect) override;
  int Count() const;
  std::vector<RECT> Requests() const;

 private:
  mutable std::mutex m_lock;  // guards m_requests
  std::vector<RECT> m_requests;
};

// The video panel (root window, width x height, visible) and four child
// windows in its quarters, and the process-wide DisplayManager set to a
// manager capturing the panel. Destroy before another is made.
class DisplayFixture {
 public:
  explicit DisplayFixture(int width = 720, int height = 480);
  ~DisplayFixture();

  CVideoWindow &Panel() { return *m_panel; }
  CVideoWindow &Quarter(int channel) { return *m_quarters[size_t(channel)]; }
  RecordingSink &Sink(int channel) { return m_sinks[size_t(channel)]; }
  RecordingSink &PanelSink() { return m_panelSink; }
  // Lays out channel's window over rect (panel coordinates).
  void Place(int channel, const RECT &rect);
  // The panel as captured by the display manager (null image on failure).
  QImage CapturePanel();

 private:
  std::unique_ptr<CVideoWindow> m_panel;
  std::vector<std::unique_ptr<CVideoWindow>> m_quarters;
  RecordingSink m_sinks[4];
  RecordingSink m_panelSink;
  std::unique_ptr<CDisplayManager> m_manager;
};

}  // namespace orvan::test
