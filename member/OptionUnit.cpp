// OptionUnit: the member card options in section MemberOption of Option.ini.
//
// The five fields live in one TMemberSettings under a mutex. Load reads the
// file outside the lock and then replaces the fields in one step; Save takes a
// snapshot and writes it key by key (PortName, Sector, Block, Key, KeyFlag),
// one profile update per key, so the other sections of the file stay as they
// are. Integer keys follow the option files' integer rules (ReadProfileInteger).
#include "member/OptionUnit.h"

#include "forms/FormTableUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"

TOption* MemberOptions = nullptr;

namespace {
const char kSection[] = "MemberOption";
}  // namespace

TOption::TOption(std::string fileName) : FileName(std::move(fileName)) {}

void TOption::Load() {
  TMemberSettings s;
  try {
    s.PortName = ReadProfileString(FileName, kSection, "PortName", "COM1");
    s.Sector = ReadProfileInteger(FileName, kSection, "Sector", 4);
    s.Block = ReadProfileInteger(FileName, kSection, "Block", 0);
    s.Key = ReadProfileString(FileName, kSection, "Key", "7D2A9C41E6B3");
    s.KeyFlag = ReadProfileString(FileName, kSection, "KeyFlag", "KEY_A");
  } catch (const EInOutError&) {
    // An unreadable file counts as a missing one: every default.
    s.PortName = "COM1";
    s.Sector = 4;
    s.Block = 0;
    s.Key = "7D2A9C41E6B3";
    s.KeyFlag = "KEY_A";
  }
  std::lock_guard<std::mutex> guard(lock_);
  s_ = std::move(s);
}

void TOption::Save() {
  const TMemberSettings s = Settings();
  WriteProfileString(FileName, kSection, "PortName", s.PortName);
  WriteProfileString(FileName, kSection, "Sector", IntToStr(s.Sector));
  WriteProfileString(FileName, kSection, "Block", IntToStr(s.Block));
  WriteProfileString(FileName, kSection, "Key", s.Key);
  WriteProfileString(FileName, kSection, "KeyFlag", s.KeyFlag);
}

std::optional<int32_t> TOption::PortNumberOf(const AnsiString& portName) {
  if (portName == "USB") return -1;
  if (portName.size() == 4 && portName.compare(0, 3, "COM") == 0 && portName[3] >= '0' &&
      portName[3] <= '9')
    return portName[3] - '0';
  return std::nullopt;
}

std::optional<int32_t> TOption::PortNumber() const {
  return PortNumberOf(PortName());
}

TMemberSettings TOption::Settings() const {
  std::lock_guard<std::mutex> guard(lock_);
  return s_;
}

AnsiString TOption::PortName() const {
  std::lock_guard<std::mutex> guard(lock_);
  return s_.PortName;
}

int32_t TOption::Sector() const {
  std::lock_guard<std::mutex> guard(lock_);
  return s_.Sector;
}

int32_t TOption::Block() const {
  std::lock_guard<std::mutex> guard(lock_);
  return s_.Block;
}

AnsiString TOption::Key() const {
  std::lock_guard<std::mutex> guard(lock_);
  return s_.Key;
}

AnsiString TOption::KeyFlag() const {
  std::lock_guard<std::mutex> guard(lock_);
  return s_.KeyFlag;
}

void TOption::SetPortName(const AnsiString& v) {
  std::lock_guard<std::mutex> guard(lock_);
  s_.PortName = v;
}

void TOption::SetSector(int32_t v) {
  std::lock_guard<std::mutex> guard(lock_);
  s_.Sector = v;
}

void TOption::SetBlock(int32_t v) {
  std::lock_guard<std::mutex> guard(lock_);
  s_.Block = v;
}

void TOption::SetKey(const AnsiString& v) {
  std::lock_guard<std::mutex> guard(lock_);
  s_.Key = v;
}

void TOption::SetKeyFlag(const AnsiString& v) {
  std::lock_guard<std::mutex> guard(lock_);
  s_.KeyFlag = v;
}

void InitMemberOptions() {
  auto* options = new TOption(HomeDir() + "Option.ini");
  options->Load();
  MemberOptions = options;
}

void FinalizeMemberOptions() {
  delete MemberOptions;
  MemberOptions = nullptr;
}

void ApplyMemberOptionInput(TOption& options, const TMemberOptionInput& input) {
  options.SetPortName(input.PortName);
  options.SetBlock(StrToInt(input.Block));
  options.SetSector(StrToInt(input.Sector));
  options.SetKey(input.Key);
  options.SetKeyFlag(input.KeyFlag);
  options.Save();
}

TMemberOptionInput MemberOptionInputOf(const TMemberSettings& settings) {
  TMemberOptionInput shown;
  for (std::string_view entry : ComboItems(ControlRow(FormRow("TOptionForm"), "PortNameCmb"))) {
    if (AnsiSameText(entry, settings.PortName)) {
      shown.PortName = AnsiString(entry);
      break;
    }
  }
  shown.Block = IntToStr(settings.Block);
  shown.Sector = IntToStr(settings.Sector);
  shown.Key = settings.Key;
  shown.KeyFlag = settings.KeyFlag;
  return shown;
}
