// SysOptionUnit: the system options in Option.ini.
//
// TSysOption holds the administrator password, the listening port of each
// interface mode (and one port nothing uses) and four door-lock options, kept in
// the sections SysOption and DoorlockOption of Option.ini. Load reads every key
// with its default; Save writes every key, one profile update per key, and
// leaves all other lines of the file (the MemberOption section included) as
// they are.
//
// The process-wide SystemOptions is loaded once at start-up. Afterwards only
// Password changes, on the GUI thread. The door-lock options are read by
// connection threads; they are plain fields, set before any thread starts.
#ifndef VELIO_SERVICES_SYSOPTIONUNIT_H_
#define VELIO_SERVICES_SYSOPTIONUNIT_H_

#include <cstdint>
#include <string>

#include "platform/CodePageUnit.h"

class TSysOption {
 public:
  // Sets FileName; every other field stays zero, false or empty until Load.
  explicit TSysOption(std::string fileName) : FileName(std::move(fileName)) {}
  TSysOption(const TSysOption&) = delete;
  TSysOption& operator=(const TSysOption&) = delete;

  // Reads every option; a missing file, section, key or bad value gives the
  // default. A file that exists but cannot be read gives every default.
  void Load();

  // Writes every option from its field. Raises EInOutError "Unable to write to
  // %s" when a key cannot be written; keys written before it stay written.
  void Save();

  int32_t DoorlockPortNo = 0;
  bool UseNativeDoorlockDb = false;
  bool SaveDoorlockRecord = false;
  int32_t PolicePortNo = 0;
  int32_t MemberPortNo = 0;
  int32_t ScanPortNo = 0;
  std::string FileName;
  AnsiString Password;
  int32_t DelayMinutes = 0;
  int32_t DelayMinutes2 = 0;

 private:
  void LoadKeys();
  void LoadDefaults();
};

// The process-wide system options; null before start-up.
extern TSysOption* SystemOptions;

#endif  // VELIO_SERVICES_SYSOPTIONUNIT_H_
