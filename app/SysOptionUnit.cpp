// SysOptionUnit: loading and saving the sections SysOption and DoorlockOption.
#include "app/SysOptionUnit.h"

#include "platform/ConvertUnit.h"
#include "platform/ProfileUnit.h"

TSysOption* SystemOptions = nullptr;

namespace {
const char kSys[] = "SysOption";
const char kDoor[] = "DoorlockOption";
}  // namespace

int32_t ReadProfileInteger(const std::string& fileName, const AnsiString& section,
                           const AnsiString& key, int32_t def) {
  AnsiString text = ReadProfileString(fileName, section, key, "");
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text = "$" + text.substr(2);
  return StrToIntDef(text, def);
}

bool ReadProfileBool(const std::string& fileName, const AnsiString& section, const AnsiString& key,
                     bool def) {
  return ReadProfileInteger(fileName, section, key, def ? 1 : 0) != 0;
}

void TSysOption::Load() {
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
