#include <gtest/gtest.h>

#include "platform/wintime.h"

using namespace orvan;

TEST(RecorderTime, knownDate_formatsAsRecorderWallTime) {
  EXPECT_EQ(FormatRecorderTime(int64_t{1202982297}), "2008/02/14_09:44:57");
  EXPECT_EQ(FormatRecorderTime(int64_t{0}), "1970/01/01_00:00:00");
  EXPECT_EQ(FormatRecorderTime(int64_t{951782400}), "2000/02/29_00:00:00");   // leap day
  EXPECT_EQ(FormatRecorderTime(int64_t{4294967295}), "2106/02/07_06:28:15");  // u32 max
}

TEST(RecorderTime, calendarFields_roundTripThroughSeconds) {
  SYSTEMTIME st = RecorderSecondsToSystemTime(1202982297);
  EXPECT_EQ(st.wYear, 2008);
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 14);
  EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(st.wHour, 9);
  EXPECT_EQ(st.wMinute, 44);
  EXPECT_EQ(st.wSecond, 57);
  EXPECT_EQ(SystemTimeToRecorderSeconds(st), 1202982297);
  // Every day boundary across several leap cycles comes back unchanged.
  for (int64_t s = 0; s < int64_t{4102444800}; s += 86400 * 37 + 3601) {
    ASSERT_EQ(SystemTimeToRecorderSeconds(RecorderSecondsToSystemTime(s)), s) << s;
  }
}

TEST(RecorderTime, calendarToSeconds_normalisesLikeTimegm) {
  EXPECT_EQ(CalendarToUnixSeconds(2008, 2, 14, 9, 44, 57), 1202982297);
  EXPECT_EQ(CalendarToUnixSeconds(2008, 13, 1, 0, 0, 0),
            CalendarToUnixSeconds(2009, 1, 1, 0, 0, 0));
  EXPECT_EQ(CalendarToUnixSeconds(2008, 0, 1, 0, 0, 0),
            CalendarToUnixSeconds(2007, 12, 1, 0, 0, 0));
  EXPECT_EQ(CalendarToUnixSeconds(2008, 3, 0, 0, 0, 0),
            CalendarToUnixSeconds(2008, 2, 29, 0, 0, 0));
  EXPECT_EQ(CalendarToUnixSeconds(1969, 12, 31, 23, 59, 59), -1);
}

TEST(FileTime, recorderSeconds_roundTrip) {
  const FILETIME ft = RecorderSecondsToFileTime(1202982297);
  EXPECT_EQ(FileTimeToTicks(ft), kUnixEpochIn100ns + 1202982297ULL * k100nsPerSecond);
  EXPECT_EQ(FileTimeToRecorderSeconds(ft), 1202982297);
  EXPECT_EQ(FileTimeToRecorderSeconds(FILETIME{0, 0}), -11644473600);
}

TEST(FileTime, platformConversions_keepMillisecondsAndRefuseBadFields) {
  SYSTEMTIME st{2008, 2, 0, 14, 9, 44, 57, 123};
  FILETIME ft{};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(FileTimeToTicks(ft),
            kUnixEpochIn100ns + 1202982297ULL * k100nsPerSecond + 123ULL * 10000);
  SYSTEMTIME back{};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wYear, 2008);
  EXPECT_EQ(back.wDay, 14);
  EXPECT_EQ(back.wSecond, 57);
  EXPECT_EQ(back.wMilliseconds, 123);

  SYSTEMTIME feb30{2009, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&feb30, &ft));
  SYSTEMTIME before1601{1600, 12, 0, 31, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&before1601, &ft));
  SYSTEMTIME hour24{2008, 1, 0, 1, 24, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&hour24, &ft));

  FILETIME zero{0, 0};
  ASSERT_TRUE(FileTimeToSystemTime(&zero, &back));
  EXPECT_EQ(back.wYear, 1601);
  EXPECT_EQ(back.wMonth, 1);
  EXPECT_EQ(back.wDay, 1);
  FILETIME negative{0, 0x80000000u};
  EXPECT_FALSE(FileTimeToSystemTime(&negative, &back));
}

TEST(RecorderTime, parse_acceptsWallTimeAndSecondsOnly) {
  int64_t s = 0;
  ASSERT_TRUE(ParseRecorderTime("2008-02-14 09:44:57", s));
  EXPECT_EQ(s, 1202982297);
  ASSERT_TRUE(ParseRecorderTime("2008/02/14_09:44:57", s));
  EXPECT_EQ(s, 1202982297);
  ASSERT_TRUE(ParseRecorderTime("1202982297", s));
  EXPECT_EQ(s, 1202982297);
  EXPECT_FALSE(ParseRecorderTime("", s));
  EXPECT_FALSE(ParseRecorderTime("2008-02-14", s));
  EXPECT_FALSE(ParseRecorderTime("2008-13-14 09:44:57", s));
  EXPECT_FALSE(ParseRecorderTime("2008-02-14 09:44:57x", s));
  EXPECT_FALSE(ParseRecorderTime("2008-02/14 09:44:57", s));
  EXPECT_FALSE(ParseRecorderTime("99999999999999999999", s));
}
