#include "app/cli/cli_host.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace importacao {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

fs::path tempPath(const std::string& name) {
  return fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
}

TEST(LogFile, HoldsTheLogAsTheWindowDoesOneLineAtATime) {
  const fs::path path = tempPath("cli-log");
  {
    LogFile log(path);
    log.append("Lendo Tabela de Produtos");
    EXPECT_EQ(readFile(path), "Lendo Tabela de Produtos\r\n");  // on disk before the next line
    log.append("Erro gravando o Produto - 12\rtProduto: Field 'pd_apl' not found");
    log.append(
        "Importando C\xF3"
        "digo de Barras do Produto - 12");
    log.append("");
  }
  EXPECT_EQ(readFile(path),
            "Lendo Tabela de Produtos\r\n"
            "Erro gravando o Produto - 12\rtProduto: Field 'pd_apl' not found\r\n"
            "Importando C\xF3"
            "digo de Barras do Produto - 12\r\n"
            "\r\n");
  fs::remove(path);
}

TEST(LogFile, ClearEmptiesTheFileAndLaterLinesStartAgain) {
  const fs::path path = tempPath("cli-log-clear");
  std::ofstream(path) << "an older run\r\n";
  LogFile log(path);  // truncates
  EXPECT_EQ(readFile(path), "");
  log.append("a");
  log.clear();
  log.append("b");
  EXPECT_EQ(readFile(path), "b\r\n");
  fs::remove(path);
}

TEST(LogFile, AFileThatCannotBeOpenedIsNamed) {
  EXPECT_THAT([] { LogFile log("/nonexistent-folder/x.log"); },
              ::testing::ThrowsMessage<std::runtime_error>(
                  HasSubstr("Unable to open the log file /nonexistent-folder/x.log")));
}

TEST(LogFile, AFullDiskEndsTheRunWithAClearError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  LogFile log("/dev/full");
  EXPECT_THAT([&] { log.append("x"); }, ::testing::ThrowsMessage<std::runtime_error>(
                                            HasSubstr("Unable to write the log file /dev/full")));
}

TEST(CliOutput, ShowsLinesInUtf8AndBreaksErrorLinesOnlyOnATerminal) {
  struct {
    const char* what;
    std::string line;
    bool terminal;
    std::string want;
  } cases[] = {
      {"accented text",
       "Importando C\xF3"
       "digo de Barras do Produto - 7",
       false, "Importando Código de Barras do Produto - 7"},
      {"error line into a pipe keeps its carriage return", "Erro gravando o Registro 3-ANA\rboom",
       false, "Erro gravando o Registro 3-ANA\rboom"},
      {"error line on a terminal: a break and an indent", "Erro gravando o Registro 3-ANA\rboom",
       true, "Erro gravando o Registro 3-ANA\n    boom"},
      {"escape bytes neutralised on a terminal", "Cliente - \x1b[2J\x07", true, "Cliente - ?[2J?"},
      {"C1 controls neutralised on a terminal",
       "A\x9D"
       "B\x90",
       true, "A?B?"},
      {"escape bytes kept into a pipe", "X\x1b", false, "X\x1b"},
      {"euro sign", "\x80", true, "€"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(displayLine(c.line, c.terminal), c.want);
  }
}

TEST(CliOutput, ProgressTextGivesCountRateAndTimeLeft) {
  SectionStats stats;
  stats.id = SectionId::Customers;
  stats.recordCount = 1000;
  EXPECT_EQ(progressText(stats), "Clientes  0/1000  0%");
  stats.read = 250;
  stats.elapsed = std::chrono::seconds(5);
  EXPECT_EQ(progressText(stats), "Clientes  250/1000  25%  50/s  0:15 left");
  stats.read = 1000;
  stats.elapsed = std::chrono::seconds(20);
  EXPECT_EQ(progressText(stats), "Clientes  1000/1000  100%  50/s");
  stats.recordCount = 0;
  stats.read = 0;
  EXPECT_EQ(progressText(stats), "Clientes  0/0");
  stats.id = SectionId::Products;
  stats.recordCount = 720000;
  stats.read = 1;
  stats.elapsed = std::chrono::milliseconds(5);
  EXPECT_EQ(progressText(stats), "Produtos  1/720000  0%  200/s  1:00:00 left");
}

TEST(CliOutput, SummarySaysWhatEachSectionDidAndHowTheRunEndedAndTheStatusFollows) {
  RunSummary summary;
  SectionStats products;
  products.id = SectionId::Products;
  products.read = 10;
  products.inserted = 7;
  products.updated = 2;
  products.failed = 1;
  products.elapsed = std::chrono::milliseconds(1500);
  summary.sections.push_back(products);
  summary.completed = true;
  RunReport report;
  report.sectionsChosen = true;
  report.total = std::chrono::seconds(2);

  std::ostringstream err;
  writeSummary(err, summary, report);
  EXPECT_EQ(err.str(),
            "Summary\n"
            "  Section          Read   Inserted    Updated    Skipped     Failed       Time\n"
            "  Produtos           10          7          2          0          1      1.5 s\n"
            "  The run reached its end.\n"
            "  Total time 2.0 s\n");
  EXPECT_EQ(exitStatus(summary, report), 3);  // the end reached, a record failed

  RunSummary clean = summary;
  clean.sections[0].failed = 0;
  const std::optional<std::string> noError, error("Data-link file 'x.udl' does not exist");
  struct {
    const char* what;
    const RunSummary& summary;
    bool chosen, dryRun;
    std::optional<std::string> failure, rollbackFailure;
    std::vector<std::string> says, never;
    int status;
  } cases[] = {
      {"every record written",
       clean,
       true,
       true,
       noError,
       noError,
       {"The run reached its end.", "Dry run: every change was rolled back; nothing was kept"},
       {},
       0},
      {"nothing chosen, then an error",
       RunSummary{},
       false,
       false,
       error,
       noError,
       {"No section was chosen.",
        "The run ended with an error; the sections after it did not run: " + *error},
       {"reached its end"},
       1},
      {"an error before the first of the sections chosen",
       RunSummary{},
       true,
       false,
       error,
       noError,
       {"  The run ended before its first section: " + *error + "\n"},
       {"No section was chosen."},
       1},
      {"a rehearsal whose rollback failed",
       clean,
       true,
       true,
       noError,
       std::optional<std::string>("link lost"),
       {"Dry run: the rollback failed (link lost); what the run wrote may have been kept in the "
        "store."},
       {"every change was rolled back"},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunReport r;
    r.sectionsChosen = c.chosen;
    r.dryRun = c.dryRun;
    r.failure = c.failure;
    r.rollbackFailure = c.rollbackFailure;
    std::ostringstream out;
    writeSummary(out, c.summary, r);
    for (const std::string& text : c.says) EXPECT_THAT(out.str(), HasSubstr(text));
    for (const std::string& text : c.never) EXPECT_THAT(out.str(), Not(HasSubstr(text)));
    EXPECT_EQ(exitStatus(c.summary, r), c.status);
  }
}

// A run core with nothing to walk, so the host can be driven through it.
struct NullRun : RunControls, SettingsWriter, LegacyDbControl, StoreConnectionControl {
  SettingsValues settingsFromControls() const override { return {}; }
  bool sectionTicked(SectionId) const override { return false; }
  void save(const SettingsValues&) override {}
  void disconnect() override {}
  void setPath(std::string_view) override {}
  void setCodePageOverride(std::optional<int>) override {}
  void connect() override {}
  std::string connectionString() const override { return {}; }
  void setConnectionString(std::string) override {}
  void setBeforeConnect(std::function<void()>) override {}
};

TEST(CliHost, EachInterruptIsSeenAtTheNextLogLineAsParar) {
  NullRun null;
  std::ostringstream out, err;
  volatile std::sig_atomic_t interrupts = 0;
  CliHost host(out, false, err, false, nullptr, &interrupts);
  RunCore core(host, RunParts{null,
                              static_cast<LegacyDbControl&>(null),
                              static_cast<StoreConnectionControl&>(null),
                              {}});
  host.attach(core);

  core.AddLogLine("um");
  EXPECT_FALSE(core.StopRequested);
  interrupts = 1;
  EXPECT_FALSE(core.StopRequested);  // nothing happens between log lines
  core.AddLogLine("dois");
  EXPECT_TRUE(core.StopRequested);
  EXPECT_TRUE(host.interrupted());
  core.StopRequested = false;
  core.AddLogLine("tres");  // the same interrupt is not seen twice
  EXPECT_FALSE(core.StopRequested);
  EXPECT_EQ(out.str(), "um\ndois\ntres\n");
  EXPECT_EQ(err.str(), "");  // no terminal, no bar
}

// A legacy table's warning on standard error: one line each, in UTF-8 (the field names in it
// are code page 1252, the folder's name may be UTF-8 already), the log left as it is.
TEST(CliHost, WarningsGoToStandardErrorOneLineEachInUtf8) {
  NullRun null;
  struct Case {
    const char* warning;
    const char* expected;
  };
  const Case cases[] = {
      {"/d/cfa1010.DBF: the field name 'PRE\xC7O' appears more than once",
       "warning: /d/cfa1010.DBF: the field name 'PRE\xC3\x87O' appears more than once\n"},
      {"/d/legado \xC3\xA1/CFA2010.DBF: the header counts 5 records but the file holds only 2 "
       "complete ones; reading 2",
       "warning: /d/legado \xC3\xA1/CFA2010.DBF: the header counts 5 records but the file holds "
       "only 2 complete ones; reading 2\n"},
  };
  for (const bool terminal : {false, true}) {
    for (const Case& c : cases) {
      std::ostringstream out, err;
      CliHost host(out, terminal, err, terminal, nullptr, nullptr);
      RunCore core(host, RunParts{null,
                                  static_cast<LegacyDbControl&>(null),
                                  static_cast<StoreConnectionControl&>(null),
                                  {}});
      host.attach(core);
      host.warn(c.warning);
      EXPECT_EQ(err.str(), c.expected) << terminal;  // no section running: no bar to erase
      EXPECT_EQ(out.str(), "");
    }
  }
}

}  // namespace
}  // namespace importacao
