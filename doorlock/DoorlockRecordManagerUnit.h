// DoorlockRecordManagerUnit: the door-lock record store.
//
// Two tables: T_Room (RoomNo, LastCheckInTime), the last check-in time of each
// room, and T_IssueCardRecord, one row per card issue attempt. The engine
// (SQLite's Client.db, Access's Client.mdb or an ODBC source; see
// RecordStoreFactoryUnit, which also creates and probes the database) runs
// the statements; the statements and what is logged on failure are the same
// for all engines.
//
// Every operation catches its own database errors and writes their text to the
// operation log; no caller ever sees one, and after a failed operation the next
// one works: a store whose database was unreachable or went away connects
// again at the next operation. Several servers may share one database: T_Room's
// unique key on RoomNo keeps each room to one row, and an insert the key
// refuses reads the other server's row instead. Has internal synchronization:
// one statement at a time, whatever thread calls.
#ifndef VELIO_DOORLOCK_DOORLOCKRECORDMANAGERUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKRECORDMANAGERUNIT_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "doorlock/RecordStoreFactoryUnit.h"
#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

class TDoorlockRecordManager {
 public:
  // Stores the database file name for the system's own engine; opens nothing.
  explicit TDoorlockRecordManager(std::string databaseFileName);
  // Stores the file name (Sqlite, Access) or ODBC connection string (Odbc).
  TDoorlockRecordManager(std::string source, TStoreEngine engine);
  ~TDoorlockRecordManager();
  TDoorlockRecordManager(const TDoorlockRecordManager&) = delete;
  TDoorlockRecordManager& operator=(const TDoorlockRecordManager&) = delete;

  // Opens the existing database (never creates it). On failure logs the
  // database's error text and answers false; the store stays unconnected and
  // every later operation tries to open it again, logging its own error
  // while that fails.
  bool Open();

  // The stored LastCheckInTime of the room, or 0 (no row, null, or an error).
  TDateTime GetLastCheckInTime(const AnsiString& roomKey);
  // Sets the room's time; inserts the room when the update changed no row
  // (and updates it after all when another server inserted it meanwhile).
  void UpdateLastCheckInTime(const AnsiString& roomKey, TDateTime time);
  // Inserts a T_Room row and logs "新建房间" + key; a row the unique key
  // refuses (the room is stored) is neither inserted nor logged.
  void InsertRoom(const AnsiString& roomKey, TDateTime time);
  // GetLastCheckInTime and, when that gives 0, InsertRoom(roomKey, time), under
  // one hold of the store's lock: two callers for a room not yet stored insert
  // it once, and the second gets the first one's time; so do two servers on
  // one database (the loser of the insert reads the winner's row, and gives
  // a row without a time this one). Answers the stored time, or time when it
  // was 0 (the insert's failure, if any, is logged).
  TDateTime GetOrInsertLastCheckInTime(const AnsiString& roomKey, TDateTime time);
  // Inserts one T_IssueCardRecord row.
  void InsertIssueCardRecord(const AnsiString& RegisterId, const AnsiString& CardNo,
                             const AnsiString& RoomNo, int32_t CardType, TDateTime LastCheckInTime,
                             TDateTime CheckInTime, TDateTime CheckOutTime, bool IsCopy,
                             const AnsiString& GuestName, TDateTime OpratingTime);

  TStoreEngine Engine() const;

  // Under --verbose, the failures of the operations this thread ran since the
  // last call, joined by "; " (UTF-8, passwords shown as "***"), and forgets
  // them; empty text when none failed or --verbose is off. The request
  // handler reports them.
  static std::string TakeThreadFailures();

  // The database file, or the connection string of an Odbc store.
  const std::string DatabaseFileName;

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};

// The process-wide record store; null before start-up.
extern TDoorlockRecordManager* DoorlockRecordManager;

// Start-up step 3: creates DoorlockRecordManager and opens it: the ODBC source
// odbcConnection when not empty (--store), else DefaultDoorlockDatabase().
void InitDoorlockRecordStore(const std::string& odbcConnection = std::string());
// Shut-down: frees DoorlockRecordManager.
void FinalizeDoorlockRecordStore();

#endif  // VELIO_DOORLOCK_DOORLOCKRECORDMANAGERUNIT_H_
