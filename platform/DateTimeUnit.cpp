// DateTimeUnit: civil-date arithmetic on day numbers since 1899-12-30.
#include "platform/DateTimeUnit.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "platform/ErrorsUnit.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/time.h>
#include <time.h>
#endif

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& y, int& m, int& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long yy = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const long kDelphiEpoch = -25569;  // 1899-12-30 in days from 1970-01-01

bool ValidDate(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int dim = kDays[m - 1];
  if (m == 2 && (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0))) dim = 29;
  return d <= dim;
}

}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  long days = DaysFromCivil(p.Year, p.Month, p.Day) - kDelphiEpoch;
  double frac =
      (p.Hour * 3600000.0 + p.Minute * 60000.0 + p.Second * 1000.0 + p.MilliSecond) / 86400000.0;
  // Before 1899-12-30 the fraction counts away from zero, as the platform does.
  return days >= 0 ? days + frac : days - frac;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  TDateTimeParts p;
  double whole = std::trunc(value);
  double frac = std::fabs(value - whole);
  long long ms = std::llround(frac * 86400000.0);
  long days = static_cast<long>(whole);
  if (ms >= 86400000LL) {
    ms -= 86400000LL;
    days += value >= 0 ? 1 : -1;
  }
  CivilFromDays(days + kDelphiEpoch, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}

TDateTime Now() {
  TDateTimeParts p;
#ifdef _WIN32
  SYSTEMTIME st;
  GetLocalTime(&st);
  p.Year = st.wYear;
  p.Month = st.wMonth;
  p.Day = st.wDay;
  p.Hour = st.wHour;
  p.Minute = st.wMinute;
  p.Second = st.wSecond;
  p.MilliSecond = st.wMilliseconds;
#else
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  tm lt;
  localtime_r(&secs, &lt);
  p.Year = lt.tm_year + 1900;
  p.Month = lt.tm_mon + 1;
  p.Day = lt.tm_mday;
  p.Hour = lt.tm_hour;
  p.Minute = lt.tm_min;
  p.Second = lt.tm_sec > 59 ? 59 : lt.tm_sec;
  p.MilliSecond = static_cast<int>(ts.tv_nsec / 1000000);
#endif
  return EncodeDateTime(p);
}

namespace {

// Appends value in decimal, zero-padded to width digits: what "%0<width>d"
// writes, without printf (every log entry formats its stamp through here).
void AppendNumber(AnsiString& out, int value, int width) {
  if (value < 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out += buf;
    return;
  }
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int k = n; k < width; ++k) out.push_back('0');
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

AnsiString FormatDateTime(std::string_view fmt, TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  AnsiString out;
  out.reserve(fmt.size() + 8);
  bool afterHour = false;
  auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  for (size_t i = 0; i < fmt.size();) {
    auto match = [&](std::string_view tok) {
      if (fmt.size() - i < tok.size()) return false;
      for (size_t k = 0; k < tok.size(); ++k)
        if (lower(fmt[i + k]) != tok[k]) return false;
      return true;
    };
    if (match("yyyy")) {
      AppendNumber(out, p.Year, 4);
      i += 4;
    } else if (match("zzz")) {
      AppendNumber(out, p.MilliSecond, 3);
      i += 3;
    } else if (match("mm")) {
      AppendNumber(out, afterHour ? p.Minute : p.Month, 2);
      afterHour = false;
      i += 2;
    } else if (match("dd")) {
      AppendNumber(out, p.Day, 2);
      i += 2;
    } else if (match("hh")) {
      AppendNumber(out, p.Hour, 2);
      afterHour = true;
      i += 2;
    } else if (match("nn")) {
      AppendNumber(out, p.Minute, 2);
      afterHour = false;
      i += 2;
    } else if (match("ss")) {
      AppendNumber(out, p.Second, 2);
      i += 2;
    } else {
      out.push_back(fmt[i]);
      ++i;
    }
  }
  return out;
}

int ExpandTwoDigitYear(int year, int currentYear) {
  const int first = currentYear - 50;
  int y = first / 100 * 100 + year;
  if (y < first) y += 100;
  return y;
}

bool TryStrToDateTime(std::string_view s, TDateTime& value) {
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  };
  auto number = [&](int maxDigits, int& out) {
    size_t start = i;
    out = 0;
    while (i < s.size() && i - start < static_cast<size_t>(maxDigits) &&
           std::isdigit(static_cast<unsigned char>(s[i])))
      out = out * 10 + (s[i++] - '0');
    return i > start && !(i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])));
  };
  TDateTimeParts p;
  skipBlanks();
  const size_t yearStart = i;
  if (!number(4, p.Year) || i >= s.size() || s[i] != '-') return false;
  if (i - yearStart <= 2) p.Year = ExpandTwoDigitYear(p.Year, DecodeDateTime(Now()).Year);
  ++i;
  if (!number(2, p.Month) || i >= s.size() || s[i++] != '-') return false;
  if (!number(2, p.Day)) return false;
  if (!ValidDate(p.Year, p.Month, p.Day)) return false;
  skipBlanks();
  if (i < s.size()) {
    if (!number(2, p.Hour) || i >= s.size() || s[i++] != ':') return false;
    if (!number(2, p.Minute)) return false;
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!number(2, p.Second)) return false;
    }
    if (p.Hour > 23 || p.Minute > 59 || p.Second > 59) return false;
    skipBlanks();
    if (i < s.size()) return false;
  }
  value = EncodeDateTime(p);
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime v;
  if (!TryStrToDateTime(text, v))
    throw EConvertError("'" + AnsiString(text) + "' is not a valid date and time");
  return v;
}
