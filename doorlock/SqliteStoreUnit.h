// SqliteStoreUnit: the record store's engine on SQLite's own library (Linux).
//
// Client.db is one SQLite file with the tables of doorlock/Client.sql. Texts
// are stored as UTF-8 (converted from and to code page 936), date-times as
// the text of StoredDateTimeText (what the SQLite ODBC driver writes, so
// either engine reads the other's file; REAL day numbers of older files are
// read too), integers and Booleans as INTEGER. The named markers are SQLite's own. A
// file locked by another process is waited for up to 5 seconds before a statement fails.
//
// Every statement is prepared afresh and finalized when it ends, however it
// ends. Failures raise EDatabaseError with SQLite's message. Not thread-safe:
// the record store serialises its operations. There is no such engine on
// Windows.
#ifndef VELIO_DOORLOCK_SQLITESTOREUNIT_H_
#define VELIO_DOORLOCK_SQLITESTOREUNIT_H_

#include <memory>
#include <string>
#include <vector>

#include "doorlock/RecordStoreUnit.h"

struct sqlite3;

// Closes a connection handle (also one whose open failed).
struct TSqliteCloser {
  void operator()(sqlite3* db) const;
};
using TSqliteHandle = std::unique_ptr<sqlite3, TSqliteCloser>;

class TSqliteStore final : public TRecordStore {
 public:
  // Keeps the file name (UTF-8); opens nothing yet.
  explicit TSqliteStore(std::string fileName);
  ~TSqliteStore() override;
  TSqliteStore(const TSqliteStore&) = delete;
  TSqliteStore& operator=(const TSqliteStore&) = delete;

  // Opens the file for reading and writing and reads its schema, so that a
  // file that is no database fails here and not at the first statement.
  void Open() override;
  int Execute(const char* sql, const std::vector<TDbParam>& params) override;
  TDateTime SelectDate(const char* sql, const std::vector<TDbParam>& params) override;

 private:
  const std::string fileName_;
  TSqliteHandle db_;
};

// Creates the file and both tables of Client.sql (T_Room with a unique key on
// RoomNo) when missing; changes nothing that exists. Answers false with error
// set to SQLite's message (UTF-8).
bool CreateSqliteDatabase(const std::string& fileName, std::string& error);

// Whether the file can be used as the store uses it: it exists, opens for
// reading and writing (not read-only) and holds both tables. Opens without
// creating and changes nothing. Answers false with error set (UTF-8). When
// usable and roomKey is given, sets it to whether T_Room has a unique key on
// RoomNo (files made before the key have none).
bool ProbeSqliteDatabase(const std::string& fileName, std::string& error, bool* roomKey = nullptr);

#endif  // VELIO_DOORLOCK_SQLITESTOREUNIT_H_
