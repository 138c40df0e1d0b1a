// The MPEG-4 encoder the AVI recorder feeds with screen pictures, on
// libavcodec's "mpeg4" encoder. Its four calls keep the shape the playback
// threads use: a control call (code 1 sets the picture size as
// width * 4096 + height), init, one encode per picture, cleanup.
//
// Input pictures are packed 3 bytes a pixel in the display's order (B, G, R),
// top row first. Every call returns one coded picture (no pictures are held
// back), a key picture at least every 7 pictures, with its kind: 0 for a key
// picture, 1 for a predicted one.
//
// Threading: one encoder per playback thread, used under that thread's AVI
// lock (by the window as a recording starts, by the player afterwards).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/av_handles.h"

namespace orvan::platform {

class Mpeg4Encoder {
 public:
  static constexpr int kControlQuery = 0;    // value left as it is
  static constexpr int kControlSetSize = 1;  // value = width * 4096 + height
  static constexpr int kKeyPictureInterval = 7;
  static constexpr int kKindKey = 0;
  static constexpr int kKindPredicted = 1;

  Mpeg4Encoder() = default;
  ~Mpeg4Encoder() { CleanupEncoder(); }
  Mpeg4Encoder(const Mpeg4Encoder &) = delete;
  Mpeg4Encoder &operator=(const Mpeg4Encoder &) = delete;

  // Returns 0 when the code is known. Sizes take effect at InitEncoder.
  int EncoderControl(int code, int32_t *value);
  // Opens the encoder for the size set (720 x 480 unless set). 0 on success.
  int InitEncoder();
  // Encodes width * height * 3 bytes of `bgr`. On success (0) `output`
  // holds *codedBytes bytes of one coded picture of kind *frameKind. Fails
  // (non-zero) when not initialised, on an encoder error, or when the coded
  // picture would not fit in `outputCapacity`.
  int Encode(const uint8_t *bgr, size_t inputBytes, uint8_t *output, size_t outputCapacity,
             int *codedBytes, int *frameKind);
  void CleanupEncoder();

  // An output buffer of this size holds any coded picture.
  size_t MaxCodedBytes() const { return size_t(m_width) * m_height * 3 + 4096; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }

 private:
  int m_width = 720;
  int m_height = 480;
  int64_t m_pictureNumber = 0;
  av::CodecContextPtr m_context;
  av::SwsContextPtr m_toYuv;
  av::FramePtr m_picture;
  av::PacketPtr m_packet;
};

// The encoder library's four calls, over one process-wide Mpeg4Encoder (one
// playback thread encodes at a time; a lock keeps overlapping callers
// apart). XVID_Encode reads width * height * 3 bytes of `picture` and
// expects `output` to hold width * height * 3 bytes (1036800 for 720 x 480).
// Results: 0 on success, non-zero on failure.
int XVID_EncoderControl(int code, void *value);
int XVID_InitEncoder();
int XVID_Encode(const uint8_t *picture, uint8_t *output, int *codedBytes, int *frameKind);
void XVID_CleanupEncoder();

// Packs `pixels` 4-byte pixels (B, G, R, x) into 3-byte ones (B, G, R) in
// place, dropping every fourth byte.
void PackFourToThreeBytes(uint8_t *pixels, size_t count);

}  // namespace orvan::platform
