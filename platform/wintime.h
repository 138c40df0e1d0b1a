// Portable forms of the Windows time records the recorder formats are built
// on, and the conversions between recorder seconds, calendar fields and
// FILETIME that the rest of the program uses.
//
// Recorder time is a count of seconds since 1970-01-01 00:00:00 of the
// recorder's own wall clock. It is always broken down with the UTC calendar
// (no time-zone change), and a picked calendar date becomes recorder seconds
// the same way, so the local zone of this machine never matters.
#pragma once

#include <cstdint>
#include <string>

struct _FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};
using FILETIME = _FILETIME;
static_assert(sizeof(FILETIME) == 8);

struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;      // 1..12
  uint16_t wDayOfWeek;  // 0 = Sunday
  uint16_t wDay;        // 1..31
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

namespace orvan {

// 100-ns ticks between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochIn100ns = 116444736000000000ULL;
constexpr uint64_t k100nsPerSecond = 10000000ULL;

inline uint64_t FileTimeToTicks(const FILETIME &ft) {
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME TicksToFileTime(uint64_t ticks) {
  return FILETIME{uint32_t(ticks & 0xFFFFFFFFu), uint32_t(ticks >> 32)};
}

// Days since 1970-01-01 of a proleptic Gregorian date (any year).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
// Inverse of DaysFromCivil.
void CivilFromDays(int64_t days, int64_t &year, unsigned &month, unsigned &day);

// Seconds since 1970 of UTC calendar fields, like timegm(). Fields are
// normalised as timegm would (a second of 60 rolls into the next minute).
int64_t CalendarToUnixSeconds(int year, int month, int day, int hour, int minute, int second);

// Recorder seconds broken down with the UTC calendar.
SYSTEMTIME RecorderSecondsToSystemTime(int64_t seconds);
// Calendar fields (UTC, milliseconds dropped) to recorder seconds.
int64_t SystemTimeToRecorderSeconds(const SYSTEMTIME &st);

FILETIME RecorderSecondsToFileTime(int64_t seconds);
// Whole seconds since 1970 of a FILETIME (rounded down; may be negative for
// times before 1970).
int64_t FileTimeToRecorderSeconds(const FILETIME &ft);

// "yyyy/mm/dd_hh:nn:ss"
std::string FormatRecorderTime(const SYSTEMTIME &st);
std::string FormatRecorderTime(int64_t recorderSeconds);

// Parses "YYYY-MM-DD hh:mm:ss" (also with 'T' or '_' between, or '/' in the
// date) or a plain count of seconds. Returns false on anything else.
bool ParseRecorderTime(const std::string &text, int64_t &seconds);

}  // namespace orvan

// The two platform conversions, with the Windows contract: false for fields
// out of range (year 1601..30827, month 1..12, a real day, hour < 24, ...).
bool SystemTimeToFileTime(const SYSTEMTIME *st, FILETIME *ft);
bool FileTimeToSystemTime(const FILETIME *ft, SYSTEMTIME *st);
