// Tests of the platform date-time: day numbers, formats and lenient parsing.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/DateTimeUnit.h"
#include "platform/ErrorsUnit.h"

namespace {

TDateTimeParts Parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  TDateTimeParts p;
  p.Year = y;
  p.Month = mo;
  p.Day = d;
  p.Hour = h;
  p.Minute = mi;
  p.Second = s;
  p.MilliSecond = ms;
  return p;
}

void ExpectParts(const TDateTimeParts& got, const TDateTimeParts& want) {
  EXPECT_EQ(got.Year, want.Year);
  EXPECT_EQ(got.Month, want.Month);
  EXPECT_EQ(got.Day, want.Day);
  EXPECT_EQ(got.Hour, want.Hour);
  EXPECT_EQ(got.Minute, want.Minute);
  EXPECT_EQ(got.Second, want.Second);
  EXPECT_EQ(got.MilliSecond, want.MilliSecond);
}

TEST(DateTime, DayNumbers) {
  struct {
    TDateTimeParts parts;
    double value;
  } cases[] = {
      {Parts(1899, 12, 30), 0.0},
      {Parts(1899, 12, 31), 1.0},
      {Parts(1900, 1, 1), 2.0},
      {Parts(1900, 3, 1), 61.0},  // 1900 was no leap year
      {Parts(2000, 1, 1), 36526.0},
      {Parts(2009, 6, 1, 12), 39965.5},
      {Parts(1899, 12, 30, 6), 0.25},
      {Parts(1899, 12, 29, 12), -1.5},  // before the epoch the fraction counts away from zero
      {Parts(1, 1, 1), -693593.0},
      {Parts(9999, 12, 31), 2958465.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.parts), c.value) << c.value;
    ExpectParts(DecodeDateTime(c.value), c.parts);
  }
}

TEST(DateTime, MillisecondsRoundTrip) {
  const TDateTimeParts samples[] = {
      Parts(2009, 6, 1, 14, 5, 9, 0), Parts(2026, 12, 6, 23, 59, 59, 999),
      Parts(2024, 2, 29, 0, 0, 0, 1), Parts(1899, 12, 1, 7, 8, 9, 10)};
  for (const auto& p : samples) ExpectParts(DecodeDateTime(EncodeDateTime(p)), p);
}

TEST(DateTime, Format) {
  const TDateTime t = EncodeDateTime(Parts(2009, 6, 1, 14, 5, 9, 7));
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss ", t), "2009-06-01 14:05:09 ");
  EXPECT_EQ(FormatDateTime("yyyymmdd", t), "20090601");
  EXPECT_EQ(FormatDateTime("YYYY-MM-DD HH:MM:SS", t), "2009-06-01 14:05:09");  // mm after hh
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", t), "14:05:09.007");
  EXPECT_EQ(FormatDateTime("[dd/mm] x", t), "[01/06] x");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", EncodeDateTime(Parts(5, 1, 2))), "0005-01-02");
}

TEST(DateTime, ParseLenient) {
  struct {
    const char* text;
    TDateTimeParts parts;
  } cases[] = {
      {"2026-12-06", Parts(2026, 12, 6)},
      {"2026-1-5", Parts(2026, 1, 5)},
      {"2026-01-05 14:05:09", Parts(2026, 1, 5, 14, 5, 9)},
      {"2026-01-05 4:5:9", Parts(2026, 1, 5, 4, 5, 9)},
      {"2026-01-05 14:05", Parts(2026, 1, 5, 14, 5)},
      {"  2026-01-05   23:59:59  ", Parts(2026, 1, 5, 23, 59, 59)},
      {"2024-2-29 0:0", Parts(2024, 2, 29)},
      // One- and two-digit years are the year within fifty years of today.
      {"09-06-01", Parts(2009, 6, 1)},
      {"09-06-01 14:00:00", Parts(2009, 6, 1, 14)},
      {"99-1-1", Parts(1999, 1, 1)},
      {"0-01-01", Parts(2000, 1, 1)},
      {"00-2-29", Parts(2000, 2, 29)},
      // Three and four digits are taken as written.
      {"009-06-01", Parts(9, 6, 1)},
      {"0009-06-01", Parts(9, 6, 1)},
      {"0099-1-1", Parts(99, 1, 1)},
  };
  for (const auto& c : cases) {
    TDateTime v = -1;
    ASSERT_TRUE(TryStrToDateTime(c.text, v)) << c.text;
    ExpectParts(DecodeDateTime(v), c.parts);
    EXPECT_EQ(StrToDateTime(c.text), v);
  }
}

TEST(DateTime, ParseRejects) {
  const char* cases[] = {"",
                         "abc",
                         "2026/01/05",
                         "2026-13-01",
                         "2026-00-10",
                         "2025-02-29",
                         "2026-04-31",
                         "2026-01-05 24:00",
                         "2026-01-05 12:60",
                         "2026-01-05 12:00:60",
                         "2026-01-05 12",
                         "2026-01-05 12:",
                         "2026-01-05 12:00:",
                         "2026-01-05T12:00",
                         "2026-01-05 12:00 x",
                         "12026-01-05",
                         "2026-001-05",
                         "2026-01-005",
                         "2026-01-05 123:00",
                         "0000-01-01",
                         "000-01-01",
                         "-2026-01-05"};
  for (const char* text : cases) {
    TDateTime v = 42;
    EXPECT_FALSE(TryStrToDateTime(text, v)) << text;
    EXPECT_EQ(v, 42) << text;
  }
  try {
    StrToDateTime("2026-13-01");
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'2026-13-01' is not a valid date and time");
  }
}

TEST(DateTime, TwoDigitYearWindow) {
  struct {
    int year, today, expected;
  } cases[] = {
      {9, 2026, 2009},  {76, 2026, 1976}, {75, 2026, 2075}, {0, 2026, 2000},
      {99, 2026, 1999}, {50, 2000, 1950}, {49, 2000, 2049}, {99, 2050, 2099},
      {0, 2050, 2000},  {0, 2051, 2100},  {26, 1999, 2026}, {49, 1999, 1949},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExpandTwoDigitYear(c.year, c.today), c.expected) << c.year << " in " << c.today;
  // Parsing uses today's year.
  const int today = DecodeDateTime(Now()).Year;
  TDateTime v = 0;
  ASSERT_TRUE(TryStrToDateTime("75-03-04", v));
  EXPECT_EQ(DecodeDateTime(v).Year, ExpandTwoDigitYear(75, today));
  EXPECT_LE(std::abs(DecodeDateTime(v).Year - today), 50);
}

TEST(DateTime, IncMinutes) {
  const TDateTime t = EncodeDateTime(Parts(2026, 12, 31, 23, 50));
  ExpectParts(DecodeDateTime(IncMinutes(t, 15)), Parts(2027, 1, 1, 0, 5));
  ExpectParts(DecodeDateTime(IncMinutes(t, -60 * 24)), Parts(2026, 12, 30, 23, 50));
}

TEST(DateTime, NowIsTodayAndAdvances) {
  TDateTime a = Now();
  TDateTime b = Now();
  EXPECT_LE(a, b);
  EXPECT_GT(a, EncodeDateTime(Parts(2020, 1, 1)));
  EXPECT_LT(std::fabs(b - a), 1.0 / 86400.0);
  // Two readings within one millisecond are the same double: a value kept in a
  // wider register (the x87 unit of a 32-bit build) would compare unequal to
  // the same time stored, about one pair in four.
  int backwards = 0;
  for (int i = 0; i < 1000; ++i) {
    const TDateTime first = Now();
    const TDateTime second = Now();
    if (second < first) ++backwards;
  }
  EXPECT_EQ(backwards, 0);
}

}  // namespace
