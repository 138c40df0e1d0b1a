#include "media/snapshot_jpeg.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

#include "tests/support/jpeg_tags.h"
#include "tests/support/test_support.h"

using orvan::media::Capture;

namespace {

// A smooth capture picture: B, G, R per pixel from position.
void PixelColour(int x, int y, uint8_t &r, uint8_t &g, uint8_t &b) {
  r = uint8_t(40 + x * 160 / 320);
  g = uint8_t(30 + y * 180 / 240);
  b = uint8_t(200 - (x + y) * 150 / 560);
}

std::vector<uint8_t> MakeCapture(int width, int height, int bpp) {
  std::vector<uint8_t> out(size_t(width) * height * (bpp / 8));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t r, g, b;
      PixelColour(x, y, r, g, b);
      uint8_t *p = &out[(size_t(y) * width + x) * (bpp / 8)];
      if (bpp == 16) {
        const unsigned v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
      } else {
        p[0] = b;
        p[1] = g;
        p[2] = r;
        if (bpp == 32) p[3] = 0x5A;  // ignored
      }
    }
  return out;
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Decodes with libjpeg itself into R, G, B.
bool DecodeJpeg(const std::vector<uint8_t> &jpeg, Decoded &out) {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), (unsigned long)jpeg.size());
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  out.width = int(info.output_width);
  out.height = int(info.output_height);
  out.rgb.resize(size_t(out.width) * out.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &out.rgb[size_t(info.output_scanline) * out.width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

void ExpectPictureMatches(const Decoded &d, int width, int height, int tolerance) {
  ASSERT_EQ(d.width, width);
  ASSERT_EQ(d.height, height);
  double sum = 0;
  int worst = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t want[3];
      PixelColour(x, y, want[0], want[1], want[2]);
      for (int c = 0; c < 3; ++c) {
        const int diff = std::abs(int(d.rgb[(size_t(y) * width + x) * 3 + c]) - want[c]);
        sum += diff;
        worst = std::max(worst, diff);
      }
    }
  EXPECT_LT(sum / (width * height * 3.0), 2.5);
  EXPECT_LE(worst, tolerance);
}

}  // namespace

TEST(SnapshotJpeg, captures32_24_16bit_decodeToTheCapturedPicture) {
  for (const int bpp : {32, 24, 16}) {
    SCOPED_TRACE(bpp);
    const auto pixels = MakeCapture(320, 240, bpp);
    Capture capture{pixels.data(), pixels.size(), 320, 240, bpp};
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, jpeg));
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    Decoded decoded;
    ASSERT_TRUE(DecodeJpeg(jpeg, decoded));
    // 5-6-5 loses up to 7 levels before the JPEG does.
    ExpectPictureMatches(decoded, 320, 240, bpp == 16 ? 24 : 16);
  }
}

TEST(SnapshotJpeg, shortCaptureOrOddDepth_isRefused_neverReadPast) {
  const auto pixels = MakeCapture(64, 48, 32);
  std::vector<uint8_t> jpeg;
  // One byte short of 64 x 48 x 4: refused (ASan would also catch a read).
  std::vector<uint8_t> exact(pixels.begin(), pixels.end() - 1);
  EXPECT_FALSE(
      orvan::media::EncodeSnapshotJpeg(Capture{exact.data(), exact.size(), 64, 48, 32}, jpeg));
  EXPECT_TRUE(jpeg.empty());
  EXPECT_FALSE(
      orvan::media::EncodeSnapshotJpeg(Capture{pixels.data(), pixels.size(), 64, 48, 8}, jpeg));
  EXPECT_FALSE(orvan::media::EncodeSnapshotJpeg(Capture{nullptr, 0, 64, 48, 32}, jpeg));
  EXPECT_FALSE(
      orvan::media::EncodeSnapshotJpeg(Capture{pixels.data(), pixels.size(), 0, 48, 32}, jpeg));
}

TEST(SnapshotJpeg, quality80_liesBetweenLowerAndHigherQualities) {
  const auto pixels = MakeCapture(320, 240, 32);
  const Capture capture{pixels.data(), pixels.size(), 320, 240, 32};
  std::vector<uint8_t> q50, q80, q95, byDefault;
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, q50, 50));
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, q80, 80));
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, q95, 95));
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, byDefault));
  EXPECT_EQ(byDefault, q80);
  EXPECT_LT(q50.size(), q80.size());
  EXPECT_LT(q80.size(), q95.size());
}

TEST(SnapshotJpeg, saveWritesTheFile_andAMissingFolderFails) {
  orvan::test::TempDir dir;
  const auto pixels = MakeCapture(32, 16, 32);
  const Capture capture{pixels.data(), pixels.size(), 32, 16, 32};
  const std::string path = dir.File("Img_20080214_094457.jpg");
  ASSERT_TRUE(orvan::media::SaveSnapshotJpeg(capture, path));
  std::vector<uint8_t> bytes = orvan::test::ReadFileBytes(path);
  std::vector<uint8_t> expected;
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, expected));
  EXPECT_EQ(bytes, expected);
  EXPECT_FALSE(orvan::media::SaveSnapshotJpeg(capture, dir.File("missing/shot.jpg")));
}

TEST(SnapshotJpeg, tags_carryTheShownTimeAsExifDateTimeOriginal_andTheComment) {
  const auto pixels = MakeCapture(64, 48, 32);
  const Capture capture{pixels.data(), pixels.size(), 64, 48, 32};
  orvan::media::SnapshotTags tags;
  tags.shownSeconds = 1202982297;  // 2008-02-14 09:44:57 on the recorder's clock
  tags.comment = "ORVAN Viewer snapshot; source: HDD Play, HDD_0; channels: CH1 CH2 CH3 CH4";
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, jpeg, 80, tags));
  const orvan::test::JpegTags read = orvan::test::ReadJpegTags(jpeg);
  EXPECT_TRUE(read.hasExif);
  EXPECT_EQ(read.dateTimeOriginal, "2008:02:14 09:44:57");
  EXPECT_EQ(read.comment, tags.comment);
  EXPECT_EQ(read.imageDescription, tags.comment);  // in EXIF too
  // libjpeg reads the same markers, and the picture is untouched by them.
  Decoded decoded;
  ASSERT_TRUE(DecodeJpeg(jpeg, decoded));
  ExpectPictureMatches(decoded, 64, 48, 16);

  // No tags, no markers; a comment longer than a marker holds is cut.
  std::vector<uint8_t> plain;
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, plain));
  EXPECT_FALSE(orvan::test::ReadJpegTags(plain).hasExif);
  EXPECT_TRUE(orvan::test::ReadJpegTags(plain).comment.empty());
  tags.comment.assign(70000, 'x');
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, jpeg, 80, tags));
  EXPECT_EQ(orvan::test::ReadJpegTags(jpeg).comment.size(), 65000u);
  EXPECT_EQ(orvan::test::ReadJpegTags(jpeg).imageDescription.size(), 65000u);
  ASSERT_TRUE(DecodeJpeg(jpeg, decoded));
  // A description of under four bytes is not stored in its entry.
  tags.comment = "ab";
  ASSERT_TRUE(orvan::media::EncodeSnapshotJpeg(capture, jpeg, 80, tags));
  EXPECT_EQ(orvan::test::ReadJpegTags(jpeg).imageDescription, "ab  ");
  EXPECT_EQ(orvan::test::ReadJpegTags(jpeg).dateTimeOriginal, "2008:02:14 09:44:57");
}
