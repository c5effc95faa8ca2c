// A throw-away store for a test: an isolated database loaded with the project's schema
// (schema/) and seed (schema/seed/), reachable over ODBC, plus a small raw-ODBC helper to
// set up rows and read them back for assertions.
//
//   PostgreSQL: a fresh schema t_<random> in the database of the test server that
//               IMP_TEST_PG_CONN names (scripts/test and scripts/pg-test-server set it); the
//               connection string makes that schema the search path. Dropped at teardown.
//   SQLite:     a fresh store file in a temporary directory, removed at teardown.
//
// Set IMP_TEST_KEEP_STORE=1 to keep the schema or file after the test (for a look with psql
// or sqlite3); the fixture prints where it is.
//
// Typical use, one test body for both stores:
//
//   class ClientesStore : public importacao::test_support::StoreTest {};
//   TEST_P(ClientesStore, InsertsAMissingCustomer) {
//     auto& s = store();
//     ... connect the code under test to s.connectionString() or s.writeDataLink(...) ...
//     EXPECT_EQ(s.scalar("select NomeCliente from clientes where IdCliente = ?", {7}), "Ana");
//   }
//   INSTANTIATE_TEST_SUITE_P(Stores, ClientesStore, importacao::test_support::kAllStores,
//                            importacao::test_support::storeTestName);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "data/store/store_kind.h"

namespace importacao::test_support {

// The kinds of throw-away store: PostgreSql and Sqlite. The names of parameterised tests say
// "Postgres" or "Sqlite".
std::string storeTestName(const ::testing::TestParamInfo<StoreKind>& info);

inline const auto kAllStores = ::testing::Values(StoreKind::PostgreSql, StoreKind::Sqlite);

// Any failure to make, reach or drop a test store. what() says what went wrong and, for a
// statement, carries the driver's text; never a password.
struct TestStoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How a data-link file is written: UTF-16LE with a byte-order mark, as Windows writes it, or
// 8-bit text in code page 1252.
enum class DataLinkEncoding { Utf16, EightBit };

// The data-link file that points at an ODBC connection string:
//   [oledb] CR LF, a ';' comment line CR LF,
//   Provider=MSDASQL.1;Extended Properties="<connection string, '"' doubled>" CR LF
// encoded as asked. Throws TestStoreError when 1252 cannot hold the text (EightBit only).
std::string dataLinkBytes(std::string_view odbcConnectionString, DataLinkEncoding encoding);

// The Extended Properties of a UTF-16 data-link file whose text is ASCII; empty when it has none.
std::string dataLinkExtendedProperties(const std::string& udlBytes);

// A statement parameter: null, an integer, a float or UTF-8 text.
using SqlParam = std::variant<std::nullptr_t, std::int64_t, double, std::string>;
using SqlParams = std::vector<SqlParam>;
// Result rows; each value is UTF-8 text as the driver renders it, or nullopt for null.
using SqlRow = std::vector<std::optional<std::string>>;
using SqlRows = std::vector<SqlRow>;

// A result column as the driver describes it (SQLDescribeCol): sqlType is an SQL_* code of
// sql.h/sqlext.h, e.g. SQL_WVARCHAR (-9) or SQL_TYPE_TIMESTAMP (93).
struct SqlColumn {
  std::string name;
  int sqlType = 0;
  std::size_t size = 0;   // characters for texts, digits for numbers
  int decimalDigits = 0;  // the scale of a decimal; fraction digits of a timestamp
  bool nullable = true;
};

struct TestStoreOptions {
  bool seed = true;  // load Estado and Municipio (5,571 rows)
  std::string
      extraConnectionOptions;  // appended to the connection string, e.g. "MaxVarcharSize=255"
};
// The schema alone, Estado and Municipio left empty: a little quicker to make.
inline const TestStoreOptions kNoSeed{.seed = false, .extraConnectionOptions = {}};

class TestStore {
 public:
  // Makes the store. Throws TestStoreError, e.g. when IMP_TEST_PG_CONN is not set for a
  // PostgreSQL store (the test then fails; it never skips).
  explicit TestStore(StoreKind kind, TestStoreOptions options = {});
  // Drops the schema or removes the file; never throws (a failure is printed).
  ~TestStore();
  TestStore(const TestStore&) = delete;
  TestStore& operator=(const TestStore&) = delete;
  TestStore(TestStore&&) = delete;
  TestStore& operator=(TestStore&&) = delete;

  StoreKind kind() const noexcept { return kind_; }
  // The ODBC connection string of the store: for PostgreSQL the server's with the search path
  // set to schemaName(); for SQLite "Driver=SQLite3;Database=<databaseFile()>".
  const std::string& connectionString() const noexcept { return connectionString_; }
  const std::string& schemaName() const noexcept { return schema_; }            // empty for SQLite
  const std::filesystem::path& databaseFile() const noexcept { return file_; }  // empty for PG
  // A private directory of the store, removed with it: put data-link files and such here.
  const std::filesystem::path& workDirectory() const noexcept { return workDir_; }

  // Writes a data-link file for this store at `file` (default: store.udl in the work
  // directory) and returns its path. Throws TestStoreError when it cannot be written.
  std::filesystem::path writeDataLink(DataLinkEncoding encoding = DataLinkEncoding::Utf16,
                                      std::filesystem::path file = {}) const;
  // The connection string that names such a file, written anew: "FILE NAME=<path>".
  std::string dataLinkConnectionString(DataLinkEncoding encoding = DataLinkEncoding::Utf16) const {
    return "FILE NAME=" + writeDataLink(encoding).string();
  }

  // Runs one statement with '?' parameters on the fixture's own connection (autocommit) and
  // returns its rows (none for a statement without a result). Throws TestStoreError with the
  // driver's text.
  SqlRows query(std::string_view sql, const SqlParams& params = {}) const;
  // The first column of the first row; throws TestStoreError when there is no row.
  std::optional<std::string> scalar(std::string_view sql, const SqlParams& params = {}) const;
  // Runs one statement and returns its result columns as the driver describes them.
  std::vector<SqlColumn> describe(std::string_view sql, const SqlParams& params = {}) const;
  // Runs one statement and returns the number of rows it changed (-1 when the driver cannot tell).
  long execute(std::string_view sql, const SqlParams& params = {}) const;
  // Closes the fixture's own connection (it reconnects on the next query), e.g. before a test
  // stops or restarts the server.
  void disconnect() const;

  class Connection;  // the raw-ODBC helper behind query(); defined in the .cpp

 private:
  StoreKind kind_;
  std::string connectionString_;
  std::string baseConnectionString_;  // PostgreSQL: the server's, without the search path
  std::string schema_;
  std::filesystem::path file_;
  std::filesystem::path workDir_;
  mutable std::unique_ptr<Connection> connection_;
  Connection& connection() const;
};

// Runs one statement on a fresh connection to any ODBC connection string (e.g. the one a
// data-link file names) and returns its rows. Throws TestStoreError with the driver's text.
SqlRows queryConnection(const std::string& connectionString, std::string_view sql,
                        const SqlParams& params = {});

// The test server of IMP_TEST_PG_CONN as psql takes it: a libpq connection string without the
// password, and the password, to hand over in PGPASSWORD. Throws TestStoreError when the
// variable is not set.
struct PsqlTarget {
  std::string conninfo;
  std::string password;
};
PsqlTarget testServerForPsql();

// A value-parameterised test over the store kinds: each test gets a fresh store, made in SetUp
// with options() (override it to change them).
class StoreTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override;
  void TearDown() override { store_.reset(); }
  virtual TestStoreOptions options() const { return {}; }
  TestStore& store() { return *store_; }

 private:
  std::unique_ptr<TestStore> store_;
};

}  // namespace importacao::test_support
