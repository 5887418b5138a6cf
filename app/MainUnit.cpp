// MainUnit: the texts and ports that depend on the interface mode.
#include "app/MainUnit.h"

#include "services/InterfaceModeUnit.h"
#include "services/SysOptionUnit.h"

const AnsiString& TitleForMode(int32_t mode) {
  static const AnsiString kDoorlock = Lit("TarvikVelio门锁接口");
  static const AnsiString kPolice = Lit("TarvikVelio公安接口");
  static const AnsiString kMember = Lit("TarvikVelio会员卡接口");
  switch (mode) {
    case kModeDoorlock:
      return kDoorlock;
    case kModePolice:
      return kPolice;
    default:
      return kMember;
  }
}

const AnsiString& StartLineForMode(int32_t mode) {
  static const AnsiString kDoorlock = Lit("门锁接口监听服务器已经启动...");
  static const AnsiString kPolice = Lit("公安接口监听服务器已经启动...");
  static const AnsiString kMember = Lit("会员卡接口监听服务器已经启动...");
  switch (mode) {
    case kModeDoorlock:
      return kDoorlock;
    case kModePolice:
      return kPolice;
    default:
      return kMember;
  }
}

const AnsiString& StopLine() {
  static const AnsiString kStop = Lit("接口监听服务器已经停止。");
  return kStop;
}

int32_t PortForMode(int32_t mode) {
  if (!SystemOptions) return 0;
  switch (mode) {
    case kModeDoorlock:
      return SystemOptions->DoorlockPortNo;
    case kModePolice:
      return SystemOptions->PolicePortNo;
    default:
      return SystemOptions->MemberPortNo;
  }
}

const char* ModeNameForMode(int32_t mode) {
  switch (mode) {
    case kModeDoorlock:
      return "doorlock";
    case kModePolice:
      return "police";
    default:
      return "member";
  }
}

const char* PortKeyForMode(int32_t mode) {
  switch (mode) {
    case kModeDoorlock:
      return "DoorlockPortNo";
    case kModePolice:
      return "PolicePortNo";
    default:
      return "MemberPortNo";
  }
}
