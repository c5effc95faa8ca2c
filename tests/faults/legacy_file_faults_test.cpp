// Damaged legacy files through importacao-cli: a file cut in the middle of a record, a header
// that counts more or fewer records than the file holds, damaged field descriptors, an empty
// file, a file that is no table at all. Each gives the complete records it holds or a clear
// error at open naming the file, never a crash; and no run ever changes a legacy file's bytes.
#include <signal.h>

#include <algorithm>
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
using faults::writeFile;
using test_support::DbfBuilder;
using test_support::TestStore;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

std::string text(const std::vector<std::byte>& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

DbfBuilder products(int count) {
  DbfBuilder table = DbfBuilder::products().languageByte(0x03);
  for (int i = 1; i <= count; ++i)
    table.recordWith({{"pd_cod", std::to_string(i)},
                      {"pd_dsc", "PRODUTO " + std::to_string(i)},
                      {"pd_vlr_rf", "2.50"},
                      {"pd_qtd", "3"}});
  return table;
}

DbfBuilder customers(int count) {
  DbfBuilder table = DbfBuilder::customers().languageByte(0x03);
  for (int i = 1; i <= count; ++i)
    table.recordWith({{"CL_COD", std::to_string(i)}, {"CL_NOM", "CLIENTE " + std::to_string(i)}});
  return table;
}

// Where field descriptor `index` (0 for the first) begins in a dBASE III header.
constexpr std::size_t descriptor(std::size_t index) { return 32 + 32 * index; }

// A legacy folder with the products and customers tables, an SQLite store and a settings file
// naming both. Every test's legacy files must come out of its runs as they went in.
class LegacyFileFault : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = store_.workDirectory() / "legado";
    fs::create_directories(folder_);
    settings_ = store_.workDirectory() / "Importacao.ini";
    std::ofstream(settings_) << "[Importacao]\nConexaoDBF=" << folder_.string()
                             << "\nConexaoSQL=" << store_.writeDataLink().string() << "\n";
    log_ = store_.workDirectory() / "importacao.log";
  }
  void TearDown() override {
    if (snapshot_) {
      EXPECT_EQ(FolderSnapshot::of(folder_), *snapshot_) << snapshot_->describe();
    }
  }

  // Runs the products and customers sections once the legacy files are in place.
  faults::CliOutcome run() {
    if (!snapshot_) snapshot_ = FolderSnapshot::of(folder_);
    fs::remove(log_);
    return runCli(
        {"--settings", settings_.string(), "--log", log_.string(), "--products", "--customers"});
  }
  std::vector<std::string> logLines() {
    std::vector<std::string> lines = split(readFile(log_), "\r\n");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }
  long count(const std::string& table) {
    return std::stol(*store_.scalar("select count(*) from " + table));
  }

  TestStore store_{StoreKind::Sqlite, test_support::kNoSeed};
  fs::path folder_, settings_, log_;
  std::optional<FolderSnapshot> snapshot_;
};

// The log of a run that imported products 1..products and customers 1..customers.
std::vector<std::string> completeLog(int products, int customers) {
  std::vector<std::string> lines{"Lendo Tabela de Produtos"};
  for (int i = 1; i <= products; ++i) {
    const std::string key = std::to_string(i);
    for (const char* step : {"Importando Produto - ",
                             "Importando C\xF3"
                             "digo de Barras do Produto - ",
                             "Gravando Preco do Produto - ", "Gerando Estoque do Produto - ",
                             "Gerando Estoque inicial - "})
      lines.push_back(step + key);
  }
  for (int i = 1; i <= customers; ++i) lines.push_back("Cliente - " + std::to_string(i));
  lines.push_back("Processo concluido");
  return lines;
}

TEST_F(LegacyFileFault, TablesThatLieAboutTheirRecordsGiveTheCompleteRecordsTheyHold) {
  const std::size_t header = DbfBuilder::products().naturalHeaderLength();
  const std::size_t record = DbfBuilder::products().naturalRecordLength();
  struct {
    const char* what;
    std::string productsFile;
    int productsRead;
    std::string warning;  // after "warning: <path of the file>: the header counts "
    std::string customersFile = text(customers(2).bytes());
    int customersRead = 2;
  } cases[] = {
      {"cut in the middle of the fourth record",
       text(products(5).endMarker(false).bytes()).substr(0, header + 3 * record + record / 2), 3,
       "5 records but the file holds only 3 complete ones; reading 3"},
      {"cut one byte short of the end",
       text(products(5).endMarker(false).bytes()).substr(0, header + 5 * record - 1), 4,
       "5 records but the file holds only 4 complete ones; reading 4"},
      {"header counts more records than the file holds", text(products(3).headerCount(9).bytes()),
       3, "9 records but the file holds only 3 complete ones; reading 3"},
      {"header counts a huge number of records", text(products(3).headerCount(0x7FFFFFFF).bytes()),
       3, "2147483647 records but the file holds only 3 complete ones; reading 3"},
      {"header counts fewer records than the file holds", text(products(3).headerCount(2).bytes()),
       2, "2 records but the file has room for 3; reading the 2 it counts"},
      {"header counts no record at all", text(products(3).headerCount(0).bytes()), 0,
       "0 records but the file has room for 3; reading the 0 it counts"},
      {"end-of-file mark where a counted record begins",
       text(products(3)
                .endMarker(false)
                .trailing(std::string("\x1A") + std::string(200, 'z'))
                .headerCount(4)
                .bytes()),
       3, "4 records but an end-of-file mark stands where record 4 should begin; reading 3"},
      {"customers cut in the middle of their second record", text(products(1).bytes()), 1,
       "2 records but the file holds only 1 complete ones; reading 1",
       text(customers(2).endMarker(false).bytes())
           .substr(0, DbfBuilder::customers().naturalHeaderLength() +
                          DbfBuilder::customers().naturalRecordLength() * 3 / 2),
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    snapshot_.reset();
    writeFile(folder_ / "cfa1010.DBF", c.productsFile);
    writeFile(folder_ / "CFA2010.DBF", c.customersFile);
    store_.execute("delete from lj_produtos");
    store_.execute("delete from clientes");

    const faults::CliOutcome outcome = run();
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const char* const damaged = c.customersRead < 2 ? "CFA2010.DBF" : "cfa1010.DBF";
    EXPECT_THAT(outcome.err, HasSubstr("warning: " + (folder_ / damaged).string() +
                                       ": the header counts " + c.warning));
    EXPECT_THAT(logLines(), ElementsAreArray(completeLog(c.productsRead, c.customersRead)));
    EXPECT_EQ(count("lj_produtos"), c.productsRead);
    EXPECT_EQ(count("clientes"), c.customersRead);
    EXPECT_EQ(FolderSnapshot::of(folder_), *snapshot_) << snapshot_->describe();
  }
}

TEST_F(LegacyFileFault, FilesThatCannotBeReadEndTheRunAtOpenNamingTheFile) {
  const auto damaged = [](std::vector<std::pair<std::size_t, char>> bytes) {
    std::string file = text(products(3).bytes());
    for (const auto& [at, value] : bytes) file[at] = value;
    return file;
  };
  const std::string good = text(products(3).bytes());
  struct {
    const char* what;
    std::string productsFile;
    std::string customersFile;
    std::string message;  // on standard error; names the file
    int productsRead;     // -1: the run ends before the products section logs a product
  } cases[] = {
      {"empty file", "", text(customers(1).bytes()),
       "cfa1010.DBF: not a dBASE table: the file is 0 bytes long", -1},
      {"a text file", "pd_cod;pd_dsc\r\n1;PRODUTO UM\r\n2;PRODUTO DOIS\r\n",
       text(customers(1).bytes()), "cfa1010.DBF: not a dBASE table", -1},
      {"a file shorter than a header", "\x03\x7c\x01\x1f", text(customers(1).bytes()),
       "cfa1010.DBF: not a dBASE table", -1},
      {"a file cut inside its field descriptors", good.substr(0, 100), text(customers(1).bytes()),
       "cfa1010.DBF: header length 353 runs past the end of the file (100 bytes)", -1},
      {"first field wider than the record", damaged({{descriptor(0) + 16, '\xC8'}}),
       text(customers(1).bytes()), "cfa1010.DBF: record length", -1},
      {"damaged name of the code field", damaged({{descriptor(0) + 3, '\xFF'}}),
       text(customers(1).bytes()), "pd_cod", -1},
      {"customers table empty after good products", good, "", "CFA2010.DBF: not a dBASE table", 3},
      {"customers table whose first field runs past its record", good,
       [] {
         std::string file = text(customers(1).bytes());
         file[descriptor(0) + 16] = '\xFF';
         return file;
       }(),
       "CFA2010.DBF: record length", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    snapshot_.reset();
    writeFile(folder_ / "cfa1010.DBF", c.productsFile);
    writeFile(folder_ / "CFA2010.DBF", c.customersFile);
    store_.execute("delete from lj_produtos");
    store_.execute("delete from clientes");

    const faults::CliOutcome outcome = run();
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr(c.message));
    EXPECT_THAT(outcome.err, Not(HasSubstr("The run reached its end")));
    std::vector<std::string> expected = completeLog(std::max(c.productsRead, 0), 0);
    expected.pop_back();  // no "Processo concluido"
    EXPECT_THAT(logLines(), ElementsAreArray(expected));
    EXPECT_EQ(count("lj_produtos"), std::max(c.productsRead, 0));
    EXPECT_EQ(count("clientes"), 0);
    EXPECT_EQ(FolderSnapshot::of(folder_), *snapshot_) << snapshot_->describe();
  }
}

TEST_F(LegacyFileFault, DescriptorsDamagedBeyondTheirFieldsAreReadByTheHeader) {
  const std::size_t end = DbfBuilder::products().naturalHeaderLength() - 1;  // the 0x0D mark
  const auto damaged = [](std::vector<std::pair<std::size_t, char>> bytes) {
    std::string file = text(products(3).bytes());
    for (const auto& [at, value] : bytes) file[at] = value;
    return file;
  };
  struct {
    const char* what;
    std::string productsFile;
    std::vector<std::string> log;  // the products section's lines
    std::string warning;           // on standard error; "" for none
  } cases[] = {
      {"end mark of the descriptors overwritten", damaged({{end, ' '}}), completeLog(3, 0), ""},
      {"decimals of the price past its width", damaged({{descriptor(7) + 17, '\x14'}}),
       completeLog(3, 0), ""},
      // The header length says where the records begin: only the first descriptor is left, and
      // the records are read from the bytes of the others. Each fails on the field it lacks.
      {"header length that cuts the descriptors after the first",
       damaged({{8, '\x40'}, {9, '\x00'}}),
       {"Lendo Tabela de Produtos", "Importando Produto - d_dsc",
        "Erro gravando o Produto - d_dsc\rtProduto: Field 'pd_dsc' not found",
        "Importando Produto - grp",
        "Erro gravando o Produto - grp\rtProduto: Field 'pd_dsc' not found",
        "Importando Produto - r", "Erro gravando o Produto - r\rtProduto: Field 'pd_dsc' not found",
        "Processo concluido"},
       "cfa1010.DBF: the header counts 3 records but the file has room for 5; reading the 3 it "
       "counts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    snapshot_.reset();
    writeFile(folder_ / "cfa1010.DBF", c.productsFile);
    customers(0).writeTo(folder_ / "CFA2010.DBF");
    store_.execute("delete from lj_produtos");
    store_.execute("delete from lj_referPrc");
    const faults::CliOutcome outcome = run();
    EXPECT_EQ(outcome.status, faults::hasErrorLine(c.log) ? 3 : 0) << outcome.err;
    EXPECT_THAT(logLines(), ElementsAreArray(c.log));
    if (c.warning.empty()) {
      EXPECT_THAT(outcome.err, Not(HasSubstr("warning")));
    } else {
      EXPECT_THAT(outcome.err, HasSubstr("warning: " + (folder_ / c.warning).string()));
    }
    // Every product written was written whole, with the price its record holds.
    EXPECT_EQ(store_.scalar("select count(*) from lj_referPrc where PrecoVenda = 2.5"),
              store_.scalar("select count(*) from lj_produtos"));
    EXPECT_EQ(FolderSnapshot::of(folder_), *snapshot_) << snapshot_->describe();
  }
}

TEST_F(LegacyFileFault, ATableCutShortByAnotherProgramDuringTheRunEndsItNamingTheFile) {
  // Wide records, so that the reader's window holds a few hundred of them and the cut is met
  // when it reads on past the window.
  DbfBuilder table = DbfBuilder::products().languageByte(0x03);
  for (const char* wide : {"pd_obs1", "pd_obs2", "pd_obs3", "pd_obs4"}) table.field(wide, 'C', 250);
  constexpr int kProducts = 600;
  for (int i = 1; i <= kProducts; ++i)
    table.recordWith({{"pd_cod", std::to_string(i)}, {"pd_vlr_rf", "2.50"}});
  table.writeTo(folder_ / "cfa1010.DBF");
  customers(1).writeTo(folder_ / "CFA2010.DBF");
  const std::size_t cutAt =
      table.naturalHeaderLength() + 20 * std::size_t{table.naturalRecordLength()};

  bool cut = false;
  const faults::CliOutcome outcome = runCli(
      {"--settings", settings_.string(), "--log", log_.string(), "--products", "--customers"},
      [&](const std::string& out, pid_t child) {
        if (cut || out.find("Importando Produto - 5\n") == std::string::npos) return;
        ::kill(child, SIGSTOP);
        fs::resize_file(folder_ / "cfa1010.DBF", cutAt);
        cut = true;
        ::kill(child, SIGCONT);
      });
  ASSERT_TRUE(cut);
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr((folder_ / "cfa1010.DBF").string() +
                                     ": the file is shorter than when it was opened"));
  // The products read before the cut was met were imported whole; the run ended there.
  const std::vector<std::string> lines = logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines.back(), ::testing::StartsWith("Gerando Estoque inicial - "));
  const long read = std::stol(lines.back().substr(26));
  EXPECT_GE(read, 5);
  EXPECT_LT(read, kProducts);
  EXPECT_EQ(count("lj_produtos"), read);
  EXPECT_EQ(count("lj_referPrc"), read);
  EXPECT_THAT(readFile(log_), Not(HasSubstr("Erro gravando")));
  EXPECT_EQ(count("clientes"), 0);
  EXPECT_EQ(fs::file_size(folder_ / "cfa1010.DBF"), cutAt);  // as the other program left it
}

}  // namespace
}  // namespace importacao
