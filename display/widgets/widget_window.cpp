#include "display/widgets/widget_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {
constexpr const char *kObjectName = "orvan_widget_window";

// Repaint requests of every window are handed to the widgets together, on
// the GUI thread, at most once per kRepaintInterval: four channels that
// present at their own moments then share one paint pass, whose fixed cost
// (event dispatch, a painter per widget) is as large as its copying. 25 ms
// still gives every picture of a channel playing 25 a second (40 ms apart)
// a pass of its own. While requests keep coming the flush runs as a tick,
// one timer per interval, and the requests join the next tick without
// waking the GUI thread. A tick that finds nothing ends the ticking; the
// next request queues a flush again.
constexpr std::chrono::milliseconds kRepaintInterval{25};

struct RepaintHub {
  std::mutex lock;                                  // guards the fields below
  std::vector<CWidgetWindow *> pending;             // windows with a gathered area
  bool scheduled = false;                           // a flush is queued, or timed, ...
  QCoreApplication *scheduledIn = nullptr;          // ... in this application's loop
  std::chrono::steady_clock::time_point lastFlush;  // GUI thread only
};

RepaintHub &Hub() {
  static RepaintHub hub;
  return hub;
}
}  // namespace

void CWidgetWindow::FlushRepaints() {
  RepaintHub &hub = Hub();
  const auto now = std::chrono::steady_clock::now();
  if (now - hub.lastFlush < kRepaintInterval) {
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(kRepaintInterval - (now - hub.lastFlush));
    QTimer::singleShot(wait, QCoreApplication::instance(), &CWidgetWindow::FlushRepaints);
    return;
  }
  std::vector<CWidgetWindow *> windows;
  {
    std::lock_guard<std::mutex> hold(hub.lock);
    windows.swap(hub.pending);
    if (windows.empty()) {
      hub.scheduled = false;
      return;
    }
  }
  hub.lastFlush = now;
  // A window leaves the list (under its lock) before it is destroyed, on
  // this thread; none goes away while these run.
  for (CWidgetWindow *window : windows) window->UpdateGathered();
  // The next tick; requests until then stay gathered without a wake-up.
  QTimer::singleShot(kRepaintInterval, QCoreApplication::instance(), &CWidgetWindow::FlushRepaints);
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

CWidgetWindow::~CWidgetWindow() {
  m_window.SetRepaintSink(nullptr);  // no request comes after this
  RepaintHub &hub = Hub();
  std::lock_guard<std::mutex> hold(hub.lock);
  hub.pending.erase(std::remove(hub.pending.begin(), hub.pending.end(), this), hub.pending.end());
}

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
  QCoreApplication *app = QCoreApplication::instance();
  RepaintHub &hub = Hub();
  bool schedule = false;
  {
    std::lock_guard<std::mutex> hold(hub.lock);
    hub.pending.push_back(this);
    // A flush queued in an application that has since gone never comes.
    if (app && (!hub.scheduled || hub.scheduledIn != app)) {
      hub.scheduled = true;
      hub.scheduledIn = app;
      schedule = true;
    }
  }
  if (schedule) QMetaObject::invokeMethod(app, &CWidgetWindow::FlushRepaints, Qt::QueuedConnection);
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
