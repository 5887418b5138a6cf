// CodePageUnit: the system's 8-bit text and its conversions.
//
// Inside the system all text is 8-bit text in code page 936 (GBK), held in an
// AnsiString. The wire carries UTF-16 decoded from UTF-8 (see server/Utf8Unit);
// the GUI and the console speak UTF-8. This unit converts between them:
// iconv "CP936" on POSIX, MultiByteToWideChar/WideCharToMultiByte on Windows.
// Characters that code page 936 cannot hold become '?', as on Windows.
//
// All functions are thread-safe (each thread keeps its own converter state).
// The conversions raise EConvertError when the system cannot provide a
// converter right now (on POSIX, iconv_open failing, for instance with no
// descriptor left); they never return text that was not converted. The next
// call tries again.
#ifndef VELIO_PLATFORM_CODEPAGEUNIT_H_
#define VELIO_PLATFORM_CODEPAGEUNIT_H_

#include <string>
#include <string_view>

// 8-bit text in code page 936.
using AnsiString = std::string;

// UTF-16 text to code page 936; unmappable code units become '?'.
AnsiString WideToAnsi(std::u16string_view text);

// Code page 936 to UTF-16; a byte sequence that is not valid GBK becomes '?'.
std::u16string AnsiToWide(std::string_view text);

// UTF-8 (source literals, command lines, Qt) to code page 936, and back.
// Malformed UTF-8 bytes become '?'.
AnsiString Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

// True when the byte is a lead byte of a double-byte character in code page 936.
inline bool IsLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

// Letter case folding "in the local code page": ASCII letters fold, the trail
// byte of a double-byte character never does.
AnsiString AnsiUpperCase(std::string_view text);
bool AnsiSameText(std::string_view a, std::string_view b);

// A UTF-8 literal converted once to code page 936. Use for the system's fixed
// Chinese texts:  static const AnsiString kText = Lit("写卡成功");
inline AnsiString Lit(std::string_view utf8) {
  return Utf8ToAnsi(utf8);
}

#endif  // VELIO_PLATFORM_CODEPAGEUNIT_H_
