// What the playback threads hand their output to, declared below them so
// that reading and pacing build and run without a display:
//  - a viewer takes frames and answers its queue length (one per channel);
//  - a screen grabber returns the composed picture the user sees, for AVI
//    saving.
// The display layer implements both; tests and the command line may bring
// their own.
#pragma once

#include <cstdint>
#include <vector>

#include "media/frame.h"
#include "media/viewer_command.h"

namespace orvan {

class IViewerSink {
 public:
  virtual ~IViewerSink() = default;
  // Called on the playback thread with kViewerTakeFrame or
  // kViewerQueueLength.
  virtual void Command(int code, void *parameter) = 0;
};

// A picture grabbed from the screen: rows top first, `pitchBytes` apart,
// pixels of `bitsPerPixel` (32: B,G,R,x; 24: B,G,R; 16: RGB 5-6-5).
struct GrabbedPicture {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  int pitchBytes = 0;
  std::vector<uint8_t> bytes;
};

class IScreenGrabber {
 public:
  virtual ~IScreenGrabber() = default;
  // Called on the playback thread, and on the main thread as AVI saving
  // starts. False when nothing could be grabbed.
  virtual bool GrabPicture(GrabbedPicture &picture) = 0;
};

}  // namespace orvan
