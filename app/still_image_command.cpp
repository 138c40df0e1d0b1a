#include "app/still_image_command.h"

#include <unistd.h>

#include "app/still_image.h"
#include "platform/output_file.h"
#include "platform/source_registry.h"

namespace orvan::app {

StillFileStatus WriteStillFile(const std::string &input, const std::string &output, bool raw,
                               platform::ReplacePolicy policy, StillFile &written,
                               std::string &error) {
  // The still is a source while it is converted: the bitmap may not
  // replace it.
  platform::SourceRegistration inputSource;
  if (const auto opened = platform::OpenSource(input, platform::SourceKind::kFile);
      opened.fd >= 0) {
    inputSource = platform::RegisterSource(opened.fd, input);
    ::close(opened.fd);
  }
  if (const auto status = platform::CheckOutputPath(output, policy, &error);
      status != platform::OutputStatus::kOk) {
    if (status == platform::OutputStatus::kExists) error += " (--overwrite replaces it)";
    return StillFileStatus::kNotWritten;
  }

  YuvStill still;
  std::vector<uint8_t> bytes;
  if (raw) {
    const YuvReadResult r = ReadYuvFile(input, still);
    if (r != YuvReadResult::Ok) {
      error = input + ": " + YuvRefusalText(r);
      return StillFileStatus::kStillRefused;
    }
    bytes = ConvertStillToPixels(still);
  } else {
    QImage picture;
    const YuvReadResult r = LoadStillImage(input, picture, &still);
    if (r != YuvReadResult::Ok) {
      error = input + ": " + YuvRefusalText(r);
      return StillFileStatus::kStillRefused;
    }
    std::vector<uint8_t> pixels(size_t(picture.width()) * picture.height() * 4);
    for (int y = 0; y < picture.height(); ++y) {
      const uint8_t *line = picture.constScanLine(y);
      uint8_t *dst = pixels.data() + size_t(y) * picture.width() * 4;
      for (int x = 0; x < picture.width(); ++x) {
        dst[4 * x] = line[4 * x];
        dst[4 * x + 1] = line[4 * x + 1];
        dst[4 * x + 2] = line[4 * x + 2];
        dst[4 * x + 3] = 0;
      }
    }
    bytes = MakeBitmapFile(pixels.data(), picture.width(), picture.height());
  }
  if (!platform::WriteOutputFile(output, bytes.data(), bytes.size(), policy, &error))
    return StillFileStatus::kNotWritten;
  written.lines = still.lines;
  written.time = StillTimeText(still.recordedSeconds).toStdString();
  return StillFileStatus::kWritten;
}

}  // namespace orvan::app
