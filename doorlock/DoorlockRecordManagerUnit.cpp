// DoorlockRecordManagerUnit: the record store on one SQLite connection.
//
// The connection is opened once (read-write, never created) and kept. Every
// operation takes the store's lock, prepares its statement afresh, binds the
// named parameters, steps it and finalizes it; the statement lives in a small
// RAII holder, so a failure anywhere leaves nothing open and the next operation
// starts clean. Failures travel inside as EDatabaseError carrying SQLite's own
// message and are caught at the edge of each public operation, where the text
// is written to the operation log.
//
// UpdateLastCheckInTime runs its update and the fallback insert under one hold
// of the lock, so two requests for a new room cannot both insert it.
#include "doorlock/DoorlockRecordManagerUnit.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "app/LogFileUnit.h"
#include "platform/PathUnit.h"

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

// Waits this long for another process's lock on the file before failing.
const int kBusyTimeoutMs = 5000;

// A database failure with SQLite's message text (UTF-8).
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One prepared statement; finalized whatever happens.
class TStatement {
 public:
  TStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
  }
  ~TStatement() { sqlite3_finalize(stmt_); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  void BindText(const char* name, const AnsiString& value) {
    std::string utf8 = AnsiToUtf8(value);
    Check(sqlite3_bind_text(stmt_, Index(name), utf8.data(), static_cast<int>(utf8.size()),
                            SQLITE_TRANSIENT));
  }
  void BindDate(const char* name, TDateTime value) {
    Check(sqlite3_bind_double(stmt_, Index(name), value));
  }
  void BindInteger(const char* name, int64_t value) {
    Check(sqlite3_bind_int64(stmt_, Index(name), value));
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
  int Index(const char* name) {
    int index = sqlite3_bind_parameter_index(stmt_, name);
    if (index == 0) throw EDatabaseError(std::string("no such parameter: ") + name);
    return index;
  }
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail();
  }
  [[noreturn]] void Fail() { throw EDatabaseError(sqlite3_errmsg(db_)); }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Closes a connection handle (also one whose open failed).
struct TDbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using TDbHandle = std::unique_ptr<sqlite3, TDbCloser>;

// The log takes code page 936; SQLite speaks UTF-8.
void LogDatabaseError(const char* utf8) {
  WriteLog(Utf8ToAnsi(utf8));
}

}  // namespace

class TDoorlockRecordManager::TImpl {
 public:
  std::mutex lock;
  TDbHandle db;
  // Why the store is not connected; logged by every operation until it is.
  std::string notConnected = "database is not open";

  // Runs op with the lock held and the connection open; logs any failure.
  template <typename Op>
  void Run(Op&& op) {
    std::lock_guard<std::mutex> guard(lock);
    try {
      if (!db) throw EDatabaseError(notConnected);
      op(db.get());
    } catch (const std::exception& e) {
      LogDatabaseError(e.what());
    }
  }

  // As Run, for a caller that holds the lock already (several steps under
  // one hold, each logging its own failure).
  template <typename Op>
  void RunLocked(Op&& op) {
    try {
      if (!db) throw EDatabaseError(notConnected);
      op(db.get());
    } catch (const std::exception& e) {
      LogDatabaseError(e.what());
    }
  }
};

namespace {

// Inserts the room; the caller holds the store's lock. Logs on success.
void InsertRoomLocked(sqlite3* db, const AnsiString& roomKey, TDateTime time) {
  TStatement st(db, kInsertRoom);
  st.BindText(":RoomNo", roomKey);
  st.BindDate(":LastCheckInTime", time);
  st.Execute();
  static const AnsiString kNewRoom = Lit("新建房间");
  WriteLog(kNewRoom + roomKey);
}

}  // namespace

TDoorlockRecordManager::TDoorlockRecordManager(std::string databaseFileName)
    : DatabaseFileName(std::move(databaseFileName)), impl_(std::make_unique<TImpl>()) {}

TDoorlockRecordManager::~TDoorlockRecordManager() = default;

bool TDoorlockRecordManager::Open() {
  std::lock_guard<std::mutex> guard(impl_->lock);
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
    impl_->notConnected = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
    LogDatabaseError(impl_->notConnected.c_str());
    return false;
  }
  impl_->db = std::move(db);
  return true;
}

TDateTime TDoorlockRecordManager::GetLastCheckInTime(const AnsiString& roomKey) {
  TDateTime result = 0;
  impl_->Run([&](sqlite3* db) {
    TStatement st(db, kSelectLastCheckIn);
    st.BindText(":RoomNo", roomKey);
    if (st.Step()) result = st.ColumnDate(0);
  });
  return result;
}

void TDoorlockRecordManager::UpdateLastCheckInTime(const AnsiString& roomKey, TDateTime time) {
  impl_->Run([&](sqlite3* db) {
    int changed;
    {
      TStatement st(db, kUpdateRoom);
      st.BindDate(":LastCheckInTime", time);
      st.BindText(":RoomNo", roomKey);
      changed = st.Execute();
    }
    if (changed == 0) InsertRoomLocked(db, roomKey, time);
  });
}

void TDoorlockRecordManager::InsertRoom(const AnsiString& roomKey, TDateTime time) {
  impl_->Run([&](sqlite3* db) { InsertRoomLocked(db, roomKey, time); });
}

// The select and the fallback insert under one hold of the lock, as in
// UpdateLastCheckInTime; each logs its own failure, as the separate calls do.
TDateTime TDoorlockRecordManager::GetOrInsertLastCheckInTime(const AnsiString& roomKey,
                                                             TDateTime time) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  TDateTime stored = 0;
  impl_->RunLocked([&](sqlite3* db) {
    TStatement st(db, kSelectLastCheckIn);
    st.BindText(":RoomNo", roomKey);
    if (st.Step()) stored = st.ColumnDate(0);
  });
  if (stored != 0) return stored;
  impl_->RunLocked([&](sqlite3* db) { InsertRoomLocked(db, roomKey, time); });
  return time;
}

void TDoorlockRecordManager::InsertIssueCardRecord(
    const AnsiString& RegisterId, const AnsiString& CardNo, const AnsiString& RoomNo,
    int32_t CardType, TDateTime LastCheckInTime, TDateTime CheckInTime, TDateTime CheckOutTime,
    bool IsCopy, const AnsiString& GuestName, TDateTime OpratingTime) {
  impl_->Run([&](sqlite3* db) {
    TStatement st(db, kInsertIssueRecord);
    st.BindText(":RegisterId", RegisterId);
    st.BindText(":CardNo", CardNo);
    st.BindText(":RoomNo", RoomNo);
    st.BindInteger(":CardType", CardType);
    st.BindDate(":LastCheckInTime", LastCheckInTime);
    st.BindDate(":CheckInTime", CheckInTime);
    st.BindDate(":CheckOutTime", CheckOutTime);
    st.BindInteger(":IsCopy", IsCopy ? 1 : 0);
    st.BindText(":GuestName", GuestName);
    st.BindDate(":OpratingTime", OpratingTime);
    st.Execute();
  });
}

void InitDoorlockRecordStore() {
  DoorlockRecordManager = new TDoorlockRecordManager(HomeDir() + "Client.db");
  DoorlockRecordManager->Open();
}

void FinalizeDoorlockRecordStore() {
  delete DoorlockRecordManager;
  DoorlockRecordManager = nullptr;
}

bool CreateDoorlockDatabase(const std::string& fileName, std::string& error) {
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
}

bool ProbeDoorlockDatabase(const std::string& fileName, std::string& error) {
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
}
