// RecordStoreUnit: what the door-lock record store asks of a database engine.
//
// The store (DoorlockRecordManagerUnit) writes each statement once, with named
// markers (":RoomNo"), and hands it with its values to an engine: SQLite's own
// library (SqliteStoreUnit, Linux) or ODBC (OdbcStoreUnit, both systems). The
// engine binds every value after its kind, in its own database's types; how it
// stores texts and date-times is its own (see each engine). Which engine serves
// which database is decided in RecordStoreFactoryUnit only.
//
// Date-times are stored as text "YYYY-MM-DD HH:MM:SS.fff" by every engine
// that has no date-time type of its own (SQLite: the native engine and the
// SQLite ODBC driver write the same), and read back from that text, from the
// canonical text of a database's own date-time type, or from a day number
// (Client.db files written before kept REAL day numbers). A stored value that
// is none of these raises EDatabaseError: it is never read as some date.
//
// Failures raise EDatabaseError carrying the database's own message in code
// page 936 and what kind of failure it was: a duplicate key (another server
// stored the row first) and a lost connection (the engine cannot go on with
// it: the store opens a new one) are told apart from the rest. An engine is
// not thread-safe: the store runs one statement at a time.
#ifndef VELIO_DOORLOCK_RECORDSTOREUNIT_H_
#define VELIO_DOORLOCK_RECORDSTOREUNIT_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

// A database failure; what() is the database layer's message in code page 936.
class EDatabaseError : public std::runtime_error {
 public:
  enum TKind {
    Failure,       // any other failure
    DuplicateKey,  // the statement broke a unique key (SQLSTATE 23xxx)
    LinkLost       // the connection is gone (SQLSTATE 08xxx, or found dead)
  };
  explicit EDatabaseError(const std::string& text, TKind kind = Failure)
      : std::runtime_error(text), kind_(kind) {}
  TKind Kind() const { return kind_; }

 private:
  TKind kind_;
};

// The stored text of a date-time: "YYYY-MM-DD HH:MM:SS.fff" (local time, to
// the millisecond). REQUIRES: value within the years 1..9999.
std::string StoredDateTimeText(TDateTime value);

// Reads a stored date-time given as text: "YYYY-MM-DD", optionally followed by
// a blank or 'T' and "HH:MM:SS" with an optional fraction of 1 to 9 digits
// (kept to the millisecond, the rest cut off), or a decimal day number since
// 1899-12-30 within the years 1..9999. Answers false, value untouched, for
// any other text (an impossible date included).
bool ParseStoredDateTime(std::string_view text, TDateTime& value);

// ParseStoredDateTime, or EDatabaseError naming the value (code page 936,
// as stored text may hold anything).
TDateTime StoredDateTimeOrError(std::string_view text);

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

// One connection to the record database. Made unconnected; the destructor
// closes whatever is open.
class TRecordStore {
 public:
  virtual ~TRecordStore() = default;

  // Connects to the existing database (never creates it); a connection already
  // made is closed first. Raises EDatabaseError with the database's text, and
  // the store is then unconnected.
  virtual void Open() = 0;

  // Runs a statement that returns no rows; answers the number of rows changed.
  // REQUIRES: Open succeeded. A marker of sql without a parameter of that name
  // raises EDatabaseError.
  virtual int Execute(const char* sql, const std::vector<TDbParam>& params) = 0;

  // Runs a select and answers the first column of its first row as a
  // date-time; no row or a null value gives 0. REQUIRES as Execute.
  virtual TDateTime SelectDate(const char* sql, const std::vector<TDbParam>& params) = 0;
};

#endif  // VELIO_DOORLOCK_RECORDSTOREUNIT_H_
