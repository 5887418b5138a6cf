// RecordStoreUnit: the stored form of date-times shared by the engines.
//
// The text is written with fixed widths and read by a strict scanner of its
// own (no locale, no two-digit years); a day number is read with strtod and
// must be the whole text.
#include "doorlock/RecordStoreUnit.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Reads exactly n digits at text[i]; advances i.
bool Digits(std::string_view text, size_t& i, size_t n, int& value) {
  if (i + n > text.size()) return false;
  value = 0;
  for (size_t k = 0; k < n; ++k) {
    const char c = text[i + k];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  i += n;
  return true;
}

bool Expect(std::string_view text, size_t& i, char c) {
  if (i >= text.size() || text[i] != c) return false;
  ++i;
  return true;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The date-time text form; false when text is not one.
bool ParseText(std::string_view text, TDateTime& value) {
  TDateTimeParts p;
  size_t i = 0;
  if (!Digits(text, i, 4, p.Year) || !Expect(text, i, '-') || !Digits(text, i, 2, p.Month) ||
      !Expect(text, i, '-') || !Digits(text, i, 2, p.Day))
    return false;
  if (i < text.size()) {
    if (text[i] != ' ' && text[i] != 'T') return false;
    ++i;
    if (!Digits(text, i, 2, p.Hour) || !Expect(text, i, ':') || !Digits(text, i, 2, p.Minute) ||
        !Expect(text, i, ':') || !Digits(text, i, 2, p.Second))
      return false;
    if (i < text.size()) {
      if (!Expect(text, i, '.')) return false;
      const size_t begin = i;
      int ms = 0;
      for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (i - begin < 3) ms = ms * 10 + (text[i] - '0');
      const size_t n = i - begin;
      if (n == 0 || n > 9 || i != text.size()) return false;
      for (size_t k = n; k < 3; ++k) ms *= 10;
      p.MilliSecond = ms;
    }
  }
  if (p.Year < 1 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
      p.Day > DaysInMonth(p.Year, p.Month) || p.Hour > 23 || p.Minute > 59 || p.Second > 59)
    return false;
  value = EncodeDateTime(p);
  return true;
}

// A decimal day number making up the whole text; false otherwise.
bool ParseDayNumber(std::string_view text, TDateTime& value) {
  if (text.empty() || text.size() > 40) return false;
  // Only what a database prints for a number: digits, sign, point, exponent.
  for (char c : text)
    if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
      return false;
  const std::string copy(text);
  char* end = nullptr;
  const double number = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(number)) return false;
  // 0001-01-01 .. 9999-12-31 23:59:59.999
  if (number < -693593.0 || number >= 2958466.0) return false;
  value = number;
  return true;
}

}  // namespace

std::string StoredDateTimeText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                p.Hour, p.Minute, p.Second, p.MilliSecond);
  return text;
}

bool ParseStoredDateTime(std::string_view text, TDateTime& value) {
  return ParseText(text, value) || ParseDayNumber(text, value);
}

TDateTime StoredDateTimeOrError(std::string_view text) {
  TDateTime value = 0;
  if (ParseStoredDateTime(text, value)) return value;
  // Long garbage is cut: the log takes one line.
  std::string shown(text.substr(0, 64));
  if (text.size() > 64) shown += "...";
  throw EDatabaseError("the stored value '" + shown + "' is not a date-time");
}
