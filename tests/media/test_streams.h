// Real coded streams for the media tests, made with libavcodec's encoders,
// and a plain libavcodec decode of them to compare against.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/frame.h"
#include "platform/av_handles.h"

namespace orvan::test {

struct CodedPicture {
  std::vector<uint8_t> bytes;
  bool key = false;
};

// Encodes `count` moving synthetic pictures of the given size and libavutil
// pixel format with the named encoder ("mpeg4", "libxvid", "mjpeg"), one key
// picture every `gop` pictures. Empty when the encoder is not available.
std::vector<CodedPicture> EncodeStream(const std::string &encoder, AVPixelFormat format, int width,
                                       int height, int count, int gop = 7);

// The synthetic picture number `index` (what EncodeStream feeds the encoder).
av::FramePtr MakeTestPicture(AVPixelFormat format, int width, int height, int index);

// Decodes every packet with a fresh decoder of the given name: element i is
// the picture that came out after packet i was sent (null if none).
std::vector<av::FramePtr> ReferenceDecode(const std::string &decoder,
                                          const std::vector<CodedPicture> &stream);

// True when both pictures have the same format and size and equal samples in
// every plane.
bool SamePicture(const AVFrame *a, const AVFrame *b);

// A frame record holding `bytes`, released through the frame factory.
struct FrameReleaser {
  void operator()(VORN_TESK::tagFrame *f) const { VORN_TESK::Frames().Release(f); }
};
using FramePtr = std::unique_ptr<VORN_TESK::tagFrame, FrameReleaser>;
FramePtr MakeFrame(uint32_t type, const std::vector<uint8_t> &bytes);
inline FramePtr MakeFrame(const CodedPicture &p) {
  return MakeFrame(p.key ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME, p.bytes);
}

}  // namespace orvan::test
