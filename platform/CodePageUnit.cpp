// CodePageUnit: conversions between code page 936, UTF-16 and UTF-8.
//
// On POSIX each thread keeps its iconv descriptors (to and from CP936) once
// opened, for its whole life, so a conversion costs no iconv_open; one that
// failed to open is tried again at the next conversion. Conversion walks the input one
// character at a time only after iconv reports a character it cannot map; the
// common case converts the whole buffer in one call.
#include "platform/CodePageUnit.h"

#include <cstdint>

#include "platform/ErrorsUnit.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace {

#ifndef _WIN32
// One thread's converter between two encodings, opened at its first use. A
// converter that fails to open (no descriptor left to load its module, say) is
// not kept: the conversion raises EConvertError, and the next use on the same
// thread tries to open it again.
class TIconv {
 public:
  TIconv(const char* to, const char* from) : to_(to), from_(from) {}
  ~TIconv() {
    if (cd_ != Closed()) iconv_close(cd_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  iconv_t get() {
    if (cd_ == Closed()) cd_ = iconv_open(to_, from_);
    if (cd_ == Closed())
      throw EConvertError(std::string("Unable to open the converter from ") + from_ + " to " + to_);
    return cd_;
  }

 private:
  static iconv_t Closed() { return reinterpret_cast<iconv_t>(-1); }
  const char* const to_;
  const char* const from_;
  iconv_t cd_ = Closed();
};

// Converts in into out; on a sequence that cannot be converted, appends '?' (in
// the target encoding, given as `question`) and skips `skip` input bytes.
void Convert(iconv_t cd, const char* in, size_t inLen, std::string& out, std::string_view question,
             size_t skip) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char buf[4096];
  char* src = const_cast<char*>(in);
  size_t left = inLen;
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, dst - buf);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: an unmappable or malformed character.
    out.append(question);
    size_t n = skip < left ? skip : left;
    src += n;
    left -= n;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
}
#endif

}  // namespace

AnsiString WideToAnsi(std::u16string_view text) {
  AnsiString out;
  if (text.empty()) return out;
#ifdef _WIN32
  int n = WideCharToMultiByte(936, 0, reinterpret_cast<LPCWCH>(text.data()),
                              static_cast<int>(text.size()), nullptr, 0, "?", nullptr);
  out.resize(n);
  WideCharToMultiByte(936, 0, reinterpret_cast<LPCWCH>(text.data()), static_cast<int>(text.size()),
                      out.data(), n, "?", nullptr);
#else
  // UTF-16 code units are converted one by one, so a lone surrogate is just
  // another unmappable unit.
  thread_local TIconv cd("CP936", "UTF-16LE");
  std::string le;
  le.reserve(text.size() * 2);
  bool plain = true;
  for (char16_t c : text) {
    if (c >= 0x80) plain = false;
    le.push_back(static_cast<char>(c & 0xFF));
    le.push_back(static_cast<char>(c >> 8));
  }
  if (plain) return AnsiString(text.begin(), text.end());
  out.reserve(text.size() * 2);
  Convert(cd.get(), le.data(), le.size(), out, "?", 2);
#endif
  return out;
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  if (text.empty()) return out;
#ifdef _WIN32
  int n = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  out.resize(n);
  MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<LPWSTR>(out.data()), n);
#else
  bool plain = true;
  for (unsigned char c : text)
    if (c >= 0x80) plain = false;
  if (plain) return std::u16string(text.begin(), text.end());
  thread_local TIconv cd("UTF-16LE", "CP936");
  std::string le;
  Convert(cd.get(), text.data(), text.size(), le, std::string_view("?\0", 2), 1);
  out.resize(le.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(le[2 * i]) |
                                   (static_cast<unsigned char>(le[2 * i + 1]) << 8));
#endif
  return out;
}

AnsiString Utf8ToAnsi(std::string_view utf8) {
  bool plain = true;
  for (unsigned char c : utf8)
    if (c >= 0x80) plain = false;
  if (plain) return AnsiString(utf8);
#ifdef _WIN32
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::u16string w(n, u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      reinterpret_cast<LPWSTR>(w.data()), n);
  return WideToAnsi(w);
#else
  // Through UTF-16, as on Windows: a well-formed character that code page 936
  // cannot hold becomes one '?', whatever its UTF-8 length; each malformed byte
  // becomes one '?'.
  thread_local TIconv cd("UTF-16LE", "UTF-8");
  std::string le;
  Convert(cd.get(), utf8.data(), utf8.size(), le, std::string_view("?\0", 2), 1);
  std::u16string w(le.size() / 2, u'\0');
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = static_cast<char16_t>(static_cast<unsigned char>(le[2 * i]) |
                                 (static_cast<unsigned char>(le[2 * i + 1]) << 8));
  return WideToAnsi(w);
#endif
}

std::string AnsiToUtf8(std::string_view ansi) {
  bool plain = true;
  for (unsigned char c : ansi)
    if (c >= 0x80) plain = false;
  if (plain) return std::string(ansi);
  std::u16string w = AnsiToWide(ansi);
  std::string out;
  out.reserve(w.size() * 3);
  for (size_t i = 0; i < w.size(); ++i) {
    uint32_t c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
        w[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

AnsiString AnsiUpperCase(std::string_view text) {
  AnsiString out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c)) {
      ++i;  // the trail byte is never folded
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // AnsiUpperCase(a) == AnsiUpperCase(b) without building either: each side
  // folds its own bytes, skipping its own trail bytes.
  bool trailA = false, trailB = false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    const bool leadA = !trailA && IsLeadByte(ca);
    const bool leadB = !trailB && IsLeadByte(cb);
    if (!trailA && ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
    if (!trailB && cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
    if (ca != cb) return false;
    trailA = leadA;
    trailB = leadB;
  }
  return true;
}
