// ZentaMemberUnit: the member card device on the contact-less card reader.
//
// TZentaMember drives the reader through its vendor library (Reader.DLL on
// Windows, libReader.so elsewhere), loaded at run time from the executable's
// directory, or from the file named by the environment variable
// VELIO_READER_LIBRARY. Construction loads the library once and logs one line
// naming the file it loaded, or naming the file and the reason it could not be
// used; in the latter case every card operation answers false with a log line.
//
// Every card operation opens the reader's port (StartSCard), reads or writes
// the configured block of the card (ReadCard/WriteCard) and closes the port
// again (EndSCard, also when StartSCard failed or the key does not convert).
// The reader settings are taken from MemberOptions once per operation.
//
// TZentaMember has internal synchronization and may be safely accessed
// concurrently: card operations on one device run one at a time, whether they
// come from connection threads or from the test window.
#ifndef VELIO_MEMBER_ZENTAMEMBERUNIT_H_
#define VELIO_MEMBER_ZENTAMEMBERUNIT_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "member/BaseMemberUnit.h"
#include "platform/CodePageUnit.h"

class TDynLib;

// The reader library's calling convention: stdcall on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define VELIO_READER_CALL __stdcall
#else
#define VELIO_READER_CALL
#endif

extern "C" {
// Opens the reader port; param points to the start parameter (4113). 0: open.
typedef int32_t(VELIO_READER_CALL* TStartSCardFn)(int32_t port, int32_t* param, int32_t zero);
// Writes the 16 bytes of block to the card. 0: written.
typedef int32_t(VELIO_READER_CALL* TWriteCardFn)(int32_t port, uint8_t* key6, uint8_t* block16,
                                                 int32_t sector, int32_t block, int32_t len,
                                                 int32_t keyMode);
// Reads the block of the card into block16. 0: read.
typedef int32_t(VELIO_READER_CALL* TReadCardFn)(int32_t port, uint8_t* key6, uint8_t* block16,
                                                int32_t sector, int32_t block, int32_t len,
                                                int32_t keyMode);
// Closes the reader port.
typedef int32_t(VELIO_READER_CALL* TEndSCardFn)(int32_t port);
// The reader simulator's own export: copies the path of its card file (UTF-8
// on POSIX, NUL-terminated) into buffer when it fits; answers its length.
typedef int32_t(VELIO_READER_CALL* TSimCardFileFn)(char* buffer, int32_t size);
}

// The reader library and its four functions. Loading never throws: when the
// file cannot be loaded or lacks a function, Loaded() is false and Error()
// says why. Not copyable; the functions may be called while the object lives.
//
// Each function is found by its plain name ("ReadCard"), else by its
// stdcall-decorated names ("_ReadCard@28", then "ReadCard@28"). In the 32-bit
// Windows build the library may clean up its own arguments (stdcall, usual for
// Windows DLLs) or leave that to the caller (cdecl): every call goes through a
// small thunk that saves the stack pointer and restores it after the call, so
// the stack is as it was either way.
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

  // REQUIRES: Loaded().
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

class TZentaMember : public TBaseMember {
 public:
  // Loads TReaderLibrary::DefaultPath() and logs the outcome (one line).
  TZentaMember();
  // Loads the library at libraryPath and logs the outcome (one line).
  explicit TZentaMember(const std::string& libraryPath);
  ~TZentaMember() override;

  // Opens the member card options dialog (UiHooks().ShowMemberOptions()).
  void ShowOptions() override;
  // Answer true at once; they call nothing.
  bool OpenPort() override;
  bool ClosePort() override;
  bool Probe() override;

  // Writes CardNo (code page 936 bytes, then 0xFF up to 16 bytes) to the
  // configured sector and block. Answers true when the library reported
  // success; false (with a log line) otherwise, and for a card number longer
  // than 16 bytes, an unknown port name or an unusable library, which touch no
  // card. Extra1..3 and Channel are ignored. Raises EConvertError when Key is
  // not hexadecimal (the port is closed again first).
  bool WriteMemberCard(AnsiString CardNo, AnsiString Extra1, AnsiString Extra2, AnsiString Extra3,
                       int32_t Channel) override;
  // Reads the configured block; on success sets CardNo to its bytes up to the
  // first 0xFF or 0x00, logs it, calls Beep and answers true. The other outputs
  // are left as the caller set them. Failures and errors as for writing.
  bool ReadMemberCard(bool Flag, AnsiString& CardNo, AnsiString& Password, AnsiString& ExpireDate,
                      AnsiString& GuestName, AnsiString& Score, int32_t Channel) override;

  const TReaderLibrary& Library() const { return *lib_; }

 private:
  std::unique_ptr<TReaderLibrary> lib_;
  std::mutex lock_;  // one card operation at a time
};

#endif  // VELIO_MEMBER_ZENTAMEMBERUNIT_H_
