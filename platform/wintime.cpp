#include "platform/wintime.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace orvan {

// Howard Hinnant's civil-calendar algorithms: exact for every proleptic
// Gregorian date, no tables, no time zone.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t &year, unsigned &month, unsigned &day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = y + (month <= 2);
}

int64_t CalendarToUnixSeconds(int year, int month, int day, int hour, int minute, int second) {
  // Normalise the month into 1..12 the way timegm does, carrying into the year.
  int64_t y = year;
  int64_t m0 = static_cast<int64_t>(month) - 1;
  y += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
  m0 = ((m0 % 12) + 12) % 12;
  const int64_t days = DaysFromCivil(y, static_cast<unsigned>(m0 + 1), 1) + (day - 1);
  return days * 86400 + int64_t(hour) * 3600 + int64_t(minute) * 60 + second;
}

SYSTEMTIME RecorderSecondsToSystemTime(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  SYSTEMTIME st{};
  st.wYear = static_cast<uint16_t>(year);
  st.wMonth = static_cast<uint16_t>(month);
  st.wDay = static_cast<uint16_t>(day);
  st.wDayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  st.wHour = static_cast<uint16_t>(rem / 3600);
  st.wMinute = static_cast<uint16_t>((rem / 60) % 60);
  st.wSecond = static_cast<uint16_t>(rem % 60);
  st.wMilliseconds = 0;
  return st;
}

int64_t SystemTimeToRecorderSeconds(const SYSTEMTIME &st) {
  return CalendarToUnixSeconds(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

FILETIME RecorderSecondsToFileTime(int64_t seconds) {
  const int64_t ticks =
      static_cast<int64_t>(kUnixEpochIn100ns) + seconds * static_cast<int64_t>(k100nsPerSecond);
  return TicksToFileTime(static_cast<uint64_t>(ticks < 0 ? 0 : ticks));
}

int64_t FileTimeToRecorderSeconds(const FILETIME &ft) {
  const int64_t ticks = static_cast<int64_t>(FileTimeToTicks(ft) & 0x7FFFFFFFFFFFFFFFULL);
  const int64_t rel = ticks - static_cast<int64_t>(kUnixEpochIn100ns);
  const int64_t per = static_cast<int64_t>(k100nsPerSecond);
  return rel >= 0 ? rel / per : -((-rel + per - 1) / per);
}

std::string FormatRecorderTime(const SYSTEMTIME &st) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04u/%02u/%02u_%02u:%02u:%02u", unsigned(st.wYear),
                unsigned(st.wMonth), unsigned(st.wDay), unsigned(st.wHour), unsigned(st.wMinute),
                unsigned(st.wSecond));
  return buf;
}

std::string FormatRecorderTime(int64_t recorderSeconds) {
  return FormatRecorderTime(RecorderSecondsToSystemTime(recorderSeconds));
}

bool ParseRecorderTime(const std::string &text, int64_t &seconds) {
  if (text.empty()) return false;
  bool allDigits = true;
  for (char c : text) allDigits = allDigits && std::isdigit(static_cast<unsigned char>(c));
  if (allDigits) {
    if (text.size() > 12) return false;
    seconds = std::stoll(text);
    return true;
  }
  int y, mo, d, h, mi, s;
  char sep1, sep2, mid, c1, c2;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d%c%2d%c%2d%c%2d%c%2d%c%2d%n", &y, &sep1, &mo, &sep2, &d, &mid,
                  &h, &c1, &mi, &c2, &s, &used) != 11 ||
      used != static_cast<int>(text.size()))
    return false;
  if ((sep1 != '-' && sep1 != '/') || sep2 != sep1) return false;
  if (mid != ' ' && mid != 'T' && mid != '_') return false;
  if (c1 != ':' || c2 != ':') return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 ||
      s < 0)
    return false;
  seconds = CalendarToUnixSeconds(y, mo, d, h, mi, s);
  return true;
}

}  // namespace orvan

namespace {
bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}
}  // namespace

bool SystemTimeToFileTime(const SYSTEMTIME *st, FILETIME *ft) {
  if (!st || !ft) return false;
  if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59 || st->wMilliseconds > 999)
    return false;
  const int64_t unixSeconds = orvan::SystemTimeToRecorderSeconds(*st);
  const int64_t ticks = static_cast<int64_t>(orvan::kUnixEpochIn100ns) +
                        unixSeconds * static_cast<int64_t>(orvan::k100nsPerSecond) +
                        int64_t(st->wMilliseconds) * 10000;
  *ft = orvan::TicksToFileTime(static_cast<uint64_t>(ticks));
  return true;
}

bool FileTimeToSystemTime(const FILETIME *ft, SYSTEMTIME *st) {
  if (!ft || !st) return false;
  const uint64_t ticks = orvan::FileTimeToTicks(*ft);
  if (ticks > 0x7FFFFFFFFFFFFFFFULL) return false;
  const int64_t rel = static_cast<int64_t>(ticks) - static_cast<int64_t>(orvan::kUnixEpochIn100ns);
  const int64_t per = static_cast<int64_t>(orvan::k100nsPerSecond);
  int64_t secs = rel / per;
  int64_t frac = rel % per;
  if (frac < 0) {
    frac += per;
    --secs;
  }
  *st = orvan::RecorderSecondsToSystemTime(secs);
  st->wMilliseconds = static_cast<uint16_t>(frac / 10000);
  return true;
}
