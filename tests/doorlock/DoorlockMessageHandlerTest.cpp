// The door-lock request handler with a fake encoder, a fake connection and a
// real record store in a temporary folder; its table of outcomes also against
// the store through ODBC: the SQLite driver, PostgreSQL and MariaDB.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>

#include "doorlock/DoorlockIssueUnit.h"
#include "doorlock/DoorlockMessageHandlerUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "platform/ErrorsUnit.h"
#include "server/Utf8Unit.h"
#include "server/VerboseUnit.h"
#include "server/XmlUnit.h"
#include "services/InterfaceModeUnit.h"
#include "services/LogFileUnit.h"
#include "services/SysOptionUnit.h"
#include "tests/doorlock/DoorlockTestSupport.h"
#include "tests/support/DbServerSupport.h"
#include "tests/support/FakeConnectionSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/ReplySupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using doorlock_test::TFakeDoorlock;
using doorlock_test::TSql;
using velio_test::DoorReply;
using velio_test::Framed;
using velio_test::LogEntries;
using velio_test::TFakeConnection;
using velio_test::TTempDir;
using Entries = std::vector<AnsiString>;

const char kStamp[] = "yyyy-mm-dd hh:nn:ss";

TDateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
  TDateTimeParts p;
  p.Year = y;
  p.Month = mo;
  p.Day = d;
  p.Hour = h;
  p.Minute = mi;
  p.Second = s;
  return EncodeDateTime(p);
}

std::string Text(TDateTime t) {
  return FormatDateTime(kStamp, t);
}

// The values of an "IssueCard" request, positions 1 to 10 (UTF-8).
struct TIssueValues {
  std::string RegisterId = "REG-1";
  std::string Building = "00";
  std::string Floor = "01";
  std::string Room = "01";
  std::string Guest = "张三";
  std::string InDate = "2009-06-01";
  std::string InTime = "14:00:00";
  std::string OutDate = "2009-06-03";
  std::string OutTime = "12:00:00";
  std::string Copy = "0";
};

std::string IssueXml(const TIssueValues& v, const std::string& typeAttr = "type=\"IssueCard\"") {
  return "<DoorRequest " + typeAttr + ">\r\n  <RequestID>77</RequestID>\r\n  <RegisterId>" +
         v.RegisterId + "</RegisterId><BuildingCode>" + v.Building + "</BuildingCode><FloorCode>" +
         v.Floor + "</FloorCode><RoomNo>" + v.Room + "</RoomNo><GuestName>" + v.Guest +
         "</GuestName><CheckInDate>" + v.InDate + "</CheckInDate><CheckInTime>" + v.InTime +
         "</CheckInTime><CheckOutDate>" + v.OutDate + "</CheckOutDate><CheckOutTime>" + v.OutTime +
         "</CheckOutTime><IsCopy>" + v.Copy + "</IsCopy>\r\n</DoorRequest>";
}

class DoorlockHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OperationLog = &log_;
    SystemOptions = &options_;
    std::string error;
    ASSERT_TRUE(CreateDoorlockDatabase(dir_.File("Client.db"), error)) << error;
    ASSERT_TRUE(store_.Open());
    DoorlockRecordManager = &store_;
    device_ = doorlock_test::InstallFakeDoorlock();
  }
  void TearDown() override {
    InstallDoorlockDevice(nullptr);
    DoorlockRecordManager = nullptr;
    SystemOptions = nullptr;
    OperationLog = nullptr;
  }

  // Handles a UTF-8 request; answers the bytes written to the connection.
  std::string Handle(const std::string& utf8) {
    TFakeConnection connection;
    TDoorlockMessageHandler handler(nullptr);
    handler.HandleMessage(connection, DecodeUtf8(utf8));
    return connection.data;
  }
  // Handles a request that must fail; answers what was written anyway.
  template <typename E>
  std::string HandleFailing(const std::string& utf8) {
    TFakeConnection connection;
    TDoorlockMessageHandler handler(nullptr);
    EXPECT_THROW(handler.HandleMessage(connection, DecodeUtf8(utf8)), E);
    return connection.data;
  }

  Entries Log() { return LogEntries(log_.FileName()); }
  static AnsiString Received(const std::string& utf8) {
    return Lit("收到消息: ") + "\r\n" + Utf8ToAnsi(utf8);
  }

  TTempDir dir_;
  TLogFile log_{dir_.File("test.LOG")};
  TSysOption options_{dir_.File("Option.ini")};
  TDoorlockRecordManager store_{dir_.File("Client.db")};
  TFakeDoorlock* device_ = nullptr;
  TSql sql_{dir_.File("Client.db")};
};

struct TOutcomeCase {
  const char* type;
  bool copy;  // IssueCard: a copy card
  bool result;
  int64_t deviceCardNo;
  const char* code;
  const char* message;
  const char* replyCardNo;
  const char* logEntry;
  bool newRoom;  // the store logs the room as new
};

// The stores the handler's cases run against: the native engine on Client.db,
// the SQLite ODBC driver on a Client.db, PostgreSQL and MariaDB servers.
enum class TSource { Native, SqliteOdbc, PostgreSql, MariaDb };

class DoorlockHandlerStoreTest : public DoorlockHandlerTest,
                                 public ::testing::WithParamInterface<TSource> {
 protected:
  void SetUp() override {
    DoorlockHandlerTest::SetUp();
    if (GetParam() == TSource::Native) return;
    std::string connection = "Driver=SQLite3;Database=" + dir_.File("Odbc.db") + ";";
    if (GetParam() != TSource::SqliteOdbc) {
      server_ = std::make_unique<velio_test::TDbServer>(GetParam() == TSource::PostgreSql
                                                            ? velio_test::TDbEngine::PostgreSql
                                                            : velio_test::TDbEngine::MariaDb);
      ASSERT_EQ(server_->Error(), "");
      connection = server_->Connection();
    }
    connection_ = connection;
    std::string error;
    ASSERT_TRUE(CreateDoorlockTables(connection_, error)) << error;
    odbcStore_ = std::make_unique<TDoorlockRecordManager>(connection_, TStoreEngine::Odbc);
    ASSERT_TRUE(odbcStore_->Open());
    DoorlockRecordManager = odbcStore_.get();
  }

  // Every row of a query on the store under test, each column as text.
  std::vector<std::vector<std::string>> StoredRows(const std::string& sql) {
    return connection_.empty() ? sql_.Rows(sql) : velio_test::OdbcRows(connection_, sql);
  }
  // A stored date-time as the store gives it back.
  static TDateTime Stored(const std::string& text) {
    TDateTime value = -1;
    EXPECT_TRUE(ParseStoredDateTime(text, value)) << text;
    return value;
  }

  std::string connection_;
  std::unique_ptr<velio_test::TDbServer> server_;
  std::unique_ptr<TDoorlockRecordManager> odbcStore_;
};

TEST_P(DoorlockHandlerStoreTest, EveryOutcomeGivesItsReplyLogEntriesAndStoredRows) {
  options_.UseNativeDoorlockDb = true;
  options_.SaveDoorlockRecord = true;
  options_.DelayMinutes = 10;
  options_.DelayMinutes2 = 30;
  const TOutcomeCase cases[] = {
      // A copy for a room not stored yet stores now first.
      {"IssueCard", true, true, 4710, "200", "发卡成功", "4710", "房间(01)发卡成功", true},
      {"IssueCard", false, true, 4711, "200", "发卡成功", "4711", "房间(01)发卡成功", false},
      {"IssueCard", false, false, 0, "500", "发卡失败", "0", "房间(01)发卡失败", false},
      {"IssueCard", false, false, 65, "500", "发卡失败", "65", "房间(01)发卡失败", false},
      {"IssueCard", true, false, 0, "500", "发卡失败", "0", "房间(01)发卡失败", false},
      {"IssueCard", true, true, 4712, "200", "发卡成功", "4712", "房间(01)发卡成功", false},
      {"ReadCard", false, true, -123456789012, "200", "读卡成功", "-123456789012",
       "读卡成功，卡号为：-123456789012", false},
      {"ReadCard", false, false, 99, "500", "读卡失败", "0", "读卡失败", false},
      {"EraseCard", false, true, 0, "200", "注销卡成功 ", "0", "注销卡成功", false},
      {"EraseCard", false, false, 0, "500", "注销卡失败 ", "0", "注销卡失败", false},
  };
  // What each issue should leave: its record's values, and the room's time.
  std::vector<std::vector<std::string>> records;
  std::vector<TDateTime> starts;
  TDateTime roomTime = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TOutcomeCase& c = cases[i];
    SCOPED_TRACE(std::string(c.type) + " " + std::to_string(i));
    std::remove(log_.FileName().c_str());
    device_->result = c.result;
    device_->cardNo = c.deviceCardNo;
    TIssueValues v;
    v.RegisterId = "REG-" + std::to_string(i);
    v.Copy = c.copy ? "1" : "0";
    const bool issue = std::string(c.type) == "IssueCard";
    const std::string request =
        issue ? IssueXml(v) : "<DoorRequest type=\"" + std::string(c.type) + "\"/>";
    EXPECT_EQ(Handle(request), Framed(DoorReply(c.code, c.message, c.replyCardNo)));
    Entries expected{Received(request), Lit("执行操作->")};
    if (c.newRoom) expected.push_back(Lit("新建房间000101"));
    expected.push_back(Lit(c.logEntry));
    expected.push_back(Lit("完成一次操作"));
    EXPECT_EQ(Log(), expected);
    if (!issue) continue;
    const TDateTime start = device_->issues.back().StartTime;
    // A new room and a good new card set the room's time; copies reuse it.
    if (c.newRoom || (!c.copy && c.result)) roomTime = start;
    if (c.copy) {
      EXPECT_EQ(start, roomTime);
    }
    records.push_back({v.RegisterId, c.replyCardNo, "000101", "1", c.copy ? "1" : "0", "张三"});
    starts.push_back(start);
  }
  EXPECT_EQ(device_->issues.size(), 6u);
  EXPECT_EQ(device_->reads, 2);
  EXPECT_EQ(device_->erases, 2);

  auto rows = StoredRows(
      "select RegisterId, CardNo, RoomNo, CardType, IsCopy, GuestName, LastCheckInTime, "
      "CheckInTime, CheckOutTime from T_IssueCardRecord order by RegisterId");
  ASSERT_EQ(rows.size(), records.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(records[i][0]);
    EXPECT_EQ(std::vector<std::string>(rows[i].begin(), rows[i].begin() + 6), records[i]);
    EXPECT_NEAR(Stored(rows[i][6]), starts[i], 0.5 / 86400000.0);
    EXPECT_EQ(Text(Stored(rows[i][7])), "2009-06-01 13:50:00");
    EXPECT_EQ(Text(Stored(rows[i][8])), "2009-06-03 12:30:00");
  }
  auto rooms = StoredRows("select RoomNo, LastCheckInTime from T_Room");
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0][0], "000101");
  EXPECT_NEAR(Stored(rooms[0][1]), roomTime, 0.5 / 86400000.0);
}

std::string SourceName(const ::testing::TestParamInfo<TSource>& info) {
  const char* names[] = {"Native", "SqliteOdbc", "PostgreSql", "MariaDb"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Stores, DoorlockHandlerStoreTest,
                         ::testing::Values(TSource::Native, TSource::SqliteOdbc,
                                           TSource::PostgreSql, TSource::MariaDb),
                         SourceName);

TEST_F(DoorlockHandlerTest, WithoutADeviceEveryOperationFails) {
  InstallDoorlockDevice(nullptr);
  EXPECT_EQ(Handle("<R type='ReadCard'/>"), Framed(DoorReply("500", "读卡失败", "0")));
  EXPECT_EQ(Handle("<R type='EraseCard'/>"), Framed(DoorReply("500", "注销卡失败 ", "0")));
  EXPECT_EQ(Handle(IssueXml({})), Framed(DoorReply("500", "发卡失败", "0")));
}

TEST_F(DoorlockHandlerTest, TypeIsTrimmedMatchedExactlyAndFoundInAnyLetterCase) {
  device_->cardNo = 5;
  EXPECT_EQ(Handle(IssueXml({}, "type=\" \tIssueCard \r\n\"")),
            Framed(DoorReply("200", "发卡成功", "5")));
  EXPECT_EQ(Handle(IssueXml({}, "TYPE=\"IssueCard\"")), Framed(DoorReply("200", "发卡成功", "5")));
  EXPECT_EQ(Handle("<R Type='ReadCard'><A/><B/></R>"), Framed(DoorReply("200", "读卡成功", "5")));
  EXPECT_EQ(device_->issues.size(), 2u);
  for (const std::string& request :
       {IssueXml({}, "type=\"issuecard\""), IssueXml({}, "kind='x'"), std::string("<R type=''/>"),
        std::string("<R type='Beep'/>")}) {
    SCOPED_TRACE(request);
    std::remove(log_.FileName().c_str());
    EXPECT_EQ(Handle(request), "");
    EXPECT_EQ(Log(), (Entries{Received(request), Lit("执行操作->"), Lit("完成一次操作")}));
  }
  EXPECT_EQ(device_->issues.size(), 2u);
}

TEST_F(DoorlockHandlerTest, MalformedRequestsEndWithoutReplyOrStoreAccess) {
  options_.SaveDoorlockRecord = true;
  options_.UseNativeDoorlockDb = true;
  TIssueValues badDate;
  badDate.InDate = "2009-13-01";
  TIssueValues badTime;
  badTime.OutTime = "12h00";
  std::string tenChildren = IssueXml({});
  tenChildren.erase(tenChildren.find("<IsCopy>"), std::string("<IsCopy>0</IsCopy>").size());

  struct TCase {
    std::string request;
    bool parseError;
  } cases[] = {
      {"not xml at all", true},   {"", true},           {IssueXml(badDate), false},
      {IssueXml(badTime), false}, {tenChildren, false}, {"<R type='IssueCard'/>", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.request);
    std::remove(log_.FileName().c_str());
    std::string written = c.parseError ? HandleFailing<XmlParseError>(c.request)
                                       : HandleFailing<std::exception>(c.request);
    EXPECT_EQ(written, "");
    Entries expected{Received(c.request)};
    if (!c.parseError) expected.push_back(Lit("执行操作->"));
    EXPECT_EQ(Log(), expected);
  }
  EXPECT_TRUE(device_->issues.empty());
  EXPECT_EQ(sql_.Count("T_Room"), 0);
  EXPECT_EQ(sql_.Count("T_IssueCardRecord"), 0);
}

TEST_F(DoorlockHandlerTest, BadDateRaisesTheConversionError) {
  TIssueValues v;
  v.InTime = "25:00:00";
  TFakeConnection connection;
  TDoorlockMessageHandler handler(nullptr);
  try {
    handler.HandleMessage(connection, DecodeUtf8(IssueXml(v)));
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'2009-06-01 25:00:00' is not a valid date and time");
  }
}

TEST_F(DoorlockHandlerTest, DeviceErrorEndsTheRequestBeforeAnythingIsStored) {
  options_.SaveDoorlockRecord = true;
  options_.UseNativeDoorlockDb = true;
  device_->throwError = true;
  EXPECT_EQ(HandleFailing<std::runtime_error>(IssueXml({})), "");
  EXPECT_EQ(HandleFailing<std::runtime_error>("<R type='ReadCard'/>"), "");
  EXPECT_EQ(sql_.Count("T_IssueCardRecord"), 0);
  EXPECT_EQ(sql_.Count("T_Room"), 0);
}

TEST_F(DoorlockHandlerTest, DeviceGetsTheValuesInOrderWithTheDelayShifts) {
  options_.DelayMinutes = 10;
  options_.DelayMinutes2 = 30;
  TIssueValues v;
  v.RegisterId = "R&amp;1";
  v.Building = "B";
  v.Floor = " 2";
  v.Room = "303";
  v.Copy = "1";
  Handle(IssueXml(v));
  ASSERT_EQ(device_->issues.size(), 1u);
  const doorlock_test::TIssueCall& call = device_->issues[0];
  EXPECT_EQ(call.RegisterId, "R&1");
  EXPECT_EQ(call.BuildingCode, "B");
  EXPECT_EQ(call.FloorCode, " 2");
  EXPECT_EQ(call.RoomNo, "303");
  EXPECT_EQ(call.GuestName, Lit("张三"));
  EXPECT_EQ(Text(call.StartTime), "2009-06-01 13:50:00");
  EXPECT_EQ(call.StartTime2, call.StartTime);
  EXPECT_EQ(Text(call.EndTime), "2009-06-03 12:30:00");
  EXPECT_EQ(call.EndTime2, call.EndTime);
  EXPECT_TRUE(call.IsCopy);
  EXPECT_EQ(call.CardNoIn, 0);

  options_.DelayMinutes = -5;
  options_.DelayMinutes2 = -60;
  v.InDate = "2009-6-1";
  v.InTime = "9:05";
  Handle(IssueXml(v));
  ASSERT_EQ(device_->issues.size(), 2u);
  EXPECT_EQ(Text(device_->issues[1].StartTime), "2009-06-01 09:10:00");
  EXPECT_EQ(Text(device_->issues[1].EndTime), "2009-06-03 11:00:00");

  // Two-digit years are this century's (within fifty years of today), not year 9.
  v.InDate = "09-06-01";
  v.OutDate = "09-06-03";
  Handle(IssueXml(v));
  ASSERT_EQ(device_->issues.size(), 3u);
  EXPECT_EQ(Text(device_->issues[2].StartTime), "2009-06-01 09:10:00");
  EXPECT_EQ(Text(device_->issues[2].EndTime), "2009-06-03 11:00:00");
}

TEST_F(DoorlockHandlerTest, CopyFlagTexts) {
  struct {
    const char* text;
    bool copy;
  } cases[] = {{"1", true},    {"-2", true},     {"True", true},   {"true", true}, {"TRUE", true},
               {" 3 ", true},  {"0.5", true},    {"1e3", true},    {"0", false},   {"-0", false},
               {"0.0", false}, {"False", false}, {"false", false}, {"", false},    {"yes", false},
               {"1x", false},  {"$1", false},    {" True", false}, {".", false},   {"e1", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(DoorlockCopyFlag(c.text), c.copy) << "'" << c.text << "'";
  }
  TIssueValues v;
  v.Copy = "-2";
  Handle(IssueXml(v));
  v.Copy = "nope";
  Handle(IssueXml(v));
  ASSERT_EQ(device_->issues.size(), 2u);
  EXPECT_TRUE(device_->issues[0].IsCopy);
  EXPECT_FALSE(device_->issues[1].IsCopy);
}

TEST_F(DoorlockHandlerTest, IssueRecordHoldsTheShiftedTimesAndTheCardNumber) {
  options_.SaveDoorlockRecord = true;
  options_.DelayMinutes = 10;
  options_.DelayMinutes2 = 30;
  device_->cardNo = 123456789012;
  const TDateTime before = Now();
  Handle(IssueXml({}));
  const TDateTime after = Now();
  auto rows = sql_.Rows(
      "select RegisterId, CardNo, RoomNo, CardType, IsCopy, GuestName from T_IssueCardRecord");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"REG-1", "123456789012", "000101", "1", "0", "张三"}));
  EXPECT_EQ(Text(sql_.Real("select LastCheckInTime from T_IssueCardRecord")),
            "2009-06-01 13:50:00");
  EXPECT_EQ(Text(sql_.Real("select CheckInTime from T_IssueCardRecord")), "2009-06-01 13:50:00");
  EXPECT_EQ(Text(sql_.Real("select CheckOutTime from T_IssueCardRecord")), "2009-06-03 12:30:00");
  const double operating = sql_.Real("select OpratingTime from T_IssueCardRecord");
  EXPECT_GE(operating, before);
  EXPECT_LE(operating, after);
  EXPECT_EQ(sql_.Count("T_Room"), 0);  // the native room store is off
}

TEST_F(DoorlockHandlerTest, WithoutADeviceTheIssueRecordIsStillWritten) {
  InstallDoorlockDevice(nullptr);
  options_.SaveDoorlockRecord = true;
  options_.UseNativeDoorlockDb = true;
  TIssueValues v;
  v.Copy = "1";
  EXPECT_EQ(Handle(IssueXml(v)), Framed(DoorReply("500", "发卡失败", "0")));
  auto rows = sql_.Rows("select CardNo, RoomNo, IsCopy from T_IssueCardRecord");
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"0", "000101", "1"}}));
  EXPECT_EQ(sql_.Count("T_Room"), 1);  // the copy's room time was stored first
}

TEST_F(DoorlockHandlerTest, VerboseSaysWhenTheRecordCouldNotBeStoredAndTheReplyStays) {
  std::vector<std::string> lines;
  SetVerboseSink([&lines](const std::string& line) { lines.push_back(line); });
  options_.SaveDoorlockRecord = true;
  options_.UseNativeDoorlockDb = true;
  device_->cardNo = 1;
  // Stored: nothing said.
  EXPECT_EQ(Handle(IssueXml({})), Framed(DoorReply("200", "发卡成功", "1")));
  EXPECT_TRUE(lines.empty());
  // Not stored: the same reply, one line with what failed and why.
  sql_.Exec("drop table T_IssueCardRecord");
  EXPECT_EQ(Handle(IssueXml({})), Framed(DoorReply("200", "发卡成功", "1")));
  sql_.Exec("drop table T_Room");
  TIssueValues copy;
  copy.Copy = "1";
  EXPECT_EQ(Handle(IssueXml(copy)), Framed(DoorReply("200", "发卡成功", "1")));
  // A failure outside a request (the test window's) is not carried into the next.
  store_.InsertRoom("9", 1);
  sql_.Exec(
      "create table T_IssueCardRecord (RegisterId TEXT, CardNo TEXT, RoomNo TEXT, CardType "
      "INTEGER, LastCheckInTime REAL, CheckInTime REAL, CheckOutTime REAL, IsCopy INTEGER, "
      "GuestName TEXT, OpratingTime REAL)");
  sql_.Exec("create table T_Room (RoomNo TEXT, LastCheckInTime REAL)");
  Handle(IssueXml({}));
  SetVerboseSink(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "IssueCard: the record could not be stored: storing the issue record: "
                       "no such table: T_IssueCardRecord",
                       "IssueCard: the record could not be stored: reading the room's time: no "
                       "such table: T_Room; storing the room: no such table: T_Room; storing the "
                       "issue record: no such table: T_IssueCardRecord"}));
}

TEST_F(DoorlockHandlerTest, NativeStoreKeepsTheRoomTimeOfNewCards) {
  options_.UseNativeDoorlockDb = true;
  options_.DelayMinutes = 15;
  device_->result = false;
  Handle(IssueXml({}));
  EXPECT_EQ(sql_.Count("T_Room"), 0);  // a failed issue leaves T_Room as it was

  device_->result = true;
  const TDateTime before = Now();
  Handle(IssueXml({}));
  const TDateTime after = Now();
  ASSERT_EQ(device_->issues.size(), 2u);
  const TDateTime start = device_->issues[1].StartTime;
  EXPECT_GE(start, RoundToMillisecond(IncMinutes(before, -15)));
  EXPECT_LE(start, RoundToMillisecond(IncMinutes(after, -15)));
  EXPECT_EQ(sql_.Real("select LastCheckInTime from T_Room where RoomNo='000101'"), start);
  EXPECT_EQ(sql_.Count("T_Room"), 1);
  const Entries log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), Lit("新建房间") + "000101"), 1);

  // A second new card for the same room moves its time, still one row.
  Handle(IssueXml({}));
  EXPECT_EQ(sql_.Count("T_Room"), 1);
  EXPECT_EQ(sql_.Real("select LastCheckInTime from T_Room"), device_->issues[2].StartTime);
}

TEST_F(DoorlockHandlerTest, CopyOfAStoredRoomUsesItsTimeAndChangesNothing) {
  options_.UseNativeDoorlockDb = true;
  const TDateTime stored = At(2009, 5, 30, 12, 0);
  store_.InsertRoom("000101", stored);
  TIssueValues v;
  v.Copy = "True";
  Handle(IssueXml(v));
  ASSERT_EQ(device_->issues.size(), 1u);
  EXPECT_EQ(device_->issues[0].StartTime, stored);
  EXPECT_EQ(device_->issues[0].StartTime2, stored);
  EXPECT_EQ(sql_.Count("T_Room"), 1);
  EXPECT_EQ(sql_.Real("select LastCheckInTime from T_Room"), stored);
}

TEST_F(DoorlockHandlerTest, CopyOfAnUnknownRoomStoresNowBeforeTheDeviceRuns) {
  options_.UseNativeDoorlockDb = true;
  options_.DelayMinutes = 10;
  device_->result = false;
  TDateTime seenByDevice = -1;
  device_->onIssue = [&] { seenByDevice = store_.GetLastCheckInTime("000101"); };
  TIssueValues v;
  v.Copy = "1";
  const TDateTime before = Now();
  EXPECT_EQ(Handle(IssueXml(v)), Framed(DoorReply("500", "发卡失败", "0")));
  const TDateTime after = Now();
  ASSERT_EQ(device_->issues.size(), 1u);
  const TDateTime start = device_->issues[0].StartTime;
  EXPECT_EQ(seenByDevice, start);
  EXPECT_GE(start, RoundToMillisecond(IncMinutes(before, -10)));
  EXPECT_LE(start, RoundToMillisecond(IncMinutes(after, -10)));
  EXPECT_EQ(sql_.Count("T_Room"), 1);
  const Entries log = Log();
  EXPECT_NE(std::find(log.begin(), log.end(), Lit("新建房间") + "000101"), log.end());
}

TEST_F(DoorlockHandlerTest, RoomKeysJoinWithoutSeparators) {
  options_.UseNativeDoorlockDb = true;
  TIssueValues a;
  a.Building = "0";
  a.Floor = "001";
  Handle(IssueXml(a));
  Handle(IssueXml({}));
  EXPECT_EQ(sql_.Rows("select RoomNo from T_Room"),
            (std::vector<std::vector<std::string>>{{"000101"}}));
}

TEST_F(DoorlockHandlerTest, ReplyWriteFailureIsIgnored) {
  TFakeConnection connection;
  connection.fail = true;
  TDoorlockMessageHandler handler(nullptr);
  EXPECT_NO_THROW(handler.HandleMessage(connection, u"<R type='EraseCard'/>"));
  EXPECT_EQ(connection.writes, 1);
  EXPECT_EQ(Log().back(), Lit("完成一次操作"));
}

TEST_F(DoorlockHandlerTest, ReplyTextIsPlainConcatenation) {
  doorlock::TResponse response;
  response.RequestID = "a<b";
  response.ResultCode = "200";
  response.ResultMessage = "x&y";
  response.CardNo = INT64_MIN;
  EXPECT_EQ(TDoorlockMessageHandler::BuildResponseText(response),
            "<DoorResponse><RequestID>a<b</RequestID><ResultCode>200</ResultCode>"
            "<ResultMessage>x&y</ResultMessage><CardNo>-9223372036854775808</CardNo>"
            "</DoorResponse>");
  EXPECT_EQ(TDoorlockMessageHandler::BuildResponseText(doorlock::TResponse()),
            "<DoorResponse><RequestID></RequestID><ResultCode></ResultCode><ResultMessage>"
            "</ResultMessage><CardNo>0</CardNo></DoorResponse>");
}

TEST_F(DoorlockHandlerTest, RegisteredForTheDoorlockMode) {
  RegisterDoorlockMode();
  TMemo* memo = reinterpret_cast<TMemo*>(0x1234);
  std::unique_ptr<TMessageHandler> handler = CreateMessageHandler(kModeDoorlock, memo);
  auto* doorlockHandler = dynamic_cast<TDoorlockMessageHandler*>(handler.get());
  ASSERT_NE(doorlockHandler, nullptr);
  EXPECT_EQ(doorlockHandler->Memo(), memo);
}

}  // namespace
