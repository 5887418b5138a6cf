// ConvertUnit: the system's integer syntax.
//
// The XML reader and the guest record read integers as TryStrToInt does:
// leading space characters, an optional '+' or '-', then decimal digits, or
// hexadecimal digits after one of the prefixes "$", "x", "X", "0x", "0X".
// Nothing may follow the digits and the value must fit a signed 32-bit integer.
// Empty or blank text is no integer. The option files use the stricter
// TryOptionStrToInt.
#ifndef VELIO_PLATFORM_CONVERTUNIT_H_
#define VELIO_PLATFORM_CONVERTUNIT_H_

#include <cstdint>
#include <string_view>

#include "platform/CodePageUnit.h"

// Returns true and sets value when text is an integer in the syntax above.
bool TryStrToInt(std::string_view text, int32_t& value);

// As TryStrToInt; raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// As TryStrToInt; returns def when text is no integer.
int32_t StrToIntDef(std::string_view text, int32_t def);

// The option files' stricter integer syntax: after leading space characters,
// either "0x" or "0X" followed by hexadecimal digits (so at least three
// characters), or "$" followed by hexadecimal digits, or an optional '+' or '-'
// followed by decimal digits. No sign goes before a hexadecimal prefix, and "x"
// or "X" alone is no prefix: "x1F90", "X10", "-0x10" and "+$10" are no
// integers. The value must fit a signed 32-bit integer. Returns true and sets
// value when text is such an integer.
bool TryOptionStrToInt(std::string_view text, int32_t& value);

// text without its leading and trailing blanks and control characters (every
// byte at or below the space character).
AnsiString TrimBlanks(std::string_view text);

// Signed decimal text.
AnsiString IntToStr(int64_t value);

#endif  // VELIO_PLATFORM_CONVERTUNIT_H_
