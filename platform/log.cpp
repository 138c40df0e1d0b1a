#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace orvan::log {
namespace {

Level ConfiguredLevel() {
  static const Level level = [] {
    const char *env = std::getenv("ORVAN_LOG");
    if (!env) return Level::Warn;
    if (!std::strcmp(env, "debug")) return Level::Debug;
    if (!std::strcmp(env, "info")) return Level::Info;
    if (!std::strcmp(env, "error")) return Level::Error;
    if (!std::strcmp(env, "off")) return Level::Off;
    return Level::Warn;
  }();
  return level;
}

const char *LevelName(Level level) {
  switch (level) {
    case Level::Debug:
      return "debug";
    case Level::Info:
      return "info";
    case Level::Warn:
      return "warn";
    case Level::Error:
      return "error";
    default:
      return "";
  }
}

std::mutex g_writeLock;  // keeps lines from different threads whole

}  // namespace

bool Enabled(Level level) { return level >= ConfiguredLevel() && level != Level::Off; }

void Write(Level level, std::string_view category, std::string_view message) {
  if (!Enabled(level)) return;
  std::lock_guard<std::mutex> lock(g_writeLock);
  std::fprintf(stderr, "[%.*s] %s: %.*s\n", int(category.size()), category.data(), LevelName(level),
               int(message.size()), message.data());
}

void Writef(Level level, const char *category, const char *format, ...) {
  if (!Enabled(level)) return;
  char buf[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  Write(level, category, buf);
}

}  // namespace orvan::log
