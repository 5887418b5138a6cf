// The record store against real SQLite files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "doorlock/DoorlockRecordManagerUnit.h"
#include "doorlock/RecordStoreUnit.h"
#include "platform/PathUnit.h"
#include "services/LogFileUnit.h"
#include "tests/doorlock/DoorlockTestSupport.h"
#include "tests/support/FileSupport.h"
#include "tests/support/LogSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using doorlock_test::TSql;
using velio_test::LogEntries;
using velio_test::TTempDir;

class DoorlockRecordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { OperationLog = &log_; }
  void TearDown() override { OperationLog = nullptr; }

  // A store on a freshly created Client.db.
  std::unique_ptr<TDoorlockRecordManager> CreatedStore() {
    std::string error;
    EXPECT_TRUE(CreateDoorlockDatabase(db_, error)) << error;
    auto store = std::make_unique<TDoorlockRecordManager>(db_);
    EXPECT_TRUE(store->Open());
    return store;
  }

  std::vector<AnsiString> Log() { return LogEntries(log_.FileName()); }

  TTempDir dir_;
  std::string db_ = dir_.File("Client.db");
  TLogFile log_{dir_.File("test.LOG")};
};

TEST_F(DoorlockRecordStoreTest, CreateDatabaseMakesBothTablesWithExactColumns) {
  auto store = CreatedStore();
  TSql sql(db_);
  auto room = sql.Rows("select name, type from pragma_table_info('T_Room') order by cid");
  EXPECT_EQ(room, (std::vector<std::vector<std::string>>{{"RoomNo", "TEXT"},
                                                         {"LastCheckInTime", "REAL"}}));
  auto issue =
      sql.Rows("select name, type from pragma_table_info('T_IssueCardRecord') order by cid");
  EXPECT_EQ(issue, (std::vector<std::vector<std::string>>{{"RegisterId", "TEXT"},
                                                          {"CardNo", "TEXT"},
                                                          {"RoomNo", "TEXT"},
                                                          {"CardType", "INTEGER"},
                                                          {"LastCheckInTime", "REAL"},
                                                          {"CheckInTime", "REAL"},
                                                          {"CheckOutTime", "REAL"},
                                                          {"IsCopy", "INTEGER"},
                                                          {"GuestName", "TEXT"},
                                                          {"OpratingTime", "REAL"}}));
  EXPECT_TRUE(Log().empty());
}

TEST_F(DoorlockRecordStoreTest, CreateDatabaseMatchesClientSqlAndKeepsExistingRows) {
  // The schema file shipped with the sources gives the same tables.
  const std::string script =
      velio_test::ReadFile(std::string(VELIO_SOURCE_DIR) + "/doorlock/Client.sql");
  ASSERT_FALSE(script.empty());
  std::string other = dir_.File("FromScript.db");
  {
    TSql sql(other);
    sql.Exec(script);
  }
  auto store = CreatedStore();
  store->InsertRoom("101", 40000.5);
  std::string error;
  EXPECT_TRUE(CreateDoorlockDatabase(db_, error)) << error;  // again: changes nothing
  TSql created(db_);
  TSql scripted(other);
  const char kSchema[] = "select name, sql from sqlite_master order by name";
  EXPECT_EQ(created.Rows(kSchema), scripted.Rows(kSchema));
  EXPECT_EQ(created.Count("T_Room"), 1);
}

TEST_F(DoorlockRecordStoreTest, CreateDatabaseRefusesAFileThatIsNoDatabase) {
  const std::string junk(4096, 'x');
  velio_test::WriteFile(db_, junk);
  std::string error;
  EXPECT_FALSE(CreateDoorlockDatabase(db_, error));
  EXPECT_EQ(error, "file is not a database");
  EXPECT_EQ(velio_test::ReadFile(db_), junk);
}

TEST_F(DoorlockRecordStoreTest, MissingFileIsLoggedNotCreatedAndEveryOperationLogsItsError) {
  TDoorlockRecordManager store(db_);
  EXPECT_FALSE(store.Open());
  EXPECT_FALSE(FileExists(db_));
  EXPECT_EQ(Log(), (std::vector<AnsiString>{"unable to open database file"}));

  EXPECT_EQ(store.GetLastCheckInTime("101"), 0);
  store.UpdateLastCheckInTime("101", 40000);
  store.InsertRoom("101", 40000);
  store.InsertIssueCardRecord("R", "1", "101", 1, 1, 2, 3, false, "G", 4);
  // The read and the insert each log their error; the given time is answered.
  EXPECT_EQ(store.GetOrInsertLastCheckInTime("101", 40000.5), 40000.5);
  // One error entry per operation, and no "new room" entry.
  EXPECT_EQ(Log(), std::vector<AnsiString>(7, "unable to open database file"));
  EXPECT_FALSE(FileExists(db_));
}

TEST_F(DoorlockRecordStoreTest, FileThatIsNoDatabaseIsReportedAtOpen) {
  velio_test::WriteFile(db_, std::string(2048, '\x5a'));
  TDoorlockRecordManager store(db_);
  EXPECT_FALSE(store.Open());
  EXPECT_EQ(Log(), (std::vector<AnsiString>{"file is not a database"}));
  EXPECT_EQ(store.GetLastCheckInTime("101"), 0);
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(DoorlockRecordStoreTest, ReadsStoredNullAndMissingTimes) {
  auto store = CreatedStore();
  {
    TSql sql(db_);
    sql.Exec("insert into T_Room values('000101', 39965.5763888889)");
    sql.Exec("insert into T_Room values('000102', NULL)");
  }
  EXPECT_DOUBLE_EQ(store->GetLastCheckInTime("000101"), 39965.5763888889);
  EXPECT_EQ(store->GetLastCheckInTime("000102"), 0);
  EXPECT_EQ(store->GetLastCheckInTime("999999"), 0);
  EXPECT_TRUE(Log().empty());
}

TEST(StoredDateTimeTest, TextAndDayNumbersAreReadAndAnythingElseRefused) {
  const TDateTime stamp = EncodeDateTime({2026, 12, 8, 14, 5, 9, 123});
  struct TCase {
    const char* text;
    bool ok;
    TDateTime value;
  } cases[] = {
      {"2026-12-08 14:05:09.123", true, stamp},
      {"2026-12-08T14:05:09.123", true, stamp},
      {"2026-12-08 14:05:09.123456789", true, stamp},  // cut to the millisecond
      {"2026-12-08 14:05:09.1", true, EncodeDateTime({2026, 12, 8, 14, 5, 9, 100})},
      {"2026-12-08 14:05:09", true, EncodeDateTime({2026, 12, 8, 14, 5, 9, 0})},
      {"2026-12-08", true, EncodeDateTime({2026, 12, 8, 0, 0, 0, 0})},
      {"2000-02-29 23:59:59.999", true, EncodeDateTime({2000, 2, 29, 23, 59, 59, 999})},
      {"1899-12-30 00:00:00.000", true, 0},
      // Day numbers, as files written before hold them.
      {"39965.5763888889", true, 39965.5763888889},
      {"40000", true, 40000},
      {"-1.5", true, -1.5},
      // Not a date-time.
      {"", false, 0},
      {"garbage", false, 0},
      {"2026-02-30 00:00:00", false, 0},
      {"2026-13-01", false, 0},
      {"2026-12-08 24:00:00", false, 0},
      {"2026-12-08 14:05", false, 0},
      {"2026-12-08 14:05:09.", false, 0},
      {"2026-12-08 14:05:09.1234567890", false, 0},
      {"2026-12-08 14:05:09+01", false, 0},
      {" 2026-12-08", false, 0},
      {"26-12-08", false, 0},
      {"40000x", false, 0},
      {"1e300", false, 0},
      {"nan", false, 0},
      {"3000000", false, 0},  // after the year 9999
  };
  for (const TCase& c : cases) {
    TDateTime value = -7;
    EXPECT_EQ(ParseStoredDateTime(c.text, value), c.ok) << c.text;
    EXPECT_NEAR(value, c.ok ? c.value : -7, 1e-9) << c.text;
  }
  // Written to the millisecond, and read back the same.
  EXPECT_EQ(StoredDateTimeText(stamp), "2026-12-08 14:05:09.123");
  EXPECT_EQ(StoredDateTimeText(0), "1899-12-30 00:00:00.000");
  EXPECT_EQ(StoredDateTimeOrError(StoredDateTimeText(39965.5763888889)),
            EncodeDateTime({2009, 6, 1, 13, 50, 0, 0}));
  EXPECT_THROW(StoredDateTimeOrError("2026-02-30"), EDatabaseError);
}

TEST_F(DoorlockRecordStoreTest, OlderDayNumbersAreReadAndAValueThatIsNoDateTimeIsAnError) {
  auto store = CreatedStore();
  {
    TSql sql(db_);
    sql.Exec("insert into T_Room values('real', 39965.5763888889)");
    sql.Exec("insert into T_Room values('integer', 40000)");
    sql.Exec("insert into T_Room values('text', '2009-06-01 13:50:00.000')");
    sql.Exec("insert into T_Room values('garbage', 'garbage')");
    sql.Exec("insert into T_Room values('bad day', '2026-02-30 10:00:00.000')");
    sql.Exec("insert into T_Room values('blob', x'00ff')");
  }
  EXPECT_DOUBLE_EQ(store->GetLastCheckInTime("real"), 39965.5763888889);
  EXPECT_EQ(store->GetLastCheckInTime("integer"), 40000);
  EXPECT_NEAR(store->GetLastCheckInTime("text"), 39965.5763888889, 1e-9);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(store->GetLastCheckInTime("garbage"), 0);
  EXPECT_EQ(store->GetLastCheckInTime("bad day"), 0);
  EXPECT_EQ(store->GetLastCheckInTime("blob"), 0);
  // A copy card is never answered from the value: it gets the given time.
  EXPECT_EQ(store->GetOrInsertLastCheckInTime("garbage", 40001.5), 40001.5);
  auto log = Log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "the stored value 'garbage' is not a date-time");
  EXPECT_EQ(log[1], "the stored value '2026-02-30 10:00:00.000' is not a date-time");
  EXPECT_EQ(log[2], "the stored value is not a date-time (a blob)");
  EXPECT_EQ(log[3], "the stored value 'garbage' is not a date-time");
}

TEST_F(DoorlockRecordStoreTest, CreatedFileIsReadableByOwnerAndGroupOnlyWhateverTheUmask) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    const std::string file = dir_.File("Client" + std::to_string(mask) + ".db");
    const mode_t old = umask(mask);
    std::string error;
    const bool made = CreateDoorlockDatabase(file, error);
    umask(old);
    ASSERT_TRUE(made) << error;
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read)
        << "umask " << mask;
  }
  // An existing file keeps its mode.
  const std::string existing = dir_.File("Existing.db");
  velio_test::WriteFile(existing, "");
  std::filesystem::permissions(existing, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_write |
                                             std::filesystem::perms::others_read);
  std::string error;
  ASSERT_TRUE(CreateDoorlockDatabase(existing, error)) << error;
  EXPECT_EQ(std::filesystem::status(existing).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::others_read);
}

TEST_F(DoorlockRecordStoreTest, KeyHoldingAQuoteFindsItsRoom) {
  auto store = CreatedStore();
  store->InsertRoom("A'1", 40001.25);
  EXPECT_DOUBLE_EQ(store->GetLastCheckInTime("A'1"), 40001.25);
  store->UpdateLastCheckInTime("A'1", 40002.5);
  EXPECT_DOUBLE_EQ(store->GetLastCheckInTime("A'1"), 40002.5);
  TSql sql(db_);
  EXPECT_EQ(sql.Count("T_Room"), 1);
  EXPECT_EQ(Log(), (std::vector<AnsiString>{Lit("新建房间") + "A'1"}));
}

TEST_F(DoorlockRecordStoreTest, UpdateInsertsANewRoomOnceAndThenUpdatesIt) {
  auto store = CreatedStore();
  store->UpdateLastCheckInTime("000101", 40000.5);
  store->UpdateLastCheckInTime("000101", 40003.75);
  TSql sql(db_);
  EXPECT_EQ(sql.Count("T_Room"), 1);
  EXPECT_DOUBLE_EQ(sql.Real("select LastCheckInTime from T_Room where RoomNo='000101'"), 40003.75);
  // Stored as the SQLite ODBC driver stores a timestamp.
  EXPECT_EQ(sql.Rows("select LastCheckInTime, typeof(LastCheckInTime) from T_Room")[0],
            (std::vector<std::string>{"2009-07-09 18:00:00.000", "text"}));
  EXPECT_EQ(Log(), (std::vector<AnsiString>{Lit("新建房间") + "000101"}));
}

TEST_F(DoorlockRecordStoreTest, GetOrInsertStoresANewRoomOnceAndKeepsAStoredTime) {
  auto store = CreatedStore();
  {
    TSql sql(db_);
    sql.Exec("insert into T_Room values('000102', 39965.5)");
  }
  EXPECT_EQ(store->GetOrInsertLastCheckInTime("000101", 40000.5), 40000.5);
  EXPECT_EQ(store->GetOrInsertLastCheckInTime("000101", 40009.0), 40000.5);
  EXPECT_EQ(store->GetOrInsertLastCheckInTime("000102", 40009.0), 39965.5);
  TSql sql(db_);
  EXPECT_EQ(sql.Count("T_Room"), 2);
  EXPECT_EQ(Log(), (std::vector<AnsiString>{Lit("新建房间") + "000101"}));
}

TEST_F(DoorlockRecordStoreTest, TextsAreStoredAsUtf8AndFoundAgain) {
  auto store = CreatedStore();
  const AnsiString key = Lit("东楼101");
  store->InsertRoom(key, 40000);
  store->InsertIssueCardRecord("", "0", key, 1, 1, 2, 3, true, Lit("张三"), 4);
  EXPECT_EQ(store->GetLastCheckInTime(key), 40000);
  TSql sql(db_);
  EXPECT_EQ(sql.Rows("select RoomNo from T_Room")[0][0], "东楼101");
  EXPECT_EQ(sql.Rows("select GuestName from T_IssueCardRecord")[0][0], "张三");
  EXPECT_EQ(Log(), (std::vector<AnsiString>{Lit("新建房间") + key}));
}

TEST_F(DoorlockRecordStoreTest, IssueRecordStoresEveryColumnWithItsKind) {
  auto store = CreatedStore();
  store->InsertIssueCardRecord("REG-7", "123456789012", "000101", 1, 39965.5, 39965.25, 39967.5,
                               true, "Smith", 39965.75);
  store->InsertIssueCardRecord("", "0", "000102", 1, 1, 2, 3, false, "", 4);
  TSql sql(db_);
  auto rows = sql.Rows(
      "select RegisterId, CardNo, typeof(CardNo), RoomNo, CardType, typeof(CardType), "
      "LastCheckInTime, CheckInTime, CheckOutTime, IsCopy, typeof(IsCopy), GuestName, "
      "OpratingTime, typeof(OpratingTime) from T_IssueCardRecord order by rowid");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"REG-7", "123456789012", "text", "000101", "1", "integer",
                                      "2009-06-01 12:00:00.000", "2009-06-01 06:00:00.000",
                                      "2009-06-03 12:00:00.000", "1", "integer", "Smith",
                                      "2009-06-01 18:00:00.000", "text"}));
  EXPECT_EQ(rows[1][1], "0");
  EXPECT_EQ(rows[1][9], "0");
  EXPECT_TRUE(Log().empty());
}

TEST_F(DoorlockRecordStoreTest, MissingTableIsLoggedAndTheStoreRecoversAfterwards) {
  {
    TSql sql(db_);
    sql.Exec("create table Other(x)");
  }
  TDoorlockRecordManager store(db_);
  ASSERT_TRUE(store.Open());
  store.InsertIssueCardRecord("R", "1", "101", 1, 1, 2, 3, false, "G", 4);
  EXPECT_EQ(store.GetLastCheckInTime("101"), 0);
  // An update that fails does not fall back to an insert.
  store.UpdateLastCheckInTime("101", 40000);
  EXPECT_EQ(Log(), (std::vector<AnsiString>{"no such table: T_IssueCardRecord",
                                            "no such table: T_Room", "no such table: T_Room"}));

  std::string error;
  ASSERT_TRUE(CreateDoorlockDatabase(db_, error)) << error;
  store.UpdateLastCheckInTime("101", 40000);
  store.InsertIssueCardRecord("R", "1", "101", 1, 1, 2, 3, false, "G", 4);
  EXPECT_EQ(store.GetLastCheckInTime("101"), 40000);
  TSql sql(db_);
  EXPECT_EQ(sql.Count("T_Room"), 1);
  EXPECT_EQ(sql.Count("T_IssueCardRecord"), 1);
}

TEST_F(DoorlockRecordStoreTest, ConstraintFailureDoesNotSpoilTheNextOperation) {
  auto store = CreatedStore();
  {
    TSql sql(db_);
    sql.Exec(
        "create trigger NoRoom9 before insert on T_Room when new.RoomNo = '9' "
        "begin select raise(abort, 'room 9 is closed'); end");
  }
  store->InsertRoom("9", 40000);  // fails inside the statement
  store->InsertRoom("8", 40001);
  EXPECT_EQ(store->GetLastCheckInTime("8"), 40001);
  EXPECT_EQ(Log(), (std::vector<AnsiString>{"room 9 is closed", Lit("新建房间") + "8"}));
}

TEST_F(DoorlockRecordStoreTest, KeysAreCompletePlainConcatenations) {
  auto store = CreatedStore();
  store->UpdateLastCheckInTime(AnsiString("0") + "001" + "01", 40000);
  store->UpdateLastCheckInTime(AnsiString("00") + "01" + "01", 40001);
  TSql sql(db_);
  EXPECT_EQ(sql.Count("T_Room"), 1);
  EXPECT_EQ(store->GetLastCheckInTime("000101"), 40001);
}

TEST_F(DoorlockRecordStoreTest, ModuleStartOpensClientDbInTheHomeFolder) {
  std::string error;
  ASSERT_TRUE(CreateDoorlockDatabase(db_, error)) << error;
  const std::string oldHome = HomeDir();
  SetHomeDir(dir_.Path());
  InitDoorlockRecordStore();
  ASSERT_NE(DoorlockRecordManager, nullptr);
  EXPECT_EQ(DoorlockRecordManager->DatabaseFileName, dir_.Path() + "Client.db");
  DoorlockRecordManager->InsertRoom("101", 40000);
  EXPECT_EQ(DoorlockRecordManager->GetLastCheckInTime("101"), 40000);
  FinalizeDoorlockRecordStore();
  EXPECT_EQ(DoorlockRecordManager, nullptr);
  SetHomeDir(oldHome);
}

}  // namespace
