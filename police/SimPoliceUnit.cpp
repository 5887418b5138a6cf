// SimPoliceUnit: the guest record comes from a profile file.
//
// ReadGuest reads the whole file once (a missing file is no guest; a file that
// cannot be read is a device failure), so the fields of one record always come
// from the same version of the file (profile writes replace it atomically),
// takes the key lines of its [Guest] section in one pass (no section: no
// guest) and looks every field up among them, as a profile read would.
#include "police/SimPoliceUnit.h"

#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "platform/SystemUnit.h"
#include "services/LogFileUnit.h"
#include "services/UiHooksUnit.h"

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
  std::string contents;
  // A file that is there but cannot be read (no permission, out of
  // descriptors) raises: the request fails instead of reporting "no guest".
  if (!ReadFileIfExists(fileName_, contents)) return nullptr;
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
