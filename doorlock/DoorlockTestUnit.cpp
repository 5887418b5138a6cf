// DoorlockTestUnit: the test window's operations, without the window.
#include "doorlock/DoorlockTestUnit.h"

#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockIssueUnit.h"

namespace {
const char kBoxFormat[] = "yyyy-mm-dd hh:nn:ss";
}  // namespace

TDoorlockTestTimes DoorlockTestDefaultTimes(TDateTime now) {
  return {FormatDateTime(kBoxFormat, now - 1.0 / 24), FormatDateTime(kBoxFormat, now + 2)};
}

void DoorlockTestOpenPort() {
  if (TBaseDoorlock* device = DoorlockDevice.load()) device->OpenPort();
}

void DoorlockTestClosePort() {
  if (TBaseDoorlock* device = DoorlockDevice.load()) device->ClosePort();
}

void DoorlockTestBeep() {
  if (TBaseDoorlock* device = DoorlockDevice.load()) device->Beep();
}

bool DoorlockTestWriteCard(const AnsiString& building, const AnsiString& floor,
                           const AnsiString& room, const AnsiString& checkInText,
                           const AnsiString& checkOutText, bool isCopy) {
  TIssueRequest request;
  request.BuildingCode = building;
  request.FloorCode = floor;
  request.RoomNo = room;
  request.CheckIn = StrToDateTime(checkInText);
  request.CheckOut = StrToDateTime(checkOutText);
  request.IsCopy = isCopy;
  request.GuestName = "Test";
  int64_t cardNo = 0;
  return IssueDoorlockCard(request, cardNo, /*fromTestWindow=*/true);
}

int64_t DoorlockTestReadCard() {
  int64_t cardNo = 0;
  if (TBaseDoorlock* device = DoorlockDevice.load()) device->ReadCard(cardNo);
  return cardNo;
}

void DoorlockTestEraseCard() {
  if (TBaseDoorlock* device = DoorlockDevice.load()) device->EraseCard();
}
