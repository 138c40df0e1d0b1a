// File names the save dialogs suggest, built from the PC's local date and
// time: a printf pattern taking year, month, day, hour, minute and second.
#pragma once

#include <QDateTime>
#include <QString>

namespace orvan::app {

constexpr char kSnapshotNamePattern[] = "Img_%d%.2d%.2d_%.2d%.2d%.2d.jpg";
constexpr char kStillSnapshotNamePattern[] = "Img_%d%.2d%.2d_%.2d%.2d%.2d.bmp";  // Image Play
constexpr char kQuadAviNamePattern[] = "AVI_QUAD_%d%.2d%.2d_%.2d%.2d%.2d.avi";
constexpr char kAviNamePattern[] = "AVI_%d%.2d%.2d_%.2d%.2d%.2d.avi";

// The pattern filled from `when`'s date and time as they stand.
QString SuggestedName(const char *pattern, const QDateTime &when);

}  // namespace orvan::app
