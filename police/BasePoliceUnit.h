// BasePoliceUnit: the police data source abstraction and the guest record.
//
// TBasePolice hands over the current guest's registration record. ReadGuest may
// be called from several threads at once; the record it returns is shared and
// stays valid and unchanged while the caller holds it.
#ifndef VELIO_POLICE_BASEPOLICEUNIT_H_
#define VELIO_POLICE_BASEPOLICEUNIT_H_

#include <atomic>
#include <memory>

#include "platform/CodePageUnit.h"

// The guest record; every field is code page 936 text.
struct TGuest {
  AnsiString RoomNo;
  AnsiString EnterTime;
  AnsiString LeaveTime;  // not read by the system
  AnsiString IdCardNo;
  AnsiString Name;
  AnsiString Nationality;
  AnsiString GenderID;
  AnsiString Remark;  // not read by the system
  AnsiString CountryCode;
  AnsiString ProvinceCode;
  AnsiString Address;
  AnsiString Birthday;
};

class TBasePolice {
 public:
  TBasePolice() = default;
  virtual ~TBasePolice() = default;
  TBasePolice(const TBasePolice&) = delete;
  TBasePolice& operator=(const TBasePolice&) = delete;

  virtual void ShowOptions() = 0;
  // The current guest, or null when there is none.
  virtual std::shared_ptr<const TGuest> ReadGuest() = 0;
};

// The current police device; null when none is installed.
extern std::atomic<TBasePolice*> PoliceDevice;

#endif  // VELIO_POLICE_BASEPOLICEUNIT_H_
