// The one record every unit of media travels in: a heap block of a 16-byte
// little-endian header (size, type, time) followed by the payload, made and
// released by the one global frame factory.
//
// Ownership: whoever holds the pointer owns the block. Handing a frame to a
// queue, a viewer or a filter object hands over ownership; a function that
// takes a frame by pointer-to-pointer and consumes it nulls the caller's
// pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/wintime.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "frame headers and recorder records are little-endian");

namespace VORN_TESK {

enum FrameType : uint32_t {
  FT_IFRAME = 2,
  FT_PFRAME = 3,
  FT_BFRAME = 4,
  FT_AUDIO = 5,
  FT_INFO = 7,
};

// Or'ed into a picture's type by a player stepping back: the picture is
// decoded (it is the reference of the next) but never drawn. FrameKind()
// is the type without it.
constexpr uint32_t FT_DECODE_ONLY = 0x100;
inline uint32_t FrameKind(uint32_t type) { return type & 0xFF; }

constexpr uint32_t kFrameHeaderBytes = 16;

struct tagFrame {
  uint32_t dwSize;  // header + payload
  uint32_t dwType;
  FILETIME ftTime;

  uint8_t *Data() { return reinterpret_cast<uint8_t *>(this) + kFrameHeaderBytes; }
  const uint8_t *Data() const {
    return reinterpret_cast<const uint8_t *>(this) + kFrameHeaderBytes;
  }
  uint32_t PayloadBytes() const { return dwSize - kFrameHeaderBytes; }
};
static_assert(sizeof(tagFrame) == kFrameHeaderBytes);
static_assert(offsetof(tagFrame, dwType) == 4 && offsetof(tagFrame, ftTime) == 8);

// True for the types the pipeline knows (2, 3, 4, 5, 7).
inline bool IsKnownFrameType(uint32_t type) {
  return type == FT_IFRAME || type == FT_PFRAME || type == FT_BFRAME || type == FT_AUDIO ||
         type == FT_INFO;
}

// The 48-byte stream description carried by FT_INFO frames. Compared as a
// whole, byte by byte, to detect a change.
#pragma pack(push, 1)
struct StreamDescription {
  int32_t sourceKind;  // playback threads write 1; 90..92 switch on the border crop
  int32_t videoCodec;  // 0 MJPEG, anything else MPEG-4
  int32_t width;
  int32_t height;
  double frameRate;  // 7.5 from the playback threads; compared, never interpreted
  int32_t audio[6];  // zero from the playback threads; compared, never interpreted
};
#pragma pack(pop)
static_assert(sizeof(StreamDescription) == 48);

inline bool SameDescription(const StreamDescription &a, const StreamDescription &b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// What the playback threads describe: source kind 1, codec 0 for MJPEG
// records (types 2 and 19), 4 otherwise, 720 x 480, 7.5.
StreamDescription PlaybackDescription(bool mjpeg);

class NonCopy {
 protected:
  NonCopy() = default;
  ~NonCopy() = default;

 public:
  NonCopy(const NonCopy &) = delete;
  NonCopy &operator=(const NonCopy &) = delete;
};

// The process heap, here the C heap, which serialises its own calls.
class Heap : private NonCopy {
 public:
  void *Alloc(size_t bytes);
  void Free(void *block);
};

class FrameFactor : private NonCopy {
 public:
  // Allocates payloadBytes + 16 (not zeroed), fills the header, and copies
  // the payload when payload is not null. Null when the heap cannot supply
  // the block (or the size would not fit the 32-bit header).
  tagFrame *Create(uint32_t type, uint32_t payloadBytes, const FILETIME &time, const void *payload);
  tagFrame *Create(uint32_t type, uint32_t payloadBytes, uint32_t timeLow, uint32_t timeHigh,
                   const void *payload);
  // Time from calendar fields; a null pointer (or fields the platform
  // conversion refuses) gives time zero.
  tagFrame *Create(uint32_t type, uint32_t payloadBytes, const SYSTEMTIME *time,
                   const void *payload);
  // Returns the block to the heap and nulls the caller's pointer.
  void Release(tagFrame *&frame);

 private:
  Heap m_heap;
};

// The one frame factory of the process.
FrameFactor &Frames();

}  // namespace VORN_TESK
