// DoorlockRecordManagerUnit: the door-lock record store (Client.db, SQLite).
//
// Two tables: T_Room (RoomNo, LastCheckInTime), the last check-in time of each
// room, and T_IssueCardRecord, one row per card issue attempt. Date-times are
// stored as REAL day numbers since 1899-12-30; texts as UTF-8, converted from
// code page 936 when bound and back when read.
//
// Every operation catches its own database errors and writes their text to the
// operation log; no caller ever sees one, and after a failed operation the next
// one works. Has internal synchronization: one statement at a time, whatever
// thread calls.
#ifndef VELIO_DOORLOCK_DOORLOCKRECORDMANAGERUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKRECORDMANAGERUNIT_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

class TDoorlockRecordManager {
 public:
  // Stores the database file name; opens nothing.
  explicit TDoorlockRecordManager(std::string databaseFileName);
  ~TDoorlockRecordManager();
  TDoorlockRecordManager(const TDoorlockRecordManager&) = delete;
  TDoorlockRecordManager& operator=(const TDoorlockRecordManager&) = delete;

  // Opens the existing database (never creates it). On failure logs the
  // database's error text and answers false; the store stays unconnected and
  // every later operation logs its own error.
  bool Open();

  // The stored LastCheckInTime of the room, or 0 (no row, null, or an error).
  TDateTime GetLastCheckInTime(const AnsiString& roomKey);
  // Sets the room's time; inserts the room when the update changed no row.
  void UpdateLastCheckInTime(const AnsiString& roomKey, TDateTime time);
  // Inserts a T_Room row and logs "新建房间" + key.
  void InsertRoom(const AnsiString& roomKey, TDateTime time);
  // GetLastCheckInTime and, when that gives 0, InsertRoom(roomKey, time), under
  // one hold of the store's lock: two callers for a room not yet stored insert
  // it once, and the second gets the first one's time. Answers the stored time,
  // or time when it was 0 (the insert's failure, if any, is logged).
  TDateTime GetOrInsertLastCheckInTime(const AnsiString& roomKey, TDateTime time);
  // Inserts one T_IssueCardRecord row.
  void InsertIssueCardRecord(const AnsiString& RegisterId, const AnsiString& CardNo,
                             const AnsiString& RoomNo, int32_t CardType, TDateTime LastCheckInTime,
                             TDateTime CheckInTime, TDateTime CheckOutTime, bool IsCopy,
                             const AnsiString& GuestName, TDateTime OpratingTime);

  const std::string DatabaseFileName;

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};

// The process-wide record store; null before start-up.
extern TDoorlockRecordManager* DoorlockRecordManager;

// Start-up step 3: creates DoorlockRecordManager for home + "Client.db" and opens it.
void InitDoorlockRecordStore();
// Shut-down: frees DoorlockRecordManager.
void FinalizeDoorlockRecordStore();

// Creates the database file and both tables when missing; changes nothing that
// exists. Answers false with error set on failure.
bool CreateDoorlockDatabase(const std::string& fileName, std::string& error);

// Whether the store at fileName can be used as the service uses it: the file
// exists, opens for reading and writing (not read-only), and holds both tables.
// Opens without creating and changes nothing. Answers false with error set.
bool ProbeDoorlockDatabase(const std::string& fileName, std::string& error);

#endif  // VELIO_DOORLOCK_DOORLOCKRECORDMANAGERUNIT_H_
