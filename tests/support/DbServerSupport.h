// DbServerSupport: ODBC sources for the tests of the door-lock store: rows
// read and statements run through any ODBC connection string, and (Linux)
// private PostgreSQL and MariaDB servers that a test starts itself.
//
// TDbServer runs tests/support/db-server.sh: a fresh data folder in a
// temporary folder, a free local port, the database "velio". The server is
// stopped and its folder removed when the object goes, whatever the test's
// outcome. A server that does not start is a failure with the server's own
// reason (Error()), never a skipped test.
#ifndef VELIO_TESTS_SUPPORT_DBSERVERSUPPORT_H_
#define VELIO_TESTS_SUPPORT_DBSERVERSUPPORT_H_

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

#include "server/Utf8Unit.h"

#ifndef _WIN32
#include "tests/support/PortSupport.h"
#include "tests/support/RunSupport.h"
#include "tests/support/TempDirSupport.h"
#endif

namespace velio_test {

// Runs sql on the source (UTF-8 statement text) and answers every row, each
// column as UTF-8 text ("NULL" for null). A connection or statement that
// fails is a test failure and gives no rows.
inline std::vector<std::vector<std::string>> OdbcRows(const std::string& connection,
                                                      const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string in = connection;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS,
                                      nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    ADD_FAILURE() << "cannot connect: " << connection;
  } else {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    std::string text = sql;
    SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      SQLCHAR state[6] = {}, message[512] = {};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      SQLGetDiagRec(SQL_HANDLE_STMT, st, 1, state, &native, message, sizeof message, &length);
      ADD_FAILURE() << "cannot run: " << sql << ": " << message;
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(st, &columns);
    while (columns > 0 && SQL_SUCCEEDED(SQLFetch(st))) {
      std::vector<std::string> row;
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        char16_t buf[512] = {};
        SQLLEN ind = 0;
        SQLGetData(st, c, SQL_C_WCHAR, buf, sizeof buf, &ind);
        row.push_back(ind == SQL_NULL_DATA ? "NULL" : EncodeUtf8(buf));
      }
      rows.push_back(std::move(row));
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return rows;
}

#ifndef _WIN32

enum class TDbEngine { PostgreSql, MariaDb };

inline const char* DbEngineName(TDbEngine engine) {
  return engine == TDbEngine::PostgreSql ? "postgresql" : "mariadb";
}

class TDbServer {
 public:
  // Starts the server; Connection() is then its ODBC connection string, or
  // empty with Error() saying why it did not start.
  explicit TDbServer(TDbEngine engine) : engine_(engine), port_(FreePort()) {
    // The server may run as another user (root's servers run as nobody),
    // who must reach its folder inside ours.
    ::chmod(dir_.Path().c_str(), 0711);
    Start();
  }
  ~TDbServer() { Stop(); }
  TDbServer(const TDbServer&) = delete;
  TDbServer& operator=(const TDbServer&) = delete;

  // Starts the server (again, on its data as left); answers whether it runs.
  bool Start() {
    TRun run = Script("start " + std::to_string(port_) + " 2>&1");
    if (run.status != 0) {
      error_ = std::string(DbEngineName(engine_)) + " did not start: " + run.out;
      return false;
    }
    while (!run.out.empty() && run.out.back() == '\n') run.out.pop_back();
    connection_ = run.out.substr(run.out.rfind('\n') + 1);
    return true;
  }
  // Stops the server, keeping its data.
  void Stop() { Script("stop > /dev/null 2>&1"); }

  const std::string& Connection() const { return connection_; }
  const std::string& Error() const { return error_; }
  int Port() const { return port_; }

 private:
  TRun Script(const std::string& command) {
    return RunShell(std::string("'") + VELIO_SOURCE_DIR + "/tests/support/db-server.sh' " +
                    command.substr(0, command.find(' ')) + " " + DbEngineName(engine_) + " '" +
                    dir_.File("server") + "'" + command.substr(command.find(' ')));
  }

  const TDbEngine engine_;
  TTempDir dir_;
  const int port_;
  std::string connection_, error_;
};

#endif  // _WIN32

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_DBSERVERSUPPORT_H_
