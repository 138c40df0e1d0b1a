// Binds a QWidget to the display layer's window record: the record follows
// the widget's geometry, visibility and screen (GUI thread), and repaint
// requests from render threads become queued update() calls on the widget.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <mutex>

#include "display/video_window.h"

class CWidgetWindow : public QObject, public IRepaintSink {
  Q_OBJECT
 public:
  // The record of a widget, made on first use and owned by the widget. Its
  // parent record is that of the nearest ancestor that has one (none: the
  // widget is the root, the video panel). GUI thread.
  static HWND WindowOf(QWidget *widget);
  // The same without making one.
  static CWidgetWindow *Find(QWidget *widget);

  HWND Window() { return &m_window; }
  // Copies the widget's current geometry, visibility and screen into the
  // record now (Qt delivers move and resize events of hidden widgets late).
  void Sync();

  // Any thread: queues an update of that part of the widget. Requests that
  // come while one is queued join it, those of all windows alike: the GUI
  // thread is woken once for all, and hands them to the widgets at most
  // once per 25 ms.
  void RequestRepaint(const RECT &rect) override;

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  CWidgetWindow(QWidget *widget, CVideoWindow *parent);
  ~CWidgetWindow() override;

  // GUI thread: hands the gathered area to the widget.
  void UpdateGathered();
  // GUI thread: UpdateGathered of every window with an area, unless the
  // last time was less than the interval ago (then again when it is over).
  static void FlushRepaints();

  QWidget *m_widget;
  CVideoWindow m_window;
  // Guards m_repaintArea and m_updateQueued. Never held with the hub's
  // lock (widget_window.cpp), which guards the list of windows to update.
  std::mutex m_repaintLock;
  QRect m_repaintArea;
  bool m_updateQueued = false;
};
