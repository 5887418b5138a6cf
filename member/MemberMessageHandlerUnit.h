// MemberMessageHandlerUnit: the request handler of the membership-card mode.
//
// One TMemberMessageHandler serves one connection: it logs the request, reads
// the root's attribute "type" and the root's children by position, writes or
// reads a card through MemberDevice and answers with one "DoorResponse" reply
// (UTF-8, then one NUL byte). A request type other than exactly
// "WriteMemberCard" or "ReadMemberCard" gets no reply. A request that does not
// parse, lacks a child it needs or holds no integer where one is needed is
// abandoned with an exception (XmlParseError, EConvertError or
// EMemberRequestError): no reply and no card operation.
//
// A handler is used by one thread. It shares nothing itself; it reaches the
// operation log and the member device, both of which synchronise themselves.
#ifndef VELIO_MEMBER_MEMBERMESSAGEHANDLERUNIT_H_
#define VELIO_MEMBER_MEMBERMESSAGEHANDLERUNIT_H_

#include <cstdint>
#include <string>

#include "platform/CodePageUnit.h"
#include "platform/ErrorsUnit.h"
#include "server/MessageHandlerUnit.h"

class TXmlNode;

namespace member {

// The member handler's reply record (the door-lock handler has its own). All
// fields are code page 936 text, empty until filled; RequestID is never filled.
class TResponse {
 public:
  AnsiString RequestID;
  AnsiString ResultCode;
  AnsiString ResultMessage;
  AnsiString CardNo;
  AnsiString Password;
  AnsiString ExpireDate;
  AnsiString GuestName;
  AnsiString Score;
};

}  // namespace member

// A request element lacks a child the request type needs.
class EMemberRequestError : public EVelioError {
 public:
  using EVelioError::EVelioError;
};

class TMemberMessageHandler : public TMessageHandler {
 public:
  // Keeps memo (may be null); never writes to it.
  explicit TMemberMessageHandler(TMemo* memo);
  TMemberMessageHandler(const TMemberMessageHandler&) = delete;
  TMemberMessageHandler& operator=(const TMemberMessageHandler&) = delete;

  // Handles one request and writes at most one reply. Raises the errors listed
  // at the top of this file; a failure to write the reply is ignored.
  void HandleMessage(TConnection& connection, const std::u16string& request) override;

  // Takes the texts of children 0..4 and the channel of child 5 (-1 when
  // absent or no integer) and calls MemberDevice's WriteMemberCard. Answers
  // false when no device is installed. Raises EMemberRequestError when one of
  // children 0..4 is missing (before any device call).
  bool WriteMemberCard(const TXmlNode& root);

  // Calls MemberDevice's ReadMemberCard with the same arguments; false when no
  // device is installed.
  bool ReadMemberCard(bool Flag, AnsiString& CardNo, AnsiString& Password, AnsiString& ExpireDate,
                      AnsiString& GuestName, AnsiString& Score, int32_t Channel);

  // Writes BuildResponseText(response) as UTF-8 followed by one NUL byte;
  // errors while writing are ignored.
  static void SendResponse(TConnection& connection, const member::TResponse& response);

  // The reply text: "<DoorResponse><RequestID>...</Password></DoorResponse>",
  // fields inserted verbatim, Password last, no line end.
  static AnsiString BuildResponseText(const member::TResponse& response);

  TMemo* Memo() const { return memo_; }

 private:
  TMemo* const memo_;
};

// Registers the member handler's factory for kModeMember.
void RegisterMemberMode();

#endif  // VELIO_MEMBER_MEMBERMESSAGEHANDLERUNIT_H_
