// The four channel viewers as the main window holds them: the window's
// side (IChannelViewer: rectangle, zoom code, show, hide) and the playback
// threads' side (IViewerSink: frames and queue length) of one object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/core/viewer_layout.h"
#include "media/playback_sinks.h"

class QWidget;

namespace orvan::app {

// The viewers' mouse reports, on the main thread; channel is the viewer's.
struct ViewerEvents {
  std::function<void(int channel)> dblClick;
  std::function<void(int channel, int button, int x, int y)> mouseDown;
  std::function<void(int channel, int button, int x, int y)> mouseUp;
};

class CChannelViewer : public IChannelViewer, public orvan::IViewerSink {
 public:
  // Command() is called on the main thread for the window's codes and on
  // a playback thread for frames (7) and the queue length (14).
  void Command(int code, void *parameter) override = 0;
  // The widget the viewer draws in, child of the video panel.
  virtual QWidget *Panel() const = 0;
  // Recorder time of the picture last shown; -1 before the first. Main
  // thread.
  virtual int64_t ShownSeconds() const = 0;
  // Every picture handed to the viewer has been drawn and presented (or
  // dropped by the viewer's rules). Main thread.
  virtual bool AllPresented() const = 0;
  // Damaged pictures its decoder met so far, and whether it waits for a
  // clean key picture after one now (the tile is marked meanwhile). Main
  // thread.
  virtual uint64_t DecodeErrors() const = 0;
  virtual bool Damaged() const = 0;
  // Clears the viewer: no picture, no time, nothing redrawn by a layout
  // until the next picture arrives. Main thread, with no player running.
  virtual void Blank() = 0;
};

// Makes the viewer of a channel inside the video panel. Main thread.
std::unique_ptr<CChannelViewer> CreateChannelViewer(QWidget *livePanel, int channel,
                                                    const ViewerEvents &events);

}  // namespace orvan::app
