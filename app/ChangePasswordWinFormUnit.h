// ChangePasswordWinFormUnit: the change-password dialog on the Windows API
// ("更改管理员密码"): the key picture, two password boxes showing "*", "确定"
// (default) and "取消" (cancel). Storing and saving is ChangeAdminPassword;
// two different entries show "您两次输入的密码不一致，请重新输入！" and the dialog
// stays, a change shows "管理员密码更改成功！" and closes it. GUI thread only.
#ifndef VELIO_APP_CHANGEPASSWORDWINFORMUNIT_H_
#define VELIO_APP_CHANGEPASSWORDWINFORMUNIT_H_

#include <windows.h>

// Shows the dialog modally over owner. REQUIRES: SystemOptions exists.
void ShowChangePasswordWin(HWND owner);

#endif  // VELIO_APP_CHANGEPASSWORDWINFORMUNIT_H_
