#include "media/frame.h"

#include <cstdlib>
#include <limits>

namespace VORN_TESK {

void *Heap::Alloc(size_t bytes) { return std::malloc(bytes); }
void Heap::Free(void *block) { std::free(block); }

tagFrame *FrameFactor::Create(uint32_t type, uint32_t payloadBytes, const FILETIME &time,
                              const void *payload) {
  if (payloadBytes > std::numeric_limits<uint32_t>::max() - kFrameHeaderBytes) return nullptr;
  void *block = m_heap.Alloc(size_t(payloadBytes) + kFrameHeaderBytes);
  if (!block) return nullptr;
  auto *frame = static_cast<tagFrame *>(block);
  frame->dwSize = payloadBytes + kFrameHeaderBytes;
  frame->dwType = type;
  frame->ftTime = time;
  if (payload && payloadBytes) std::memcpy(frame->Data(), payload, payloadBytes);
  return frame;
}

tagFrame *FrameFactor::Create(uint32_t type, uint32_t payloadBytes, uint32_t timeLow,
                              uint32_t timeHigh, const void *payload) {
  return Create(type, payloadBytes, FILETIME{timeLow, timeHigh}, payload);
}

tagFrame *FrameFactor::Create(uint32_t type, uint32_t payloadBytes, const SYSTEMTIME *time,
                              const void *payload) {
  FILETIME ft{0, 0};
  if (time && !SystemTimeToFileTime(time, &ft)) ft = FILETIME{0, 0};
  return Create(type, payloadBytes, ft, payload);
}

void FrameFactor::Release(tagFrame *&frame) {
  if (!frame) return;
  m_heap.Free(frame);
  frame = nullptr;
}

FrameFactor &Frames() {
  static FrameFactor factory;
  return factory;
}

StreamDescription PlaybackDescription(bool mjpeg) {
  StreamDescription d{};
  d.sourceKind = 1;
  d.videoCodec = mjpeg ? 0 : 4;
  d.width = 720;
  d.height = 480;
  d.frameRate = 7.5;
  return d;
}

}  // namespace VORN_TESK
