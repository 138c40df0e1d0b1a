// What the video panel shows, grabbed from the display manager's
// composition surface for AVI saving.
#pragma once

#include "media/playback_sinks.h"

namespace orvan::app {

class CDisplayGrabber final : public orvan::IScreenGrabber {
 public:
  // Called on the playback thread; reads the process-wide display manager,
  // which the window deletes only after the playback thread has ended.
  bool GrabPicture(orvan::GrabbedPicture &picture) override;
};

}  // namespace orvan::app
