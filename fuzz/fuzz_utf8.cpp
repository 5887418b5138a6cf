// Fuzz target for the UTF-8 wire conversions.
//
// Checks: decoding never crashes; a successful decode re-encodes to the same
// bytes whenever the input used only shortest forms with standard lead bytes;
// decoding what was encoded gives the units back; and the input read as UTF-16
// units survives EncodeUtf8 then DecodeUtf8.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/Utf8Unit.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// True when every sequence is a one-byte unit, a C2..DF two-byte sequence or an
// E0..EF three-byte sequence of at least 0x800: the forms EncodeUtf8 writes.
bool IsCanonical(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
    } else if (c >= 0xC2 && c <= 0xDF) {
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      if (c == 0xE0 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0)
        return false;
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::u16string text = DecodeUtf8(bytes);
  Check(text.size() <= bytes.size());
  if (!text.empty() || bytes.empty()) {
    std::string again = EncodeUtf8(text);
    if (IsCanonical(bytes)) Check(again == bytes);
    Check(DecodeUtf8(again) == text);
  }
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2)
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  std::string encoded = EncodeUtf8(units);
  Check(DecodeUtf8(encoded) == units);
  Check(IsCanonical(encoded));
  return 0;
}
