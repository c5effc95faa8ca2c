#include "data/record/memory_source.h"

#include "data/errors.h"

namespace importacao {

MemorySource::MemorySource(std::string name, std::vector<ColumnInfo> columns,
                           std::vector<Row> rows, bool writable)
    : RecordSource(name),
      columns_(std::move(columns)),
      rows_(std::move(rows)),
      writable_(writable),
      parameters_(std::move(name)) {}

MemorySource::~MemorySource() { close(); }

std::optional<std::size_t> MemorySource::currentRowIndex() const {
  if (!active() || result_.empty()) return std::nullopt;
  return result_[current_];
}

std::vector<ColumnInfo> MemorySource::doOpen() {
  ++openCount_;
  if (openFailure_) throw DataError(*openFailure_);
  result_.clear();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (!filter_ || filter_(rows_[i], parameters_)) result_.push_back(i);
  }
  current_ = 0;
  return columns_;
}

void MemorySource::doClose() noexcept {
  result_.clear();
  current_ = 0;
}

void MemorySource::load() {
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

bool MemorySource::doFirst() {
  current_ = 0;
  if (result_.empty()) return false;
  load();
  return true;
}

bool MemorySource::doNext() {
  if (current_ + 1 >= result_.size()) return false;
  ++current_;
  load();
  return true;
}

void MemorySource::doPost(std::span<Field* const> modified, bool inserting) {
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

long long MemorySource::doRecordCount() {
  if (reportedCount_) return *reportedCount_;
  return static_cast<long long>(result_.size());
}

long long MemorySource::doRecordNumber() const {
  if (result_.empty()) return 0;
  const std::size_t row = result_[current_];
  if (row < recordNumbers_.size()) return recordNumbers_[row];
  return static_cast<long long>(current_) + 1;
}

}  // namespace importacao
