// End-to-end: velio-interfaced in door-lock mode with the simulated encoder
// (DoorlockSim.ini) and a real Client.db made by --init-db; and several
// servers on one PostgreSQL or MariaDB store that the test starts.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "doorlock/OdbcStoreUnit.h"
#include "platform/DateTimeUnit.h"
#include "platform/ProfileUnit.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/DbServerSupport.h"
#include "tests/support/ReplySupport.h"

using namespace e2e;

namespace {

using velio_test::DoorReply;

// One "IssueCard" request; the values at positions 1 to 10 of the root.
struct TIssueCard {
  std::string type = "IssueCard";
  std::string registerId = "R1";
  std::string building = "00";
  std::string floor = "01";
  std::string room = "01";
  std::string guest = "Guest";
  std::string inDate = "2009-06-01";
  std::string inTime = "14:00:00";
  std::string outDate = "2009-06-03";
  std::string outTime = "12:00:00";
  std::string copy = "0";

  std::string Xml() const {
    return "<Request type=\"" + type + "\"><RequestID>77</RequestID><RegisterId>" + registerId +
           "</RegisterId><Building>" + building + "</Building><Floor>" + floor + "</Floor><Room>" +
           room + "</Room><Guest>" + guest + "</Guest><InDate>" + inDate + "</InDate><InTime>" +
           inTime + "</InTime><OutDate>" + outDate + "</OutDate><OutTime>" + outTime +
           "</OutTime><Copy>" + copy + "</Copy></Request>";
  }
};

const std::string kReadCard = "<Request type=\"ReadCard\"/>";
const std::string kEraseCard = "<Request type=\"EraseCard\"></Request>";

// Columns of T_IssueCardRecord, in this order.
const char kSelectRecords[] =
    "select RegisterId, CardNo, RoomNo, CardType, LastCheckInTime, CheckInTime, CheckOutTime, "
    "IsCopy, GuestName, OpratingTime from T_IssueCardRecord order by rowid";
enum {
  kRegisterId,
  kCardNo,
  kRoomNo,
  kCardType,
  kLastCheckIn,
  kCheckIn,
  kCheckOut,
  kIsCopy,
  kGuestName,
  kOpratingTime
};

// A millisecond, in days: the clock's resolution.
constexpr double kMs = 1.0 / 86400000.0;

class DoorlockE2e : public ::testing::Test {
 protected:
  void SetUp() override { port_ = FreePort(); }

  // Option.ini with the door-lock port and the given DoorlockOption lines.
  void WriteOptions(const std::string& doorlockKeys) {
    home_.Write("Option.ini", "[SysOption]\r\nDoorlockPortNo=" + std::to_string(port_) +
                                  "\r\n\r\n[DoorlockOption]\r\n" + doorlockKeys);
  }

  void InitDb() {
    std::string out, err;
    ASSERT_EQ(
        RunProgram({BinPath("velio-interfaced"), "--home", home_.Path(), "--init-db"}, out, err), 0)
        << err;
  }

  std::unique_ptr<TDaemon> Start() {
    auto daemon = std::make_unique<TDaemon>(home_.Path(), "doorlock", port_);
    EXPECT_TRUE(daemon->WaitListening()) << daemon->Stderr();
    return daemon;
  }

  std::vector<TSqlRow> Records() { return TSqlDb(home_.File("Client.db")).Rows(kSelectRecords); }
  std::vector<TSqlRow> Rooms() {
    return TSqlDb(home_.File("Client.db"))
        .Rows("select RoomNo, LastCheckInTime from T_Room order by rowid");
  }

  std::string Encoder(const char* section, const char* key) {
    return ReadProfileString(home_.File("DoorlockSim.ini"), section, key, "<none>");
  }
  void SetEncoder(const char* key, const std::string& value) {
    WriteProfileString(home_.File("DoorlockSim.ini"), "Encoder", key, value);
  }

  // The log's entries from the first one that starts with "收到消息".
  std::vector<std::string> RequestEntries() {
    std::vector<std::string> all = LogEntries(TodayLog(home_));
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i].rfind(Gbk("收到消息: "), 0) == 0)
        return std::vector<std::string>(all.begin() + i, all.end());
    return {};
  }

  // Sends a request and checks the reply's framing: one NUL, nothing after
  // it, no line breaks.
  std::string Ask(const std::string& request) {
    TReply r = Send(port_, request);
    EXPECT_TRUE(r.gotNul) << request;
    EXPECT_EQ(r.trailing, "");
    EXPECT_EQ(r.text.find_first_of("\r\n"), std::string::npos);
    return r.text;
  }

  TTempHome home_;
  int port_ = 0;
};

TEST_F(DoorlockE2e, IssueCardStoresTheRecordAndTheRoomTime) {
  WriteOptions(
      "DelayMinutes=10\r\nDelayMinutes2=30\r\nUseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  InitDb();
  auto daemon = Start();

  TIssueCard issue;
  issue.guest = "张三";
  const TDateTime before = Now();
  EXPECT_EQ(Ask(issue.Xml()), DoorReply("200", "发卡成功", "1000"));
  const TDateTime after = Now();

  std::vector<TSqlRow> records = Records();
  ASSERT_EQ(records.size(), 1u);
  const TSqlRow& r = records[0];
  EXPECT_EQ(r[kRegisterId].text, "R1");
  EXPECT_EQ(r[kCardNo].type, 3 /* SQLITE_TEXT */);
  EXPECT_EQ(r[kCardNo].text, "1000");
  EXPECT_EQ(r[kRoomNo].text, "000101");
  EXPECT_EQ(r[kCardType].integer, 1);
  // A new card with the native store starts "now" less DelayMinutes.
  EXPECT_GE(r[kLastCheckIn].real, IncMinutes(before, -10) - kMs);
  EXPECT_LE(r[kLastCheckIn].real, IncMinutes(after, -10) + kMs);
  EXPECT_DOUBLE_EQ(r[kCheckIn].real, IncMinutes(StrToDateTime("2009-06-01 14:00:00"), -10));
  EXPECT_DOUBLE_EQ(r[kCheckOut].real, IncMinutes(StrToDateTime("2009-06-03 12:00:00"), 30));
  EXPECT_EQ(r[kIsCopy].integer, 0);
  EXPECT_EQ(r[kGuestName].text, "张三");  // stored as UTF-8
  EXPECT_GE(r[kOpratingTime].real, before - kMs);
  EXPECT_LE(r[kOpratingTime].real, after + kMs);

  std::vector<TSqlRow> rooms = Rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0][0].text, "000101");
  EXPECT_DOUBLE_EQ(rooms[0][1].real, r[kLastCheckIn].real);

  // What the encoder was given.
  EXPECT_EQ(Encoder("Card", "GuestName"), Gbk("张三"));
  EXPECT_EQ(Encoder("Card", "StartTime"),
            FormatDateTime("yyyy-mm-dd hh:nn:ss", r[kLastCheckIn].real));
  EXPECT_EQ(Encoder("Card", "EndTime"), "2009-06-03 12:30:00");
  EXPECT_EQ(Encoder("Card", "IsCopy"), "0");

  // A second new card for the room moves its time on; the room stays one row.
  EXPECT_EQ(Ask(issue.Xml()), DoorReply("200", "发卡成功", "1001"));
  rooms = Rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_GE(rooms[0][1].real, r[kLastCheckIn].real);
  EXPECT_EQ(Records().size(), 2u);

  EXPECT_EQ(daemon->Stop(), 0);
  std::vector<std::string> entries = RequestEntries();
  const std::vector<std::string> expected = {Gbk("收到消息: \r\n" + issue.Xml()),
                                             Gbk("执行操作->"),
                                             Gbk("新建房间000101"),
                                             Gbk("房间(01)发卡成功"),
                                             Gbk("完成一次操作"),
                                             Gbk("收到消息: \r\n" + issue.Xml()),
                                             Gbk("执行操作->"),
                                             Gbk("房间(01)发卡成功"),
                                             Gbk("完成一次操作")};
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(LogFault(TodayLog(home_)), "");
}

TEST_F(DoorlockE2e, CopyCardForAStoredRoomReusesItsTime) {
  WriteOptions("DelayMinutes=10\r\nUseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  InitDb();
  const double stored = 40000.5;  // 2009-07-06 12:00:00
  TSqlDb(home_.File("Client.db"))
      .Exec("insert into T_Room(RoomNo, LastCheckInTime) values('000101', 40000.5)");
  auto daemon = Start();

  TIssueCard copy;
  copy.copy = "1";
  EXPECT_EQ(Ask(copy.Xml()), DoorReply("200", "发卡成功", "1000"));
  EXPECT_EQ(Encoder("Card", "StartTime"), "2009-07-06 12:00:00");
  EXPECT_EQ(Encoder("Card", "IsCopy"), "1");

  std::vector<TSqlRow> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_DOUBLE_EQ(records[0][kLastCheckIn].real, stored);
  EXPECT_DOUBLE_EQ(records[0][kCheckIn].real,
                   IncMinutes(StrToDateTime("2009-06-01 14:00:00"), -10));
  EXPECT_EQ(records[0][kIsCopy].integer, 1);
  // The room's time is not changed by a copy.
  std::vector<TSqlRow> rooms = Rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_DOUBLE_EQ(rooms[0][1].real, stored);
  EXPECT_EQ(CountEntries(RequestEntries(), Gbk("新建房间")), 0);
}

TEST_F(DoorlockE2e, CopyCardForANewRoomStoresNowBeforeTheDeviceIsCalled) {
  WriteOptions("DelayMinutes=10\r\nUseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  InitDb();
  home_.Write("DoorlockSim.ini", "[Encoder]\r\nFail=1\r\n");
  auto daemon = Start();

  TIssueCard copy;
  copy.room = "02";
  copy.copy = "True";
  const TDateTime before = Now();
  // The encoder fails: the room is stored all the same, the record too.
  EXPECT_EQ(Ask(copy.Xml()), DoorReply("500", "发卡失败", "0"));
  const TDateTime after = Now();
  std::vector<TSqlRow> rooms = Rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0][0].text, "000102");
  EXPECT_GE(rooms[0][1].real, IncMinutes(before, -10) - kMs);
  EXPECT_LE(rooms[0][1].real, IncMinutes(after, -10) + kMs);
  std::vector<TSqlRow> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0][kCardNo].text, "0");
  EXPECT_EQ(records[0][kRoomNo].text, "000102");
  EXPECT_DOUBLE_EQ(records[0][kLastCheckIn].real, rooms[0][1].real);
  EXPECT_EQ(records[0][kIsCopy].integer, 1);

  // A new card that fails leaves the rooms as they were.
  TIssueCard fresh;
  fresh.room = "03";
  EXPECT_EQ(Ask(fresh.Xml()), DoorReply("500", "发卡失败", "0"));
  EXPECT_EQ(Rooms().size(), 1u);
  EXPECT_EQ(Records().size(), 2u);

  std::vector<std::string> entries = RequestEntries();
  EXPECT_EQ(CountEntries(entries, Gbk("新建房间000102")), 1);
  EXPECT_EQ(CountEntries(entries, Gbk("房间(02)发卡失败")), 1);
  EXPECT_EQ(CountEntries(entries, Gbk("房间(03)发卡失败")), 1);
}

TEST_F(DoorlockE2e, CopyFlagTexts) {
  WriteOptions("SaveDoorlockRecord=1\r\n");
  InitDb();
  auto daemon = Start();
  struct Case {
    std::string text;
    int isCopy;
  } cases[] = {{"1", 1},     {"-2", 1}, {"True", 1}, {"true", 1}, {"0", 0},
               {"False", 0}, {"", 0},   {"yes", 0},  {" 1 ", 1}};
  for (const Case& c : cases) {
    TIssueCard issue;
    issue.copy = c.text;
    Ask(issue.Xml());
    std::vector<TSqlRow> records = Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back()[kIsCopy].integer, c.isCopy) << "copy flag '" << c.text << "'";
  }
}

TEST_F(DoorlockE2e, DelaysShiftTheStoredTimesBothWays) {
  struct Case {
    int delay, delay2;
    std::string start, end;
  } cases[] = {
      {10, 30, "2009-06-01 13:50:00", "2009-06-03 12:30:00"},
      {-5, -30, "2009-06-01 14:05:00", "2009-06-03 11:30:00"},
      {0, 0, "2009-06-01 14:00:00", "2009-06-03 12:00:00"},
      {1440, -1440, "2009-05-31 14:00:00", "2009-06-02 12:00:00"},
  };
  InitDb();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.delay) + "/" + std::to_string(c.delay2));
    WriteOptions("DelayMinutes=" + std::to_string(c.delay) +
                 "\r\nDelayMinutes2=" + std::to_string(c.delay2) + "\r\nSaveDoorlockRecord=1\r\n");
    TSqlDb(home_.File("Client.db")).Exec("delete from T_IssueCardRecord");
    auto daemon = Start();
    EXPECT_EQ(Ask(TIssueCard().Xml()).find("<ResultCode>200</ResultCode>") != std::string::npos,
              true);
    EXPECT_EQ(daemon->Stop(), 0);

    const TDateTime checkIn = StrToDateTime("2009-06-01 14:00:00");
    const TDateTime checkOut = StrToDateTime("2009-06-03 12:00:00");
    std::vector<TSqlRow> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_DOUBLE_EQ(records[0][kCheckIn].real, IncMinutes(checkIn, -c.delay));
    EXPECT_DOUBLE_EQ(records[0][kCheckOut].real, IncMinutes(checkOut, c.delay2));
    // Without the native store the encoder starts at the shifted check-in.
    EXPECT_DOUBLE_EQ(records[0][kLastCheckIn].real, records[0][kCheckIn].real);
    EXPECT_EQ(Encoder("Card", "StartTime"), c.start);
    EXPECT_EQ(Encoder("Card", "EndTime"), c.end);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", records[0][kCheckIn].real), c.start);
  }
}

TEST_F(DoorlockE2e, RepliesAreExactForEveryOutcome) {
  WriteOptions("");
  InitDb();
  auto daemon = Start();

  TIssueCard issue;
  TIssueCard padded = issue;
  padded.type = " \tIssueCard ";
  TIssueCard lower = issue;
  lower.type = "issuecard";
  TIssueCard shortOne = issue;
  std::string shortXml = shortOne.Xml();
  shortXml.replace(shortXml.find("<Copy>"), std::string("<Copy>0</Copy>").size(), "");

  struct Step {
    std::string request;
    std::optional<std::string> reply;  // nullopt: the connection closes without one
    std::string failEncoder;           // the encoder's Fail value before the request
    std::string cardOnEncoder = "";    // when set, the card number laid on the encoder first
  } steps[] = {
      {kReadCard, DoorReply("500", "读卡失败", "0"), "0"},
      {kEraseCard, DoorReply("500", "注销卡失败 ", "0"), "0"},
      {issue.Xml(), DoorReply("200", "发卡成功", "1000"), "0"},
      {kReadCard, DoorReply("200", "读卡成功", "1000"), "0"},
      {"<Request TYPE=\"ReadCard\"><A/></Request>", DoorReply("200", "读卡成功", "1000"), "0"},
      {kEraseCard, DoorReply("200", "注销卡成功 ", "0"), "0"},
      {kReadCard, DoorReply("500", "读卡失败", "0"), "0"},
      {padded.Xml(), DoorReply("200", "发卡成功", "1001"), "0"},
      {issue.Xml(), DoorReply("500", "发卡失败", "0"), "1"},
      {kReadCard, DoorReply("500", "读卡失败", "0"), "1"},
      {kEraseCard, DoorReply("500", "注销卡失败 ", "0"), "1"},
      {kReadCard, DoorReply("200", "读卡成功", "-42"), "0", "-42"},
      {lower.Xml(), std::nullopt, "0"},
      {"<Request><A/></Request>", std::nullopt, "0"},
      {shortXml, std::nullopt, "0"},
      {"<Request type=\"IssueCard\"", std::nullopt, "0"},
      {"", std::nullopt, "0"},
  };
  for (const Step& s : steps) {
    SetEncoder("Fail", s.failEncoder);
    if (!s.cardOnEncoder.empty()) SetEncoder("CardNo", s.cardOnEncoder);
    TReply r = Send(port_, s.request);
    EXPECT_TRUE(r.connected);
    if (s.reply) {
      EXPECT_TRUE(r.gotNul) << s.request;
      EXPECT_EQ(r.text, *s.reply) << s.request;
      EXPECT_EQ(r.trailing, "");
    } else {
      EXPECT_FALSE(r.gotNul) << s.request;
      EXPECT_EQ(r.text, "") << s.request;
    }
  }

  EXPECT_EQ(daemon->Stop(), 0);
  std::vector<std::string> entries = RequestEntries();
  // Outcome entries in order, without the request and framing entries.
  std::vector<std::string> outcomes;
  for (const std::string& e : entries)
    if (e.rfind(Gbk("收到消息"), 0) != 0 && e != Gbk("执行操作->") && e != Gbk("完成一次操作"))
      outcomes.push_back(e);
  const std::vector<std::string> expected = {Gbk("读卡失败"),
                                             Gbk("注销卡失败"),
                                             Gbk("房间(01)发卡成功"),
                                             Gbk("读卡成功，卡号为：1000"),
                                             Gbk("读卡成功，卡号为：1000"),
                                             Gbk("注销卡成功"),
                                             Gbk("读卡失败"),
                                             Gbk("房间(01)发卡成功"),
                                             Gbk("房间(01)发卡失败"),
                                             Gbk("读卡失败"),
                                             Gbk("注销卡失败"),
                                             Gbk("读卡成功，卡号为：-42")};
  EXPECT_EQ(outcomes, expected);
  // Every request is logged; the unknown types and the root without a type
  // finish their operation; the requests that fail to parse or lack values do not.
  EXPECT_EQ(CountEntries(entries, Gbk("收到消息: ")), 17);
  EXPECT_EQ(CountEntries(entries, Gbk("执行操作->")), 15);
  EXPECT_EQ(CountEntries(entries, Gbk("完成一次操作")), 14);
  EXPECT_EQ(LogFault(TodayLog(home_)), "");
}

TEST_F(DoorlockE2e, DateThatDoesNotConvertIssuesAndStoresNothing) {
  WriteOptions("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  InitDb();
  auto daemon = Start();
  for (const char* date : {"2009-13-01", "01.06.2009", ""}) {
    TIssueCard issue;
    issue.outDate = date;
    TIssueCard copy = issue;
    copy.copy = "1";
    for (const TIssueCard* request : {&issue, &copy}) {
      TReply r = Send(port_, request->Xml());
      EXPECT_TRUE(r.connected);
      EXPECT_FALSE(r.gotNul) << date;
      EXPECT_EQ(r.text, "");
    }
  }
  // Neither the encoder nor the store was reached.
  EXPECT_FALSE(home_.Exists("DoorlockSim.ini"));
  EXPECT_TRUE(Rooms().empty());
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(daemon->Stop(), 0);
  std::vector<std::string> entries = RequestEntries();
  EXPECT_EQ(CountEntries(entries, Gbk("收到消息: ")), 6);
  EXPECT_EQ(CountEntries(entries, Gbk("执行操作->")), 6);
  EXPECT_EQ(CountEntries(entries, Gbk("完成一次操作")), 0);
  EXPECT_EQ(entries.size(), 12u);
}

TEST_F(DoorlockE2e, RoomKeyWithAQuoteIsStoredAndFoundAgain) {
  WriteOptions("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  InitDb();
  auto daemon = Start();
  TIssueCard issue;
  issue.building = "A'";
  issue.floor = "0";
  issue.room = "1";
  EXPECT_EQ(Ask(issue.Xml()), DoorReply("200", "发卡成功", "1000"));
  std::vector<TSqlRow> rooms = Rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0][0].text, "A'01");

  // The copy finds the stored time: the quote does not break the look-up.
  TIssueCard copy = issue;
  copy.copy = "1";
  EXPECT_EQ(Ask(copy.Xml()), DoorReply("200", "发卡成功", "1001"));
  std::vector<TSqlRow> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1][kRoomNo].text, "A'01");
  EXPECT_DOUBLE_EQ(records[1][kLastCheckIn].real, rooms[0][1].real);
  EXPECT_EQ(Rooms().size(), 1u);

  // Nothing but the request's own entries: no database error.
  EXPECT_EQ(daemon->Stop(), 0);
  const std::vector<std::string> expected = {Gbk("收到消息: \r\n" + issue.Xml()),
                                             Gbk("执行操作->"),
                                             Gbk("新建房间A'01"),
                                             Gbk("房间(1)发卡成功"),
                                             Gbk("完成一次操作"),
                                             Gbk("收到消息: \r\n" + copy.Xml()),
                                             Gbk("执行操作->"),
                                             Gbk("房间(1)发卡成功"),
                                             Gbk("完成一次操作")};
  EXPECT_EQ(RequestEntries(), expected);
}

TEST_F(DoorlockE2e, MissingClientDbIsLoggedAndRepliesStayTheSame) {
  WriteOptions("UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n");
  auto daemon = Start();
  TIssueCard issue;
  TIssueCard copy;
  copy.copy = "1";
  EXPECT_EQ(Ask(issue.Xml()), DoorReply("200", "发卡成功", "1000"));
  EXPECT_EQ(Ask(copy.Xml()), DoorReply("200", "发卡成功", "1001"));
  EXPECT_EQ(Ask(kReadCard), DoorReply("200", "读卡成功", "1001"));
  EXPECT_EQ(daemon->Stop(), 0);
  EXPECT_FALSE(home_.Exists("Client.db"));  // never created by the server

  std::vector<std::string> all = LogEntries(TodayLog(home_));
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0], "unable to open database file");
  const std::string error = "unable to open database file";
  const std::vector<std::string> expected = {Gbk("收到消息: \r\n" + issue.Xml()),
                                             Gbk("执行操作->"),
                                             error,  // the room time
                                             error,  // the issue record
                                             Gbk("房间(01)发卡成功"),
                                             Gbk("完成一次操作"),
                                             Gbk("收到消息: \r\n" + copy.Xml()),
                                             Gbk("执行操作->"),
                                             error,  // the room's stored time
                                             error,  // storing the room
                                             error,  // the issue record
                                             Gbk("房间(01)发卡成功"),
                                             Gbk("完成一次操作"),
                                             Gbk("收到消息: \r\n" + kReadCard),
                                             Gbk("执行操作->"),
                                             Gbk("读卡成功，卡号为：1001"),
                                             Gbk("完成一次操作")};
  EXPECT_EQ(RequestEntries(), expected);
}

TEST_F(DoorlockE2e, InitDbIsIdempotentAndKeepsRows) {
  const std::string db = home_.File("Client.db");
  std::string out, err;
  const std::vector<std::string> initDb = {BinPath("velio-interfaced"), "--home", home_.Path(),
                                           "--init-db"};
  ASSERT_EQ(RunProgram(initDb, out, err), 0) << err;
  EXPECT_EQ(out, db + "\n");
  EXPECT_EQ(err, "");
  {
    TSqlDb sql(db);
    sql.Exec("insert into T_Room values('000101', 40000.25)");
    sql.Exec(
        "insert into T_IssueCardRecord values('R', '5', '000101', 1, 1.5, 2.5, 3.5, 0, 'G', 4.5)");
  }
  ASSERT_EQ(RunProgram(initDb, out, err), 0) << err;
  {
    TSqlDb sql(db);
    EXPECT_EQ(sql.Rows("select * from T_Room").size(), 1u);
    EXPECT_EQ(sql.Rows("select * from T_IssueCardRecord").size(), 1u);
    // A missing table is made again; the other keeps its rows.
    sql.Exec("drop table T_IssueCardRecord");
  }
  ASSERT_EQ(RunProgram(initDb, out, err), 0) << err;
  {
    TSqlDb sql(db);
    std::vector<TSqlRow> rooms = sql.Rows("select RoomNo, LastCheckInTime from T_Room");
    ASSERT_EQ(rooms.size(), 1u);
    EXPECT_DOUBLE_EQ(rooms[0][1].real, 40000.25);
    EXPECT_EQ(sql.Rows("select * from T_IssueCardRecord").size(), 0u);
  }
  // The server then stores into the database so made.
  WriteOptions("SaveDoorlockRecord=1\r\n");
  auto daemon = Start();
  EXPECT_EQ(Ask(TIssueCard().Xml()), DoorReply("200", "发卡成功", "1000"));
  EXPECT_EQ(Records().size(), 1u);

  // A file that is no database is refused, not replaced.
  TTempHome other;
  other.Write("Client.db", std::string(4096, 'x'));
  EXPECT_EQ(
      RunProgram({BinPath("velio-interfaced"), "--home", other.Path(), "--init-db"}, out, err), 1);
  EXPECT_EQ(err, other.File("Client.db") + ": file is not a database\n");
  EXPECT_EQ(other.Read("Client.db"), std::string(4096, 'x'));

  // An ODBC source is shown without its password, also where the driver
  // manager's message repeats it (here in the driver's name).
  EXPECT_EQ(RunProgram({BinPath("velio-interfaced"), "--home", other.Path(), "--init-db", "--store",
                        "Driver=VelioNoSuch-pw7;UID=u;PWD=VelioNoSuch-pw7"},
                       out, err),
            1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.find("VelioNoSuch-pw7"), std::string::npos) << err;
  EXPECT_EQ(err.rfind("Driver=***;UID=u;PWD=***: ", 0), 0u) << err;
}

// Door-lock servers sharing one store on a database server the test starts.
class DoorlockSharedStoreE2e : public ::testing::TestWithParam<velio_test::TDbEngine> {
 protected:
  void SetUp() override {
    ASSERT_EQ(db_.Error(), "");
    std::string out, err;
    const std::vector<std::string> initDb = {BinPath("velio-interfaced"),
                                             "--home",
                                             homes_[0].Path(),
                                             "--init-db",
                                             "--store",
                                             db_.Connection()};
    ASSERT_EQ(RunProgram(initDb, out, err), 0) << err;
    EXPECT_EQ(out, ConnectionStringWithoutSecrets(db_.Connection()) +
                       ": created T_Room, T_IssueCardRecord\n");
    // Run again: nothing to do, and it says so.
    ASSERT_EQ(RunProgram(initDb, out, err), 0) << err;
    EXPECT_EQ(out, ConnectionStringWithoutSecrets(db_.Connection()) +
                       ": T_Room and T_IssueCardRecord exist already; nothing changed\n");
  }

  // Server i on its own home and port, storing into the shared store.
  std::unique_ptr<TDaemon> Start(size_t i) {
    ports_[i] = FreePort();
    homes_[i].Write("Option.ini", "[SysOption]\r\nDoorlockPortNo=" + std::to_string(ports_[i]) +
                                      "\r\n\r\n[DoorlockOption]\r\nUseNativeDoorlockDb=1\r\n"
                                      "SaveDoorlockRecord=1\r\n");
    TSpawnOptions options;
    options.args = {"--store", db_.Connection()};
    auto daemon = std::make_unique<TDaemon>(homes_[i].Path(), "doorlock", ports_[i], options);
    EXPECT_TRUE(daemon->WaitListening()) << daemon->Stderr();
    return daemon;
  }

  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    return velio_test::OdbcRows(db_.Connection(), sql);
  }

  velio_test::TDbServer db_{GetParam()};
  TTempHome homes_[4];
  int ports_[4] = {};
};

std::string EngineName(const ::testing::TestParamInfo<velio_test::TDbEngine>& info) {
  return info.param == velio_test::TDbEngine::PostgreSql ? "PostgreSql" : "MariaDb";
}

TEST_P(DoorlockSharedStoreE2e, CopyCardsAtOnceOnFourServersStoreEachNewRoomOnce) {
  std::vector<std::unique_ptr<TDaemon>> servers;
  for (size_t i = 0; i < 4; ++i) servers.push_back(Start(i));
  // Every client sends a copy card for each new room in the same order, so
  // that the servers meet on every room at the same moment.
  const int kRooms = 12, kClientsPerServer = 3;
  std::atomic<int> ready{0}, wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 4 * kClientsPerServer; ++c) {
    clients.emplace_back([&, c] {
      ++ready;
      while (ready < 4 * kClientsPerServer) std::this_thread::yield();
      for (int room = 0; room < kRooms; ++room) {
        TIssueCard copy;
        copy.copy = "1";
        copy.room = std::to_string(10 + room);
        copy.registerId = "C" + std::to_string(c) + "-" + std::to_string(room);
        TReply r = Send(ports_[c % 4], copy.Xml());
        if (r.text.find("<ResultCode>200</ResultCode>") == std::string::npos) ++wrong;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(wrong, 0);
  for (auto& server : servers) EXPECT_EQ(server->Stop(), 0);

  // One row per room; every card of a room started at the room's one time;
  // a record for every request.
  auto rooms = Query("select RoomNo, count(*) from T_Room group by RoomNo order by RoomNo");
  ASSERT_EQ(rooms.size(), static_cast<size_t>(kRooms));
  for (const auto& room : rooms) EXPECT_EQ(room[1], "1") << room[0];
  EXPECT_EQ(
      Query("select count(*) from T_IssueCardRecord"),
      (std::vector<std::vector<std::string>>{{std::to_string(4 * kClientsPerServer * kRooms)}}));
  EXPECT_EQ(
      Query("select count(*) from T_IssueCardRecord r, T_Room t where r.RoomNo = t.RoomNo "
            "and r.LastCheckInTime = t.LastCheckInTime"),
      (std::vector<std::vector<std::string>>{{std::to_string(4 * kClientsPerServer * kRooms)}}));
  EXPECT_EQ(
      Query("select count(distinct RegisterId) from T_IssueCardRecord"),
      (std::vector<std::vector<std::string>>{{std::to_string(4 * kClientsPerServer * kRooms)}}));
  // Each room was announced as new by exactly one server.
  int newRooms = 0;
  for (const TTempHome& home : homes_)
    for (const std::string& entry : LogEntries(TodayLog(home)))
      if (entry.rfind(Gbk("新建房间"), 0) == 0) ++newRooms;
  EXPECT_EQ(newRooms, kRooms);
}

TEST_P(DoorlockSharedStoreE2e, AnOutageIsLoggedRepliesStayAndTheNextIssueIsStored) {
  auto server = Start(0);
  TIssueCard issue;
  TIssueCard copy;
  copy.copy = "1";
  copy.room = "02";
  EXPECT_EQ(Send(ports_[0], issue.Xml()).text, DoorReply("200", "发卡成功", "1000"));
  db_.Stop();
  // The database is gone: the replies are as ever, the failures are logged.
  EXPECT_EQ(Send(ports_[0], issue.Xml()).text, DoorReply("200", "发卡成功", "1001"));
  EXPECT_EQ(Send(ports_[0], copy.Xml()).text, DoorReply("200", "发卡成功", "1002"));
  ASSERT_TRUE(db_.Start()) << db_.Error();
  // Back: the next issue is stored without a restart.
  issue.registerId = "R2";
  EXPECT_EQ(Send(ports_[0], issue.Xml()).text, DoorReply("200", "发卡成功", "1003"));
  EXPECT_EQ(Query("select RegisterId, RoomNo from T_IssueCardRecord order by OpratingTime"),
            (std::vector<std::vector<std::string>>{{"R1", "000101"}, {"R2", "000101"}}));
  EXPECT_EQ(server->Stop(), 0);
  // Between the two stored issues: the requests of the outage, each with
  // the driver's errors (the room's time, and the record) among its entries.
  std::vector<std::string> errors;
  for (const std::string& entry : LogEntries(TodayLog(homes_[0])))
    if (entry.rfind(Gbk("收到消息"), 0) != 0 && entry != Gbk("执行操作->") &&
        entry != Gbk("完成一次操作") && entry.rfind(Gbk("房间("), 0) != 0 &&
        entry.rfind(Gbk("新建房间"), 0) != 0)
      errors.push_back(entry);
  EXPECT_GE(errors.size(), 4u);
  for (const std::string& error : errors) EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, DoorlockSharedStoreE2e,
                         ::testing::Values(velio_test::TDbEngine::PostgreSql,
                                           velio_test::TDbEngine::MariaDb),
                         EngineName);

}  // namespace
