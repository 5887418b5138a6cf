// PoliceMessageHandlerUnit: log the request, read the guest, answer it.
#include "police/PoliceMessageHandlerUnit.h"

#include <memory>

#include "platform/ConvertUnit.h"
#include "platform/ErrorsUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/LogFileUnit.h"

void TPoliceMessageHandler::HandleMessage(TConnection& connection, const std::u16string& request) {
  static const AnsiString kReceived = Lit("收到消息: ");
  WriteLog(kReceived + "\r\n" + WideToAnsi(request));
  TBasePolice* device = PoliceDevice.load();
  if (!device) throw EVelioError("No police device is installed");
  // The device keeps the record valid while this reference is held.
  std::shared_ptr<const TGuest> guest = device->ReadGuest();
  SendResponse(connection, guest.get());
}

void TPoliceMessageHandler::SendResponse(TConnection& connection, const TGuest* guest) {
  static const AnsiString kResult = Lit("返回结果: ");
  const AnsiString text =
      "<PoliceResponse>" + (guest ? BuildGuestText(*guest) : AnsiString()) + "</PoliceResponse>";
  WriteLog(kResult + "\r\n" + text);
  SendReplyText(connection, AnsiToWide(text));
}

AnsiString BuildGuestText(const TGuest& guest) {
  const int64_t salutation = static_cast<int64_t>(StrToInt(guest.GenderID)) + 1;
  return "<Guest><RoomNo>" + guest.RoomNo + "</RoomNo>" + "<EnterTime>" + guest.EnterTime +
         "</EnterTime>" + "<IdCardTypeID>11</IdCardTypeID>" + "<IdCardNo>" + guest.IdCardNo +
         "</IdCardNo>" + "<Name>" + guest.Name + "</Name>" + "<Nationality>" + guest.Nationality +
         "</Nationality>" + "<GenderID>" + guest.GenderID + "</GenderID>" + "<SalutationID>" +
         IntToStr(salutation) + "</SalutationID>" + "<CountryCode>" + guest.CountryCode +
         "</CountryCode>" + "<ProvinceCode>" + guest.ProvinceCode + "</ProvinceCode>" +
         "<Address>" + guest.Address + "</Address>" + "<Birthday>" + guest.Birthday +
         "</Birthday>" + "</Guest>";
}

void RegisterPoliceMode() {
  RegisterHandlerFactory(kModePolice, [](TMemo* memo) -> std::unique_ptr<TMessageHandler> {
    return std::make_unique<TPoliceMessageHandler>(memo);
  });
}
