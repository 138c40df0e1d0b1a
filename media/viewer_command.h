// The codes of a viewer's Command, named once for every layer that sends or
// answers them: the playback threads (take a frame, queue length), the main
// window (placing and labelling), and the display layer's viewer, which
// answers them all. Any other code does nothing.
#pragma once

namespace orvan {

enum ViewerCommand : int {
  kViewerSetRect = 0,          // RECT *, in the video panel's client coordinates
  kViewerTakeFrame = 7,        // VORN_TESK::tagFrame *, ownership passes to the viewer
  kViewerQueueLength = 14,     // int32_t *, receives the video frames queued
  kViewerCaptionVisible = 17,  // bool *
  kViewerTimeLabel = 18,       // bool *, then refreshes the time text
  kViewerKeepSize = 23,        // bool *: the picture at its own size, centred
  kViewerRefreshTime = 24,     // no parameter
  kViewerDisplayMode = 30,     // int32_t *, 0 to 9
  kViewerWholePicture = 31,    // bool *: the whole picture, letterboxed, or the trimmed one
};

}  // namespace orvan
