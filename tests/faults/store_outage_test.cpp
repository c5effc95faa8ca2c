// The store goes away in the middle of a run: importacao-cli over products, customers and
// suppliers against a PostgreSQL server of the test's own, which the test stops after some
// products. What was committed stays, every later record gets its error line, the run ends;
// once the server is back a second run leaves the store as one clean run would.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/faults/fault_support.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

using faults::FolderSnapshot;
using faults::PrivateServer;
using faults::readFile;
using faults::runCli;
using faults::split;
using test_support::DbfBuilder;
using test_support::TestStore;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace fs = std::filesystem;

constexpr int kProducts = 200;
constexpr int kCustomers = 30;
constexpr int kSuppliers = 10;
constexpr int kStopAt = 10;  // the server is stopped while this product is in hand

void writeLegacyTables(const fs::path& folder) {
  DbfBuilder products = DbfBuilder::products().languageByte(0x03);
  for (int i = 1; i <= kProducts; ++i) {
    const std::string code = std::to_string(i);
    products.recordWith({{"pd_cod", "P-" + code},
                         {"pd_dsc", "PRODUTO " + code},
                         {"pd_und", "UN"},
                         {"pd_vlr_rf", std::to_string(i) + ".25"},
                         {"pd_qtd", std::to_string(i % 7)},
                         {"pd_qtd_mn", "1.5"}});
  }
  products.writeTo(folder / "cfa1010.DBF");
  DbfBuilder customers = DbfBuilder::customers().languageByte(0x03);
  for (int i = 1; i <= kCustomers; ++i)
    customers.recordWith({{"CL_COD", std::to_string(i)},
                          {"CL_NOM", "CLIENTE NUMERO " + std::to_string(i)},
                          {"CL_CID", "CAMPINAS"},
                          {"CL_EST", "SP"},
                          {"CL_CPF", "123.456.789-01"},
                          {"CL_DTACAD", "20200102"},
                          {"LIMICRE", "100.50"}});
  customers.writeTo(folder / "CFA2010.DBF");
  DbfBuilder suppliers = DbfBuilder::suppliers().languageByte(0x03);
  for (int i = 1; i <= kSuppliers; ++i)
    suppliers.recordWith({{"FN_COD", std::to_string(i)},
                          {"FN_NOM", "FORNECEDOR " + std::to_string(i)},
                          {"FN_CGC", "12345678000195"}});
  suppliers.writeTo(folder / "CFA3010.DBF");
}

// The rows of the tables a run writes, each as JSON without the columns the clock fills, sorted.
// The initial-stock journal is compared as the set of its distinct entries: every run adds one
// per product.
std::vector<std::string> storeState(const TestStore& store) {
  std::vector<std::string> state;
  const char* const clockColumns =
      "array['datacadastro','dataalteracao','datainclusao','dataatualizacao']::text[]";
  for (const char* table :
       {"lj_produtos", "lj_referbar", "lj_referprc", "lj_referest", "clientes", "fornecedores"}) {
    state.push_back(std::string("-- ") + table);
    for (const auto& row : store.query(std::string("select (to_jsonb(t) - ") + clockColumns +
                                       ")::text from " + table + " t order by 1"))
      state.push_back(row.at(0).value_or("null"));
  }
  state.push_back("-- estoqueinicial");
  for (const auto& row :
       store.query("select distinct (to_jsonb(t) - array['idestoqueinicial','data']::text[])::text "
                   "from estoqueinicial t order by 1"))
    state.push_back(row.at(0).value_or("null"));
  return state;
}

std::vector<std::string> withSettings(const fs::path& settings, const fs::path& log,
                                      std::vector<std::string> args) {
  args.insert(args.begin(), {"--settings", settings.string(), "--log", log.string()});
  return args;
}

fs::path writeSettings(const TestStore& store, const fs::path& folder) {
  const fs::path settings = store.workDirectory() / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoDBF=" << folder.string()
                          << "\nConexaoSQL=" << store.writeDataLink().string() << "\n";
  return settings;
}

long count(const TestStore& store, const std::string& sql) { return std::stol(*store.scalar(sql)); }

// Runs importacao-cli, pausing it when product kStopAt is read to stop the server under it.
faults::CliOutcome runStoppingTheServer(PrivateServer& server, const std::vector<std::string>& args,
                                        bool& stopped) {
  const std::string stopLine = "Importando Produto - P" + std::to_string(kStopAt) + "\n";
  return runCli(args, [&](const std::string& out, pid_t child) {
    if (stopped || out.find(stopLine) == std::string::npos) return;
    ::kill(child, SIGSTOP);
    stopped = server.stop();
    ::kill(child, SIGCONT);
  });
}

TEST(StoreOutage, RecordsAfterTheServerStopsAreLoggedAndARerunConvergesToACleanRun) {
  PrivateServer server;
  ASSERT_EQ(::setenv("IMP_TEST_PG_CONN", server.connectionString().c_str(), 1), 0);
  TestStore store(StoreKind::PostgreSql, test_support::kNoSeed);
  TestStore clean(StoreKind::PostgreSql, test_support::kNoSeed);
  const fs::path folder = store.workDirectory() / "legado";
  fs::create_directories(folder);
  writeLegacyTables(folder);
  const FolderSnapshot legacyBefore = FolderSnapshot::of(folder);
  const fs::path settings = writeSettings(store, folder);
  const fs::path log = store.workDirectory() / "importacao.log";
  const std::vector<std::string> sections{"--products", "--customers", "--suppliers"};

  // The first run: paused when product kStopAt is read, the server stopped under it, resumed.
  store.disconnect();
  clean.disconnect();
  bool stopped = false;
  const faults::CliOutcome first =
      runStoppingTheServer(server, withSettings(settings, log, sections), stopped);
  ASSERT_TRUE(stopped) << first.out << first.err;

  // The run reached its end without a crash, and its status says records failed.
  EXPECT_EQ(first.status, 3) << first.err;
  const std::vector<std::string> lines = split(readFile(log), "\r\n");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Processo concluido");
  // Products before the stop have all five lines; from the first error on, every product,
  // customer and supplier is read and gets its error line with the driver's message.
  int firstFailed = 0, productErrors = 0, customerErrors = 0, supplierErrors = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("Erro gravando o Produto - P", 0) == 0) {
      const std::size_t cr = line.find('\r');
      ASSERT_NE(cr, std::string::npos) << line;
      EXPECT_GT(line.size(), cr + 1) << "an error line without the error's message: " << line;
      const int key = std::stoi(line.substr(27, cr - 27));
      if (firstFailed == 0) firstFailed = key;
      // The product in hand when the server went away may fail at any of its steps, so its
      // error line follows one of its own lines; every product after it fails at its first.
      if (key == firstFailed)
        EXPECT_THAT(lines[i - 1], EndsWith(" - P" + std::to_string(key))) << "line " << i;
      else
        EXPECT_EQ(lines[i - 1], "Importando Produto - P" + std::to_string(key)) << "line " << i;
      ++productErrors;
    } else if (line.rfind("Erro gravando o Registro ", 0) == 0) {
      EXPECT_NE(line.find('\r'), std::string::npos) << line;
      (lines[i - 1].rfind("Cliente - ", 0) == 0 ? customerErrors : supplierErrors)++;
    }
  }
  ASSERT_GE(firstFailed, kStopAt);
  EXPECT_LT(firstFailed, kProducts) << "the run ended before the server stopped";
  EXPECT_EQ(productErrors, kProducts - firstFailed + 1);
  EXPECT_EQ(customerErrors, kCustomers);
  EXPECT_EQ(supplierErrors, kSuppliers);
  EXPECT_THAT(first.out + first.err + readFile(log), Not(HasSubstr(PrivateServer::kPassword)));
  // Standard error says once where the connection went and that a re-run converges.
  const std::string lost =
      "The store connection was lost during Produtos, at its record " +
      std::to_string(firstFailed) + " (Erro gravando o Produto - P" + std::to_string(firstFailed) +
      "); " + std::to_string(productErrors + customerErrors + supplierErrors - 1) +
      " records after it failed as well. Run the import again once the store is back";
  EXPECT_THAT(first.err, HasSubstr(lost));
  EXPECT_EQ(split(first.err, "connection was lost").size(), 2u) << first.err;

  // What was committed before the server went away is still there.
  ASSERT_TRUE(server.restart());
  EXPECT_GE(count(store, "select count(*) from lj_produtos"), firstFailed - 1);
  for (const char* table :
       {"lj_produtos", "lj_referPrc", "lj_referBar", "lj_referEst", "estoqueinicial"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(count(store, std::string("select count(distinct IdReferencia) from ") + table +
                               " where IdReferencia in (select 'P' || g from generate_series(1, " +
                               std::to_string(firstFailed - 1) + ") g)"),
              firstFailed - 1);
  }
  EXPECT_EQ(count(store, "select count(*) from clientes"), 0);
  EXPECT_EQ(count(store, "select count(*) from fornecedores"), 0);
  const long entriesAfterOutage = count(store, "select count(*) from estoqueinicial");

  // With the server back, a second run writes every record, and the store ends as a clean run
  // into an empty store leaves it, apart from the clock's columns and one more initial-stock
  // entry per product that had one.
  store.disconnect();
  const faults::CliOutcome second = runCli(withSettings(settings, log, sections));
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_THAT(second.err, Not(HasSubstr("connection was lost")));
  EXPECT_THAT(readFile(log), Not(HasSubstr("Erro gravando")));
  const fs::path cleanSettings = writeSettings(clean, folder);
  const faults::CliOutcome once =
      runCli(withSettings(cleanSettings, clean.workDirectory() / "log", sections));
  EXPECT_EQ(once.status, 0) << once.err;

  const std::vector<std::string> converged = storeState(store);
  const std::vector<std::string> reference = storeState(clean);
  EXPECT_EQ(std::count_if(reference.begin(), reference.end(),
                          [](const std::string& row) { return row.rfind("--", 0) != 0; }),
            4 * kProducts + kCustomers + kSuppliers + kProducts);
  EXPECT_EQ(converged, reference);
  EXPECT_EQ(count(clean, "select count(*) from estoqueinicial"), kProducts);
  EXPECT_EQ(count(store, "select count(*) from estoqueinicial"), entriesAfterOutage + kProducts);
  EXPECT_EQ(FolderSnapshot::of(folder), legacyBefore) << legacyBefore.describe();
}

// A rehearsal whose rollback cannot be made, the server gone after the last statement and before
// the rollback: the runner says so with the rollback's error, never that every change was rolled
// back, and ends with status 1. The log goes to a FIFO the test holds both ends of: filled up, it
// keeps the runner waiting at its last log line, in its transaction, while the server stops.
TEST(StoreOutage, ADryRunWhoseRollbackFailsSaysSoAndEndsWithStatusOne) {
  PrivateServer server;
  ASSERT_EQ(::setenv("IMP_TEST_PG_CONN", server.connectionString().c_str(), 1), 0);
  TestStore store(StoreKind::PostgreSql, test_support::kNoSeed);
  const fs::path folder = store.workDirectory() / "legado";
  fs::create_directories(folder);
  writeLegacyTables(folder);
  const fs::path settings = writeSettings(store, folder);
  const fs::path fifo = store.workDirectory() / "log.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int logEnds = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(logEnds, 0);
  store.disconnect();

  const std::string lastLine = "Fornecedor - " + std::to_string(kSuppliers) + "\n";
  bool stopped = false;
  const faults::CliOutcome run =
      runCli({"--settings", settings.string(), "--log", fifo.string(), "--suppliers", "--dry-run"},
             [&](const std::string& out, pid_t child) {
               if (stopped || out.find(lastLine) == std::string::npos) return;
               char bytes[4096];
               while (::read(logEnds, bytes, sizeof bytes) > 0) {
               }
               std::memset(bytes, '.', sizeof bytes);
               for (std::size_t size : {sizeof bytes, std::size_t{1}})
                 while (::write(logEnds, bytes, size) > 0) {
                 }
               // The last supplier's statements done, the runner waits to log "Processo concluido".
               const std::string writing = std::to_string(SYS_write) + " ";
               const fs::path syscall = "/proc/" + std::to_string(child) + "/syscall";
               for (int i = 0; i < 1000 && readFile(syscall).rfind(writing, 0) != 0; ++i)
                 ::usleep(10000);
               stopped = server.stop();
               while (::read(logEnds, bytes, sizeof bytes) > 0) {
               }
             });
  ::close(logEnds);
  ASSERT_TRUE(stopped) << run.out << run.err;
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_THAT(run.out, EndsWith(lastLine + "Processo concluido\n"));
  EXPECT_THAT(run.err, HasSubstr("  Dry run: the rollback failed ("));
  EXPECT_THAT(run.err, HasSubstr("\nThe dry run's rollback failed: "));
  EXPECT_THAT(run.err, Not(HasSubstr("every change was rolled back")));
  // PostgreSQL dropped the transaction with its connection: nothing was kept.
  ASSERT_TRUE(server.restart());
  EXPECT_EQ(count(store, "select count(*) from fornecedores"), 0);
}

}  // namespace
}  // namespace importacao
