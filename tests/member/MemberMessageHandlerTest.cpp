// TMemberMessageHandler with a fake member device and a fake connection: the
// reply bytes compared whole, the arguments the device gets, the log lines in
// code page 936, and the requests that are abandoned without a reply.
#include <gtest/gtest.h>

#include "member/BaseMemberUnit.h"
#include "member/MemberMessageHandlerUnit.h"
#include "platform/ErrorsUnit.h"
#include "server/Utf8Unit.h"
#include "server/XmlUnit.h"
#include "services/InterfaceModeUnit.h"
#include "tests/member/MemberTestSupport.h"
#include "tests/support/FakeConnectionSupport.h"
#include "tests/support/ReplySupport.h"

namespace {

using membertest::TFakeMember;
using velio_test::Framed;
using velio_test::MemberReply;
using velio_test::TFakeConnection;

std::string WriteRequest(const std::string& children) {
  return "<Request type=\"WriteMemberCard\">" + children + "</Request>";
}

const char kFiveChildren[] = "<H>h</H><C>123</C><E1>x1</E1><E2>x2</E2><E3>x3</E3>";

class MemberHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { MemberDevice.store(&device_); }
  void TearDown() override { MemberDevice.store(nullptr); }

  // Runs one request given as UTF-8 text, as the server would.
  void Handle(const std::string& utf8) {
    TMemberMessageHandler handler(nullptr);
    handler.HandleMessage(connection_, DecodeUtf8(utf8));
  }
  std::string Received(const std::string& utf8) { return Lit("收到消息: \r\n") + Lit(utf8); }

  membertest::TMemberEnv env_;
  TFakeMember device_;
  TFakeConnection connection_;
};

TEST_F(MemberHandlerTest, SuccessfulWrite) {
  const std::string request = WriteRequest(kFiveChildren);
  Handle(request);
  EXPECT_EQ(connection_.data, Framed(MemberReply("200", "写卡成功", "123")));
  EXPECT_EQ(connection_.writes, 1);
  EXPECT_EQ(device_.writes, 1);
  EXPECT_EQ(device_.cardNo, "123");
  EXPECT_EQ(device_.extras, (std::vector<AnsiString>{"x1", "x2", "x3"}));
  EXPECT_EQ(device_.channel, -1);
  EXPECT_EQ(env_.Log(), (std::vector<std::string>{Received(request), Lit("写卡成功,卡号为:123")}));
}

TEST_F(MemberHandlerTest, FailedWriteAnswers500WithTheNumber) {
  device_.answer = false;
  Handle(WriteRequest(kFiveChildren));
  EXPECT_EQ(connection_.data, Framed(MemberReply("500", "写卡失败", "123")));
  EXPECT_EQ(env_.Log().back(), Lit("写卡失败,卡号为:123"));
}

TEST_F(MemberHandlerTest, WriteChannelIsTheSixthChildOrMinusOne) {
  struct Case {
    const char* sixth;
    int32_t channel;
  } cases[] = {{"", -1},
               {"<Ch>11</Ch>", 11},
               {"<Ch>abc</Ch>", -1},
               {"<Ch> -1</Ch>", -1},
               {"<Ch>0x10</Ch>", 16},
               {"<Ch>11 </Ch>", -1},
               {"<Ch/>", -1}};
  for (const Case& c : cases) {
    device_.channel = 12345;
    Handle(WriteRequest(std::string(kFiveChildren) + c.sixth));
    EXPECT_EQ(device_.channel, c.channel) << c.sixth;
  }
  EXPECT_EQ(device_.writes, 7);
}

TEST_F(MemberHandlerTest, WriteValuesAreDecodedAndRepliedUnescaped) {
  Handle(WriteRequest("<H/><C>A&amp;B</C><E1/><E2/><E3/>"));
  EXPECT_EQ(device_.cardNo, "A&B");
  EXPECT_EQ(device_.extras, (std::vector<AnsiString>{"", "", ""}));
  EXPECT_EQ(connection_.data, Framed(MemberReply("200", "写卡成功", "A&B")));
  connection_.data.clear();
  Handle(WriteRequest("<H/><C>会员 7</C><E1/><E2/><E3/>"));
  EXPECT_EQ(device_.cardNo, Lit("会员 7"));
  EXPECT_EQ(connection_.data, Framed(MemberReply("200", "写卡成功", "会员 7")));
  EXPECT_EQ(env_.Log().back(), Lit("写卡成功,卡号为:会员 7"));
}

TEST_F(MemberHandlerTest, SuccessfulReadFiltersTheNumberAndPutsPasswordLast) {
  device_.out = {"12-34 AB", "pw", "2026-12-31", Lit("张三"), "100"};
  const std::string request =
      "<Request type=\"ReadMemberCard\"><H>h</H><Flag>1</Flag><Ch>11</Ch></Request>";
  Handle(request);
  EXPECT_EQ(connection_.data,
            Framed(MemberReply("200", "读卡成功", "1234AB", "2026-12-31", "张三", "100", "pw")));
  EXPECT_TRUE(device_.flag);
  EXPECT_EQ(device_.channel, 11);
  EXPECT_TRUE(device_.outputsEmpty);
  const std::vector<std::string> log = env_.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], Received(request));
  // "读卡成功，卡号为：" with the full-width comma and colon of code page 936.
  EXPECT_EQ(log[1],
            "\xB6\xC1\xBF\xA8\xB3\xC9\xB9\xA6\xA3\xAC\xBF\xA8\xBA\xC5\xCE\xAA\xA3\xBA"
            "1234AB");
}

TEST_F(MemberHandlerTest, ReadNumberFilterKeepsOnlyAsciiDigitsAndLetters) {
  struct Case {
    std::string raw, filtered;
  } cases[] = {{"", ""},
               {"abcXYZ09", "abcXYZ09"},
               {"a_b.c/d:e", "abcde"},
               {Lit("卡A1"), "A1"},
               // 丄 is 81 41, 中 is D6 D0: no trail byte is kept as a letter.
               {"\x81\x41\xD6\xD0"
                "1\x81",
                "1"},
               {"\x7F\x80Z", "Z"},
               {"{}[]`@", ""}};
  for (const Case& c : cases) {
    connection_.data.clear();
    device_.out = {c.raw, "", "", "", ""};
    Handle("<R type='ReadMemberCard'><H/><F>0</F></R>");
    EXPECT_EQ(connection_.data, Framed(MemberReply("200", "读卡成功", c.filtered))) << c.raw;
  }
}

TEST_F(MemberHandlerTest, ReadFlagAndChannel) {
  struct Case {
    const char* children;
    bool flag;
    int32_t channel;
  } cases[] = {{"<H/><F>1</F>", true, -1},          {"<H/><F>2</F>", false, -1},
               {"<H/><F> 1</F>", true, -1},         {"<H/><F>0</F><C>abc</C>", false, -1},
               {"<H/><F>1</F><C>11</C>", true, 11}, {"<H/><F>$1</F><C>-1</C>", true, -1}};
  for (const Case& c : cases) {
    Handle(std::string("<R type='ReadMemberCard'>") + c.children + "</R>");
    EXPECT_EQ(device_.flag, c.flag) << c.children;
    EXPECT_EQ(device_.channel, c.channel) << c.children;
  }
}

TEST_F(MemberHandlerTest, FailedReadAnswers500WithEmptyFields) {
  device_.answer = false;
  device_.out = {"junk", "pw", "d", "g", "s"};
  Handle("<R type='ReadMemberCard'><H/><F>1</F></R>");
  EXPECT_EQ(connection_.data, Framed(MemberReply("500", "读卡失败", "")));
  EXPECT_EQ(env_.Log().back(), "\xB6\xC1\xBF\xA8\xCA\xA7\xB0\xDC");
}

TEST_F(MemberHandlerTest, TypeIsTrimmedButCaseSensitive) {
  device_.out = {"1", "", "", "", ""};
  Handle("<R type=' \tReadMemberCard\r\n '><H/><F>1</F></R>");
  EXPECT_EQ(connection_.data, Framed(MemberReply("200", "读卡成功", "1")));
  for (const char* request :
       {"<R type='readmembercard'><H/><F>1</F></R>", "<R><H/><F>1</F></R>",
        "<R type='IssueCard'><H/><F>1</F></R>", "<R type='ReadMemberCardX'><H/><F>1</F></R>",
        "<R type='Write MemberCard'>x</R>x"}) {
    connection_.data.clear();
    env_.ClearLog();
    device_.reads = device_.writes = 0;
    EXPECT_NO_THROW(Handle(request)) << request;
    EXPECT_EQ(connection_.writes, 1) << request;  // only the first request replied
    EXPECT_EQ(device_.reads + device_.writes, 0) << request;
    EXPECT_EQ(env_.Log(), std::vector<std::string>{Received(request)}) << request;
  }
}

TEST_F(MemberHandlerTest, MalformedOrIncompleteRequestsAreAbandoned) {
  struct Case {
    const char* request;
    bool parseError;
  } cases[] = {
      {"", true},
      {"<R type='ReadMemberCard'><H/><F>1</F>", true},
      {"not xml at all", true},
      {"<R type='ReadMemberCard'><H/></R>", false},
      {"<R type='ReadMemberCard'/>", false},
      {"<R type='ReadMemberCard'><H/><F>abc</F></R>", false},
      {"<R type='ReadMemberCard'><H/><F></F></R>", false},
      {"<R type='WriteMemberCard'><H/><C>1</C><E1/><E2/></R>", false},
      {"<R type='WriteMemberCard'><H/></R>", false},
      {"<R type='WriteMemberCard'/>", false},
  };
  for (const Case& c : cases) {
    env_.ClearLog();
    if (c.parseError) {
      EXPECT_THROW(Handle(c.request), XmlParseError) << c.request;
    } else {
      EXPECT_THROW(Handle(c.request), EVelioError) << c.request;
    }
    EXPECT_EQ(env_.Log(), std::vector<std::string>{Received(c.request)}) << c.request;
  }
  EXPECT_EQ(connection_.writes, 0);
  EXPECT_EQ(device_.reads + device_.writes, 0);
}

TEST_F(MemberHandlerTest, DeviceConversionErrorReachesTheServer) {
  class TThrowingMember : public TBaseMember {
    bool WriteMemberCard(AnsiString, AnsiString, AnsiString, AnsiString, int32_t) override {
      throw EConvertError("'$ZZ' is not a valid integer value");
    }
  } device;
  MemberDevice.store(&device);
  EXPECT_THROW(Handle(WriteRequest(kFiveChildren)), EConvertError);
  EXPECT_EQ(connection_.writes, 0);
}

TEST_F(MemberHandlerTest, NoDeviceAnswersFailure) {
  MemberDevice.store(nullptr);
  Handle(WriteRequest(kFiveChildren));
  EXPECT_EQ(connection_.data, Framed(MemberReply("500", "写卡失败", "123")));
  connection_.data.clear();
  Handle("<R type='ReadMemberCard'><H/><F>1</F></R>");
  EXPECT_EQ(connection_.data, Framed(MemberReply("500", "读卡失败", "")));
}

TEST_F(MemberHandlerTest, ReplyWriteErrorIsIgnored) {
  connection_.fail = true;
  EXPECT_NO_THROW(Handle(WriteRequest(kFiveChildren)));
  EXPECT_EQ(connection_.writes, 1);
  EXPECT_EQ(env_.Log().back(), Lit("写卡成功,卡号为:123"));
}

TEST_F(MemberHandlerTest, RequestWithLineBreaksIsLoggedWhole) {
  const std::string request =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<Request type=\"ReadMemberCard\">\r\n  <Hotel>酒店</Hotel>\r\n"
      "  <Flag>0</Flag>\r\n</Request>";
  device_.out = {"9", "", "", "", ""};
  Handle(request);
  EXPECT_EQ(connection_.data, Framed(MemberReply("200", "读卡成功", "9")));
  EXPECT_EQ(env_.Log().front(), Received(request));
}

TEST_F(MemberHandlerTest, ReplyCarriesOneNulOnlyAtItsEnd) {
  // &#0; decodes to a zero byte; it must not end the reply early.
  Handle(WriteRequest("<H/><C>A&#0;B</C><E1/><E2/><E3/>"));
  EXPECT_EQ(device_.cardNo, std::string("A\0B", 3));
  EXPECT_EQ(connection_.data, Framed(MemberReply("200", "写卡成功", "AB")));
  device_.out = {"1", "p\0w", std::string("\0", 1), "", ""};
  device_.out[1] = std::string("p\0w", 3);
  connection_.data.clear();
  Handle("<R type='ReadMemberCard'><H/><F>1</F></R>");
  EXPECT_EQ(connection_.data, Framed(MemberReply("200", "读卡成功", "1", "", "", "", "pw")));
}

TEST(MemberHandlerBuildTest, ResponseTextHasNoLineEndAndPasswordLast) {
  member::TResponse r;
  r.RequestID = "id";
  r.ResultCode = "200";
  r.ResultMessage = "m";
  r.CardNo = "c<&>";
  r.Password = "p";
  r.ExpireDate = "e";
  r.GuestName = "g";
  r.Score = "s";
  EXPECT_EQ(TMemberMessageHandler::BuildResponseText(r),
            "<DoorResponse><RequestID>id</RequestID><ResultCode>200</ResultCode>"
            "<ResultMessage>m</ResultMessage><CardNo>c<&></CardNo><ExpireDate>e</ExpireDate>"
            "<GuestName>g</GuestName><Score>s</Score><Password>p</Password></DoorResponse>");
}

TEST(MemberHandlerFactoryTest, RegisteredForMemberMode) {
  RegisterMemberMode();
  TMemo* memo = reinterpret_cast<TMemo*>(static_cast<uintptr_t>(0x1000));
  std::unique_ptr<TMessageHandler> handler = CreateMessageHandler(kModeMember, memo);
  auto* member = dynamic_cast<TMemberMessageHandler*>(handler.get());
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(member->Memo(), memo);
}

}  // namespace
