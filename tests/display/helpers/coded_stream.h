// Real coded video for the display tests (the media tests' libavcodec
// encoders), an independent decode and RGB conversion of it, and picture
// comparisons, to check what the display shows.
#pragma once

#include <QImage>

#include <string>
#include <vector>

#include "tests/media/test_streams.h"

namespace orvan::test {

// Encoded with "mpeg4" (4:2:0) or "mjpeg" (full-range 4:2:0), a key
// picture every gop pictures.
std::vector<CodedPicture> Mpeg4Stream(int width, int height, int count, int gop = 12);
std::vector<CodedPicture> MjpegStream(int width, int height, int count);

// Decodes the stream with libavcodec directly and converts every picture to
// 32-bit B, G, R, x (QImage::Format_RGB32); element i belongs to packet i
// (a null image when that packet gave no picture).
std::vector<QImage> DecodeToRgb32(const std::string &decoder,
                                  const std::vector<CodedPicture> &stream);

// Nearest-neighbour stretch of src's rectangle onto a dstW x dstH image.
QImage StretchNearest(const QImage &src, const QRect &from, int dstW, int dstH);

// Mean absolute difference per channel (B, G, R) of two equally sized RGB32
// images; a huge value when the sizes differ.
double MeanAbsDiff(const QImage &a, const QImage &b);

}  // namespace orvan::test
