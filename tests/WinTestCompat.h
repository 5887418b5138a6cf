// WinTestCompat: the few POSIX calls the tests use, for the Windows build.
//
// Force-included (-include) into every test and fuzz-driver program of the
// MinGW builds, so the tests read the same on both systems: setenv/unsetenv
// over _putenv_s (which updates the process environment as well), mkdtemp over
// a random name and _mkdir, and geteuid answering an ordinary user (Windows has
// no root that writes read-only files).
#ifndef VELIO_TESTS_WINTESTCOMPAT_H_
#define VELIO_TESTS_WINTESTCOMPAT_H_
#ifdef _WIN32

#include <direct.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
#include <random>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name)) return 0;
  return _putenv_s(name, value);
}
inline int unsetenv(const char* name) {
  return _putenv_s(name, "");
}
// Replaces the trailing XXXXXX of tmpl and creates that folder.
inline char* mkdtemp(char* tmpl) {
  const size_t n = strlen(tmpl);
  if (n < 6) return nullptr;
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = n - 6; i < n; ++i) tmpl[i] = kChars[rd() % 36];
    if (_mkdir(tmpl) == 0) return tmpl;
  }
  return nullptr;
}
inline int geteuid() {
  return 1000;
}
// pclose answers the program's exit code itself.
#define WIFEXITED(status) ((status) != -1)
#define WEXITSTATUS(status) (status)
#endif

#endif  // _WIN32
#endif  // VELIO_TESTS_WINTESTCOMPAT_H_
