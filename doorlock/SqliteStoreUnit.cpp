// SqliteStoreUnit: one sqlite3 connection, kept open; a statement per call in
// a small RAII holder that binds the named parameters, steps and finalizes.
#include "doorlock/SqliteStoreUnit.h"

#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "platform/PathUnit.h"

namespace {

// The schema of doorlock/Client.sql.
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS T_Room (\n"
    "  RoomNo TEXT,\n"
    "  LastCheckInTime REAL,\n"
    "  CONSTRAINT UQ_T_Room_RoomNo UNIQUE (RoomNo)\n"
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

// One prepared SQLite statement; finalized whatever happens.
class TSqliteStatement {
 public:
  TSqliteStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
  }
  ~TSqliteStatement() { sqlite3_finalize(stmt_); }
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  // Texts go in as UTF-8, date-times as their stored text, the rest as
  // integers.
  void Bind(const TDbParam& p) {
    const int index = sqlite3_bind_parameter_index(stmt_, p.Name);
    if (index == 0) throw EDatabaseError(std::string("no such parameter: ") + p.Name);
    if (p.Kind == TDbParam::Text) {
      std::string utf8 = AnsiToUtf8(p.TextValue);
      Check(sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()),
                              SQLITE_TRANSIENT));
    } else if (p.Kind == TDbParam::Date) {
      const std::string text = StoredDateTimeText(p.DateValue);
      Check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT));
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

  // A date-time column of the current row: the stored text, or a day number
  // (files written before); null reads as 0; anything else raises.
  TDateTime ColumnDate(int column) {
    switch (sqlite3_column_type(stmt_, column)) {
      case SQLITE_NULL:
        return 0;
      case SQLITE_INTEGER:
      case SQLITE_FLOAT: {
        // Through the same range check as a day number given as text.
        const double number = sqlite3_column_double(stmt_, column);
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", number);
        return StoredDateTimeOrError(text);
      }
      case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        // UTF-8 in the file; a value that is no date-time is logged in code page 936.
        return StoredDateTimeOrError(Utf8ToAnsi(
            std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))));
      }
      default:
        throw EDatabaseError("the stored value is not a date-time (a blob)");
    }
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail();
  }
  // SQLite speaks UTF-8; the log takes code page 936.
  [[noreturn]] void Fail() {
    const int code = sqlite3_extended_errcode(db_);
    throw EDatabaseError(Utf8ToAnsi(sqlite3_errmsg(db_)),
                         code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY
                             ? EDatabaseError::DuplicateKey
                             : EDatabaseError::Failure);
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

void TSqliteCloser::operator()(sqlite3* db) const {
  sqlite3_close(db);
}

TSqliteStore::TSqliteStore(std::string fileName) : fileName_(std::move(fileName)) {}

TSqliteStore::~TSqliteStore() = default;

void TSqliteStore::Open() {
  db_.reset();
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(fileName_.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  TSqliteHandle db(raw);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    // SQLite reads the file lazily: a file that is not a database only fails
    // at its first statement, so probe now to report it at start-up.
    rc = sqlite3_exec(db.get(), "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK)
    throw EDatabaseError(Utf8ToAnsi(db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc)));
  db_ = std::move(db);
}

int TSqliteStore::Execute(const char* sql, const std::vector<TDbParam>& params) {
  TSqliteStatement st(db_.get(), sql);
  for (const TDbParam& p : params) st.Bind(p);
  return st.Execute();
}

TDateTime TSqliteStore::SelectDate(const char* sql, const std::vector<TDbParam>& params) {
  TSqliteStatement st(db_.get(), sql);
  for (const TDbParam& p : params) st.Bind(p);
  return st.Step() ? st.ColumnDate(0) : 0;
}

bool CreateSqliteDatabase(const std::string& fileName, std::string& error) {
  // The file holds guest names: made by us, readable by owner and group only.
  if (!CreateGroupReadableFile(fileName, error)) return false;
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(fileName.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  TSqliteHandle db(raw);
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

bool ProbeSqliteDatabase(const std::string& fileName, std::string& error, bool* roomKey) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(fileName.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  TSqliteHandle db(raw);
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
  if (roomKey) {
    // A unique index of T_Room on RoomNo alone (a UNIQUE constraint makes one).
    *roomKey = false;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db.get(),
                           "select count(*) from pragma_index_list('T_Room') l where l.\"unique\" "
                           "and (select group_concat(name) from pragma_index_info(l.name)) "
                           "= 'RoomNo'",
                           -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      *roomKey = sqlite3_column_int(st, 0) > 0;
    sqlite3_finalize(st);
  }
  return true;
}
