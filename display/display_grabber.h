// What the video panel shows, grabbed from the display manager's
// composition surface for AVI saving.
#pragma once

#include "media/playback_sinks.h"

namespace orvan {

class CDisplayGrabber final : public IScreenGrabber {
 public:
  // Called on the playback thread (and on the main thread as AVI saving
  // starts); reads the process-wide display manager under its lock,
  // which the window deletes only after the playback thread has ended.
  bool GrabPicture(GrabbedPicture &picture) override;
};

}  // namespace orvan
