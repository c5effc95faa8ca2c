#include "tests/support/store_fixture.h"

#include <iconv.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <utility>

#include "normalise/ascii.h"

namespace importacao::test_support {
namespace {

namespace fs = std::filesystem;

// --- text ---------------------------------------------------------------------------------------

// Converts between encodings with iconv; nullopt when the input does not convert (bad bytes, or
// a character the target cannot hold).
std::optional<std::string> convertText(const char* from, const char* to, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(in.size() * 4 + 8, '\0');
  auto* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || rc != 0) return std::nullopt;  // rc > 0: lossy
  out.resize(out.size() - outLeft);
  return out;
}

std::u16string toUtf16(std::string_view utf8) {
  auto bytes = convertText("UTF-8", "UTF-16LE", utf8);
  if (!bytes) throw TestStoreError("not valid UTF-8: " + std::string(utf8));
  std::u16string out(bytes->size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>((*bytes)[2 * i]) |
                                   static_cast<unsigned char>((*bytes)[2 * i + 1]) << 8);
  return out;
}

std::string toUtf8(std::u16string_view utf16) {
  std::string bytes;
  bytes.reserve(utf16.size() * 2);
  for (char16_t c : utf16) {
    bytes.push_back(static_cast<char>(c & 0xff));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  // A lone surrogate from a driver would be a driver fault; show it rather than throw.
  return convertText("UTF-16LE", "UTF-8", bytes).value_or("<not UTF-16>");
}

// --- the environment ------------------------------------------------------------------------

std::string shellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string randomSuffix() {
  std::random_device device;
  std::mt19937_64 random(static_cast<std::uint64_t>(device()) << 32 ^ device());
  const char* digits = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 12; ++i) out += digits[random() % 16];
  return out;
}

fs::path makeTempDirectory(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (fs::path(base && *base ? base : "/tmp") / prefix).string() + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw TestStoreError("cannot make a temporary directory " + pattern + ": " +
                         std::strerror(errno));
  return pattern;
}

bool keepStores() {
  const char* keep = std::getenv("IMP_TEST_KEEP_STORE");
  return keep != nullptr && *keep != '\0' && std::string_view(keep) != "0";
}

// Runs a shell command; returns its exit status and what it wrote to stdout and stderr.
std::pair<int, std::string> runCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    throw TestStoreError(std::string("cannot run a command: ") + std::strerror(errno));
  std::array<char, 4096> buffer{};
  while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
    output.append(buffer.data(), n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

void writeFile(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw TestStoreError("cannot write " + file.string());
}

// The key=value pairs of an ODBC connection string, keys in lower case; {braced} values lose
// their braces ("}}" stands for "}").
std::map<std::string, std::string> parseOdbcConnectionString(std::string_view text) {
  std::map<std::string, std::string> pairs;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t eq = text.find('=', i);
    if (eq == std::string_view::npos) break;
    std::string key;
    for (char c : text.substr(i, eq - i))
      if (c != ' ') key += lowerAscii(c);
    std::string value;
    i = eq + 1;
    if (i < text.size() && text[i] == '{') {
      for (++i; i < text.size(); ++i) {
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            value += '}';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      i = text.find(';', i);
      i = i == std::string_view::npos ? text.size() : i + 1;
    } else {
      std::size_t end = text.find(';', i);
      if (end == std::string_view::npos) end = text.size();
      value = std::string(text.substr(i, end - i));
      i = end + 1;
    }
    pairs[key] = value;
  }
  return pairs;
}

// A libpq connection-string value: quoted, with ' and \ escaped.
std::string libpqValue(std::string_view value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// What psql needs to reach the server of an ODBC connection string; the password goes through
// the environment, never argv.
PsqlTarget psqlTarget(const std::string& odbc) {
  auto pairs = parseOdbcConnectionString(odbc);
  auto get = [&](std::initializer_list<const char*> keys) -> std::string {
    for (const char* key : keys)
      if (auto it = pairs.find(key); it != pairs.end()) return it->second;
    return {};
  };
  PsqlTarget target;
  auto add = [&](const char* key, const std::string& value) {
    if (!value.empty())
      target.conninfo +=
          std::string(target.conninfo.empty() ? "" : " ") + key + "=" + libpqValue(value);
  };
  add("host", get({"server", "servername"}));
  add("port", get({"port"}));
  add("dbname", get({"database"}));
  add("user", get({"uid", "username", "user"}));
  target.password = get({"pwd", "password"});
  return target;
}

std::string requiredPgConnectionString() {
  const char* conn = std::getenv("IMP_TEST_PG_CONN");
  if (conn == nullptr || *conn == '\0')
    throw TestStoreError(
        "IMP_TEST_PG_CONN is not set: the PostgreSQL store tests need a server. Run them through "
        "scripts/test, or start one with scripts/pg-test-server start DIR and source DIR/env");
  return conn;
}

// --- what the stores are made from ---------------------------------------------------------------

// The build makes these with scripts/make-store (tests/support/CMakeLists.txt): the PostgreSQL load
// script and ready-made SQLite stores, each with and without the seed, so a test store costs one
// psql run or one file copy.
fs::path storeFile(std::string_view name) {
  fs::path file = fs::path(IMP_TEST_STORE_DIR) / name;
  if (!fs::exists(file))
    throw TestStoreError(file.string() + " is missing: build the target imp_test_store_files");
  return file;
}

}  // namespace

// --- the raw-ODBC helper -----------------------------------------------------------------------

class TestStore::Connection {
 public:
  explicit Connection(const std::string& connectionString) {
    check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_HANDLE_ENV, SQL_NULL_HANDLE,
          "allocate");
    check(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, env_, "set up ODBC");
    check(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_HANDLE_ENV, env_, "allocate");
    std::u16string text = toUtf16(connectionString);
    check(SQLDriverConnectW(dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(text.data()),
                            static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                            SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc_, "connect to the test store");
    connected_ = true;
  }
  ~Connection() {
    if (connected_) SQLDisconnect(dbc_);
    if (dbc_ != SQL_NULL_HANDLE) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HANDLE) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  struct Result {
    SqlRows rows;
    long changed = -1;
    std::vector<SqlColumn> columns;
  };

  // Runs the statement; returns its rows, result columns and the number of rows it changed.
  Result run(std::string_view sql, const SqlParams& params) {
    SQLHSTMT stmt = SQL_NULL_HANDLE;
    check(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt), SQL_HANDLE_DBC, dbc_, "allocate");
    struct Free {
      SQLHSTMT h;
      ~Free() { SQLFreeHandle(SQL_HANDLE_STMT, h); }
    } freeStmt{stmt};
    std::string context = "run \"" + std::string(sql) + "\"";

    // Parameter buffers must stay put until the statement runs: sized up front, never reallocated.
    std::vector<std::int64_t> ints(params.size());
    std::vector<double> doubles(params.size());
    std::vector<std::u16string> texts(params.size());
    std::vector<SQLLEN> lengths(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
      auto number = static_cast<SQLUSMALLINT>(i + 1);
      SQLRETURN rc = SQL_SUCCESS;
      if (std::holds_alternative<std::nullptr_t>(params[i])) {
        lengths[i] = SQL_NULL_DATA;
        rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0,
                              nullptr, 0, &lengths[i]);
      } else if (auto* n = std::get_if<std::int64_t>(&params[i])) {
        // Sent as the store's integer when it fits, as the importer's integer parameters are:
        // PostgreSQL picks a function by its argument types and has no
        // sp_estoqueinicial(bigint...).
        ints[i] = *n;
        bool fits = *n >= INT32_MIN && *n <= INT32_MAX;
        rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_SBIGINT,
                              fits ? SQL_INTEGER : SQL_BIGINT, 0, 0, &ints[i], 0, nullptr);
      } else if (auto* d = std::get_if<double>(&params[i])) {
        doubles[i] = *d;
        rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0,
                              &doubles[i], 0, nullptr);
      } else {
        texts[i] = toUtf16(std::get<std::string>(params[i]));
        lengths[i] = static_cast<SQLLEN>(texts[i].size() * sizeof(char16_t));
        rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                              std::max<SQLULEN>(texts[i].size(), 1), 0, texts[i].data(), lengths[i],
                              &lengths[i]);
      }
      check(rc, SQL_HANDLE_STMT, stmt, context);
    }

    // Executed directly, not prepared: psqlODBC 13.02 leaks a few hundred bytes when a statement it
    // prepared on the server fails (LeakSanitizer reports it at exit), and it does not when
    // executed.
    std::u16string text = toUtf16(sql);
    SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()),
                                  static_cast<SQLINTEGER>(text.size()));
    Result result;
    if (rc == SQL_NO_DATA) {  // a searched update or delete that touched nothing
      result.changed = 0;
      return result;
    }
    check(rc, SQL_HANDLE_STMT, stmt, context);

    SQLLEN changed = -1;
    SQLRowCount(stmt, &changed);
    result.changed = static_cast<long>(changed);
    SQLSMALLINT columns = 0;
    check(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, context);
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      std::array<SQLWCHAR, 256> name{};
      SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
      SQLULEN size = 0;
      check(SQLDescribeColW(stmt, c, name.data(), static_cast<SQLSMALLINT>(name.size()),
                            &nameLength, &type, &size, &digits, &nullable),
            SQL_HANDLE_STMT, stmt, context);
      result.columns.push_back(
          {toUtf8(std::u16string(
               reinterpret_cast<const char16_t*>(name.data()),
               std::min<std::size_t>(static_cast<std::size_t>(nameLength), name.size() - 1))),
           type, static_cast<std::size_t>(size), digits, nullable != SQL_NO_NULLS});
    }
    if (columns > 0) {
      while (true) {
        rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        check(rc, SQL_HANDLE_STMT, stmt, context);
        SqlRow row;
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c)
          row.push_back(fetchText(stmt, c, context));
        result.rows.push_back(std::move(row));
      }
    }
    return result;
  }

 private:
  // Reads one column as wide text, in pieces when it is long.
  std::optional<std::string> fetchText(SQLHSTMT stmt, SQLUSMALLINT column,
                                       const std::string& context) {
    std::u16string value;
    std::array<char16_t, 1024> buffer{};
    while (true) {
      SQLLEN length = 0;
      SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer.data(), sizeof buffer, &length);
      if (rc == SQL_NO_DATA) break;
      check(rc, SQL_HANDLE_STMT, stmt, context);
      if (length == SQL_NULL_DATA) return std::nullopt;
      // With SQL_SUCCESS_WITH_INFO the buffer is full (less its terminator) and more follows.
      std::size_t got =
          (length == SQL_NO_TOTAL || static_cast<std::size_t>(length) >= sizeof buffer)
              ? buffer.size() - 1
              : static_cast<std::size_t>(length) / sizeof(char16_t);
      value.append(buffer.data(), got);
      if (rc == SQL_SUCCESS) break;
    }
    return toUtf8(value);
  }

  static void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    if (SQL_SUCCEEDED(rc)) return;
    std::string message = "cannot " + what + ":";
    for (SQLSMALLINT record = 1; handle != SQL_NULL_HANDLE; ++record) {
      std::array<SQLWCHAR, 6> state{};
      std::array<SQLWCHAR, 1024> text{};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, record, state.data(), &native, text.data(),
                                        static_cast<SQLSMALLINT>(text.size()), &length)))
        break;
      auto wide = [](const SQLWCHAR* p, std::size_t n) {
        return toUtf8(std::u16string(reinterpret_cast<const char16_t*>(p), n));
      };
      message += " [" + wide(state.data(), 5) + "] " +
                 wide(text.data(),
                      std::min<std::size_t>(static_cast<std::size_t>(length), text.size() - 1));
    }
    throw TestStoreError(message);
  }

  SQLHENV env_ = SQL_NULL_HANDLE;
  SQLHDBC dbc_ = SQL_NULL_HANDLE;
  bool connected_ = false;
};

// --- public functions ----------------------------------------------------------------------------

std::string storeTestName(const ::testing::TestParamInfo<StoreKind>& info) {
  return info.param == StoreKind::PostgreSql ? "Postgres" : "Sqlite";
}

std::string dataLinkExtendedProperties(const std::string& udlBytes) {
  std::string text;
  for (std::size_t i = 2; i + 1 < udlBytes.size(); i += 2) text += udlBytes[i];
  const std::string_view marker = "Extended Properties=\"";
  auto start = text.find(marker);
  auto end = text.rfind('"');
  if (start == std::string::npos || end == std::string::npos || end < start + marker.size())
    return {};
  start += marker.size();
  return text.substr(start, end - start);
}

std::string dataLinkBytes(std::string_view odbcConnectionString, DataLinkEncoding encoding) {
  std::string quoted;
  for (char c : odbcConnectionString) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  std::string text =
      "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
      "Provider=MSDASQL.1;Extended Properties=\"" +
      quoted + "\"\r\n";
  if (encoding == DataLinkEncoding::EightBit) {
    auto bytes = convertText("UTF-8", "CP1252", text);
    if (!bytes)
      throw TestStoreError("code page 1252 cannot hold the connection string " +
                           std::string(odbcConnectionString));
    return *bytes;
  }
  std::u16string wide = toUtf16(text);
  std::string bytes = "\xff\xfe";
  for (char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xff));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TestStore::TestStore(StoreKind kind, TestStoreOptions options) : kind_(kind) {
  if (kind != StoreKind::PostgreSql && kind != StoreKind::Sqlite)
    throw TestStoreError("a throw-away store is PostgreSQL or SQLite");
  workDir_ = makeTempDirectory("imp-store-");
  try {
    if (kind == StoreKind::PostgreSql) {
      baseConnectionString_ = requiredPgConnectionString();
      schema_ = "t_" + randomSuffix();
      PsqlTarget target = psqlTarget(baseConnectionString_);
      fs::path script = storeFile(options.seed ? "postgresql.sql" : "postgresql-no-seed.sql");
      fs::path load = workDir_ / "load.sql";
      // A throw-away schema needs no durable commit: the store is ready without waiting for the
      // disk.
      writeFile(
          load,
          "set client_min_messages to warning;\nset synchronous_commit to off;\ncreate schema " +
              schema_ + ";\nset search_path to " + schema_ + ";\n\\i '" + script.string() + "'\n");
      std::string command =
          "PGPASSWORD=" + shellQuote(target.password) +
          " PGCLIENTENCODING=UTF8 psql -X -q -v ON_ERROR_STOP=1 --single-transaction -d " +
          shellQuote(target.conninfo) + " -f " + shellQuote(load.string());
      auto [status, output] = runCommand(command);
      if (status != 0)
        throw TestStoreError("psql could not load the store schema into " + schema_ + ": " +
                             output);
      // pqopt hands the search path to the server as a start-up option: it holds from the first
      // statement of the session, whatever the code under test does with transactions.
      connectionString_ =
          baseConnectionString_ + ";pqopt={options='-c search_path=" + schema_ + "'}";
    } else {
      file_ = workDir_ / "loja.db";
      fs::copy_file(storeFile(options.seed ? "sqlite.db" : "sqlite-no-seed.db"), file_);
      // The SQLite3 driver reads Database up to the next ';' and knows no braces.
      if (file_.string().find(';') != std::string::npos)
        throw TestStoreError("the SQLite3 ODBC driver cannot open " + file_.string() +
                             ": set TMPDIR to a path without ';'");
      connectionString_ = "Driver=SQLite3;Database=" + file_.string();
    }
    if (!options.extraConnectionOptions.empty())
      connectionString_ += ";" + options.extraConnectionOptions;
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(workDir_, ignored);
    throw;
  }
}

TestStore::~TestStore() {
  if (keepStores()) {
    connection_.reset();
    std::cerr << "store kept: "
              << (kind_ == StoreKind::PostgreSql ? "schema " + schema_ : file_.string())
              << " (work directory " << workDir_.string() << ")\n";
    return;
  }
  if (kind_ == StoreKind::PostgreSql && !schema_.empty()) {
    // A test that left a transaction open would hold locks: wait a while, then leave the schema.
    auto drop = [this](Connection& on) {
      on.run("set lock_timeout = '10s'", {});
      on.run("set client_min_messages = warning", {});
      on.run("set synchronous_commit = off", {});
      on.run("drop schema " + schema_ + " cascade", {});
    };
    bool dropped = false;
    if (connection_) {
      try {
        drop(*connection_);
        dropped = true;
      } catch (const std::exception&) {
        // The test may have restarted the server under this connection: try a fresh one.
      }
    }
    connection_.reset();
    if (!dropped) {
      try {
        Connection fresh(baseConnectionString_);
        drop(fresh);
      } catch (const std::exception& e) {
        std::cerr << "warning: test store schema " << schema_ << " not dropped: " << e.what()
                  << "\n";
      }
    }
  }
  connection_.reset();
  std::error_code ignored;
  fs::remove_all(workDir_, ignored);
}

TestStore::Connection& TestStore::connection() const {
  if (!connection_) connection_ = std::make_unique<Connection>(connectionString_);
  return *connection_;
}

void TestStore::disconnect() const { connection_.reset(); }

SqlRows TestStore::query(std::string_view sql, const SqlParams& params) const {
  return connection().run(sql, params).rows;
}

std::optional<std::string> TestStore::scalar(std::string_view sql, const SqlParams& params) const {
  SqlRows rows = query(sql, params);
  if (rows.empty() || rows.front().empty())
    throw TestStoreError("no row from \"" + std::string(sql) + "\"");
  return rows.front().front();
}

long TestStore::execute(std::string_view sql, const SqlParams& params) const {
  return connection().run(sql, params).changed;
}

std::vector<SqlColumn> TestStore::describe(std::string_view sql, const SqlParams& params) const {
  return connection().run(sql, params).columns;
}

fs::path TestStore::writeDataLink(DataLinkEncoding encoding, fs::path file) const {
  if (file.empty()) file = workDir_ / "store.udl";
  writeFile(file, dataLinkBytes(connectionString_, encoding));
  return file;
}

SqlRows queryConnection(const std::string& connectionString, std::string_view sql,
                        const SqlParams& params) {
  return TestStore::Connection(connectionString).run(sql, params).rows;
}

PsqlTarget testServerForPsql() { return psqlTarget(requiredPgConnectionString()); }

void StoreTest::SetUp() { store_ = std::make_unique<TestStore>(GetParam(), options()); }

}  // namespace importacao::test_support
