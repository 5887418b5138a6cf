// DoorlockMessageHandlerUnit: one door-lock request from log line to reply.
//
// HandleMessage logs the request, parses it (code page 936 text for the XML
// reader), trims the type, logs "执行操作->" and dispatches. Each operation sets
// the reply record, logs its outcome, sends the reply and then "完成一次操作" is
// logged. Exceptions are not caught here: the request server ends the
// connection without a reply.
#include "doorlock/DoorlockMessageHandlerUnit.h"

#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockIssueUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/DateTimeUnit.h"
#include "platform/ErrorsUnit.h"
#include "server/VerboseUnit.h"
#include "server/XmlUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/LogFileUnit.h"

namespace {

// Positions of the request values among the root's children.
enum : int32_t {
  kRegisterId = 1,
  kBuilding = 2,
  kFloor = 3,
  kRoom = 4,
  kGuestName = 5,
  kCheckInDate = 6,
  kCheckInTime = 7,
  kCheckOutDate = 8,
  kCheckOutTime = 9,
  kCopyFlag = 10,
  kIssueChildCount = 11,
};

AnsiString ValueAt(const TXmlNode& root, int32_t position) {
  TXmlNode* child = root.ChildAt(position);
  if (!child)
    throw EVelioError("IssueCard request has no element at position " + IntToStr(position));
  return child->ValueText();
}

}  // namespace

void TDoorlockMessageHandler::HandleMessage(TConnection& connection,
                                            const std::u16string& request) {
  static const AnsiString kReceived = Lit("收到消息: ");
  static const AnsiString kExecute = Lit("执行操作->");
  static const AnsiString kDone = Lit("完成一次操作");
  static const AnsiString kRoomOpen = Lit("房间(");
  static const AnsiString kIssueOk = Lit(")发卡成功");
  static const AnsiString kIssueFailed = Lit(")发卡失败");
  static const AnsiString kIssueOkMsg = Lit("发卡成功");
  static const AnsiString kIssueFailedMsg = Lit("发卡失败");
  static const AnsiString kReadOk = Lit("读卡成功");
  static const AnsiString kReadOkLog = Lit("读卡成功，卡号为：");
  static const AnsiString kReadFailed = Lit("读卡失败");
  static const AnsiString kEraseOk = Lit("注销卡成功");
  static const AnsiString kEraseFailed = Lit("注销卡失败");

  const AnsiString text = WideToAnsi(request);
  WriteLog(kReceived + "\r\n" + text);

  TXmlDocument document;
  doorlock::TResponse response;
  document.LoadFromText(text);
  TXmlNode* root = document.RootElement();
  if (!root) throw EVelioError("The request has no root element");
  const AnsiString type = TrimBlanks(root->AttributeText("type"));

  WriteLog(kExecute);
  if (type == "IssueCard") {
    int64_t cardNo = 0;
    TDoorlockRecordManager::TakeThreadFailures();  // none of an earlier request
    const bool ok = IssueCard(*root, cardNo);
    const std::string notStored = TDoorlockRecordManager::TakeThreadFailures();
    if (!notStored.empty()) VerboseLine("IssueCard: the record could not be stored: " + notStored);
    response.ResultCode = ok ? "200" : "500";
    response.ResultMessage = ok ? kIssueOkMsg : kIssueFailedMsg;
    response.CardNo = cardNo;
    WriteLog(kRoomOpen + ValueAt(*root, kRoom) + (ok ? kIssueOk : kIssueFailed));
    SendResponse(connection, response);
  } else if (type == "ReadCard") {
    int64_t cardNo = 0;
    if (ReadCard(cardNo)) {
      response.ResultCode = "200";
      response.ResultMessage = kReadOk;
      response.CardNo = cardNo;
      WriteLog(kReadOkLog + IntToStr(cardNo));
    } else {
      response.ResultCode = "500";
      response.ResultMessage = kReadFailed;
      WriteLog(kReadFailed);
    }
    SendResponse(connection, response);
  } else if (type == "EraseCard") {
    const bool ok = EraseCard();
    response.ResultCode = ok ? "200" : "500";
    // The reply's message ends with a blank; the log entry does not.
    response.ResultMessage = (ok ? kEraseOk : kEraseFailed) + " ";
    WriteLog(ok ? kEraseOk : kEraseFailed);
    SendResponse(connection, response);
  } else if (Verbose()) {
    NoteNoReply("the request type \"" + AnsiToUtf8(type) +
                "\" is none of IssueCard, ReadCard, EraseCard");
  }
  WriteLog(kDone);
}

bool TDoorlockMessageHandler::IssueCard(const TXmlNode& root, int64_t& cardNo) {
  // Every value is checked present before anything is read, converted or issued.
  if (root.ChildCount() < kIssueChildCount)
    throw EVelioError("IssueCard request has " + IntToStr(root.ChildCount()) + " elements, needs " +
                      IntToStr(kIssueChildCount));
  TIssueRequest request;
  request.RegisterId = ValueAt(root, kRegisterId);
  request.BuildingCode = ValueAt(root, kBuilding);
  request.FloorCode = ValueAt(root, kFloor);
  request.RoomNo = ValueAt(root, kRoom);
  request.GuestName = ValueAt(root, kGuestName);
  request.CheckIn = StrToDateTime(ValueAt(root, kCheckInDate) + " " + ValueAt(root, kCheckInTime));
  request.CheckOut =
      StrToDateTime(ValueAt(root, kCheckOutDate) + " " + ValueAt(root, kCheckOutTime));
  request.IsCopy = DoorlockCopyFlag(ValueAt(root, kCopyFlag));
  return IssueDoorlockCard(request, cardNo, /*fromTestWindow=*/false);
}

bool TDoorlockMessageHandler::ReadCard(int64_t& cardNo) {
  TBaseDoorlock* device = DoorlockDevice.load();
  return device ? device->ReadCard(cardNo) : false;
}

bool TDoorlockMessageHandler::EraseCard() {
  TBaseDoorlock* device = DoorlockDevice.load();
  return device ? device->EraseCard() : false;
}

void TDoorlockMessageHandler::SendResponse(TConnection& connection,
                                           const doorlock::TResponse& response) {
  SendReplyText(connection, AnsiToWide(BuildResponseText(response)));
}

AnsiString TDoorlockMessageHandler::BuildResponseText(const doorlock::TResponse& response) {
  return "<DoorResponse><RequestID>" + response.RequestID + "</RequestID>" + "<ResultCode>" +
         response.ResultCode + "</ResultCode>" + "<ResultMessage>" + response.ResultMessage +
         "</ResultMessage>" + "<CardNo>" + IntToStr(response.CardNo) + "</CardNo>" +
         "</DoorResponse>";
}

void RegisterDoorlockMode() {
  RegisterHandlerFactory(kModeDoorlock, [](TMemo* memo) -> std::unique_ptr<TMessageHandler> {
    return std::make_unique<TDoorlockMessageHandler>(memo);
  });
}
