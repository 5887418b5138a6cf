// FileSupport: whole-file reads and writes, and running a piece of code
// without root's right to write anywhere. Paths are UTF-8, as everywhere in
// the system (on Windows they are converted, as the system converts them).
#ifndef VELIO_TESTS_SUPPORT_FILESUPPORT_H_
#define VELIO_TESTS_SUPPORT_FILESUPPORT_H_

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/PathUnit.h"

namespace velio_test {

// The whole file as bytes; empty when it is missing or cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Makes the file hold exactly bytes (created or truncated).
inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(NativePath(path), ec);
}

// Runs body where files without a write bit cannot be written: directly for an
// ordinary user; for root, in a child process that has become user "nobody"
// (root writes any file). Returns body's result, or -1 when the child failed.
// body must not use test assertions; it reports through its result.
inline int RunUnprivileged(const std::function<int()>& body) {
#ifdef _WIN32
  return body();  // the read-only attribute binds every user
#else
  if (::geteuid() != 0) return body();
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(120);
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
#endif
}

// Makes the file path read-only, and its folder dir reachable by everyone, so
// that RunUnprivileged code can read the file but not write it.
inline void MakeReadOnly(const std::string& dir, const std::string& path) {
#ifdef _WIN32
  ::_chmod(path.c_str(), _S_IREAD);
  (void)dir;
#else
  ::chmod(path.c_str(), 0444);
  ::chmod(dir.c_str(), 0755);
#endif
}

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_FILESUPPORT_H_
