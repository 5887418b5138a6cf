// End-to-end: velio-interfaced in police mode with the simulated police source
// (Guest.ini, code page 936).
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>

#include "tests/e2e/E2eSupport.h"

using namespace e2e;

namespace {

class PoliceE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    home_.Write("Option.ini", "[SysOption]\r\nPolicePortNo=" + std::to_string(port_) + "\r\n");
    daemon_ = std::make_unique<TDaemon>(home_.Path(), "police", port_);
    ASSERT_TRUE(daemon_->WaitListening()) << daemon_->Stderr();
  }

  // Guest.ini lines ("Key=value", UTF-8 here, code page 936 in the file).
  void WriteGuest(const std::vector<std::string>& lines) {
    std::string text = "[Guest]\r\n";
    for (const std::string& line : lines) text += Gbk(line) + "\r\n";
    home_.Write("Guest.ini", text);
  }

  std::vector<std::string> Entries() {
    std::vector<std::string> all = LogEntries(TodayLog(home_));
    // The first entry announces the simulated source; the missing Client.db
    // may come before it.
    std::vector<std::string> out;
    for (const std::string& e : all)
      if (e.rfind(Gbk("收到消息"), 0) == 0 || e.rfind(Gbk("返回结果"), 0) == 0) out.push_back(e);
    return out;
  }

  TTempHome home_;
  int port_ = 0;
  std::unique_ptr<TDaemon> daemon_;
};

const std::string kRequest = "<Request type=\"Guest\"/>";

TEST_F(PoliceE2e, NoGuestGivesTheEmptyResponse) {
  TReply r = Send(port_, kRequest);
  ASSERT_TRUE(r.gotNul);
  EXPECT_EQ(r.text, "<PoliceResponse></PoliceResponse>");
  EXPECT_EQ(r.text.size(), 33u);
  EXPECT_EQ(r.trailing, "");
  // A file without a [Guest] section is no guest either.
  home_.Write("Guest.ini", "[Other]\r\nName=x\r\n");
  EXPECT_EQ(Send(port_, kRequest).text, "<PoliceResponse></PoliceResponse>");

  EXPECT_EQ(daemon_->Stop(), 0);
  EXPECT_EQ(daemon_->Stdout(), "公安接口监听服务器已经启动...\n接口监听服务器已经停止。\n");
  const std::vector<std::string> expected = {
      Gbk("收到消息: \r\n") + kRequest, Gbk("返回结果: \r\n<PoliceResponse></PoliceResponse>"),
      Gbk("收到消息: \r\n") + kRequest, Gbk("返回结果: \r\n<PoliceResponse></PoliceResponse>")};
  EXPECT_EQ(Entries(), expected);
  std::vector<std::string> all = LogEntries(TodayLog(home_));
  EXPECT_EQ(CountEntries(all, Gbk("模拟公安数据源: ")), 1);
  EXPECT_EQ(LogFault(TodayLog(home_)), "");
}

TEST_F(PoliceE2e, ChineseGuestComesBackInUtf8) {
  WriteGuest({"RoomNo=0801", "EnterTime=2009-06-01 14:00:00", "LeaveTime=2009-06-03",
              "IdCardNo=110101199001011234", "Name=张三丰", "Nationality=中国", "GenderID=1",
              "Remark=贵宾", "CountryCode=CHN", "ProvinceCode=11", "Address=北京市东城区",
              "Birthday=1990-01-01"});
  TReply r = Send(port_, "<Request/>");
  ASSERT_TRUE(r.gotNul);
  const std::string guest =
      "<Guest><RoomNo>0801</RoomNo><EnterTime>2009-06-01 14:00:00</EnterTime>"
      "<IdCardTypeID>11</IdCardTypeID><IdCardNo>110101199001011234</IdCardNo><Name>张三丰</Name>"
      "<Nationality>中国</Nationality><GenderID>1</GenderID><SalutationID>2</SalutationID>"
      "<CountryCode>CHN</CountryCode><ProvinceCode>11</ProvinceCode>"
      "<Address>北京市东城区</Address><Birthday>1990-01-01</Birthday></Guest>";
  EXPECT_EQ(r.text, "<PoliceResponse>" + guest + "</PoliceResponse>");
  // Each Chinese character is three bytes on the wire.
  EXPECT_NE(r.text.find("\xE5\xBC\xA0\xE4\xB8\x89\xE4\xB8\xB0"), std::string::npos);
  EXPECT_EQ(r.trailing, "");
  daemon_->Stop();
  const std::vector<std::string> expected = {
      Gbk("收到消息: \r\n<Request/>"),
      Gbk("返回结果: \r\n<PoliceResponse>" + guest + "</PoliceResponse>")};
  EXPECT_EQ(Entries(), expected);
}

TEST_F(PoliceE2e, FieldsAreCopiedUnescapedAndGenderGivesSalutation) {
  struct Case {
    std::string genderLine;  // as written in Guest.ini
    std::string gender;      // the GenderID element's text
    std::string salutation;
  } cases[] = {
      {"GenderID=1", "1", "2"},       {"GenderID=0", "0", "1"},
      {"GenderID=\" 2\"", " 2", "3"},  // the reader trims unquoted values
      {"GenderID=-1", "-1", "0"},     {"GenderID=$A", "$A", "11"},
  };
  for (const Case& c : cases) {
    WriteGuest({"RoomNo=A&B", "Name=<x>", "Address=1 < 2 & 3 > 2", c.genderLine});
    TReply r = Send(port_, kRequest);
    ASSERT_TRUE(r.gotNul) << c.genderLine;
    EXPECT_EQ(r.text,
              "<PoliceResponse><Guest><RoomNo>A&B</RoomNo><EnterTime></EnterTime>"
              "<IdCardTypeID>11</IdCardTypeID><IdCardNo></IdCardNo><Name><x></Name>"
              "<Nationality></Nationality><GenderID>" +
                  c.gender + "</GenderID><SalutationID>" + c.salutation +
                  "</SalutationID><CountryCode></CountryCode><ProvinceCode></ProvinceCode>"
                  "<Address>1 < 2 & 3 > 2</Address><Birthday></Birthday></Guest>"
                  "</PoliceResponse>")
        << c.genderLine;
  }
}

TEST_F(PoliceE2e, NonIntegerGenderEndsTheRequestWithoutAReply) {
  for (const char* gender : {"GenderID=M", "GenderID=", "GenderID=2a"}) {
    WriteGuest({"RoomNo=0801", "Name=X", gender});
    TReply r = Send(port_, kRequest);
    EXPECT_TRUE(r.connected);
    EXPECT_FALSE(r.gotNul) << gender;
    EXPECT_EQ(r.text, "") << gender;
  }
  // The server goes on serving.
  WriteGuest({"GenderID=1"});
  EXPECT_NE(Send(port_, kRequest).text.find("<SalutationID>2</SalutationID>"), std::string::npos);
  daemon_->Stop();
  std::vector<std::string> entries = Entries();
  ASSERT_EQ(entries.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(entries[i], Gbk("收到消息: \r\n") + kRequest) << i;
  EXPECT_EQ(entries[4].rfind(Gbk("返回结果: \r\n<PoliceResponse><Guest>"), 0), 0u);
}

TEST_F(PoliceE2e, AnyRequestTextGetsTheGuest) {
  WriteGuest({"RoomNo=0801", "GenderID=0"});
  const std::string reply =
      "<PoliceResponse><Guest><RoomNo>0801</RoomNo><EnterTime></EnterTime>"
      "<IdCardTypeID>11</IdCardTypeID><IdCardNo></IdCardNo><Name></Name>"
      "<Nationality></Nationality><GenderID>0</GenderID><SalutationID>1</SalutationID>"
      "<CountryCode></CountryCode><ProvinceCode></ProvinceCode><Address></Address>"
      "<Birthday></Birthday></Guest></PoliceResponse>";
  struct Case {
    std::string bytes;   // sent as they are
    std::string logged;  // the request as logged (UTF-8 here)
  } cases[] = {
      {std::string("\0", 1), ""},
      {std::string("not xml\0", 8), "not xml"},
      {std::string("<a>\r\n</b>\0", 10), "<a>\r\n</b>"},
      {std::string("中文请求\0", 13), "中文请求"},
      {std::string("\xC3\x41\0", 3), ""},  // not UTF-8: the handler gets empty text
      {std::string("<Request/>\0after", 16), "<Request/>"},
  };
  for (const Case& c : cases) {
    TReply r = SendRaw(port_, c.bytes);
    EXPECT_TRUE(r.gotNul) << c.logged;
    EXPECT_EQ(r.text, reply) << c.logged;
    EXPECT_EQ(r.trailing, "");
  }
  daemon_->Stop();
  std::vector<std::string> entries = Entries();
  ASSERT_EQ(entries.size(), 2 * std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(entries[2 * i], Gbk("收到消息: \r\n" + cases[i].logged)) << i;
}

TEST_F(PoliceE2e, LongestRequestIsServedAndOneByteMoreIsDropped) {
  WriteGuest({"RoomNo=0801", "GenderID=1"});
  const std::string longest = "<Request>" + std::string(16384 - 19, 'x') + "</Request>";
  ASSERT_EQ(longest.size(), 16384u);
  TReply r = Send(port_, longest);
  EXPECT_TRUE(r.gotNul);
  EXPECT_NE(r.text.find("<RoomNo>0801</RoomNo>"), std::string::npos);
  const std::string tooLong = longest + "y";
  TReply dropped = Send(port_, tooLong);
  EXPECT_TRUE(dropped.connected);
  EXPECT_FALSE(dropped.gotNul);
  EXPECT_EQ(dropped.text, "");
  daemon_->Stop();
  std::vector<std::string> entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], Gbk("收到消息: \r\n") + longest);
}

// SIGINT (Ctrl+C) and SIGHUP (a closed terminal, a logout) stop the server in
// order, as SIGTERM does.
TEST_F(PoliceE2e, StopsOnSigintAndSighupLikeOnSigterm) {
  for (int sig : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    if (!daemon_->Running()) {
      daemon_ = std::make_unique<TDaemon>(home_.Path(), "police", port_);
      ASSERT_TRUE(daemon_->WaitListening()) << daemon_->Stderr();
    }
    EXPECT_EQ(Send(port_, kRequest).text, "<PoliceResponse></PoliceResponse>");
    daemon_->Signal(sig);
    EXPECT_EQ(daemon_->Wait(10000), 0);
    EXPECT_EQ(daemon_->Stdout(), "公安接口监听服务器已经启动...\n接口监听服务器已经停止。\n");
    EXPECT_EQ(daemon_->Stderr(), "");
    EXPECT_FALSE(Send(port_, kRequest).connected);
  }
}

}  // namespace
