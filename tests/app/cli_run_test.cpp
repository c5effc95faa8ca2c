// importacao-cli run as a program over legacy tables in a folder and a store made for the test:
// what it prints, what its log file holds, how it ends.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "normalise/codepage.h"
#include "tests/support/cli_runner.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using test_support::DbfBuilder;
using test_support::StoreTest;
using test_support::TestStore;
using test_support::TestStoreOptions;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using Outcome = test_support::CliOutcome;
using test_support::readFile;
using test_support::runCli;
using test_support::split;

const std::string kBarcodeLine =
    "Importando C\xF3"
    "digo de Barras do Produto - ";

std::vector<std::string> productLines(const std::string& key) {
  return {"Importando Produto - " + key, kBarcodeLine + key, "Gravando Preco do Produto - " + key,
          "Gerando Estoque do Produto - " + key, "Gerando Estoque inicial - " + key};
}

// A legacy folder in the store's work directory whose products table is `products`.
fs::path legacyFolderWith(const TestStore& store, const DbfBuilder& products) {
  const fs::path folder = store.workDirectory() / "legado";
  fs::create_directories(folder);
  products.writeTo(folder / "cfa1010.DBF");
  return folder;
}

// A store, a legacy folder and a settings file naming both.
class CliRun : public StoreTest {
 public:
  TestStoreOptions options() const override {
    TestStoreOptions o;
    o.seed = false;
    return o;
  }
  void SetUp() override {
    StoreTest::SetUp();
    work_ = store().workDirectory();
    folder_ = work_ / "legado";
    fs::create_directories(folder_);
    dataLink_ = store().writeDataLink();
    settings_ = work_ / "Importacao.ini";
    std::ofstream(settings_) << "[Importacao]\nConexaoDBF=" << folder_.string()
                             << "\nConexaoSQL=" << dataLink_.string() << "\n";
    log_ = work_ / "importacao.log";
  }

  // Products 1..count, plus the over-long code that the products section refuses.
  void writeProducts(int count, bool withRefusedKey) {
    DbfBuilder table = DbfBuilder::products().languageByte(0x03);
    for (int i = 1; i <= count; ++i) {
      const std::string code = std::to_string(i);
      table.recordWith({{"pd_cod", code},
                        {"pd_dsc", "PRODUTO " + code},
                        {"pd_und", "UN"},
                        {"pd_vlr_rf", "2.50"},
                        {"pd_qtd", "3"}});
    }
    if (withRefusedKey) table.recordWith({{"pd_cod", "12345678901"}, {"pd_dsc", "LONGO"}});
    table.writeTo(folder_ / "cfa1010.DBF");
  }

  std::vector<std::string> withSettings(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--settings", settings_.string(), "--log", log_.string()});
    return args;
  }
  long count(const std::string& table) {
    return std::stol(*store().scalar("select count(*) from " + table));
  }

  fs::path work_, folder_, dataLink_, settings_, log_;
};

TEST_P(CliRun, CompletedRunWritesTheLogAsTheWindowHoldsItAndExitsThreeForItsFailedRecord) {
  writeProducts(2, true);
  const std::string settingsBefore = readFile(settings_);
  const auto settingsTime = fs::last_write_time(settings_);

  const Outcome run = runCli(withSettings({"--products"}));

  EXPECT_EQ(run.status, 3) << run.err;
  std::vector<std::string> lines{"Lendo Tabela de Produtos"};
  for (const std::string key : {"1", "2"})
    for (const auto& line : productLines(key)) lines.push_back(line);
  lines.push_back("Importando Produto - 12345678901");
  lines.push_back("Erro gravando o Produto - 12345678901\r");  // the message follows the CR
  lines.push_back("Processo concluido");

  // The log file: each line's 1252 bytes ended by CR LF, the lone CR of the error line kept.
  const std::vector<std::string> logged = split(readFile(log_), "\r\n");
  ASSERT_EQ(logged.size(), lines.size() + 1) << readFile(log_);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    if (lines[i].back() == '\r')
      EXPECT_THAT(logged[i], StartsWith(lines[i]));
    else
      EXPECT_EQ(logged[i], lines[i]);
  }
  EXPECT_EQ(logged.back(), "");
  // Standard output (not a terminal): the same lines in UTF-8, the CR kept inside its line.
  std::string expectedOut;
  for (std::size_t i = 0; i + 1 < logged.size(); ++i) expectedOut += cp1252ToUtf8(logged[i]) + "\n";
  EXPECT_EQ(run.out, expectedOut);
  EXPECT_THAT(run.out, HasSubstr("Importando Código de Barras do Produto - 1\n"));
  // The summary, and no progress bar off a terminal.
  EXPECT_THAT(run.err, HasSubstr("Produtos"));
  EXPECT_THAT(run.err, HasSubstr("The run reached its end."));
  EXPECT_THAT(run.err, Not(HasSubstr("\x1b[K")));
  // The runner never writes the settings file.
  EXPECT_EQ(readFile(settings_), settingsBefore);
  EXPECT_EQ(fs::last_write_time(settings_), settingsTime);
  EXPECT_EQ(count("lj_produtos"), 2);
}

TEST_P(CliRun, DryRunLogsWhatARealRunLogsAndKeepsNothing) {
  writeProducts(3, true);
  // Every product fails at its initial-stock entry after its other rows were written: on
  // PostgreSQL that failed statement would spoil the rehearsal's transaction for the rest.
  store().execute("drop table estoqueinicial");

  const Outcome dry = runCli(withSettings({"--products", "--dry-run"}));
  const std::string dryLog = readFile(log_);
  EXPECT_EQ(dry.status, 3) << dry.err;
  EXPECT_THAT(dry.err, HasSubstr("Dry run: every change was rolled back"));
  EXPECT_EQ(count("lj_produtos"), 0);
  EXPECT_EQ(count("lj_referBar"), 0);
  EXPECT_EQ(count("lj_referEst"), 0);

  const Outcome real = runCli(withSettings({"--products"}));
  EXPECT_EQ(real.status, 3) << real.err;
  EXPECT_EQ(dryLog, readFile(log_));
  EXPECT_EQ(dry.out, real.out);
  EXPECT_THAT(dryLog, HasSubstr("Erro gravando o Produto - 3\r"));
  EXPECT_EQ(count("lj_produtos"), 3);  // the real run kept what was written before each failure
}

TEST_P(CliRun, AnInterruptStopsAfterTheRecordInHandWithStatus130) {
  writeProducts(200, false);
  bool sent = false;
  const Outcome run =
      runCli(withSettings({"--products"}), [&](const std::string& out, pid_t child) {
        if (!sent && out.find("Importando Produto - 1\n") != std::string::npos) {
          ::kill(child, SIGINT);
          sent = true;
        }
      });
  EXPECT_EQ(run.status, 130) << run.err;
  const std::string log = readFile(log_);
  EXPECT_THAT(log, Not(HasSubstr("Processo concluido")));
  EXPECT_THAT(log, EndsWith("\r\n"));
  // The last record begun was finished: the log ends with a product's last line.
  const std::vector<std::string> lines = split(log, "\r\n");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_THAT(lines[lines.size() - 2], StartsWith("Gerando Estoque inicial - "));
  EXPECT_LT(count("lj_produtos"), 200);
  EXPECT_EQ(count("lj_produtos"), count("lj_referPrc"));  // no product left half-way
  EXPECT_THAT(run.err, HasSubstr("Stopped: the run ended after the record in hand."));
}

TEST_P(CliRun, ASecondInterruptEndsAtOnce) {
  writeProducts(200, false);
  // Two interrupts sent together arrive as one, so the second follows a moment later. On a fast
  // store the record in hand can end in that moment and the run stops the gentle way (with its
  // summary); that says nothing of the second interrupt, so the attempt is made again.
  Outcome run;
  for (int attempt = 0; attempt < 8; ++attempt) {
    bool sent = false;
    run = runCli(withSettings({"--products"}), [&](const std::string& out, pid_t child) {
      if (!sent && out.find("Importando Produto - 1\n") != std::string::npos) {
        ::kill(child, SIGINT);
        ::usleep(200 + 300 * attempt);
        ::kill(child, SIGINT);
        sent = true;
      }
    });
    if (run.err.find("Summary") == std::string::npos) break;
  }
  EXPECT_EQ(run.status, 130);
  EXPECT_THAT(run.err, Not(HasSubstr("Summary")));  // ended in the handler, no summary
  const std::string log = readFile(log_);
  EXPECT_THAT(log, EndsWith("\r\n"));  // every line whole
  EXPECT_THAT(log, Not(HasSubstr("Processo concluido")));
}

TEST_P(CliRun, AnErrorOutsideARecordEndsWithStatusOneAndItsMessage) {
  // The summary says where the run ended and why: before its first section, or in one.
  const std::string inSection =
      "  The run ended with an error; the sections after it did not run: ";
  const std::string beforeSections = "  The run ended before its first section: ";
  struct {
    const char* what;
    std::function<void(CliRun&)> arrange;
    const char* message;
    std::string log;
    std::string summary;
  } cases[] = {
      {"legacy folder without the products table", [](CliRun&) {}, "cfa1010.DBF",
       "Lendo Tabela de Produtos\r\n", inSection},
      {"store that cannot be reached",
       [](CliRun& t) {
         t.writeProducts(1, false);
         std::ofstream(t.dataLink_, std::ios::trunc) << "[oledb]\r\nProvider=Nenhum.1\r\n";
       },
       "Nenhum", "", beforeSections},
      {"code page setting that is no code page",
       [](CliRun& t) {
         t.writeProducts(1, false);
         std::ofstream(t.settings_, std::ios::app) << "PaginaCodigoDBF=utf8\n";
       },
       "PaginaCodigoDBF=utf8", "", ""},  // refused as the settings are read: no run, no summary
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(folder_ / "cfa1010.DBF");
    std::ofstream(settings_, std::ios::trunc) << "[Importacao]\nConexaoDBF=" << folder_.string()
                                              << "\nConexaoSQL=" << dataLink_.string() << "\n";
    store().writeDataLink();
    fs::remove(log_);
    c.arrange(*this);
    const Outcome run = runCli(withSettings({"--products"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    if (!c.summary.empty()) {
      const std::size_t said = run.err.find(c.summary);
      ASSERT_NE(said, std::string::npos) << run.err;
      EXPECT_THAT(run.err.substr(said, run.err.find('\n', said) - said), HasSubstr(c.message));
    }
    EXPECT_THAT(run.err, Not(HasSubstr("No section was chosen.")));
    EXPECT_EQ(fs::exists(log_) ? readFile(log_) : "", c.log);
    EXPECT_THAT(run.out, Not(HasSubstr("Processo concluido")));
  }
}

TEST_P(CliRun, OptionsOverrideTheSettingsFolderAndDataLink) {
  writeProducts(1, false);
  std::ofstream(settings_, std::ios::trunc)
      << "[Importacao]\nConexaoDBF=/nao/existe\nConexaoSQL=/nao/existe.udl\n";
  const Outcome run = runCli(withSettings(
      {"--products", "--dbf-folder", folder_.string(), "--data-link", dataLink_.string()}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count("lj_produtos"), 1);
}

// `importacao-cli ... | head -1`: the reader goes away after the first line. The import runs to
// its end all the same: every line in the log file, every product in the store, the status earned.
TEST_P(CliRun, AClosedStandardOutputNeitherStopsNorKillsTheImport) {
  writeProducts(60, false);
  const Outcome run = runCli(withSettings({"--products"}), {}, true);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("Lendo Tabela de Produtos\n"));
  const std::vector<std::string> logged = split(readFile(log_), "\r\n");
  ASSERT_EQ(logged.size(), 1 + 60 * 5 + 1 + 1u);
  EXPECT_EQ(logged[logged.size() - 2], "Processo concluido");
  EXPECT_EQ(count("lj_produtos"), 60);
  EXPECT_THAT(run.err, HasSubstr("The run reached its end."));
  EXPECT_THAT(run.err, HasSubstr("Standard output was closed after line "));
}

INSTANTIATE_TEST_SUITE_P(Stores, CliRun, test_support::kAllStores, test_support::storeTestName);

// ConexaoSQL names a file that is not there: the runner says so on standard error, with the file
// it uses instead (Importacao.udl beside the settings), and imports there. With that one missing
// too, the run ends before it connects, naming the file typed first.
TEST(CliProgram, AMissingDataLinkFileIsToldWithTheOneUsedInstead) {
  TestStore store(StoreKind::Sqlite, test_support::kNoSeed);
  const fs::path folder = legacyFolderWith(
      store, DbfBuilder::products().languageByte(0x03).recordWith({{"pd_cod", "5"}}));
  const fs::path config = store.workDirectory() / "config";
  fs::create_directories(config);
  const fs::path builtIn = config / "Importacao.udl", typed = store.workDirectory() / "lojaa.udl";
  fs::copy_file(store.writeDataLink(), builtIn);
  const fs::path settings = config / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoDBF=" << folder.string()
                          << "\nConexaoSQL=" << typed.string() << "\n";

  const Outcome run = runCli({"--settings", settings.string(), "--products"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("warning: The data-link file '" + typed.string() +
                                 "' does not exist; the store connection uses '" +
                                 builtIn.string() + "' (the built-in data-link file) instead.\n"));
  EXPECT_EQ(store.scalar("select count(*) from lj_produtos"), "1");

  fs::remove(builtIn);
  const Outcome none = runCli({"--settings", settings.string(), "--products"});
  EXPECT_EQ(none.status, 1);
  EXPECT_THAT(none.err, HasSubstr("The data-link file '" + typed.string() +
                                  "' does not exist, and neither does '" + builtIn.string() + "'"));
  EXPECT_EQ(none.out, "");
}

// Scripts read the status: every one is listed where an operator looks.
TEST(CliProgram, EveryExitStatusIsListedInTheHelpTheManualPageAndTheReadme) {
  const Outcome help = runCli({"--help"});
  EXPECT_EQ(help.status, 0);
  const std::string manual = readFile(IMP_SOURCE_ROOT "/packaging/importacao-cli.1");
  const std::string readme = readFile(IMP_SOURCE_ROOT "/README.md");
  for (const char* status : {"0", "1", "2", "3", "130"}) {
    SCOPED_TRACE(status);
    EXPECT_THAT(help.out, HasSubstr("\n  " + std::string(status) + " "));
    EXPECT_THAT(manual, HasSubstr(".B " + std::string(status) + "\n"));
    EXPECT_THAT(readme, HasSubstr("| " + std::string(status) + " |"));
  }
}

TEST(CliProgram, UsageErrorsEndWithStatusTwo) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--no-such-option"},
                                               {"--dbf-code-page", "9"},
                                               {"--settings", "/nao/existe.ini"}}) {
    const Outcome run = runCli(args);
    EXPECT_EQ(run.status, 2) << args.front();
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(run.out, "");
  }
}

TEST(CliProgram, RunWithNoSectionOnlyConnectsAndLogsTheEnd) {
  TestStore store(StoreKind::Sqlite, test_support::kNoSeed);
  const fs::path settings = store.workDirectory() / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoDBF=" << store.workDirectory().string()
                          << "\nConexaoSQL=" << store.writeDataLink().string() << "\n";
  const Outcome run = runCli({"--settings", settings.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Processo concluido\n");
  EXPECT_THAT(run.err, HasSubstr("No section was chosen."));
}

// A products table whose header counts more records than the file holds, with a quantity that
// cannot be read: the run reads what is there and says both on standard error, naming the file
// (and the value, which reads as null); the log is what it would have been.
TEST(CliProgram, ARunPrintsTheWarningsOfTheTablesItOpens) {
  TestStore store(StoreKind::Sqlite, test_support::kNoSeed);
  const fs::path folder = legacyFolderWith(
      store, DbfBuilder::products()
                 .languageByte(0x03)
                 .recordWith({{"pd_cod", "5"}, {"pd_dsc", "CINCO"}})
                 .recordWith({{"pd_cod", "6"}, {"pd_dsc", "SEIS"}, {"pd_qtd", "1,5"}})
                 .headerCount(4));
  const fs::path settings = store.workDirectory() / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoDBF=" << folder.string()
                          << "\nConexaoSQL=" << store.writeDataLink().string() << "\n";

  const Outcome run = runCli({"--settings", settings.string(), "--products"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("warning: " + (folder / "cfa1010.DBF").string() +
                                 ": the header counts 4 records but the file holds only 2 "
                                 "complete ones; reading 2\n"));
  EXPECT_THAT(run.err, HasSubstr("warning: " + (folder / "cfa1010.DBF").string() +
                                 ": 1 numeric or date value is neither blank nor readable and "
                                 "reads as null (blank); the first is '1,5' in field 'pd_qtd' of "
                                 "record 2\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("warning")));
  EXPECT_THAT(run.out, HasSubstr("Importando Produto - 6\n"));

  // A table without anything odd: no warning line.
  DbfBuilder::products()
      .languageByte(0x03)
      .recordWith({{"pd_cod", "5"}, {"pd_dsc", "CINCO"}})
      .writeTo(folder / "cfa1010.DBF");
  const Outcome clean = runCli({"--settings", settings.string(), "--products"});
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_THAT(clean.err, Not(HasSubstr("warning")));
}

// --log empties the file it names, so it refuses the files a run reads: a legacy table (by its
// name, anywhere), the settings file, the data-link file. Nothing is written, no store touched.
TEST(CliProgram, TheLogIsNeverWrittenOverATableTheSettingsOrTheDataLink) {
  TestStore store(StoreKind::Sqlite, test_support::kNoSeed);
  const fs::path folder = legacyFolderWith(
      store, DbfBuilder::products().languageByte(0x03).recordWith({{"pd_cod", "5"}}));
  const fs::path dataLink = store.writeDataLink();
  const fs::path settings = store.workDirectory() / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoDBF=" << folder.string()
                          << "\nConexaoSQL=" << dataLink.string() << "\n";
  const struct {
    fs::path log;
    const char* why;
  } cases[] = {
      {folder / "cfa1010.DBF", "it names a dBASE table"},
      {folder / "." / "cfa1010.DBF", "it names a dBASE table"},
      {store.workDirectory() / "novo.Dbf", "it names a dBASE table"},
      {settings, "it is the settings file"},
      {store.workDirectory() / "." / "Importacao.ini", "it is the settings file"},
      {dataLink, "it is the data-link file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log.string());
    const bool existed = fs::exists(c.log);
    const std::string before = existed ? readFile(c.log) : "";
    const Outcome run =
        runCli({"--settings", settings.string(), "--log", c.log.string(), "--products"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.why));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(fs::exists(c.log), existed);
    if (existed) {
      EXPECT_EQ(readFile(c.log), before);
    }
  }
  EXPECT_EQ(store.scalar("select count(*) from lj_produtos"), "0");

  // A data-link file the settings name in quotes, its path holding a blank.
  const fs::path spaced = store.workDirectory() / "com espaco" / "loja.udl";
  fs::create_directories(spaced.parent_path());
  fs::copy_file(dataLink, spaced);
  const fs::path quoted = store.workDirectory() / "quoted.ini";
  std::ofstream(quoted) << "[Importacao]\nConexaoDBF=" << folder.string() << "\nConexaoSQL=\""
                        << spaced.string() << "\"\n";
  const std::string linkBytes = readFile(spaced);
  const Outcome overLink =
      runCli({"--settings", quoted.string(), "--log", spaced.string(), "--products"});
  EXPECT_EQ(overLink.status, 2) << overLink.err;
  EXPECT_THAT(overLink.err, HasSubstr("it is the data-link file"));
  EXPECT_EQ(readFile(spaced), linkBytes);

  // Any other file is the log's, and the run goes on.
  const fs::path log = store.workDirectory() / "importacao.log";
  const Outcome run =
      runCli({"--settings", settings.string(), "--log", log.string(), "--products"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(readFile(log), HasSubstr("Importando Produto - 5"));
}

TEST(CliProgram, DumpPrintsATableAsJsonLines) {
  const fs::path folder = fs::temp_directory_path() / ("cli-dump-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  DbfBuilder()
      .languageByte(0x03)
      .field("FN_COD", 'N', 6)
      .field("FN_NOM", 'C', 20)
      .record({"7", "LE\xC3O S/A"})
      .writeTo(folder / "CFA3010.DBF");
  const Outcome run = runCli({"--dump-dbf", (folder / "CFA3010.DBF").string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("{\"fields\":"));
  EXPECT_THAT(run.out, HasSubstr("\"FN_NOM\":\"LEÃO S/A\""));
  const Outcome missing = runCli({"--dump-dbf", (folder / "nada.dbf").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
  fs::remove_all(folder);
}

// On a terminal: the progress bar on standard error and the error line broken and indented.
TEST(CliProgram, OnATerminalShowsAProgressBarAndBreaksErrorLines) {
  TestStore store(StoreKind::Sqlite, test_support::kNoSeed);
  const fs::path folder =
      legacyFolderWith(store, DbfBuilder::products()
                                  .languageByte(0x03)
                                  .recordWith({{"pd_cod", "5"}, {"pd_dsc", "CINCO"}})
                                  .recordWith({{"pd_cod", "12345678901"}}));
  const fs::path settings = store.workDirectory() / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoDBF=" << folder.string()
                          << "\nConexaoSQL=" << store.writeDataLink().string() << "\n";

  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(IMP_CLI_PATH, IMP_CLI_PATH, "--settings", settings.c_str(), "--products",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string screen;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, n);
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << screen;  // a record failed
  EXPECT_THAT(screen, HasSubstr("\x1b[KProdutos  "));
  // The terminal turns "\n" into "\r\n"; the CR inside the error line became a break + indent.
  EXPECT_THAT(screen, HasSubstr("Erro gravando o Produto - 12345678901\r\n    "));
  EXPECT_THAT(screen, HasSubstr("Summary"));
}

}  // namespace
}  // namespace importacao
