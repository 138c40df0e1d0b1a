// Arrangement of the four channel viewers in the video panel and the zoom
// codes they are told to draw: the grid, one viewer, one channel zoomed, and
// the quarters of a recording stored as one four-way picture.
//
// Main thread only. The viewers are reached through IChannelViewer so the
// rules run without a display.
#pragma once

#include <array>
#include <cstdint>

#include "display/display_types.h"
#include "media/viewer_command.h"

namespace orvan::app {

// The main window's side of a viewer.
class IChannelViewer {
 public:
  virtual ~IChannelViewer() = default;
  virtual void Command(int code, void *parameter) = 0;
  virtual void Hide() = 0;
  virtual void Show() = 0;
  virtual int Channel() const = 0;
};

// The four quarters of a panel: channel 0 top-left, 1 top-right, 2
// bottom-left, 3 bottom-right; an odd pixel goes to the right column and
// the bottom row.
std::array<RECT, 4> GridRects(int width, int height);

// The zoom code of a double click at (x, y) on a four-way picture shown
// whole in a panel of width x height: 6 top-left, 7 top-right, 8
// bottom-left, 9 otherwise (also for negative coordinates).
int QuadQuarterCode(int x, int y, int width, int height);

class CViewerLayout {
 public:
  using Viewers = std::array<IChannelViewer *, 4>;

  // displayMode: the process-wide byte, 1 grid, 0 one viewer; it must
  // outlive the layout.
  CViewerLayout(uint8_t &displayMode) : m_displayMode(displayMode) {}

  void SetViewers(const Viewers &viewers) { m_viewers = viewers; }
  void SetPanelSize(int width, int height) {
    m_width = width;
    m_height = height;
  }

  // Mode 1 grid, 0 viewer 0 alone; any other value only hides them. A
  // zoomed channel takes the whole panel whatever the mode.
  void LayoutViewers(uint8_t mode);
  // Zooms the channel, or returns from a zoom whatever channel is given.
  void ToggleChannelZoom(int channel);
  // quad 1: one four-way picture in viewer 0; otherwise four channels.
  void SetRecordingLayout(int quad);

  void OnViewerDblClick(int channel);
  // Buttons: 1 left, 2 right, as the window reports them.
  void OnViewerMouseDown(int button, int x, int y);

  int ZoomedChannel() const { return m_zoomedChannel; }
  int ZoomCode() const { return m_zoomCode; }
  int QuadRecording() const { return m_quadRecording; }
  int ClickX() const { return m_clickX; }
  int ClickY() const { return m_clickY; }

 private:
  void SendZoomCode(int channel);
  IChannelViewer *Viewer(int channel) const;

  uint8_t &m_displayMode;
  Viewers m_viewers{};
  int m_width = 0;
  int m_height = 0;
  int m_zoomedChannel = -1;
  int m_zoomCode = 0;
  int m_quadRecording = 0;
  int m_clickX = 0;
  int m_clickY = 0;
};

}  // namespace orvan::app
