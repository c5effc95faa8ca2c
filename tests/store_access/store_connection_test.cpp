// The store connection Tendaro against real stores: data-link files, the before-connect hook,
// failures, disconnecting with queries open, and the rehearsal transaction.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <random>

#include "data/errors.h"
#include "data/store/data_link.h"
#include "data/store/store_connection.h"
#include "data/store/store_query.h"
#include "tests/store_access/error_capture.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

using test_support::DataLinkEncoding;
using test_support::messageOf;
using test_support::StoreTest;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Optional;

// Writes a data-link file with the given initialisation string (8-bit) and returns
// "FILE NAME=<path>".
std::string dataLinkTo(const test_support::TestStore& store, const std::string& fileName,
                       const std::string& init) {
  const auto path = store.workDirectory() / fileName;
  std::ofstream(path, std::ios::binary)
      << "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
      << init << "\r\n";
  return "FILE NAME=" + path.string();
}

std::string quotedForInit(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

class StoreConnectionTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    store().execute("create table item (id integer not null primary key, nome varchar(20))");
  }
  bool postgres() { return GetParam() == StoreKind::PostgreSql; }

  std::unique_ptr<StoreQuery> itemQuery(StoreConnection& connection) {
    auto query = std::make_unique<StoreQuery>("qItem", connection);
    query->setStatementText("select * from item where id = :id");
    return query;
  }

  // Inserts one item through the query; throws what the post throws.
  void insertItem(StoreConnection& connection, int id, std::string_view nome) {
    auto q = itemQuery(connection);
    q->parameterByName("id").setValue(std::int64_t{id});
    q->open();
    q->append();
    q->fieldByName("id").assignInteger(id);
    q->fieldByName("nome").assignText(nome);
    q->post();
  }
};

TEST_P(StoreConnectionTest, ConnectsThroughEitherKindOfDataLinkFile) {
  for (DataLinkEncoding encoding : {DataLinkEncoding::Utf16, DataLinkEncoding::EightBit}) {
    StoreConnection connection;
    connection.setConnectionString(store().dataLinkConnectionString(encoding));
    EXPECT_FALSE(connection.connected());
    connection.connect();
    EXPECT_TRUE(connection.connected());
    EXPECT_EQ(connection.storeKind(), GetParam());
    EXPECT_EQ(connection.identifierQuote(), "\"");
    connection.connect();  // already connected: nothing
    connection.disconnect();
    EXPECT_FALSE(connection.connected());
    connection.disconnect();  // already disconnected: nothing
  }
}

TEST_P(StoreConnectionTest, BeforeConnectRunsFirstOnEveryConnect) {
  StoreConnection connection;
  connection.setConnectionString("FILE NAME=/nowhere/built-in.udl");
  int calls = 0;
  const std::string real = store().dataLinkConnectionString();
  connection.setBeforeConnect([&] {
    ++calls;
    connection.setConnectionString(real);
  });
  connection.connect();
  connection.connect();
  EXPECT_EQ(calls, 1);
  connection.disconnect();
  // A query on a closed connection connects it first, hook and all.
  insertItem(connection, 1, "a");
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(connection.connected());
}

TEST_P(StoreConnectionTest, AFailingHookEndsTheConnect) {
  StoreConnection connection;
  connection.setConnectionString(store().dataLinkConnectionString());
  connection.setBeforeConnect([] { throw DataError("Unable to write to Importacao.ini"); });
  EXPECT_EQ(messageOf([&] { connection.connect(); }), "Unable to write to Importacao.ini");
  EXPECT_FALSE(connection.connected());
}

TEST_P(StoreConnectionTest, NeverFallsBackWhenTheDataLinkFileIsMissing) {
  StoreConnection connection;
  const std::string missing = (store().workDirectory() / "Importacao.udl").string();
  connection.setConnectionString("FILE NAME=" + missing);
  EXPECT_EQ(messageOf([&] { connection.connect(); }),
            "Data-link file '" + missing + "' does not exist");
  EXPECT_FALSE(connection.connected());
}

TEST_P(StoreConnectionTest, RefusedConnectionsCarryTheDriversText) {
  struct {
    std::string init;
    std::string fragment;
  } cases[] = {
      {"Provider=MSDASQL.1;Extended Properties=\"Driver=NoSuchDriver;Database=x\"",
       "Can't open lib 'NoSuchDriver'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.init);
    StoreConnection connection;
    connection.setConnectionString(dataLinkTo(store(), "bad.udl", c.init));
    const std::string message = messageOf([&] { connection.connect(); });
    EXPECT_THAT(message, HasSubstr(c.fragment));
    EXPECT_THAT(message, Not(HasSubstr("[unixODBC]")));
    EXPECT_FALSE(connection.connected());
  }
}

TEST_P(StoreConnectionTest, DisconnectClosesEveryQueryAndDropsItsUnpostedRow) {
  StoreConnection connection;
  connection.setConnectionString(store().dataLinkConnectionString());
  auto q = itemQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{1});
  q->open();
  q->append();
  q->fieldByName("id").assignInteger(1);
  connection.disconnect();
  EXPECT_EQ(q->state(), SourceState::Inactive);
  EXPECT_EQ(store().query("select * from item"), test_support::SqlRows{});
  // Reconnected, the same query works again with fresh handles.
  connection.connect();
  q->open();
  EXPECT_TRUE(q->isEmpty());
  q->append();
  q->fieldByName("id").assignInteger(1);
  q->post();
  EXPECT_THAT(store().scalar("select count(*) from item"), Optional(std::string("1")));
}

TEST_P(StoreConnectionTest, RehearsalRollsEverythingBackAndOutlivesAFailedStatement) {
  StoreConnection connection;
  connection.setConnectionString(store().dataLinkConnectionString());
  connection.connect();
  connection.beginTransaction();
  EXPECT_TRUE(connection.inTransaction());
  EXPECT_EQ(messageOf([&] { connection.beginTransaction(); }),
            "Tendaro: A transaction is already open");
  insertItem(connection, 1, "um");
  // A duplicate fails as it would in a real run, and the rehearsal goes on.
  EXPECT_THAT(messageOf([&] { insertItem(connection, 1, "de novo"); }), Not("(no error)"));
  insertItem(connection, 2, "dois");
  {
    auto q = itemQuery(connection);
    q->parameterByName("id").setValue(std::int64_t{2});
    q->open();
    EXPECT_EQ(q->fieldByName("nome").asText(), "dois");  // seen inside the transaction
  }
  connection.rollback();
  EXPECT_FALSE(connection.inTransaction());
  connection.disconnect();  // lets the fixture see SQLite's file unlocked
  EXPECT_EQ(store().query("select * from item"), test_support::SqlRows{});

  // Autocommit again after the rehearsal; a disconnect inside one rolls it back.
  connection.connect();
  insertItem(connection, 3, "tres");
  connection.beginTransaction();
  insertItem(connection, 4, "quatro");
  connection.disconnect();
  EXPECT_EQ(store().query("select id from item"), (test_support::SqlRows{{"3"}}));
}

TEST_P(StoreConnectionTest, NumbersCrossUnchangedUnderACommaDecimalLocale) {
  // The window runs under the user's locale; pt_BR writes 12,5. Build that locale here.
  char pattern[] = "/tmp/imp-locale-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string command = "localedef -i pt_BR -f UTF-8 " + dir + "/pt_BR.UTF-8 >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << "localedef could not build pt_BR.UTF-8";
  setenv("LOCPATH", dir.c_str(), 1);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "pt_BR.UTF-8"), nullptr);
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");

  store().execute(
      "create table numero (id integer not null primary key, f float, d numeric(15,4))");
  StoreConnection connection;
  connection.setConnectionString(store().dataLinkConnectionString());
  StoreQuery q("qNumero", connection);
  q.setStatementText("select * from numero where id = :id");
  q.parameterByName("id").setValue(std::int64_t{1});
  q.open();
  q.append();
  q.fieldByName("id").assignInteger(1);
  q.fieldByName("f").assignFloat(12.5);
  q.fieldByName("d").assignFloat(1234.5678);
  q.post();
  q.close();
  q.open();
  const double f = q.fieldByName("f").asFloat();
  const double d = q.fieldByName("d").asFloat();
  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  std::filesystem::remove_all(dir);
  EXPECT_EQ(f, 12.5);
  EXPECT_EQ(d, 1234.5678);
  EXPECT_THAT(store().scalar("select count(*) from numero where f = 12.5 and d = 1234.5678"),
              Optional(std::string("1")));
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreConnectionTest, test_support::kAllStores,
                         test_support::storeTestName);

// --- PostgreSQL only: credentials --------------------------------------------------------------

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string shellQuoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A PostgreSQL server of its own that checks passwords (the shared test server trusts every
// one), with a user whose password needs every kind of quoting: ';', both quotes, braces, '='
// and a blank.
class StoreCredentialsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* script = std::getenv("IMP_TEST_PG_SCRIPT");
    ASSERT_NE(script, nullptr) << "IMP_TEST_PG_SCRIPT is not set";
    script_ = script;
    char pattern[] = "/tmp/imp-pgauth-XXXXXX";
    dir_ = mkdtemp(pattern);
    ASSERT_EQ(run(shellQuoted(script_) + " start " + dir_), 0)
        << "cannot start a server in " << dir_;
    port_ = readFile(std::filesystem::path(dir_) / "port");
    while (!port_.empty() && (port_.back() == '\n' || port_.back() == '\r')) port_.pop_back();
    std::string literal;
    for (char c : password()) literal += c == '\'' ? std::string("''") : std::string(1, c);
    const std::string psql =
        "psql -h " + dir_ + " -p " + port_ + " -U postgres -d loja -v ON_ERROR_STOP=1 -c ";
    ASSERT_EQ(run(psql + shellQuoted("create role cliente login password '" + literal + "'")), 0);
    // From now on every connection over TCP must give its password.
    const std::filesystem::path hba = std::filesystem::path(dir_) / "data" / "pg_hba.conf";
    std::string text = readFile(hba);
    std::string changed;
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      if (line.rfind("host", 0) == 0 && line.size() >= 5 &&
          line.substr(line.size() - 5) == "trust") {
        line = line.substr(0, line.size() - 5) + "scram-sha-256";
      }
      changed += line + "\n";
      at = end + 1;
    }
    std::ofstream(hba, std::ios::trunc) << changed;
    ASSERT_EQ(run(shellQuoted(script_) + " stop " + dir_), 0);
    ASSERT_EQ(run(shellQuoted(script_) + " restart " + dir_), 0);
  }
  static void TearDownTestSuite() {
    if (!dir_.empty()) run(shellQuoted(script_) + " destroy " + dir_);
  }
  static std::string password() { return "p;a'ss\"w}o{r=d x"; }

  // A data-link file for the server, with the user and password given beside the ODBC string.
  std::string connectionString(const std::string& pwd) {
    const std::string odbc =
        "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port_ + ";Database=loja";
    const std::filesystem::path file = std::filesystem::path(dir_) / "cred.udl";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        << "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
        << "Provider=MSDASQL.1;Persist Security Info=True;User ID=cliente;Password="
        << quotedForInit(pwd) << ";Extended Properties=" << quotedForInit(odbc) << "\r\n";
    return "FILE NAME=" + file.string();
  }

  static inline std::string script_;
  static inline std::string dir_;
  static inline std::string port_;
};

TEST_F(StoreCredentialsTest, APasswordWithQuotesAndSemicolonsArrivesWholeAndNeverShows) {
  struct {
    std::string password;
    bool connects;
  } cases[] = {{password(), true}, {password() + "?", false}, {"p;a'ss", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    StoreConnection connection;
    connection.setConnectionString(connectionString(c.password));
    try {
      connection.connect();
      EXPECT_TRUE(c.connects);
      StoreQuery who("qWho", connection);
      who.setStatementText("select current_user as quem");
      who.open();
      EXPECT_EQ(who.fieldByName("quem").asText(), "cliente");
    } catch (const StoreError& e) {
      EXPECT_FALSE(c.connects) << e.what();
      EXPECT_THAT(e.what(), HasSubstr("password authentication failed for user \"cliente\""));
      EXPECT_THAT(e.what(), Not(HasSubstr("p;a'ss")));
      EXPECT_EQ(e.sqlState, "08001");
    }
    EXPECT_EQ(connection.connected(), c.connects);
  }
}

TEST(StoreConnectionFailure, AServerThatIsNotThereIsReportedByTheDriver) {
  test_support::TestStore store(StoreKind::Sqlite, test_support::TestStoreOptions{false, ""});
  StoreConnection connection;
  connection.setConnectionString(
      dataLinkTo(store, "down.udl",
                 "Provider=MSDASQL.1;Extended Properties=\"Driver={PostgreSQL "
                 "Unicode};Server=127.0.0.1;Port=1;"
                 "Database=loja;Uid=x;Pwd=s3gr3d0\""));
  try {
    connection.connect();
    ADD_FAILURE() << "connected to port 1";
  } catch (const StoreError& e) {
    EXPECT_THAT(e.what(), HasSubstr("refused"));
    EXPECT_THAT(e.what(), Not(HasSubstr("s3gr3d0")));
  } catch (const DataError& e) {
    ADD_FAILURE() << e.what();
  }
}

// A server that takes the connection and never says a word: the connect gives up after the
// data-link file's Connect Timeout with the driver's message, through SQL Server's driver
// (FreeTDS, which alone would wait for ever) and PostgreSQL's alike.
TEST(StoreConnectionFailure, AServerThatDoesNotAnswerIsGivenUpAfterTheConnectTimeout) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 8), 0);  // the kernel accepts; nobody ever answers
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  test_support::TestStore store(StoreKind::Sqlite, test_support::TestStoreOptions{false, ""});
  struct {
    std::string init;
    std::string_view message;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Data Source=127.0.0.1," + port +
           ";User ID=sa;Password=s3gr3d0;Connect Timeout=1",
       "Timeout expired"},
      {"Provider=MSDASQL.1;Connect Timeout=1;Extended Properties=\"Driver={PostgreSQL Unicode};"
       "Server=127.0.0.1;Port=" +
           port + ";Database=loja;Uid=x;Pwd=s3gr3d0\"",
       "timeout expired"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.init);
    StoreConnection connection;
    connection.setConnectionString(dataLinkTo(store, "silent.udl", c.init));
    try {
      connection.connect();
      ADD_FAILURE() << "connected to a server that never answers";
    } catch (const StoreError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
  ::close(listener);
}

}  // namespace
}  // namespace importacao
