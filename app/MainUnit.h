// MainUnit: what the main window and the headless entry share.
//
// The title, port, port key, --mode name and start line of each interface mode
// (one table row per mode), and the stop line. An unknown mode reads as member
// mode, the default.
#ifndef VELIO_APP_MAINUNIT_H_
#define VELIO_APP_MAINUNIT_H_

#include <cstdint>

#include "platform/CodePageUnit.h"

class TRequestServer;

// "TarvikVelio门锁接口", "TarvikVelio公安接口" or "TarvikVelio会员卡接口".
const AnsiString& TitleForMode(int32_t mode);
// "门锁接口监听服务器已经启动..." and so on.
const AnsiString& StartLineForMode(int32_t mode);
// "接口监听服务器已经停止。"
const AnsiString& StopLine();
// DoorlockPortNo, PolicePortNo or MemberPortNo of SystemOptions.
int32_t PortForMode(int32_t mode);
// "member", "doorlock" or "police", as --mode spells it.
const char* ModeNameForMode(int32_t mode);
// "MemberPortNo", "DoorlockPortNo" or "PolicePortNo": the key of the mode's port.
const char* PortKeyForMode(int32_t mode);
// The mode --mode names ("member", "doorlock", "police"); member mode for any
// other name.
int32_t ModeForName(const char* name);

#endif  // VELIO_APP_MAINUNIT_H_
