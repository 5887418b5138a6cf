// DoorlockIssueUnit: writing a guest card, as an "IssueCard" request and the
// test window's write button both do it.
//
// IssueDoorlockCard works out the start time (from the check-in time, or from
// the room times of the record store when the options ask for it), calls the
// installed door-lock device, keeps the room's last check-in time and writes
// the issue record. The door-lock options of SystemOptions are read afresh at
// each use (all defaults when SystemOptions is null); "now" is read afresh at
// each use. Thread-safe as far as the device and the record store are (both
// serialise their own calls).
#ifndef VELIO_DOORLOCK_DOORLOCKISSUEUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKISSUEUNIT_H_

#include <cstdint>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

// What a card is issued from; the times as given, before any delay shift.
struct TIssueRequest {
  AnsiString RegisterId;
  AnsiString BuildingCode;
  AnsiString FloorCode;
  AnsiString RoomNo;
  AnsiString GuestName;
  TDateTime CheckIn = 0;
  TDateTime CheckOut = 0;
  bool IsCopy = false;
};

// Issues one card. cardNo (normally 0 on entry) receives the device's card
// number, if any. From a request (fromTestWindow false) the check-in time is
// moved back by DelayMinutes and the check-out time on by DelayMinutes2; from
// the test window both stay as given. Answers the device's result; false with
// no device installed (the store steps still run). Store errors are logged by
// the store; an error raised by the device passes out, and then nothing
// further is stored.
bool IssueDoorlockCard(const TIssueRequest& request, int64_t& cardNo, bool fromTestWindow);

// The room key: building code + floor code + room number, no separators.
AnsiString DoorlockRoomKey(const AnsiString& building, const AnsiString& floor,
                           const AnsiString& room);

// The copy flag of a request: a numeric text is true when not zero; otherwise
// "True" and "False" in any letter case; any other text, the empty one
// included, is false.
bool DoorlockCopyFlag(const AnsiString& text);

#endif  // VELIO_DOORLOCK_DOORLOCKISSUEUNIT_H_
