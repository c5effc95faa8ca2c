// An in-memory record source over a vector of rows: a stand-in for a legacy table or a store
// query in tests of the layers above (the run frame, the sections), and the engine the record
// layer's own tests use. Header-only, for tests only.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/record/parameter.h"
#include "data/record/record_source.h"
#include "data/value.h"

namespace importacao {

// The rows are the "table": they persist across close and open, posts write into them, and a
// test can change them between opens. An optional filter picks the rows of the result at open
// (a query's "where"), reading the source's parameters.
//
// Writable by default (posts insert or update rows); a read-only one refuses append and edit as
// a legacy table does. Not copyable or movable.
class MemorySource : public RecordSource {
 public:
  using Row = std::vector<Value>;  // one value per column, in column order
  using Filter = std::function<bool(const Row& row, const ParameterList& parameters)>;
  // Called by post before anything is written, with the modified fields and whether it is an
  // insert; throw to refuse the row (as a store would).
  using PostHook = std::function<void(std::span<Field* const> modified, bool inserting)>;

  MemorySource(std::string name, std::vector<ColumnInfo> columns, std::vector<Row> rows = {},
               bool writable = true);
  ~MemorySource() override;

  const std::vector<ColumnInfo>& columns() const noexcept { return columns_; }
  // The stored rows. Changing them while the source is open is not seen until the next open.
  std::vector<Row>& rows() noexcept { return rows_; }
  const std::vector<Row>& rows() const noexcept { return rows_; }
  void addRow(Row row) { rows_.push_back(std::move(row)); }

  ParameterList& parameters() noexcept { return parameters_; }
  const ParameterList& parameters() const noexcept { return parameters_; }

  void setWritable(bool writable) noexcept { writable_ = writable; }
  void setFilter(Filter filter) { filter_ = std::move(filter); }
  void setPostHook(PostHook hook) { postHook_ = std::move(hook); }
  // While set, every open throws DataError with exactly this text (an engine failure).
  void setOpenFailure(std::optional<std::string> message) { openFailure_ = std::move(message); }
  // The values a new row starts with before the assigned fields are written (a store's column
  // defaults); null where not given.
  void setInsertDefaults(Row defaults) { insertDefaults_ = std::move(defaults); }
  // Record numbers as a legacy table numbers them: one per stored row (a gap stands for a
  // deleted record). Without them the number is the 1-based position in the result; an empty
  // result numbers 0.
  void setRecordNumbers(std::vector<long long> numbers) { recordNumbers_ = std::move(numbers); }
  // Overrides what record count reports (a table whose engine cannot count reports -1).
  void setReportedRecordCount(std::optional<long long> count) { reportedCount_ = count; }

  // How many times open reached the engine, and how many posts were written.
  int openCount() const noexcept { return openCount_; }
  int postCount() const noexcept { return postCount_; }
  // The stored row the source is on while open; nullopt when inactive or empty.
  std::optional<std::size_t> currentRowIndex() const;

 protected:
  std::vector<ColumnInfo> doOpen() override;
  void doClose() noexcept override;
  bool doFirst() override;
  bool doNext() override;
  void doPost(std::span<Field* const> modified, bool inserting) override;
  bool canModify() const override { return writable_; }
  long long doRecordCount() override;
  long long doRecordNumber() const override;

 private:
  void load();  // fills the bound fields from the current row

  std::vector<ColumnInfo> columns_;
  std::vector<Row> rows_;
  bool writable_;
  ParameterList parameters_;
  Filter filter_;
  PostHook postHook_;
  std::optional<std::string> openFailure_;
  Row insertDefaults_;
  std::vector<long long> recordNumbers_;
  std::optional<long long> reportedCount_;
  int openCount_ = 0;
  int postCount_ = 0;

  std::vector<std::size_t> result_;  // indexes into rows_ of the open result
  std::size_t current_ = 0;          // position in result_
};

inline MemorySource::MemorySource(std::string name, std::vector<ColumnInfo> columns,
                                  std::vector<Row> rows, bool writable)
    : RecordSource(name),
      columns_(std::move(columns)),
      rows_(std::move(rows)),
      writable_(writable),
      parameters_(std::move(name)) {}

inline MemorySource::~MemorySource() { close(); }

inline std::optional<std::size_t> MemorySource::currentRowIndex() const {
  if (!active() || result_.empty()) return std::nullopt;
  return result_[current_];
}

inline std::vector<ColumnInfo> MemorySource::doOpen() {
  ++openCount_;
  if (openFailure_) throw DataError(*openFailure_);
  result_.clear();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (!filter_ || filter_(rows_[i], parameters_)) result_.push_back(i);
  }
  current_ = 0;
  return columns_;
}

inline void MemorySource::doClose() noexcept {
  result_.clear();
  current_ = 0;
}

inline void MemorySource::load() {
  const Row& row = rows_[result_[current_]];
  const auto fields = columnFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i] == nullptr) continue;
    if (i < row.size()) {
      fields[i]->setFetchedValue(row[i]);
    } else {
      fields[i]->setFetchedNull();
    }
  }
}

inline bool MemorySource::doFirst() {
  current_ = 0;
  if (result_.empty()) return false;
  load();
  return true;
}

inline bool MemorySource::doNext() {
  if (current_ + 1 >= result_.size()) return false;
  ++current_;
  load();
  return true;
}

inline void MemorySource::doPost(std::span<Field* const> modified, bool inserting) {
  if (postHook_) postHook_(modified, inserting);
  Row row = inserting ? insertDefaults_ : rows_[result_[current_]];
  row.resize(columns_.size());
  for (Field* field : modified) {
    if (field->columnIndex() >= 0) {
      row[static_cast<std::size_t>(field->columnIndex())] = field->value();
    }
  }
  if (inserting) {
    rows_.push_back(std::move(row));
    result_.push_back(rows_.size() - 1);
    current_ = result_.size() - 1;
  } else {
    rows_[result_[current_]] = std::move(row);
  }
  ++postCount_;
  load();  // the row as now stored: defaults of the columns never assigned included
}

inline long long MemorySource::doRecordCount() {
  if (reportedCount_) return *reportedCount_;
  return static_cast<long long>(result_.size());
}

inline long long MemorySource::doRecordNumber() const {
  if (result_.empty()) return 0;
  const std::size_t row = result_[current_];
  if (row < recordNumbers_.size()) return recordNumbers_[row];
  return static_cast<long long>(current_) + 1;
}

}  // namespace importacao
