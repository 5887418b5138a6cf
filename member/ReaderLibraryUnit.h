// ReaderLibraryUnit: finding and loading the card reader's library.
//
// TReaderLibrary loads a reader library (Reader.dll on Windows, libReader.so
// elsewhere; any library with the four functions of platform/ReaderApi.h) at
// run time and calls its functions. It is what the member card device drives
// the reader through, and what start-up (the simulated reader's announcement)
// and the self-check (velio-interfaced --check) load on their own.
//
// Where the library is found: DefaultPath() names the file a program loads
// unless it is told another (--reader-library). How its functions are found:
// by their plain names ("ReadCard"), else by their stdcall-decorated names
// ("_ReadCard@28", then "ReadCard@28"). How they are called: in the 32-bit
// Windows build the library may clean up its own arguments (stdcall, usual for
// Windows DLLs) or leave that to the caller (cdecl), so every call goes through
// a small thunk that saves the stack pointer and restores it after the call,
// and the stack is as it was either way; elsewhere a call is a plain call.
//
// A TReaderLibrary is not copyable. Its functions may be called from any
// thread while it lives; the library itself decides what may run at once (the
// member device calls it one operation at a time).
#ifndef VELIO_MEMBER_READERLIBRARYUNIT_H_
#define VELIO_MEMBER_READERLIBRARYUNIT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ReaderApi.h"

class TDynLib;

extern "C" {
// The reader simulator's own export: copies the path of its card file (UTF-8
// on POSIX, NUL-terminated) into buffer when it fits; answers its length.
typedef int32_t(VELIO_READER_CALL* TSimCardFileFn)(char* buffer, int32_t size);
}

// The reader library and its four functions. Loading never throws: when the
// file cannot be loaded or lacks a function, Loaded() is false and Error()
// says why.
class TReaderLibrary {
 public:
  // The file loaded by default: VELIO_READER_LIBRARY when set and not empty,
  // else "Reader.dll" (Windows) or "libReader.so" in ExecutableDir(); when
  // that file is missing and the package's library folder holds libReader.so
  // (an installed package, programs in /usr/bin), that one.
  static std::string DefaultPath();

  explicit TReaderLibrary(std::string path);
  ~TReaderLibrary();
  TReaderLibrary(const TReaderLibrary&) = delete;
  TReaderLibrary& operator=(const TReaderLibrary&) = delete;

  bool Loaded() const { return loaded_; }
  const std::string& Path() const { return path_; }
  // Why the library cannot be used (UTF-8), without the file's name that the
  // loader's own message may begin with; empty when loaded.
  const std::string& Error() const { return error_; }
  // The exported names found, in the order StartSCard, WriteCard, ReadCard, EndSCard.
  const std::string& FoundNames() const { return foundNames_; }

  // The library's functions (platform/ReaderApi.h). REQUIRES: Loaded().
  int32_t StartSCard(int32_t port, int32_t* param, int32_t zero) const;
  int32_t WriteCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector, int32_t block,
                    int32_t len, int32_t keyMode) const;
  int32_t ReadCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector, int32_t block,
                   int32_t len, int32_t keyMode) const;
  int32_t EndSCard(int32_t port) const;
  // Set only when the library is the reader simulator (ReaderSimCardFile).
  TSimCardFileFn SimCardFile = nullptr;

 private:
  std::string path_;
  std::string error_;
  std::string foundNames_;
  bool loaded_ = false;
  std::unique_ptr<TDynLib> lib_;
  void* start_ = nullptr;
  void* write_ = nullptr;
  void* read_ = nullptr;
  void* end_ = nullptr;
};

#endif  // VELIO_MEMBER_READERLIBRARYUNIT_H_
