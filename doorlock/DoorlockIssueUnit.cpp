// DoorlockIssueUnit: the steps of writing a guest card.
//
// 1. Shift the check-in and check-out times by the delay options (requests
//    only). 2. Work out the start time: the check-in time, or with the native
//    room store "now" minus DelayMinutes, or for a copy the room's stored last
//    check-in time (stored at once when the room has none). 3. Call the device.
//    4. A new card issued with the native store sets the room's time. 5. With
//    SaveDoorlockRecord every attempt leaves an issue record.
#include "doorlock/DoorlockIssueUnit.h"

#include <string_view>

#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "platform/ConvertUnit.h"
#include "services/SysOptionUnit.h"

namespace {

// The door-lock options, read at each use; defaults when none are loaded.
int32_t DelayMinutes() {
  return SystemOptions ? SystemOptions->DelayMinutes : 0;
}
int32_t DelayMinutes2() {
  return SystemOptions ? SystemOptions->DelayMinutes2 : 0;
}
bool UseNativeDoorlockDb() {
  return SystemOptions && SystemOptions->UseNativeDoorlockDb;
}
bool SaveDoorlockRecord() {
  return SystemOptions && SystemOptions->SaveDoorlockRecord;
}

// A decimal number: blanks, an optional sign, digits with an optional point,
// an optional exponent, blanks. Answers false when text is no such number;
// otherwise sets nonZero to whether its value is not zero (any non-zero digit
// before the exponent).
bool DecimalNumber(std::string_view text, bool& nonZero) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return false;
  std::string_view s = text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  auto isDigit = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
  size_t digits = 0;
  nonZero = false;
  auto mantissaDigits = [&] {
    for (; isDigit(i); ++i, ++digits)
      if (s[i] != '0') nonZero = true;
  };
  mantissaDigits();
  if (i < s.size() && s[i] == '.') {
    ++i;
    mantissaDigits();
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (!isDigit(i)) return false;
    while (isDigit(i)) ++i;
  }
  return i == s.size();
}

}  // namespace

AnsiString DoorlockRoomKey(const AnsiString& building, const AnsiString& floor,
                           const AnsiString& room) {
  return building + floor + room;
}

bool DoorlockCopyFlag(const AnsiString& text) {
  bool nonZero;
  if (DecimalNumber(text, nonZero)) return nonZero;
  if (AnsiSameText(text, "True")) return true;
  return false;  // "False", and any other text
}

bool IssueDoorlockCard(const TIssueRequest& request, int64_t& cardNo, bool fromTestWindow) {
  const TDateTime checkIn =
      fromTestWindow ? request.CheckIn : IncMinutes(request.CheckIn, -DelayMinutes());
  const TDateTime checkOut =
      fromTestWindow ? request.CheckOut : IncMinutes(request.CheckOut, DelayMinutes2());
  const AnsiString roomKey =
      DoorlockRoomKey(request.BuildingCode, request.FloorCode, request.RoomNo);
  TDoorlockRecordManager* store = DoorlockRecordManager;

  TDateTime startTime;
  if (!UseNativeDoorlockDb()) {
    startTime = checkIn;
  } else if (!request.IsCopy) {
    // On the millisecond, as the store keeps it: the room's stored time is
    // then exactly the one the card got.
    startTime = RoundToMillisecond(IncMinutes(Now(), -DelayMinutes()));
  } else {
    // A room without a stored time gets now at once, before the device is
    // called; the store reads and inserts in one step, so simultaneous copies
    // for a new room insert it once.
    const TDateTime now = RoundToMillisecond(IncMinutes(Now(), -DelayMinutes()));
    startTime = store ? store->GetOrInsertLastCheckInTime(roomKey, now) : now;
  }

  bool result = false;
  if (TBaseDoorlock* device = DoorlockDevice.load()) {
    result = device->IssueCard(request.RegisterId, request.BuildingCode, request.FloorCode,
                               request.RoomNo, request.GuestName, startTime, startTime, checkOut,
                               checkOut, request.IsCopy, cardNo);
  }

  if (result && UseNativeDoorlockDb() && !request.IsCopy && store)
    store->UpdateLastCheckInTime(roomKey, startTime);

  if (SaveDoorlockRecord() && store) {
    store->InsertIssueCardRecord(request.RegisterId, IntToStr(cardNo), roomKey, 1, startTime,
                                 checkIn, checkOut, request.IsCopy, request.GuestName, Now());
  }
  return result;
}
