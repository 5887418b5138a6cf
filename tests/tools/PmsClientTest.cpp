// pms-client: the request documents it builds, its figures, and the program
// itself against a live server (reply, no reply, no connection, input sources).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server/TCPServerUnit.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TempDirSupport.h"
#include "tools/PmsClientUnit.h"
#include "tools/PmsRequestUnit.h"

namespace {

TEST(PmsRequest, XmlEscapeReplacesTheFiveSpecialCharacters) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"plain 123", "plain 123"},
      {"A&B", "A&amp;B"},
      {"<x>", "&lt;x&gt;"},
      {"say \"hi\" 'there'", "say &quot;hi&quot; &apos;there&apos;"},
      {"&amp;", "&amp;amp;"},
      {"\xE5\xBC\xA0\xE4\xB8\x89", "\xE5\xBC\xA0\xE4\xB8\x89"},  // UTF-8 passes unchanged
  };
  for (const auto& [value, escaped] : cases) EXPECT_EQ(XmlEscape(value), escaped) << value;
}

TEST(PmsRequest, MemberCardRequestsPutValuesAtTheirPositions) {
  EXPECT_EQ(BuildWriteMemberCard("A&B", std::nullopt),
            "<Request type=\"WriteMemberCard\"><RequestID></RequestID><CardNo>A&amp;B</CardNo>"
            "<Extra1></Extra1><Extra2></Extra2><Extra3></Extra3></Request>");
  EXPECT_EQ(BuildWriteMemberCard("123", 11, "e1", "e2", "e3"),
            "<Request type=\"WriteMemberCard\"><RequestID></RequestID><CardNo>123</CardNo>"
            "<Extra1>e1</Extra1><Extra2>e2</Extra2><Extra3>e3</Extra3><Channel>11</Channel>"
            "</Request>");
  EXPECT_EQ(BuildReadMemberCard(1, std::nullopt),
            "<Request type=\"ReadMemberCard\"><RequestID></RequestID><Flag>1</Flag></Request>");
  EXPECT_EQ(BuildReadMemberCard(0, -1),
            "<Request type=\"ReadMemberCard\"><RequestID></RequestID><Flag>0</Flag>"
            "<Channel>-1</Channel></Request>");
}

TEST(PmsRequest, IssueCardHasElevenValuesInOrder) {
  TIssueCardRequest request;
  request.register_id = "R1";
  request.building = "00";
  request.floor = "01";
  request.room = "02";
  request.guest_name = "Li <VIP>";
  request.check_in = "2009-06-01 14:00:00";
  request.check_out = "2009-06-03 12:00:00";
  request.copy = true;
  EXPECT_EQ(BuildIssueCard(request),
            "<Request type=\"IssueCard\"><RequestID></RequestID><RegisterID>R1</RegisterID>"
            "<Building>00</Building><Floor>01</Floor><Room>02</Room>"
            "<GuestName>Li &lt;VIP&gt;</GuestName><CheckInDate>2009-06-01</CheckInDate>"
            "<CheckInTime>14:00:00</CheckInTime><CheckOutDate>2009-06-03</CheckOutDate>"
            "<CheckOutTime>12:00:00</CheckOutTime><IsCopy>1</IsCopy></Request>");
  // A date-time without a blank gives an empty time; not a copy gives 0.
  request.check_in = "2009-06-01";
  request.copy = false;
  const std::string text = BuildIssueCard(request);
  EXPECT_NE(text.find("<CheckInDate>2009-06-01</CheckInDate><CheckInTime></CheckInTime>"),
            std::string::npos);
  EXPECT_NE(text.find("<IsCopy>0</IsCopy>"), std::string::npos);
}

TEST(PmsBench, PercentileUsesTheNearestRank) {
  const std::vector<int64_t> sorted = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  EXPECT_EQ(Percentile(sorted, 0.50), 50);
  EXPECT_EQ(Percentile(sorted, 0.90), 90);
  EXPECT_EQ(Percentile(sorted, 0.99), 100);
  EXPECT_EQ(Percentile(sorted, 1.0), 100);
  EXPECT_EQ(Percentile({7}, 0.5), 7);
  EXPECT_EQ(Percentile({}, 0.5), 0);
}

// --- The program against a live server -------------------------------------

using velio_test::TRun;

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Runs pms-client through the shell (shell_prefix may feed standard input).
TRun RunClient(const std::string& arguments, const std::string& shell_prefix = "") {
  return velio_test::RunShell(shell_prefix + Quote(std::string(VELIO_BIN_DIR) + "/pms-client") +
                              " " + arguments + " 2>/dev/null");
}

class PmsClientProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    servertest::UseTestHandler();
    server_.Activate();
    port_arg_ = "--port " + std::to_string(server_.BoundPort());
  }
  void TearDown() override { server_.Deactivate(); }

  TRequestServer server_;
  std::string port_arg_;
};

TEST_F(PmsClientProgramTest, ReplyIsPrintedAndExitIsZero) {
  const TRun run = RunClient(port_arg_ + " --xml " + Quote("<A type=\"X\">\xE5\x86\x99</A>"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "echo:<A type=\"X\">\xE5\x86\x99</A>\n");
  EXPECT_EQ(servertest::LastRequest(), u"<A type=\"X\">\u5199</A>");
}

TEST_F(PmsClientProgramTest, NoReplyExitsThree) {
  servertest::UseTestHandler([](TConnection&, const std::u16string&) {});
  const TRun run = RunClient(port_arg_ + " read-card");
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(servertest::LastRequest(), u"<Request type=\"ReadCard\"></Request>");
}

TEST_F(PmsClientProgramTest, NoServerExitsTwo) {
  const uint16_t port = server_.BoundPort();
  server_.Deactivate();
  EXPECT_EQ(RunClient("--port " + std::to_string(port) + " --xml x").status, 2);
  // So does a load test with nothing listening.
  EXPECT_EQ(RunClient("--port " + std::to_string(port) + " bench --xml x --clients 1 --requests 3")
                .status,
            2);
}

// Exit 1 for every command line or input that cannot be used, never the
// command-line parser's own codes; nothing is sent.
TEST_F(PmsClientProgramTest, UnusableCommandLinesAndInputsExitOne) {
  const std::string folder = std::filesystem::temp_directory_path().string();
  for (const std::string& arguments : {
           std::string("--bogus"),
           std::string("write-member-card"),             // --card-no missing
           std::string("--xml a --file /etc/hostname"),  // two sources
           std::string("--xml a read-card"),             // a source and a command
           std::string("read-member-card --flag 2"),     // a value out of range
           std::string("--port 0 --xml a"),              // a port out of range
           std::string("--xml ''"),                      // an empty request
           std::string("--file " + Quote(folder)),       // a folder
           std::string("--file /no/such/file"),          // no file
           std::string("bench --xml ''"),                // nothing to send
           std::string("read-card read-guest"),          // two commands
       }) {
    SCOPED_TRACE(arguments);
    servertest::UseTestHandler();
    EXPECT_EQ(RunClient(port_arg_ + " " + arguments).status, 1);
    EXPECT_EQ(servertest::HandlerState().called.load(), 0);
  }
  EXPECT_EQ(RunClient(port_arg_, "printf '' | ").status, 1);  // empty standard input
  EXPECT_EQ(RunClient("--help").status, 0);

  // Standard input on a terminal (script gives it one, at its end at once): the
  // program says where it reads from instead of waiting silently.
  const std::string command =
      "script -qec " + Quote(Quote(std::string(VELIO_BIN_DIR) + "/pms-client") + " " + port_arg_) +
      " /dev/null < /dev/null 2>&1";
  const TRun said = velio_test::RunShell(command);
  EXPECT_NE(said.out.find("pms-client: reading the request from standard input"), std::string::npos)
      << said.out;
  EXPECT_EQ(said.status, 1) << said.out;  // then nothing came
}

TEST_F(PmsClientProgramTest, RequestFromStandardInputAndFile) {
  TRun run = RunClient(port_arg_, "printf 'line1\\r\\nline2' | ");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(servertest::LastRequest(), u"line1\r\nline2");

  velio_test::TTempDir dir;
  const std::string file = dir.File("request");
  velio_test::WriteFile(file, "\xEF\xBB\xBF<F/>");  // a byte order mark is not sent
  run = RunClient(port_arg_ + " --file " + Quote(file));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "echo:<F/>\n");
  EXPECT_EQ(RunClient(port_arg_ + " --file /no/such/file").status, 1);
}

TEST_F(PmsClientProgramTest, CommandsSendTheirDocuments) {
  EXPECT_EQ(
      RunClient(port_arg_ + " write-member-card --card-no " + Quote("A&B") + " --channel 3").status,
      0);
  EXPECT_EQ(servertest::LastRequest(),
            u"<Request type=\"WriteMemberCard\"><RequestID></RequestID><CardNo>A&amp;B</CardNo>"
            u"<Extra1></Extra1><Extra2></Extra2><Extra3></Extra3><Channel>3</Channel></Request>");
  // Options of the program may also follow the command.
  EXPECT_EQ(RunClient("read-member-card --flag 1 " + port_arg_).status, 0);
  EXPECT_EQ(servertest::LastRequest(),
            u"<Request type=\"ReadMemberCard\"><RequestID></RequestID><Flag>1</Flag></Request>");
  EXPECT_EQ(RunClient(port_arg_ + " read-guest").status, 0);
  EXPECT_EQ(servertest::LastRequest(), u"<Request type=\"ReadGuest\"></Request>");
}

TEST_F(PmsClientProgramTest, BenchReportsItsFigures) {
  const TRun run = RunClient(port_arg_ + " bench --xml " + Quote("<B/>") +
                             " --clients 3 --requests 60 --idle 20");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("requests/s: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("latency us: p50 "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("idle connections open: 20"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("no reply: 0  connect errors: 0"), std::string::npos) << run.out;
}

}  // namespace
