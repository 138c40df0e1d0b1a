// The recorder's raw still pictures (".yuv"): reading and checking a file,
// the integer colour conversion, the 32-bit Windows bitmap built from it,
// the crop and stretch that drops the recorder's black border, and the time
// stamp written into the picture.
//
// A .yuv file (little-endian): a 32-bit line code (0: 480 lines, 1: 576),
// the recording time in recorder seconds (32 bits), then a 720 x L luma
// plane and two 360 x L/2 chroma planes. Its size is exactly 8 + 1080 * L.
//
// Threading: plain functions on the caller's data; QImage and QPainter work
// is done on whatever thread calls (the main thread in the program).
#pragma once

#include <QImage>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvan::app {

constexpr int kStillWidth = 720;
constexpr int kStillChromaWidth = 360;
constexpr uint32_t kStillHeaderBytes = 8;

struct YuvStill {
  int lines = 0;                 // 480 or 576
  uint32_t recordedSeconds = 0;  // recorder time
  std::vector<uint8_t> samples;  // luma, first chroma, second chroma: 1080 * lines bytes
};

enum class YuvReadResult { Ok, CannotOpen, NotAFile, BadLineCode, BadSize, ReadFailed };

// What is wrong with a refused still, for the user ("file size does not
// match its line count"); empty for Ok.
const char *YuvRefusalText(YuvReadResult result);

// Lines of a line code: 480 for 0, 576 for 1, 0 for anything else.
int StillLinesForCode(uint32_t code);
// The exact file size a line count needs: 8 + 1080 * lines.
uint64_t StillFileBytes(int lines);

// Reads and checks a file; `still` is filled only on Ok. The file is opened
// read-only, and only a regular file is read (a FIFO is never waited on).
YuvReadResult ReadYuvFile(const std::string &path, YuvStill &still);

// The 16.16 fixed-point conversion tables (BT.601 factors scaled by 65536).
struct YuvTables {
  std::array<int32_t, 256> luma;           // (i - 16) * 76309
  std::array<int32_t, 256> firstToByte0;   // (i - 128) * 104597
  std::array<int32_t, 256> secondToByte2;  // (i - 128) * 132201
  std::array<int32_t, 256> secondToByte1;  // (i - 128) * 25675
  std::array<int32_t, 256> firstToByte1;   // (i - 128) * 53279
  std::array<uint8_t, 1024> clampTable;    // indexes -384 .. 639
  uint8_t Clamp(int32_t index) const { return clampTable[size_t(index + 384)]; }
  static YuvTables Build();
};

// Converts every 2 x 2 block: `pixels` receives 720 * lines 4-byte pixels,
// top row first; bytes 0..2 are written, byte 3 is left as it was. `pixels`
// must hold 720 * lines * 4 bytes.
void ConvertStill(const YuvStill &still, const YuvTables &tables, uint8_t *pixels);

// A 32-bit Windows bitmap file of width x height 4-byte pixels given top row
// first: 54 bytes of headers, then the rows bottom-up.
std::vector<uint8_t> MakeBitmapFile(const uint8_t *pixels, int width, int height);

// Copies the rectangle (14, 18)-(710, lines - 6) of `picture`, stretched,
// over the whole of a new 720 x lines picture.
QImage CropAndStretch(const QImage &picture);

// Writes `text` at (580, 460) (top-left of the text) in the default font,
// bold, black on an opaque white background: at 10 points, or at the
// largest smaller size whose text fits whole inside the picture. Only the
// stamp's box, which never runs past the picture's edges, is changed.
constexpr int kTimeStampLeft = 580;
constexpr int kTimeStampTop = 460;
constexpr qreal kTimeStampPoints = 10;
constexpr qreal kTimeStampMinPoints = 4;
void DrawTimeStamp(QImage &picture, const QString &text);

// The time stamp of a recording time: "yyyy/mm/dd_hh:nn:ss".
QString StillTimeText(uint32_t recordedSeconds);

// The whole path from a file to the picture Image Play shows. On any
// refusal returns the reason and leaves `picture` as it was.
YuvReadResult LoadStillImage(const std::string &path, QImage &picture, YuvStill *still = nullptr);

// The bare conversion of a still: 720 x lines pixels of 4 bytes (B, G, R,
// 0), top row first.
std::vector<uint8_t> ConvertStillToPixels(const YuvStill &still);

}  // namespace orvan::app
