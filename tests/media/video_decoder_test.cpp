#include "media/video_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "media/pixel_format.h"
#include "tests/media/test_streams.h"

using orvan::test::CodedPicture;
using orvan::test::EncodeStream;
using orvan::test::MakeFrame;
using orvan::test::ReferenceDecode;
using orvan::test::SamePicture;

namespace {

// Feeds the whole stream and checks every picture against the reference
// decode of the same packets.
void ExpectSameAsReference(int code, const char *decoderName,
                           const std::vector<CodedPicture> &stream, uint8_t expectedFormat) {
  ASSERT_FALSE(stream.empty());
  ASSERT_TRUE(stream.front().key);
  const auto reference = ReferenceDecode(decoderName, stream);
  ASSERT_EQ(reference.size(), stream.size());
  CVideoDecoderMpeg4 decoder(code);
  for (size_t i = 0; i < stream.size(); ++i) {
    auto frame = MakeFrame(stream[i]);
    int32_t w = -1, h = -1;
    uint8_t format = 0xEE;
    AVFrame *picture = decoder.Decode(frame.get(), &w, &h, &format);
    ASSERT_NE(reference[i], nullptr) << i;
    ASSERT_NE(picture, nullptr) << "frame " << i;
    EXPECT_TRUE(SamePicture(picture, reference[i].get())) << "frame " << i;
    EXPECT_EQ(w, reference[i]->width);
    EXPECT_EQ(h, reference[i]->height);
    EXPECT_EQ(format, expectedFormat);
  }
}

std::vector<CodedPicture> Mpeg4Stream(int count = 22) {
  return EncodeStream("mpeg4", AV_PIX_FMT_YUV420P, 352, 288, count, 7);
}

}  // namespace

TEST(VideoDecoderStreams, mpeg4_everyPictureEqualsReferenceDecode) {
  ExpectSameAsReference(kCodecMpeg4, "mpeg4", Mpeg4Stream(), orvan::media::kPixYuv420);
}

TEST(VideoDecoderStreams, xvid_everyPictureEqualsReferenceDecode) {
  const auto stream = EncodeStream("libxvid", AV_PIX_FMT_YUV420P, 720, 480, 16, 7);
  if (stream.empty()) GTEST_SKIP() << "libavcodec offers no libxvid encoder";
  ExpectSameAsReference(kCodecMpeg4, "mpeg4", stream, orvan::media::kPixYuv420);
}

TEST(VideoDecoderStreams, mjpeg420_everyPictureEqualsReferenceDecode_fullRange420) {
  const auto stream = EncodeStream("mjpeg", AV_PIX_FMT_YUVJ420P, 720, 480, 5);
  ExpectSameAsReference(kCodecMjpeg, "mjpeg", stream, orvan::media::kPixYuvj420);
}

TEST(VideoDecoderStreams, mjpeg422_everyPictureEqualsReferenceDecode_fullRange422) {
  const auto stream = EncodeStream("mjpeg", AV_PIX_FMT_YUVJ422P, 720, 480, 5);
  ExpectSameAsReference(kCodecMjpeg, "mjpeg", stream, orvan::media::kPixYuvj422);
}

// Key frames as the recorder stores them: the video object layer and the
// picture, without the sequence and object headers in front.
std::vector<uint8_t> WithoutSequenceHeaders(const std::vector<uint8_t> &bytes) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 < bytes.size(); ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) starts.push_back(i);
  starts.push_back(bytes.size());
  std::vector<uint8_t> out;
  for (size_t k = 0; k + 1 < starts.size(); ++k) {
    const uint8_t code = bytes[starts[k] + 3];
    const bool sequenceHeader = code == 0xB0 || code == 0xB1 || code == 0xB5 || code <= 0x1F;
    if (!sequenceHeader)
      out.insert(out.end(), bytes.begin() + starts[k], bytes.begin() + starts[k + 1]);
  }
  return out;
}

TEST(VideoDecoderStart, keyFramesWithoutSequenceHeaders_decodeLikeTheFullStream) {
  auto stream = Mpeg4Stream(15);
  const auto reference = ReferenceDecode("mpeg4", stream);
  size_t stripped = 0;
  for (auto &p : stream) {
    if (!p.key) continue;
    const auto shorter = WithoutSequenceHeaders(p.bytes);
    stripped += p.bytes.size() - shorter.size();
    p.bytes = shorter;
  }
  ASSERT_GT(stripped, 0u);
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  for (size_t i = 0; i < stream.size(); ++i) {
    auto frame = MakeFrame(stream[i]);
    AVFrame *picture = decoder.Decode(frame.get(), nullptr);
    ASSERT_NE(picture, nullptr) << i;
    EXPECT_TRUE(SamePicture(picture, reference[i].get())) << i;
  }
}

TEST(VideoDecoderStart, predictedFramesBeforeFirstKey_giveNothing_thenKeyGivesPicture) {
  const auto stream = Mpeg4Stream(9);
  ASSERT_FALSE(stream[1].key);
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  EXPECT_TRUE(decoder.WaitingForKeyFrame());
  auto predicted = MakeFrame(stream[1]);
  uint8_t format = 0;
  EXPECT_EQ(decoder.Decode(predicted.get(), &format), nullptr);
  EXPECT_EQ(decoder.CurrentIndex(), 0);
  EXPECT_TRUE(decoder.WaitingForKeyFrame());
  EXPECT_EQ(decoder.GetLastPicture(), nullptr);

  // A key record that is not marked FT_IFRAME does not start decoding either.
  auto keyAsPredicted = MakeFrame(VORN_TESK::FT_PFRAME, stream[0].bytes);
  EXPECT_EQ(decoder.Decode(keyAsPredicted.get(), &format), nullptr);

  auto key = MakeFrame(stream[0]);
  AVFrame *picture = decoder.Decode(key.get(), &format);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(decoder.CurrentIndex(), 1);
  EXPECT_FALSE(decoder.WaitingForKeyFrame());
}

TEST(VideoDecoderPool, twoPicturesComeFromDifferentSlots_lastPictureIsTheLater) {
  const auto stream = Mpeg4Stream(3);
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  auto f0 = MakeFrame(stream[0]);
  auto f1 = MakeFrame(stream[1]);
  auto f2 = MakeFrame(stream[2]);
  AVFrame *first = decoder.Decode(f0.get(), nullptr, nullptr, nullptr);
  EXPECT_EQ(decoder.GetLastPicture(), first);
  AVFrame *second = decoder.Decode(f1.get(), nullptr, nullptr, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(decoder.GetLastPicture(), second);
  // The earlier picture stays intact until its slot is decoded into again.
  const auto reference = ReferenceDecode("mpeg4", stream);
  EXPECT_TRUE(SamePicture(first, reference[0].get()));
  EXPECT_EQ(decoder.Decode(f2.get(), nullptr, nullptr, nullptr), first);
}

TEST(VideoDecoderPool, lastPictureIsNull_beforeAnyPicture_andAfterClosing) {
  CVideoDecoderMpeg4 fresh(kCodecMpeg4);
  EXPECT_EQ(fresh.GetLastPicture(), nullptr);
  CVideoDecoderMpeg4 closed;  // code 0
  EXPECT_FALSE(closed.IsOpen());
  EXPECT_EQ(closed.GetLastPicture(), nullptr);

  const auto stream = Mpeg4Stream(2);
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  auto key = MakeFrame(stream[0]);
  ASSERT_NE(decoder.Decode(key.get(), nullptr), nullptr);
  decoder.SetCodec(kCodecClosed);
  EXPECT_EQ(decoder.GetCodec(), kCodecClosed);
  EXPECT_FALSE(decoder.IsOpen());
  EXPECT_EQ(decoder.GetLastPicture(), nullptr);
  EXPECT_EQ(decoder.Decode(key.get(), nullptr), nullptr);
  // The current index survives reopening.
  decoder.SetCodec(kCodecMpeg4);
  EXPECT_EQ(decoder.CurrentIndex(), 1);
}

TEST(VideoDecoderFlush, flushInSteadyState_waitsForNextKeyPicture) {
  const auto stream = Mpeg4Stream(10);
  ASSERT_TRUE(stream[7].key);
  const auto reference = ReferenceDecode("mpeg4", stream);
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  for (int i = 0; i < 3; ++i) {
    auto f = MakeFrame(stream[i]);
    ASSERT_NE(decoder.Decode(f.get(), nullptr), nullptr);
  }
  decoder.Flush();
  EXPECT_TRUE(decoder.WaitingForKeyFrame());
  for (int i = 3; i < 7; ++i) {
    auto f = MakeFrame(stream[i]);
    EXPECT_EQ(decoder.Decode(f.get(), nullptr), nullptr) << i;
  }
  for (int i = 7; i < 10; ++i) {
    auto f = MakeFrame(stream[i]);
    AVFrame *picture = decoder.Decode(f.get(), nullptr);
    ASSERT_NE(picture, nullptr) << i;
    EXPECT_TRUE(SamePicture(picture, reference[i].get())) << i;
  }
}

TEST(VideoDecoderFaults, corruptAndTruncatedFrames_neverCrash_andRecoverAtNextKey) {
  for (const int code : {kCodecMpeg4, kCodecMjpeg}) {
    const auto stream = code == kCodecMpeg4
                            ? Mpeg4Stream(15)
                            : EncodeStream("mjpeg", AV_PIX_FMT_YUVJ420P, 352, 288, 15, 1);
    const char *name = code == kCodecMpeg4 ? "mpeg4" : "mjpeg";
    const auto reference = ReferenceDecode(name, stream);
    CVideoDecoderMpeg4 decoder(code);
    std::mt19937 random(code);
    for (size_t i = 0; i < 7; ++i) {
      std::vector<uint8_t> bytes = stream[i].bytes;
      if (i % 3 == 0) {
        bytes.resize(bytes.size() / 3);  // truncated
      } else {
        for (size_t k = 20; k < bytes.size(); k += 7) bytes[k] = uint8_t(random());
      }
      auto f = MakeFrame(stream[i].key ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME, bytes);
      decoder.Decode(f.get(), nullptr, nullptr, nullptr);  // anything but a crash
    }
    // Pure garbage and empty payloads, as key and as predicted frames.
    std::vector<uint8_t> garbage(5000);
    for (auto &b : garbage) b = uint8_t(random());
    for (uint32_t type : {VORN_TESK::FT_IFRAME, VORN_TESK::FT_PFRAME}) {
      auto g = MakeFrame(type, garbage);
      decoder.Decode(g.get(), nullptr);
      auto empty = MakeFrame(type, {});
      decoder.Decode(empty.get(), nullptr);
    }
    // From the next key picture on, decoding matches the clean decode.
    size_t next = 7;
    while (!stream[next].key) ++next;
    for (size_t i = next; i < stream.size(); ++i) {
      auto f = MakeFrame(stream[i]);
      AVFrame *picture = decoder.Decode(f.get(), nullptr);
      ASSERT_NE(picture, nullptr) << name << " frame " << i;
      EXPECT_TRUE(SamePicture(picture, reference[i].get())) << name << " frame " << i;
    }
  }
}

TEST(VideoDecoderFaults, frameWithImpossibleSize_givesNothing) {
  VORN_TESK::tagFrame broken{};
  broken.dwSize = 8;  // shorter than its own header
  broken.dwType = VORN_TESK::FT_IFRAME;
  CVideoDecoderMpeg4 decoder(kCodecMpeg4);
  EXPECT_EQ(decoder.Decode(&broken, nullptr), nullptr);
  EXPECT_EQ(decoder.Decode(nullptr, nullptr), nullptr);
}

TEST(VideoDecoderInterface, baseClassKeepsTheCodeAndAnswersMinusOne) {
  CVideoDecoderMpeg4 decoder(kCodecMjpeg);
  CVideoDecoder &base = decoder;
  EXPECT_EQ(base.GetCodec(), kCodecMjpeg);
  EXPECT_EQ(base.Query(), -1);
  EXPECT_TRUE(decoder.IsOpen());
  base.SetCodec(kCodecMpeg4);  // through the virtual table: reopens
  EXPECT_EQ(decoder.GetCodec(), kCodecMpeg4);
  EXPECT_TRUE(decoder.IsOpen());
}
