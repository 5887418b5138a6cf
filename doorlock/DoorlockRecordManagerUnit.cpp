// DoorlockRecordManagerUnit: the record store on one database connection.
//
// Two engines run the same statements (see DoorlockOdbcUnit): SQLite's own
// library on Client.db (Linux), and ODBC (Client.mdb through the Access driver
// on Windows; any source named by a connection string on both systems). The
// connection is opened once and kept. Every operation takes the store's lock,
// prepares its statement afresh, binds the named parameters, runs it and frees
// it; the statement lives in a small RAII holder, so a failure anywhere leaves
// nothing open and the next operation starts clean. Failures travel inside as
// EDatabaseError carrying the database's own message and are caught at the
// edge of each public operation, where the text is written to the operation log.
//
// UpdateLastCheckInTime runs its update and the fallback insert under one hold
// of the lock, so two requests for a new room cannot both insert it.
#include "doorlock/DoorlockRecordManagerUnit.h"

#ifndef _WIN32
#include <sqlite3.h>
#endif

#include <memory>
#include <stdexcept>
#include <string>

#include "doorlock/DoorlockOdbcUnit.h"
#include "platform/PathUnit.h"
#include "services/LogFileUnit.h"

TDoorlockRecordManager* DoorlockRecordManager = nullptr;

namespace {

const char kSelectLastCheckIn[] = "select LastCheckInTime from T_Room where RoomNo=:RoomNo";
const char kUpdateRoom[] =
    "update T_Room set LastCheckInTime=:LastCheckInTime where RoomNo=:RoomNo";
const char kInsertRoom[] =
    "insert into T_Room(RoomNo, LastCheckInTime) Values(:RoomNo, :LastCheckInTime)";
const char kInsertIssueRecord[] =
    "insert into T_IssueCardRecord(RegisterId, CardNo, RoomNo, CardType, LastCheckInTime, "
    "CheckInTime, CheckOutTime, IsCopy, GuestName, OpratingTime)\r\n"
    " Values(:RegisterId, :CardNo, :RoomNo, :CardType, :LastCheckInTime, :CheckInTime, "
    ":CheckOutTime, :IsCopy, :GuestName, :OpratingTime)";

// The schema of doorlock/Client.sql.
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS T_Room (\n"
    "  RoomNo TEXT,\n"
    "  LastCheckInTime REAL\n"
    ");\n"
    "CREATE TABLE IF NOT EXISTS T_IssueCardRecord (\n"
    "  RegisterId TEXT,\n"
    "  CardNo TEXT,\n"
    "  RoomNo TEXT,\n"
    "  CardType INTEGER,\n"
    "  LastCheckInTime REAL,\n"
    "  CheckInTime REAL,\n"
    "  CheckOutTime REAL,\n"
    "  IsCopy INTEGER,\n"
    "  GuestName TEXT,\n"
    "  OpratingTime REAL\n"
    ");\n";

#ifndef _WIN32
// Waits this long for another process's lock on the file before failing.
const int kBusyTimeoutMs = 5000;

// One prepared SQLite statement; finalized whatever happens.
class TSqliteStatement {
 public:
  TSqliteStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
  }
  ~TSqliteStatement() { sqlite3_finalize(stmt_); }
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  // Texts go in as UTF-8, date-times as REAL day numbers, the rest as integers.
  void Bind(const TDbParam& p) {
    const int index = sqlite3_bind_parameter_index(stmt_, p.Name);
    if (index == 0) throw EDatabaseError(std::string("no such parameter: ") + p.Name);
    if (p.Kind == TDbParam::Text) {
      std::string utf8 = AnsiToUtf8(p.TextValue);
      Check(sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()),
                              SQLITE_TRANSIENT));
    } else if (p.Kind == TDbParam::Date) {
      Check(sqlite3_bind_double(stmt_, index, p.DateValue));
    } else {
      Check(sqlite3_bind_int64(stmt_, index, p.IntValue));
    }
  }

  // Steps once; true when a row is ready.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail();
    return false;
  }
  // Runs a statement that returns no rows; answers the rows it changed.
  int Execute() {
    while (Step()) {
    }
    return sqlite3_changes(db_);
  }

  // A REAL column of the current row; null reads as 0.
  TDateTime ColumnDate(int column) {
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return 0;
    return sqlite3_column_double(stmt_, column);
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail();
  }
  // SQLite speaks UTF-8; the log takes code page 936.
  [[noreturn]] void Fail() { throw EDatabaseError(Utf8ToAnsi(sqlite3_errmsg(db_))); }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Closes a connection handle (also one whose open failed).
struct TDbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using TDbHandle = std::unique_ptr<sqlite3, TDbCloser>;
#endif

}  // namespace

namespace {
#if defined(_WIN64)
// 64-bit programs have no Jet driver: the Access Database Engine's driver.
constexpr char kAccessDriver[] = "Microsoft Access Driver (*.mdb, *.accdb)";
#else
constexpr char kAccessDriver[] = "Microsoft Access Driver (*.mdb)";
#endif
}  // namespace

std::string AccessConnectionString(const std::string& databaseFileName) {
  return std::string("Driver={") + kAccessDriver + "};DBQ=" + databaseFileName + ";";
}

class TDoorlockRecordManager::TImpl {
 public:
  TImpl(TStoreEngine e) : engine(e) {}

  const TStoreEngine engine;
  std::mutex lock;
#ifndef _WIN32
  TDbHandle db;  // SQLite
#endif
  TOdbcConnection odbc;
  bool connected = false;
  // Why the store is not connected; logged by every operation until it is.
  AnsiString notConnected = "database is not open";

  // Runs op with the lock held and the connection open; logs any failure.
  template <typename Op>
  void Run(Op&& op) {
    std::lock_guard<std::mutex> guard(lock);
    try {
      if (!connected) throw EDatabaseError(notConnected);
      op();
    } catch (const std::exception& e) {
      WriteLog(e.what());
    }
  }

  // As Run, for a caller that holds the lock already (several steps under
  // one hold, each logging its own failure).
  template <typename Op>
  void RunLocked(Op&& op) {
    try {
      if (!connected) throw EDatabaseError(notConnected);
      op();
    } catch (const std::exception& e) {
      WriteLog(e.what());
    }
  }

  // Runs a statement that returns no rows; the rows changed.
  int Execute(const char* sql, const std::vector<TDbParam>& params) {
#ifndef _WIN32
    if (engine == TStoreEngine::Sqlite) {
      TSqliteStatement st(db.get(), sql);
      for (const TDbParam& p : params) st.Bind(p);
      return st.Execute();
    }
#endif
    return odbc.Execute(sql, params);
  }

  // The first column of the first row as a date-time, 0 for none or null.
  TDateTime SelectDate(const char* sql, const std::vector<TDbParam>& params) {
#ifndef _WIN32
    if (engine == TStoreEngine::Sqlite) {
      TSqliteStatement st(db.get(), sql);
      for (const TDbParam& p : params) st.Bind(p);
      return st.Step() ? st.ColumnDate(0) : 0;
    }
#endif
    return odbc.SelectDate(sql, params);
  }

  // Inserts the room; the caller holds the lock. Logs on success.
  void InsertRoomLocked(const AnsiString& roomKey, TDateTime time) {
    Execute(kInsertRoom,
            {TDbParam::OfText(":RoomNo", roomKey), TDbParam::OfDate(":LastCheckInTime", time)});
    static const AnsiString kNewRoom = Lit("新建房间");
    WriteLog(kNewRoom + roomKey);
  }
};

TDoorlockRecordManager::TDoorlockRecordManager(std::string databaseFileName)
    : TDoorlockRecordManager(std::move(databaseFileName), kDefaultStoreEngine) {}

TDoorlockRecordManager::TDoorlockRecordManager(std::string source, TStoreEngine engine)
    : DatabaseFileName(std::move(source)), impl_(std::make_unique<TImpl>(engine)) {}

TDoorlockRecordManager::~TDoorlockRecordManager() = default;

TStoreEngine TDoorlockRecordManager::Engine() const {
  return impl_->engine;
}

bool TDoorlockRecordManager::Open() {
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->connected = false;
#ifndef _WIN32
  if (impl_->engine == TStoreEngine::Sqlite) {
    impl_->db.reset();
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(DatabaseFileName.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    TDbHandle db(raw);
    if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
      // SQLite reads the file lazily: a file that is not a database only fails
      // at its first statement, so probe now to report it at start-up.
      rc = sqlite3_exec(db.get(), "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
      impl_->notConnected = Utf8ToAnsi(db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc));
      WriteLog(impl_->notConnected);
      return false;
    }
    impl_->db = std::move(db);
    impl_->connected = true;
    return true;
  }
#endif
  const std::string connection = impl_->engine == TStoreEngine::Access
                                     ? AccessConnectionString(DatabaseFileName)
                                     : DatabaseFileName;
  try {
    impl_->odbc.Connect(connection);
  } catch (const EDatabaseError& e) {
    impl_->notConnected = e.what();
    WriteLog(impl_->notConnected);
    return false;
  }
  impl_->connected = true;
  return true;
}

TDateTime TDoorlockRecordManager::GetLastCheckInTime(const AnsiString& roomKey) {
  TDateTime result = 0;
  impl_->Run([&] {
    result = impl_->SelectDate(kSelectLastCheckIn, {TDbParam::OfText(":RoomNo", roomKey)});
  });
  return result;
}

void TDoorlockRecordManager::UpdateLastCheckInTime(const AnsiString& roomKey, TDateTime time) {
  impl_->Run([&] {
    int changed = impl_->Execute(kUpdateRoom, {TDbParam::OfDate(":LastCheckInTime", time),
                                               TDbParam::OfText(":RoomNo", roomKey)});
    if (changed == 0) impl_->InsertRoomLocked(roomKey, time);
  });
}

void TDoorlockRecordManager::InsertRoom(const AnsiString& roomKey, TDateTime time) {
  impl_->Run([&] { impl_->InsertRoomLocked(roomKey, time); });
}

// The select and the fallback insert under one hold of the lock, as in
// UpdateLastCheckInTime; each logs its own failure, as the separate calls do.
TDateTime TDoorlockRecordManager::GetOrInsertLastCheckInTime(const AnsiString& roomKey,
                                                             TDateTime time) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  TDateTime stored = 0;
  impl_->RunLocked([&] {
    stored = impl_->SelectDate(kSelectLastCheckIn, {TDbParam::OfText(":RoomNo", roomKey)});
  });
  if (stored != 0) return stored;
  impl_->RunLocked([&] { impl_->InsertRoomLocked(roomKey, time); });
  return time;
}

void TDoorlockRecordManager::InsertIssueCardRecord(
    const AnsiString& RegisterId, const AnsiString& CardNo, const AnsiString& RoomNo,
    int32_t CardType, TDateTime LastCheckInTime, TDateTime CheckInTime, TDateTime CheckOutTime,
    bool IsCopy, const AnsiString& GuestName, TDateTime OpratingTime) {
  impl_->Run([&] {
    impl_->Execute(
        kInsertIssueRecord,
        {TDbParam::OfText(":RegisterId", RegisterId), TDbParam::OfText(":CardNo", CardNo),
         TDbParam::OfText(":RoomNo", RoomNo), TDbParam::OfInteger(":CardType", CardType),
         TDbParam::OfDate(":LastCheckInTime", LastCheckInTime),
         TDbParam::OfDate(":CheckInTime", CheckInTime),
         TDbParam::OfDate(":CheckOutTime", CheckOutTime), TDbParam::OfBoolean(":IsCopy", IsCopy),
         TDbParam::OfText(":GuestName", GuestName),
         TDbParam::OfDate(":OpratingTime", OpratingTime)});
  });
}

std::string DefaultDoorlockDatabase() {
#ifdef _WIN32
  return HomeDir() + "Client.mdb";
#else
  return HomeDir() + "Client.db";
#endif
}

void InitDoorlockRecordStore(const std::string& odbcConnection) {
  DoorlockRecordManager = odbcConnection.empty()
                              ? new TDoorlockRecordManager(DefaultDoorlockDatabase())
                              : new TDoorlockRecordManager(odbcConnection, TStoreEngine::Odbc);
  DoorlockRecordManager->Open();
}

void FinalizeDoorlockRecordStore() {
  delete DoorlockRecordManager;
  DoorlockRecordManager = nullptr;
}

bool CreateDoorlockDatabase(const std::string& fileName, std::string& error) {
#ifdef _WIN32
  // The driver makes the file; ODBC's statements make tables only.
  if (!FileExists(fileName)) {
    try {
      CreateAccessDatabaseFile(fileName, kAccessDriver);
    } catch (const EDatabaseError& e) {
      error = AnsiToUtf8(e.what());
      return false;
    }
  }
  return CreateDoorlockTables(AccessConnectionString(fileName), error);
#else
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(fileName.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  TDbHandle db(raw);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    rc = sqlite3_exec(db.get(), kSchema, nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
    return false;
  }
  return true;
#endif
}

bool CreateDoorlockTables(const std::string& odbcConnection, std::string& error) {
  try {
    TOdbcConnection odbc;
    odbc.Connect(odbcConnection);
    for (const auto& [table, ddl] : OdbcSchema())
      if (!odbc.TableExists(table)) odbc.ExecDirect(ddl);
  } catch (const EDatabaseError& e) {
    error = AnsiToUtf8(e.what());
    return false;
  }
  return true;
}

bool ProbeDoorlockDatabase(const std::string& fileName, std::string& error) {
#ifdef _WIN32
  // Client.mdb through the Access driver, as the store opens it.
  try {
    TOdbcConnection odbc;
    odbc.Connect(AccessConnectionString(fileName));
    for (const auto& [table, ddl] : OdbcSchema()) {
      if (!odbc.TableExists(table)) {
        error = std::string("table ") + table + " is missing";
        return false;
      }
    }
  } catch (const EDatabaseError& e) {
    error = AnsiToUtf8(e.what());
    return false;
  }
  return true;
#else
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(fileName.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  TDbHandle db(raw);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    rc = sqlite3_exec(db.get(),
                      "select count(*) from T_Room where 0; "
                      "select count(*) from T_IssueCardRecord where 0",
                      nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
    return false;
  }
  // A file without write rights opens read-only in silence; every insert would fail.
  if (sqlite3_db_readonly(db.get(), "main") == 1) {
    error = "the file is read-only";
    return false;
  }
  return true;
#endif
}
