#include "app/core/viewer_layout.h"

namespace orvan::app {

std::array<RECT, 4> GridRects(int width, int height) {
  const int hw = width / 2;
  const int hh = height / 2;
  std::array<RECT, 4> rects{};
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      rects[2 * r + c] = MakeRect(c * hw, r * hh, c == 0 ? hw : width, r == 0 ? hh : height);
    }
  }
  return rects;
}

int QuadQuarterCode(int x, int y, int width, int height) {
  const int hw = width / 2;
  const int hh = height / 2;
  if (x >= 0 && x < hw && y >= 0 && y < hh) return 6;
  if (x >= hw && x <= width && y >= 0 && y < hh) return 7;
  if (x >= 0 && x < hw && y >= hh && y < height) return 8;
  return 9;
}

IChannelViewer *CViewerLayout::Viewer(int channel) const {
  if (channel < 0 || channel >= 4) return nullptr;
  return m_viewers[channel];
}

void CViewerLayout::LayoutViewers(uint8_t mode) {
  for (IChannelViewer *v : m_viewers)
    if (v) v->Hide();
  if (m_zoomedChannel != -1) {
    if (IChannelViewer *v = Viewer(m_zoomedChannel)) {
      RECT whole = MakeRect(0, 0, m_width, m_height);
      v->Command(kViewerSetRect, &whole);
      v->Show();
    }
    return;
  }
  if (mode == 1) {
    std::array<RECT, 4> rects = GridRects(m_width, m_height);
    for (int ch = 0; ch < 4; ++ch)
      if (m_viewers[ch]) m_viewers[ch]->Command(kViewerSetRect, &rects[ch]);
    for (IChannelViewer *v : m_viewers)
      if (v) v->Show();
  } else if (mode == 0) {
    if (IChannelViewer *v = Viewer(0)) {
      RECT whole = MakeRect(0, 0, m_width, m_height);
      v->Command(kViewerSetRect, &whole);
      v->Show();
    }
  }
}

void CViewerLayout::SendZoomCode(int channel) {
  if (IChannelViewer *v = Viewer(channel)) {
    int32_t code = m_zoomCode;
    v->Command(kViewerDisplayMode, &code);
  }
}

void CViewerLayout::ToggleChannelZoom(int channel) {
  if (m_zoomedChannel != -1) {
    m_zoomCode = 0;
    SendZoomCode(m_zoomedChannel);
    m_zoomedChannel = -1;
    LayoutViewers(m_displayMode);
    return;
  }
  if (channel < 0 || channel >= 4) return;
  m_zoomedChannel = channel;
  m_zoomCode = channel + 1;
  SendZoomCode(channel);
  LayoutViewers(0);
}

void CViewerLayout::SetRecordingLayout(int quad) {
  m_quadRecording = quad;
  if (quad == 1) {
    m_displayMode = 0;
    LayoutViewers(0);
    m_zoomCode = 5;
  } else {
    m_displayMode = 1;
    LayoutViewers(1);
    m_zoomCode = 0;
  }
  SendZoomCode(0);
}

void CViewerLayout::OnViewerDblClick(int channel) {
  if (m_quadRecording != 1) {
    ToggleChannelZoom(channel);
    return;
  }
  if (m_zoomCode == 5)
    m_zoomCode = QuadQuarterCode(m_clickX, m_clickY, m_width, m_height);
  else
    m_zoomCode = 5;
  SendZoomCode(0);
}

void CViewerLayout::OnViewerMouseDown(int button, int x, int y) {
  if (button != 1) return;
  m_clickX = x;
  m_clickY = y;
}

}  // namespace orvan::app
