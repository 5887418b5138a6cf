// PathUnit: executable and home directories.
#include "platform/PathUnit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  std::string path = Utf8FromWide(std::wstring(buf, n));
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
  return std::filesystem::is_directory(NativePath(path), ec);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(NativePath(path), ec);
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(NativePath(path), ec);
  return ec ? path : PathUtf8(abs.lexically_normal());
}

std::filesystem::path NativePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathUtf8(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

#ifdef _WIN32
std::wstring WidePath(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string utf8(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                      nullptr, nullptr);
  return utf8;
}
#endif

bool ReadWholeFileShared(const std::string& path, std::string& contents) {
  contents.clear();
#ifdef _WIN32
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buf[65536];
  DWORD n = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buf, sizeof buf, &n, nullptr) != 0) && n > 0) contents.append(buf, n);
  CloseHandle(h);
  return ok;
#else
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  contents = ss.str();
  return true;
#endif
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  int n = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = 0; i < n; ++i) args.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return args;
  }
#endif
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
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
#ifdef _WIN32
// The system's text for GetLastError's code, in UTF-8.
std::string LastErrorText() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}
#endif
}  // namespace

#ifdef _WIN32
// Folder permissions (ACLs) decide on Windows, which _access does not look at:
// a probe file is created in the folder and removed as its handle closes.
bool DirectoryWritable(const std::string& path, std::string& error) {
  const std::wstring probe =
      WidePath(WithDelim(path) + "velio-check-" + std::to_string(GetCurrentProcessId()) + ".tmp");
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = LastErrorText();
    return false;
  }
  CloseHandle(h);
  return true;
}

// Opened for writing (sharing everything, so a running server's log is no
// obstacle) and closed again; nothing is written.
bool FileWritable(const std::string& path, std::string& error) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = LastErrorText();
    return false;
  }
  CloseHandle(h);
  return true;
}
#else
namespace {
// Effective write access (and search access for a directory) to path.
bool MayWrite(const std::string& path, bool directory, std::string& error) {
  int rc = faccessat(AT_FDCWD, path.c_str(), directory ? W_OK | X_OK : W_OK, AT_EACCESS);
  if (rc == 0) return true;
  error = std::generic_category().message(errno);
  return false;
}
}  // namespace

bool DirectoryWritable(const std::string& path, std::string& error) {
  return MayWrite(path, true, error);
}

bool CreateGroupReadableFile(const std::string& path, std::string& error) {
#ifdef _WIN32
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = std::system_category().message(static_cast<int>(GetLastError()));
    return false;
  }
  CloseHandle(h);
  return true;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (fd < 0) {
    if (errno == EEXIST) return true;
    error = std::generic_category().message(errno);
    return false;
  }
  // The umask may have taken the group's read right away.
  const bool ok = ::fchmod(fd, 0640) == 0;
  if (!ok) error = std::generic_category().message(errno);
  ::close(fd);
  return ok;
#endif
}

bool FileWritable(const std::string& path, std::string& error) {
  return MayWrite(path, false, error);
}
#endif

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) {
#ifdef _WIN32
  std::FILE* f = _wfopen(WidePath(path).c_str(), L"rb");
#else
  std::FILE* f = std::fopen(path.c_str(), "rb");
#endif
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
