// DateTimeUnit: the platform date-time.
//
// A TDateTime is a double counting days since 1899-12-30; the fraction is the
// time of day. This unit reads the local wall clock (with milliseconds), encodes
// and decodes date-times, formats them in the system's fixed formats and parses
// date-time text under the process-wide formats "yyyy-MM-dd" and "hh:mm:ss".
// All functions are thread-safe.
#ifndef VELIO_PLATFORM_DATETIMEUNIT_H_
#define VELIO_PLATFORM_DATETIMEUNIT_H_

#include <string_view>

#include "platform/CodePageUnit.h"

using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

// The local date and time now, with milliseconds.
TDateTime Now();

// REQUIRES: a valid calendar date (year 1..9999) and time.
TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTimeParts DecodeDateTime(TDateTime value);

// Formats with the tokens yyyy, mm, dd, hh, nn, ss and zzz (letter case ignored;
// "mm" right after "hh" or "h" means minutes); other characters are copied.
// Examples: "yyyy-mm-dd hh:nn:ss" (log stamps), "yyyymmdd" (log file names).
AnsiString FormatDateTime(std::string_view format, TDateTime value);

// Parses date-time text under the fixed formats: a date "y-M-d" (year of up to
// four digits, one- or two-digit month and day), optionally followed by blanks
// and a time "h:m[:s]" (one or two digits each; seconds optional). Leading and
// trailing blanks are allowed. A year written with one or two digits is the
// year within fifty years of today (ExpandTwoDigitYear): "09-06-01" is
// 1 June 2009. Returns false when the text does not convert.
bool TryStrToDateTime(std::string_view text, TDateTime& value);

// The year that a one- or two-digit year (0..99) stands for in currentYear:
// the one in the hundred years that start fifty years before currentYear. In
// 2026 that is 1976 to 2075: 9 is 2009, 76 is 1976, 75 is 2075.
int ExpandTwoDigitYear(int year, int currentYear);

// As TryStrToDateTime; raises EConvertError "'%s' is not a valid date and time".
TDateTime StrToDateTime(std::string_view text);

// Shifts a date-time by n minutes: (t * 1440 + n) / 1440.
inline TDateTime IncMinutes(TDateTime t, int n) {
  return (t * 1440.0 + n) / 1440.0;
}

// t on the millisecond: EncodeDateTime(DecodeDateTime(t)), the value a clock
// reading of that instant gives. A time computed from another (IncMinutes)
// is rounded so, and then a store that keeps milliseconds gives back exactly
// the value it was given.
inline TDateTime RoundToMillisecond(TDateTime t) { return EncodeDateTime(DecodeDateTime(t)); }

#endif  // VELIO_PLATFORM_DATETIMEUNIT_H_
