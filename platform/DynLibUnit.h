// DynLibUnit: dynamic libraries loaded at run time (dlopen / LoadLibrary).
//
// A TDynLib owns one loaded library and unloads it when destroyed. Loading and
// symbol look-up report failures as texts, never as exceptions. Not copyable.
// Symbol look-up is thread-safe; the object must outlive every pointer taken.
#ifndef VELIO_PLATFORM_DYNLIBUNIT_H_
#define VELIO_PLATFORM_DYNLIBUNIT_H_

#include <memory>
#include <string>

class TDynLib {
 public:
  // Loads the library at path. On failure returns null and sets error to the
  // system's reason.
  static std::unique_ptr<TDynLib> Open(const std::string& path, std::string& error);

  ~TDynLib();
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // The address of the exported symbol, or null with error set.
  void* Symbol(const char* name, std::string& error) const;

  const std::string& Path() const { return path_; }

 private:
  TDynLib(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

// File name of a shared library called base on this platform: "base.dll" on
// Windows, "libbase.so" elsewhere.
std::string SharedLibraryName(const std::string& base);

#endif  // VELIO_PLATFORM_DYNLIBUNIT_H_
