// OdbcStoreUnit: the record store's engine on ODBC.
//
// Serves Client.mdb through the Access driver on Windows and any ODBC source
// named by a connection string (--store) on both systems; on Linux through
// unixODBC. The store's statements come with named markers (":RoomNo"); ODBC
// gets positional markers ('?') and the values bound in the order the names
// appear. Texts are bound as UTF-16 (SQL_C_WCHAR), so no engine guesses a code
// page; date-times as the database's timestamp type, with as many fractional
// digits (up to milliseconds) as the driver says the target takes
// (TimestampDigits), or the digits the engine is known to take
// (DialectTimestampDigits); Booleans as SQL_BIT; integers as SQL_INTEGER. Date-times
// are read as text and parsed (ParseStoredDateTime): a source without a
// date-time type (SQLite) may hold any value, and one that is no date-time
// must fail, not read as some date.
//
// A TOdbcStore is one environment and one connection handle; every statement
// gets a statement handle of its own, freed when it ends, however it ends.
// Failures raise EDatabaseError with the driver's diagnostic text, of the
// kind its SQLSTATE says (OdbcFailureKind); a failure of another kind on a
// connection the driver then finds dead (SQL_ATTR_CONNECTION_DEAD) is a lost
// link too. Not thread-safe: the record store serialises its operations.
//
// The tables --init-db makes take the engine's own types, chosen by the name
// the driver gives for its database (SQL_DBMS_NAME, OdbcDialectOf): PostgreSQL
// and MariaDB (or MySQL) have date-time types with milliseconds and a Boolean
// type; every other source (Access, SQLite) gets Access's type names.
#ifndef VELIO_DOORLOCK_ODBCSTOREUNIT_H_
#define VELIO_DOORLOCK_ODBCSTOREUNIT_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "doorlock/RecordStoreUnit.h"

// sql with every ":Name" marker replaced by '?'; names receives the markers in
// order (with their colons). A colon inside a quoted literal is left alone.
std::string ToPositionalMarkers(std::string_view sql, std::vector<std::string>& names);

// The kind of a failure whose first diagnostic record has SQLSTATE state and
// whose diagnostic text is message: class 23 (integrity constraint) is a
// duplicate key, and so is SQLite's "UNIQUE constraint failed" (its ODBC
// driver gives the general state HY000); class 08 (connection exception) is
// a lost link; anything else a plain failure.
EDatabaseError::TKind OdbcFailureKind(std::string_view state, std::string_view message = {});

// Which table definitions suit a source, by its DBMS name (any letter case).
enum class TOdbcDialect { Generic, PostgreSql, MariaDb };
TOdbcDialect OdbcDialectOf(std::string_view dbmsName);

// The fractional-second digits a date-time parameter takes on an engine
// known to store milliseconds (PostgreSQL, MariaDB: 3, whatever its driver
// reports; MariaDB's reports 0), or -1 when the driver is to be asked.
int DialectTimestampDigits(TOdbcDialect dialect);

// How many fractional-second digits a date-time parameter is bound with:
// describedScale, the decimal digits the driver gives for the parameter when
// it describes it as a timestamp, else typeScale, the timestamp type's
// maximum scale; -1 for either means the driver cannot say. Neither known, or
// 0: whole seconds (a driver that takes no fraction refuses one with 22008).
// At most 3: the values carry milliseconds.
int TimestampDigits(int describedScale, int typeScale);

// A date-time's binding at digits (0..3): the column size (19, or 20 + digits
// with a fraction) and the fraction in nanoseconds, milliSecond cut to digits.
struct TTimestampBinding {
  int ColumnSize;
  unsigned Fraction;
};
TTimestampBinding TimestampBinding(int digits, int milliSecond);

class TOdbcStore final : public TRecordStore {
 public:
  // Keeps the connection string (UTF-8; its file paths as the driver expects
  // them); connects to nothing yet.
  explicit TOdbcStore(std::string connectionString);
  ~TOdbcStore() override;
  TOdbcStore(const TOdbcStore&) = delete;
  TOdbcStore& operator=(const TOdbcStore&) = delete;

  // Connects by the connection string; raises EDatabaseError with the driver
  // manager's or driver's text.
  void Open() override;
  int Execute(const char* sql, const std::vector<TDbParam>& params) override;
  TDateTime SelectDate(const char* sql, const std::vector<TDbParam>& params) override;

  // Runs a statement without parameters (table definitions). REQUIRES: Open
  // succeeded.
  void ExecDirect(const std::string& sql);

  // True when the source has a table of that name (or of its lower- or
  // upper-case form, for a source that folds names). REQUIRES: Open succeeded.
  bool TableExists(const std::string& name);

  // The source's DBMS name as its driver gives it. REQUIRES: Open succeeded.
  std::string DbmsName();

  // Whether T_Room has a unique index on RoomNo alone (the driver's
  // SQLStatistics). REQUIRES: Open succeeded.
  bool RoomKeyExists();

 private:
  // The name under which the source lists the table, or empty text.
  std::string FoundTableName(const std::string& name);
  // Raises e, as a lost link when its kind says nothing of the link but the
  // connection is found dead.
  [[noreturn]] void ThrowKnowingTheLink(const EDatabaseError& e);

  // The timestamp type's maximum scale, asked once per connection (-1: the
  // driver cannot say; -2: not asked yet).
  int TypeScale();

  const std::string connectionString_;
  int typeScale_ = -2;
  // DialectTimestampDigits of the source connected to.
  int knownDigits_ = -1;
  void* env_ = nullptr;
  void* dbc_ = nullptr;
  bool connected_ = false;
};

// The connection string with the values of its PWD and Password attributes
// (keys in any case) replaced by "***", for printing. Attributes are split at
// the semicolons outside braces; a braced value ("{a;b}}c}", "}}" standing
// for "}") is replaced whole, an unterminated one up to the end.
std::string ConnectionStringWithoutSecrets(std::string_view connectionString);

// text with every PWD and Password value of connectionString replaced by
// "***" wherever it occurs (a driver's message may echo the connection string
// or the password), for the log and the terminal. A braced value is looked
// for both as written and without its braces. Both in the same encoding.
std::string TextWithoutSecrets(std::string_view text, std::string_view connectionString);

#ifdef _WIN32
// Creates an empty Access database file (UTF-8 path) through the ODBC
// installer and the named Access driver ("CREATE_DB=<file> General"). Raises
// EDatabaseError naming the driver when it is not installed, else with the
// installer's own text. REQUIRES: fileName does not exist.
void CreateAccessDatabaseFile(const std::string& fileName, const std::string& driver);
#endif

// The table definitions of the record store for a source of that dialect,
// one statement per table, T_Room's with the unique key UQ_T_Room_RoomNo on
// RoomNo.
std::vector<std::pair<std::string, std::string>> OdbcSchema(TOdbcDialect dialect);

// Creates both tables in the source when missing, in the source's dialect;
// changes nothing that exists. created, when given, receives the names of the
// tables made. Answers false with error set (UTF-8) when the connection or a
// statement fails.
bool CreateOdbcTables(const std::string& connectionString, std::string& error,
                      std::vector<std::string>* created = nullptr);

// Whether the source connects and holds both tables; changes nothing. Answers
// false with error set (UTF-8): the driver's text, or "table X is missing".
// When it holds them and roomKey is given, sets it to whether T_Room has its
// unique key on RoomNo (tables made before the key have none).
bool ProbeOdbcTables(const std::string& connectionString, std::string& error,
                     bool* roomKey = nullptr);

#endif  // VELIO_DOORLOCK_ODBCSTOREUNIT_H_
