// The police request handler, the guest text and the simulated guest source.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "platform/ErrorsUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "police/SimPoliceUnit.h"
#include "server/Utf8Unit.h"
#include "services/InterfaceModeUnit.h"
#include "services/LogFileUnit.h"
#include "services/UiHooksUnit.h"
#include "tests/police/PoliceTestSupport.h"
#include "tests/support/FakeConnectionSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/ReplySupport.h"
#include "tests/support/TempDirSupport.h"
#include "tests/support/UiHooksSupport.h"

namespace {

using police_test::Entries;
using police_test::TFakePolice;
using velio_test::Framed;
using velio_test::LogEntries;
using velio_test::TFakeConnection;
using velio_test::TRecordingHooks;
using velio_test::TTempDir;

TGuest SampleGuest() {
  TGuest g;
  g.RoomNo = "0101";
  g.EnterTime = "2009-06-01 14:00:00";
  g.LeaveTime = "not sent";
  g.IdCardNo = "110101199001011234";
  g.Name = "Smith";
  g.Nationality = "CHN";
  g.GenderID = "1";
  g.Remark = "not sent either";
  g.CountryCode = "156";
  g.ProvinceCode = "11";
  g.Address = "1 Main St";
  g.Birthday = "1990-01-01";
  return g;
}

const char kSampleText[] =
    "<Guest><RoomNo>0101</RoomNo><EnterTime>2009-06-01 14:00:00</EnterTime>"
    "<IdCardTypeID>11</IdCardTypeID><IdCardNo>110101199001011234</IdCardNo><Name>Smith</Name>"
    "<Nationality>CHN</Nationality><GenderID>1</GenderID><SalutationID>2</SalutationID>"
    "<CountryCode>156</CountryCode><ProvinceCode>11</ProvinceCode><Address>1 Main St</Address>"
    "<Birthday>1990-01-01</Birthday></Guest>";

class PoliceHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OperationLog = &log_;
    PoliceDevice.store(&device_);
  }
  void TearDown() override {
    PoliceDevice.store(nullptr);
    OperationLog = nullptr;
  }

  std::string Handle(const std::u16string& request) {
    TFakeConnection connection;
    TPoliceMessageHandler handler(nullptr);
    handler.HandleMessage(connection, request);
    return connection.data;
  }
  Entries Log() { return LogEntries(log_.FileName()); }
  static AnsiString Received(const AnsiString& request) {
    return Lit("收到消息: ") + "\r\n" + request;
  }
  static AnsiString Result(const AnsiString& reply) { return Lit("返回结果: ") + "\r\n" + reply; }

  TTempDir dir_;
  TLogFile log_{dir_.File("test.LOG")};
  TFakePolice device_;
};

TEST_F(PoliceHandlerTest, NoGuestGivesTheEmptyReplyWhateverTheRequest) {
  const std::u16string requests[] = {u"", u"not xml <<<", u"<Request type='Anything'/>",
                                     u"中文\r\n请求"};
  for (const std::u16string& request : requests) {
    std::remove(log_.FileName().c_str());
    const std::string reply = Handle(request);
    EXPECT_EQ(reply.size(), 34u);
    EXPECT_EQ(reply, Framed("<PoliceResponse></PoliceResponse>"));
    EXPECT_EQ(Log(), (Entries{Received(WideToAnsi(request)),
                              Result("<PoliceResponse></PoliceResponse>")}));
  }
  EXPECT_EQ(device_.reads, 4);
}

TEST_F(PoliceHandlerTest, GuestReplyIsByteExact) {
  device_.guest = std::make_shared<TGuest>(SampleGuest());
  for (const std::u16string request : {u"<Q/>", u"garbage"}) {
    EXPECT_EQ(Handle(request),
              Framed(std::string("<PoliceResponse>") + kSampleText + "</PoliceResponse>"));
  }
  EXPECT_EQ(Log().back(),
            Result(std::string("<PoliceResponse>") + kSampleText + "</PoliceResponse>"));
}

TEST_F(PoliceHandlerTest, FieldsAreCopiedUnescapedAndChineseIsUtf8) {
  TGuest g = SampleGuest();
  g.Name = Lit("王小明");
  g.Address = "A & B <Road>";
  g.RoomNo = " 01 ";
  device_.guest = std::make_shared<TGuest>(g);
  const std::string reply = Handle(u"x");
  EXPECT_NE(reply.find("<Name>\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E</Name>"), std::string::npos);
  EXPECT_NE(reply.find("<Address>A & B <Road></Address>"), std::string::npos);
  EXPECT_NE(reply.find("<RoomNo> 01 </RoomNo>"), std::string::npos);
  EXPECT_EQ(reply.find('\r'), std::string::npos);
  EXPECT_EQ(reply.find('\0'), reply.size() - 1);
}

TEST_F(PoliceHandlerTest, SalutationIsGenderPlusOne) {
  struct {
    const char* gender;
    const char* salutation;
  } cases[] = {{"1", "2"},
               {"0", "1"},
               {" 2", "3"},
               {"-1", "0"},
               {"+4", "5"},
               {"$A", "11"},
               {"0x10", "17"},
               {"2147483647", "2147483648"},
               {"-2147483648", "-2147483647"}};
  for (const auto& c : cases) {
    TGuest g = SampleGuest();
    g.GenderID = c.gender;
    const AnsiString text = BuildGuestText(g);
    EXPECT_NE(text.find(std::string("<GenderID>") + c.gender + "</GenderID><SalutationID>" +
                        c.salutation + "</SalutationID>"),
              std::string::npos)
        << c.gender;
  }
}

TEST_F(PoliceHandlerTest, NonIntegerGenderEndsWithoutReply) {
  for (const char* gender : {"", "M", "2 ", "1.0", " ", "2147483648", "\xC4\xD0"}) {
    SCOPED_TRACE(gender);
    TGuest g = SampleGuest();
    g.GenderID = gender;
    try {
      BuildGuestText(g);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()),
                "'" + std::string(gender) + "' is not a valid integer value");
    }
    device_.guest = std::make_shared<TGuest>(g);
    std::remove(log_.FileName().c_str());
    TFakeConnection connection;
    TPoliceMessageHandler handler(nullptr);
    EXPECT_THROW(handler.HandleMessage(connection, u"req"), EConvertError);
    EXPECT_EQ(connection.writes, 0);
    EXPECT_EQ(Log(), (Entries{Received("req")}));
  }
}

TEST_F(PoliceHandlerTest, NoDeviceOrAFailingDeviceEndsWithoutReply) {
  PoliceDevice.store(nullptr);
  TFakeConnection connection;
  TPoliceMessageHandler handler(nullptr);
  EXPECT_THROW(handler.HandleMessage(connection, u"req"), EVelioError);
  EXPECT_EQ(connection.writes, 0);
  EXPECT_EQ(Log(), (Entries{Received("req")}));

  PoliceDevice.store(&device_);
  device_.throwError = true;
  EXPECT_THROW(handler.HandleMessage(connection, u"req"), std::runtime_error);
  EXPECT_EQ(connection.writes, 0);
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(PoliceHandlerTest, WriteFailureIsIgnoredAfterTheResultIsLogged) {
  TFakeConnection connection;
  connection.fail = true;
  TPoliceMessageHandler handler(nullptr);
  EXPECT_NO_THROW(handler.HandleMessage(connection, u"req"));
  EXPECT_EQ(connection.writes, 1);
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(PoliceHandlerTest, RegisteredForThePoliceMode) {
  RegisterPoliceMode();
  TMemo* memo = reinterpret_cast<TMemo*>(0x42);
  std::unique_ptr<TMessageHandler> handler = CreateMessageHandler(kModePolice, memo);
  auto* police = dynamic_cast<TPoliceMessageHandler*>(handler.get());
  ASSERT_NE(police, nullptr);
  EXPECT_EQ(police->Memo(), memo);
}

class SimPoliceTest : public ::testing::Test {
 protected:
  void SetUp() override { OperationLog = &log_; }
  void TearDown() override { OperationLog = nullptr; }
  void Write(const std::string& contents) { velio_test::WriteFile(sim_.FileName(), contents); }

  TTempDir dir_;
  TLogFile log_{dir_.File("test.LOG")};
  TSimPolice sim_{dir_.Path()};
};

TEST_F(SimPoliceTest, NoFileOrNoSectionMeansNoGuest) {
  EXPECT_EQ(sim_.FileName(), dir_.File("Guest.ini"));
  EXPECT_EQ(sim_.ReadGuest(), nullptr);
  Write("[Other]\r\nRoomNo=1\r\n; [Guest]\r\n");
  EXPECT_EQ(sim_.ReadGuest(), nullptr);
  Write("[ guest ]\r\n");
  auto guest = sim_.ReadGuest();
  ASSERT_NE(guest, nullptr);
  EXPECT_EQ(guest->RoomNo, "");
}

// A guest file that is there but cannot be read is a failure of the source,
// never "no guest" (which would answer the PMS with an empty record).
TEST_F(SimPoliceTest, GuestFileThatCannotBeReadRaises) {
  std::filesystem::create_directory(sim_.FileName());
  EXPECT_THROW(sim_.ReadGuest(), EInOutError);
}

TEST_F(SimPoliceTest, EveryFieldIsReadAfreshAtEachCall) {
  const std::string file = sim_.FileName();
  const char* keys[] = {"RoomNo",      "EnterTime",    "LeaveTime", "IdCardNo",
                        "Name",        "Nationality",  "GenderID",  "Remark",
                        "CountryCode", "ProvinceCode", "Address",   "Birthday"};
  for (const char* key : keys) WriteProfileString(file, "Guest", key, std::string("v-") + key);
  WriteProfileString(file, "Guest", "Name", Lit("李四"));
  WriteProfileString(file, "Guest", "GenderID", "\" 2\"");
  auto first = sim_.ReadGuest();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->RoomNo, "v-RoomNo");
  EXPECT_EQ(first->EnterTime, "v-EnterTime");
  EXPECT_EQ(first->LeaveTime, "v-LeaveTime");
  EXPECT_EQ(first->IdCardNo, "v-IdCardNo");
  EXPECT_EQ(first->Name, Lit("李四"));
  EXPECT_EQ(first->Nationality, "v-Nationality");
  EXPECT_EQ(first->GenderID, " 2");
  EXPECT_EQ(first->Remark, "v-Remark");
  EXPECT_EQ(first->CountryCode, "v-CountryCode");
  EXPECT_EQ(first->ProvinceCode, "v-ProvinceCode");
  EXPECT_EQ(first->Address, "v-Address");
  EXPECT_EQ(first->Birthday, "v-Birthday");

  WriteProfileString(file, "Guest", "RoomNo", "0202");
  auto second = sim_.ReadGuest();
  EXPECT_EQ(second->RoomNo, "0202");
  EXPECT_EQ(first->RoomNo, "v-RoomNo");  // a record already handed out stays as it was
}

TEST_F(SimPoliceTest, InstalledInTheHomeFolderAndAnswersRequests) {
  TRecordingHooks hooks;
  SetUiHooks(&hooks);
  sim_.ShowOptions();
  SetUiHooks(nullptr);
  const AnsiString line = Lit("模拟公安数据源: ") + dir_.File("Guest.ini");
  EXPECT_EQ(hooks.messages, (Entries{line}));

  const std::string oldHome = HomeDir();
  SetHomeDir(dir_.Path());
  InstallSimulatedPolice();
  ASSERT_NE(PoliceDevice.load(), nullptr);
  EXPECT_EQ(LogEntries(log_.FileName()), (Entries{line}));
  Write("[Guest]\r\nRoomNo=0101\r\nName=" + Lit("王五") + "\r\nGenderID=0\r\n");
  TFakeConnection connection;
  TPoliceMessageHandler handler(nullptr);
  handler.HandleMessage(connection, u"<Request/>");
  EXPECT_EQ(connection.data,
            Framed("<PoliceResponse><Guest><RoomNo>0101</RoomNo><EnterTime></EnterTime>"
                   "<IdCardTypeID>11</IdCardTypeID><IdCardNo></IdCardNo><Name>王五</Name>"
                   "<Nationality></Nationality><GenderID>0</GenderID><SalutationID>1"
                   "</SalutationID><CountryCode></CountryCode><ProvinceCode></ProvinceCode>"
                   "<Address></Address><Birthday></Birthday></Guest></PoliceResponse>"));
  UninstallSimulatedPolice();
  EXPECT_EQ(PoliceDevice.load(), nullptr);
  SetHomeDir(oldHome);
}

}  // namespace
