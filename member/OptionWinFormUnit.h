// OptionWinFormUnit: the member card options dialog on the Windows API.
//
// Shows MemberOptions in five selection boxes (the port box only selects, the
// others take typed text) and, on "确定", hands them to ApplyMemberOptionInput,
// which assigns, converts and saves in the dialog's order; a saved change is
// followed by "请重新启动程序,以启用设置的参数！" in the "提示" box, an error by the
// error box, and the dialog closes either way. GUI thread only.
#ifndef VELIO_MEMBER_OPTIONWINFORMUNIT_H_
#define VELIO_MEMBER_OPTIONWINFORMUNIT_H_

#include <windows.h>

// Shows the dialog modally over owner. REQUIRES: MemberOptions exists.
void ShowMemberOptionsWin(HWND owner);

#endif  // VELIO_MEMBER_OPTIONWINFORMUNIT_H_
