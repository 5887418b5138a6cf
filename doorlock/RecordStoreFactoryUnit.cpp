// RecordStoreFactoryUnit: the system picks the default engine; an ODBC source
// is taken as given, an Access file through the driver's connection string.
#include "doorlock/RecordStoreFactoryUnit.h"

#include "doorlock/OdbcStoreUnit.h"
#include "platform/PathUnit.h"

#ifndef _WIN32
#include "doorlock/SqliteStoreUnit.h"
#endif

std::string AccessConnectionString(const std::string& databaseFileName) {
#if defined(_WIN64)
  // 64-bit programs have no Jet driver: the Access Database Engine's driver.
  return "Driver={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=" + databaseFileName + ";";
#else
  return "Driver={Microsoft Access Driver (*.mdb)};DBQ=" + databaseFileName + ";";
#endif
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
  return CreateOdbcTables(AccessConnectionString(fileName), error);
#else
  return CreateSqliteDatabase(fileName, error);
#endif
}

bool CreateDoorlockTables(const std::string& odbcConnection, std::string& error) {
  return CreateOdbcTables(odbcConnection, error);
}

bool ProbeDoorlockDatabase(const std::string& fileName, std::string& error) {
#ifdef _WIN32
  // Client.mdb through the Access driver, as the store opens it.
  return ProbeOdbcTables(AccessConnectionString(fileName), error);
#else
  return ProbeSqliteDatabase(fileName, error);
#endif
}
