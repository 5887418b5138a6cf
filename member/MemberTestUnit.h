// MemberTestUnit: what the member card test window's buttons do.
//
// The window only reads its boxes, calls these functions and shows what they
// answer; each acts on the installed MemberDevice on the calling (GUI) thread
// while the server goes on serving. With no device installed every function
// does nothing (a read answers nothing to show). A device error propagates to
// the caller, which shows it in the error box.
#ifndef VELIO_MEMBER_MEMBERTESTUNIT_H_
#define VELIO_MEMBER_MEMBERTESTUNIT_H_

#include <optional>

#include "platform/CodePageUnit.h"

void MemberTestOpenPort();
void MemberTestClosePort();
void MemberTestBeep();

// What a read puts into the card number and password boxes.
struct TMemberTestRead {
  AnsiString CardNo;
  AnsiString Password;
};

// Reads a card of the card type cardType (the type box's text, which gives the
// device's Channel: ChannelForCardType). Answers the device's card number and
// password outputs, empty when it read none; nothing without a device.
std::optional<TMemberTestRead> MemberTestReadCard(const AnsiString& cardType);

// Writes cardNo with empty extras on a card of the type cardType; the
// device's answer is not shown.
void MemberTestWriteCard(const AnsiString& cardNo, const AnsiString& cardType);

#endif  // VELIO_MEMBER_MEMBERTESTUNIT_H_
