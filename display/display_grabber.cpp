#include "display/display_grabber.h"

#include "display/display_manager.h"

namespace orvan {

bool CDisplayGrabber::GrabPicture(GrabbedPicture &picture) {
  CDisplayManager *manager = DisplayManager;
  if (!manager) return false;
  int width = 0, height = 0;
  const int bytes = manager->Capture(nullptr, 0, &width, &height, nullptr);
  if (bytes <= 0 || width <= 0 || height <= 0) return false;
  picture.bytes.resize(static_cast<size_t>(bytes));
  CaptureFormat format;
  // The panel may have been resized between the two calls: the fill then
  // refuses and nothing is grabbed this time.
  if (manager->Capture(picture.bytes.data(), picture.bytes.size(), &width, &height, &format) != 0)
    return false;
  if (format.nBitCount != 16 && format.nBitCount != 24 && format.nBitCount != 32) return false;
  picture.width = width;
  picture.height = height;
  picture.bitsPerPixel = format.nBitCount;
  picture.pitchBytes = width * format.nBitCount / 8;
  if (static_cast<size_t>(picture.pitchBytes) * static_cast<size_t>(height) > picture.bytes.size())
    return false;
  return true;
}

}  // namespace orvan
