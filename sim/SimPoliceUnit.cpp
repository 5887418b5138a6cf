// SimPoliceUnit: the guest record comes from a profile file.
//
// ReadGuest reads the whole file once, so the fields of one record always come
// from the same version of the file (profile writes replace it atomically),
// checks that a [Guest] section is present and then looks every field up in
// those contents.
#include "sim/SimPoliceUnit.h"

#include <fstream>
#include <iterator>
#include <string_view>

#include "app/LogFileUnit.h"
#include "app/UiHooksUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"

namespace {

const char kGuest[] = "Guest";

AnsiString PathText(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  return Utf8ToAnsi(path);
#endif
}

AnsiString SourceLine(const std::string& path) {
  static const AnsiString kLine = Lit("模拟公安数据源: ");
  return kLine + PathText(path);
}

std::string_view TrimBlanks(std::string_view s) {
  const char* blanks = " \t\r\n";
  size_t a = s.find_first_not_of(blanks);
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(blanks) + 1 - a);
}

// True when contents hold a section header naming section (letter case ignored).
bool HasSection(std::string_view contents, std::string_view section) {
  size_t i = 0;
  while (i < contents.size()) {
    size_t end = contents.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = TrimBlanks(contents.substr(i, end - i));
    if (!line.empty() && line[0] == '[') {
      size_t close = line.find(']');
      std::string_view name =
          TrimBlanks(close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1));
      if (AnsiSameText(name, section)) return true;
    }
    i = end + 1;
  }
  return false;
}

std::unique_ptr<TSimPolice> gInstalled;

}  // namespace

TSimPolice::TSimPolice(const std::string& homeDir) : fileName_(homeDir + "Guest.ini") {}

void TSimPolice::ShowOptions() {
  UiHooks().ShowMessage(SourceLine(fileName_));
}

std::shared_ptr<const TGuest> TSimPolice::ReadGuest() {
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) return nullptr;
  const std::string contents((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (!HasSection(contents, kGuest)) return nullptr;
  auto field = [&](const char* key) {
    return ReadProfileStringFromText(contents, kGuest, key, "");
  };
  auto guest = std::make_shared<TGuest>();
  guest->RoomNo = field("RoomNo");
  guest->EnterTime = field("EnterTime");
  guest->LeaveTime = field("LeaveTime");
  guest->IdCardNo = field("IdCardNo");
  guest->Name = field("Name");
  guest->Nationality = field("Nationality");
  guest->GenderID = field("GenderID");
  guest->Remark = field("Remark");
  guest->CountryCode = field("CountryCode");
  guest->ProvinceCode = field("ProvinceCode");
  guest->Address = field("Address");
  guest->Birthday = field("Birthday");
  return guest;
}

void InstallSimulatedPolice() {
  UninstallSimulatedPolice();
  gInstalled = std::make_unique<TSimPolice>(HomeDir());
  PoliceDevice.store(gInstalled.get());
  WriteLog(SourceLine(gInstalled->FileName()));
}

void UninstallSimulatedPolice() {
  PoliceDevice.store(nullptr);
  gInstalled.reset();
}
