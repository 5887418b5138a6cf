// Utf8Unit: byte-exact UTF-8 decoding and encoding of the wire framing.
#include "server/Utf8Unit.h"

std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    unsigned c = static_cast<unsigned char>(bytes[i++]);
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      continue;
    }
    if (i >= n) return std::u16string();
    unsigned c2 = static_cast<unsigned char>(bytes[i++]);
    if ((c2 & 0xC0) != 0x80) return std::u16string();
    if (c & 0x20) {
      if (i >= n) return std::u16string();
      unsigned c3 = static_cast<unsigned char>(bytes[i++]);
      if ((c3 & 0xC0) != 0x80) return std::u16string();
      out.push_back(static_cast<char16_t>(((c & 0x0F) << 12) | ((c2 & 0x3F) << 6) | (c3 & 0x3F)));
    } else {
      out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (c2 & 0x3F)));
    }
  }
  return out;
}

std::string EncodeUtf8(std::u16string_view text) {
  // Sized first, then filled through a pointer: the reply is encoded on every
  // request, and appending byte by byte cost several times the encoding itself.
  size_t size = 0;
  for (char16_t u : text) size += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
  std::string out(size, '\0');
  char* p = out.data();
  for (char16_t u : text) {
    unsigned c = u;
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
