// PathUnit: executable and home directories.
#include "platform/PathUnit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
std::mutex gHomeLock;
std::string gHome;  // empty: the executable's directory

std::string WithDelim(std::string dir) {
  if (dir.empty() || dir.back() != kPathDelim) dir.push_back(kPathDelim);
  return dir;
}
}  // namespace

std::string ExecutableDir() {
#ifdef _WIN32
  char buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  std::string path(buf, n);
#else
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string(".");
#endif
  size_t slash = path.find_last_of(kPathDelim);
  return slash == std::string::npos ? WithDelim(".") : path.substr(0, slash + 1);
}

std::string HomeDir() {
  std::lock_guard<std::mutex> lock(gHomeLock);
  return gHome.empty() ? ExecutableDir() : gHome;
}

void SetHomeDir(const std::string& dir) {
  std::lock_guard<std::mutex> lock(gHomeLock);
  gHome = dir.empty() ? std::string() : WithDelim(AbsolutePath(dir));
}

bool DirectoryExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.lexically_normal().string();
}

void SetEnvironmentDefault(const std::string& name, const std::string& value) {
#ifdef _WIN32
  const char* current = std::getenv(name.c_str());
  if (current && *current) return;
  _putenv((name + "=" + value).c_str());  // the C runtime's copy, which getenv reads
#else
  const char* current = ::getenv(name.c_str());
  if (current && *current) return;
  ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

namespace {
// Effective write access (and search access for a directory) to path.
bool MayWrite(const std::string& path, bool directory, std::string& error) {
#ifdef _WIN32
  (void)directory;
  int rc = _access(path.c_str(), 2);
#else
  int rc = faccessat(AT_FDCWD, path.c_str(), directory ? W_OK | X_OK : W_OK, AT_EACCESS);
#endif
  if (rc == 0) return true;
  error = std::generic_category().message(errno);
  return false;
}
}  // namespace

bool DirectoryWritable(const std::string& path, std::string& error) {
  return MayWrite(path, true, error);
}

bool FileWritable(const std::string& path, std::string& error) {
  return MayWrite(path, false, error);
}

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = std::generic_category().message(errno);
    return false;
  }
  contents.clear();
  char buf[8192];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) contents.append(buf, n);
  bool failed = std::ferror(f) != 0;
  if (failed) error = std::generic_category().message(errno);
  std::fclose(f);
  return !failed;
}
