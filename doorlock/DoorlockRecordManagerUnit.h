// DoorlockRecordManagerUnit: the door-lock record store.
//
// Two tables: T_Room (RoomNo, LastCheckInTime), the last check-in time of each
// room, and T_IssueCardRecord, one row per card issue attempt. Engines:
//   - Sqlite (Linux default): Client.db through SQLite's library; date-times
//     are REAL day numbers since 1899-12-30, texts UTF-8;
//   - Access (Windows default): Client.mdb through ODBC and the Access driver
//     Windows provides; date-times in the database's date-time type;
//   - Odbc (both systems, --store): any ODBC source named by a connection
//     string; date-times as timestamps, texts as UTF-16.
// The statements and what is logged on failure are the same for all engines.
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

enum class TStoreEngine { Sqlite, Access, Odbc };

#ifdef _WIN32
inline constexpr TStoreEngine kDefaultStoreEngine = TStoreEngine::Access;
#else
inline constexpr TStoreEngine kDefaultStoreEngine = TStoreEngine::Sqlite;
#endif

// The ODBC connection string that opens an Access database file.
std::string AccessConnectionString(const std::string& databaseFileName);

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

  TStoreEngine Engine() const;

  // The database file, or the connection string of an Odbc store.
  const std::string DatabaseFileName;

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};

// The process-wide record store; null before start-up.
extern TDoorlockRecordManager* DoorlockRecordManager;

// The default database of the home folder: Client.db (Linux), Client.mdb (Windows).
std::string DefaultDoorlockDatabase();

// Start-up step 3: creates DoorlockRecordManager and opens it: the ODBC source
// odbcConnection when not empty (--store), else DefaultDoorlockDatabase().
void InitDoorlockRecordStore(const std::string& odbcConnection = std::string());
// Shut-down: frees DoorlockRecordManager.
void FinalizeDoorlockRecordStore();

// Creates the database file and both tables when missing; changes nothing that
// exists. Answers false with error set (UTF-8) on failure. On Windows a
// missing Access file is made through the ODBC installer and the Access
// driver (the error names the driver when it is not installed).
bool CreateDoorlockDatabase(const std::string& fileName, std::string& error);

// Creates both tables in an ODBC source when missing. As above.
bool CreateDoorlockTables(const std::string& odbcConnection, std::string& error);
// Whether the store at fileName can be used as the service uses it: the file
// exists, opens for reading and writing (not read-only), and holds both tables.
// Opens without creating and changes nothing. Answers false with error set.
bool ProbeDoorlockDatabase(const std::string& fileName, std::string& error);

#endif  // VELIO_DOORLOCK_DOORLOCKRECORDMANAGERUNIT_H_
