// What a container needs to carry a channel's recorded pictures unchanged:
// the picture size and the codec headers a decoder must see first.
//
// The recorder's MPEG-4 key pictures carry the video object layer but not
// the sequence headers in front of it (the decoder feeds its own,
// CVideoDecoderMpeg4::kStreamHeader); the headers here are those sequence
// headers followed by the headers the key picture itself starts with, which
// is what Matroska's CodecPrivate and MP4's decoder configuration hold.
// MJPEG pictures need no headers.
//
// Threads: pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvan::media {

struct RecordedVideoFormat {
  bool mjpeg = false;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> headers;  // codec extradata; empty for MJPEG
};

// The headers in front of the first picture data (group or picture start
// code) of an MPEG-4 key picture, preceded by the sequence headers when the
// picture lacks them.
std::vector<uint8_t> Mpeg4StreamHeaders(const uint8_t *keyPicture, size_t bytes);

// A quick look at a record an entry calls a picture: an MJPEG picture
// starts with a JPEG start-of-image marker, an MPEG-4 picture holds a
// picture start code near its start. Nothing is decoded.
bool LooksLikePicture(bool mjpeg, const uint8_t *data, size_t bytes);

// Decodes one key picture with libavcodec to learn the picture size. False
// when it does not decode (a damaged picture): the caller waits for the
// next key picture.
bool ProbeRecordedVideo(bool mjpeg, const uint8_t *keyPicture, size_t bytes,
                        RecordedVideoFormat &format);

}  // namespace orvan::media
