// DoorlockTestUnit: what the door-lock test window's buttons do.
//
// The window only wires its controls to these functions; each acts on the
// installed DoorlockDevice on the calling (GUI) thread while the server goes on
// serving. With no device installed the port, beep, read and erase operations
// do nothing and DoorlockTestWriteCard still runs its record store steps.
#ifndef VELIO_DOORLOCK_DOORLOCKTESTUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKTESTUNIT_H_

#include <cstdint>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

// The initial texts of the two date-time boxes.
struct TDoorlockTestTimes {
  AnsiString CheckIn;   // now minus one hour, "yyyy-mm-dd hh:nn:ss"
  AnsiString CheckOut;  // now plus two days, same format
};
TDoorlockTestTimes DoorlockTestDefaultTimes(TDateTime now);

void DoorlockTestOpenPort();
void DoorlockTestClosePort();
void DoorlockTestBeep();

// Writes a guest card from the window's boxes: guest "Test", no registration
// id, the box times unshifted (see IssueDoorlockCard). Raises EConvertError
// "'%s' is not a valid date and time" before any device or store call when a
// box does not convert. Answers the device's result (the window shows nothing).
bool DoorlockTestWriteCard(const AnsiString& building, const AnsiString& floor,
                           const AnsiString& room, const AnsiString& checkInText,
                           const AnsiString& checkOutText, bool isCopy);

// Reads a card: the device's card number, or 0 when it delivered none.
int64_t DoorlockTestReadCard();

// Erases the card on the encoder; the result is not shown.
void DoorlockTestEraseCard();

#endif  // VELIO_DOORLOCK_DOORLOCKTESTUNIT_H_
