// An interrupt (SIGINT) to importacao-cli in each section acts as "Parar": the record in hand is
// finished and the section ends; a stop during products ends the run there, a stop in a later
// section lets the run reach its last line with no further record read.
#include <signal.h>

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
using faults::readFile;
using faults::runCli;
using faults::split;
using test_support::DbfBuilder;
using test_support::StoreTest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// Enough records per section that the run cannot reach a section's end between the trigger line
// being printed and the interrupt arriving, even on a loaded machine.
constexpr int kRecords = 300;

class InterruptedRun : public StoreTest {
 protected:
  test_support::TestStoreOptions options() const override { return test_support::kNoSeed; }
  void SetUp() override {
    StoreTest::SetUp();
    folder_ = store().workDirectory() / "legado";
    fs::create_directories(folder_);
    DbfBuilder products = DbfBuilder::products().languageByte(0x03);
    DbfBuilder customers = DbfBuilder::customers().languageByte(0x03);
    DbfBuilder suppliers = DbfBuilder::suppliers().languageByte(0x03);
    for (int i = 1; i <= kRecords; ++i) {
      const std::string code = std::to_string(i);
      products.recordWith({{"pd_cod", code}, {"pd_dsc", "PRODUTO " + code}, {"pd_qtd", "2"}});
      customers.recordWith({{"CL_COD", code}, {"CL_NOM", "CLIENTE " + code}});
      suppliers.recordWith({{"FN_COD", code}, {"FN_NOM", "FORNECEDOR " + code}});
    }
    products.writeTo(folder_ / "cfa1010.DBF");
    customers.writeTo(folder_ / "CFA2010.DBF");
    suppliers.writeTo(folder_ / "CFA3010.DBF");
    settings_ = store().workDirectory() / "Importacao.ini";
    std::ofstream(settings_) << "[Importacao]\nConexaoDBF=" << folder_.string()
                             << "\nConexaoSQL=" << store().writeDataLink().string() << "\n";
    legacy_ = FolderSnapshot::of(folder_);
  }
  void TearDown() override {
    EXPECT_EQ(FolderSnapshot::of(folder_), legacy_);
    StoreTest::TearDown();
  }
  long count(const std::string& sql) { return std::stol(*store().scalar(sql)); }

  fs::path folder_, settings_;
  FolderSnapshot legacy_;
};

// How many lines of the log start with `prefix`.
long linesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  long n = 0;
  for (const auto& line : lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

TEST_P(InterruptedRun, AnInterruptInEachSectionFinishesTheRecordInHandAndEndsAsPararDoes) {
  struct {
    const char* section;
    std::string trigger;     // the interrupt is sent when this line is printed
    std::string readPrefix;  // the line that says a record of the section was read
    std::string table;       // where its rows land
    bool runCompletes;       // "Processo concluido" after the stop
  } cases[] = {
      {"products", "Importando Produto - 3\n", "Importando Produto - ", "lj_produtos", false},
      {"customers", "Cliente - 3\n", "Cliente - ", "clientes", true},
      {"suppliers", "Fornecedor - 3\n", "Fornecedor - ", "fornecedores", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section);
    for (const char* table : {"lj_produtos", "lj_referBar", "lj_referPrc", "lj_referEst",
                              "estoqueinicial", "clientes", "fornecedores"})
      store().execute(std::string("delete from ") + table);
    const fs::path log = store().workDirectory() / (std::string(c.section) + ".log");
    bool sent = false;
    const faults::CliOutcome outcome =
        runCli({"--settings", settings_.string(), "--log", log.string(), "--products",
                "--customers", "--suppliers"},
               [&](const std::string& out, pid_t child) {
                 if (!sent && out.find(c.trigger) != std::string::npos)
                   sent = ::kill(child, SIGINT) == 0;
               });
    ASSERT_TRUE(sent);
    EXPECT_EQ(outcome.status, 130) << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr("Stopped: the run ended after the record in hand."));

    std::vector<std::string> lines = split(readFile(log), "\r\n");
    ASSERT_EQ(lines.back(), "") << "the log's last line is cut";
    lines.pop_back();
    EXPECT_THAT(readFile(log), Not(HasSubstr("Erro gravando")));
    // The section stopped before its end, after the record that was in hand: every record it read
    // is in the store whole, and nothing was read after it.
    const long read = linesStartingWith(lines, c.readPrefix);
    EXPECT_GE(read, 3);
    EXPECT_LT(read, kRecords);
    EXPECT_EQ(count("select count(*) from " + c.table), read);
    if (c.table == "lj_produtos") {
      EXPECT_EQ(lines.back(), "Gerando Estoque inicial - " + std::to_string(read));
      for (const char* table : {"lj_referBar", "lj_referPrc", "lj_referEst", "estoqueinicial"})
        EXPECT_EQ(count(std::string("select count(*) from ") + table), read) << table;
      EXPECT_EQ(linesStartingWith(lines, "Cliente - ") + linesStartingWith(lines, "Fornecedor - "),
                0);
    } else {
      EXPECT_EQ(lines.back(), "Processo concluido");
      EXPECT_EQ(lines[lines.size() - 2], c.readPrefix + std::to_string(read));
      EXPECT_EQ(count("select count(*) from lj_produtos"), kRecords);
    }
    EXPECT_EQ(count("select count(*) from fornecedores") > 0, c.table == "fornecedores");
    EXPECT_EQ(linesStartingWith(lines, "Processo concluido"), c.runCompletes ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, InterruptedRun, test_support::kAllStores,
                         test_support::storeTestName);

}  // namespace
}  // namespace importacao
