// MainUnit: the texts and ports that depend on the interface mode.
//
// One row per mode holds everything that differs between the modes; every
// function below looks its mode's row up, and an unknown mode reads as member
// mode, the default.
#include "app/MainUnit.h"

#include <cstring>

#include "services/InterfaceModeUnit.h"
#include "services/SysOptionUnit.h"

namespace {

struct TModeRow {
  int32_t Mode;
  const char* Name;     // as --mode spells it
  const char* PortKey;  // the key of the mode's port in Option.ini
  int32_t TSysOption::*Port;
  const char* Title;  // UTF-8 source text, converted once
  const char* StartLine;
};

const TModeRow kModeRows[] = {
    {kModeDoorlock, "doorlock", "DoorlockPortNo", &TSysOption::DoorlockPortNo,
     "TarvikVelio门锁接口", "门锁接口监听服务器已经启动..."},
    {kModePolice, "police", "PolicePortNo", &TSysOption::PolicePortNo, "TarvikVelio公安接口",
     "公安接口监听服务器已经启动..."},
    {kModeMember, "member", "MemberPortNo", &TSysOption::MemberPortNo, "TarvikVelio会员卡接口",
     "会员卡接口监听服务器已经启动..."},
};
constexpr size_t kModeCount = sizeof(kModeRows) / sizeof(kModeRows[0]);

// The row's index; member mode for anything else.
size_t RowIndex(int32_t mode) {
  for (size_t i = 0; i < kModeCount; ++i) {
    if (kModeRows[i].Mode == mode) return i;
  }
  return kModeCount - 1;
}

// The converted texts of every row, made once on first use.
struct TModeTexts {
  AnsiString Title[kModeCount];
  AnsiString StartLine[kModeCount];
  TModeTexts() {
    for (size_t i = 0; i < kModeCount; ++i) {
      Title[i] = Lit(kModeRows[i].Title);
      StartLine[i] = Lit(kModeRows[i].StartLine);
    }
  }
};

const TModeTexts& Texts() {
  static const TModeTexts kTexts;
  return kTexts;
}

}  // namespace

const AnsiString& TitleForMode(int32_t mode) {
  return Texts().Title[RowIndex(mode)];
}

const AnsiString& StartLineForMode(int32_t mode) {
  return Texts().StartLine[RowIndex(mode)];
}

const AnsiString& StopLine() {
  static const AnsiString kStop = Lit("接口监听服务器已经停止。");
  return kStop;
}

int32_t PortForMode(int32_t mode) {
  if (!SystemOptions) return 0;
  return SystemOptions->*kModeRows[RowIndex(mode)].Port;
}

const char* ModeNameForMode(int32_t mode) {
  return kModeRows[RowIndex(mode)].Name;
}

const char* PortKeyForMode(int32_t mode) {
  return kModeRows[RowIndex(mode)].PortKey;
}

int32_t ModeForName(const char* name) {
  for (const TModeRow& row : kModeRows) {
    if (std::strcmp(row.Name, name) == 0) return row.Mode;
  }
  return kModeMember;
}
