// End-to-end: velio-interfaced in member mode with the reader simulator.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "tests/e2e/E2eSupport.h"
#include "tests/support/ReplySupport.h"

using namespace e2e;

namespace {

using velio_test::MemberReply;

// The reply to a successful write of cardNo.
std::string WriteReplyOk(const std::string& cardNo) {
  return MemberReply("200", "写卡成功", cardNo);
}

std::string WriteRequest(const std::string& cardNo) {
  return "<Request type=\"WriteMemberCard\"><Hotel>H1</Hotel><CardNo>" + cardNo +
         "</CardNo><E1></E1><E2></E2><E3></E3></Request>";
}

const std::string kReadRequest =
    "<Request type=\"ReadMemberCard\"><Hotel>H1</Hotel><Flag>0</Flag></Request>";

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
  EXPECT_EQ(w.text, WriteReplyOk("12345678"));
  EXPECT_EQ(w.trailing, "");

  // Sector 4, block 0: the number's bytes, then 0xFF.
  std::string image = CardImage();
  ASSERT_EQ(image.size(), 4096u);
  EXPECT_EQ(image.substr(256, 16), std::string("12345678") + std::string(8, '\xFF'));

  TReply r = Send(port_, kReadRequest);
  ASSERT_TRUE(r.gotNul);
  EXPECT_EQ(r.text, MemberReply("200", "读卡成功", "12345678"));

  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_EQ(daemon.Stdout(), "会员卡接口监听服务器已经启动...\n接口监听服务器已经停止。\n");

  std::vector<std::string> all = LogEntries(TodayLog(home_));
  // Start-up: the missing Client.db is logged, then the reader library is named, then the
  // simulated card's file.
  ASSERT_EQ(all.size(), 9u) << TodayLog(home_);
  EXPECT_EQ(all[0], "unable to open database file");
  EXPECT_EQ(all[1].rfind(Gbk("读卡器库: "), 0), 0u) << all[1];
  EXPECT_NE(all[1].find("libReader.so"), std::string::npos);
  EXPECT_EQ(all[2], Gbk("模拟读卡器: ") + home_.File("ReaderSim") + "/card.bin");
  std::vector<std::string> entries(all.begin() + 2, all.end());
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
    EXPECT_EQ(w.text, WriteReplyOk(c.number));
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
  EXPECT_EQ(r.text, MemberReply("500", "读卡失败", ""));
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
}

// --reader-library wins over VELIO_READER_LIBRARY; the log names the file in use.
TEST_F(MemberE2e, ReaderLibraryOptionWinsOverTheEnvironment) {
  NewCard();
  env_["VELIO_READER_LIBRARY"] = home_.File("no-such-reader.so");
  TSpawnOptions options;
  options.env = env_;
  options.args = {"--reader-library", BinPath("libReader.so")};
  TDaemon daemon(home_.Path(), "member", port_, options);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  EXPECT_EQ(Send(port_, WriteRequest("4321")).text, WriteReplyOk("4321"));
  daemon.Stop();
  const std::vector<std::string> entries = LogEntries(TodayLog(home_));
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[1], Gbk("读卡器库: ") + BinPath("libReader.so"));
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
  // The mode and the port beside the system's own message.
  EXPECT_EQ(second.Stderr(), "velio-interfaced: member mode, port " + std::to_string(port_) +
                                 " (MemberPortNo in Option.ini): Could not bind socket. Address "
                                 "and port are already in use.\n");
}

// --verbose: one stderr line per request that got no reply, with the reason,
// and the reader's status for a failed card operation; replies and the log
// are the same as without it.
TEST_F(MemberE2e, VerboseSaysWhyOnStderrOnly) {
  // Option.ini saved by an editor as UTF-8: the port is still read, and the file is named.
  home_.Write("Option.ini", "\xEF\xBB\xBF" + home_.Read("Option.ini"));
  TSpawnOptions options;
  options.env = env_;
  options.args = {"--verbose", "--listen", "127.0.0.1", "--allow", "127.0.0.1,10.0.0.0/8"};
  TDaemon daemon(home_.Path(), "member", port_, options);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  struct {
    std::string request;
    const char* reason;
  } cases[] = {
      {"not xml", "no reply: No root element found in xml"},
      {"<Request type=\"ReadMemberCard\"><Flag>0</Flag></Request>",
       "no reply: Request element has no child at position 1"},
      {"<Request type=\"ReadMemberCard\"><A/><B>abc</B></Request>",
       "no reply: 'abc' is not a valid integer value"},
      {"<Request type=\"readmembercard\"><A/><B>1</B></Request>",
       "no reply: the request type \"readmembercard\" is neither WriteMemberCard nor "
       "ReadMemberCard"},
      {"<R><A>1</A>", "no reply: Missing close tag in element R"},
  };
  for (const auto& c : cases) {
    TReply r = Send(port_, c.request);
    EXPECT_TRUE(r.connected);
    EXPECT_FALSE(r.gotNul) << c.request;
  }
  // No card on the reader: the reply is the usual 500, the reader's status said.
  TReply r = Send(port_, kReadRequest);
  EXPECT_NE(r.text.find("<ResultCode>500</ResultCode><ResultMessage>读卡失败</ResultMessage>"),
            std::string::npos)
      << r.text;
  ASSERT_EQ(daemon.Stop(), 0);

  std::vector<std::string> lines;
  std::istringstream err(daemon.Stderr());
  for (std::string line; std::getline(err, line);)
    if (line.rfind("127.0.0.1:", 0) == 0) lines.push_back(line);
  ASSERT_EQ(lines.size(), std::size(cases) + 1) << daemon.Stderr();
  EXPECT_NE(daemon.Stderr().find(home_.File("Option.ini") +
                                 ": starts with a UTF-8 byte-order mark: the mark is skipped, "
                                 "but the file is read as code page 936"),
            std::string::npos)
      << daemon.Stderr();
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_NE(lines[i].find(cases[i].reason), std::string::npos) << lines[i];
  EXPECT_NE(
      lines.back().find(
          "card operation failed: ReadCard answered status 0x00000010 (16): no card on the reader"),
      std::string::npos)
      << lines.back();
  const std::string log = TodayLog(home_);
  for (const char* reason : {"no reply", "valid integer", "position 1", "status 0x"})
    EXPECT_EQ(log.find(reason), std::string::npos) << reason;
  EXPECT_NE(log.find(Gbk("读卡失败:00000010")), std::string::npos);
}

TEST_F(MemberE2e, ConnectionsOutsideTheAllowListAreRefusedAndCounted) {
  NewCard();
  TSpawnOptions options;
  options.env = env_;
  options.args = {"--verbose", "--allow", "10.0.0.0/8, 192.168.0.0/16"};
  TDaemon daemon(home_.Path(), "member", port_, options);
  ASSERT_TRUE(daemon.WaitListening()) << daemon.Stderr();
  for (int i = 0; i < 2; ++i) {
    TReply r = Send(port_, WriteRequest("55555555"));
    EXPECT_FALSE(r.gotNul);
    EXPECT_EQ(r.text, "");
  }
  ASSERT_EQ(daemon.Stop(), 0);
  EXPECT_NE(daemon.Stderr().find("refused, not in the allow list (2 refused so far)"),
            std::string::npos)
      << daemon.Stderr();
  // Never read: nothing logged, the card untouched.
  EXPECT_EQ(TodayLog(home_).find(Gbk("收到消息")), std::string::npos);
  EXPECT_EQ(CardImage().substr(256, 16), std::string(16, '\0'));
}

// Without VELIO_READER_SIM_DIR the simulator keeps its card in the home
// folder: two homes are two readers, and cardsim --home finds each.
TEST(MemberHomes, TheSimulatedCardFollowsTheHome) {
  TTempHome homes[2];
  std::unique_ptr<TDaemon> daemons[2];
  for (int i = 0; i < 2; ++i) {
    const int port = FreePort();
    homes[i].Write("Option.ini", "[SysOption]\r\nMemberPortNo=" + std::to_string(port) + "\r\n");
    std::string out, err;
    ASSERT_EQ(RunProgram({BinPath("cardsim"), "--home", homes[i].Path(), "new"}, out, err), 0)
        << err;
    ASSERT_EQ(RunProgram({BinPath("cardsim"), "write", "--sector", "4", "--block", "0", "--text",
                          "card" + std::to_string(i), "--home", homes[i].Path()},
                         out, err),
              0)
        << err;
    daemons[i] = std::make_unique<TDaemon>(homes[i].Path(), "member", port);
    ASSERT_TRUE(daemons[i]->WaitListening()) << daemons[i]->Stderr();
  }
  for (int i = 0; i < 2; ++i) {
    TReply r = Send(daemons[i]->Port(), kReadRequest);
    EXPECT_NE(r.text.find("<CardNo>card" + std::to_string(i) + "</CardNo>"), std::string::npos)
        << r.text;
    ASSERT_EQ(daemons[i]->Stop(), 0);
    // Announced at start-up as the other modes announce their simulated devices.
    EXPECT_EQ(CountEntries(LogEntries(TodayLog(homes[i])),
                           Gbk("模拟读卡器: ") + homes[i].Path() + "/ReaderSim/card.bin"),
              1)
        << TodayLog(homes[i]);
  }
}

TEST(DaemonCommandLine, HelpBadHomeAndUnknownOptions) {
  std::string out, err;
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--help"}, out, err), 0);
  for (const char* option : {"--home", "--mode", "--init-db", "--reader-library", "--verbose",
                             "--listen", "--allow"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--home", "/no/such/folder"}, out, err), 2);
  EXPECT_NE(err.find("/no/such/folder"), std::string::npos);
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--frobnicate"}, out, err), 2);
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--mode", "hotel"}, out, err), 2);
  EXPECT_EQ(
      RunProgram({BinPath("velio-interfaced"), "--reader-library", "/no/such/reader.so"}, out, err),
      2);
  EXPECT_NE(err.find("/no/such/reader.so"), std::string::npos) << err;
  for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
           {"--listen", "localhost"},
           {"--listen", "127.0.0.1:8883"},
           {"--allow", ""},
           {"--allow", "10.0.0.0/40"},
           {"--allow", "127.0.0.1,,10.0.0.1"},
       }) {
    EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), option, value}, out, err), 2) << value;
    EXPECT_EQ(err.rfind(option + ": ", 0), 0u) << err;
  }
}

}  // namespace
