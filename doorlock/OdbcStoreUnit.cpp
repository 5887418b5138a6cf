// OdbcStoreUnit: ODBC handles held by RAII, statements prepared once per call,
// parameters bound from buffers that live until the statement is freed.
//
// Only the plain entry points are used (SQLDriverConnect, SQLPrepare, ...):
// they are what every driver manager offers, Wine's included, which hands the
// calls of the Windows build to the host's unixODBC when tested under Wine.
// Diagnostics come back in the ANSI code page on Windows and in UTF-8 from
// unixODBC; either way the error text is converted to code page 936. A new
// Access file is made by the ODBC installer's SQLConfigDataSourceW, the one
// way the Access driver offers to create a database.
#include "doorlock/OdbcStoreUnit.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#ifdef _WIN32
#include <odbcinst.h>
#endif

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>

namespace {

// Seconds a connection may take before it fails.
constexpr SQLULEN kLoginSeconds = 5;

#ifdef _WIN32
// UTF-8 to UTF-16 for the wide entry points.
std::u16string Utf16(const std::string& s) {
  std::u16string wide;
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  wide.resize(n);
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()),
                      reinterpret_cast<LPWSTR>(wide.data()), n);
  return wide;
}
#endif

// The diagnostic records of a handle joined by blanks, or what failed; state
// receives the first record's SQLSTATE (empty when there is none).
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, const char* what,
                        std::string* firstState = nullptr) {
  std::string text;
  for (SQLSMALLINT i = 1; handle; ++i) {
    SQLCHAR state[6] = {};
    SQLCHAR message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, message,
                                 static_cast<SQLSMALLINT>(sizeof message), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (i == 1 && firstState) *firstState = reinterpret_cast<const char*>(state);
    if (!text.empty()) text += ' ';
    text += reinterpret_cast<const char*>(message);
  }
  if (text.empty()) text = std::string(what) + " failed";
#ifdef _WIN32
  return text;
#else
  return Utf8ToAnsi(text);
#endif
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (SQL_SUCCEEDED(rc)) return;
  std::string state;
  std::string text = Diagnostics(type, handle, what, &state);
  throw EDatabaseError(text, OdbcFailureKind(state, text));
}

// One statement handle and the buffers bound to it.
class TStatement {
 public:
  // typeScale, when given, answers the timestamp type's maximum scale;
  // knownDigits, when 0 or more, is the fraction digits to bind without
  // asking the driver.
  explicit TStatement(SQLHDBC dbc, std::function<int()> typeScale = {}, int knownDigits = -1)
      : typeScale_(std::move(typeScale)), knownDigits_(knownDigits) {
    ::Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_), SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
  }
  ~TStatement() {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  void Prepare(std::string_view sql, const std::vector<TDbParam>& params) {
    std::vector<std::string> names;
    std::string text = ToPositionalMarkers(sql, names);
    Check(SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(text.data()),
                     static_cast<SQLINTEGER>(text.size())),
          "SQLPrepare");
    buffers_.resize(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      const TDbParam* p = nullptr;
      for (const TDbParam& q : params)
        if (names[i] == q.Name) p = &q;
      if (!p) throw EDatabaseError("no such parameter: " + names[i]);
      Bind(static_cast<SQLUSMALLINT>(i + 1), *p, buffers_[i]);
    }
  }

  void Run() {
    SQLRETURN rc = SQLExecute(stmt_);
    // An update or insert that changes no row answers SQL_NO_DATA.
    if (rc != SQL_NO_DATA) Check(rc, "SQLExecute");
  }

  int RowCount() {
    SQLLEN rows = 0;
    Check(SQLRowCount(stmt_, &rows), "SQLRowCount");
    return rows < 0 ? 0 : static_cast<int>(rows);
  }

  // The first column of the next row as a date-time; false when no row is
  // left. Read as text: a value that is no date-time raises.
  bool FetchDate(TDateTime& value) {
    SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) return false;
    Check(rc, "SQLFetch");
    char text[64] = {};
    SQLLEN indicator = 0;
    Check(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &indicator), "SQLGetData");
    if (indicator == SQL_NULL_DATA) {
      value = 0;
      return true;
    }
#ifdef _WIN32
    value = StoredDateTimeOrError(text);
#else
    value = StoredDateTimeOrError(Utf8ToAnsi(text));
#endif
    return true;
  }

  SQLHSTMT Handle() const {
    return stmt_;
  }

 private:
  struct TBuffer {
    std::u16string Text;
    SQL_TIMESTAMP_STRUCT Stamp = {};
    SQLINTEGER Integer = 0;
    unsigned char Bit = 0;
    SQLLEN Length = 0;
  };

  void Check(SQLRETURN rc, const char* what) {
    ::Check(rc, SQL_HANDLE_STMT, stmt_, what);
  }

  // The decimal digits the driver gives for a parameter it describes as a
  // timestamp; -1 when it cannot describe it or describes it as another type
  // (the SQLite ODBC driver calls every parameter a long text).
  int DescribedScale(SQLUSMALLINT index) {
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(SQLDescribeParam(stmt_, index, &type, &size, &digits, &nullable))) return -1;
    if (type != SQL_TYPE_TIMESTAMP && type != SQL_TIMESTAMP) return -1;
    return digits;
  }

  void Bind(SQLUSMALLINT index, const TDbParam& p, TBuffer& b) {
    SQLRETURN rc = SQL_ERROR;
    switch (p.Kind) {
      case TDbParam::Text: {
        b.Text = AnsiToWide(p.TextValue);
        b.Length = static_cast<SQLLEN>(b.Text.size() * sizeof(char16_t));
        // A text of 255 characters or more goes as a long text, which every
        // driver accepts for a text column.
        const SQLSMALLINT type = b.Text.size() < 255 ? SQL_WVARCHAR : SQL_WLONGVARCHAR;
        const SQLULEN size = b.Text.empty() ? 1 : b.Text.size();
        rc = SQLBindParameter(stmt_, index, SQL_PARAM_INPUT, SQL_C_WCHAR, type, size, 0,
                              b.Text.data(), b.Length, &b.Length);
        break;
      }
      case TDbParam::Date: {
        TDateTimeParts d = DecodeDateTime(p.DateValue);
        // The type's scale is asked only when the parameter says nothing.
        const int described = knownDigits_ >= 0 ? -1 : DescribedScale(index);
        const int digits =
            knownDigits_ >= 0
                ? knownDigits_
                : TimestampDigits(described, described >= 0 || !typeScale_ ? -1 : typeScale_());
        const TTimestampBinding binding = TimestampBinding(digits, d.MilliSecond);
        b.Stamp.year = static_cast<SQLSMALLINT>(d.Year);
        b.Stamp.month = static_cast<SQLUSMALLINT>(d.Month);
        b.Stamp.day = static_cast<SQLUSMALLINT>(d.Day);
        b.Stamp.hour = static_cast<SQLUSMALLINT>(d.Hour);
        b.Stamp.minute = static_cast<SQLUSMALLINT>(d.Minute);
        b.Stamp.second = static_cast<SQLUSMALLINT>(d.Second);
        b.Stamp.fraction = binding.Fraction;
        b.Length = sizeof b.Stamp;
        rc = SQLBindParameter(stmt_, index, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                              SQL_TYPE_TIMESTAMP, static_cast<SQLULEN>(binding.ColumnSize),
                              static_cast<SQLSMALLINT>(digits), &b.Stamp, 0, &b.Length);
        break;
      }
      case TDbParam::Integer:
        b.Integer = static_cast<SQLINTEGER>(p.IntValue);
        b.Length = 0;
        rc = SQLBindParameter(stmt_, index, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                              &b.Integer, 0, &b.Length);
        break;
      case TDbParam::Boolean:
        b.Bit = p.IntValue ? 1 : 0;
        b.Length = 0;
        rc = SQLBindParameter(stmt_, index, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 1, 0, &b.Bit, 0,
                              &b.Length);
        break;
    }
    Check(rc, "SQLBindParameter");
  }

  std::function<int()> typeScale_;
  const int knownDigits_;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<TBuffer> buffers_;
};

}  // namespace

std::string ToPositionalMarkers(std::string_view sql, std::vector<std::string>& names) {
  std::string out;
  out.reserve(sql.size());
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote) {
      if (c == quote) quote = 0;
      out.push_back(c);
    } else if (c == '\'' || c == '"') {
      quote = c;
      out.push_back(c);
    } else if (c == ':' && i + 1 < sql.size() &&
               (std::isalpha(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '_')) {
      size_t j = i + 1;
      while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_'))
        ++j;
      names.emplace_back(sql.substr(i, j - i));
      out.push_back('?');
      i = j - 1;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

EDatabaseError::TKind OdbcFailureKind(std::string_view state, std::string_view message) {
  if (state.size() == 5 && state.substr(0, 2) == "23") return EDatabaseError::DuplicateKey;
  if (message.find("UNIQUE constraint failed") != std::string_view::npos)
    return EDatabaseError::DuplicateKey;
  if (state.size() == 5 && state.substr(0, 2) == "08") return EDatabaseError::LinkLost;
  return EDatabaseError::Failure;
}

TOdbcDialect OdbcDialectOf(std::string_view dbmsName) {
  std::string name;
  for (char c : dbmsName)
    name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (name.find("postgres") != std::string::npos) return TOdbcDialect::PostgreSql;
  if (name.find("mariadb") != std::string::npos || name.find("mysql") != std::string::npos)
    return TOdbcDialect::MariaDb;
  return TOdbcDialect::Generic;
}

int DialectTimestampDigits(TOdbcDialect dialect) {
  return dialect == TOdbcDialect::Generic ? -1 : 3;
}

int TimestampDigits(int describedScale, int typeScale) {
  const int scale = describedScale >= 0 ? describedScale : typeScale;
  if (scale <= 0) return 0;
  return scale < 3 ? scale : 3;
}

TTimestampBinding TimestampBinding(int digits, int milliSecond) {
  if (digits <= 0) return {19, 0};
  int kept = milliSecond;
  for (int k = digits; k < 3; ++k) kept /= 10;
  for (int k = digits; k < 3; ++k) kept *= 10;
  return {20 + digits, static_cast<unsigned>(kept) * 1000000u};
}

int TOdbcStore::TypeScale() {
  if (typeScale_ != -2) return typeScale_;
  typeScale_ = -1;
  try {
    TStatement st(dbc_);
    if (!SQL_SUCCEEDED(SQLGetTypeInfo(st.Handle(), SQL_TYPE_TIMESTAMP))) return typeScale_;
    // Several rows when the source has several timestamp types: the largest.
    while (SQL_SUCCEEDED(SQLFetch(st.Handle()))) {
      SQLSMALLINT scale = 0;
      SQLLEN indicator = 0;
      if (SQL_SUCCEEDED(SQLGetData(st.Handle(), 15, SQL_C_SSHORT, &scale, 0, &indicator)) &&
          indicator != SQL_NULL_DATA && scale > typeScale_)
        typeScale_ = scale;
    }
  } catch (const EDatabaseError&) {
    // No statement handle: the driver cannot say.
  }
  return typeScale_;
}

TOdbcStore::TOdbcStore(std::string connectionString)
    : connectionString_(std::move(connectionString)) {}

TOdbcStore::~TOdbcStore() {
  if (connected_) SQLDisconnect(dbc_);
  if (dbc_) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void TOdbcStore::Open() {
  typeScale_ = -2;  // another source may be reached
  knownDigits_ = -1;
  if (connected_) {
    SQLDisconnect(dbc_);
    connected_ = false;
  }
  if (!env_) {
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
      throw EDatabaseError("ODBC: no environment handle (is the driver manager installed?)");
    env_ = env;
    Check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, env, "SQLSetEnvAttr");
  }
  if (!dbc_) {
    SQLHDBC dbc = SQL_NULL_HDBC;
    Check(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc), SQL_HANDLE_ENV, env_, "SQLAllocHandle");
    dbc_ = dbc;
    // No login dialog, ever: the store runs without a window. A server that
    // does not answer fails the connection after a few seconds, not the
    // system's TCP timeout (a driver that cannot set this goes on without).
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginSeconds), 0);
  }
#ifdef _WIN32
  // File paths in the string may hold any character: the wide entry point.
  std::u16string wide = Utf16(connectionString_);
  SQLWCHAR out[1024];
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(wide.data()),
                                   static_cast<SQLSMALLINT>(wide.size()), out, 1024, &outLength,
                                   SQL_DRIVER_NOPROMPT);
#else
  std::string in = connectionString_;
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                  static_cast<SQLSMALLINT>(in.size()), out, sizeof out, &outLength,
                                  SQL_DRIVER_NOPROMPT);
#endif
  Check(rc, SQL_HANDLE_DBC, dbc_, "SQLDriverConnect");
  connected_ = true;
  knownDigits_ = DialectTimestampDigits(OdbcDialectOf(DbmsName()));
}

int TOdbcStore::Execute(const char* sql, const std::vector<TDbParam>& params) {
  try {
    TStatement st(
        dbc_, [this] { return TypeScale(); }, knownDigits_);
    st.Prepare(sql, params);
    st.Run();
    return st.RowCount();
  } catch (const EDatabaseError& e) {
    ThrowKnowingTheLink(e);
  }
}

TDateTime TOdbcStore::SelectDate(const char* sql, const std::vector<TDbParam>& params) {
  try {
    TStatement st(
        dbc_, [this] { return TypeScale(); }, knownDigits_);
    st.Prepare(sql, params);
    st.Run();
    TDateTime value = 0;
    if (!st.FetchDate(value)) return 0;
    return value;
  } catch (const EDatabaseError& e) {
    ThrowKnowingTheLink(e);
  }
}

void TOdbcStore::ThrowKnowingTheLink(const EDatabaseError& e) {
  if (e.Kind() == EDatabaseError::Failure && connected_) {
    // Not every driver says 08xxx when the server went away: ask it.
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (SQL_SUCCEEDED(
            SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, sizeof dead, nullptr)) &&
        dead == SQL_CD_TRUE)
      throw EDatabaseError(e.what(), EDatabaseError::LinkLost);
  }
  throw e;
}

std::string TOdbcStore::DbmsName() {
  SQLCHAR name[256] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &length), SQL_HANDLE_DBC, dbc_,
        "SQLGetInfo");
  return reinterpret_cast<const char*>(name);
}

bool TOdbcStore::RoomKeyExists() {
  const std::string table = FoundTableName("T_Room");
  if (table.empty()) return false;
  TStatement st(dbc_);
  std::string name = table;
  Check(SQLStatistics(st.Handle(), nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()),
                      SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK),
        SQL_HANDLE_STMT, st.Handle(), "SQLStatistics");
  // The columns of each unique index; the key is one on RoomNo alone.
  std::vector<std::pair<std::string, std::string>> columns;  // index, column
  while (SQL_SUCCEEDED(SQLFetch(st.Handle()))) {
    SQLCHAR index[256] = {}, column[256] = {};
    SQLLEN indexLength = 0, columnLength = 0;
    SQLSMALLINT nonUnique = 1;
    SQLLEN nonUniqueLength = 0;
    SQLGetData(st.Handle(), 4, SQL_C_SSHORT, &nonUnique, 0, &nonUniqueLength);
    if (!SQL_SUCCEEDED(SQLGetData(st.Handle(), 6, SQL_C_CHAR, index, sizeof index, &indexLength)) ||
        !SQL_SUCCEEDED(
            SQLGetData(st.Handle(), 9, SQL_C_CHAR, column, sizeof column, &columnLength)) ||
        indexLength == SQL_NULL_DATA || columnLength == SQL_NULL_DATA ||
        nonUniqueLength == SQL_NULL_DATA || nonUnique != 0)
      continue;  // the table's statistics row, or a non-unique index
    columns.emplace_back(reinterpret_cast<const char*>(index),
                         reinterpret_cast<const char*>(column));
  }
  for (const auto& entry : columns) {
    const std::string& index = entry.first;
    std::string lower;
    for (char c : entry.second)
      lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (lower != "roomno") continue;
    const auto sameIndex = std::count_if(columns.begin(), columns.end(),
                                         [&index](const auto& c) { return c.first == index; });
    if (sameIndex == 1) return true;
  }
  return false;
}

void TOdbcStore::ExecDirect(const std::string& sql) {
  TStatement st(dbc_);
  std::string text = sql;
  SQLRETURN rc = SQLExecDirect(st.Handle(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
  if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, st.Handle(), "SQLExecDirect");
}

std::string TOdbcStore::FoundTableName(const std::string& name) {
  // A source that folds unquoted names (PostgreSQL: to lower case) lists the
  // table under the folded name.
  std::string lower = name, upper = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& candidate : {name, lower, upper}) {
    TStatement st(dbc_);
    std::string table = candidate;
    std::string kind = "TABLE";
    Check(SQLTables(st.Handle(), nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(table.data()),
                    SQL_NTS, reinterpret_cast<SQLCHAR*>(kind.data()), SQL_NTS),
          SQL_HANDLE_STMT, st.Handle(), "SQLTables");
    SQLRETURN rc = SQLFetch(st.Handle());
    if (rc == SQL_NO_DATA) continue;
    Check(rc, SQL_HANDLE_STMT, st.Handle(), "SQLFetch");
    return candidate;
  }
  return std::string();
}

bool TOdbcStore::TableExists(const std::string& name) {
  return !FoundTableName(name).empty();
}

namespace {

// The spans [begin, end) of the PWD and Password values (keys in any case) of
// a connection string. Attributes are split at the semicolons outside braces.
std::vector<std::pair<size_t, size_t>> SecretSpans(std::string_view s) {
  auto secret = [](std::string_view key) {
    while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    auto same = [key](std::string_view name) {
      if (key.size() != name.size()) return false;
      for (size_t i = 0; i < key.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(key[i])) != name[i]) return false;
      return true;
    };
    return same("pwd") || same("password");
  };
  std::vector<std::pair<size_t, size_t>> spans;
  size_t i = 0;
  while (i < s.size()) {
    const size_t equals = s.find_first_of("=;", i);
    if (equals == std::string_view::npos || s[equals] == ';') {
      // An attribute without a value.
      i = equals == std::string_view::npos ? s.size() : equals + 1;
      continue;
    }
    const std::string_view key = s.substr(i, equals - i);
    const size_t start = equals + 1;
    size_t j = start;
    while (j < s.size() && s[j] == ' ') ++j;
    if (j < s.size() && s[j] == '{') {
      // Braced: up to the first "}" that is not doubled.
      for (++j; j < s.size(); ++j) {
        if (s[j] != '}') continue;
        if (j + 1 < s.size() && s[j + 1] == '}') {
          ++j;
          continue;
        }
        ++j;
        break;
      }
    }
    while (j < s.size() && s[j] != ';') ++j;
    if (secret(key)) spans.emplace_back(start, j);
    i = j + 1;
  }
  return spans;
}

}  // namespace

std::string ConnectionStringWithoutSecrets(std::string_view s) {
  std::string out;
  size_t from = 0;
  for (const auto& [begin, end] : SecretSpans(s)) {
    out.append(s.substr(from, begin - from));
    out.append("***");
    from = end;
  }
  out.append(s.substr(from));
  return out;
}

std::string TextWithoutSecrets(std::string_view text, std::string_view connectionString) {
  std::vector<std::string> values;
  for (const auto& [begin, end] : SecretSpans(connectionString)) {
    std::string value(connectionString.substr(begin, end - begin));
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    if (value.empty()) continue;
    values.push_back(value);
    if (value.size() >= 2 && value.front() == '{' && value.back() == '}') {
      std::string inner;
      for (size_t k = 1; k + 1 < value.size(); ++k) {
        inner.push_back(value[k]);
        if (value[k] == '}' && value[k + 1] == '}') ++k;
      }
      if (!inner.empty()) values.push_back(inner);
    }
  }
  // The longest first, so that no part of a longer value is left showing.
  std::sort(values.begin(), values.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::string out(text);
  for (const std::string& value : values)
    for (size_t at = out.find(value); at != std::string::npos; at = out.find(value, at + 3))
      out.replace(at, value.size(), "***");
  return out;
}

#ifdef _WIN32
void CreateAccessDatabaseFile(const std::string& fileName, const std::string& driver) {
  const std::u16string wideDriver = Utf16(driver);
  // The installed drivers' names, each ended by a null, the list by another.
  std::vector<char16_t> names(32768);
  WORD length = 0;
  // When the list cannot be had, the installer below says what is wrong.
  bool installed = true;
  if (SQLGetInstalledDriversW(reinterpret_cast<LPWSTR>(names.data()),
                              static_cast<WORD>(names.size() - 1), &length)) {
    installed = false;
    for (const char16_t* name = names.data(); *name;
         name += std::char_traits<char16_t>::length(name) + 1)
      if (wideDriver == name) installed = true;
  }
  const std::string notInstalled = "cannot create the Access database: the ODBC driver \"" +
                                   driver +
                                   "\" is not installed (--store names another ODBC source)";
  if (!installed) throw EDatabaseError(Utf8ToAnsi(notInstalled));
  // "CREATE_DB=<file> General": a new database, general sort order; the
  // attribute list ends with an empty attribute.
  std::u16string attributes = u"CREATE_DB=\"" + Utf16(fileName) + u"\" General";
  attributes.push_back(u'\0');
  attributes.push_back(u'\0');
  if (SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, reinterpret_cast<LPCWSTR>(wideDriver.c_str()),
                           reinterpret_cast<LPCWSTR>(attributes.c_str())))
    return;
  std::u16string text;
  DWORD first = 0;
  for (WORD i = 1; i <= 8; ++i) {
    DWORD code = 0;
    char16_t message[SQL_MAX_MESSAGE_LENGTH] = {};
    WORD messageLength = 0;
    SQLRETURN rc = SQLInstallerErrorW(i, &code, reinterpret_cast<LPWSTR>(message),
                                      SQL_MAX_MESSAGE_LENGTH, &messageLength);
    if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(rc)) break;
    if (!text.empty()) text += u' ';
    text += message;
    if (!first) first = code;
  }
  if (first == ODBC_ERROR_COMPONENT_NOT_FOUND)
    throw EDatabaseError(Utf8ToAnsi(notInstalled + ": ") + WideToAnsi(text));
  if (text.empty()) text = u"the driver gave no reason";
  throw EDatabaseError(
      Utf8ToAnsi("cannot create the Access database through the ODBC driver \"" + driver + "\": ") +
      WideToAnsi(text));
}
#endif

std::vector<std::pair<std::string, std::string>> OdbcSchema(TOdbcDialect dialect) {
  struct TTypes {
    const char *Text, *LongText, *DateTime, *Integer, *Boolean, *Options;
  };
  static const TTypes kGeneric = {"VARCHAR(50)", "VARCHAR(255)", "DATETIME", "INTEGER", "BIT", ""};
  static const TTypes kPostgreSql = {"VARCHAR(50)", "VARCHAR(255)", "TIMESTAMP(3)",
                                     "INTEGER",     "BOOLEAN",      ""};
  // Guest names in any script, whatever the server's default character set.
  static const TTypes kMariaDb = {"VARCHAR(50)", "VARCHAR(255)", "DATETIME(3)",
                                  "INT",         "BOOLEAN",      " DEFAULT CHARSET=utf8mb4"};
  const TTypes& t = dialect == TOdbcDialect::PostgreSql ? kPostgreSql
                    : dialect == TOdbcDialect::MariaDb  ? kMariaDb
                                                        : kGeneric;
  const std::string text = t.Text, dateTime = t.DateTime;
  return {
      {"T_Room", "CREATE TABLE T_Room (RoomNo " + text + ", LastCheckInTime " + dateTime +
                     ", CONSTRAINT UQ_T_Room_RoomNo UNIQUE (RoomNo))" + t.Options},
      {"T_IssueCardRecord",
       "CREATE TABLE T_IssueCardRecord (RegisterId " + text + ", CardNo " + text + ", RoomNo " +
           text + ", CardType " + t.Integer + ", LastCheckInTime " + dateTime + ", CheckInTime " +
           dateTime + ", CheckOutTime " + dateTime + ", IsCopy " + t.Boolean + ", GuestName " +
           t.LongText + ", OpratingTime " + dateTime + ")" + t.Options},
  };
}

bool CreateOdbcTables(const std::string& connectionString, std::string& error,
                      std::vector<std::string>* created) {
  try {
    TOdbcStore odbc(connectionString);
    odbc.Open();
    const TOdbcDialect dialect = OdbcDialectOf(odbc.DbmsName());
    for (const auto& [table, ddl] : OdbcSchema(dialect)) {
      if (odbc.TableExists(table)) continue;
      odbc.ExecDirect(ddl);
      if (created) created->push_back(table);
    }
  } catch (const EDatabaseError& e) {
    error = AnsiToUtf8(e.what());
    return false;
  }
  return true;
}

bool ProbeOdbcTables(const std::string& connectionString, std::string& error, bool* roomKey) {
  try {
    TOdbcStore odbc(connectionString);
    odbc.Open();
    for (const char* table : {"T_Room", "T_IssueCardRecord"}) {
      if (!odbc.TableExists(table)) {
        error = std::string("table ") + table + " is missing";
        return false;
      }
    }
    if (roomKey) *roomKey = odbc.RoomKeyExists();
  } catch (const EDatabaseError& e) {
    error = AnsiToUtf8(e.what());
    return false;
  }
  return true;
}
