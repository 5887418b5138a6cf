// SimDoorlockUnit: the encoder's state lives in a profile file.
//
// Each operation takes the instance lock, reads the keys it needs and writes
// back what changed, one profile update per key (each replaces the file
// atomically). A file that cannot be read or written, or a value the profile
// refuses (a line break in a guest name), fails the operation with the reason
// logged. The card number is written last, so a reader of the file never
// sees a card number whose details are missing.
#include "doorlock/SimDoorlockUnit.h"

#include <charconv>
#include <memory>

#include "platform/ConvertUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "services/LogFileUnit.h"
#include "services/UiHooksUnit.h"

namespace {

const char kEncoder[] = "Encoder";
const char kCard[] = "Card";
const char kTimeFormat[] = "yyyy-mm-dd hh:nn:ss";

// File names are UTF-8 text on every system.
AnsiString PathText(const std::string& path) {
  return Utf8ToAnsi(path);  // paths are UTF-8 on every system
}

AnsiString DeviceLine(const std::string& path) {
  static const AnsiString kLine = Lit("模拟门锁发卡器: ");
  return kLine + PathText(path);
}

}  // namespace

TSimDoorlock::TSimDoorlock(const std::string& homeDir) : fileName_(homeDir + "DoorlockSim.ini") {}

void TSimDoorlock::ShowOptions() {
  UiHooks().ShowMessage(DeviceLine(fileName_));
}

void TSimDoorlock::OpenPort() {}
void TSimDoorlock::Beep() {}
void TSimDoorlock::ClosePort() {}

bool TSimDoorlock::Failing() const {
  return ReadProfileBool(fileName_, kEncoder, "Fail", false);
}

int64_t TSimDoorlock::ReadNumber(const char* key, int64_t def) const {
  AnsiString text = ReadProfileString(fileName_, kEncoder, key, "");
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size() ? value : def;
}

void TSimDoorlock::WriteValue(const char* section, const char* key, const AnsiString& value) {
  WriteProfileString(fileName_, section, key, value);
}

bool TSimDoorlock::IssueCard(const AnsiString& RegisterId, const AnsiString& BuildingCode,
                             const AnsiString& FloorCode, const AnsiString& RoomNo,
                             const AnsiString& GuestName, TDateTime StartTime, TDateTime,
                             TDateTime EndTime, TDateTime, bool IsCopy, int64_t& CardNo) {
  std::lock_guard<std::mutex> guard(lock_);
  // A state file that cannot be read or written fails the operation: its
  // default card number would hand out a number twice.
  try {
    if (Failing()) return false;
    const int64_t number = ReadNumber("NextCardNo", 1000);
    // A text the file cannot hold fails before anything of the card is written.
    for (const AnsiString* text : {&RegisterId, &BuildingCode, &FloorCode, &RoomNo, &GuestName})
      if (!IsProfileText(*text)) throw EInOutError("Unable to write to " + fileName_);
    WriteValue(kCard, "RegisterId", RegisterId);
    WriteValue(kCard, "BuildingCode", BuildingCode);
    WriteValue(kCard, "FloorCode", FloorCode);
    WriteValue(kCard, "RoomNo", RoomNo);
    WriteValue(kCard, "GuestName", GuestName);
    WriteValue(kCard, "StartTime", FormatDateTime(kTimeFormat, StartTime));
    WriteValue(kCard, "EndTime", FormatDateTime(kTimeFormat, EndTime));
    WriteValue(kCard, "IsCopy", IsCopy ? "1" : "0");
    WriteValue(kEncoder, "NextCardNo", IntToStr(number + 1));
    WriteValue(kEncoder, "CardNo", IntToStr(number));
    CardNo = number;
    return true;
  } catch (const EVelioError& e) {
    WriteLog(e.what());
    return false;
  }
}

bool TSimDoorlock::ReadCard(int64_t& CardNo) {
  std::lock_guard<std::mutex> guard(lock_);
  try {
    if (Failing()) return false;
    const int64_t number = ReadNumber("CardNo", 0);
    if (number == 0) return false;
    CardNo = number;
    return true;
  } catch (const EVelioError& e) {
    WriteLog(e.what());
    return false;
  }
}

bool TSimDoorlock::EraseCard() {
  std::lock_guard<std::mutex> guard(lock_);
  try {
    if (Failing() || ReadNumber("CardNo", 0) == 0) return false;
    WriteValue(kEncoder, "CardNo", "0");
    return true;
  } catch (const EVelioError& e) {
    WriteLog(e.what());
    return false;
  }
}

void InstallSimulatedDoorlock() {
  auto device = std::make_unique<TSimDoorlock>(HomeDir());
  const std::string path = device->FileName();
  InstallDoorlockDevice(std::move(device));
  WriteLog(DeviceLine(path));
}

void UninstallSimulatedDoorlock() {
  InstallDoorlockDevice(nullptr);
}
