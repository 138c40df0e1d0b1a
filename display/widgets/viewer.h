// A viewer is one channel's place on the screen: a panel inside the video
// panel, and a filter object that decodes the channel's frames and draws
// them into it. The playback threads hand it frames (kViewerTakeFrame) and
// ask for its queue length (kViewerQueueLength); the main window moves it, sets its display
// mode and receives its mouse events.
//
// Threads: Create, Hide, Show and every command but kViewerTakeFrame and
// kViewerQueueLength run on the GUI thread; those two on a playback thread.
// The admission flags are atomics; the stream description is touched only
// by the thread issuing kViewerTakeFrame.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "display/display_types.h"
#include "media/frame.h"
#include "media/viewer_command.h"

class CViewer;
class CViewerPanel;
class VornFilterObj;
class VornFilterObjKiller;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift-state bits, as the main window's handlers read them.
enum TShiftStateBits : uint32_t {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64,
};
using TShiftState = uint32_t;

using TNotifyEvent = std::function<void(CViewer *sender)>;
using TMouseEvent = std::function<void(CViewer *sender, TMouseButton, TShiftState, int x, int y)>;
using TMouseMoveEvent = std::function<void(CViewer *sender, TShiftState, int x, int y)>;

// The kinds CViewer::Create takes; the kind chooses nothing, as only one
// exists.
enum ViewerKind : int {
  kViewerVornMP4IPCamera = 2,
};

// Base of the viewer implementations: the owner, the panel and the
// caption label. Every operation but the destructor does nothing here.
class CViewerImpl {
 public:
  CViewerImpl(CViewer *owner, QWidget *parent);
  virtual ~CViewerImpl();
  CViewerImpl(const CViewerImpl &) = delete;
  CViewerImpl &operator=(const CViewerImpl &) = delete;

  virtual void RefreshBorder() {}
  virtual void Command(int code, void *param) { (void)code, (void)param; }
  virtual void Reserved() {}
  virtual void OnClick() {}
  virtual void OnDblClick() {}
  virtual void OnMouseDown(TMouseButton, TShiftState, int, int) {}
  virtual void OnMouseMove(TShiftState, int, int) {}
  virtual void OnMouseUp(TMouseButton, TShiftState, int, int) {}
  virtual void Stop() {}
  virtual void Start() {}
  virtual void Hide() {}
  virtual void Show() {}
  virtual void Snapshot() {}

  CViewerPanel *Panel() const { return m_panel; }
  QLabel *CaptionLabel() const { return m_caption; }

 protected:
  CViewer *m_owner;
  CViewerPanel *m_panel;  // owned (deleted in the destructor)
  QLabel *m_caption;      // on the panel
};

class CViewerVornMP4IPCamera : public CViewerImpl {
 public:
  CViewerVornMP4IPCamera(CViewer *owner, QWidget *parent, int32_t reserved, int channel);
  ~CViewerVornMP4IPCamera() override;

  void RefreshBorder() override {}
  void Command(int code, void *param) override;
  void OnClick() override;
  void OnDblClick() override;
  void OnMouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void OnMouseMove(TShiftState shift, int x, int y) override;
  void OnMouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void Stop() override { Hide(); }
  void Start() override { Show(); }
  void Hide() override;
  void Show() override;

  // Inspection, for tests.
  VornFilterObj *Filter() const { return m_filter; }
  // Coded pictures the admission rules released (diagnostics, any thread).
  uint64_t DroppedFrames() const { return m_dropped.load(std::memory_order_relaxed); }
  QLabel *TimeLabel() const { return m_timeLabel; }
  bool Overflow() const { return m_overflow; }
  bool WaitForKey() const { return m_waitForKey; }
  bool Showing() const { return m_showing; }
  bool Started() const { return m_started; }

 private:
  void AdmitFrame(VORN_TESK::tagFrame *frame);
  void RefreshTimeLabel();
  void PlaceTimeLabel();
  bool PanelHasWidth() const;

  VornFilterObj *m_filter = nullptr;   // owned; deleted through the killer
  std::atomic<uint64_t> m_dropped{0};  // written by the playback thread
  std::unique_ptr<VornFilterObjKiller> m_killer;
  QLabel *m_timeLabel = nullptr;  // on the panel
  std::atomic<bool> m_overflow{false};
  std::atomic<bool> m_waitForKey{false};
  std::atomic<bool> m_showing{true};
  std::atomic<bool> m_started{false};
  const int32_t m_highWater = 90;
  const int32_t m_lowWater = 10;
  std::atomic<bool> m_keepSize{false};
  bool m_captionVisible = false;                 // GUI thread
  bool m_timeLabelOn = false;                    // GUI thread
  VORN_TESK::StreamDescription m_description{};  // kViewerTakeFrame's thread only
  bool m_haveDescription = false;                // kViewerTakeFrame's thread only
};

class CViewer {
 public:
  CViewer() = default;
  ~CViewer();
  CViewer(const CViewer &) = delete;
  CViewer &operator=(const CViewer &) = delete;

  // Replaces the implementation with a new one (only one kind exists; the
  // kind is not looked at). parent: the video panel.
  void Create(ViewerKind kind, QWidget *parent, int32_t reserved, int channel);
  void Command(int code, void *param);
  void Hide();
  void Show();
  CViewerImpl *Impl() const { return m_impl; }

  int32_t m_channel = 0;  // written by the main window after creation
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;

 private:
  CViewerImpl *m_impl = nullptr;  // owned
};
