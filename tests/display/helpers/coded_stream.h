// Real coded video for the display tests: synthetic pictures encoded with
// libavcodec's own MPEG-4 and MJPEG encoders, and an independent decode and
// conversion of them to compare what the display shows against.
#pragma once

#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace orvan::test {

struct CodedPicture {
  std::vector<uint8_t> bytes;
  bool key = false;
};

enum class Codec { Mpeg4, Mjpeg };

// count pictures of width x height; a key picture every gop pictures
// (MJPEG pictures are all key pictures). Picture i shows four coloured
// quarters over a gradient, with a bar that moves with i. Empty on failure.
std::vector<CodedPicture> EncodeStream(Codec codec, int width, int height, int count, int gop = 12);

// Decodes the stream with libavcodec directly and converts every picture
// to 32-bit B, G, R, x (QImage::Format_RGB32). One image per picture that
// came out.
std::vector<QImage> DecodeToRgb32(Codec codec, const std::vector<CodedPicture> &stream);

// Nearest-neighbour stretch of src's rectangle onto a dstW x dstH image.
QImage StretchNearest(const QImage &src, const QRect &from, int dstW, int dstH);

// Mean absolute difference per channel of two equally sized RGB32 images
// (B, G, R only); a large value when the sizes differ.
double MeanAbsDiff(const QImage &a, const QImage &b);

}  // namespace orvan::test
