// ConvertUnit: the system's integer syntax.
//
// One syntax serves the option files, the XML reader and the guest record:
// leading space characters, an optional '+' or '-', then decimal digits, or
// hexadecimal digits after one of the prefixes "$", "x", "X", "0x", "0X".
// Nothing may follow the digits and the value must fit a signed 32-bit integer.
// Empty or blank text is no integer.
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

// text without its leading and trailing blanks and control characters (every
// byte at or below the space character).
AnsiString TrimBlanks(std::string_view text);

// Signed decimal text.
AnsiString IntToStr(int64_t value);

#endif  // VELIO_PLATFORM_CONVERTUNIT_H_
