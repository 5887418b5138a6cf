// End-to-end: velio-interfaced in member mode with the reader simulator.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/e2e/E2eSupport.h"

using namespace e2e;

namespace {

const char kWriteReplyOk[] =
    "<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode><ResultMessage>写卡成功"
    "</ResultMessage><CardNo>%s</CardNo><ExpireDate></ExpireDate><GuestName></GuestName>"
    "<Score></Score><Password></Password></DoorResponse>";

std::string WriteRequest(const std::string& cardNo) {
  return "<Request type=\"WriteMemberCard\"><Hotel>H1</Hotel><CardNo>" + cardNo +
         "</CardNo><E1></E1><E2></E2><E3></E3></Request>";
}

const std::string kReadRequest =
    "<Request type=\"ReadMemberCard\"><Hotel>H1</Hotel><Flag>0</Flag></Request>";

std::string Expand(const char* pattern, const std::string& value) {
  std::string s = pattern;
  return s.replace(s.find("%s"), 2, value);
}

class MemberE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    home_.Write("Option.ini", "[SysOption]\r\nMemberPortNo=" + std::to_string(port_) + "\r\n");
    env_ = {{"VELIO_READER_SIM_DIR", home_.File("ReaderSim")}};
  }

  void NewCard() {
    std::string out, err;
    ASSERT_EQ(RunProgram({BinPath("cardsim"), "new"}, out, err, env_), 0) << err;
  }

  std::string CardImage() const { return home_.Read("ReaderSim/card.bin"); }

  TTempHome home_;
  int port_ = 0;
  std::map<std::string, std::string> env_;
};

TEST_F(MemberE2e, WritesThenReadsACardOverTcp) {
  NewCard();
  TDaemon daemon(home_.Path(), "member", port_, env_);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();

  TReply w = Send(port_, WriteRequest("12345678"));
  ASSERT_TRUE(w.gotNul);
  EXPECT_EQ(w.text, Expand(kWriteReplyOk, "12345678"));
  EXPECT_EQ(w.trailing, "");

  // Sector 4, block 0: the number's bytes, then 0xFF.
  std::string image = CardImage();
  ASSERT_EQ(image.size(), 4096u);
  EXPECT_EQ(image.substr(256, 16), std::string("12345678") + std::string(8, '\xFF'));

  TReply r = Send(port_, kReadRequest);
  ASSERT_TRUE(r.gotNul);
  EXPECT_EQ(r.text,
            "<DoorResponse><RequestID></RequestID><ResultCode>200</ResultCode><ResultMessage>"
            "读卡成功</ResultMessage><CardNo>12345678</CardNo><ExpireDate></ExpireDate>"
            "<GuestName></GuestName><Score></Score><Password></Password></DoorResponse>");

  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_EQ(daemon.Stdout(), "会员卡接口监听服务器已经启动...\n接口监听服务器已经停止。\n");

  std::vector<std::string> all = LogEntries(TodayLog(home_));
  // Start-up: the missing Client.db is logged, then the reader library is named.
  ASSERT_EQ(all.size(), 8u) << TodayLog(home_);
  EXPECT_EQ(all[0], "unable to open database file");
  EXPECT_EQ(all[1].rfind(Gbk("读卡器库: "), 0), 0u) << all[1];
  EXPECT_NE(all[1].find("libReader.so"), std::string::npos);
  std::vector<std::string> entries(all.begin() + 1, all.end());
  EXPECT_EQ(entries[1], Gbk("收到消息: \r\n" + WriteRequest("12345678")));
  EXPECT_EQ(entries[2], Gbk("写卡成功, 卡号为:12345678"));
  EXPECT_EQ(entries[3], Gbk("写卡成功,卡号为:12345678"));
  EXPECT_EQ(entries[4], Gbk("收到消息: \r\n" + kReadRequest));
  EXPECT_EQ(entries[5], Gbk("读卡成功, 卡号为:12345678"));
  EXPECT_EQ(entries[6], Gbk("读卡成功，卡号为：12345678"));
}

TEST_F(MemberE2e, EdgeCardNumbersRoundTrip) {
  NewCard();
  TDaemon daemon(home_.Path(), "member", port_, env_);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  struct Case {
    std::string number, block, readBack;
  } cases[] = {
      {"ABCDEFGH12345678", "ABCDEFGH12345678", "ABCDEFGH12345678"},
      {"", std::string(16, '\xFF'), ""},
      {"12-34 AB", "12-34 AB" + std::string(8, '\xFF'), "1234AB"},
  };
  for (const Case& c : cases) {
    TReply w = Send(port_, WriteRequest(c.number));
    EXPECT_EQ(w.text, Expand(kWriteReplyOk, c.number));
    EXPECT_EQ(CardImage().substr(256, 16), c.block);
    TReply r = Send(port_, kReadRequest);
    EXPECT_NE(r.text.find("<CardNo>" + c.readBack + "</CardNo>"), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("<ResultCode>200</ResultCode>"), std::string::npos);
  }
}

TEST_F(MemberE2e, NoCardAnswers500) {
  TDaemon daemon(home_.Path(), "member", port_, env_);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  TReply r = Send(port_, kReadRequest);
  EXPECT_EQ(r.text,
            "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode><ResultMessage>"
            "读卡失败</ResultMessage><CardNo></CardNo><ExpireDate></ExpireDate>"
            "<GuestName></GuestName><Score></Score><Password></Password></DoorResponse>");
  TReply w = Send(port_, WriteRequest("777"));
  EXPECT_NE(w.text.find("<ResultCode>500</ResultCode><ResultMessage>写卡失败</ResultMessage>"
                        "<CardNo>777</CardNo>"),
            std::string::npos);
}

TEST_F(MemberE2e, MissingReaderLibraryAnswers500AndSaysWhy) {
  NewCard();
  env_["VELIO_READER_LIBRARY"] = home_.File("no-such-reader.so");
  TDaemon daemon(home_.Path(), "member", port_, env_);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  TReply r = Send(port_, kReadRequest);
  EXPECT_NE(r.text.find("<ResultCode>500</ResultCode>"), std::string::npos) << r.text;
  daemon.Stop();
  std::string log = TodayLog(home_);
  EXPECT_NE(log.find("no-such-reader.so"), std::string::npos) << log;
  // Also on stderr, so that a service's journal shows it.
  EXPECT_NE(daemon.Stderr().find("读卡器库加载失败: " + home_.File("no-such-reader.so") + ": "),
            std::string::npos)
      << daemon.Stderr();
}

TEST_F(MemberE2e, UnknownTypeAndMalformedRequestsGetNoBytes) {
  TDaemon daemon(home_.Path(), "member", port_, env_);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  for (const std::string& req :
       {std::string("<Request type=\"readmembercard\"><A/><B>1</B></Request>"),
        std::string("<Request type=\"ReadMemberCard\"><A/><B>abc</B></Request>"),
        std::string("<Request type=\"WriteMemberCard\"><A/><B>1</B></Request>"),
        std::string("not xml"), std::string("")}) {
    TReply r = Send(port_, req);
    EXPECT_TRUE(r.connected);
    EXPECT_FALSE(r.gotNul) << req;
    EXPECT_EQ(r.text, "") << req;
  }
}

TEST_F(MemberE2e, ConcurrentRequestsAreAllAnsweredAndTheCardStaysWhole) {
  NewCard();
  TDaemon daemon(home_.Path(), "member", port_, env_);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  constexpr int kThreads = 8, kEach = 10;
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string number = "8" + std::to_string(t) + std::to_string(1000 + i);
        TReply r = Send(port_, i % 2 ? kReadRequest : WriteRequest(number));
        if (r.gotNul && r.text.find("<ResultCode>200</ResultCode>") != std::string::npos)
          ++answered;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(answered.load(), kThreads * kEach);
  // The block holds one whole number written by one of the requests.
  std::string block = CardImage().substr(256, 16);
  EXPECT_EQ(block.substr(0, 1), "8");
  EXPECT_EQ(block.substr(6), std::string(10, '\xFF'));
}

TEST_F(MemberE2e, PortInUseExitsWithTheBindMessage) {
  TDaemon first(home_.Path(), "member", port_, env_);
  ASSERT_TRUE(first.WaitListening()) << first.Stderr();
  TTempHome other;
  other.Write("Option.ini", home_.Read("Option.ini"));
  TDaemon second(other.Path(), "member", port_, env_);
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_EQ(second.Stderr(), "Could not bind socket. Address and port are already in use.\n");
}

TEST(DaemonCommandLine, HelpBadHomeAndUnknownOptions) {
  std::string out, err;
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--help"}, out, err), 0);
  for (const char* option : {"--home", "--mode", "--init-db"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--home", "/no/such/folder"}, out, err), 2);
  EXPECT_NE(err.find("/no/such/folder"), std::string::npos);
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--frobnicate"}, out, err), 2);
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--mode", "hotel"}, out, err), 2);
}

}  // namespace
