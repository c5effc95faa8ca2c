// Stand-ins for the objects a run works on (connections, legacy tables, sections), for the
// windows' tests and the log benchmarks: every connection step is written to a journal, tables
// are counters, and sections log one line per record. No window toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run/run_core.h"
#include "data/errors.h"
#include "tests/support/fake_tendaro.h"

namespace importacao {

using Journal = std::vector<std::string>;

class FakeConDb final : public LegacyDbControl {
 public:
  explicit FakeConDb(Journal& journal) : journal_(journal) {}
  void disconnect() override { journal_.push_back("ConDb.disconnect"); }
  void setPath(std::string_view folder) override {
    journal_.push_back("ConDb.PATH=" + std::string(folder));
  }
  void setCodePageOverride(std::optional<int> codePage) override {
    if (codePage) journal_.push_back("ConDb.codePage=" + std::to_string(*codePage));
  }
  void connect() override { journal_.push_back("ConDb.connect"); }

 private:
  Journal& journal_;
};

using test_support::FakeTendaro;

class FakeTable final : public FrameTable {
 public:
  explicit FakeTable(std::int64_t count) : count_(count) {}
  void close() override {}
  void open() override {}
  void first() override { number_ = 1; }
  void next() override {
    if (number_ < count_)
      ++number_;
    else
      eof_ = true;
  }
  bool eof() const override { return eof_ || count_ == 0; }
  std::int64_t recordCount() override { return count_; }
  std::int64_t recordNumber() const override { return number_; }
  void reset(std::int64_t count) {
    count_ = count;
    eof_ = false;
  }

 private:
  std::int64_t count_;
  std::int64_t number_ = 0;
  bool eof_ = false;
};

// Logs one line per record ("Importando <noun> - <n>"); products log theirs before the capture.
// `onRecord` runs just before that line, so a click it queues is delivered inside AddLogLine.
class FakeSection final : public Section {
 public:
  FakeSection(std::string noun, FakeTable& table, bool logsBeforeCapture)
      : noun_(std::move(noun)), table_(table), before_(logsBeforeCapture) {}
  std::string_view caption() const override { return noun_; }
  void beforeRecord(RunLog& log) override {
    if (before_) logRecord(log);
  }
  RecordOutcome importRecord(RunLog& log) override {
    if (!before_) logRecord(log);
    const std::int64_t n = table_.recordNumber();
    if (n == failAt || (failEvery > 0 && n % failEvery == 0)) {
      throw DataError("duplicate key value");
    }
    return RecordOutcome::Inserted;
  }
  std::string errorLine(const DataError& error) override {
    return "Erro gravando o " + noun_ + " - " + std::to_string(table_.recordNumber()) + "\r" +
           error.what();
  }
  std::function<void(std::int64_t record)> onRecord;
  std::int64_t failAt = 0;     // this record's work fails
  std::int64_t failEvery = 0;  // every record whose number is a multiple of this fails

 private:
  void logRecord(RunLog& log) {
    if (onRecord) onRecord(table_.recordNumber());
    log.AddLogLine("Importando " + noun_ + " - " + std::to_string(table_.recordNumber()));
  }
  std::string noun_;
  FakeTable& table_;
  bool before_;
};

// The parts of a run over the stand-ins: products (3 records), customers (3), suppliers (4).
struct FakeRunParts {
  RunParts parts(SettingsWriter& settings) {
    return RunParts{settings,
                    conDb,
                    tendaro,
                    {SectionSlot{SectionId::Products, &produtos, &productsSection},
                     SectionSlot{SectionId::Customers, &clientes, &customersSection},
                     SectionSlot{SectionId::Suppliers, &fornecedores, &suppliersSection}}};
  }
  Journal journal;
  FakeConDb conDb{journal};
  FakeTendaro tendaro{journal, "FILE NAME=/built-in/Importacao.udl"};
  FakeTable produtos{3};
  FakeTable clientes{3};
  FakeTable fornecedores{4};
  FakeSection productsSection{"Produto", produtos, true};
  FakeSection customersSection{"Cliente", clientes, false};
  FakeSection suppliersSection{"Fornecedor", fornecedores, false};
};

}  // namespace importacao
