// The one logging facility for developers. Users never see these lines; they
// see the system's own message boxes and texts.
//
// ORVAN_LOG=debug|info|warn|error|off picks the level (default warn); output
// goes to stderr, one line per message, prefixed with the module category.
#pragma once

#include <string_view>

namespace orvan::log {

enum class Level { Debug = 0, Info = 1, Warn = 2, Error = 3, Off = 4 };

bool Enabled(Level level);
void Write(Level level, std::string_view category, std::string_view message);
// printf-style convenience.
void Writef(Level level, const char *category, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

}  // namespace orvan::log

#define ORVAN_LOG_DEBUG(cat, ...) ::orvan::log::Writef(::orvan::log::Level::Debug, cat, __VA_ARGS__)
#define ORVAN_LOG_INFO(cat, ...) ::orvan::log::Writef(::orvan::log::Level::Info, cat, __VA_ARGS__)
#define ORVAN_LOG_WARN(cat, ...) ::orvan::log::Writef(::orvan::log::Level::Warn, cat, __VA_ARGS__)
#define ORVAN_LOG_ERROR(cat, ...) ::orvan::log::Writef(::orvan::log::Level::Error, cat, __VA_ARGS__)
