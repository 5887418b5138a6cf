// The record store against real SQLite files in a temporary folder.
#include <gtest/gtest.h>

#include "doorlock/DoorlockRecordManagerUnit.h"
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
  EXPECT_EQ(sql.Rows("select typeof(LastCheckInTime) from T_Room")[0][0], "real");
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
  EXPECT_EQ(rows[0], (std::vector<std::string>{"REG-7", "123456789012", "text", "000101", "1",
                                               "integer", "39965.5", "39965.25", "39967.5", "1",
                                               "integer", "Smith", "39965.75", "real"}));
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
