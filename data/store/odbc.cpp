#include "data/store/odbc.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "normalise/codepage.h"

namespace importacao::odbc {

namespace {

// Some drivers count a name's length in bytes where ODBC wants characters (SQLite's, once the
// process's character type is UTF-8, which psqlODBC sets as it loads): the excess is zeros.
std::u16string_view withoutTrailingZeros(std::u16string_view text) {
  while (!text.empty() && text.back() == u'\0') text.remove_suffix(1);
  return text;
}

// What is trimmed from the end of a message: blanks, control characters and full stops. The
// same test serves UTF-16 units and code page 1252 bytes, which agree on these.
bool isTrailingJunk(unsigned c) {
  return c == ' ' || c == '.' || c < 0x20 || c == 0x7f || c == 0xa0;
}

// The text a driver wrote into a buffer of `capacity` units: `length` is what it reported, in
// units or (where ODBC counts bytes) in bytes; never more than the buffer holds.
std::u16string_view bufferText(const SQLWCHAR* buffer, SQLSMALLINT length, std::size_t capacity,
                               bool lengthInBytes) {
  std::size_t units = static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0));
  if (lengthInBytes) units /= 2;
  return {reinterpret_cast<const char16_t*>(buffer), std::min(units, capacity - 1)};
}

}  // namespace

// --- Diagnostics -----------------------------------------------------------------------------

std::vector<DiagnosticRecord> readDiagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<DiagnosticRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT number = 1;; ++number) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::u16string text(512, u'\0');
    SQLRETURN rc = SQLGetDiagRecW(type, handle, number, state, &native, sqlText(text),
                                  static_cast<SQLSMALLINT>(text.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
      text.assign(static_cast<std::size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(type, handle, number, state, &native, sqlText(text),
                          static_cast<SQLSMALLINT>(text.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    text.resize(std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                      text.size()));
    DiagnosticRecord record;
    for (SQLWCHAR c : state) {
      if (c == 0) break;
      record.sqlState.push_back(static_cast<char>(c));
    }
    record.nativeCode = native;
    record.text = std::move(text);
    records.push_back(std::move(record));
  }
  return records;
}

std::u16string cleanDiagnosticText(std::u16string_view text) {
  // Tags are the bracketed names of the components a message passed through, in front of it.
  std::size_t start = 0;
  while (start < text.size() && text[start] == u'[') {
    const std::size_t close = text.find(u']', start);
    if (close == std::u16string_view::npos) break;
    start = close + 1;
  }
  std::size_t end = text.size();
  while (end > start && isTrailingJunk(text[end - 1])) --end;
  return std::u16string(text.substr(start, end - start));
}

std::string trimMessageEnd(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && isTrailingJunk(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(0, end));
}

StoreError errorFromDiagnostics(const std::vector<DiagnosticRecord>& records,
                                std::string_view fallbackState) {
  const auto isError = [](const DiagnosticRecord& record) {
    return record.sqlState.rfind("01", 0) != 0;
  };
  auto chosen = std::find_if(records.begin(), records.end(), isError);
  if (chosen == records.end()) chosen = records.begin();
  const bool any = chosen != records.end();
  const std::string state = any ? chosen->sqlState : std::string(fallbackState);
  const long native = any ? chosen->nativeCode : 0;
  std::string text =
      any ? trimMessageEnd(utf16ToCp1252(cleanDiagnosticText(chosen->text))) : std::string();
  if (text.empty()) {
    // No description: the message the platform gives an error without one.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "OLE error %.8x",
                  native != 0 ? static_cast<unsigned>(native) : 0x80004005u);
    text = buffer;
  }
  return StoreError(text, state, native);
}

void throwDiagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  throw errorFromDiagnostics(readDiagnostics(type, handle));
}

std::string hideSecret(std::string text, std::string_view secret) {
  if (secret.empty()) return text;
  static constexpr std::string_view kMask = "********";
  for (std::size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + kMask.size())) {
    text.replace(at, secret.size(), kMask);
  }
  return text;
}

// --- Environment and connection ----------------------------------------------------------------

Environment::Environment() : handle_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
  check(SQLSetEnvAttr(handle_.get(), SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(SQL_OV_ODBC3)), 0),
        SQL_HANDLE_ENV, handle_.get());
}

std::vector<std::string> Environment::driverNames() const {
  std::vector<std::string> names;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLWCHAR description[512];
    SQLWCHAR attributes[2048];
    SQLSMALLINT descriptionLength = 0;
    SQLSMALLINT attributesLength = 0;
    const SQLRETURN rc = SQLDriversW(handle_.get(), direction, description, 512, &descriptionLength,
                                     attributes, 2048, &attributesLength);
    if (!SQL_SUCCEEDED(rc)) break;
    names.push_back(utf16ToUtf8(bufferText(description, descriptionLength, 512, false)));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

Connection::Connection(const Environment& environment)
    : handle_(SQL_HANDLE_ENV, environment.get()) {}

Connection::~Connection() { close(); }

void Connection::open(std::string_view connectionString, std::string_view secret,
                      int loginTimeoutSeconds) {
  if (open_) return;
  // Without it some drivers wait as long as the network does (FreeTDS for ever) for a server
  // that accepts the connection and never answers. A driver that refuses the attribute is left
  // to its own default.
  SQLSetConnectAttrW(
      handle_.get(), SQL_ATTR_LOGIN_TIMEOUT,
      reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(std::max(loginTimeoutSeconds, 1))),
      SQL_IS_UINTEGER);
  std::u16string text = utf8ToUtf16(connectionString);
  const SQLRETURN rc = SQLDriverConnectW(handle_.get(), nullptr, sqlText(text),
                                         static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                                         SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    StoreError error =
        errorFromDiagnostics(readDiagnostics(SQL_HANDLE_DBC, handle_.get()), "08001");
    // Some drivers quote the connection string back; the password must never show.
    std::string message = hideSecret(error.what(), utf8ToCp1252(secret));
    throw StoreError(message, error.sqlState, error.nativeCode);
  }
  open_ = true;
}

void Connection::close() noexcept {
  if (!open_) return;
  SQLEndTran(SQL_HANDLE_DBC, handle_.get(), SQL_ROLLBACK);
  SQLDisconnect(handle_.get());
  open_ = false;
}

std::string Connection::infoText(SQLUSMALLINT item) const {
  SQLWCHAR buffer[512] = {};
  SQLSMALLINT length = 0;
  check(SQLGetInfoW(handle_.get(), item, buffer, sizeof buffer, &length), SQL_HANDLE_DBC,
        handle_.get());
  return utf16ToUtf8(bufferText(buffer, length, 512, true));
}

void Connection::setAutocommit(bool on) {
  check(SQLSetConnectAttrW(handle_.get(), SQL_ATTR_AUTOCOMMIT,
                           reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(
                               on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                           SQL_IS_UINTEGER),
        SQL_HANDLE_DBC, handle_.get());
}

void Connection::commit() {
  check(SQLEndTran(SQL_HANDLE_DBC, handle_.get(), SQL_COMMIT), SQL_HANDLE_DBC, handle_.get());
}

void Connection::rollback() {
  check(SQLEndTran(SQL_HANDLE_DBC, handle_.get(), SQL_ROLLBACK), SQL_HANDLE_DBC, handle_.get());
}

// --- Statement ---------------------------------------------------------------------------------

Statement::Statement(const Connection& connection) : handle_(SQL_HANDLE_DBC, connection.get()) {}

Statement::~Statement() {
  if (handle_) SQLFreeStmt(get(), SQL_CLOSE);
}

void Statement::prepare(const std::u16string& text) {
  check(SQLPrepareW(get(), sqlText(text), static_cast<SQLINTEGER>(text.size())), SQL_HANDLE_STMT,
        get());
}

void Statement::bindParameters(std::vector<ParameterBuffer>& buffers) {
  if (buffers.size() != bound_.size()) {
    check(SQLFreeStmt(get(), SQL_RESET_PARAMS), SQL_HANDLE_STMT, get());
    bound_.assign(buffers.size(), Binding{});
  }
  SQLUSMALLINT number = 1;
  for (ParameterBuffer& b : buffers) {
    SQLPOINTER value = nullptr;
    SQLLEN bufferLength = 0;
    switch (b.cType) {
      case SQL_C_WCHAR:
        value = b.wide.data();
        bufferLength = static_cast<SQLLEN>(b.wide.capacity() * sizeof(char16_t));
        break;
      case SQL_C_CHAR:
      case SQL_C_BINARY:
        value = b.narrow.data();
        bufferLength = static_cast<SQLLEN>(b.narrow.capacity());
        break;
      case SQL_C_SBIGINT:
        value = &b.integer;
        bufferLength = sizeof b.integer;
        break;
      case SQL_C_DOUBLE:
        value = &b.real;
        bufferLength = sizeof b.real;
        break;
      case SQL_C_BIT:
        value = &b.bit;
        bufferLength = sizeof b.bit;
        break;
      case SQL_C_TYPE_TIMESTAMP:
        value = &b.timestamp;
        bufferLength = sizeof b.timestamp;
        break;
      default: break;
    }
    const Binding binding{value,     &b.indicator, b.ioType,       b.cType,
                          b.sqlType, b.columnSize, b.decimalDigits};
    Binding& last = bound_[number - 1];
    if (!(binding == last)) {
      last = Binding{};  // until the driver has taken it
      check(SQLBindParameter(get(), number, b.ioType, b.cType, b.sqlType, b.columnSize,
                             b.decimalDigits, value, bufferLength, &b.indicator),
            SQL_HANDLE_STMT, get());
      last = binding;
    }
    ++number;
  }
}

bool Statement::execute() {
  const SQLRETURN rc = SQLExecute(get());
  if (rc == SQL_NO_DATA) return false;
  check(rc, SQL_HANDLE_STMT, get());
  return true;
}

SQLLEN Statement::executeToEnd() {
  const SQLRETURN rc = SQLExecute(get());
  if (rc != SQL_NO_DATA) check(rc, SQL_HANDLE_STMT, get());
  return changedRows(
      rc, [&] { return SQLMoreResults(get()); },
      [&] {
        SQLLEN count = -1;
        return SQL_SUCCEEDED(SQLRowCount(get(), &count)) ? count : SQLLEN{-1};
      },
      [&] { throwDiagnostics(SQL_HANDLE_STMT, get()); });
}

bool Statement::executeDirect(const std::u16string& text) {
  const SQLRETURN rc = SQLExecDirectW(get(), sqlText(text), static_cast<SQLINTEGER>(text.size()));
  if (rc == SQL_NO_DATA) return false;
  check(rc, SQL_HANDLE_STMT, get());
  return true;
}

void Statement::closeCursor() noexcept { SQLFreeStmt(get(), SQL_CLOSE); }

SQLSMALLINT Statement::resultColumnCount() const {
  SQLSMALLINT count = 0;
  check(SQLNumResultCols(get(), &count), SQL_HANDLE_STMT, get());
  return count;
}

ColumnDescription Statement::describeColumn(SQLUSMALLINT column) const {
  ColumnDescription d;
  SQLWCHAR name[256] = {};
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
  check(SQLDescribeColW(get(), column, name, 256, &nameLength, &d.sqlType, &d.columnSize,
                        &d.decimalDigits, &nullable),
        SQL_HANDLE_STMT, get());
  d.name = utf16ToUtf8(withoutTrailingZeros(bufferText(name, nameLength, 256, false)));
  d.nullable = nullable != SQL_NO_NULLS;

  SQLLEN number = 0;
  if (SQL_SUCCEEDED(
          SQLColAttributeW(get(), column, SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &number))) {
    d.updatable = number != SQL_ATTR_READONLY;
  }
  number = 0;
  if (SQL_SUCCEEDED(SQLColAttributeW(get(), column, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr,
                                     &number))) {
    d.autoIncrement = number == SQL_TRUE;
  }
  auto textAttribute = [&](SQLUSMALLINT field) {
    SQLWCHAR buffer[256] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(
            SQLColAttributeW(get(), column, field, buffer, sizeof buffer, &length, nullptr))) {
      return std::string();
    }
    return utf16ToUtf8(withoutTrailingZeros(bufferText(buffer, length, 256, true)));
  };
  d.typeName = textAttribute(SQL_DESC_TYPE_NAME);
  d.baseTable = textAttribute(SQL_DESC_BASE_TABLE_NAME);
  d.baseSchema = textAttribute(SQL_DESC_SCHEMA_NAME);
  return d;
}

SQLLEN Statement::rowCount() const {
  SQLLEN count = 0;
  check(SQLRowCount(get(), &count), SQL_HANDLE_STMT, get());
  return count;
}

bool Statement::fetch() {
  const SQLRETURN rc = SQLFetch(get());
  if (rc == SQL_NO_DATA) return false;
  check(rc, SQL_HANDLE_STMT, get());
  return true;
}

std::optional<std::u16string> Statement::getText(SQLUSMALLINT column) {
  std::u16string out;
  if (!getText(column, out)) return std::nullopt;
  return out;
}

bool Statement::getText(SQLUSMALLINT column, std::u16string& out) {
  out.clear();
  std::size_t start = 0;
  for (;;) {
    // Read straight into the string's storage; a long value comes in pieces (01004).
    if (out.size() < start + 1024) out.resize(start + 1024);
    const std::size_t room = out.size() - start;
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(get(), column, SQL_C_WCHAR, out.data() + start,
                                    static_cast<SQLLEN>(room * sizeof(char16_t)), &indicator);
    if (rc == SQL_NO_DATA) {
      out.resize(start);
      break;
    }
    check(rc, SQL_HANDLE_STMT, get());
    if (indicator == SQL_NULL_DATA) {
      out.clear();
      return false;
    }
    std::size_t got = room - 1;  // the driver ends the piece with a zero
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) / 2 < room) {
      got = static_cast<std::size_t>(indicator) / 2;
    }
    start += got;
    if (rc == SQL_SUCCESS) {
      out.resize(start);
      break;
    }
    // More to come: when the driver says how much, make room for all of it at once.
    if (indicator != SQL_NO_TOTAL)
      out.resize(std::max(out.size(), start + static_cast<std::size_t>(indicator) / 2 + 1));
  }
  return true;
}

std::optional<std::string> Statement::getBinary(SQLUSMALLINT column) {
  std::string out;
  char buffer[4096];
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(get(), column, SQL_C_BINARY, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;
    check(rc, SQL_HANDLE_STMT, get());
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    std::size_t got = sizeof buffer;
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) < sizeof buffer) {
      got = static_cast<std::size_t>(indicator);
    }
    out.append(buffer, got);
    if (rc == SQL_SUCCESS) break;
  }
  return out;
}

std::optional<std::int64_t> Statement::getInteger(SQLUSMALLINT column) {
  std::int64_t value = 0;
  SQLLEN indicator = 0;
  check(SQLGetData(get(), column, SQL_C_SBIGINT, &value, sizeof value, &indicator), SQL_HANDLE_STMT,
        get());
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  return value;
}

std::optional<double> Statement::getDouble(SQLUSMALLINT column) {
  double value = 0;
  SQLLEN indicator = 0;
  check(SQLGetData(get(), column, SQL_C_DOUBLE, &value, sizeof value, &indicator), SQL_HANDLE_STMT,
        get());
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  return value;
}

std::optional<SQL_TIMESTAMP_STRUCT> Statement::getTimestamp(SQLUSMALLINT column) {
  SQL_TIMESTAMP_STRUCT value{};
  SQLLEN indicator = 0;
  check(SQLGetData(get(), column, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator),
        SQL_HANDLE_STMT, get());
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  return value;
}

// --- Date-times --------------------------------------------------------------------------------

namespace {
constexpr long long kMicrosPerDay = 86'400'000'000LL;
// 30 December 1899 counted from 1 January 1970.
constexpr long long kEpochOffsetDays = -25'569;
// 1 January of the year 1 and of the year 10000.
constexpr double kFirstDay = -693'593.0;
constexpr double kPastLastDay = 2'958'466.0;
}  // namespace

SQL_TIMESTAMP_STRUCT timestampFromDays(DateTime value) {
  // A timestamp holds the years 1 to 9999; a day count outside them (or no number at all) would
  // otherwise wrap into some other date.
  if (!(value.days > kFirstDay - 1.0 && value.days < kPastLastDay)) {
    throw DataError("Datetime field overflow");
  }
  // A negative day count keeps its time of day as a positive fraction (-1.25 is 29 December
  // 1899, 06:00), the way these day counts have always been read.
  double whole = std::trunc(value.days);
  long long micros =
      std::llround(std::fabs(value.days - whole) * static_cast<double>(kMicrosPerDay));
  long long day = static_cast<long long>(whole);
  if (micros >= kMicrosPerDay) {
    micros -= kMicrosPerDay;
    day += value.days < 0 ? -1 : 1;
  }
  const std::chrono::sys_days date{std::chrono::days{day + kEpochOffsetDays}};
  const std::chrono::year_month_day ymd{date};
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(static_cast<int>(ymd.year()));
  ts.month = static_cast<SQLUSMALLINT>(static_cast<unsigned>(ymd.month()));
  ts.day = static_cast<SQLUSMALLINT>(static_cast<unsigned>(ymd.day()));
  const long long seconds = micros / 1'000'000;
  ts.hour = static_cast<SQLUSMALLINT>(seconds / 3600);
  ts.minute = static_cast<SQLUSMALLINT>(seconds / 60 % 60);
  ts.second = static_cast<SQLUSMALLINT>(seconds % 60);
  ts.fraction = static_cast<SQLUINTEGER>(micros % 1'000'000 * 1000);  // nanoseconds
  return ts;
}

DateTime daysFromTimestamp(const SQL_TIMESTAMP_STRUCT& value) {
  const std::chrono::year_month_day ymd{
      std::chrono::year{value.year}, std::chrono::month{value.month}, std::chrono::day{value.day}};
  const long long day = std::chrono::sys_days{ymd}.time_since_epoch().count() - kEpochOffsetDays;
  const long long micros =
      ((value.hour * 60LL + value.minute) * 60LL + value.second) * 1'000'000LL +
      (value.fraction + 500) / 1000;
  const double fraction = static_cast<double>(micros) / static_cast<double>(kMicrosPerDay);
  return DateTime{day < 0 ? static_cast<double>(day) - fraction
                          : static_cast<double>(day) + fraction};
}

}  // namespace importacao::odbc
