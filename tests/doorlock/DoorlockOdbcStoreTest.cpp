// The record store's ODBC engine against the SQLite ODBC driver: on Linux
// through unixODBC, in the Windows build under Wine through Wine's ODBC, which
// hands the calls to the same host driver. The same statements as the SQLite
// engine, the Access DDL of --init-db, texts in code page 936 both ways. On
// Linux the same cases run against PostgreSQL and MariaDB servers the tests
// start, each with its own table definitions, and the store's outage.
#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "doorlock/DoorlockRecordManagerUnit.h"
#include "doorlock/OdbcStoreUnit.h"
#include "doorlock/RecordStoreFactoryUnit.h"
#include "services/LogFileUnit.h"
#include "tests/support/DbServerSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using velio_test::LogEntries;
using velio_test::TTempDir;

// The driver's name in odbcinst.ini; VELIO_TEST_ODBC_DRIVER overrides it.
std::string DriverName() {
  const char* env = std::getenv("VELIO_TEST_ODBC_DRIVER");
  return env && *env ? env : "SQLite3";
}

// The path of a file as the host's driver sees it: under Wine the Windows path
// is turned into the Linux one (Wine's own kernel32 export does it).
std::string HostPath(const std::string& path) {
#ifdef _WIN32
  using TUnixName = char*(__stdcall*)(const wchar_t*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto unixName = reinterpret_cast<TUnixName>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (!unixName) return path;  // a real Windows with a Windows driver
  std::wstring wide = std::filesystem::u8path(path).wstring();
  char* name = unixName(wide.c_str());
  if (!name) return path;
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
#else
  return path;
#endif
}

TEST(OdbcMarkersTest, NamedMarkersBecomePositionalInOrder) {
  struct TCase {
    std::string sql, expected;
    std::vector<std::string> names;
  } cases[] = {
      {"select LastCheckInTime from T_Room where RoomNo=:RoomNo",
       "select LastCheckInTime from T_Room where RoomNo=?",
       {":RoomNo"}},
      {"update T_Room set LastCheckInTime=:LastCheckInTime where RoomNo=:RoomNo",
       "update T_Room set LastCheckInTime=? where RoomNo=?",
       {":LastCheckInTime", ":RoomNo"}},
      {"insert into T(a)\r\n Values(:A_1, :b)",
       "insert into T(a)\r\n Values(?, ?)",
       {":A_1", ":b"}},
      // Colons inside literals and a colon not followed by a name stay.
      {"select ':x', \":y\" from T where a=:a and t='1:2'",
       "select ':x', \":y\" from T where a=? and t='1:2'",
       {":a"}},
      {"select 1 :: 2", "select 1 :: 2", {}},
  };
  for (const TCase& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(ToPositionalMarkers(c.sql, names), c.expected) << c.sql;
    EXPECT_EQ(names, c.names) << c.sql;
  }
}

TEST(OdbcSecretsTest, PasswordValuesAreHiddenAndEverythingElseKept) {
  struct TCase {
    std::string given, shown;
  } cases[] = {
      {"Driver={SQL Server};Server=db;UID=sa;PWD=s3cret;",
       "Driver={SQL Server};Server=db;UID=sa;PWD=***;"},
      {"DSN=rooms;password=x;Database=y", "DSN=rooms;password=***;Database=y"},
      // Keys in any case and with blanks; braced values with ';' and "}}" whole.
      {" PassWord =p;Pwd={a;b}}c};UID={u}", " PassWord =***;Pwd=***;UID={u}"},
      // Only the attribute's key counts: a braced value or a longer key is kept.
      {"Driver={x;PWD=inside};PWDX=keep;XPWD=keep;PWD=s",
       "Driver={x;PWD=inside};PWDX=keep;XPWD=keep;PWD=***"},
      // An unterminated brace hides the rest; an attribute without '=' stays.
      {"Trusted;PWD={open;UID=u", "Trusted;PWD=***"},
      {"DSN=plain", "DSN=plain"},
      {"", ""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ConnectionStringWithoutSecrets(c.given), c.shown) << c.given;
}

TEST(OdbcSecretsTest, PasswordsInADriversMessageAreHidden) {
  struct TCase {
    std::string text, connection, shown;
  } cases[] = {
      {"login failed for sa with s3cret", "Driver=x;UID=sa;PWD=s3cret",
       "login failed for sa with ***"},
      // The whole string echoed: every password, the braced one with and
      // without its braces.
      {"cannot use Pwd={a;b}}c};Password=xy (a;b}c)", "Pwd={a;b}}c};Password=xy",
       "cannot use Pwd=***;Password=*** (***)"},
      // No password, or an empty one: the text as it is.
      {"no such driver x", "Driver=x;UID=sa", "no such driver x"},
      {"no such driver x", "Driver=x;PWD=;UID=sa", "no such driver x"},
      {"", "PWD=s", ""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(TextWithoutSecrets(c.text, c.connection), c.shown) << c.text;
}

TEST(OdbcTimestampTest, FractionDigitsFollowWhatTheDriverReports) {
  struct TDigitsCase {
    int described, type, digits;
  } digitCases[] = {
      {-1, -1, 0},             // the driver cannot say: whole seconds
      {0, -1, 0},  {0, 3, 0},  // the parameter's own scale comes first
      {-1, 0, 0},  {-1, 3, 3}, {3, -1, 3}, {1, -1, 1},
      {-1, 2, 2},  {2, 6, 2},  {6, -1, 3}, {7, 9, 3},  // milliseconds at most
  };
  for (const TDigitsCase& c : digitCases)
    EXPECT_EQ(TimestampDigits(c.described, c.type), c.digits) << c.described << " " << c.type;
  struct TBindingCase {
    int digits, milliSecond, columnSize;
    unsigned fraction;
  } bindingCases[] = {
      {0, 999, 19, 0},         {0, 0, 19, 0},           {1, 999, 21, 900000000},
      {2, 123, 22, 120000000}, {3, 123, 23, 123000000}, {3, 0, 23, 0},
  };
  for (const TBindingCase& c : bindingCases) {
    const TTimestampBinding b = TimestampBinding(c.digits, c.milliSecond);
    EXPECT_EQ(b.ColumnSize, c.columnSize) << c.digits << " " << c.milliSecond;
    EXPECT_EQ(b.Fraction, c.fraction) << c.digits << " " << c.milliSecond;
  }
}

// The ODBC sources the store's cases run against: the SQLite ODBC driver on a
// file, and (Linux) PostgreSQL and MariaDB servers the test starts.
enum class TSource { SqliteOdbc, PostgreSql, MariaDb };

std::string SourceName(const ::testing::TestParamInfo<TSource>& info) {
  const char* names[] = {"SqliteOdbc", "PostgreSql", "MariaDb"};
  return names[static_cast<int>(info.param)];
}

class DoorlockOdbcStoreTest : public ::testing::TestWithParam<TSource> {
 protected:
  void SetUp() override {
    OperationLog = &log_;
#ifndef _WIN32
    if (GetParam() != TSource::SqliteOdbc) {
      server_ = std::make_unique<velio_test::TDbServer>(GetParam() == TSource::PostgreSql
                                                            ? velio_test::TDbEngine::PostgreSql
                                                            : velio_test::TDbEngine::MariaDb);
      ASSERT_EQ(server_->Error(), "");
      connection_ = server_->Connection();
    }
#endif
    std::string error;
    ASSERT_TRUE(CreateDoorlockTables(connection_, error, &created_))
        << error << "\n(the ODBC driver of " << connection_
        << " must be registered with the driver manager; scripts/deps.sh installs it)";
    store_ = std::make_unique<TDoorlockRecordManager>(connection_, TStoreEngine::Odbc);
    ASSERT_TRUE(store_->Open());
  }
  void TearDown() override {
    store_.reset();
    OperationLog = nullptr;
  }

  std::vector<AnsiString> Log() {
    return LogEntries(log_.FileName());
  }
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    return velio_test::OdbcRows(connection_, sql);
  }

  TTempDir dir_;
  std::string connection_ =
      "Driver=" + DriverName() + ";Database=" + HostPath(dir_.File("Client.db")) + ";";
#ifndef _WIN32
  std::unique_ptr<velio_test::TDbServer> server_;
#endif
  std::vector<std::string> created_;
  TLogFile log_{dir_.File("test.LOG")};
  std::unique_ptr<TDoorlockRecordManager> store_;
};

// The cases that hold only for SQLite, whose columns take any value.
class DoorlockSqliteOdbcStoreTest : public DoorlockOdbcStoreTest {};

TEST(OdbcDialectTest, TheDbmsNameChoosesTheTableDefinitions) {
  struct TCase {
    const char* dbms;
    TOdbcDialect dialect;
    const char* roomTable;
  } cases[] = {
      {"PostgreSQL", TOdbcDialect::PostgreSql,
       "CREATE TABLE T_Room (RoomNo VARCHAR(50), LastCheckInTime TIMESTAMP(3), "
       "CONSTRAINT UQ_T_Room_RoomNo UNIQUE (RoomNo))"},
      {"MariaDB", TOdbcDialect::MariaDb,
       "CREATE TABLE T_Room (RoomNo VARCHAR(50), LastCheckInTime DATETIME(3), "
       "CONSTRAINT UQ_T_Room_RoomNo UNIQUE (RoomNo)) DEFAULT CHARSET=utf8mb4"},
      {"MySQL", TOdbcDialect::MariaDb, nullptr},
      {"mysql", TOdbcDialect::MariaDb, nullptr},
      {"SQLite", TOdbcDialect::Generic,
       "CREATE TABLE T_Room (RoomNo VARCHAR(50), LastCheckInTime DATETIME, "
       "CONSTRAINT UQ_T_Room_RoomNo UNIQUE (RoomNo))"},
      {"ACCESS", TOdbcDialect::Generic, nullptr},
      {"", TOdbcDialect::Generic, nullptr},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(OdbcDialectOf(c.dbms), c.dialect) << c.dbms;
    if (c.roomTable) {
      EXPECT_EQ(OdbcSchema(c.dialect).at(0).second, c.roomTable) << c.dbms;
    }
  }
  // The issue records: the Boolean and integer types of each.
  EXPECT_NE(OdbcSchema(TOdbcDialect::PostgreSql)[1].second.find("IsCopy BOOLEAN"),
            std::string::npos);
  EXPECT_NE(OdbcSchema(TOdbcDialect::MariaDb)[1].second.find("CardType INT,"), std::string::npos);
  EXPECT_NE(OdbcSchema(TOdbcDialect::Generic)[1].second.find("IsCopy BIT"), std::string::npos);
  // Milliseconds where the engine is known to keep them; else the driver says.
  EXPECT_EQ(DialectTimestampDigits(TOdbcDialect::PostgreSql), 3);
  EXPECT_EQ(DialectTimestampDigits(TOdbcDialect::MariaDb), 3);
  EXPECT_EQ(DialectTimestampDigits(TOdbcDialect::Generic), -1);
}

TEST(OdbcFailureKindTest, SqlStateClassesSayDuplicateKeyOrLostLink) {
  struct TCase {
    const char* state;
    EDatabaseError::TKind kind;
  } cases[] = {
      {"23000", EDatabaseError::DuplicateKey}, {"23505", EDatabaseError::DuplicateKey},
      {"08S01", EDatabaseError::LinkLost},     {"08001", EDatabaseError::LinkLost},
      {"42P01", EDatabaseError::Failure},      {"HY000", EDatabaseError::Failure},
      {"", EDatabaseError::Failure},           {"23", EDatabaseError::Failure},
  };
  for (const TCase& c : cases) EXPECT_EQ(OdbcFailureKind(c.state), c.kind) << c.state;
  // The SQLite ODBC driver's general state with SQLite's own words.
  EXPECT_EQ(OdbcFailureKind("HY000", "[SQLite]UNIQUE constraint failed: T_Room.RoomNo (19)"),
            EDatabaseError::DuplicateKey);
  EXPECT_EQ(OdbcFailureKind("HY000", "[SQLite]no such table: T_Room (1)"), EDatabaseError::Failure);
}

TEST_P(DoorlockOdbcStoreTest, InitDbMakesBothTablesOnceWithTheRoomKeyAndKeepsRows) {
  EXPECT_EQ(store_->Engine(), TStoreEngine::Odbc);
  EXPECT_EQ(created_, (std::vector<std::string>{"T_Room", "T_IssueCardRecord"}));
  store_->InsertRoom("0101", 40000);
  std::string error;
  std::vector<std::string> again;
  EXPECT_TRUE(CreateDoorlockTables(connection_, error, &again)) << error;
  EXPECT_TRUE(again.empty());  // tables exist: nothing done
  EXPECT_EQ(Query("select RoomNo from T_Room").size(), 1u);
  EXPECT_EQ(Query("select * from T_IssueCardRecord").size(), 0u);
  bool roomKey = false;
  EXPECT_TRUE(ProbeOdbcTables(connection_, error, &roomKey)) << error;
  EXPECT_TRUE(roomKey);
  // A stored room is not stored twice: the key refuses it, and nothing is logged.
  store_->InsertRoom("0101", 40001);
  EXPECT_EQ(Query("select RoomNo from T_Room").size(), 1u);
  EXPECT_EQ(store_->GetLastCheckInTime("0101"), 40000);
  EXPECT_EQ(Log(), std::vector<AnsiString>{Lit("新建房间") + "0101"});
}

TEST_P(DoorlockOdbcStoreTest, TablesMadeBeforeTheKeyKeepWorkingAndAreReported) {
  Query("drop table T_Room");
  Query(std::string("create table T_Room (RoomNo varchar(50), LastCheckInTime ") +
        (GetParam() == TSource::PostgreSql ? "timestamp(3))"
         : GetParam() == TSource::MariaDb  ? "datetime(3))"
                                           : "datetime)"));
  std::string error;
  bool roomKey = true;
  EXPECT_TRUE(ProbeOdbcTables(connection_, error, &roomKey)) << error;
  EXPECT_FALSE(roomKey);
  EXPECT_EQ(store_->GetOrInsertLastCheckInTime("0101", 40000.5), 40000.5);
  EXPECT_EQ(store_->GetOrInsertLastCheckInTime("0101", 40001.5), 40000.5);
  store_->UpdateLastCheckInTime("0202", 40002.5);
  EXPECT_EQ(Query("select RoomNo from T_Room order by RoomNo"),
            (std::vector<std::vector<std::string>>{{"0101"}, {"0202"}}));
  EXPECT_EQ(Log().size(), 2u);  // the two new rooms
}

TEST_P(DoorlockOdbcStoreTest, RoomTimesRoundTripToTheMillisecond) {
  const TDateTime times[] = {
      EncodeDateTime({2026, 12, 8, 14, 5, 9, 123}), EncodeDateTime({2000, 2, 29, 0, 0, 0, 0}),
      EncodeDateTime({1999, 12, 31, 23, 59, 59, 999}), EncodeDateTime({1900, 1, 1, 0, 0, 0, 1})};
  EXPECT_EQ(store_->GetLastCheckInTime("000101"), 0);  // no row
  store_->UpdateLastCheckInTime("000101", times[0]);   // new room: inserted, logged
  EXPECT_EQ(Log(), std::vector<AnsiString>{Lit("新建房间") + "000101"});
  for (TDateTime t : times) {
    store_->UpdateLastCheckInTime("000101", t);  // known room: changed, not logged
    EXPECT_NEAR(store_->GetLastCheckInTime("000101"), t, 0.5 / 86400000.0);
  }
  EXPECT_EQ(Log().size(), 1u);
  EXPECT_EQ(Query("select RoomNo from T_Room").size(), 1u);
}

TEST_P(DoorlockOdbcStoreTest, NullTimeAndQuotedKeysReadAsStored) {
  store_->InsertRoom("0'1", 41000.5);  // a quote is a value like any other
  EXPECT_DOUBLE_EQ(store_->GetLastCheckInTime("0'1"), 41000.5);
  Query("insert into T_Room(RoomNo) values('0202')");
  EXPECT_EQ(store_->GetLastCheckInTime("0202"), 0);
  EXPECT_EQ(Log().size(), 1u);  // only the new room
  // A room stored without a time (as by another server): the key keeps it one
  // row, which takes this time.
  EXPECT_EQ(store_->GetOrInsertLastCheckInTime("0202", 41001.5), 41001.5);
  EXPECT_EQ(store_->GetOrInsertLastCheckInTime("0202", 41002.5), 41001.5);
  EXPECT_EQ(Query("select RoomNo from T_Room where RoomNo='0202'").size(), 1u);
  EXPECT_EQ(Log().size(), 1u);
}

TEST_P(DoorlockOdbcStoreTest, IssueRecordStoresEveryColumnChineseTextIncluded) {
  const TDateTime stamp = EncodeDateTime({2026, 12, 8, 9, 30, 0, 0});
  const AnsiString guest = Lit("张三丰");
  store_->InsertIssueCardRecord("R1", "0", Lit("一楼") + "01", 1, stamp, stamp + 1, stamp + 2, true,
                                guest, stamp + 3);
  store_->InsertIssueCardRecord("", "123", "0101", 1, 0, 0, 0, false, "Test", stamp);
  auto rows = Query(
      "select RegisterId, CardNo, RoomNo, CardType, IsCopy, GuestName from T_IssueCardRecord "
      "order by CardNo");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"R1", "0", "一楼01", "1", "1", "张三丰"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"", "123", "0101", "1", "0", "Test"}));
  auto dates = Query("select CheckOutTime from T_IssueCardRecord where RegisterId='R1'");
  ASSERT_EQ(dates.size(), 1u);
  EXPECT_EQ(dates[0][0].substr(0, 19), "2026-12-10 09:30:00");
  EXPECT_TRUE(Log().empty());
}

TEST_P(DoorlockOdbcStoreTest, FailuresAreLoggedAndTheNextOperationWorks) {
  Query("drop table T_IssueCardRecord");
  store_->InsertIssueCardRecord("R1", "1", "0101", 1, 0, 0, 0, false, "g", 0);
  auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  std::string lower = log[0];
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(lower.find("t_issuecardrecord"), std::string::npos) << log[0];
  store_->UpdateLastCheckInTime("0101", 42000);  // the store goes on
  EXPECT_EQ(store_->GetLastCheckInTime("0101"), 42000);
  EXPECT_EQ(Log().size(), 2u);
}

TEST_P(DoorlockSqliteOdbcStoreTest, AValueThatIsNoDateTimeIsLoggedNeverReadAsADate) {
  Query("insert into T_Room values('legacy', 39965.5763888889)");  // an older native file
  Query("insert into T_Room values('garbage', 'garbage')");
  Query("insert into T_Room values('bad day', '2026-02-30 10:00:00')");
  EXPECT_NEAR(store_->GetLastCheckInTime("legacy"), 39965.5763888889, 0.5 / 86400000.0);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(store_->GetLastCheckInTime("garbage"), 0);
  EXPECT_EQ(store_->GetLastCheckInTime("bad day"), 0);
  EXPECT_EQ(store_->GetOrInsertLastCheckInTime("garbage", 40001.5), 40001.5);
  auto log = Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "the stored value 'garbage' is not a date-time");
  EXPECT_EQ(log[1], "the stored value '2026-02-30 10:00:00' is not a date-time");
  EXPECT_EQ(log[2], "the stored value 'garbage' is not a date-time");
}

#ifndef _WIN32
// The database server goes away under a running store and comes back: every
// operation meanwhile logs the driver's error, and the first one after it is
// back reconnects by itself and works.
class DoorlockOdbcOutageTest : public DoorlockOdbcStoreTest {};

TEST_P(DoorlockOdbcOutageTest, TheStoreReconnectsOnceTheServerIsBack) {
  store_->InsertRoom("0101", 40000);
  server_->Stop();
  EXPECT_EQ(store_->GetOrInsertLastCheckInTime("0202", 40001), 40001);
  store_->InsertIssueCardRecord("R1", "1", "0202", 1, 40001, 40001, 40002, true, "g", 40001);
  EXPECT_EQ(store_->GetLastCheckInTime("0101"), 0);
  const size_t failures = Log().size() - 1;
  EXPECT_GE(failures, 4u);  // the select, the insert, the record, the select
  ASSERT_TRUE(server_->Start()) << server_->Error();
  EXPECT_EQ(store_->GetLastCheckInTime("0101"), 40000);
  store_->InsertIssueCardRecord("R2", "2", "0101", 1, 40000, 40000, 40002, true, "g", 40001);
  EXPECT_EQ(Log().size(), failures + 1);  // nothing failed since
  EXPECT_EQ(Query("select RegisterId from T_IssueCardRecord"),
            (std::vector<std::vector<std::string>>{{"R2"}}));
}

INSTANTIATE_TEST_SUITE_P(Servers, DoorlockOdbcOutageTest,
                         ::testing::Values(TSource::PostgreSql, TSource::MariaDb), SourceName);
INSTANTIATE_TEST_SUITE_P(Sources, DoorlockOdbcStoreTest,
                         ::testing::Values(TSource::SqliteOdbc, TSource::PostgreSql,
                                           TSource::MariaDb),
                         SourceName);
#else
INSTANTIATE_TEST_SUITE_P(Sources, DoorlockOdbcStoreTest, ::testing::Values(TSource::SqliteOdbc),
                         SourceName);
#endif
INSTANTIATE_TEST_SUITE_P(Sources, DoorlockSqliteOdbcStoreTest,
                         ::testing::Values(TSource::SqliteOdbc), SourceName);

#ifndef _WIN32
// Both engines on one Client.db, made by either engine's --init-db: each
// reads what the other wrote, and both write the same stored values.
TEST(DoorlockCrossEngineTest, EitherEngineReadsWhatTheOtherWrote) {
  const TDateTime times[] = {EncodeDateTime({2026, 12, 8, 14, 5, 9, 123}),
                             EncodeDateTime({2000, 2, 29, 0, 0, 0, 0}),
                             EncodeDateTime({1999, 12, 31, 23, 59, 59, 999}), 0};
  for (bool madeByOdbc : {false, true}) {
    TTempDir dir;
    const std::string file = dir.File("Client.db");
    const std::string connection = "Driver=" + DriverName() + ";Database=" + file + ";";
    std::string error;
    ASSERT_TRUE(madeByOdbc ? CreateDoorlockTables(connection, error)
                           : CreateDoorlockDatabase(file, error))
        << error;
    TLogFile log(dir.File("test.LOG"));
    OperationLog = &log;
    TDoorlockRecordManager native(file, TStoreEngine::Sqlite);
    TDoorlockRecordManager odbc(connection, TStoreEngine::Odbc);
    ASSERT_TRUE(native.Open());
    ASSERT_TRUE(odbc.Open());
    for (size_t i = 0; i < std::size(times); ++i) {
      const std::string n = "n" + std::to_string(i), o = "o" + std::to_string(i);
      native.InsertRoom(n, times[i]);
      odbc.InsertRoom(o, times[i]);
      EXPECT_NEAR(odbc.GetLastCheckInTime(n), times[i], 0.5 / 86400000.0) << madeByOdbc << n;
      EXPECT_NEAR(native.GetLastCheckInTime(o), times[i], 0.5 / 86400000.0) << madeByOdbc << o;
      native.InsertIssueCardRecord("R", "1", n, 1, times[i], times[i], times[i], true, "G",
                                   times[i]);
      odbc.InsertIssueCardRecord("R", "1", o, 1, times[i], times[i], times[i], true, "G", times[i]);
    }
    OperationLog = nullptr;
    for (const char* sql :
         {"select LastCheckInTime, typeof(LastCheckInTime) from T_Room order by rowid",
          "select LastCheckInTime, CheckInTime, CheckOutTime, OpratingTime, "
          "typeof(OpratingTime), typeof(IsCopy) from T_IssueCardRecord order by rowid"}) {
      auto rows = velio_test::OdbcRows(connection, sql);
      ASSERT_EQ(rows.size(), 2 * std::size(times));
      for (size_t i = 0; i < rows.size(); i += 2)
        EXPECT_EQ(rows[i], rows[i + 1]) << madeByOdbc << " " << sql;
      EXPECT_EQ(rows[0][0], "2026-12-08 14:05:09.123");
    }
    auto entries = LogEntries(log.FileName());
    EXPECT_EQ(entries.size(), 2 * std::size(times));  // only the new rooms
  }
}
#endif

TEST(DoorlockOdbcStoreOpenTest, APasswordIsNeverLogged) {
  TTempDir dir;
  TLogFile log(dir.File("test.LOG"));
  OperationLog = &log;
  // The driver manager's message names the driver: here the password too.
  TDoorlockRecordManager store("Driver=VelioNoSuch-pw7;UID=u;PWD=VelioNoSuch-pw7",
                               TStoreEngine::Odbc);
  EXPECT_FALSE(store.Open());
  store.InsertRoom("0101", 1);
  OperationLog = nullptr;
  auto entries = LogEntries(log.FileName());
  ASSERT_EQ(entries.size(), 2u);
  for (const AnsiString& entry : entries) {
    EXPECT_EQ(entry.find("VelioNoSuch-pw7"), std::string::npos) << entry;
    EXPECT_NE(entry.find("***"), std::string::npos) << entry;
  }
}

TEST(DoorlockOdbcStoreOpenTest, AnUnknownDriverIsLoggedAndEveryOperationFailsQuietly) {
  TTempDir dir;
  TLogFile log(dir.File("test.LOG"));
  OperationLog = &log;
  TDoorlockRecordManager store("Driver=VelioNoSuchDriver;Database=x", TStoreEngine::Odbc);
  EXPECT_FALSE(store.Open());
  EXPECT_EQ(store.GetLastCheckInTime("0101"), 0);
  store.UpdateLastCheckInTime("0101", 1);
  OperationLog = nullptr;
  auto entries = LogEntries(log.FileName());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_FALSE(entries[0].empty());
  EXPECT_EQ(entries[1], entries[0]);  // every later operation logs why
  EXPECT_EQ(entries[2], entries[0]);
}

}  // namespace
