// DoorlockOdbcUnit: the record store's statements through ODBC.
//
// The door-lock record store runs the same four statements on two engines:
// SQLite's own library (Client.db, Linux) and ODBC (Client.mdb through the
// Access driver on Windows, or any ODBC source named by a connection string on
// both systems; on Linux through unixODBC). What differs between the engines
// lives here and in the store, never in its callers:
//
//   - statements are written once, with named markers (":RoomNo"); ODBC gets
//     positional markers ('?') and the values bound in the order the names
//     appear;
//   - texts are bound as UTF-16 (SQL_C_WCHAR), so no engine guesses a code
//     page; date-times as the database's timestamp type, to the millisecond;
//     Booleans as SQL_BIT; integers as SQL_INTEGER.
//
// A TOdbcConnection is one environment and one connection handle; every
// statement gets a statement handle of its own, freed when it ends, however it
// ends. Failures raise EDatabaseError with the driver's diagnostic text. Not
// thread-safe: the store serialises its operations.
#ifndef VELIO_DOORLOCK_DOORLOCKODBCUNIT_H_
#define VELIO_DOORLOCK_DOORLOCKODBCUNIT_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

// A database failure; what() is the database layer's message in code page 936.
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One named parameter of a statement.
struct TDbParam {
  enum TKind { Text, Date, Integer, Boolean };
  const char* Name;  // with its colon: ":RoomNo"
  TKind Kind;
  AnsiString TextValue;
  double DateValue = 0;
  int64_t IntValue = 0;

  static TDbParam OfText(const char* name, AnsiString value) {
    return {name, Text, std::move(value), 0, 0};
  }
  static TDbParam OfDate(const char* name, TDateTime value) { return {name, Date, {}, value, 0}; }
  static TDbParam OfInteger(const char* name, int64_t value) {
    return {name, Integer, {}, 0, value};
  }
  static TDbParam OfBoolean(const char* name, bool value) {
    return {name, Boolean, {}, 0, value ? 1 : 0};
  }
};

// sql with every ":Name" marker replaced by '?'; names receives the markers in
// order (with their colons). A colon inside a quoted literal is left alone.
std::string ToPositionalMarkers(std::string_view sql, std::vector<std::string>& names);

class TOdbcConnection {
 public:
  TOdbcConnection();
  ~TOdbcConnection();
  TOdbcConnection(const TOdbcConnection&) = delete;
  TOdbcConnection& operator=(const TOdbcConnection&) = delete;

  // Connects by the connection string (UTF-8; its file paths as the driver
  // expects them). Raises EDatabaseError with the driver manager's or driver's
  // text. A connection already made is closed first.
  void Connect(const std::string& connectionString);
  bool Connected() const { return connected_; }

  // Runs a statement that returns no rows; answers the number of rows changed.
  // REQUIRES: every marker of sql has a parameter of that name.
  int Execute(std::string_view sql, const std::vector<TDbParam>& params);

  // Runs a select and answers its first column of the first row as a
  // date-time; no row or a null value gives 0.
  TDateTime SelectDate(std::string_view sql, const std::vector<TDbParam>& params);

  // Runs a statement without parameters (table definitions).
  void ExecDirect(const std::string& sql);

  // True when the source has a table of that name.
  bool TableExists(const std::string& name);

 private:
  void* env_ = nullptr;
  void* dbc_ = nullptr;
  bool connected_ = false;
};

// The connection string with the values of its PWD and Password attributes
// (keys in any case) replaced by "***", for printing. Attributes are split at
// the semicolons outside braces; a braced value ("{a;b}}c}", "}}" standing
// for "}") is replaced whole, an unterminated one up to the end.
std::string ConnectionStringWithoutSecrets(std::string_view connectionString);

#ifdef _WIN32
// Creates an empty Access database file (UTF-8 path) through the ODBC
// installer and the named Access driver ("CREATE_DB=<file> General"). Raises
// EDatabaseError naming the driver when it is not installed, else with the
// installer's own text. REQUIRES: fileName does not exist.
void CreateAccessDatabaseFile(const std::string& fileName, const std::string& driver);
#endif

// The table definitions of the record store for an ODBC source (Access's
// names for the types, which SQLite accepts too), one statement per table.
const std::vector<std::pair<std::string, std::string>>& OdbcSchema();

#endif  // VELIO_DOORLOCK_DOORLOCKODBCUNIT_H_
