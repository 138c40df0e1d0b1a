#include "app/core/snapshot_rules.h"

#include <algorithm>
#include <cctype>

namespace orvan::app {

namespace {

bool EndsWithNoCase(const std::string &text, const std::string &suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

SnapshotFormat SnapshotFormatOfName(const std::string &path, bool imagePlay) {
  if (EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".jpeg")) return SnapshotFormat::Jpeg;
  if (EndsWithNoCase(path, ".bmp")) return SnapshotFormat::Bitmap;
  return imagePlay ? SnapshotFormat::Bitmap : SnapshotFormat::Jpeg;
}

std::string ShownChannelsText(int quadRecording, int zoomedChannel, int zoomCode, int displayMode) {
  if (quadRecording == 1) {
    if (zoomCode >= 6 && zoomCode <= 9)
      return "CH" + std::to_string(zoomCode - 5) + " of the four-way picture";
    return "CH1 CH2 CH3 CH4, one four-way picture";
  }
  if (zoomedChannel >= 0 && zoomedChannel < 4) return "CH" + std::to_string(zoomedChannel + 1);
  if (displayMode == 1) return "CH1 CH2 CH3 CH4";
  if (displayMode == 0) return "CH1";
  return {};
}

std::string SnapshotViewText(bool wholePicture) {
  return wholePicture ? "whole picture" : "border trimmed";
}

std::string SnapshotComment(const std::string &source, const std::string &channels,
                            const std::string &view) {
  std::string comment = "ORVAN Viewer snapshot; source: " + source;
  if (!channels.empty()) comment += "; channels: " + channels;
  if (!view.empty()) comment += "; view: " + view;
  return comment;
}

}  // namespace orvan::app
