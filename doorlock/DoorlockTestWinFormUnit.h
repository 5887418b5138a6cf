// DoorlockTestWinFormUnit: the door-lock test window on the Windows API.
//
// The same controls and buttons as the Qt window; every button calls one
// function of DoorlockTestUnit, guarded, so an error (a date-time box that
// does not convert) ends in the error box and the window stays. GUI thread only.
#ifndef VELIO_DOORLOCK_DOORLOCKTESTWINFORMUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKTESTWINFORMUNIT_H_

#include <windows.h>

// Shows the window modally over owner. REQUIRES: DoorlockDevice is installed.
void ShowDoorlockTestWin(HWND owner);

#endif  // VELIO_DOORLOCK_DOORLOCKTESTWINFORMUNIT_H_
