// DynLibUnit: RAII wrapper around dlopen/dlsym and LoadLibrary/GetProcAddress.
#include "platform/DynLibUnit.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/PathUnit.h"
#else
#include <dlfcn.h>
#endif

namespace {
#ifdef _WIN32
// The system's text for the last error, in UTF-8 like every text this unit gives.
std::string LastErrorText() {
  DWORD code = GetLastError();
  wchar_t buf[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, 512, nullptr);
  while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
  return n ? Utf8FromWide(std::wstring(buf, n)) : "error " + std::to_string(code);
}
#endif
}  // namespace

std::unique_ptr<TDynLib> TDynLib::Open(const std::string& path, std::string& error) {
#ifdef _WIN32
  // The library's own dependencies are looked for beside it first.
  HMODULE h = LoadLibraryExW(WidePath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!h) {
    error = LastErrorText();
    return nullptr;
  }
  return std::unique_ptr<TDynLib>(new TDynLib(reinterpret_cast<void*>(h), path));
#else
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    error = e ? e : "cannot load library";
    return nullptr;
  }
  return std::unique_ptr<TDynLib>(new TDynLib(h, path));
#endif
}

TDynLib::~TDynLib() {
#ifdef _WIN32
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* TDynLib::Symbol(const char* name, std::string& error) const {
#ifdef _WIN32
  FARPROC p = GetProcAddress(reinterpret_cast<HMODULE>(handle_), name);
  if (!p) error = LastErrorText();
  return reinterpret_cast<void*>(p);
#else
  dlerror();
  void* p = dlsym(handle_, name);
  if (!p) {
    const char* e = dlerror();
    error = e ? e : std::string("undefined symbol: ") + name;
  }
  return p;
#endif
}

std::string SharedLibraryName(const std::string& base) {
#ifdef _WIN32
  return base + ".dll";
#else
  return "lib" + base + ".so";
#endif
}
