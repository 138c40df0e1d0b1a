// A viewer that shows its channel's place as a blue panel and gives every
// frame straight back to the frame factory: the window's viewer where the
// display layer's decoding viewers are not part of the build.
#include <QFrame>
#include <QMouseEvent>
#include <QPointer>

#include "app/window/channel_viewers.h"
#include "app/window/picture_control.h"
#include "media/frame.h"

namespace orvan::app {
namespace {

class TViewerPanel : public QFrame {
 public:
  TViewerPanel(QWidget *parent, int channel, const ViewerEvents &events)
      : QFrame(parent), m_channel(channel), m_events(events) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0, 0, 255));
    setPalette(p);
    setObjectName(QStringLiteral("ViewerPanel%1").arg(channel));
  }

 protected:
  void mouseDoubleClickEvent(QMouseEvent *) override {
    if (m_events.dblClick) m_events.dblClick(m_channel);
  }
  void mousePressEvent(QMouseEvent *e) override {
    const QPoint p = e->position().toPoint();
    if (m_events.mouseDown) m_events.mouseDown(m_channel, ButtonCode(e->button()), p.x(), p.y());
  }
  void mouseReleaseEvent(QMouseEvent *e) override {
    const QPoint p = e->position().toPoint();
    if (m_events.mouseUp) m_events.mouseUp(m_channel, ButtonCode(e->button()), p.x(), p.y());
  }

 private:
  int m_channel;
  ViewerEvents m_events;
};

class CBlankViewer final : public CChannelViewer {
 public:
  CBlankViewer(QWidget *livePanel, int channel, const ViewerEvents &events)
      : m_channel(channel), m_panel(new TViewerPanel(livePanel, channel, events)) {
    m_panel->hide();
  }
  ~CBlankViewer() override { delete m_panel.data(); }

  void Command(int code, void *parameter) override {
    switch (code) {
      case kViewerSetRect: {
        const RECT &r = *static_cast<RECT *>(parameter);
        m_panel->setGeometry(r.left, r.top, r.Width(), r.Height());
        break;
      }
      case orvan::kViewerTakeFrame: {
        auto *frame = static_cast<VORN_TESK::tagFrame *>(parameter);
        VORN_TESK::Frames().Release(frame);
        break;
      }
      case orvan::kViewerQueueLength:
        *static_cast<int32_t *>(parameter) = 0;
        break;
      default:
        break;
    }
  }
  void Hide() override { m_panel->hide(); }
  void Show() override { m_panel->show(); }
  int Channel() const override { return m_channel; }

 private:
  int m_channel;
  QPointer<TViewerPanel> m_panel;  // child of the video panel, deleted with the viewer
};

}  // namespace

std::unique_ptr<CChannelViewer> CreateChannelViewer(QWidget *livePanel, int channel,
                                                    const ViewerEvents &events) {
  return std::make_unique<CBlankViewer>(livePanel, channel, events);
}

}  // namespace orvan::app
