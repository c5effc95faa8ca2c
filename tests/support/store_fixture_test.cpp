// The fixture that makes the test stores: isolation, teardown, data-link files.
#include "tests/support/store_fixture.h"
#include "tests/support/files.h"

#include <gmock/gmock.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sys/wait.h>

namespace importacao::test_support {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// --- the fixture
// -----------------------------------------------------------------------------------

class TestStoreFixture : public ::testing::TestWithParam<StoreKind> {};

TEST_P(TestStoreFixture, StoresAreIsolatedAndGoneAfterTeardown) {
  fs::path work;
  std::string schema;
  fs::path file;
  {
    TestStore a(GetParam(), kNoSeed);
    TestStore b(GetParam(), kNoSeed);
    a.execute("insert into clientes (IdCliente, NomeCliente) values (?, ?)",
              {std::int64_t{1}, std::string("Ana Lúcia")});
    EXPECT_EQ(a.scalar("select NomeCliente from clientes"), "Ana Lúcia");
    EXPECT_EQ(b.scalar("select count(*) from clientes"), "0");
    EXPECT_EQ(a.scalar("select count(*) from Municipio"), "0");  // no seed asked for
    EXPECT_NE(a.connectionString(), b.connectionString());
    work = a.workDirectory();
    schema = a.schemaName();
    file = a.databaseFile();
    EXPECT_TRUE(fs::is_directory(work));
    EXPECT_EQ(schema.empty(), GetParam() == StoreKind::Sqlite);
    EXPECT_EQ(file.empty(), GetParam() == StoreKind::PostgreSql);
  }
  EXPECT_FALSE(fs::exists(work));
  if (GetParam() == StoreKind::Sqlite) {
    EXPECT_FALSE(fs::exists(file));
  } else {
    TestStore other(StoreKind::PostgreSql, kNoSeed);
    EXPECT_EQ(other.scalar("select count(*) from information_schema.schemata where schema_name = ?",
                           {schema}),
              "0");
  }
}

TEST_P(TestStoreFixture, DataLinkFileReachesTheStore) {
  TestStore s(GetParam(), kNoSeed);
  s.execute("insert into clientes (IdCliente) values (42)");
  for (auto encoding : {DataLinkEncoding::Utf16, DataLinkEncoding::EightBit}) {
    fs::path udl = s.writeDataLink(encoding);
    std::string bytes = readFile(udl);
    EXPECT_EQ(bytes, dataLinkBytes(s.connectionString(), encoding));
    if (encoding == DataLinkEncoding::Utf16) {
      std::string target = dataLinkExtendedProperties(bytes);
      EXPECT_EQ(target, s.connectionString());
      EXPECT_EQ(queryConnection(target, "select IdCliente from clientes"), (SqlRows{{"42"}}));
    }
  }
}

TEST_P(TestStoreFixture, QueryReportsTheDriversText) {
  TestStore s(GetParam(), kNoSeed);
  EXPECT_THAT([&] { s.query("select * from no_such_table"); },
              ::testing::ThrowsMessage<TestStoreError>(HasSubstr("no_such_table")));
  // the connection stays usable
  EXPECT_EQ(s.scalar("select count(*) from lj_produtos"), "0");
  s.disconnect();
  EXPECT_EQ(s.scalar("select count(*) from lj_produtos"), "0");
}

INSTANTIATE_TEST_SUITE_P(Stores, TestStoreFixture, kAllStores, storeTestName);

TEST(TestStoreFixturePostgres, MissingServerSettingFailsLoudly) {
  const char* saved = std::getenv("IMP_TEST_PG_CONN");
  std::string value = saved ? saved : "";
  unsetenv("IMP_TEST_PG_CONN");
  EXPECT_THAT([] { TestStore s(StoreKind::PostgreSql); },
              ::testing::ThrowsMessage<TestStoreError>(HasSubstr("IMP_TEST_PG_CONN is not set")));
  if (saved) setenv("IMP_TEST_PG_CONN", value.c_str(), 1);
}

TEST(DataLink, BytesAreWhatWindowsWrites) {
  const std::string text =
      "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
      "Provider=MSDASQL.1;Extended Properties=\"Driver=SQLite3;Database=/tmp/a "
      "\"\"b\"\"/l\xc3\xa3.db\"\r\n";
  const std::string connection = "Driver=SQLite3;Database=/tmp/a \"b\"/l\xc3\xa3.db";

  std::string eightBit = dataLinkBytes(connection, DataLinkEncoding::EightBit);
  std::string want8 = text;
  // ã in code page 1252, as a char: as a string it sets off GCC 12's false -Wrestrict warning.
  want8.replace(want8.find("\xc3\xa3"), 2, 1, '\xe3');
  EXPECT_EQ(eightBit, want8);

  std::string utf16 = dataLinkBytes(connection, DataLinkEncoding::Utf16);
  ASSERT_THAT(utf16, StartsWith("\xff\xfe"));
  std::string want16 = "\xff\xfe";
  for (char c : want8) {  // every character of this text is below U+0100
    want16 += c;
    want16 += '\0';
  }
  EXPECT_EQ(utf16, want16);

  EXPECT_THAT(
      [] { dataLinkBytes("Database=/tmp/\xe2\x82\xac\xc5\x81.db", DataLinkEncoding::EightBit); },
      ::testing::ThrowsMessage<TestStoreError>(HasSubstr("code page 1252")));
}

}  // namespace
}  // namespace importacao::test_support
