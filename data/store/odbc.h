// A thin C++ layer over the ODBC API (unixODBC): one owner per handle, every call checked, the
// driver's diagnostics turned into StoreError with the text a person reads.
//
// Text crosses the API as UTF-16 (the W functions; SQLWCHAR is 16 bits under unixODBC), so an
// accented name reaches a UTF-8 PostgreSQL or SQLite store and SQL Server's varchar and nvarchar
// columns alike. Our own text is code page 1252, names and connection strings UTF-8; the
// conversions are those of normalise/codepage.h.
#pragma once

// Windows' ODBC headers use the Windows types without declaring them.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/errors.h"
#include "data/value.h"

namespace importacao::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC must use 16-bit SQLWCHAR");

inline SQLWCHAR* sqlText(std::u16string& text) noexcept {
  return reinterpret_cast<SQLWCHAR*>(text.data());
}
inline SQLWCHAR* sqlText(const std::u16string& text) noexcept {
  // The ODBC prototypes take non-const pointers to input strings they never write.
  return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.data()));
}

// --- Diagnostics -------------------------------------------------------------------------------

// One diagnostic record as the driver gives it.
struct DiagnosticRecord {
  std::string sqlState;  // five characters, "23505"
  long nativeCode = 0;
  std::u16string text;
};

// Every record SQLGetDiagRecW gives for the handle, from 1 until it stops succeeding.
std::vector<DiagnosticRecord> readDiagnostics(SQLSMALLINT type, SQLHANDLE handle);

// The text of one record as a person reads it: the component tags the driver manager and the
// driver put in front ("[unixODBC][Driver Manager]", "[FreeTDS][SQL Server]", "[SQLite]") are
// removed, then trailing blanks, control characters and full stops.
std::u16string cleanDiagnosticText(std::u16string_view text);

// Trailing blanks, control characters and full stops removed (code page 1252 text).
std::string trimMessageEnd(std::string_view text);

// The error for a set of records, one record's meaning: the first record that reports an error
// (an SQLSTATE of a class other than 01, warnings and notes), or the first record when none
// does. The drivers put the cause first and follow it with what adds nothing to it: SQL Server's
// "The statement has been terminated" (01000), "Statement(s) could not be prepared" after the
// missing object, FreeTDS's "Unable to connect to data source" after the reason. Its SQLSTATE,
// native code and cleaned text converted to code page 1252, the end trimmed (the lines of the one
// record stay as the driver wrote them: psqlODBC's ERROR and DETAIL). Without any text: "OLE
// error %.8x" with its native code (80004005, the generic failure code, when there is none).
// `fallbackState` is the SQLSTATE when there is no record at all.
StoreError errorFromDiagnostics(const std::vector<DiagnosticRecord>& records,
                                std::string_view fallbackState = "HY000");

// Throws errorFromDiagnostics(readDiagnostics(type, handle)).
[[noreturn]] void throwDiagnostics(SQLSMALLINT type, SQLHANDLE handle);

inline void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
  if (!SQL_SUCCEEDED(rc)) throwDiagnostics(type, handle);
}

// `text` with every occurrence of `secret` (a password) replaced by "********". An empty
// secret changes nothing.
std::string hideSecret(std::string text, std::string_view secret);

// --- Handles -----------------------------------------------------------------------------------

// Owns one ODBC handle. A failed allocation is diagnosed from the parent handle.
template <SQLSMALLINT Type>
class OdbcHandle {
 public:
  OdbcHandle() = default;
  OdbcHandle(SQLSMALLINT parentType, SQLHANDLE parent) {
    check(SQLAllocHandle(Type, parent, &handle_), parentType, parent);
  }
  ~OdbcHandle() { reset(); }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  OdbcHandle(OdbcHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  SQLHANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != SQL_NULL_HANDLE; }
  void reset() noexcept {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(Type, std::exchange(handle_, nullptr));
  }

 private:
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// The ODBC environment, set to ODBC 3 behaviour. One per connection object is enough.
class Environment {
 public:
  Environment();  // throws StoreError
  SQLHENV get() const noexcept { return handle_.get(); }

  // The names of the installed drivers (SQLDriversW), as UTF-8.
  std::vector<std::string> driverNames() const;

 private:
  OdbcHandle<SQL_HANDLE_ENV> handle_;
};

// One database connection. Closed until open() succeeds; the destructor closes it.
class Connection {
 public:
  explicit Connection(const Environment& environment);  // allocates; throws StoreError
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens with an ODBC connection string (UTF-8), never prompting, giving up after
  // `loginTimeoutSeconds` when the server does not answer (SQL_ATTR_LOGIN_TIMEOUT; a driver
  // that cannot time out a login connects as it would). A failure throws StoreError with the
  // driver's text, in which `secret` (the password) is never shown.
  void open(std::string_view connectionString, std::string_view secret, int loginTimeoutSeconds);
  // Rolls back what is uncommitted (only a transaction we opened can be) and disconnects.
  // Never throws.
  void close() noexcept;
  bool isOpen() const noexcept { return open_; }

  SQLHDBC get() const noexcept { return handle_.get(); }

  // SQLGetInfoW of a text item, as UTF-8.
  std::string infoText(SQLUSMALLINT item) const;

  void setAutocommit(bool on);
  // Ends the current transaction (SQLEndTran).
  void commit();
  void rollback();

 private:
  OdbcHandle<SQL_HANDLE_DBC> handle_;
  bool open_ = false;
};

// --- Statements --------------------------------------------------------------------------------

// The storage of one bound parameter. Keep it alive and unmoved from bind until execute ends.
struct ParameterBuffer {
  SQLSMALLINT ioType = SQL_PARAM_INPUT;
  SQLSMALLINT cType = SQL_C_WCHAR;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN columnSize = 0;
  SQLSMALLINT decimalDigits = 0;
  std::u16string wide;               // SQL_C_WCHAR
  std::string narrow;                // SQL_C_CHAR (decimals as text), SQL_C_BINARY
  std::int64_t integer = 0;          // SQL_C_SBIGINT
  double real = 0.0;                 // SQL_C_DOUBLE
  unsigned char bit = 0;             // SQL_C_BIT
  SQL_TIMESTAMP_STRUCT timestamp{};  // SQL_C_TYPE_TIMESTAMP
  SQLLEN indicator = 0;              // SQL_NULL_DATA for null
};

// One result column as SQLDescribeColW and SQLColAttributeW report it.
struct ColumnDescription {
  std::string name;         // UTF-8
  SQLSMALLINT sqlType = 0;  // SQL_VARCHAR, SQL_WVARCHAR, SQL_INTEGER, ...
  SQLULEN columnSize = 0;
  SQLSMALLINT decimalDigits = 0;
  bool nullable = true;
  bool updatable = true;       // SQL_DESC_UPDATABLE is not SQL_ATTR_READONLY
  bool autoIncrement = false;  // SQL_DESC_AUTO_UNIQUE_VALUE
  std::string typeName;        // SQL_DESC_TYPE_NAME: "varchar", "int identity", "serial", ...
  std::string baseTable;       // SQL_DESC_BASE_TABLE_NAME; empty for a computed column
  std::string baseSchema;      // SQL_DESC_SCHEMA_NAME
};

// One statement handle on a connection. Not copyable; movable.
class Statement {
 public:
  explicit Statement(const Connection& connection);
  // Closes the cursor before freeing the handle (psqlODBC leaks a statement freed after a
  // failed execution unless its cursor was closed first).
  ~Statement();
  Statement(Statement&&) noexcept = default;
  Statement& operator=(Statement&&) noexcept = default;

  SQLHSTMT get() const noexcept { return handle_.get(); }

  void prepare(const std::u16string& text);
  // Binds `buffers[i]` to marker i+1; the buffers must stay where they are until execution ends.
  // Bindings persist across executions: a marker whose buffer, types and size are those it was
  // bound with last time is not bound again (binding is costly in some drivers), so a caller
  // that keeps its buffers only changes their values.
  void bindParameters(std::vector<ParameterBuffer>& buffers);
  // Runs the prepared statement. Returns false when the driver says SQL_NO_DATA (an update or
  // delete that touched no row), true otherwise; a failure throws StoreError.
  bool execute();
  // Runs the prepared statement and passes over every result it gives (SQLMoreResults until
  // there is none): an error in any of them throws StoreError, even after a first result that
  // succeeded (a trigger's, or a later statement's). Returns the number of rows the statement
  // changed (see changedRows).
  SQLLEN executeToEnd();
  // Prepares nothing: sends `text` once.
  bool executeDirect(const std::u16string& text);
  // Closes an open cursor, keeping the prepared statement and its bindings.
  void closeCursor() noexcept;

  SQLSMALLINT resultColumnCount() const;
  ColumnDescription describeColumn(SQLUSMALLINT column) const;
  SQLLEN rowCount() const;
  // Moves to the next row; false at the end.
  bool fetch();

  // The value of a column of the current row (SQLGetData, 1-based), in the C type asked for.
  // nullopt for SQL NULL. Text is read whole, in as many pieces as the driver needs.
  std::optional<std::u16string> getText(SQLUSMALLINT column);
  // As getText, into `out` (reusing its storage); false for SQL NULL.
  bool getText(SQLUSMALLINT column, std::u16string& out);
  std::optional<std::int64_t> getInteger(SQLUSMALLINT column);
  std::optional<double> getDouble(SQLUSMALLINT column);
  std::optional<SQL_TIMESTAMP_STRUCT> getTimestamp(SQLUSMALLINT column);
  std::optional<std::string> getBinary(SQLUSMALLINT column);

 private:
  struct Binding {
    const void* value = nullptr;
    const SQLLEN* indicator = nullptr;
    SQLSMALLINT ioType = 0;
    SQLSMALLINT cType = 0;
    SQLSMALLINT sqlType = 0;
    SQLULEN columnSize = 0;
    SQLSMALLINT decimalDigits = 0;
    friend bool operator==(const Binding&, const Binding&) = default;
  };
  OdbcHandle<SQL_HANDLE_STMT> handle_;
  std::vector<Binding> bound_;
};

// The rows a statement changed, read over all the results it gave. `first` is what the
// execution returned (SQL_NO_DATA: it changed no row); `next` moves to the following result
// (SQLMoreResults: SQL_NO_DATA when there is none); `rowCount` is the current result's count
// (-1 when it has none); `fail` throws the error of a result that failed. The count is the
// last one reported: a trigger's counts come before the count of the statement that fired it.
template <class Next, class RowCount, class Fail>
SQLLEN changedRows(SQLRETURN first, Next&& next, RowCount&& rowCount, Fail&& fail) {
  SQLLEN rows = first == SQL_NO_DATA ? 0 : rowCount();
  for (;;) {
    const SQLRETURN rc = next();
    if (rc == SQL_NO_DATA) return rows;
    if (!SQL_SUCCEEDED(rc)) fail();
    if (const SQLLEN count = rowCount(); count >= 0) rows = count;
  }
}

// --- Value conversions at the boundary ---------------------------------------------------------

// Days since 30 December 1899 <-> the ODBC timestamp. Milliseconds always come back as they
// went; microseconds do for dates before 2079, where the double's resolution is finer than half
// a microsecond. The fraction is rounded to the microsecond. A day count outside the years 1 to
// 9999 throws DataError "Datetime field overflow".
SQL_TIMESTAMP_STRUCT timestampFromDays(DateTime value);
DateTime daysFromTimestamp(const SQL_TIMESTAMP_STRUCT& value);

}  // namespace importacao::odbc
