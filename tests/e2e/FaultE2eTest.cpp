// End-to-end faults, each injected on purpose into a running velio-interfaced:
// the log, the record store, the reader library and its simulator, peers that
// misbehave, a stop while a handler is held inside the device, and an options
// file that cannot be saved. Each test checks what is kept (the reply, the
// rows, the file contents) and that nothing is lost beyond the failing step.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "platform/DateTimeUnit.h"
#include "platform/ErrorsUnit.h"
#include "services/SysOptionUnit.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/ReplySupport.h"
#include "tests/support/TempDirSupport.h"

using namespace e2e;
namespace fs = std::filesystem;

namespace {

using velio_test::DoorReply;
using velio_test::MemberReply;

const std::string kPoliceRequest = "<Request type=\"Guest\"/>";
const std::string kReadMember =
    "<Request type=\"ReadMemberCard\"><Hotel>H1</Hotel><Flag>0</Flag></Request>";

std::string WriteMember(const std::string& cardNo) {
  return "<Request type=\"WriteMemberCard\"><Hotel>H1</Hotel><CardNo>" + cardNo +
         "</CardNo><E1/><E2/><E3/></Request>";
}

std::string IssueCard(const std::string& copy) {
  return "<Request type=\"IssueCard\"><RequestID/><RegisterId>R1</RegisterId><B>00</B><F>01</F>"
         "<R>01</R><G>Guest</G><D>2009-06-01</D><T>14:00:00</T><D>2009-06-03</D><T>12:00:00</T>"
         "<C>" +
         copy + "</C></Request>";
}

// Denies and grants an unprivileged program (see TSpawnOptions::unprivileged)
// the right to create files in a folder or to write a file. Under root the
// program runs as nobody and the paths stay root's; otherwise the modes do it.
void DenyCreating(const std::string& folder) {
  ::chmod(folder.c_str(), RunningAsRoot() ? 0755 : 0555);
}
void AllowCreating(const std::string& folder) {
  ::chmod(folder.c_str(), RunningAsRoot() ? 0777 : 0755);
}
void DenyWriting(const std::string& file) {
  if (RunningAsRoot()) {
    if (::chown(file.c_str(), 0, 0) != 0) ADD_FAILURE() << "chown " << file;
    ::chmod(file.c_str(), 0644);
  } else {
    ::chmod(file.c_str(), 0444);
  }
}
void AllowWriting(const std::string& file) {
  ::chmod(file.c_str(), RunningAsRoot() ? 0666 : 0644);
}

// Log entries that belong to requests (from the first "收到消息" on).
std::vector<std::string> RequestEntries(const std::string& log) {
  std::vector<std::string> all = LogEntries(log);
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].rfind(Gbk("收到消息: "), 0) == 0)
      return std::vector<std::string>(all.begin() + i, all.end());
  return {};
}

class FaultE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    // Reachable by an unprivileged daemon (mkdtemp makes it private).
    ::chmod(home_.Path().c_str(), 0755);
  }

  void WriteOptions(const std::string& key, const std::string& extra = "") {
    home_.Write("Option.ini",
                "[SysOption]\r\n" + key + "=" + std::to_string(port_) + "\r\n" + extra);
  }

  // Police mode with a guest: the log is the only file the daemon writes.
  void WritePoliceFiles() {
    WriteOptions("PolicePortNo");
    home_.Write("Guest.ini", "[Guest]\r\nRoomNo=0801\r\nName=Guest\r\nGenderID=1\r\n");
  }
  std::unique_ptr<TDaemon> StartPolice(const TSpawnOptions& options = {}) {
    if (!home_.Exists("Guest.ini")) WritePoliceFiles();
    auto daemon = std::make_unique<TDaemon>(home_.Path(), "police", port_, options);
    EXPECT_TRUE(daemon->WaitListening()) << daemon->Stderr();
    return daemon;
  }

  std::unique_ptr<TDaemon> StartDoorlock(const std::string& doorlockKeys) {
    WriteOptions("DoorlockPortNo", "[DoorlockOption]\r\n" + doorlockKeys);
    auto daemon = std::make_unique<TDaemon>(home_.Path(), "doorlock", port_);
    EXPECT_TRUE(daemon->WaitListening()) << daemon->Stderr();
    return daemon;
  }

  std::unique_ptr<TDaemon> StartMember(std::map<std::string, std::string> env,
                                       bool unprivileged = false) {
    WriteOptions("MemberPortNo");
    TSpawnOptions options;
    options.env = std::move(env);
    options.unprivileged = unprivileged;
    auto daemon = std::make_unique<TDaemon>(home_.Path(), "member", port_, options);
    EXPECT_TRUE(daemon->WaitListening()) << daemon->Stderr();
    return daemon;
  }

  // A police request answered with the guest.
  void ExpectGuestReply(const std::string& tag = "") {
    TReply r = Send(port_, kPoliceRequest + tag);
    EXPECT_TRUE(r.gotNul) << tag;
    EXPECT_NE(r.text.find("<RoomNo>0801</RoomNo>"), std::string::npos) << tag;
  }

  // The two entries of a police request sent with ExpectGuestReply(tag).
  static std::vector<std::string> PoliceEntries(const std::string& tag) {
    return {Gbk("收到消息: \r\n") + kPoliceRequest + tag,
            Gbk("返回结果: \r\n<PoliceResponse><Guest><RoomNo>0801</RoomNo><EnterTime>"
                "</EnterTime><IdCardTypeID>11</IdCardTypeID><IdCardNo></IdCardNo><Name>Guest"
                "</Name><Nationality></Nationality><GenderID>1</GenderID><SalutationID>2"
                "</SalutationID><CountryCode></CountryCode><ProvinceCode></ProvinceCode>"
                "<Address></Address><Birthday></Birthday></Guest></PoliceResponse>")};
  }

  std::string LogName() const { return FormatDateTime("yyyymmdd", Now()) + ".LOG"; }

  void NewCard(const std::map<std::string, std::string>& env) {
    std::string out, err;
    ASSERT_EQ(RunProgram({BinPath("cardsim"), "new"}, out, err, env), 0) << err;
  }

  TTempHome home_;
  int port_ = 0;
};

// ---- the log ---------------------------------------------------------------------------------

TEST_F(FaultE2e, LogFolderAndFileNotWritableDropEntriesUntilTheyAre) {
  WritePoliceFiles();
  DenyCreating(home_.Path());
  TSpawnOptions options;
  options.unprivileged = true;
  auto daemon = StartPolice(options);
  ExpectGuestReply("<!--1-->");
  ExpectGuestReply("<!--2-->");
  EXPECT_FALSE(home_.Exists(LogName()));

  AllowCreating(home_.Path());
  ExpectGuestReply("<!--3-->");
  ASSERT_TRUE(home_.Exists(LogName()));

  DenyWriting(home_.File(LogName()));
  DenyCreating(home_.Path());
  ExpectGuestReply("<!--4-->");
  AllowWriting(home_.File(LogName()));
  ExpectGuestReply("<!--5-->");
  EXPECT_EQ(daemon->Stop(), 0);

  const std::string log = TodayLog(home_);
  EXPECT_EQ(LogFault(log), "");
  std::vector<std::string> expected = PoliceEntries("<!--3-->");
  for (const std::string& e : PoliceEntries("<!--5-->")) expected.push_back(e);
  EXPECT_EQ(LogEntries(log), expected);
}

TEST_F(FaultE2e, LogFileReplacedByAFolderOrDeletedWhileRunning) {
  auto daemon = StartPolice();
  ExpectGuestReply("<!--1-->");
  const std::string log = home_.File(LogName());
  const std::string first = home_.Read(LogName());

  // A folder in the file's place: requests are answered, entries dropped.
  fs::rename(log, home_.File("first.LOG"));
  fs::create_directory(log);
  ExpectGuestReply("<!--2-->");
  ExpectGuestReply("<!--3-->");
  EXPECT_TRUE(fs::is_empty(log));
  fs::remove(log);
  ExpectGuestReply("<!--4-->");
  EXPECT_EQ(RequestEntries(home_.Read(LogName())), PoliceEntries("<!--4-->"));

  // Deleted: the next entry makes the file again.
  fs::remove(log);
  ExpectGuestReply("<!--5-->");
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_EQ(LogEntries(home_.Read(LogName())), PoliceEntries("<!--5-->"));
  EXPECT_EQ(LogFault(home_.Read(LogName())), "");
  EXPECT_EQ(home_.Read("first.LOG"), first);
  EXPECT_EQ(RequestEntries(first), PoliceEntries("<!--1-->"));
}

TEST_F(FaultE2e, LogFileSizeLimitCutsNoEntryInHalf) {
  const int64_t kLimit = 2000;
  TSpawnOptions options;
  options.fileSizeLimit = kLimit;
  auto daemon = StartPolice(options);
  for (int i = 0; i < 12; ++i) ExpectGuestReply("<!--" + std::to_string(i) + "-->");

  const std::string full = TodayLog(home_);
  EXPECT_LE(static_cast<int64_t>(full.size()), kLimit);
  EXPECT_GT(full.size(), 1000u);
  EXPECT_EQ(LogFault(full), "");
  // Every entry kept is one that was written whole.
  std::vector<std::string> entries = RequestEntries(full);
  ASSERT_GE(entries.size(), 2u);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].rfind(Gbk("收到消息"), 0) == 0)
      EXPECT_NE(entries[i].find("<!--"), std::string::npos);
    else
      EXPECT_EQ(entries[i], PoliceEntries("")[1]);
  }

  // Once the file is gone the entries come back.
  fs::remove(home_.File(LogName()));
  ExpectGuestReply("<!--last-->");
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_EQ(LogEntries(TodayLog(home_)), PoliceEntries("<!--last-->"));
}

// ---- the record store ------------------------------------------------------------------------

TEST_F(FaultE2e, ClientDbNotADatabaseIsLoggedUntilAGoodOneTakesItsPlace) {
  const std::string garbage(8192, 'x');
  home_.Write("Client.db", garbage);
  auto daemon = StartDoorlock("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1000"));
  EXPECT_EQ(home_.Read("Client.db"), garbage);

  // A good database put in its place later is opened by the next operation.
  std::string out, err;
  TTempHome other;
  ASSERT_EQ(
      RunProgram({BinPath("velio-interfaced"), "--home", other.Path(), "--init-db"}, out, err), 0);
  fs::copy_file(other.File("Client.db"), home_.File("Client.db"),
                fs::copy_options::overwrite_existing);
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1001"));
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_EQ(TSqlDb(home_.File("Client.db")).Rows("select * from T_IssueCardRecord").size(), 1u);

  std::vector<std::string> all = LogEntries(TodayLog(home_));
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0], "file is not a database");
  std::vector<std::string> requests = RequestEntries(TodayLog(home_));
  EXPECT_EQ(CountEntries(requests, "file is not a database"), 2);  // room and record, once
  EXPECT_EQ(CountEntries(requests, Gbk("房间(01)发卡成功")), 2);

  // After a restart the store works as well.
  auto again = StartDoorlock("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1002"));
  EXPECT_EQ(TSqlDb(home_.File("Client.db")).Rows("select * from T_IssueCardRecord").size(), 2u);
}

TEST_F(FaultE2e, ClientDbMissingAtStartIsUsedOnceMade) {
  auto daemon = StartDoorlock("SaveDoorlockRecord=1\r\n");
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1000"));
  std::string out, err;
  ASSERT_EQ(
      RunProgram({BinPath("velio-interfaced"), "--home", home_.Path(), "--init-db"}, out, err), 0);
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1001"));
  EXPECT_EQ(daemon->Stop(), 0);
  std::vector<TSqlRow> records =
      TSqlDb(home_.File("Client.db")).Rows("select CardNo from T_IssueCardRecord");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0][0].text, "1001");
  std::vector<std::string> requests = RequestEntries(TodayLog(home_));
  EXPECT_EQ(CountEntries(requests, "unable to open database file"), 1);
}

TEST_F(FaultE2e, MissingTablesAreLoggedAndTheNextOperationWorksOnceRestored) {
  std::string out, err;
  ASSERT_EQ(
      RunProgram({BinPath("velio-interfaced"), "--home", home_.Path(), "--init-db"}, out, err), 0);
  TSqlDb sql(home_.File("Client.db"));
  sql.Exec("drop table T_IssueCardRecord");
  auto daemon =
      StartDoorlock("DelayMinutes=10\r\nUseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");

  // No record table: the room is stored, the record is not; the reply is the same.
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1000"));
  ASSERT_EQ(sql.Rows("select RoomNo from T_Room").size(), 1u);

  // The table is back: the next issue is recorded.
  sql.Exec(
      "create table T_IssueCardRecord (RegisterId TEXT, CardNo TEXT, RoomNo TEXT, CardType "
      "INTEGER, LastCheckInTime REAL, CheckInTime REAL, CheckOutTime REAL, IsCopy INTEGER, "
      "GuestName TEXT, OpratingTime REAL)");
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1001"));
  std::vector<TSqlRow> records = sql.Rows("select CardNo from T_IssueCardRecord");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0][0].text, "1001");

  // No room table: a copy finds no stored time and cannot store one; it is
  // issued from "now" and recorded all the same.
  sql.Exec("drop table T_Room");
  const TDateTime before = Now();
  EXPECT_EQ(Send(port_, IssueCard("1")).text, DoorReply("200", "发卡成功", "1002"));
  records = sql.Rows("select CardNo, LastCheckInTime, IsCopy from T_IssueCardRecord");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1][0].text, "1002");
  EXPECT_GE(records[1][1].real, IncMinutes(before, -10) - 1e-7);
  EXPECT_EQ(records[1][2].integer, 1);
  EXPECT_EQ(daemon->Stop(), 0);

  const std::string log = TodayLog(home_);
  EXPECT_EQ(LogFault(log), "");
  std::vector<std::string> requests = RequestEntries(log);
  EXPECT_EQ(CountEntries(requests, "no such table: T_IssueCardRecord"), 1);
  EXPECT_EQ(CountEntries(requests, "no such table: T_Room"), 2);  // look-up and insert
  EXPECT_EQ(CountEntries(requests, Gbk("完成一次操作")), 3);
}

TEST_F(FaultE2e, DatabaseLockedByAnotherProgramIsWaitedFor) {
  std::string out, err;
  ASSERT_EQ(
      RunProgram({BinPath("velio-interfaced"), "--home", home_.Path(), "--init-db"}, out, err), 0);
  auto daemon = StartDoorlock("SaveDoorlockRecord=1\r\n");
  TSqlDb sql(home_.File("Client.db"));
  sql.Exec("begin exclusive");
  std::atomic<bool> answered{false};
  TReply reply;
  std::thread client([&] {
    reply = Send(port_, IssueCard("0"));
    answered = true;
  });
  // The request reaches the store and waits for the lock.
  EXPECT_TRUE(WaitUntil(
      [&] { return CountEntries(RequestEntries(TodayLog(home_)), Gbk("执行操作->")) == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(answered.load());
  sql.Exec("commit");
  client.join();
  EXPECT_EQ(reply.text, DoorReply("200", "发卡成功", "1000"));
  EXPECT_EQ(sql.Rows("select * from T_IssueCardRecord").size(), 1u);
}

// ---- the reader ------------------------------------------------------------------------------

TEST_F(FaultE2e, ReaderLibraryMissingOrIncompleteAnswers500) {
  struct Case {
    std::string library;
    std::string why;  // part of the loading failure's text
  } cases[] = {
      {home_.File("no-such-reader.so"), "no-such-reader.so"},
      {BinPath("libVelioE2ePartialReader.so"), "WriteCard"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    fs::remove(home_.File(LogName()));
    auto daemon = StartMember(
        {{"VELIO_READER_LIBRARY", c.library}, {"VELIO_READER_SIM_DIR", home_.File("ReaderSim")}});
    EXPECT_EQ(Send(port_, kReadMember).text, MemberReply("500", "读卡失败", ""));
    EXPECT_EQ(Send(port_, WriteMember("123")).text, MemberReply("500", "写卡失败", "123"));
    EXPECT_EQ(daemon->Stop(), 0);

    std::vector<std::string> all = LogEntries(TodayLog(home_));
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[1].rfind(Gbk("读卡器库加载失败: ") + c.library + ": ", 0), 0u) << all[1];
    EXPECT_NE(all[1].find(c.why), std::string::npos) << all[1];
    // The path is named once, in the log and on stderr at start-up.
    EXPECT_EQ(all[1].find(c.library, all[1].find(c.library) + 1), std::string::npos) << all[1];
    const std::string err = daemon->Stderr();
    EXPECT_EQ(
        err.rfind("velio-interfaced: the reader library " + c.library + " could not be loaded: ",
                  0),
        0u)
        << err;
    EXPECT_NE(err.find(c.why), std::string::npos) << err;
    std::vector<std::string> requests = RequestEntries(TodayLog(home_));
    EXPECT_EQ(CountEntries(requests, Gbk("读卡失败:读卡器库不可用")), 1);
    EXPECT_EQ(CountEntries(requests, Gbk("写卡失败:读卡器库不可用")), 1);
  }
}

TEST_F(FaultE2e, CardRemovedBetweenTwoRequests) {
  const std::map<std::string, std::string> env = {
      {"VELIO_READER_SIM_DIR", home_.File("ReaderSim")}};
  NewCard(env);
  auto daemon = StartMember(env);
  EXPECT_EQ(Send(port_, WriteMember("4711")).text, MemberReply("200", "写卡成功", "4711"));
  std::string out, err;
  ASSERT_EQ(RunProgram({BinPath("cardsim"), "remove"}, out, err, env), 0) << err;
  EXPECT_EQ(Send(port_, kReadMember).text, MemberReply("500", "读卡失败", ""));
  EXPECT_EQ(Send(port_, WriteMember("4712")).text, MemberReply("500", "写卡失败", "4712"));
  // A card laid on again is served.
  NewCard(env);
  EXPECT_EQ(Send(port_, WriteMember("4713")).text, MemberReply("200", "写卡成功", "4713"));
  EXPECT_EQ(Send(port_, kReadMember).text, MemberReply("200", "读卡成功", "4713"));
  EXPECT_EQ(daemon->Stop(), 0);
  std::vector<std::string> requests = RequestEntries(TodayLog(home_));
  EXPECT_EQ(CountEntries(requests, Gbk("读卡失败:00000010")), 1);
  EXPECT_EQ(CountEntries(requests, Gbk("写卡失败:00000010")), 1);
}

TEST_F(FaultE2e, SimulatorFolderThatCannotBeWrittenKeepsTheCard) {
  const std::string dir = home_.File("ReaderSim");
  const std::map<std::string, std::string> env = {{"VELIO_READER_SIM_DIR", dir}};
  NewCard(env);
  std::string out, err;
  ASSERT_EQ(
      RunProgram({BinPath("cardsim"), "write", "--sector", "4", "--block", "0", "--text", "1111"},
                 out, err, env),
      0)
      << err;
  const std::string card = home_.Read("ReaderSim/card.bin");
  DenyCreating(dir);
  AllowCreating(home_.Path());  // for the log
  auto daemon = StartMember(env, /*unprivileged=*/true);

  EXPECT_EQ(Send(port_, WriteMember("2222")).text, MemberReply("500", "写卡失败", "2222"));
  EXPECT_EQ(home_.Read("ReaderSim/card.bin"), card);
  EXPECT_FALSE(home_.Exists("ReaderSim/card.bin.tmp"));
  EXPECT_EQ(Send(port_, kReadMember).text, MemberReply("200", "读卡成功", "1111"));

  AllowCreating(dir);
  EXPECT_EQ(Send(port_, WriteMember("3333")).text, MemberReply("200", "写卡成功", "3333"));
  EXPECT_EQ(Send(port_, kReadMember).text, MemberReply("200", "读卡成功", "3333"));
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_EQ(CountEntries(RequestEntries(TodayLog(home_)), Gbk("写卡失败:00000017")), 1);
}

// ---- the encoder's state file ----------------------------------------------------------------

// A guest name carrying "&#13;&#10;[Encoder]&#13;&#10;Fail=1" would plant a
// section that fails every later request: the issue fails, the file keeps
// every byte, and the next request is served.
TEST_F(FaultE2e, GuestNameWithLineBreaksPlantsNothingInTheEncodersFile) {
  auto daemon = StartDoorlock("");
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1000"));
  const std::string before = home_.Read("DoorlockSim.ini");
  std::string hostile = IssueCard("0");
  hostile.replace(hostile.find("<G>Guest</G>"), 12, "<G>&#13;&#10;[Encoder]&#13;&#10;Fail=1</G>");
  EXPECT_EQ(Send(port_, hostile).text, DoorReply("500", "发卡失败", "0"));
  EXPECT_EQ(home_.Read("DoorlockSim.ini"), before);
  EXPECT_EQ(home_.Read("DoorlockSim.ini").find("Fail"), std::string::npos);
  EXPECT_EQ(Send(port_, IssueCard("0")).text, DoorReply("200", "发卡成功", "1001"));
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_EQ(CountEntries(RequestEntries(TodayLog(home_)),
                         "Unable to write to " + home_.File("DoorlockSim.ini")),
            1);
}

// ---- peers -----------------------------------------------------------------------------------

bool SendAll(int s, const std::string& bytes) {
  return ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

TEST_F(FaultE2e, PeerGoneBeforeItsReplyDoesNotDisturbTheNext) {
  const std::string gate = home_.File("gate");
  home_.Write("gate", "");
  auto daemon = StartMember({{"VELIO_READER_LIBRARY", BinPath("libVelioE2eGateReader.so")},
                             {"VELIO_E2E_READER_GATE", gate}});
  int s = OpenConnection(port_);
  ASSERT_GE(s, 0);
  ASSERT_TRUE(SendAll(s, kReadMember + std::string(1, '\0')));
  ASSERT_TRUE(WaitUntil([&] { return home_.Exists("gate.entered"); }));
  // Gone with a reset while the handler is inside the device.
  linger reset{1, 0};
  ::setsockopt(s, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(s);
  fs::remove(gate);
  ASSERT_TRUE(WaitUntil([&] {
    return CountEntries(RequestEntries(TodayLog(home_)), Gbk("读卡成功，卡号为：GATE0001")) == 1;
  }));
  EXPECT_EQ(Send(port_, kReadMember).text, MemberReply("200", "读卡成功", "GATE0001"));
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_EQ(daemon->Stderr(), "");
  EXPECT_EQ(LogFault(TodayLog(home_)), "");
}

TEST_F(FaultE2e, HalfRequestsAndUnreadRepliesDoNotHoldTheServer) {
  auto daemon = StartPolice();
  // Half a request, then gone.
  int half = OpenConnection(port_);
  ASSERT_GE(half, 0);
  ASSERT_TRUE(SendAll(half, "<Request type=\"Half"));
  ::close(half);
  // Half a request, kept open.
  int waiting = OpenConnection(port_);
  ASSERT_GE(waiting, 0);
  ASSERT_TRUE(SendAll(waiting, "<Request"));
  // A whole request whose reply is never read.
  int deaf = OpenConnection(port_);
  ASSERT_GE(deaf, 0);
  ASSERT_TRUE(SendAll(deaf, kPoliceRequest + "<!--deaf-->" + std::string(1, '\0')));

  for (int i = 0; i < 5; ++i) ExpectGuestReply("<!--" + std::to_string(i) + "-->");
  ASSERT_TRUE(WaitUntil(
      [&] { return CountEntries(RequestEntries(TodayLog(home_)), Gbk("返回结果: ")) == 6; }));
  ::close(deaf);
  ::close(waiting);
  ExpectGuestReply("<!--after-->");

  // Nothing is left to wait for at the stop.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(daemon->Stderr(), "");
  std::vector<std::string> requests = RequestEntries(TodayLog(home_));
  EXPECT_EQ(CountEntries(requests, Gbk("收到消息: ")), 7);
  EXPECT_EQ(CountEntries(requests, Gbk("收到消息: \r\n<Request type=\"Half")), 0);
  EXPECT_EQ(LogFault(TodayLog(home_)), "");
}

// ---- descriptors and the guest file --------------------------------------------------------

// The soft limit a program runs with, from /proc/PID/limits ("Max open files").
long SoftOpenFileLimit(pid_t pid) {
  std::string limits;
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/limits").c_str(), "r");
  if (f == nullptr) return -1;
  char line[256];
  long soft = -1;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::sscanf(line, "Max open files %ld", &soft) == 1) break;
  std::fclose(f);
  return soft;
}

TEST_F(FaultE2e, StartUpRaisesTheOpenFileLimitToTheHardLimitSilently) {
  TSpawnOptions options;
  options.openFilesLimit = 300;
  options.openFilesSoftLimit = 40;
  auto daemon = StartPolice(options);
  EXPECT_EQ(SoftOpenFileLimit(daemon->Pid()), 300);
  ExpectGuestReply();
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_EQ(daemon->Stderr(), "");
  // Nothing is logged for the limit.
  const std::vector<std::string> entries = LogEntries(TodayLog(home_));
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(CountEntries(entries, Gbk("模拟公安数据源: ")), 1);
  EXPECT_EQ(CountEntries(entries, Gbk("无法提高打开文件数上限")), 0);
}

// A guest file that is there but cannot be read is a device failure: the
// request ends without a reply and never passes for "no guest".
TEST_F(FaultE2e, GuestFileThatCannotBeReadEndsTheRequestWithoutAReply) {
  struct TCase {
    const char* name;
    std::function<void()> spoil;
    bool replied;  // with the empty record
  };
  const std::string guest = home_.File("Guest.ini");
  const std::vector<TCase> cases = {
      {"Missing", [&] { fs::remove(guest); }, true},
      {"NotReadable",
       [&] {
         DenyWriting(guest);
         ::chmod(guest.c_str(), RunningAsRoot() ? 0600 : 0000);
       },
       false},
      {"AFolder",
       [&] {
         fs::remove(guest);
         fs::create_directory(guest);
       },
       false},
  };
  WritePoliceFiles();
  AllowCreating(home_.Path());  // the log
  TSpawnOptions options;
  options.unprivileged = true;
  auto daemon = StartPolice(options);
  const std::string good = home_.Read("Guest.ini");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.spoil();
    TReply r = Send(port_, kPoliceRequest);
    EXPECT_TRUE(r.connected);
    EXPECT_EQ(r.gotNul, c.replied);
    EXPECT_EQ(r.text, c.replied ? "<PoliceResponse></PoliceResponse>" : "");
    // Mended, the next request gets the guest.
    fs::remove_all(guest);
    home_.Write("Guest.ini", good);
    AllowWriting(guest);
    ExpectGuestReply(c.name);
  }
  EXPECT_EQ(daemon->Stop(), 0);
  const std::vector<std::string> requests = RequestEntries(TodayLog(home_));
  EXPECT_EQ(CountEntries(requests, Gbk("收到消息: ")), 6);
  EXPECT_EQ(CountEntries(requests, Gbk("返回结果: ")), 4);
}

// Out of descriptors, a request is answered correctly or not at all, and
// accepting resumes by itself once descriptors are free again.
TEST_F(FaultE2e, OutOfDescriptorsNoWrongReplyAndAcceptingResumes) {
  constexpr int kLimit = 64;
  TSpawnOptions options;
  options.openFilesLimit = kLimit;
  auto daemon = StartPolice(options);
  ExpectGuestReply("<!--warm-->");  // a handler thread and the code-page converters exist
  // Descriptors the daemon holds below the limit (it may have inherited some
  // above it, which leave no room for new ones).
  auto used = [&] {
    int n = 0;
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(daemon->Pid()) + "/fd"))
      if (std::stoi(entry.path().filename().string()) < kLimit) ++n;
    return n;
  };
  ASSERT_GE(SettledDescriptors(*daemon), 0);
  const int base = used();
  ASSERT_GT(base, 0);
  ASSERT_LT(base, kLimit - 8);
  // Every descriptor left goes to a silent connection.
  std::vector<int> held = OpenHeldConnections(*daemon, kLimit - base);
  ASSERT_EQ(static_cast<int>(held.size()), kLimit - base);
  ASSERT_TRUE(WaitUntil([&] { return used() == kLimit; }));

  // A request now waits in the listen queue while accepting fails.
  int waiting = OpenConnection(port_);
  ASSERT_GE(waiting, 0);
  ASSERT_TRUE(SendAll(waiting, kPoliceRequest + "<!--starved-->" + std::string(1, '\0')));
  ASSERT_TRUE(WaitUntil([&] { return AcceptQueueLength(port_) == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(AcceptQueueLength(port_), 1);

  // One descriptor frees: the request is accepted with it, and then neither
  // the log nor Guest.ini can be opened. No reply, not the empty record.
  ::close(held.back());
  held.pop_back();
  TReply starved = FinishRequest(waiting, "");
  EXPECT_TRUE(starved.connected);
  EXPECT_FALSE(starved.gotNul);
  EXPECT_EQ(starved.text, "");

  // A few more free up: the server answers again without being told (eight:
  // a sanitizer build's runtime takes descriptors of its own now and then).
  for (int i = 0; i < 8; ++i) {
    ::close(held.back());
    held.pop_back();
  }
  ExpectGuestReply("<!--after-->");
  for (int s : held) ::close(s);
  ExpectGuestReply("<!--released-->");
  EXPECT_EQ(daemon->Stop(), 0);
  const std::string log = TodayLog(home_);
  EXPECT_EQ(log.find("<PoliceResponse></PoliceResponse>"), std::string::npos);
  EXPECT_EQ(CountEntries(RequestEntries(log), Gbk("返回结果: ")), 3);
  EXPECT_EQ(LogFault(log), "");
}

// ---- stopping while a handler is held inside the device -------------------------------------

// Both programs, whatever stop signal: the stop waits for the handler, then
// reports the timeout on stderr (the desktop program too: no error box is left
// waiting for an answer) and the process ends by itself with 0.
TEST_F(FaultE2e, StopWhileAHandlerIsBlockedInTheDeviceTimesOutAndExitsCleanly) {
  struct Case {
    const char* program;
    int sig;
    const char* startLine;  // what the program prints on stdout
  } cases[] = {{"velio-interfaced", SIGTERM, "会员卡接口监听服务器已经启动...\n"},
               {"velio-interfaced", SIGHUP, "会员卡接口监听服务器已经启动...\n"},
#ifdef VELIO_E2E_DESKTOP
               {"velio-interface", SIGTERM, ""}
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + strsignal(c.sig));
    const std::string gate = home_.File("gate");
    home_.Write("gate", "");
    ::unlink((gate + ".entered").c_str());
    WriteOptions("MemberPortNo");
    TSpawnOptions options;
    options.program = c.program;
    options.env = {{"VELIO_READER_LIBRARY", BinPath("libVelioE2eGateReader.so")},
                   {"VELIO_E2E_READER_GATE", gate},
                   {"QT_QPA_PLATFORM", "offscreen"}};
    auto daemon = std::make_unique<TDaemon>(home_.Path(), "member", port_, options);
    ASSERT_TRUE(daemon->WaitListening(30000)) << daemon->Stderr();
    TReply reply;
    std::thread client([&] { reply = Send(port_, kReadMember); });
    ASSERT_TRUE(WaitUntil([&] { return home_.Exists("gate.entered"); }));

    const auto start = std::chrono::steady_clock::now();
    daemon->Signal(c.sig);
    // The connection is shut at once: the client is let go without a reply.
    client.join();
    EXPECT_TRUE(reply.connected);
    EXPECT_FALSE(reply.gotNul);
    const int code = daemon->Wait(30000);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(code, 0) << daemon->Stderr();
    EXPECT_GE(elapsed, std::chrono::milliseconds(4500));
    EXPECT_LT(elapsed, std::chrono::seconds(15));
    // The stop line is not printed when the stop fails.
    EXPECT_NE(daemon->Stderr().find("Terminate Thread Timeout\n"), std::string::npos)
        << daemon->Stderr();
    if (std::string(c.program) == "velio-interfaced") {
      EXPECT_EQ(daemon->Stderr(), "Terminate Thread Timeout\n");
    }
    EXPECT_EQ(daemon->Stdout(), c.startLine);
    EXPECT_TRUE(home_.Exists("gate"));  // the handler was still inside the device
    EXPECT_EQ(LogFault(TodayLog(home_)), "");
  }
}

// ---- saving Option.ini -----------------------------------------------------------------------

TEST(OptionFileFaults, SaveThatCannotWriteRaisesAndKeepsTheOldFile) {
  const std::string original = "[SysOption]\r\nPassword=old\r\n[MemberOption]\r\nSector=1\r\n";
  // The folder refuses new files (the file itself may be written).
  {
    velio_test::TTempDir dir;
    const std::string path = dir.File("Option.ini");
    velio_test::WriteFile(path, original);
    ::chmod(path.c_str(), 0666);
    ::chmod(dir.Path().c_str(), 0555);
    int rc = velio_test::RunUnprivileged([&] {
      TSysOption opt(path);
      opt.Load();
      opt.Password = "new";
      try {
        opt.Save();
      } catch (const EInOutError& e) {
        return std::string(e.what()) == "Unable to write to " + path ? 0 : 2;
      }
      return 1;
    });
    EXPECT_EQ(rc, 0) << "1: no error, 2: wrong message";
    EXPECT_EQ(velio_test::ReadFile(path), original);
    EXPECT_FALSE(velio_test::Exists(path + ".tmp"));
  }
  // A folder where the file should be, and a file where the folder should be.
  {
    velio_test::TTempDir dir;
    const std::string asFolder = dir.File("Option.ini");
    fs::create_directory(asFolder);
    velio_test::WriteFile(dir.File("home"), original);
    const std::string underFile = dir.File("home/Option.ini");
    for (const std::string& path : {asFolder, underFile}) {
      TSysOption opt(path);
      opt.Load();
      EXPECT_EQ(opt.Password, "qelvan");
      try {
        opt.Save();
        ADD_FAILURE() << "no error for " << path;
      } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
      }
    }
    EXPECT_TRUE(fs::is_directory(asFolder));
    EXPECT_TRUE(fs::is_empty(asFolder));
    EXPECT_EQ(velio_test::ReadFile(dir.File("home")), original);
  }
}

}  // namespace
