// Utf8Unit: the wire conversions between UTF-8 bytes and UTF-16 text.
//
// DecodeUtf8 reads sequences of one, two and three bytes; the length of a
// sequence is decided by bit 0x20 of its lead byte alone (set: three bytes,
// clear: two). Every following byte must lie in 0x80..0xBF; the code unit is
// built from the low bits and truncated to 16 bits. Overlong forms are
// accepted. Any malformed or cut-off sequence makes the whole result empty.
//
// EncodeUtf8 encodes each UTF-16 code unit by itself in one, two or three bytes;
// surrogate pairs are not combined.
#ifndef VELIO_SERVER_UTF8UNIT_H_
#define VELIO_SERVER_UTF8UNIT_H_

#include <string>
#include <string_view>

std::u16string DecodeUtf8(std::string_view bytes);
std::string EncodeUtf8(std::u16string_view text);

#endif  // VELIO_SERVER_UTF8UNIT_H_
