// MemberMessageHandlerUnit: one membership-card request, start to end.
//
// HandleMessage logs the received text, loads it (converted to code page 936)
// into a TXmlDocument, trims the root's "type" and dispatches on it. Children
// are taken by position through Child(), which turns a missing child into an
// EMemberRequestError instead of a null node. The reply is assembled by plain
// concatenation and sent through SendReplyText (UTF-8 and one NUL byte).
#include "member/MemberMessageHandlerUnit.h"

#include <memory>

#include "member/BaseMemberUnit.h"
#include "platform/CodePageUnit.h"
#include "platform/ConvertUnit.h"
#include "server/VerboseUnit.h"
#include "server/XmlUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/LogFileUnit.h"

namespace {

// The child of root at position index; raises EMemberRequestError when absent.
const TXmlNode& Child(const TXmlNode& root, int32_t index) {
  const TXmlNode* child = root.ChildAt(index);
  if (!child)
    throw EMemberRequestError("Request element has no child at position " + std::to_string(index));
  return *child;
}

// The integer of the child at index, or -1 when it is absent or no integer.
int32_t OptionalChannel(const TXmlNode& root, int32_t index) {
  const TXmlNode* child = root.ChildAt(index);
  return child ? child->ValueIntegerOr(-1) : -1;
}

// Keeps the ASCII digits and letters, in order. A double-byte character goes
// whole: its trail byte may look like an ASCII letter ("丄" is 81 41).
AnsiString DigitsAndLetters(const AnsiString& s) {
  AnsiString out;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (IsLeadByte(static_cast<unsigned char>(c))) {
      ++i;
    } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

TMemberMessageHandler::TMemberMessageHandler(TMemo* memo) : memo_(memo) {}

void TMemberMessageHandler::HandleMessage(TConnection& connection, const std::u16string& request) {
  static const AnsiString kReceived = Lit("收到消息: ");
  static const AnsiString kWriteOk = Lit("写卡成功");
  static const AnsiString kWriteFail = Lit("写卡失败");
  static const AnsiString kReadOk = Lit("读卡成功");
  static const AnsiString kReadFail = Lit("读卡失败");
  static const AnsiString kWriteOkLine = Lit("写卡成功,卡号为:");
  static const AnsiString kWriteFailLine = Lit("写卡失败,卡号为:");
  static const AnsiString kReadOkLine = Lit("读卡成功，卡号为：");

  const AnsiString text = WideToAnsi(request);
  WriteLog(kReceived + "\r\n" + text);

  auto document = std::make_unique<TXmlDocument>();
  member::TResponse response;
  document->LoadFromText(text);
  const TXmlNode* root = document->RootElement();
  if (!root) throw EMemberRequestError("Request has no root element");
  const AnsiString type = TrimBlanks(root->AttributeText("type"));

  if (type == "WriteMemberCard") {
    const AnsiString cardNo = Child(*root, 1).ValueText();
    const bool written = WriteMemberCard(*root);
    response.ResultCode = written ? "200" : "500";
    response.ResultMessage = written ? kWriteOk : kWriteFail;
    response.CardNo = cardNo;
    WriteLog((written ? kWriteOkLine : kWriteFailLine) + cardNo);
    SendResponse(connection, response);
  } else if (type == "ReadMemberCard") {
    const bool flag = Child(*root, 1).ValueInteger() == 1;
    const int32_t channel = OptionalChannel(*root, 2);
    AnsiString cardNo, password, expireDate, guestName, score;
    if (ReadMemberCard(flag, cardNo, password, expireDate, guestName, score, channel)) {
      const AnsiString filtered = DigitsAndLetters(cardNo);
      response.ResultCode = "200";
      response.ResultMessage = kReadOk;
      response.CardNo = filtered;
      response.ExpireDate = expireDate;
      response.GuestName = guestName;
      response.Score = score;
      response.Password = password;
      WriteLog(kReadOkLine + filtered);
    } else {
      response.ResultCode = "500";
      response.ResultMessage = kReadFail;
      WriteLog(kReadFail);
    }
    SendResponse(connection, response);
  } else if (Verbose()) {
    NoteNoReply("the request type \"" + AnsiToUtf8(type) +
                "\" is neither WriteMemberCard nor ReadMemberCard");
  }
}

bool TMemberMessageHandler::WriteMemberCard(const TXmlNode& root) {
  Child(root, 0).ValueText();  // read, not passed on
  const AnsiString cardNo = Child(root, 1).ValueText();
  const AnsiString extra1 = Child(root, 2).ValueText();
  const AnsiString extra2 = Child(root, 3).ValueText();
  const AnsiString extra3 = Child(root, 4).ValueText();
  const int32_t channel = OptionalChannel(root, 5);
  TBaseMember* device = MemberDevice.load(std::memory_order_acquire);
  if (!device) return false;
  return device->WriteMemberCard(cardNo, extra1, extra2, extra3, channel);
}

bool TMemberMessageHandler::ReadMemberCard(bool Flag, AnsiString& CardNo, AnsiString& Password,
                                           AnsiString& ExpireDate, AnsiString& GuestName,
                                           AnsiString& Score, int32_t Channel) {
  TBaseMember* device = MemberDevice.load(std::memory_order_acquire);
  if (!device) return false;
  return device->ReadMemberCard(Flag, CardNo, Password, ExpireDate, GuestName, Score, Channel);
}

void TMemberMessageHandler::SendResponse(TConnection& connection,
                                         const member::TResponse& response) {
  std::u16string reply = AnsiToWide(BuildResponseText(response));
  // A NUL inside a field (a card number sent as &#0;, a card block read back)
  // would end the reply early on the wire: the reply carries none but its end byte.
  std::erase(reply, u'\0');
  SendReplyText(connection, reply);
}

AnsiString TMemberMessageHandler::BuildResponseText(const member::TResponse& r) {
  AnsiString s;
  s.reserve(256 + r.CardNo.size() + r.ExpireDate.size() + r.GuestName.size() + r.Score.size() +
            r.Password.size());
  s += "<DoorResponse><RequestID>";
  s += r.RequestID;
  s += "</RequestID><ResultCode>";
  s += r.ResultCode;
  s += "</ResultCode><ResultMessage>";
  s += r.ResultMessage;
  s += "</ResultMessage><CardNo>";
  s += r.CardNo;
  s += "</CardNo><ExpireDate>";
  s += r.ExpireDate;
  s += "</ExpireDate><GuestName>";
  s += r.GuestName;
  s += "</GuestName><Score>";
  s += r.Score;
  s += "</Score><Password>";
  s += r.Password;
  s += "</Password></DoorResponse>";
  return s;
}

void RegisterMemberMode() {
  RegisterHandlerFactory(kModeMember, [](TMemo* memo) -> std::unique_ptr<TMessageHandler> {
    return std::make_unique<TMemberMessageHandler>(memo);
  });
}
