#include "bench/common/odbc_floor.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace importacao::bench {

void fail(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  std::string text = what;
  SQLCHAR state[6];
  SQLCHAR message[1024];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLSMALLINT n = 1; SQL_SUCCEEDED(
           SQLGetDiagRec(type, handle, n, state, &native, message, sizeof message, &length));
       ++n) {
    text += ": ";
    text += reinterpret_cast<const char*>(message);
  }
  throw std::runtime_error(text);
}

SQL_TIMESTAMP_STRUCT stamp(bool midnight) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  SQL_TIMESTAMP_STRUCT t{};
  t.year = static_cast<SQLSMALLINT>(local.tm_year + 1900);
  t.month = static_cast<SQLUSMALLINT>(local.tm_mon + 1);
  t.day = static_cast<SQLUSMALLINT>(local.tm_mday);
  if (!midnight) {
    t.hour = static_cast<SQLUSMALLINT>(local.tm_hour);
    t.minute = static_cast<SQLUSMALLINT>(local.tm_min);
    t.second = static_cast<SQLUSMALLINT>(local.tm_sec);
    t.fraction = static_cast<SQLUINTEGER>(
        duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000 * 1000000);
  }
  return t;
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string insertText(const std::string& table, const std::vector<std::string>& columns) {
  std::string names, marks;
  for (const auto& c : columns) {
    names += (names.empty() ? "" : ", ") + c;
    marks += marks.empty() ? "?" : ", ?";
  }
  return "insert into " + table + " (" + names + ") values (" + marks + ")";
}

std::string updateText(const std::string& table, const std::vector<std::string>& columns,
                       const std::string& where) {
  std::string sets;
  for (const auto& c : columns) sets += (sets.empty() ? "" : ", ") + c + " = ?";
  return "update " + table + " set " + sets + " where " + where;
}

FloorConnection::FloorConnection(const std::string& connectionString) {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  std::string text = connectionString;  // the driver manager takes a non-const pointer
  const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                        SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    try {
      fail(SQL_HANDLE_DBC, dbc_, "connect");
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      throw;
    }
  }
  connected_ = true;
}

FloorConnection::~FloorConnection() {
  if (connected_) SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

Prepared::Prepared(SQLHDBC connection, const std::string& text, const char* label) : label_(label) {
  check(SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle_), SQL_HANDLE_DBC, connection, "alloc");
  std::string statement = text;
  if (const SQLRETURN rc =
          SQLPrepare(handle_, reinterpret_cast<SQLCHAR*>(statement.data()), SQL_NTS);
      !SQL_SUCCEEDED(rc)) {
    try {
      fail(SQL_HANDLE_STMT, handle_, text.c_str());
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_STMT, handle_);
      throw;
    }
  }
}

Prepared::~Prepared() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }

int Prepared::run(std::vector<Param> params) {
  const Stopwatch clock;
  params_ = std::move(params);
  lengths_.assign(params_.size(), 0);
  for (std::size_t i = 0; i < params_.size(); ++i) {
    const auto n = static_cast<SQLUSMALLINT>(i + 1);
    SQLRETURN rc = SQL_SUCCESS;
    if (auto* s = std::get_if<std::string>(&params_[i])) {
      lengths_[i] = static_cast<SQLLEN>(s->size());
      rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                            s->empty() ? 1 : s->size(), 0, s->data(), 0, &lengths_[i]);
    } else if (auto* l = std::get_if<long long>(&params_[i])) {
      rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_INTEGER, 0, 0, l, 0,
                            nullptr);
    } else if (auto* d = std::get_if<double>(&params_[i])) {
      rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, d, 0,
                            nullptr);
    } else {
      auto* t = std::get_if<SQL_TIMESTAMP_STRUCT>(&params_[i]);
      rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                            23, 3, t, 0, nullptr);
    }
    check(rc, SQL_HANDLE_STMT, handle_, "bind");
  }
  check(SQLExecute(handle_), SQL_HANDLE_STMT, handle_, "execute");
  int rows = 0;
  SQLSMALLINT columns = 0;
  SQLNumResultCols(handle_, &columns);
  if (columns > 0) {
    while (SQLFetch(handle_) == SQL_SUCCESS) {
      ++rows;
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        SQLLEN length = 0;
        SQLGetData(handle_, c, SQL_C_CHAR, buffer_, sizeof buffer_, &length);
      }
    }
  }
  SQLFreeStmt(handle_, SQL_CLOSE);
  ++runs_;
  seconds_ += clock.seconds();
  return rows;
}

std::string Prepared::profile() const {
  if (runs_ == 0) return {};
  char line[128];
  std::snprintf(line, sizeof line, "%-18s %7d runs %8.1f us each", label_, runs_,
                1e6 * seconds_ / runs_);
  return line;
}

int toolMain(int argc, char** argv, const char* name,
             int (*generate)(const std::filesystem::path& folder, int count),
             int (*floor)(const std::string& connectionString, int count)) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "generate" && argc == 4) return generate(argv[2], std::atoi(argv[3]));
    if (command == "floor" && argc == 4) return floor(argv[2], std::atoi(argv[3]));
    std::cerr << "usage: " << name << " generate FOLDER N | floor CONNECTION N\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << name << ": " << error.what() << '\n';
    return 1;
  }
}

}  // namespace importacao::bench
