// An in-memory record source over a vector of rows: a stand-in for a legacy table or a store
// query in tests of the layers above (the run frame, the sections), and the engine the record
// layer's own tests use.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

}  // namespace importacao
