// ConvertUnit: integer parsing in the system's syntax (see the header).
#include "platform/ConvertUnit.h"

#include "platform/ErrorsUnit.h"

bool TryStrToInt(std::string_view s, int32_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    neg = s[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * (hex ? 16 : 10) + d;
    if (v > 0xFFFFFFFFull) return false;
  }
  // Decimal and hexadecimal alike: the signed value must fit 32 bits.
  if (neg) {
    if (v > 0x80000000ull) return false;
    value = static_cast<int32_t>(-static_cast<int64_t>(v));
  } else {
    if (v > 0x7FFFFFFFull) return false;
    value = static_cast<int32_t>(v);
  }
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t v;
  if (!TryStrToInt(text, v))
    throw EConvertError("'" + AnsiString(text) + "' is not a valid integer value");
  return v;
}

int32_t StrToIntDef(std::string_view text, int32_t def) {
  int32_t v;
  return TryStrToInt(text, v) ? v : def;
}

bool TryOptionStrToInt(std::string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const std::string_view s = text.substr(i);
  if (s.empty()) return false;
  const bool hex = s[0] == '$' || (s.size() >= 3 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'));
  if (!hex) {
    // Decimal only: an optional sign, then nothing but digits.
    size_t k = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (k == s.size()) return false;
    for (; k < s.size(); ++k)
      if (s[k] < '0' || s[k] > '9') return false;
  }
  // TryStrToInt reads both forms the same way once they are known to be valid.
  return TryStrToInt(s, value);
}

AnsiString TrimBlanks(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return AnsiString(text.substr(first, last - first));
}

AnsiString IntToStr(int64_t value) {
  return std::to_string(value);
}
