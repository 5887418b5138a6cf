// PathUnit: executable and home directories.
#include "platform/PathUnit.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
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
