#include "tests/display/helpers/display_fixture.h"

#include <cstring>

namespace orvan::test {

void RecordingSink::RequestRepaint(const RECT &rect) {
  std::lock_guard guard(m_lock);
  m_requests.push_back(rect);
}

int RecordingSink::Count() const {
  std::lock_guard guard(m_lock);
  return int(m_requests.size());
}

std::vector<RECT> RecordingSink::Requests() const {
  std::lock_guard guard(m_lock);
  return m_requests;
}

DisplayFixture::DisplayFixture(int width, int height) : m_panel(std::make_unique<CVideoWindow>()) {
  m_panel->SetGeometry(RECT{0, 0, width, height});
  m_panel->SetVisible(true);
  m_panel->SetRepaintSink(&m_panelSink);
  for (int c = 0; c < 4; ++c) {
    auto w = std::make_unique<CVideoWindow>(m_panel.get());
    w->SetVisible(true);
    w->SetRepaintSink(&m_sinks[c]);
    m_quarters.push_back(std::move(w));
    const int x = (c & 1) ? width / 2 : 0, y = (c & 2) ? height / 2 : 0;
    Place(c, RECT{x, y, x + width / 2, y + height / 2});
  }
  m_manager = std::make_unique<CDisplayManager>(nullptr, m_panel.get());
  DisplayManager = m_manager.get();
}

DisplayFixture::~DisplayFixture() {
  DisplayManager = nullptr;
  m_manager.reset();
}

void DisplayFixture::Place(int channel, const RECT &rect) {
  m_quarters[size_t(channel)]->SetGeometry(rect);
}

QImage DisplayFixture::CapturePanel() {
  int w = 0, h = 0;
  const int bytes = m_manager->Capture(nullptr, 0, &w, &h, nullptr);
  if (bytes <= 0) return {};
  std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
  CaptureFormat format;
  if (m_manager->Capture(buffer.data(), buffer.size(), &w, &h, &format) != 0) return {};
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    std::memcpy(image.scanLine(y), buffer.data() + size_t(y) * w * 4, size_t(w) * 4);
  return image;
}

}  // namespace orvan::test
