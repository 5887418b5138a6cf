// RecordStoreFactoryUnit: which engine serves which record database.
//
// The one place that knows the engines (see RecordStoreUnit):
//   - Sqlite (Linux default): Client.db through SQLite's library; date-times
//     are stored as text, as the SQLite ODBC driver stores them, texts UTF-8
//     (SqliteStoreUnit);
//   - Access (Windows default): Client.mdb through ODBC and the Access driver
//     Windows provides; date-times in the database's date-time type;
//   - Odbc (both systems, --store): any ODBC source named by a connection
//     string; date-times as timestamps, texts as UTF-16 (OdbcStoreUnit).
// It makes the engine for the record store, and creates (--init-db) and
// probes (the self-check) the database the way the store will open it.
#ifndef VELIO_DOORLOCK_RECORDSTOREFACTORYUNIT_H_
#define VELIO_DOORLOCK_RECORDSTOREFACTORYUNIT_H_

#include <memory>
#include <string>
#include <vector>

#include "doorlock/RecordStoreUnit.h"

enum class TStoreEngine { Sqlite, Access, Odbc };

#ifdef _WIN32
inline constexpr TStoreEngine kDefaultStoreEngine = TStoreEngine::Access;
#else
inline constexpr TStoreEngine kDefaultStoreEngine = TStoreEngine::Sqlite;
#endif

// The ODBC connection string that opens an Access database file.
std::string AccessConnectionString(const std::string& databaseFileName);

// The default database of the home folder: Client.db (Linux), Client.mdb (Windows).
std::string DefaultDoorlockDatabase();

// A new, unconnected engine for source: the file name (Sqlite, Access) or the
// ODBC connection string (Odbc). Windows has no Sqlite engine: there a Sqlite
// source is taken as an ODBC connection string, as for Odbc. Never null.
std::unique_ptr<TRecordStore> MakeRecordStore(TStoreEngine engine, const std::string& source);

// Creates the database file and both tables when missing; changes nothing that
// exists. Answers false with error set (UTF-8) on failure. On Windows a
// missing Access file is made through the ODBC installer and the Access
// driver (the error names the driver when it is not installed).
bool CreateDoorlockDatabase(const std::string& fileName, std::string& error);

// Creates both tables in an ODBC source when missing, with the source's own
// column types (CreateOdbcTables); created receives the names of the tables
// made. As above.
bool CreateDoorlockTables(const std::string& odbcConnection, std::string& error,
                          std::vector<std::string>* created = nullptr);

// Whether the store at fileName can be used as the service uses it: the file
// exists, opens for reading and writing (not read-only), and holds both tables.
// Opens without creating and changes nothing. Answers false with error set.
// roomKey, when given, is set as by ProbeOdbcTables.
bool ProbeDoorlockDatabase(const std::string& fileName, std::string& error,
                           bool* roomKey = nullptr);

#endif  // VELIO_DOORLOCK_RECORDSTOREFACTORYUNIT_H_
