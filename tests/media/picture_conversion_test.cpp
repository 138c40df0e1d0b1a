#include "media/picture_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/media/memory_surface.h"
#include "tests/media/test_streams.h"

using orvan::media::ShownPart;
using orvan::media::SurfaceView;
namespace pf = orvan::media;

namespace {

constexpr uint8_t kUntouched = 0xCD;

// Surfaces start out as kUntouched, so the tests see which bytes were written.
class MemorySurface : public orvan::test::MemorySurface {
 public:
  MemorySurface(int format, int bitCount, int pitch, int rows)
      : orvan::test::MemorySurface(format, bitCount, pitch, rows, kUntouched) {}
};

bool AllBytesAre(const uint8_t *p, size_t n, uint8_t value) {
  return std::all_of(p, p + n, [value](uint8_t b) { return b == value; });
}

// A picture of flat 16 x 16 blocks, one colour each.
struct Yuv {
  int y, u, v;
};
const std::vector<Yuv> kColours = {{16, 128, 128}, {235, 128, 128}, {81, 90, 240},
                                   {145, 54, 34},  {41, 240, 110},  {128, 160, 100},
                                   {100, 200, 60}, {180, 100, 170}};

orvan::av::FramePtr BlockPicture(AVPixelFormat format) {
  auto picture = orvan::av::MakeFrame();
  picture->format = format;
  picture->width = 16 * int(kColours.size());
  picture->height = 16;
  av_frame_get_buffer(picture.get(), 0);
  const bool chroma422 = format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P;
  for (size_t b = 0; b < kColours.size(); ++b) {
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        picture->data[0][y * picture->linesize[0] + 16 * b + x] = uint8_t(kColours[b].y);
        const int cy = chroma422 ? y : y / 2;
        if (!chroma422 && y >= 8) continue;
        if (x >= 8) continue;
        picture->data[1][cy * picture->linesize[1] + 8 * b + x] = uint8_t(kColours[b].u);
        picture->data[2][cy * picture->linesize[2] + 8 * b + x] = uint8_t(kColours[b].v);
      }
  }
  return picture;
}

// A surface pixel's components as 8-bit values (fields of RGB 5-6-5
// widened).
std::vector<int> Components(const uint8_t *pixel, int format) {
  if (format == pf::kPixRgb565) {
    const int v = pixel[0] | (pixel[1] << 8);
    return {(v >> 11) << 3, ((v >> 5) & 63) << 2, (v & 31) << 3};
  }
  const int bpp = pf::SurfaceBytesPerPixel(format);
  return std::vector<int>(pixel, pixel + std::min(bpp, 3));
}

int Clamp(double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); }

// BT.601 reference, as R, G, B.
void Reference(const Yuv &c, bool fullRange, int rgb[3]) {
  const double u = c.u - 128, v = c.v - 128;
  if (fullRange) {
    rgb[0] = Clamp(c.y + 1.402 * v);
    rgb[1] = Clamp(c.y - 0.344136 * u - 0.714136 * v);
    rgb[2] = Clamp(c.y + 1.772 * u);
  } else {
    const double y = 1.164 * (c.y - 16);
    rgb[0] = Clamp(y + 1.596 * v);
    rgb[1] = Clamp(y - 0.392 * u - 0.813 * v);
    rgb[2] = Clamp(y + 2.017 * u);
  }
}

}  // namespace

TEST(PictureConversionLayout, fullSize32bit_writesWidthTimesFourBytesPerRow_leavesPitchRest) {
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 720, 480, 3);
  MemorySurface surface(pf::kPixBgr32, 32, 3072, 500);
  CPictureConverter converter;
  ASSERT_TRUE(converter.Draw(surface, picture.get(), pf::kPixYuv420, 720, 480, false));
  for (int y = 0; y < 480; ++y) {
    EXPECT_FALSE(AllBytesAre(surface.Row(y), 2880, kUntouched)) << y;
    ASSERT_TRUE(AllBytesAre(surface.Row(y) + 2880, 192, kUntouched)) << "row " << y;
  }
  for (int y = 480; y < 500; ++y) ASSERT_TRUE(AllBytesAre(surface.Row(y), 3072, kUntouched));
}

TEST(PictureConversionLayout, halfSize_drawsEverySecondRowHalfAsWide_240RowsOf1440Bytes) {
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 720, 480, 5);
  for (const int format :
       {int(pf::kPixBgr32), int(pf::kPixRgb24), int(pf::kPixRgb565), int(pf::kPixGray8)}) {
    const int bpp = pf::SurfaceBytesPerPixel(format);
    MemorySurface full(format, bpp * 8, 3072, 480);
    MemorySurface half(format, bpp * 8, 3072, 480);
    CPictureConverter converter;
    ASSERT_TRUE(converter.Draw(full, picture.get(), pf::kPixYuv420, 720, 480, false));
    ASSERT_TRUE(converter.Draw(half, picture.get(), pf::kPixYuv420, 720, 480, true));
    // Half-size pixel (k, i) comes from pixels 2k and 2k + 1 of row 2i: each
    // of its components lies between theirs, give or take rounding (and
    // dithering, for RGB 5-6-5).
    const int slack = format == pf::kPixRgb565 ? 16 : 8;
    for (int i = 0; i < 240; ++i) {
      const uint8_t *out = half.Row(i);
      const uint8_t *in = full.Row(2 * i);
      for (int k = 0; k < 360; ++k) {
        const auto got = Components(out + k * bpp, format);
        const auto left = Components(in + 2 * k * bpp, format);
        const auto right = Components(in + (2 * k + 1) * bpp, format);
        for (size_t c = 0; c < got.size(); ++c) {
          ASSERT_GE(got[c] + slack, std::min(left[c], right[c]))
              << "format " << format << " row " << i << " pixel " << k;
          ASSERT_LE(got[c], std::max(left[c], right[c]) + slack)
              << "format " << format << " row " << i << " pixel " << k;
        }
      }
      // libswscale's vector stores may run a little past a row's pixels,
      // never further.
      ASSERT_TRUE(AllBytesAre(out + 360 * bpp + 64, 3072 - 360 * bpp - 64, kUntouched))
          << "format " << format << " row " << i;
    }
    if (format == pf::kPixBgr32) {
      EXPECT_EQ(360 * bpp, 1440);
    }
    for (int i = 240; i < 480; ++i) ASSERT_TRUE(AllBytesAre(half.Row(i), 3072, kUntouched));
  }
}

TEST(PictureConversionLayout, halfSize_ofFullRangeMjpegFormats_keepsTheirColours) {
  for (const auto &[format, code] : {std::pair{AV_PIX_FMT_YUVJ420P, pf::kPixYuvj420},
                                     std::pair{AV_PIX_FMT_YUVJ422P, pf::kPixYuvj422}}) {
    auto picture = BlockPicture(format);
    const int width = picture->width;
    MemorySurface half(pf::kPixBgr32, 32, width * 2, 8);
    CPictureConverter converter;
    ASSERT_TRUE(converter.Draw(half, picture.get(), code, width, 16, true));
    for (size_t b = 0; b < kColours.size(); ++b) {
      int want[3];
      Reference(kColours[b], true, want);
      const uint8_t *p = half.Row(3) + 4 * (8 * b + 3);  // inside block b
      EXPECT_NEAR(p[2], want[0], 4) << "format " << format << " colour " << b;
      EXPECT_NEAR(p[1], want[1], 4) << "format " << format << " colour " << b;
      EXPECT_NEAR(p[0], want[2], 4) << "format " << format << " colour " << b;
    }
  }
}

TEST(PictureConversionLayout, surfaceWithoutSlack_isNeverWrittenPastItsLastRow) {
  // Odd sizes, rows exactly as wide as the pixels, no byte after the last
  // row: a store past the end is a heap overflow the sanitizer reports, and
  // the guard bytes behind the surface must stay as they were.
  for (const int format :
       {int(pf::kPixBgr32), int(pf::kPixRgb24), int(pf::kPixRgb565), int(pf::kPixGray8)}) {
    for (const bool halfSize : {false, true}) {
      for (const auto &[width, height] : {std::pair{720, 480}, std::pair{350, 287}}) {
        auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, width, height, 2);
        const int bpp = pf::SurfaceBytesPerPixel(format);
        const int outWidth = halfSize ? width / 2 : width, rows = halfSize ? height / 2 : height;
        std::vector<uint8_t> memory(size_t(outWidth) * bpp * rows + 16, kUntouched);
        SurfaceView view;
        view.bits = memory.data();
        view.bitCount = bpp * 8;
        view.pitch = outWidth * bpp;
        view.pixelFormat = format;
        view.rows = rows;
        // The view ends 16 bytes before the vector does.
        CPictureConverter converter;
        ASSERT_TRUE(
            converter.DrawInto(view, picture.get(), pf::kPixYuv420, width, height, halfSize));
        EXPECT_TRUE(AllBytesAre(memory.data() + memory.size() - 16, 16, kUntouched))
            << "format " << format << (halfSize ? " half" : " full") << " " << width;
        EXPECT_FALSE(AllBytesAre(memory.data() + memory.size() - 16 - view.pitch, view.pitch,
                                 kUntouched));  // the last row was drawn
      }
    }
  }
}

TEST(PictureConversionLayout, nullSurfaceAddress_countsAsDrawn_andWritesNothing) {
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 352, 288, 0);
  MemorySurface surface(pf::kPixBgr32, 32, 1408, 288);
  surface.SetNull();
  CPictureConverter converter;
  EXPECT_TRUE(converter.Draw(surface, picture.get(), pf::kPixYuv420, 352, 288, false));
  EXPECT_TRUE(AllBytesAre(surface.Bytes().data(), surface.Bytes().size(), kUntouched));
}

TEST(PictureConversionLayout, sizeLargerThanPicture_drawsOnlyThePictureItHas) {
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 352, 288, 0);
  MemorySurface surface(pf::kPixBgr32, 32, 2880, 480);
  CPictureConverter converter;
  ASSERT_TRUE(converter.Draw(surface, picture.get(), pf::kPixYuv420, 720, 480, false));
  EXPECT_TRUE(AllBytesAre(surface.Row(0) + 352 * 4, 2880 - 352 * 4, kUntouched));
  EXPECT_TRUE(AllBytesAre(surface.Row(288), 2880, kUntouched));
}

TEST(PictureConversionLayout, surfaceRows_boundTheWrites) {
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 352, 288, 0);
  MemorySurface surface(pf::kPixRgb24, 24, 1056, 100);  // too short for the picture
  CPictureConverter converter;
  EXPECT_TRUE(converter.Draw(surface, picture.get(), pf::kPixYuv420, 352, 288, false));
}

TEST(PictureConversionFailures, depthThatDisagreesWithFormat_orBadPitch_isAFailure) {
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 352, 288, 0);
  CPictureConverter converter;
  MemorySurface wrongDepth(pf::kPixBgr32, 16, 1408, 288);
  EXPECT_FALSE(converter.Draw(wrongDepth, picture.get(), pf::kPixYuv420, 352, 288, false));
  EXPECT_TRUE(AllBytesAre(wrongDepth.Bytes().data(), wrongDepth.Bytes().size(), kUntouched));
  MemorySurface unknownFormat(3, 32, 1408, 288);
  EXPECT_FALSE(converter.Draw(unknownFormat, picture.get(), pf::kPixYuv420, 352, 288, false));
  MemorySurface ok(pf::kPixBgr32, 32, 1408, 288);
  EXPECT_FALSE(converter.Draw(ok, nullptr, pf::kPixYuv420, 352, 288, false));
  // The surface's lock is released on every path.
  bool free = false;
  std::thread([&] {
    free = true;
    ok.Lock().Lock();
    ok.Lock().Unlock();
  }).join();
  EXPECT_TRUE(free);
}

TEST(PictureConversionColours, limitedAndFullRange_within4OfBt601) {
  struct Case {
    AVPixelFormat format;
    uint8_t code;
    bool fullRange;
  };
  for (const Case c : {Case{AV_PIX_FMT_YUV420P, pf::kPixYuv420, false},
                       Case{AV_PIX_FMT_YUV422P, pf::kPixYuv422, false},
                       Case{AV_PIX_FMT_YUVJ420P, pf::kPixYuvj420, true},
                       Case{AV_PIX_FMT_YUVJ422P, pf::kPixYuvj422, true}}) {
    auto picture = BlockPicture(c.format);
    const int width = picture->width;
    MemorySurface bgr(pf::kPixBgr32, 32, width * 4, 16);
    MemorySurface rgb(pf::kPixRgb24, 24, width * 3, 16);
    MemorySurface gray(pf::kPixGray8, 8, width, 16);
    MemorySurface r565(pf::kPixRgb565, 16, width * 2, 16);
    CPictureConverter converter;
    ASSERT_TRUE(converter.Draw(bgr, picture.get(), c.code, width, 16, false));
    ASSERT_TRUE(converter.Draw(rgb, picture.get(), c.code, width, 16, false));
    ASSERT_TRUE(converter.Draw(gray, picture.get(), c.code, width, 16, false));
    ASSERT_TRUE(converter.Draw(r565, picture.get(), c.code, width, 16, false));
    for (size_t b = 0; b < kColours.size(); ++b) {
      int want[3];
      Reference(kColours[b], c.fullRange, want);
      const int x = int(16 * b + 7), y = 7;
      const uint8_t *p = bgr.Row(y) + 4 * x;
      // libswscale's plain rounding (the accurate one is not worth its cost).
      EXPECT_NEAR(p[2], want[0], 4) << "format " << c.format << " colour " << b;
      EXPECT_NEAR(p[1], want[1], 4) << "format " << c.format << " colour " << b;
      EXPECT_NEAR(p[0], want[2], 4) << "format " << c.format << " colour " << b;
      const uint8_t *q = rgb.Row(y) + 3 * x;
      EXPECT_NEAR(q[0], want[0], 4);
      EXPECT_NEAR(q[1], want[1], 4);
      EXPECT_NEAR(q[2], want[2], 4);
      const int luma = c.fullRange ? kColours[b].y : Clamp((kColours[b].y - 16) * 255.0 / 219);
      EXPECT_NEAR(gray.Row(y)[x], luma, 2) << "gray, colour " << b;
      const uint16_t px = uint16_t(r565.Row(y)[2 * x] | (r565.Row(y)[2 * x + 1] << 8));
      EXPECT_NEAR((px >> 11) * 255 / 31, want[0], 12);
      EXPECT_NEAR(((px >> 5) & 63) * 255 / 63, want[1], 6);
      EXPECT_NEAR((px & 31) * 255 / 31, want[2], 12);
    }
  }
}

TEST(PictureConversionColours, decodedMjpegPicture_isShownFullRange_notWashedOut) {
  // Black and white stay black and white when MJPEG's full-range samples are
  // read as such (read as limited range they would come out 19 and 238).
  auto picture = orvan::av::MakeFrame();
  picture->format = AV_PIX_FMT_YUVJ420P;
  picture->width = 32;
  picture->height = 16;
  av_frame_get_buffer(picture.get(), 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) picture->data[0][y * picture->linesize[0] + x] = x < 16 ? 0 : 255;
  for (int p = 1; p <= 2; ++p)
    for (int y = 0; y < 8; ++y) std::memset(picture->data[p] + y * picture->linesize[p], 128, 16);
  MemorySurface surface(pf::kPixBgr32, 32, 128, 16);
  CPictureConverter converter;
  ASSERT_TRUE(converter.Draw(surface, picture.get(), pf::kPixYuvj420, 32, 16, false));
  EXPECT_LE(surface.Row(8)[4 * 4], 1);
  EXPECT_GE(surface.Row(8)[4 * 24], 254);
}

namespace {

// A 32-bit view of width x rows over memory, which holds slackBytes more
// behind the last row and then 16 guard bytes.
struct PartSurface {
  PartSurface(int width, int rows, int slackBytes)
      : memory(size_t(width) * 4 * rows + size_t(slackBytes) + 16, kUntouched) {
    view.bits = memory.data();
    view.bitCount = 32;
    view.pitch = width * 4;
    view.pixelFormat = pf::kPixBgr32;
    view.rows = rows;
    view.slackBytes = slackBytes;
  }
  const uint8_t *Pixel(int x, int y) const {
    return memory.data() + size_t(y) * view.pitch + size_t(x) * 4;
  }
  bool GuardIntact() const {
    return AllBytesAre(memory.data() + memory.size() - 16, 16, kUntouched);
  }
  std::vector<uint8_t> memory;
  SurfaceView view;
};

}  // namespace

TEST(PictureConversionParts, enlargedPart_isTheWholeConversionsRectangle_atItsOwnSize) {
  // A part shown at its own size (the drawer enlarges it afterwards) is the
  // same pixels as the whole picture converted, cut out.
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 720, 480, 4);
  MemorySurface whole(pf::kPixBgr32, 32, 2880, 480);
  CPictureConverter converter;
  ASSERT_TRUE(converter.Draw(whole, picture.get(), pf::kPixYuv420, 720, 480, false));
  for (const int slack : {0, orvan::media::kConversionSlackBytes}) {
    PartSurface part(696, 456, slack);
    ASSERT_TRUE(converter.DrawPartInto(part.view, ShownPart{14, 18, 710, 474, 696, 456},
                                       picture.get(), pf::kPixYuv420, 720, 480, false));
    EXPECT_TRUE(part.GuardIntact()) << slack;
    for (int y = 0; y < 456; ++y)
      ASSERT_EQ(std::memcmp(part.Pixel(0, y), whole.Row(18 + y) + 14 * 4, 696 * 4), 0)
          << "row " << y << " slack " << slack;
  }
}

TEST(PictureConversionParts, reducedHalfSizePart_matchesTheCroppedPictureStretched) {
  // The grid's tile: {14, 18, 350, 234} of the half-size picture (columns
  // and rows 28 to 700 and 36 to 468 of the decoded one) scaled into
  // 360 x 240, straight or through the converter's own buffer.
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 720, 480, 6);
  MemorySurface whole(pf::kPixBgr32, 32, 2880, 480);
  CPictureConverter converter;
  ASSERT_TRUE(converter.Draw(whole, picture.get(), pf::kPixYuv420, 720, 480, false));
  std::vector<std::vector<uint8_t>> results;
  for (const int slack : {0, orvan::media::kConversionSlackBytes}) {
    PartSurface tile(360, 240, slack);
    ASSERT_TRUE(converter.DrawPartInto(tile.view, ShownPart{14, 18, 350, 234, 360, 240},
                                       picture.get(), pf::kPixYuv420, 720, 480, true));
    EXPECT_TRUE(tile.GuardIntact()) << slack;
    // Against the nearest pixel of the whole picture: a filtered pixel
    // lies close to it, and every pixel of the tile was written.
    double sum = 0;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 360; ++x) {
        const int sx = 28 + (2 * x + 1) * 672 / 720, sy = 36 + (2 * y + 1) * 432 / 480;
        const uint8_t *got = tile.Pixel(x, y);
        const uint8_t *want = whole.Row(sy) + 4 * sx;
        for (int c = 0; c < 3; ++c) sum += std::abs(int(got[c]) - int(want[c]));
      }
    const double mean = sum / (360.0 * 240 * 3);
    EXPECT_LT(mean, 3.0) << "slack " << slack;
    results.push_back(
        std::vector<uint8_t>(tile.memory.begin(), tile.memory.begin() + 360 * 4 * 240));
  }
  EXPECT_EQ(results[0], results[1]);  // the buffer changes nothing but where it is stored
}

TEST(PictureConversionParts, partOutsideThePicture_isClippedOrRefused) {
  auto picture = orvan::test::MakeTestPicture(AV_PIX_FMT_YUV420P, 352, 288, 0);
  CPictureConverter converter;
  PartSurface surface(100, 100, 0);
  // Reaching past the picture: only the picture's own pixels are read.
  EXPECT_TRUE(converter.DrawPartInto(surface.view, ShownPart{300, 250, 900, 900, 100, 100},
                                     picture.get(), pf::kPixYuv420, 352, 288, false));
  EXPECT_TRUE(surface.GuardIntact());
  // Nothing of the picture inside the part, or nothing to fill.
  EXPECT_FALSE(converter.DrawPartInto(surface.view, ShownPart{400, 0, 500, 100, 100, 100},
                                      picture.get(), pf::kPixYuv420, 352, 288, false));
  EXPECT_FALSE(converter.DrawPartInto(surface.view, ShownPart{0, 0, 100, 100, 0, 100},
                                      picture.get(), pf::kPixYuv420, 352, 288, false));
  EXPECT_TRUE(surface.GuardIntact());
}

TEST(PictureConversionParts, grayPicture_isDrawnAtHalfSizeToo) {
  // A grayscale JPEG decodes to one plane; refusing it at half size would
  // leave it pending for ever in a grid tile.
  auto picture = orvan::av::MakeFrame();
  picture->format = AV_PIX_FMT_GRAY8;
  picture->width = 64;
  picture->height = 32;
  av_frame_get_buffer(picture.get(), 0);
  for (int y = 0; y < 32; ++y) std::memset(picture->data[0] + y * picture->linesize[0], 200, 64);
  const int shown = Clamp((200 - 16) * 255.0 / 219);  // limited range
  CPictureConverter converter;
  MemorySurface half(pf::kPixBgr32, 32, 32 * 4, 16);
  ASSERT_TRUE(converter.Draw(half, picture.get(), pf::kPixOther, 64, 32, true));
  EXPECT_NEAR(half.Row(15)[4 * 31], shown, 3);
  PartSurface part(20, 10, 0);
  ASSERT_TRUE(converter.DrawPartInto(part.view, ShownPart{2, 2, 30, 14, 20, 10}, picture.get(),
                                     pf::kPixOther, 64, 32, true));
  EXPECT_NEAR(part.Pixel(19, 9)[1], shown, 3);
  EXPECT_TRUE(part.GuardIntact());
}
