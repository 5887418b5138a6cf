// RecordStoreFactoryUnit: the system picks the default engine; an ODBC source
// is taken as given, an Access file through the driver's connection string.
#include "doorlock/RecordStoreFactoryUnit.h"

#include "doorlock/OdbcStoreUnit.h"
#include "platform/PathUnit.h"

#ifndef _WIN32
#include "doorlock/SqliteStoreUnit.h"
#endif

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

std::string DefaultDoorlockDatabase() {
#ifdef _WIN32
  return HomeDir() + "Client.mdb";
#else
  return HomeDir() + "Client.db";
#endif
}

std::unique_ptr<TRecordStore> MakeRecordStore(TStoreEngine engine, const std::string& source) {
#ifndef _WIN32
  if (engine == TStoreEngine::Sqlite) return std::make_unique<TSqliteStore>(source);
#endif
  if (engine == TStoreEngine::Access)
    return std::make_unique<TOdbcStore>(AccessConnectionString(source));
  return std::make_unique<TOdbcStore>(source);
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
  return CreateOdbcTables(AccessConnectionString(fileName), error);
#else
  return CreateSqliteDatabase(fileName, error);
#endif
}

bool CreateDoorlockTables(const std::string& odbcConnection, std::string& error,
                          std::vector<std::string>* created) {
  return CreateOdbcTables(odbcConnection, error, created);
}

bool ProbeDoorlockDatabase(const std::string& fileName, std::string& error, bool* roomKey) {
#ifdef _WIN32
  // Client.mdb through the Access driver, as the store opens it.
  return ProbeOdbcTables(AccessConnectionString(fileName), error, roomKey);
#else
  return ProbeSqliteDatabase(fileName, error, roomKey);
#endif
}
