#include "display/widgets/viewer.h"

#include <QMouseEvent>

#include <cstring>

#include "display/filter_object.h"
#include "display/filter_object_killer.h"
#include "display/widgets/viewer_panel.h"
#include "display/widgets/widget_window.h"
#include "platform/wintime.h"

namespace {

TMouseButton ButtonOf(const QMouseEvent *e) {
  switch (e->button()) {
    case Qt::RightButton:
      return mbRight;
    case Qt::MiddleButton:
      return mbMiddle;
    default:
      return mbLeft;
  }
}

TShiftState ShiftOf(const QMouseEvent *e) {
  TShiftState s = 0;
  const Qt::KeyboardModifiers m = e->modifiers();
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  const Qt::MouseButtons b = e->buttons();
  if (b & Qt::LeftButton) s |= ssLeft;
  if (b & Qt::RightButton) s |= ssRight;
  if (b & Qt::MiddleButton) s |= ssMiddle;
  if (e->type() == QEvent::MouseButtonDblClick) s |= ssDouble;
  return s;
}

void StyleLabel(QLabel *label) {
  // Sunken border, no background, lime 10-point text.
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAutoFillBackground(false);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->setStyleSheet(QStringLiteral("color: #00FF00; background: transparent;"));
  QFont font = label->font();
  font.setPointSize(10);
  label->setFont(font);
}

// Hands a label's mouse events to a handler; owned by the label.
class LabelMouseForwarder : public QObject {
 public:
  LabelMouseForwarder(QLabel *label, std::function<void(QMouseEvent *)> handler)
      : QObject(label), m_handler(std::move(handler)) {
    label->setMouseTracking(true);
    label->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    switch (event->type()) {
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::MouseButtonRelease:
        m_handler(static_cast<QMouseEvent *>(event));
        return true;
      case QEvent::MouseButtonPress:
        return true;  // kept from the panel beneath
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  std::function<void(QMouseEvent *)> m_handler;
};

void Release(VORN_TESK::tagFrame *&frame) {
  if (frame) VORN_TESK::Frames().Release(frame);
}

}  // namespace

// ---- CViewerImpl

CViewerImpl::CViewerImpl(CViewer *owner, QWidget *parent)
    : m_owner(owner), m_panel(new CViewerPanel(parent)), m_caption(new QLabel(m_panel)) {
  m_panel->setContentsMargins(0, 0, 0, 0);
  m_panel->raise();
  m_caption->setGeometry(5, 5, std::max(1, m_panel->width()), 50);
  StyleLabel(m_caption);
  m_caption->hide();
}

CViewerImpl::~CViewerImpl() {
  delete m_caption;
  delete m_panel;
}

// ---- CViewerVornMP4IPCamera

CViewerVornMP4IPCamera::CViewerVornMP4IPCamera(CViewer *owner, QWidget *parent, int32_t reserved,
                                               int channel)
    : CViewerImpl(owner, parent) {
  (void)reserved;
  m_killer = std::make_unique<VornFilterObjKiller>();
  m_filter = new VornFilterObj(channel, CWidgetWindow::WindowOf(parent));

  m_timeLabel = new QLabel(m_panel);
  m_timeLabel->setAlignment(Qt::AlignCenter);
  StyleLabel(m_timeLabel);
  PlaceTimeLabel();
  m_timeLabel->hide();

  m_panel->onClick = [this] { OnClick(); };
  m_panel->onDblClick = [this] { OnDblClick(); };
  m_panel->onMouseDown = [this](QMouseEvent *e) {
    OnMouseDown(ButtonOf(e), ShiftOf(e), int(e->position().x()), int(e->position().y()));
  };
  m_panel->onMouseMove = [this](QMouseEvent *e) {
    OnMouseMove(ShiftOf(e), int(e->position().x()), int(e->position().y()));
  };
  m_panel->onMouseUp = [this](QMouseEvent *e) {
    OnMouseUp(ButtonOf(e), ShiftOf(e), int(e->position().x()), int(e->position().y()));
  };
  // The labels pass on double clicks, moves and releases (not presses or
  // clicks), with positions in their own coordinates.
  for (QLabel *label : {m_caption, m_timeLabel}) {
    new LabelMouseForwarder(label, [this](QMouseEvent *e) {
      const int x = int(e->position().x()), y = int(e->position().y());
      switch (e->type()) {
        case QEvent::MouseButtonDblClick:
          OnDblClick();
          break;
        case QEvent::MouseMove:
          OnMouseMove(ShiftOf(e), x, y);
          break;
        case QEvent::MouseButtonRelease:
          OnMouseUp(ButtonOf(e), ShiftOf(e), x, y);
          break;
        default:
          break;
      }
    });
  }
}

CViewerVornMP4IPCamera::~CViewerVornMP4IPCamera() {
  delete m_timeLabel;
  m_timeLabel = nullptr;
  m_killer->Kill(m_filter);
  m_filter = nullptr;
  m_killer.reset();  // returns when the filter object is gone
}

bool CViewerVornMP4IPCamera::PanelHasWidth() const {
  return m_panel->Window()->GeometryInParent().Width() != 0;
}

void CViewerVornMP4IPCamera::PlaceTimeLabel() {
  m_timeLabel->setGeometry(m_panel->width() - 5 - 120, 5, 120, 20);
}

void CViewerVornMP4IPCamera::Command(int code, void *param) {
  switch (code) {
    case orvan::kViewerSetRect: {
      const RECT &r = *static_cast<const RECT *>(param);
      m_panel->setGeometry(r.left, r.top, r.Width(), r.Height());
      if (CWidgetWindow *binding = CWidgetWindow::Find(m_panel)) binding->Sync();
      m_caption->resize(std::max(1, r.Width()), 50);
      PlaceTimeLabel();
      m_panel->update();
      m_showing = m_panel->isVisible() && m_panel->width() != 0;
      m_filter->SetOutputWindow(m_panel->Window(), m_keepSize);
      break;
    }
    case orvan::kViewerTakeFrame:
      AdmitFrame(static_cast<VORN_TESK::tagFrame *>(param));
      break;
    case orvan::kViewerQueueLength:
      m_filter->GetQueueLength(static_cast<int32_t *>(param));
      break;
    case orvan::kViewerCaptionVisible:
      m_captionVisible = *static_cast<bool *>(param);
      m_caption->setVisible(m_captionVisible);
      break;
    case orvan::kViewerTimeLabel:
      m_timeLabelOn = *static_cast<bool *>(param);
      Command(orvan::kViewerRefreshTime, nullptr);
      break;
    case orvan::kViewerKeepSize:
      m_keepSize = *static_cast<bool *>(param);
      m_filter->SetOutputWindow(m_panel->Window(), m_keepSize);
      break;
    case orvan::kViewerRefreshTime:
      RefreshTimeLabel();
      break;
    case orvan::kViewerDisplayMode:
      m_filter->SetDisplayMode(*static_cast<int32_t *>(param));
      break;
    case orvan::kViewerWholePicture:
      m_filter->SetWholePicture(*static_cast<bool *>(param));
      break;
    default:
      break;
  }
}

void CViewerVornMP4IPCamera::RefreshTimeLabel() {
  if (!m_timeLabelOn) {
    m_timeLabel->hide();
    m_timeLabel->lower();
    return;
  }
  SYSTEMTIME st{};
  m_filter->GetShownTime(&st);
  m_timeLabel->setText(QString::fromStdString(orvan::FormatRecorderTime(st)));
  m_timeLabel->show();
  m_timeLabel->raise();
}

void CViewerVornMP4IPCamera::AdmitFrame(VORN_TESK::tagFrame *frame) {
  if (!frame) return;
  const uint32_t kind = VORN_TESK::FrameKind(frame->dwType);
  if (kind == VORN_TESK::FT_INFO) {
    VORN_TESK::StreamDescription incoming{};
    const bool whole = frame->PayloadBytes() >= sizeof incoming;
    if (whole) std::memcpy(&incoming, frame->Data(), sizeof incoming);
    if (!whole || (m_haveDescription && VORN_TESK::SameDescription(incoming, m_description))) {
      Release(frame);
      return;
    }
    m_description = incoming;
    m_haveDescription = true;
    m_filter->PushFrame(frame);
    m_filter->SetOutputWindow(m_panel->Window(), m_keepSize);
    m_waitForKey = true;
    m_started = false;
    return;
  }
  if (kind == VORN_TESK::FT_AUDIO) {
    int32_t audio = 0;
    m_filter->GetQueueLength(nullptr, &audio);
    if (audio < 5)
      m_filter->PushFrame(frame);
    else
      Release(frame);
    return;
  }
  if (PanelHasWidth() && m_showing) {
    int32_t n = 0;
    m_filter->GetQueueLength(&n);
    if (n > m_highWater) m_overflow = true;
    if (m_overflow) {
      if (n > m_lowWater) {
        m_waitForKey = true;
        if (!m_started.exchange(true)) m_filter->Resume();
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        Release(frame);
        return;
      }
      m_overflow = false;
    }
    if (m_waitForKey) {
      if (kind != VORN_TESK::FT_IFRAME) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        Release(frame);
        return;
      }
      m_waitForKey = false;
    }
    m_filter->PushFrame(frame);
    if (!m_started.exchange(true)) m_filter->Resume();
    return;
  }
  m_showing = false;
  if (m_started.exchange(false)) m_filter->Stop();
  m_dropped.fetch_add(1, std::memory_order_relaxed);
  Release(frame);
  m_waitForKey = true;
}

void CViewerVornMP4IPCamera::Hide() {
  m_panel->hide();
  m_caption->hide();
  m_timeLabel->hide();
  m_showing = false;
  m_started = false;
  m_filter->Stop();
}

void CViewerVornMP4IPCamera::Show() {
  m_panel->show();
  if (CWidgetWindow *binding = CWidgetWindow::Find(m_panel)) binding->Sync();
  m_showing = m_panel->isVisible() && m_panel->width() != 0;
  m_caption->setVisible(m_captionVisible);
  m_timeLabel->setVisible(m_timeLabelOn);
  m_started = true;
  // The layout that showed this viewer may have cleared its place while
  // placing the others (a viewer's old place spans theirs after a zoom or
  // full screen): draw the last picture again, paused or not.
  m_filter->SetOutputWindow(m_panel->Window(), m_keepSize);
  m_filter->Resume();
}

void CViewerVornMP4IPCamera::OnClick() {
  if (m_owner->OnClick) m_owner->OnClick(m_owner);
}

void CViewerVornMP4IPCamera::OnDblClick() {
  if (m_owner->OnDblClick) m_owner->OnDblClick(m_owner);
}

void CViewerVornMP4IPCamera::OnMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (m_owner->OnMouseDown) m_owner->OnMouseDown(m_owner, button, shift, x, y);
}

void CViewerVornMP4IPCamera::OnMouseMove(TShiftState shift, int x, int y) {
  if (m_owner->OnMouseMove) m_owner->OnMouseMove(m_owner, shift, x, y);
}

void CViewerVornMP4IPCamera::OnMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (m_owner->OnMouseUp) m_owner->OnMouseUp(m_owner, button, shift, x, y);
  // Handlers may have shown the labels: only their flags keep them up.
  if (!m_captionVisible) m_caption->hide();
  if (!m_timeLabelOn) m_timeLabel->hide();
}

// ---- CViewer

CViewer::~CViewer() { delete m_impl; }

void CViewer::Create(ViewerKind kind, QWidget *parent, int32_t reserved, int channel) {
  (void)kind;
  delete m_impl;
  m_impl = nullptr;
  m_impl = new CViewerVornMP4IPCamera(this, parent, reserved, channel);
}

void CViewer::Command(int code, void *param) {
  if (m_impl)
    m_impl->Command(code, param);
  else if (code == orvan::kViewerTakeFrame && param) {
    auto *frame = static_cast<VORN_TESK::tagFrame *>(param);
    VORN_TESK::Frames().Release(frame);  // nobody to take it
  }
}

void CViewer::Hide() {
  if (m_impl) m_impl->Hide();
}

void CViewer::Show() {
  if (m_impl) m_impl->Show();
}
