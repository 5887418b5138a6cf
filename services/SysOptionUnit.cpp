// SysOptionUnit: loading and saving the sections SysOption and DoorlockOption.
#include "services/SysOptionUnit.h"

#include "platform/ConvertUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/ProfileUnit.h"

TSysOption* SystemOptions = nullptr;

namespace {
const char kSys[] = "SysOption";
const char kDoor[] = "DoorlockOption";
}  // namespace

void TSysOption::Load() {
  try {
    LoadKeys();
  } catch (const EInOutError&) {
    // An unreadable file counts as a missing one here: every option takes its
    // default. Saving will refuse to replace such a file.
    LoadDefaults();
  }
}

void TSysOption::LoadDefaults() {
  Password = "qelvan";
  DoorlockPortNo = 8886;
  PolicePortNo = 8885;
  MemberPortNo = 8883;
  ScanPortNo = 8881;
  DelayMinutes = 0;
  DelayMinutes2 = 0;
  UseNativeDoorlockDb = false;
  SaveDoorlockRecord = false;
}

void TSysOption::LoadKeys() {
  Password = ReadProfileString(FileName, kSys, "Password", "qelvan");
  DoorlockPortNo = ReadProfileInteger(FileName, kSys, "DoorlockPortNo", 8886);
  PolicePortNo = ReadProfileInteger(FileName, kSys, "PolicePortNo", 8885);
  MemberPortNo = ReadProfileInteger(FileName, kSys, "MemberPortNo", 8883);
  ScanPortNo = ReadProfileInteger(FileName, kSys, "ScanPortNo", 8881);
  DelayMinutes = ReadProfileInteger(FileName, kDoor, "DelayMinutes", 0);
  DelayMinutes2 = ReadProfileInteger(FileName, kDoor, "DelayMinutes2", 0);
  UseNativeDoorlockDb = ReadProfileBool(FileName, kDoor, "UseNativeDoorlockDb", false);
  SaveDoorlockRecord = ReadProfileBool(FileName, kDoor, "SaveDoorlockRecord", false);
}

void TSysOption::Save() {
  WriteProfileString(FileName, kSys, "Password", Password);
  WriteProfileString(FileName, kSys, "DoorlockPortNo", IntToStr(DoorlockPortNo));
  WriteProfileString(FileName, kSys, "PolicePortNo", IntToStr(PolicePortNo));
  WriteProfileString(FileName, kSys, "MemberPortNo", IntToStr(MemberPortNo));
  WriteProfileString(FileName, kSys, "ScanPortNo", IntToStr(ScanPortNo));
  WriteProfileString(FileName, kDoor, "DelayMinutes", IntToStr(DelayMinutes));
  WriteProfileString(FileName, kDoor, "DelayMinutes2", IntToStr(DelayMinutes2));
  WriteProfileString(FileName, kDoor, "UseNativeDoorlockDb", UseNativeDoorlockDb ? "1" : "0");
  WriteProfileString(FileName, kDoor, "SaveDoorlockRecord", SaveDoorlockRecord ? "1" : "0");
}
