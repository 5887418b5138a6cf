// AboutWinFormUnit: the about box on the Windows API: the picture, the title
// of the interface mode, version, copyright and company lines, the memo and
// "确定(&O)" (default). GUI thread only.
#ifndef VELIO_APP_ABOUTWINFORMUNIT_H_
#define VELIO_APP_ABOUTWINFORMUNIT_H_

#include <windows.h>

// Shows the about box modally over owner. REQUIRES: InterfaceMode is set.
void ShowAboutWin(HWND owner);

#endif  // VELIO_APP_ABOUTWINFORMUNIT_H_
