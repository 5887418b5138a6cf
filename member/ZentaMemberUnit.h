// ZentaMemberUnit: the member card device on the contact-less card reader.
//
// TZentaMember drives the reader through its vendor library (Reader.DLL on
// Windows, libReader.so elsewhere), loaded at run time as a TReaderLibrary
// (ReaderLibraryUnit: from the executable's directory, or from the file named
// by the environment variable VELIO_READER_LIBRARY). Construction loads the
// library once and logs one line naming the file it loaded, or naming the file
// and the reason it could not be used; in the latter case every card operation
// answers false with a log line.
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
#include "member/ReaderLibraryUnit.h"
#include "platform/CodePageUnit.h"

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
