// PoliceMessageHandlerUnit: the request handler of the police interface.
//
// Whatever the request says, the reply is the police device's current guest:
// "<PoliceResponse>" + the guest text + "</PoliceResponse>", or the empty
// "<PoliceResponse></PoliceResponse>" when there is no guest. The request is
// logged, never parsed. No device installed, a failing device or a GenderID
// that is not an integer ends the request with an exception and no reply.
// One handler serves one connection; it keeps no state.
#ifndef VELIO_POLICE_POLICEMESSAGEHANDLERUNIT_H_
#define VELIO_POLICE_POLICEMESSAGEHANDLERUNIT_H_

#include <string>

#include "platform/CodePageUnit.h"
#include "police/BasePoliceUnit.h"
#include "server/MessageHandlerUnit.h"

class TPoliceMessageHandler : public TMessageHandler {
 public:
  // Keeps memo (the main window's activity memo; never written).
  explicit TPoliceMessageHandler(TMemo* memo) : memo_(memo) {}
  TPoliceMessageHandler(const TPoliceMessageHandler&) = delete;
  TPoliceMessageHandler& operator=(const TPoliceMessageHandler&) = delete;

  void HandleMessage(TConnection& connection, const std::u16string& request) override;

  // Builds the reply for guest (null: no guest), logs it and writes it; write
  // errors are dropped. Raises EConvertError for a non-integer GenderID, before
  // anything is logged or written.
  void SendResponse(TConnection& connection, const TGuest* guest);

  TMemo* Memo() const { return memo_; }

 private:
  TMemo* const memo_;
};

// The guest text: "<Guest><RoomNo>...</Birthday></Guest>", fields copied as
// they are (no escaping, no trimming), IdCardTypeID always 11, SalutationID
// GenderID + 1. Raises EConvertError "'%s' is not a valid integer value" when
// GenderID is not an integer in the system's syntax.
AnsiString BuildGuestText(const TGuest& guest);

// Registers the police handler's factory for kModePolice.
void RegisterPoliceMode();

#endif  // VELIO_POLICE_POLICEMESSAGEHANDLERUNIT_H_
