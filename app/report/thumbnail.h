// Small pictures of the recording for the report: one key picture's record
// decoded (libavcodec, as the players decode it) and scaled down, as JPEG.
//
// Threads: any one thread at a time per source (the DiskSource contract).
#pragma once

#include <QByteArray>
#include <QImage>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::app::report {

constexpr int kThumbnailWidth = 240;

// The key picture of `entry` decoded at its own size; a null image when the
// record cannot be read or does not decode.
QImage DecodeKeyPicture(ByteSource &source, const recorder::DiskGeometry &geometry,
                        const recorder::IndexEntry &entry);

// `picture` scaled to kThumbnailWidth wide (never larger than it is), as a
// JPEG; empty for a null image.
QByteArray ThumbnailJpeg(const QImage &picture);

}  // namespace orvan::app::report
