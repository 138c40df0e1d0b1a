#include "app/still_image_command.h"

#include <unistd.h>

#include "app/still_image.h"
#include "platform/output_file.h"
#include "platform/source_registry.h"

namespace orvan::app {

int RunYuvCommand(const std::vector<std::string> &argsIn, std::ostream &out, std::ostream &err) {
  std::vector<std::string> args = argsIn;
  if (!args.empty() && args.front() == "yuv") args.erase(args.begin());
  std::string input, output;
  bool json = false, raw = false, overwrite = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--raw") {
      raw = true;
    } else if (args[i] == "--overwrite") {
      overwrite = true;
    } else if (args[i] == "--strict") {
      // A still is read whole or refused: there is no partial result.
    } else if (input.empty() && !args[i].empty() && args[i][0] != '-') {
      input = args[i];
    } else {
      err << "unknown argument: " << args[i] << "\n";
      return 1;
    }
  }
  if (input.empty() || output.empty()) {
    err << "usage: yuv FILE.yuv -o OUT.bmp [--json] [--raw] [--overwrite] [--strict]\n";
    return 1;
  }
  const auto policy = overwrite ? platform::ReplacePolicy::kReplaceExisting
                                : platform::ReplacePolicy::kKeepExisting;
  // The still is a source while the command runs: the bitmap may not
  // replace it.
  platform::SourceRegistration inputSource;
  if (const auto opened = platform::OpenSource(input, platform::SourceKind::kFile);
      opened.fd >= 0) {
    inputSource = platform::RegisterSource(opened.fd, input);
    ::close(opened.fd);
  }
  std::string refusal;
  if (const auto status = platform::CheckOutputPath(output, policy, &refusal);
      status != platform::OutputStatus::kOk) {
    err << refusal
        << (status == platform::OutputStatus::kExists ? " (--overwrite replaces it)" : "") << "\n";
    return 1;
  }

  YuvStill still;
  std::vector<uint8_t> bytes;
  if (raw) {
    const YuvReadResult r = ReadYuvFile(input, still);
    if (r != YuvReadResult::Ok) {
      err << input << ": " << YuvRefusalText(r) << "\n";
      return 2;
    }
    bytes = ConvertStillToPixels(still);
  } else {
    QImage picture;
    const YuvReadResult r = LoadStillImage(input, picture, &still);
    if (r != YuvReadResult::Ok) {
      err << input << ": " << YuvRefusalText(r) << "\n";
      return 2;
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
  std::string error;
  if (!platform::WriteOutputFile(output, bytes.data(), bytes.size(), policy, &error)) {
    err << error << "\n";
    return 1;
  }
  if (json)
    out << "{\"lines\": " << still.lines << ", \"time\": \""
        << StillTimeText(still.recordedSeconds).toStdString() << "\"}\n";
  return 0;
}

}  // namespace orvan::app
