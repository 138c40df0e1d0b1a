// The window's viewers are the display layer's CViewer objects: each
// decodes its channel and draws it into its panel inside the video panel.
#include "display/filter_object.h"
#include "display/widgets/viewer.h"
#include "display/widgets/viewer_panel.h"

#include "display/filter_object.h"
#include "platform/wintime.h"

#include "app/window/channel_viewers.h"
#include "app/window/picture_control.h"

namespace orvan::app {
namespace {

int ButtonOf(TMouseButton button) {
  switch (button) {
    case mbLeft:
      return kLeftButton;
    case mbRight:
      return kRightButton;
    case mbMiddle:
      return kMiddleButton;
  }
  return kOtherButton;
}

class CDisplayViewer final : public CChannelViewer {
 public:
  CDisplayViewer(QWidget *livePanel, int channel, const ViewerEvents &events) {
    m_viewer.Create(kViewerVornMP4IPCamera, livePanel, 0, channel);
    m_viewer.m_channel = channel;
    m_viewer.OnDblClick = [dbl = events.dblClick](CViewer *sender) {
      if (dbl) dbl(sender->m_channel);
    };
    m_viewer.OnMouseDown = [down = events.mouseDown](CViewer *sender, TMouseButton b, TShiftState,
                                                     int x, int y) {
      if (down) down(sender->m_channel, ButtonOf(b), x, y);
    };
    m_viewer.OnMouseUp = [up = events.mouseUp](CViewer *sender, TMouseButton b, TShiftState, int x,
                                               int y) {
      if (up) up(sender->m_channel, ButtonOf(b), x, y);
    };
  }

  void Command(int code, void *parameter) override { m_viewer.Command(code, parameter); }
  void Hide() override { m_viewer.Hide(); }
  void Show() override { m_viewer.Show(); }
  int Channel() const override { return m_viewer.m_channel; }
  QWidget *Panel() const override {
    return m_viewer.Impl() ? static_cast<QWidget *>(m_viewer.Impl()->Panel()) : nullptr;
  }
  int64_t ShownSeconds() const override {
    auto *camera = dynamic_cast<CViewerVornMP4IPCamera *>(m_viewer.Impl());
    if (!camera || !camera->Filter()) return -1;
    SYSTEMTIME shown{};
    camera->Filter()->GetShownTime(&shown);
    const int64_t seconds = orvan::SystemTimeToRecorderSeconds(shown);
    return seconds > 0 ? seconds : -1;
  }
  bool AllPresented() const override {
    auto *camera = dynamic_cast<CViewerVornMP4IPCamera *>(m_viewer.Impl());
    return !camera || !camera->Filter() || camera->Filter()->AllPresented();
  }
  uint64_t DecodeErrors() const override {
    auto *camera = dynamic_cast<CViewerVornMP4IPCamera *>(m_viewer.Impl());
    return camera && camera->Filter() ? camera->Filter()->DecodeErrors() : 0;
  }
  bool Damaged() const override {
    auto *camera = dynamic_cast<CViewerVornMP4IPCamera *>(m_viewer.Impl());
    return camera && camera->Filter() && camera->Filter()->DecoderDamaged();
  }
  void Blank() override {
    if (auto *camera = dynamic_cast<CViewerVornMP4IPCamera *>(m_viewer.Impl()))
      if (camera->Filter()) camera->Filter()->Blank();
    m_viewer.Command(kViewerRefreshTime, nullptr);
  }

 private:
  CViewer m_viewer;
};

}  // namespace

std::unique_ptr<CChannelViewer> CreateChannelViewer(QWidget *livePanel, int channel,
                                                    const ViewerEvents &events) {
  return std::make_unique<CDisplayViewer>(livePanel, channel, events);
}

}  // namespace orvan::app
