// The floor of the import benchmarks: a minimal program straight on the ODBC API, one prepared
// handle per statement, autocommit, no record layer. The products and the customers and
// suppliers tools both build their per-record statements from these pieces, so the two floors
// cost the same per statement.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace importacao::bench {

// Throws std::runtime_error with `what` and every diagnostic text of `handle`.
[[noreturn]] void fail(SQLSMALLINT type, SQLHANDLE handle, const char* what);

// Throws as fail() unless `rc` is a success or SQL_NO_DATA.
inline void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) fail(type, handle, what);
}

// A value bound as a parameter: text (sent as SQL_VARCHAR), a whole number, a float, a
// date-time.
using Param = std::variant<std::string, long long, double, SQL_TIMESTAMP_STRUCT>;

// The local date and time now, milliseconds included; with `midnight` today at 00:00.
SQL_TIMESTAMP_STRUCT stamp(bool midnight);

// "%.*f" of `value`.
std::string fixed(double value, int decimals);

// "insert into TABLE (A, B) values (?, ?)".
std::string insertText(const std::string& table, const std::vector<std::string>& columns);
// "update TABLE set A = ?, B = ? where WHERE".
std::string updateText(const std::string& table, const std::vector<std::string>& columns,
                       const std::string& where);

// One ODBC environment and connection, connected for the object's lifetime. Throws
// std::runtime_error when the driver refuses the connection string.
class FloorConnection {
 public:
  explicit FloorConnection(const std::string& connectionString);
  ~FloorConnection();
  FloorConnection(const FloorConnection&) = delete;
  FloorConnection& operator=(const FloorConnection&) = delete;

  SQLHDBC get() const noexcept { return dbc_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

// One prepared statement, reused for every record. `connection` must outlive it.
class Prepared {
 public:
  // Prepares `text`; throws std::runtime_error naming the text when the driver refuses it.
  // `label` names the statement in profile(); it must outlive the object.
  Prepared(SQLHDBC connection, const std::string& text, const char* label = "");
  ~Prepared();
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  // Binds `params` in order, executes, fetches every row reading every column as text and
  // closes the cursor. Returns the number of rows fetched; the last row's last column stays in
  // lastText(). Throws std::runtime_error for a failed bind or execution.
  int run(std::vector<Param> params);
  std::string lastText() const { return buffer_; }

  // "LABEL   N runs   T us each" of the time run() has taken so far; empty before any run.
  std::string profile() const;

 private:
  const char* label_;
  int runs_ = 0;
  double seconds_ = 0;
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
  std::vector<Param> params_;  // bound by address until the next run
  std::vector<SQLLEN> lengths_;
  char buffer_[512] = {};
};

// Wall-clock time since construction.
class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  }

 private:
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// The command line both tools take: "NAME generate FOLDER N" runs `generate`, "NAME floor
// CONNECTION N" runs `floor`; anything else prints the usage and returns 2. An exception from
// either is printed after NAME and returns 1.
int toolMain(int argc, char** argv, const char* name,
             int (*generate)(const std::filesystem::path& folder, int count),
             int (*floor)(const std::string& connectionString, int count));

}  // namespace importacao::bench
