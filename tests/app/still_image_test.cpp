#include "app/still_image.h"
#include "app/still_image_command.h"

#include <gtest/gtest.h>

#include <QRect>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "tests/support/test_support.h"

using namespace orvan::app;

namespace {

constexpr auto kKeep = orvan::platform::ReplacePolicy::kKeepExisting;

// Writes a .yuv file: line code, time, then the given samples (or flat
// samples of the given values).
std::string WriteYuv(const orvan::test::TempDir &dir, const std::string &name, uint32_t code,
                     uint32_t seconds, const std::vector<uint8_t> &samples) {
  const std::string path = dir.File(name);
  std::ofstream out(path, std::ios::binary);
  const uint32_t header[2] = {code, seconds};
  out.write(reinterpret_cast<const char *>(header), sizeof header);
  out.write(reinterpret_cast<const char *>(samples.data()), std::streamsize(samples.size()));
  return path;
}

std::vector<uint8_t> FlatSamples(int lines, uint8_t y, uint8_t p1, uint8_t p2) {
  std::vector<uint8_t> s(size_t(1080) * lines);
  std::fill(s.begin(), s.begin() + 720 * lines, y);
  std::fill(s.begin() + 720 * lines, s.begin() + 900 * lines, p1);
  std::fill(s.begin() + 900 * lines, s.end(), p2);
  return s;
}

YuvStill Still(int lines, std::vector<uint8_t> samples) {
  YuvStill s;
  s.lines = lines;
  s.samples = std::move(samples);
  return s;
}

uint8_t Clamp(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

TEST(StillConversion, edgeValues_black16_white235_clamped255) {
  const struct {
    uint8_t y;
    uint8_t expected;
  } cases[] = {{16, 0}, {235, 254}, {255, 255}, {0, 0}};
  for (const auto &c : cases) {
    const auto pixels = ConvertStillToPixels(Still(480, FlatSamples(480, c.y, 128, 128)));
    for (size_t at : {size_t(0), pixels.size() / 2, pixels.size() - 4}) {
      EXPECT_EQ(pixels[at], c.expected) << int(c.y);
      EXPECT_EQ(pixels[at + 1], c.expected) << int(c.y);
      EXPECT_EQ(pixels[at + 2], c.expected) << int(c.y);
    }
  }
}

TEST(StillConversion, everyPixel_matchesTheFixedPointFormula_withOneChromaPairPerBlock) {
  for (int lines : {480, 576}) {
    std::mt19937 random(lines);
    std::vector<uint8_t> samples(size_t(1080) * lines);
    for (auto &s : samples) s = uint8_t(random());
    const YuvStill still = Still(lines, samples);
    std::vector<uint8_t> pixels(size_t(720) * lines * 4, 0xEE);
    ConvertStill(still, YuvTables::Build(), pixels.data());
    const uint8_t *luma = samples.data();
    const uint8_t *p1Plane = luma + 720 * lines;
    const uint8_t *p2Plane = p1Plane + 360 * (lines / 2);
    for (int row = 0; row < lines; ++row)
      for (int x = 0; x < 720; ++x) {
        const int y = (luma[row * 720 + x] - 16) * 76309;
        const int p1 = p1Plane[(row / 2) * 360 + x / 2] - 128;
        const int p2 = p2Plane[(row / 2) * 360 + x / 2] - 128;
        const uint8_t *px = &pixels[(size_t(row) * 720 + x) * 4];
        ASSERT_EQ(px[0], Clamp((y + p1 * 104597) >> 16)) << row << "," << x;
        ASSERT_EQ(px[1], Clamp((y - p2 * 25675 - p1 * 53279) >> 16)) << row << "," << x;
        ASSERT_EQ(px[2], Clamp((y + p2 * 132201) >> 16)) << row << "," << x;
        ASSERT_EQ(px[3], 0xEE);  // byte 3 is not written
      }
  }
}

TEST(StillConversion, tables_holdTheScaledFactors_andClampCoversMinus384To639) {
  const YuvTables t = YuvTables::Build();
  EXPECT_EQ(t.luma[16], 0);
  EXPECT_EQ(t.luma[17], 76309);
  EXPECT_EQ(t.firstToByte0[0], -128 * 104597);
  EXPECT_EQ(t.secondToByte2[255], 127 * 132201);
  EXPECT_EQ(t.secondToByte1[129], 25675);
  EXPECT_EQ(t.firstToByte1[127], -53279);
  EXPECT_EQ(t.Clamp(-384), 0);
  EXPECT_EQ(t.Clamp(-1), 0);
  EXPECT_EQ(t.Clamp(0), 0);
  EXPECT_EQ(t.Clamp(200), 200);
  EXPECT_EQ(t.Clamp(255), 255);
  EXPECT_EQ(t.Clamp(256), 255);
  EXPECT_EQ(t.Clamp(639), 255);
}

TEST(StillFiles, exactSizesAreRead_otherSizesAndLineCodesRefused) {
  orvan::test::TempDir dir;
  YuvStill still;
  const auto ok480 = WriteYuv(dir, "a.yuv", 0, 1202982297, FlatSamples(480, 100, 128, 128));
  ASSERT_EQ(ReadYuvFile(ok480, still), YuvReadResult::Ok);
  EXPECT_EQ(still.lines, 480);
  EXPECT_EQ(still.recordedSeconds, 1202982297u);
  EXPECT_EQ(std::filesystem::file_size(ok480), 518408u);

  const auto ok576 = WriteYuv(dir, "b.yuv", 1, 5, FlatSamples(576, 100, 128, 128));
  ASSERT_EQ(ReadYuvFile(ok576, still), YuvReadResult::Ok);
  EXPECT_EQ(still.lines, 576);
  EXPECT_EQ(std::filesystem::file_size(ok576), 622088u);

  auto plusOne = FlatSamples(480, 100, 128, 128);
  plusOne.push_back(0);
  YuvStill untouched;
  EXPECT_EQ(ReadYuvFile(WriteYuv(dir, "c.yuv", 0, 5, plusOne), untouched), YuvReadResult::BadSize);
  EXPECT_EQ(untouched.lines, 0);
  EXPECT_EQ(ReadYuvFile(WriteYuv(dir, "d.yuv", 2, 5, FlatSamples(480, 1, 1, 1)), untouched),
            YuvReadResult::BadLineCode);
  EXPECT_EQ(ReadYuvFile(WriteYuv(dir, "e.yuv", 0, 5, FlatSamples(576, 1, 1, 1)), untouched),
            YuvReadResult::BadSize);  // 576 lines of samples under a 480 code
  EXPECT_EQ(ReadYuvFile(WriteYuv(dir, "f.yuv", 0, 5, {}), untouched), YuvReadResult::BadSize);
  {
    std::ofstream tiny(dir.File("g.yuv"), std::ios::binary);
    tiny << "abc";
  }
  EXPECT_EQ(ReadYuvFile(dir.File("g.yuv"), untouched), YuvReadResult::BadSize);
  EXPECT_EQ(ReadYuvFile(dir.File("missing.yuv"), untouched), YuvReadResult::CannotOpen);
  EXPECT_EQ(untouched.lines, 0);
}

TEST(StillBitmap, headersAreExact_andRowsAreStoredBottomUp) {
  std::vector<uint8_t> pixels(size_t(720) * 480 * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i / (720 * 4));  // row number
  const auto file = MakeBitmapFile(pixels.data(), 720, 480);
  ASSERT_EQ(file.size(), 720u * 480 * 4 + 54);
  const uint8_t header[54] = {
      'B',  'M',  0x36, 0x18, 0x15, 0x00,          // 1382454
      0,    0,    0,    0,    54,   0,    0,  0,   // reserved, offset
      40,   0,    0,    0,    0xD0, 0x02, 0,  0,   // size, width 720
      0xE0, 0x01, 0,    0,    1,    0,    32, 0,   // height 480, planes, bits
      0,    0,    0,    0,    0,    0,    0,  0,   // compression, image size
      1,    0,    0,    0,    1,    0,    0,  0,   // resolution
      0,    0,    0,    0,    0,    0,    0,  0};  // palette
  EXPECT_EQ(std::memcmp(file.data(), header, 54), 0);
  EXPECT_EQ(file[54], uint8_t(479));             // the last row comes first
  EXPECT_EQ(file[file.size() - 1], uint8_t(0));  // the first row comes last
}

TEST(StillPicture, cropAndStretch_mapsTheInnerRectangleOverTheWholePicture) {
  for (int lines : {480, 576}) {
    QImage source(720, lines, QImage::Format_RGB32);
    for (int y = 0; y < lines; ++y)
      for (int x = 0; x < 720; ++x) source.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 64));
    const QImage out = CropAndStretch(source);
    ASSERT_EQ(out.width(), 720);
    ASSERT_EQ(out.height(), lines);
    EXPECT_EQ(out.pixel(0, 0), source.pixel(14, 18));
    EXPECT_EQ(out.pixel(719, lines - 1), source.pixel(709, lines - 7));
    // Nothing from the border columns and rows reaches the picture.
    for (int x = 0; x < 720; ++x) {
      const int red = qRed(out.pixel(x, lines / 2)), blue = qBlue(out.pixel(x, lines / 2));
      const int sourceX = red + blue / 64 * 256;
      EXPECT_GE(sourceX, 14);
      EXPECT_LT(sourceX, 710);
    }
  }
}

TEST(StillPicture, loadedPicture_carriesTheTimeStampAt580_460) {
  orvan::test::TempDir dir;
  // A mid-grey picture, so the white box and black text stand out.
  const auto path = WriteYuv(dir, "shot.yuv", 0, 1202982297, FlatSamples(480, 126, 128, 128));
  QImage picture;
  YuvStill still;
  ASSERT_EQ(LoadStillImage(path, picture, &still), YuvReadResult::Ok);
  EXPECT_EQ(StillTimeText(still.recordedSeconds), QString("2008/02/14_09:44:57"));
  ASSERT_EQ(picture.size(), QSize(720, 480));
  const QRgb grey = picture.pixel(100, 100);
  EXPECT_EQ(qRed(grey), 128);
  EXPECT_EQ(picture.pixel(579, 470), grey);  // left of the stamp
  EXPECT_EQ(picture.pixel(590, 459), grey);  // above it
  EXPECT_EQ(picture.pixel(580, 460), qRgb(255, 255, 255));
  int black = 0, white = 0;
  for (int y = 460; y < 474; ++y)
    for (int x = 580; x < 710; ++x) {
      if (picture.pixel(x, y) == qRgb(0, 0, 0)) ++black;
      if (picture.pixel(x, y) == qRgb(255, 255, 255)) ++white;
    }
  EXPECT_GT(black, 50);
  EXPECT_GT(white, 200);
}

TEST(StillPicture, a576LinePicture_keepsItsSize_withTheStampAtRow460) {
  orvan::test::TempDir dir;
  const auto path = WriteYuv(dir, "tall.yuv", 1, 0, FlatSamples(576, 126, 128, 128));
  QImage picture;
  ASSERT_EQ(LoadStillImage(path, picture), YuvReadResult::Ok);
  ASSERT_EQ(picture.size(), QSize(720, 576));
  EXPECT_EQ(picture.pixel(580, 460), qRgb(255, 255, 255));
  EXPECT_EQ(qRed(picture.pixel(600, 540)), 128);  // below the stamp: the picture
}

TEST(StillPicture, timeStamp_fitsWholeInsideThePicture_andChangesNothingOutsideItsBox) {
  orvan::test::TempDir dir;
  for (const auto &[code, lines] : {std::pair{0u, 480}, std::pair{1u, 576}}) {
    const auto samples = FlatSamples(lines, 126, 128, 128);
    const auto path = WriteYuv(dir, "stamp.yuv", code, 1202982297, samples);
    QImage stamped;
    ASSERT_EQ(LoadStillImage(path, stamped), YuvReadResult::Ok);
    const auto pixels = ConvertStillToPixels(Still(lines, samples));
    const QImage plain =
        CropAndStretch(QImage(pixels.data(), 720, lines, 720 * 4, QImage::Format_RGB32).copy());
    ASSERT_EQ(stamped.size(), plain.size());
    QRect changed;
    int rightmostText = -1;
    for (int y = 0; y < lines; ++y)
      for (int x = 0; x < 720; ++x) {
        if (stamped.pixel(x, y) == plain.pixel(x, y)) continue;
        changed |= QRect(x, y, 1, 1);
        if (stamped.pixel(x, y) == qRgb(0, 0, 0)) rightmostText = std::max(rightmostText, x);
      }
    EXPECT_EQ(changed.topLeft(), QPoint(580, 460)) << lines;
    // The white box closes before the picture's edges: no glyph is cut.
    EXPECT_LT(changed.right(), 719) << lines;
    EXPECT_GT(rightmostText, 680) << lines;  // the last digit is drawn
    EXPECT_LT(rightmostText, changed.right()) << lines;
  }
}

TEST(StillPicture, refusedFiles_leaveThePreviousPicture) {
  orvan::test::TempDir dir;
  QImage picture(10, 10, QImage::Format_RGB32);
  picture.fill(qRgb(1, 2, 3));
  auto tooLong = FlatSamples(480, 1, 1, 1);
  tooLong.push_back(7);
  EXPECT_EQ(LoadStillImage(WriteYuv(dir, "x.yuv", 0, 0, tooLong), picture), YuvReadResult::BadSize);
  EXPECT_EQ(LoadStillImage(WriteYuv(dir, "y.yuv", 2, 0, FlatSamples(480, 1, 1, 1)), picture),
            YuvReadResult::BadLineCode);
  EXPECT_EQ(LoadStillImage(dir.File("none.yuv"), picture), YuvReadResult::CannotOpen);
  EXPECT_EQ(picture.size(), QSize(10, 10));
  EXPECT_EQ(picture.pixel(5, 5), qRgb(1, 2, 3));
}

TEST(StillCommand, rawWritesTheBareConversion_andGivesLinesAndTime) {
  orvan::test::TempDir dir;
  std::mt19937 random(3);
  std::vector<uint8_t> samples(size_t(1080) * 480);
  for (auto &s : samples) s = uint8_t(random());
  const auto path = WriteYuv(dir, "in.yuv", 0, 1202982297, samples);
  StillFile written;
  std::string error;
  ASSERT_EQ(WriteStillFile(path, dir.File("raw.bin"), true, kKeep, written, error),
            StillFileStatus::kWritten)
      << error;
  EXPECT_EQ(written.lines, 480);
  EXPECT_EQ(written.time, "2008/02/14_09:44:57");
  const std::vector<uint8_t> raw = orvan::test::ReadFileBytes(dir.File("raw.bin"));
  EXPECT_EQ(raw, ConvertStillToPixels(Still(480, samples)));
}

TEST(StillCommand, bitmapIsThePictureImagePlayShows) {
  orvan::test::TempDir dir;
  const auto path = WriteYuv(dir, "in.yuv", 1, 0, FlatSamples(576, 126, 128, 128));
  StillFile still;
  std::string error;
  ASSERT_EQ(WriteStillFile(path, dir.File("shown.bmp"), false, kKeep, still, error),
            StillFileStatus::kWritten)
      << error;
  QImage written(QString::fromStdString(dir.File("shown.bmp")));
  QImage shown;
  ASSERT_EQ(LoadStillImage(path, shown), YuvReadResult::Ok);
  ASSERT_EQ(written.size(), QSize(720, 576));
  for (int y = 0; y < 576; y += 7)
    for (int x = 0; x < 720; x += 5)
      ASSERT_EQ(written.pixel(x, y) & 0xFFFFFF, shown.pixel(x, y) & 0xFFFFFF) << x << "," << y;
  EXPECT_EQ(std::filesystem::file_size(dir.File("shown.bmp")), 720u * 576 * 4 + 54);
}

TEST(StillCommand, refusedFile_writesNothing_andSaysWhy) {
  orvan::test::TempDir dir;
  const auto bad = WriteYuv(dir, "bad.yuv", 2, 0, FlatSamples(480, 1, 1, 1));
  StillFile written;
  std::string error;
  EXPECT_EQ(WriteStillFile(bad, dir.File("x.bmp"), false, kKeep, written, error),
            StillFileStatus::kStillRefused);
  EXPECT_EQ(error, bad + ": line code is neither 0 nor 1");
  EXPECT_EQ(WriteStillFile(bad, dir.File("x.bin"), true, kKeep, written, error),
            StillFileStatus::kStillRefused);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.bmp")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.bin")));
  EXPECT_EQ(written.lines, 0);
}
