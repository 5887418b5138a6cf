// DoorlockMessageHandlerUnit: the request handler of the door-lock interface.
//
// One TDoorlockMessageHandler serves one connection on the connection's thread.
// It reads the root attribute "type" of the request ("IssueCard", "ReadCard" or
// "EraseCard", compared exactly after trimming), carries the operation out on
// the installed door-lock device, answers with one "DoorResponse" reply and
// logs each step. Any other type gets no reply. A request that is not XML, an
// "IssueCard" request with fewer than eleven child nodes, a date or time that
// does not convert, or an error raised by the device ends the request with an
// exception and no reply. The handler keeps no state between requests.
#ifndef VELIO_DOORLOCK_DOORLOCKMESSAGEHANDLERUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKMESSAGEHANDLERUNIT_H_

#include <cstdint>
#include <string>

#include "platform/CodePageUnit.h"
#include "server/MessageHandlerUnit.h"

class TXmlNode;

namespace doorlock {

// The reply record of a door-lock request (the member handler has its own).
struct TResponse {
  AnsiString RequestID;  // never assigned: always empty
  AnsiString ResultCode;
  AnsiString ResultMessage;
  int64_t CardNo = 0;
};

}  // namespace doorlock

class TDoorlockMessageHandler : public TMessageHandler {
 public:
  // Keeps memo (the main window's activity memo; never written).
  explicit TDoorlockMessageHandler(TMemo* memo) : memo_(memo) {}
  TDoorlockMessageHandler(const TDoorlockMessageHandler&) = delete;
  TDoorlockMessageHandler& operator=(const TDoorlockMessageHandler&) = delete;

  void HandleMessage(TConnection& connection, const std::u16string& request) override;

  // Issues a card from the request values at child positions 1 to 10 of root.
  // REQUIRES: root has at least eleven children (else raises EVelioError).
  bool IssueCard(const TXmlNode& root, int64_t& cardNo);
  // False when no device is installed, else the device's result.
  bool ReadCard(int64_t& cardNo);
  bool EraseCard();

  // Writes BuildResponseText as UTF-8 and one NUL; write errors are dropped.
  void SendResponse(TConnection& connection, const doorlock::TResponse& response);

  // "<DoorResponse><RequestID>...</CardNo></DoorResponse>", no escaping.
  static AnsiString BuildResponseText(const doorlock::TResponse& response);

  TMemo* Memo() const { return memo_; }

 private:
  TMemo* const memo_;
};

// Registers the door-lock handler's factory for kModeDoorlock.
void RegisterDoorlockMode();

#endif  // VELIO_DOORLOCK_DOORLOCKMESSAGEHANDLERUNIT_H_
