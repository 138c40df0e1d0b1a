#include "app/still_image.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/source_registry.h"
#include "platform/wintime.h"

namespace orvan::app {

namespace {

void PutU16(std::vector<uint8_t> &out, size_t at, uint16_t v) {
  out[at] = uint8_t(v);
  out[at + 1] = uint8_t(v >> 8);
}
void PutU32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}
uint32_t GetU32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool ReadAt(int fd, uint64_t offset, uint8_t *buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, buffer + done, length - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

int StillLinesForCode(uint32_t code) {
  switch (code) {
    case 0:
      return 480;
    case 1:
      return 576;
    default:
      return 0;
  }
}

uint64_t StillFileBytes(int lines) { return kStillHeaderBytes + 1080ull * uint64_t(lines); }

YuvReadResult ReadYuvFile(const std::string &path, YuvStill &still) {
  const platform::SourceOpenResult opened = platform::OpenSource(path, platform::SourceKind::kFile);
  if (opened.wrongKind) return YuvReadResult::NotAFile;
  if (opened.fd < 0) return YuvReadResult::CannotOpen;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } const file{opened.fd};
  const int fd = file.fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) return YuvReadResult::ReadFailed;
  const uint64_t size = uint64_t(st.st_size);
  uint8_t header[kStillHeaderBytes];
  if (size < sizeof header || !ReadAt(fd, 0, header, sizeof header)) return YuvReadResult::BadSize;
  const int lines = StillLinesForCode(GetU32(header));
  if (lines == 0) return YuvReadResult::BadLineCode;
  if (size != StillFileBytes(lines)) return YuvReadResult::BadSize;
  std::vector<uint8_t> samples(size_t(1080) * lines);
  if (!ReadAt(fd, sizeof header, samples.data(), samples.size())) return YuvReadResult::ReadFailed;
  still.lines = lines;
  still.recordedSeconds = GetU32(header + 4);
  still.samples = std::move(samples);
  return YuvReadResult::Ok;
}

YuvTables YuvTables::Build() {
  YuvTables t{};
  for (int i = 0; i < 256; ++i) {
    t.luma[i] = (i - 16) * 76309;
    t.firstToByte0[i] = (i - 128) * 104597;
    t.secondToByte2[i] = (i - 128) * 132201;
    t.secondToByte1[i] = (i - 128) * 25675;
    t.firstToByte1[i] = (i - 128) * 53279;
  }
  for (int index = -384; index < 640; ++index)
    t.clampTable[size_t(index + 384)] = uint8_t(index < 0 ? 0 : index > 255 ? 255 : index);
  return t;
}

void ConvertStill(const YuvStill &still, const YuvTables &t, uint8_t *pixels) {
  const int lines = still.lines;
  if ((lines != 480 && lines != 576) || still.samples.size() != size_t(1080) * lines) return;
  const uint8_t *luma = still.samples.data();
  const uint8_t *first = luma + size_t(kStillWidth) * lines;
  const uint8_t *second = first + size_t(kStillChromaWidth) * (lines / 2);
  for (int r = 0; r < lines / 2; ++r) {
    for (int c = 0; c < kStillChromaWidth; ++c) {
      const uint8_t p1 = first[size_t(r) * kStillChromaWidth + c];
      const uint8_t p2 = second[size_t(r) * kStillChromaWidth + c];
      // One set of chroma look-ups for the four pixels of the block.
      const int32_t toByte0 = t.firstToByte0[p1];
      const int32_t toByte1 = t.secondToByte1[p2] + t.firstToByte1[p1];
      const int32_t toByte2 = t.secondToByte2[p2];
      for (int dy = 0; dy < 2; ++dy) {
        const size_t row = size_t(2 * r + dy);
        for (int dx = 0; dx < 2; ++dx) {
          const size_t x = size_t(2 * c + dx);
          const int32_t y = t.luma[luma[row * kStillWidth + x]];
          uint8_t *px = pixels + (row * kStillWidth + x) * 4;
          px[0] = t.Clamp((y + toByte0) >> 16);
          px[1] = t.Clamp((y - toByte1) >> 16);
          px[2] = t.Clamp((y + toByte2) >> 16);
        }
      }
    }
  }
}

std::vector<uint8_t> ConvertStillToPixels(const YuvStill &still) {
  std::vector<uint8_t> pixels(size_t(kStillWidth) * still.lines * 4, 0);
  ConvertStill(still, YuvTables::Build(), pixels.data());
  return pixels;
}

std::vector<uint8_t> MakeBitmapFile(const uint8_t *pixels, int width, int height) {
  const size_t rowBytes = size_t(width) * 4;
  const size_t imageBytes = rowBytes * height;
  std::vector<uint8_t> out(54 + imageBytes, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutU32(out, 2, uint32_t(imageBytes + 54));
  // 6, 8: reserved, zero.
  PutU32(out, 10, 54);
  PutU32(out, 14, 40);
  PutU32(out, 18, uint32_t(width));
  PutU32(out, 22, uint32_t(height));  // positive: rows stored bottom-up
  PutU16(out, 26, 1);
  PutU16(out, 28, 32);
  PutU32(out, 30, 0);  // no compression
  PutU32(out, 34, 0);  // image size 0
  PutU32(out, 38, 1);  // resolution 1 by 1
  PutU32(out, 42, 1);
  PutU32(out, 46, 0);  // no palette
  PutU32(out, 50, 0);
  for (int y = 0; y < height; ++y)
    std::memcpy(out.data() + 54 + size_t(height - 1 - y) * rowBytes, pixels + size_t(y) * rowBytes,
                rowBytes);
  return out;
}

QImage CropAndStretch(const QImage &picture) {
  const int lines = picture.height();
  QImage out(kStillWidth, lines, QImage::Format_RGB32);
  out.fill(Qt::black);
  QPainter painter(&out);
  // Nearest pixel, like a plain stretching copy.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const QRect source(QPoint(14, 18), QPoint(710 - 1, lines - 6 - 1));
  painter.drawImage(QRect(0, 0, kStillWidth, lines), picture, source);
  painter.end();
  return out;
}

void DrawTimeStamp(QImage &picture, const QString &text) {
  const QPoint at(kTimeStampLeft, kTimeStampTop);
  const QSize room(picture.width() - at.x(), picture.height() - at.y());
  if (room.width() <= 0 || room.height() <= 0) return;
  QFont font = QGuiApplication::font();
  font.setBold(true);
  // 10 points where it fits; a smaller size where the face runs wider than
  // the room to the picture's edge, so the whole time is always shown.
  QSize textSize;
  for (qreal points = kTimeStampPoints; points >= kTimeStampMinPoints; points -= 0.25) {
    font.setPointSizeF(points);
    textSize = QFontMetrics(font, &picture).size(Qt::TextSingleLine, text);
    if (textSize.width() <= room.width() && textSize.height() <= room.height()) break;
  }
  const QRect box(at, textSize.boundedTo(room));
  QPainter painter(&picture);
  painter.setClipRect(box);
  painter.setFont(font);
  painter.fillRect(box, Qt::white);
  painter.setPen(Qt::black);
  painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

QString StillTimeText(uint32_t recordedSeconds) {
  return QString::fromStdString(orvan::FormatRecorderTime(int64_t(recordedSeconds)));
}

YuvReadResult LoadStillImage(const std::string &path, QImage &picture, YuvStill *stillOut) {
  YuvStill still;
  const YuvReadResult result = ReadYuvFile(path, still);
  if (result != YuvReadResult::Ok) return result;
  const std::vector<uint8_t> pixels = ConvertStillToPixels(still);
  const std::vector<uint8_t> bitmap = MakeBitmapFile(pixels.data(), kStillWidth, still.lines);
  QImage loaded;
  if (!loaded.loadFromData(bitmap.data(), int(bitmap.size()), "BMP"))
    return YuvReadResult::ReadFailed;
  QImage shown = CropAndStretch(loaded.convertToFormat(QImage::Format_RGB32));
  DrawTimeStamp(shown, StillTimeText(still.recordedSeconds));
  picture = shown;
  if (stillOut) *stillOut = std::move(still);
  return YuvReadResult::Ok;
}

const char *YuvRefusalText(YuvReadResult result) {
  switch (result) {
    case YuvReadResult::CannotOpen:
      return "cannot open the file";
    case YuvReadResult::NotAFile:
      return "not a regular file";
    case YuvReadResult::BadLineCode:
      return "line code is neither 0 nor 1";
    case YuvReadResult::BadSize:
      return "file size does not match its line count";
    case YuvReadResult::ReadFailed:
      return "file could not be read";
    default:
      return "";
  }
}

}  // namespace orvan::app
