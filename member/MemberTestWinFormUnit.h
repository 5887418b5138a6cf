// MemberTestWinFormUnit: the member card test window on the Windows API.
//
// Drives MemberDevice by hand as the Qt window does: open and close the
// reader, sound it, read a card (showing the card number and password) and
// write the typed card number, on the card type chosen. A device error goes to
// the error box. GUI thread only.
#ifndef VELIO_MEMBER_MEMBERTESTWINFORMUNIT_H_
#define VELIO_MEMBER_MEMBERTESTWINFORMUNIT_H_

#include <windows.h>

// Shows the window modally over owner.
void ShowMemberTestWin(HWND owner);

#endif  // VELIO_MEMBER_MEMBERTESTWINFORMUNIT_H_
