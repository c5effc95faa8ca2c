#include "app/run/run_core.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/errors.h"
#include "tests/support/fake_tendaro.h"

namespace importacao {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Not;

// Everything the fakes were asked to do, in order.
using Journal = std::vector<std::string>;
using test_support::FakeTendaro;

bool has(const Journal& journal, const std::string& entry) {
  return std::find(journal.begin(), journal.end(), entry) != journal.end();
}
std::ptrdiff_t indexOf(const Journal& journal, const std::string& entry) {
  return std::find(journal.begin(), journal.end(), entry) - journal.begin();
}

class FakeTable final : public FrameTable {
 public:
  FakeTable(std::string name, Journal& journal, std::vector<std::int64_t> numbers)
      : name_(std::move(name)), journal_(journal), numbers_(std::move(numbers)) {}

  void close() override { step("close"); }
  void open() override { step("open"); }
  void first() override {
    step("first");
    index_ = 0;
    eof_ = numbers_.empty();
  }
  void next() override {
    step("next");
    if (index_ + 1 < numbers_.size())
      ++index_;
    else
      eof_ = true;
  }
  bool eof() const override { return eof_; }
  std::int64_t recordCount() override {
    step("recordCount");
    return reportedCount_ ? *reportedCount_ : static_cast<std::int64_t>(numbers_.size());
  }
  std::int64_t recordNumber() const override { return numbers_.empty() ? 0 : numbers_[index_]; }

  std::string failAt;  // "open", "first", "next", ...: raises DataError there
  std::optional<std::int64_t> reportedCount_;

 private:
  void step(const std::string& what) {
    if (what != "next" && what != "recordCount") journal_.push_back(name_ + "." + what);
    if (what == failAt) throw DbfError(name_ + ": cannot " + what);
  }
  std::string name_;
  Journal& journal_;
  std::vector<std::int64_t> numbers_;
  std::size_t index_ = 0;
  bool eof_ = true;
};

// A section that logs "<text> - <record number>" for every record, inside or (products) outside
// the capture, and fails where told.
class FakeSection final : public Section {
 public:
  FakeSection(std::string caption, std::string text, FakeTable& table, bool logsBeforeCapture)
      : caption_(std::move(caption)),
        text_(std::move(text)),
        table_(table),
        logsBeforeCapture_(logsBeforeCapture) {}

  std::string_view caption() const override { return caption_; }
  void beforeRecord(RunLog& log) override {
    if (!logsBeforeCapture_) return;
    if (failBeforeCapture.count(table_.recordNumber()))
      throw DataError("tProduto: Field 'pd_cod' not found");
    log.AddLogLine(line());
  }
  RecordOutcome importRecord(RunLog& log) override {
    const std::int64_t number = table_.recordNumber();
    if (!logsBeforeCapture_) log.AddLogLine(line());
    if (failWithDataError.count(number))
      throw StoreError("boom " + std::to_string(number), "23505", 0);
    if (failWithOtherError.count(number)) throw std::logic_error("not a data error");
    if (skip.count(number)) return RecordOutcome::Skipped;
    return number % 2 == 1 ? RecordOutcome::Inserted : RecordOutcome::Updated;
  }
  std::string errorLine(const DataError& error) override {
    if (errorLineFails) throw std::runtime_error("error line failed");
    return "Erro gravando o Registro " + std::to_string(table_.recordNumber()) + "-\r" +
           error.what();
  }

  std::set<std::int64_t> failBeforeCapture, failWithDataError, failWithOtherError, skip;
  bool errorLineFails = false;

 private:
  std::string line() const { return text_ + " - " + std::to_string(table_.recordNumber()); }
  std::string caption_, text_;
  FakeTable& table_;
  bool logsBeforeCapture_;
};

class FakeHost final : public RunHost {
 public:
  explicit FakeHost(Journal& journal) : journal_(journal) {}
  void clearLog() override {
    journal_.push_back("log.clear");
    log.clear();
  }
  void appendLogLine(std::string_view line) override {
    if (!failOnLine.empty() && line == failOnLine) throw std::runtime_error("log is full");
    log.emplace_back(line);
  }
  void setGaugeMaximum(int maximum) override {
    journal_.push_back("gauge.max=" + std::to_string(maximum));
    maximum_ = maximum;
  }
  void setGaugePosition(int position) override {
    journal_.push_back("gauge.pos=" + std::to_string(position));
    position_ = position;
  }
  void processPendingEvents() override {
    if (onEvents) onEvents(log.back());
  }
  void dataLinkMissing(const DataLinkNotice& notice) override {
    journal_.push_back("notice " + dataLinkNoticeText(notice));
  }

  std::vector<std::string> log;
  std::function<void(const std::string& lastLine)> onEvents;  // what "arrives" at this line
  std::string failOnLine;
  int maximum_ = 100, position_ = 0;

 private:
  Journal& journal_;
};

class FakeControls final : public RunControls {
 public:
  explicit FakeControls(Journal& journal) : journal_(journal) {}
  SettingsValues settingsFromControls() const override {
    journal_.push_back("controls.settings");
    return settings;
  }
  bool sectionTicked(SectionId section) const override {
    const int index = static_cast<int>(section);
    journal_.push_back("controls.CheckBox" + std::to_string(index + 1));
    return ticked[index];
  }
  SettingsValues settings;
  bool ticked[3] = {false, false, false};

 private:
  Journal& journal_;
};

class FakeSettingsWriter final : public SettingsWriter {
 public:
  explicit FakeSettingsWriter(Journal& journal) : journal_(journal) {}
  void save(const SettingsValues& values) override {
    if (fail) throw DataError("Unable to write to Importacao.ini");
    journal_.push_back("settings.save ConexaoDBF=" + values.ConexaoDBF);
  }
  bool fail = false;

 private:
  Journal& journal_;
};

class FakeConDb final : public LegacyDbControl {
 public:
  explicit FakeConDb(Journal& journal) : journal_(journal) {}
  void disconnect() override { journal_.push_back("ConDb.disconnect"); }
  void setPath(std::string_view folder) override {
    journal_.push_back("ConDb.PATH=" + std::string(folder));
  }
  void setCodePageOverride(std::optional<int> codePage) override {
    journal_.push_back("ConDb.codePage=" + (codePage ? std::to_string(*codePage) : "none"));
  }
  void connect() override {
    if (fail) throw DbfError("Folder not found: /nowhere");
    journal_.push_back("ConDb.connect");
  }
  bool fail = false;

 private:
  Journal& journal_;
};

class FakeObserver final : public RunObserver {
 public:
  explicit FakeObserver(Journal& journal) : journal_(journal) {}
  void storeConnected() override { journal_.push_back("observer.storeConnected"); }
  void recordStarting() override { journal_.push_back("observer.recordStarting"); }
  void recordFinished(bool failed) override {
    journal_.push_back(failed ? "observer.recordFailed" : "observer.recordDone");
  }

 private:
  Journal& journal_;
};

// A run over fake objects: 3 products, 2 customers, 2 suppliers unless a test says otherwise.
struct Rig {
  explicit Rig(std::vector<std::int64_t> products = {1, 2, 3},
               std::vector<std::int64_t> customers = {1, 2},
               std::vector<std::int64_t> suppliers = {1, 2})
      : tProduto("tProduto", journal, std::move(products)),
        tClientes("tClientes", journal, std::move(customers)),
        tFornecedor("tFornecedor", journal, std::move(suppliers)),
        productsSection("Produtos", "Importando Produto", tProduto, true),
        customersSection("Clientes", "Cliente", tClientes, false),
        suppliersSection("Fornecedor", "Fornecedor", tFornecedor, false),
        core(host, parts(writer)) {
    controls.settings.ConexaoDBF = "/dados";
  }

  // The parts of a run over these fakes.
  RunParts parts(SettingsWriter& settings, RunObserver* observer = nullptr) {
    return RunParts{settings,
                    conDb,
                    tendaro,
                    {SectionSlot{SectionId::Products, &tProduto, &productsSection},
                     SectionSlot{SectionId::Customers, &tClientes, &customersSection},
                     SectionSlot{SectionId::Suppliers, &tFornecedor, &suppliersSection}},
                    observer};
  }

  void tickAll() { controls.ticked[0] = controls.ticked[1] = controls.ticked[2] = true; }
  // Presses "Parar" while the host processes the events of the log line `line`.
  void stopAt(const std::string& line) {
    host.onEvents = [this, line](const std::string& last) {
      if (last == line) core.BitBtn2Click();
    };
  }
  void run() { core.BitBtn1Click(controls); }
  // The journal entries that start with `prefix`.
  Journal only(const std::string& prefix) const {
    Journal out;
    for (const auto& e : journal)
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }

  Journal journal;
  FakeHost host{journal};
  FakeControls controls{journal};
  FakeSettingsWriter writer{journal};
  FakeConDb conDb{journal};
  FakeTendaro tendaro{journal};
  FakeTable tProduto, tClientes, tFornecedor;
  FakeSection productsSection, customersSection, suppliersSection;
  RunCore core;
};

TEST(RunCore, RunWithNoSectionTickedSavesReconnectsAndLogsOnlyTheEnd) {
  Rig rig;
  rig.host.log = {"linha da corrida anterior"};
  rig.core.BitBtn2Click();  // a "Parar" before "Importar" is forgotten by the run
  rig.run();

  EXPECT_THAT(
      rig.journal,
      ElementsAre("controls.settings", "settings.save ConexaoDBF=/dados", "ConDb.disconnect",
                  "ConDb.PATH=/dados", "ConDb.codePage=none", "ConDb.connect", "Tendaro.disconnect",
                  "Tendaro.connect FILE NAME=/cfg/Importacao.udl", "controls.CheckBox1",
                  "controls.CheckBox2", "controls.CheckBox3"));
  EXPECT_THAT(rig.host.log, ElementsAre("linha da corrida anterior", "Processo concluido"));
  EXPECT_FALSE(rig.core.StopRequested);
  EXPECT_TRUE(rig.core.summary().completed);
  EXPECT_TRUE(rig.core.summary().sections.empty());
}

TEST(RunCore, FullRunWalksTheSectionsInOrder) {
  Rig rig;
  rig.host.log = {"linha antiga"};
  rig.tickAll();
  rig.run();

  EXPECT_THAT(rig.host.log,
              ElementsAre("Lendo Tabela de Produtos", "Importando Produto - 1",
                          "Importando Produto - 2", "Importando Produto - 3", "Cliente - 1",
                          "Cliente - 2", "Fornecedor - 1", "Fornecedor - 2", "Processo concluido"));
  // Each table closed, opened and rewound before its gauge is reset; log cleared once, first.
  EXPECT_THAT(rig.only("t"),
              ElementsAre("tProduto.close", "tProduto.open", "tProduto.first", "tClientes.close",
                          "tClientes.open", "tClientes.first", "tFornecedor.close",
                          "tFornecedor.open", "tFornecedor.first"));
  EXPECT_LT(indexOf(rig.journal, "log.clear"), indexOf(rig.journal, "tProduto.close"));
  // The products gauge: position 0, maximum 3, then the records done after each one.
  const Journal gauge = rig.only("gauge");
  EXPECT_THAT(Journal(gauge.begin(), gauge.begin() + 6),
              ElementsAre("gauge.pos=0", "gauge.max=3", "gauge.pos=0", "gauge.pos=1", "gauge.pos=2",
                          "gauge.pos=3"));
  EXPECT_EQ(rig.core.gauge().percent(), 100);

  const RunSummary& summary = rig.core.summary();
  ASSERT_EQ(summary.sections.size(), 3u);
  EXPECT_TRUE(summary.completed);
  EXPECT_FALSE(summary.stopped);
  const SectionStats& products = summary.sections[0];
  EXPECT_EQ(products.id, SectionId::Products);
  EXPECT_EQ(products.recordCount, 3);
  EXPECT_EQ(products.read, 3);
  EXPECT_EQ(products.inserted, 2);  // the fake inserts odd records and updates even ones
  EXPECT_EQ(products.updated, 1);
  EXPECT_EQ(products.failed, 0);
  EXPECT_TRUE(products.finished);
}

TEST(RunCore, StopActsAfterTheRecordInHandAsEachSectionPrescribes) {
  struct {
    const char* what;
    const char* stopAtLine;  // "Parar" arrives while this line is logged
    bool stopBeforeImportar;
    std::vector<std::string> log;
    bool completed;
    bool customersWalked, suppliersWalked;
    int gaugeMaximum, gaugePosition;
  } cases[] = {
      {"before Importar: the run clears the flag and runs in full",
       nullptr,
       true,
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2",
        "Importando Produto - 3", "Cliente - 1", "Cliente - 2", "Fornecedor - 1", "Fornecedor - 2",
        "Processo concluido"},
       true,
       true,
       true,
       2,
       2},
      {"during products: the run ends there",
       "Importando Produto - 2",
       false,
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2"},
       false,
       false,
       false,
       3,
       2},
      {"at the products heading: no product is imported",
       "Lendo Tabela de Produtos",
       false,
       {"Lendo Tabela de Produtos"},
       false,
       false,
       false,
       3,
       0},
      {"during customers: suppliers rewinds and resets the gauge, then the run ends normally",
       "Cliente - 1",
       false,
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2",
        "Importando Produto - 3", "Cliente - 1", "Processo concluido"},
       true,
       true,
       true,
       2,
       0},
      {"during suppliers",
       "Fornecedor - 1",
       false,
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2",
        "Importando Produto - 3", "Cliente - 1", "Cliente - 2", "Fornecedor - 1",
        "Processo concluido"},
       true,
       true,
       true,
       2,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    rig.tickAll();
    if (c.stopAtLine) rig.stopAt(c.stopAtLine);
    if (c.stopBeforeImportar) rig.core.BitBtn2Click();
    rig.run();
    EXPECT_THAT(rig.host.log, ElementsAreArray(c.log));
    EXPECT_EQ(rig.core.summary().completed, c.completed);
    EXPECT_EQ(has(rig.journal, "tClientes.open"), c.customersWalked);
    EXPECT_EQ(has(rig.journal, "tFornecedor.open"), c.suppliersWalked);
    EXPECT_EQ(rig.core.gauge().maximum(), c.gaugeMaximum);
    EXPECT_EQ(rig.core.gauge().position(), c.gaugePosition);
    EXPECT_EQ(rig.host.maximum_, c.gaugeMaximum);  // the host shows what the core holds
    EXPECT_EQ(rig.host.position_, c.gaugePosition);
    EXPECT_EQ(rig.core.StopRequested, c.stopAtLine != nullptr);  // stays set after a stop
    EXPECT_EQ(rig.core.summary().stopped, c.stopAtLine != nullptr);
  }
}

TEST(RunCore, StopDuringCustomersStillRewindsSuppliersWithoutProducts) {
  Rig rig({1}, {1, 2, 3}, {7, 8, 9, 10});
  rig.controls.ticked[1] = rig.controls.ticked[2] = true;
  rig.stopAt("Cliente - 2");
  rig.run();
  EXPECT_THAT(rig.host.log, ElementsAre("Cliente - 1", "Cliente - 2", "Processo concluido"));
  // Suppliers: table rewound, gauge to 0 over its 4 records, no record visited.
  const Journal tail(rig.journal.begin() + indexOf(rig.journal, "tFornecedor.close"),
                     rig.journal.end());
  EXPECT_THAT(tail, ElementsAre("tFornecedor.close", "tFornecedor.open", "tFornecedor.first",
                                "gauge.pos=0", "gauge.max=4", "gauge.pos=0"));
  EXPECT_EQ(rig.core.summary().sections.back().read, 0);
}

TEST(RunCore, AFailingRecordIsLoggedAndTheWalkGoesOn) {
  Rig rig({1, 2, 3}, {1, 2, 3}, {});
  rig.controls.ticked[1] = true;
  rig.customersSection.failWithDataError = {2};
  rig.customersSection.skip = {3};
  rig.run();
  EXPECT_THAT(rig.host.log,
              ElementsAre("Cliente - 1", "Cliente - 2", "Erro gravando o Registro 2-\rboom 2",
                          "Cliente - 3", "Processo concluido"));
  const SectionStats& stats = rig.core.summary().sections.at(0);
  EXPECT_EQ(stats.read, 3);
  EXPECT_EQ(stats.inserted, 1);
  EXPECT_EQ(stats.updated, 0);
  EXPECT_EQ(stats.skipped, 1);
  EXPECT_EQ(stats.failed, 1);
  EXPECT_EQ(rig.core.gauge().position(), 3);
}

TEST(RunCore, AnErrorOutsideTheCaptureEndsTheRun) {
  struct {
    const char* what;
    std::function<void(Rig&)> arrange;
    std::string message;
    std::vector<std::string> log;            // the log once the run has ended
    std::vector<std::string> mustNotHappen;  // journal entries the run never reached
  } cases[] = {
      {"settings cannot be written: no database touched",
       [](Rig& r) { r.writer.fail = true; },
       "Unable to write to Importacao.ini",
       {"antes"},
       {"ConDb.disconnect", "Tendaro.disconnect"}},
      {"legacy code page refused: settings saved, no database touched",
       [](Rig& r) {
         r.core.setLegacyCodePageSource(
             []() -> std::optional<int> { throw DataError("PaginaCodigoDBF=utf8 is wrong"); });
       },
       "PaginaCodigoDBF=utf8 is wrong",
       {"antes"},
       {"ConDb.disconnect", "Tendaro.disconnect"}},
      {"legacy folder refused",
       [](Rig& r) { r.conDb.fail = true; },
       "Folder not found: /nowhere",
       {"antes"},
       {"Tendaro.disconnect", "controls.CheckBox1"}},
      {"store unreachable: log unchanged, settings saved",
       [](Rig& r) { r.tendaro.unreachable = true; },
       "could not connect to server: Connection refused",
       {"antes"},
       {"controls.CheckBox1", "log.clear"}},
      {"products table cannot be opened",
       [](Rig& r) { r.tProduto.failAt = "open"; },
       "tProduto: cannot open",
       {"Lendo Tabela de Produtos"},
       {"tClientes.close"}},
      {"record count unknown",
       [](Rig& r) { r.tProduto.reportedCount_ = -1; },
       "Value must be between 1 and 2147483647",
       {"Lendo Tabela de Produtos"},
       {"tClientes.close"}},
      {"the products key steps fail",
       [](Rig& r) { r.productsSection.failBeforeCapture = {2}; },
       "tProduto: Field 'pd_cod' not found",
       {"Lendo Tabela de Produtos", "Importando Produto - 1"},
       {"tClientes.close"}},
      {"moving to the next record fails",
       [](Rig& r) { r.tClientes.failAt = "first"; },
       "tClientes: cannot first",
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2",
        "Importando Produto - 3"},
       {"tFornecedor.close"}},
      {"an error that is not a data error passes the capture",
       [](Rig& r) { r.customersSection.failWithOtherError = {1}; },
       "not a data error",
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2",
        "Importando Produto - 3", "Cliente - 1"},
       {"tFornecedor.close"}},
      {"building the error line fails",
       [](Rig& r) {
         r.customersSection.failWithDataError = {1};
         r.customersSection.errorLineFails = true;
       },
       "error line failed",
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2",
        "Importando Produto - 3", "Cliente - 1"},
       {"tFornecedor.close"}},
      {"a log line itself fails",
       [](Rig& r) { r.host.failOnLine = "Cliente - 2"; },
       "log is full",
       {"Lendo Tabela de Produtos", "Importando Produto - 1", "Importando Produto - 2",
        "Importando Produto - 3", "Cliente - 1"},
       {"tFornecedor.close"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    rig.host.log = {"antes"};
    rig.tickAll();
    c.arrange(rig);
    try {
      rig.run();
      ADD_FAILURE() << "the run did not fail";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_THAT(rig.host.log, ElementsAreArray(c.log));
    for (const auto& entry : c.mustNotHappen) EXPECT_THAT(rig.journal, Not(Contains(entry)));
    EXPECT_FALSE(rig.core.summary().completed);
    EXPECT_FALSE(rig.core.running());
  }
}

TEST(RunCore, ARefusedSettingsFileEndsTheRunBeforeAnyDatabaseIsTouched) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("run-core-settings-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path path = folder / "Importacao.ini";
  std::ofstream(path) << "[Vendas]\nVendedor=1\n";
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  Rig rig;
  ProfileFile file(path);
  ProfileSettingsWriter writer(file);
  RunCore core(rig.host, rig.parts(writer));
  rig.host.log = {"antes"};
  rig.tickAll();
  EXPECT_THAT([&] { core.BitBtn1Click(rig.controls); },
              ::testing::ThrowsMessage<DataError>("Unable to write to Importacao.ini"));
  EXPECT_THAT(rig.journal, ElementsAre("controls.settings"));  // nothing after the save
  EXPECT_THAT(rig.host.log, ElementsAre("antes"));
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  fs::remove_all(folder);
}

TEST(RunCore, ARunCanStartAgainAfterAnError) {
  Rig rig;
  rig.tendaro.unreachable = true;
  EXPECT_THROW(rig.run(), StoreError);
  rig.tendaro.unreachable = false;
  rig.run();
  EXPECT_THAT(rig.host.log, ElementsAre("Processo concluido"));
}

TEST(RunCore, AnEmptyTableShowsZeroPercentAndTheNextSectionFollows) {
  Rig rig({}, {4}, {});
  rig.controls.ticked[0] = rig.controls.ticked[1] = true;
  rig.host.onEvents = [&](const std::string& line) {
    if (line == "Cliente - 4") {  // the products gauge as it was left, seen at the next line
      EXPECT_EQ(rig.journal[indexOf(rig.journal, "tProduto.first") + 2], "gauge.max=0");
    }
  };
  rig.run();
  EXPECT_THAT(rig.host.log,
              ElementsAre("Lendo Tabela de Produtos", "Cliente - 4", "Processo concluido"));
  EXPECT_EQ(rig.core.summary().sections.at(0).read, 0);
  EXPECT_TRUE(rig.core.summary().sections.at(0).finished);
}

TEST(RunCore, EmptyTableLeavesTheGaugeAtZeroOfZero) {
  Rig rig({}, {}, {});
  rig.controls.ticked[0] = true;
  rig.run();
  EXPECT_EQ(rig.core.gauge().maximum(), 0);
  EXPECT_EQ(rig.core.gauge().position(), 0);
  EXPECT_EQ(rig.core.gauge().percent(), 0);
  EXPECT_THAT(rig.host.log, ElementsAre("Lendo Tabela de Produtos", "Processo concluido"));
}

TEST(RunCore, GaugeCountsTheRecordsDoneNotTheirNumbers) {
  // Record numbers with gaps (deleted records are not presented): 3 records, last number 7.
  // Each record moves the bar by a third; only the last one fills it.
  Rig rig({2, 5, 7}, {}, {});
  rig.controls.ticked[0] = true;
  rig.run();
  EXPECT_THAT(rig.only("gauge"), ElementsAre("gauge.pos=0", "gauge.max=3", "gauge.pos=0",
                                             "gauge.pos=1", "gauge.pos=2", "gauge.pos=3"));
  EXPECT_EQ(rig.core.gauge().percent(), 100);
}

TEST(RunCore, EachCheckBoxIsReadWhenItsStepIsReached) {
  Rig rig;
  rig.controls.ticked[0] = true;
  rig.controls.ticked[1] = true;
  rig.host.onEvents = [&](const std::string& line) {
    if (line == "Importando Produto - 1") {  // the operator changes their mind mid-run
      rig.controls.ticked[1] = false;
      rig.controls.ticked[2] = true;
    }
  };
  rig.run();
  EXPECT_FALSE(has(rig.journal, "tClientes.open"));
  EXPECT_TRUE(has(rig.journal, "tFornecedor.open"));
  EXPECT_LT(indexOf(rig.journal, "tProduto.first"), indexOf(rig.journal, "controls.CheckBox2"));
  EXPECT_LT(indexOf(rig.journal, "controls.CheckBox2"), indexOf(rig.journal, "controls.CheckBox3"));
}

TEST(RunCore, ImportarDuringARunStartsNoSecondRun) {
  Rig rig;
  rig.controls.ticked[1] = true;
  int nested = 0;
  rig.host.onEvents = [&](const std::string&) {
    ++nested;
    rig.core.BitBtn1Click(rig.controls);
  };
  rig.run();
  EXPECT_EQ(nested, 3);  // two customers and the last line
  EXPECT_EQ(rig.only("settings.save").size(), 1u);
  EXPECT_EQ(rig.only("Tendaro.connect").size(), 1u);
  EXPECT_THAT(rig.host.log, ElementsAre("Cliente - 1", "Cliente - 2", "Processo concluido"));
  EXPECT_FALSE(rig.core.running());
}

TEST(RunCore, StoreConnectsThroughTheDataLinkFileWhenItExistsAndSaysWhenItDoesNot) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("run-core-test-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path udl = folder / "loja nova.udl";
  const fs::path builtIn = folder / "Importacao.udl";
  std::ofstream(udl) << "[oledb]\n";
  std::ofstream(builtIn) << "[oledb]\n";

  Rig rig;
  rig.tendaro.setConnectionString("FILE NAME=" + builtIn.string());
  RunCore core(rig.host, RunParts{rig.writer, rig.conDb, rig.tendaro, {}});
  auto run = [&](const std::string& text) {
    rig.journal.clear();
    rig.controls.settings.ConexaoSQL = text;
    core.BitBtn1Click(rig.controls);
  };
  // No such file (a folder is no file either): the built-in string stays, and the host hears
  // which file was named and which one is used instead before the store connects.
  for (const std::string& text :
       {(folder / "outra.udl").string() + " -x", folder.string(), "\"" + folder.string() + "\""}) {
    SCOPED_TRACE(text);
    run(text);
    const Journal notice = rig.only("notice");
    ASSERT_EQ(notice.size(), 1u);
    EXPECT_THAT(notice[0],
                ::testing::HasSubstr("The data-link file '" + dataLinkFileName(text) + "'"));
    EXPECT_THAT(notice[0],
                ::testing::EndsWith(" does not exist; the store connection uses '" +
                                    builtIn.string() + "' (the built-in data-link file) instead."));
    EXPECT_LT(indexOf(rig.journal, notice[0]),
              indexOf(rig.journal, "Tendaro.connect FILE NAME=" + builtIn.string()));
  }
  // Nothing named: the built-in string, without a word.
  run("");
  EXPECT_THAT(rig.only("notice"), ElementsAre());
  // The browse button's quoted form and the bare form both connect to the file.
  for (const std::string& text : {"\"" + udl.string() + "\"", udl.string()}) {
    SCOPED_TRACE(text);
    run(text);
    EXPECT_TRUE(has(rig.journal, "Tendaro.connect FILE NAME=" + udl.string()));
    EXPECT_THAT(rig.only("notice"), ElementsAre());
  }
  // Once set, the string stays when the box later names no existing file.
  run("/nenhum/arquivo.udl");
  EXPECT_TRUE(has(rig.journal, "Tendaro.connect FILE NAME=" + udl.string()));
  EXPECT_THAT(rig.only("notice"),
              ElementsAre(::testing::HasSubstr("(the data-link file of an earlier run)")));
  fs::remove_all(folder);
}

TEST(RunCore, LegacyFolderAndCodePageReachTheDatabaseEachRun) {
  Rig rig;
  rig.core.setLegacyCodePage(1252);
  rig.controls.settings.ConexaoDBF = "";
  rig.run();
  EXPECT_THAT(
      rig.only("ConDb"),
      ElementsAre("ConDb.disconnect", "ConDb.PATH=", "ConDb.codePage=1252", "ConDb.connect"));

  // A source is asked at each run, after the settings were saved.
  std::optional<int> next = 850;
  rig.core.setLegacyCodePageSource([&] {
    rig.journal.push_back("codePageSource");
    return next;
  });
  for (const auto& [codePage, entry] : {std::pair{std::optional<int>(850), "ConDb.codePage=850"},
                                        std::pair{std::optional<int>(), "ConDb.codePage=none"}}) {
    rig.journal.clear();
    next = codePage;
    rig.run();
    EXPECT_THAT(rig.journal, Contains(entry));
    EXPECT_LT(indexOf(rig.journal, "settings.save ConexaoDBF="),
              indexOf(rig.journal, "codePageSource"));
    EXPECT_LT(indexOf(rig.journal, "codePageSource"), indexOf(rig.journal, "ConDb.disconnect"));
  }
}

TEST(RunCore, ObserverSeesEachRecordAroundItsCapture) {
  Rig rig({}, {1, 2}, {});
  FakeObserver observer(rig.journal);
  RunCore core(rig.host, rig.parts(rig.writer, &observer));
  rig.controls.ticked[1] = true;
  rig.customersSection.failWithDataError = {2};
  core.BitBtn1Click(rig.controls);
  EXPECT_THAT(
      rig.only("observer"),
      ElementsAre("observer.storeConnected", "observer.recordStarting", "observer.recordDone",
                  "observer.recordStarting", "observer.recordFailed"));
  EXPECT_LT(indexOf(rig.journal, "Tendaro.connect FILE NAME=/cfg/Importacao.udl"),
            indexOf(rig.journal, "observer.storeConnected"));
}

}  // namespace
}  // namespace importacao
