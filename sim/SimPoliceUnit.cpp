// SimPoliceUnit: the guest record comes from a profile file.
//
// ReadGuest reads the whole file once, so the fields of one record always come
// from the same version of the file (profile writes replace it atomically),
// takes the key lines of its [Guest] section in one pass (no section: no
// guest) and looks every field up among them, as a profile read would.
#include "sim/SimPoliceUnit.h"

#include <fstream>
#include <sstream>

#include "app/LogFileUnit.h"
#include "app/UiHooksUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"

namespace {

const char kGuest[] = "Guest";

AnsiString PathText(const std::string& path) {
  return Utf8ToAnsi(path);  // paths are UTF-8 on every system
}

AnsiString SourceLine(const std::string& path) {
  static const AnsiString kLine = Lit("模拟公安数据源: ");
  return kLine + PathText(path);
}

std::unique_ptr<TSimPolice> gInstalled;

}  // namespace

TSimPolice::TSimPolice(const std::string& homeDir) : fileName_(homeDir + "Guest.ini") {}

void TSimPolice::ShowOptions() {
  UiHooks().ShowMessage(SourceLine(fileName_));
}

std::shared_ptr<const TGuest> TSimPolice::ReadGuest() {
#ifdef _WIN32
  // Shared for deletion too, so the source may replace the file meanwhile.
  std::string contents;
  if (!ReadWholeFileShared(fileName_, contents)) return nullptr;
#else
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) return nullptr;
  std::ostringstream buffer;  // one bulk read, not a character at a time
  buffer << in.rdbuf();
  const std::string contents = std::move(buffer).str();
#endif
  bool found = false;
  // One pass over the file for all twelve fields.
  const auto entries = ReadProfileSectionFromText(contents, kGuest, found);
  if (!found) return nullptr;
  auto field = [&entries](const char* key) -> AnsiString {
    for (const auto& [name, value] : entries) {
      if (AnsiSameText(name, key)) return value;  // the first key line decides
    }
    return AnsiString();
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
