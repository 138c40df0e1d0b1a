#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/frame.h"

using namespace VORN_TESK;

TEST(FrameFactor, header_isLittleEndianSizeTypeTimeThenPayload) {
  const uint8_t payload[5] = {1, 2, 3, 4, 5};
  tagFrame *f = Frames().Create(FT_IFRAME, 5, FILETIME{0x11223344u, 0x55667788u}, payload);
  ASSERT_NE(f, nullptr);
  const uint8_t *raw = reinterpret_cast<const uint8_t *>(f);
  const uint8_t expected[21] = {21,   0,    0,    0,    2,    0, 0, 0, 0x44, 0x33, 0x22,
                                0x11, 0x88, 0x77, 0x66, 0x55, 1, 2, 3, 4,    5};
  EXPECT_EQ(std::memcmp(raw, expected, sizeof expected), 0);
  EXPECT_EQ(f->PayloadBytes(), 5u);
  Frames().Release(f);
  EXPECT_EQ(f, nullptr);
}

TEST(FrameFactor, emptyAndUnfilledPayloads) {
  tagFrame *empty = Frames().Create(FT_AUDIO, 0, FILETIME{1, 2}, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->dwSize, 16u);
  EXPECT_EQ(empty->PayloadBytes(), 0u);
  Frames().Release(empty);

  // A null payload pointer leaves the bytes for the caller to fill.
  tagFrame *unfilled = Frames().Create(FT_PFRAME, 1000, 7u, 8u, nullptr);
  ASSERT_NE(unfilled, nullptr);
  EXPECT_EQ(unfilled->dwSize, 1016u);
  EXPECT_EQ(unfilled->ftTime.dwLowDateTime, 7u);
  EXPECT_EQ(unfilled->ftTime.dwHighDateTime, 8u);
  std::memset(unfilled->Data(), 0xAB, 1000);
  Frames().Release(unfilled);
}

TEST(FrameFactor, systemTimeForm_convertsOrGivesZero) {
  tagFrame *noTime =
      Frames().Create(FT_AUDIO, 0, static_cast<const SYSTEMTIME *>(nullptr), nullptr);
  ASSERT_NE(noTime, nullptr);
  EXPECT_EQ(orvan::FileTimeToTicks(noTime->ftTime), 0u);
  Frames().Release(noTime);

  const SYSTEMTIME st = orvan::RecorderSecondsToSystemTime(1202982297);
  tagFrame *timed = Frames().Create(FT_IFRAME, 0, &st, nullptr);
  ASSERT_NE(timed, nullptr);
  EXPECT_EQ(orvan::FileTimeToRecorderSeconds(timed->ftTime), 1202982297);
  Frames().Release(timed);
}

TEST(FrameFactor, absurdSizes_giveNullInsteadOfAWrappedBlock) {
  EXPECT_EQ(Frames().Create(FT_IFRAME, 0xFFFFFFF8u, FILETIME{}, nullptr), nullptr);
  tagFrame *none = nullptr;
  Frames().Release(none);  // harmless
  EXPECT_EQ(none, nullptr);
}

TEST(StreamDescription, anyByteDifferenceIsAChange) {
  const StreamDescription a = PlaybackDescription(false);
  EXPECT_EQ(a.sourceKind, 1);
  EXPECT_EQ(a.videoCodec, 4);
  EXPECT_EQ(PlaybackDescription(true).videoCodec, 0);
  uint64_t bits;
  std::memcpy(&bits, &a.frameRate, 8);
  EXPECT_EQ(bits, 0x401E000000000000ULL);

  StreamDescription rate = a;
  rate.frameRate = 7.6;
  EXPECT_FALSE(SameDescription(a, rate));
  StreamDescription audio = a;
  audio.audio[5] = 1;
  EXPECT_FALSE(SameDescription(a, audio));
  EXPECT_TRUE(SameDescription(a, PlaybackDescription(false)));
}

TEST(FrameTypes, onlyThePipelinesTypesAreKnown) {
  for (uint32_t t : {2u, 3u, 4u, 5u, 7u}) EXPECT_TRUE(IsKnownFrameType(t)) << t;
  for (uint32_t t : {0u, 1u, 6u, 8u, 0xFFFFFFFFu}) EXPECT_FALSE(IsKnownFrameType(t)) << t;
}
