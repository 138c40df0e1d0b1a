#include "display/widgets/widget_window.h"

#include <QEvent>
#include <QMetaObject>
#include <QScreen>

namespace {
constexpr const char *kObjectName = "orvan_widget_window";
}

CWidgetWindow *CWidgetWindow::Find(QWidget *widget) {
  if (!widget) return nullptr;
  return widget->findChild<CWidgetWindow *>(QLatin1String(kObjectName), Qt::FindDirectChildrenOnly);
}

HWND CWidgetWindow::WindowOf(QWidget *widget) {
  if (!widget) return nullptr;
  if (CWidgetWindow *existing = Find(widget)) return existing->Window();
  CVideoWindow *parent = nullptr;
  for (QWidget *w = widget->parentWidget(); w; w = w->parentWidget()) {
    if (CWidgetWindow *p = Find(w)) {
      parent = p->Window();
      break;
    }
  }
  return (new CWidgetWindow(widget, parent))->Window();
}

CWidgetWindow::CWidgetWindow(QWidget *widget, CVideoWindow *parent)
    : QObject(widget), m_widget(widget), m_window(parent) {
  setObjectName(QLatin1String(kObjectName));
  widget->installEventFilter(this);
  m_window.SetRepaintSink(this);
  Sync();
}

CWidgetWindow::~CWidgetWindow() { m_window.SetRepaintSink(nullptr); }

void CWidgetWindow::Sync() {
  const QRect g = m_widget->geometry();
  m_window.SetGeometry(RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
  m_window.SetVisible(m_widget->isVisible());
  m_window.SetMonitor(reinterpret_cast<HMONITOR>(m_widget->screen()));
}

void CWidgetWindow::RequestRepaint(const RECT &rect) {
  const QRect area(rect.left, rect.top, rect.Width(), rect.Height());
  {
    std::lock_guard<std::mutex> hold(m_repaintLock);
    m_repaintArea |= area;
    if (m_updateQueued) return;
    m_updateQueued = true;
  }
  // Queued with this record as context: dropped if it is gone first (it
  // goes with its widget).
  QMetaObject::invokeMethod(
      this, [this] { UpdateGathered(); }, Qt::QueuedConnection);
}

void CWidgetWindow::UpdateGathered() {
  QRect area;
  {
    std::lock_guard<std::mutex> hold(m_repaintLock);
    area = m_repaintArea;
    m_repaintArea = QRect();
    m_updateQueued = false;
  }
  if (area.isEmpty()) return;
  m_widget->update(area);
  // Children that paint themselves over this part (the viewers over the
  // panel) show it only when they repaint too.
  for (QWidget *child : m_widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
    const QRect part = area & child->geometry();
    if (child->isVisible() && !part.isEmpty()) child->update(part.translated(-child->pos()));
  }
}

bool CWidgetWindow::eventFilter(QObject *watched, QEvent *event) {
  if (watched == m_widget) {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::ScreenChangeInternal:
        Sync();
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}
