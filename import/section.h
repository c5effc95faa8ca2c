// What an import section (products, customers, suppliers) supplies to the run's section frame.
//
// A section is built with everything it works on: its legacy table, its store objects and the
// clock (the products section in import/products, the other two in import/partners; a run's
// sections are built in app/run/import_objects.cpp). The frame (app/run/run_core.h) walks the
// same legacy table, through FrameTable, record by record, and hands the section the run's log.
// For each record it calls
//   1. Section::beforeRecord   outside the per-record capture (products: read, normalise and log
//                              the key; an error here ends the whole run);
//   2. Section::importRecord   inside the capture; a DataError raised here skips the rest of the
//                              record: the frame appends Section::errorLine and goes on;
//   3. moves the table to its next record and sets the gauge.
// Clearing the log and logging "Lendo Tabela de Produtos" before the products walk belong to the
// run, not to the section.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/errors.h"
#include "data/value.h"

namespace importacao {

// What the per-record work did with the store row the record maps to. The headless runner's
// summary counts these; a record whose work raised is counted as failed by the frame.
enum class RecordOutcome {
  Inserted,  // the record's main row did not exist and was inserted
  Updated,   // the record's main row existed and was updated
  Skipped,   // the record was visited but nothing was written for it
};

// The local clock as the sections read it. now() and today() read the clock anew on every call.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime now() const = 0;    // local date and time, milliseconds included
  virtual DateTime today() const = 0;  // local date at 00:00
};

// The machine's local clock.
class SystemClock final : public Clock {
 public:
  DateTime now() const override;
  DateTime today() const override;
};

// Days since 30 December 1899 for a local calendar date and time of day. Never throws; the
// caller passes a real date (month 1-12, day 1-31).
DateTime encodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                        int millisecond = 0);

// The run's one logging operation: appends one line (code page 1252 bytes; an error line may hold
// a lone carriage return) and lets the host process its pending events before returning. It may
// throw: a failing log is an error outside the capture and ends the run.
class RunLog {
 public:
  virtual ~RunLog() = default;
  virtual void AddLogLine(std::string_view line) = 0;
};

// One import section. The object may keep state between the calls for one record (the products
// section keeps the key computed in beforeRecord for importRecord and errorLine).
class Section {
 public:
  virtual ~Section() = default;

  // The section's caption as the run page shows it: "Produtos", "Clientes", "Fornecedor".
  virtual std::string_view caption() const = 0;

  // Runs before the capture opens, for each record. Only the products section does anything
  // here; any error it raises ends the run.
  virtual void beforeRecord(RunLog& log) { (void)log; }

  // The per-record work, inside the capture. Returns what it did with the store row. A DataError
  // ends the record (the frame logs errorLine); any other error passes on and ends the run.
  virtual RecordOutcome importRecord(RunLog& log) = 0;

  // The line logged when importRecord raised `error`: the section's text with the record's
  // identification, a carriage return (code 13, no line feed) and error.what(). Called with
  // the legacy table still on the failing record. An error raised here ends the run.
  virtual std::string errorLine(const DataError& error) = 0;
};

// What the frame needs of a legacy table: close, open, first, next, end-of-data, the record count
// (-1 when it cannot be told) and the current record number (1 for the first record; still the
// last record's number after next has set end-of-data). Errors of these calls end the run.
class FrameTable {
 public:
  virtual ~FrameTable() = default;
  virtual void close() = 0;
  virtual void open() = 0;
  virtual void first() = 0;
  virtual void next() = 0;
  virtual bool eof() const = 0;
  virtual std::int64_t recordCount() = 0;
  virtual std::int64_t recordNumber() const = 0;
  // While open: what was odd about the file (LegacyTable::warnings()); none by default.
  virtual std::vector<std::string> warnings() const { return {}; }
};

// Adapts any table type that has those operations under the same names (the legacy table
// objects do; warnings() is taken when the type has it). Keeps a reference: `table` must outlive
// the adapter.
template <class Table>
class FrameTableOf final : public FrameTable {
 public:
  explicit FrameTableOf(Table& table) : table_(table) {}
  void close() override { table_.close(); }
  void open() override { table_.open(); }
  void first() override { table_.first(); }
  void next() override { table_.next(); }
  bool eof() const override { return table_.eof(); }
  std::int64_t recordCount() override { return static_cast<std::int64_t>(table_.recordCount()); }
  std::int64_t recordNumber() const override {
    return static_cast<std::int64_t>(table_.recordNumber());
  }
  std::vector<std::string> warnings() const override {
    if constexpr (requires { table_.warnings(); }) {
      return {table_.warnings().begin(), table_.warnings().end()};
    } else {
      return {};
    }
  }

 private:
  Table& table_;
};

}  // namespace importacao
