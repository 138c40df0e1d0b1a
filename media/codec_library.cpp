#include "media/codec_library.h"

#include <cstdarg>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/log.h"

namespace orvan::media {
namespace {

void ForwardMessage(void *object, int level, const char *format, va_list args) {
  if (level > AV_LOG_WARNING) return;
  const orvan::log::Level ours =
      level <= AV_LOG_ERROR ? orvan::log::Level::Info : orvan::log::Level::Debug;
  if (!orvan::log::Enabled(ours)) return;
  char line[512];
  int printPrefix = 1;
  av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
  size_t length = std::strlen(line);
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
  orvan::log::Write(ours, "ffmpeg", std::string_view(line, length));
}

}  // namespace

void InitCodecLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(ForwardMessage); });
}

}  // namespace orvan::media
