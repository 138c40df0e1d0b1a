// The video decoder of one filter object: one coded frame in, at most one
// decoded picture out, for MPEG-4 Visual and MJPEG.
//
// Threading: the decoder has no lock of its own. Its owner calls SetCodec,
// Decode and Flush only under its decoder lock, and every call, including
// GetLastPicture and every use of a returned picture, under its render lock.
//
// Memory: pictures returned by Decode and GetLastPicture belong to the
// decoder. One stays valid until the decoder decodes into the same pool slot
// again (two pictures later), is flushed by SetCodec, or is destroyed.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "media/frame.h"
#include "platform/av_handles.h"

// Codec codes of this interface: 0 closed, 13 MPEG-4, anything else MJPEG.
constexpr int kCodecClosed = 0;
constexpr int kCodecMpeg4 = 13;
constexpr int kCodecMjpeg = 8;

class CVideoDecoder {
 public:
  explicit CVideoDecoder(int codec = kCodecClosed) : m_codec(codec) {}
  virtual ~CVideoDecoder() = default;
  CVideoDecoder(const CVideoDecoder &) = delete;
  CVideoDecoder &operator=(const CVideoDecoder &) = delete;

  virtual void SetCodec(int codec) { m_codec = codec; }
  // Decodes one FT_IFRAME/FT_PFRAME/FT_BFRAME frame. pixelFormat (may be
  // null) receives a media/pixel_format.h code. Null when no picture came
  // out.
  virtual AVFrame *Decode(const VORN_TESK::tagFrame *frame, uint8_t *pixelFormat) = 0;
  // The same, also reporting the picture size; every out-pointer may be null.
  virtual AVFrame *Decode(const VORN_TESK::tagFrame *frame, int32_t *width, int32_t *height,
                          uint8_t *pixelFormat) = 0;
  // Back to waiting for a key frame.
  virtual void Flush() {}
  // Kept for the interface's shape; answers -1.
  virtual int Query() { return -1; }

  int GetCodec() const { return m_codec; }

 protected:
  int m_codec;
};

class CVideoDecoderMpeg4 : public CVideoDecoder {
 public:
  explicit CVideoDecoderMpeg4(int codec = kCodecClosed);
  ~CVideoDecoderMpeg4() override;

  // Reopens: frees the pool and the context, then (for a non-zero code)
  // opens the "mpeg4" (13) or "mjpeg" (anything else) decoder and allocates
  // a fresh pool of two pictures, even when opening failed. Waits for a key
  // frame afterwards.
  void SetCodec(int codec) override;
  AVFrame *Decode(const VORN_TESK::tagFrame *frame, uint8_t *pixelFormat) override;
  AVFrame *Decode(const VORN_TESK::tagFrame *frame, int32_t *width, int32_t *height,
                  uint8_t *pixelFormat) override;
  // Waits for the next key frame and drops the codec's held-back pictures
  // and references.
  void Flush() override;
  int Query() override { return -1; }

  // The picture decoded most recently (the pool slot before the current
  // index); null when there is none yet.
  AVFrame *GetLastPicture() const;

  // For tests and diagnostics.
  int CurrentIndex() const { return m_current; }
  bool IsOpen() const { return m_context != nullptr; }
  // Codecs opened since construction (reopenings after a fault included).
  uint64_t OpenCount() const { return m_openCount; }
  bool WaitingForKeyFrame() const { return m_state == &CVideoDecoderMpeg4::WaitKeyFrame; }
  // Damaged pictures met so far: packets the codec refused or failed on,
  // pictures it put out with errors concealed, and the pictures passed
  // over while it waited for a key picture after such a fault.
  uint64_t DecodeErrors() const { return m_decodeErrors; }
  // True from a damaged picture until a key picture decodes cleanly: what
  // is shown meanwhile is frozen or spoilt. Flush and SetCodec end it (a
  // new stream, not a damaged one).
  bool Damaged() const { return m_damaged; }

  // Prepended to the first key frame after opening or flushing: visual
  // object sequence (profile and level 0xF5), visual object, video object.
  static constexpr uint8_t kStreamHeader[14] = {0x00, 0x00, 0x01, 0xB0, 0xF5, 0x00, 0x00,
                                                0x01, 0xB5, 0x09, 0x00, 0x00, 0x01, 0x00};
  // Sent after a frame that gave no picture, to release one held back.
  static constexpr uint8_t kDrainMarker[4] = {0x00, 0x00, 0x01, 0xF8};

 private:
  struct DecodeResult {
    AVFrame *picture = nullptr;
    bool failed = false;  // the codec reported an error: reopen
  };
  using StepRoutine = AVFrame *(CVideoDecoderMpeg4::*)(const uint8_t *data, size_t bytes,
                                                       uint32_t type, bool &failed);

  AVFrame *RunStep(const VORN_TESK::tagFrame *frame, int32_t *width, int32_t *height,
                   uint8_t *pixelFormat);
  AVFrame *WaitKeyFrame(const uint8_t *data, size_t bytes, uint32_t type, bool &failed);
  AVFrame *Steady(const uint8_t *data, size_t bytes, uint32_t type, bool &failed);
  // Sends one packet and takes what comes out into the current pool slot.
  // ignoreErrors: a rejected packet is not a codec fault (the stream header
  // pass and the drain marker).
  DecodeResult DecodeInto(const uint8_t *data, size_t bytes, bool ignoreErrors);
  void ReportFormat(const AVFrame *picture, int32_t *width, int32_t *height,
                    uint8_t *pixelFormat) const;

  orvan::av::CodecContextPtr m_context;
  std::deque<orvan::av::FramePtr> m_pool;  // exactly two pictures while a codec is set
  int m_current = 0;                       // pool slot the next decode fills
  StepRoutine m_state = &CVideoDecoderMpeg4::WaitKeyFrame;
  orvan::av::PacketPtr m_packet;
  orvan::av::FramePtr m_spare;  // receives surplus pictures of one packet
  // The payload's copy with the codec's zero padding, referenced by the
  // packets sent; made again when the codec still holds the last one.
  struct BufferDeleter {
    void operator()(AVBufferRef *buffer) const { av_buffer_unref(&buffer); }
  };
  std::unique_ptr<AVBufferRef, BufferDeleter> m_packetBuffer;
  static constexpr size_t kPacketBufferBytes = 128 * 1024;
  uint64_t m_openCount = 0;
  uint64_t m_decodeErrors = 0;
  bool m_damaged = false;
};
