// Qt-free rules of the snapshot command: which kind of file a chosen name
// gets, and the words a snapshot carries about what it shows.
#pragma once

#include <string>

namespace orvan::app {

enum class SnapshotFormat { Jpeg, Bitmap };

// ".jpg" and ".jpeg" give a JPEG file, ".bmp" a Windows bitmap (any case);
// a name without either gets the play source's own kind: a bitmap in Image
// Play, JPEG otherwise.
SnapshotFormat SnapshotFormatOfName(const std::string &path, bool imagePlay);

// The channels the video panel shows: "CH1 CH2 CH3 CH4" for the grid, one
// channel when it is zoomed or shown alone (display mode 0), and for a
// recording of four-way pictures (quadRecording 1) the whole picture or the
// quarter its zoom code (6 to 9) picks.
std::string ShownChannelsText(int quadRecording, int zoomedChannel, int zoomCode, int displayMode);

// The view a snapshot of the video panel was taken in: "whole picture"
// (every channel whole, letterboxed) or "border trimmed" (the designed look).
std::string SnapshotViewText(bool wholePicture);

// The comment of a snapshot: "ORVAN Viewer snapshot; source: <source>;
// channels: <channels>; view: <view>" (a part left out when empty).
std::string SnapshotComment(const std::string &source, const std::string &channels,
                            const std::string &view = {});

}  // namespace orvan::app
