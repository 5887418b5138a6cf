// CheckPasswordWinFormUnit: the administrator password prompt on the Windows
// API ("请输入管理员密码"): the key picture, the password box showing "*", "确定"
// (default) and "取消" (cancel). "确定" with a wrong password shows "密码错误 ！"
// in the "提示" box and the prompt stays; the check is IsAdminPassword.
// GUI thread only.
#ifndef VELIO_APP_CHECKPASSWORDWINFORMUNIT_H_
#define VELIO_APP_CHECKPASSWORDWINFORMUNIT_H_

#include <windows.h>

// Shows the prompt modally over owner; true when the right password was given.
// REQUIRES: SystemOptions exists.
bool ConfirmAdminPasswordWin(HWND owner);

#endif  // VELIO_APP_CHECKPASSWORDWINFORMUNIT_H_
