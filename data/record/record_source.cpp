#include "data/record/record_source.h"

#include "data/errors.h"

namespace importacao {

RecordSource::RecordSource(std::string name) : name_(std::move(name)) {}

// Engines close their own results in their destructors: by the time this one runs, the
// derived class is gone and doClose() can no longer be called.
RecordSource::~RecordSource() = default;

void RecordSource::fail(std::string_view message) const {
  std::string text;
  text.reserve(name_.size() + 2 + message.size());
  text.append(name_).append(": ").append(message);
  throw DataError(text);
}

Field& RecordSource::declareField(std::string name, FieldKind kind, std::optional<int> size,
                                  bool readOnly) {
  if (active()) fail("Cannot perform this operation on an open dataset");
  auto field = std::make_unique<Field>(std::move(name), kind, size, readOnly);
  field->owner_ = this;
  field->setFetchedNull();
  fields_.push_back(std::move(field));
  declared_ = true;
  Field& added = *fields_.back();
  byName_.try_emplace(added.name(), &added);  // a name declared twice: the first is reached
  return added;
}

void RecordSource::open() {
  if (active()) return;
  std::vector<ColumnInfo> columns = doOpen();
  try {
    bind(columns);
  } catch (...) {
    doClose();
    unbind();
    throw;
  }
  state_ = SourceState::Browse;
  try {
    const bool hasRow = doFirst();
    eof_ = !hasRow;
    empty_ = !hasRow;
    if (!hasRow) nullAllFields();
  } catch (...) {
    close();
    throw;
  }
}

void RecordSource::bind(const std::vector<ColumnInfo>& columns) {
  columnFields_.assign(columns.size(), nullptr);
  if (!declared_) {
    // The fields of the last open serve again when the columns are the same ones (a query
    // reopened with other parameters): nothing is allocated, and the name index stands.
    if (sameColumns(spare_, columns)) {
      fields_ = std::move(spare_);
      byName_ = std::move(spareIndex_);
      spare_.clear();
      spareIndex_.clear();
      for (std::size_t i = 0; i < columns.size(); ++i) {
        Field& field = *fields_[i];
        field.columnIndex_ = static_cast<int>(i);
        field.readOnly_ = field.declaredReadOnly_;
        columnFields_[i] = &field;
      }
      return;
    }
    spare_.clear();
    spareIndex_.clear();
    fields_.clear();
    fields_.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const ColumnInfo& column = columns[i];
      auto field = std::make_unique<Field>(column.name, column.kind, column.size, column.readOnly);
      field->owner_ = this;
      field->columnIndex_ = static_cast<int>(i);
      columnFields_[i] = field.get();
      fields_.push_back(std::move(field));
    }
    indexFields();
    return;
  }
  // Declared fields, in declaration order: the first one that has no column, or whose kind
  // does not fit its column, fails the open.
  for (const auto& field : fields_) {
    std::size_t i = 0;
    while (i < columns.size() && !namesEqual(columns[i].name, field->name())) ++i;
    if (i == columns.size()) fail(fieldNotFoundMessage(field->name()));
    const ColumnInfo& column = columns[i];
    if (!kindFits(field->kind(), column.kind))
      fail(typeMismatchMessage(field->name(), field->kind(), column.kind));
    field->columnIndex_ = static_cast<int>(i);
    field->readOnly_ = field->declaredReadOnly_ || column.readOnly;
    if (columnFields_[i] == nullptr) columnFields_[i] = field.get();
  }
}

bool RecordSource::sameColumns(const std::vector<std::unique_ptr<Field>>& fields,
                               const std::vector<ColumnInfo>& columns) noexcept {
  if (fields.empty() || fields.size() != columns.size()) return false;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Field& field = *fields[i];
    const ColumnInfo& column = columns[i];
    if (field.name_ != column.name || field.kind_ != column.kind || field.size_ != column.size ||
        field.declaredReadOnly_ != column.readOnly) {
      return false;
    }
  }
  return true;
}

void RecordSource::unbind() noexcept {
  columnFields_.clear();
  if (!declared_) {
    // Kept aside, emptied, for the next open of the same columns; out of the field list now.
    for (const auto& field : fields_) {
      field->setFetchedNull();
      field->modified_ = false;
    }
    spare_ = std::move(fields_);
    spareIndex_ = std::move(byName_);
    fields_.clear();
    byName_.clear();
    return;
  }
  for (const auto& field : fields_) {
    field->columnIndex_ = -1;
    field->readOnly_ = field->declaredReadOnly_;
    field->setFetchedNull();
  }
}

void RecordSource::close() noexcept {
  if (!active()) return;
  clearModified();
  doClose();
  unbind();
  state_ = SourceState::Inactive;
  eof_ = true;
  empty_ = true;
}

void RecordSource::requireActive() const {
  if (!active()) fail("Cannot perform this operation on a closed dataset");
}

void RecordSource::requireModifiable() const {
  if (!canModify()) fail("Cannot modify a read-only dataset");
}

void RecordSource::first() {
  requireActive();
  // Moving away from a row in edit or insert writes it first, as a person leaving a row of a
  // grid expects; a refused row stops the move.
  if (state_ != SourceState::Browse) post();
  const bool hasRow = doFirst();
  eof_ = !hasRow;
  empty_ = !hasRow;
  if (!hasRow) nullAllFields();
}

void RecordSource::next() {
  requireActive();
  if (state_ != SourceState::Browse) post();
  if (empty_) return;
  if (!doNext()) eof_ = true;
}

void RecordSource::append() {
  requireActive();
  if (state_ != SourceState::Browse) return;
  requireModifiable();
  doBeginEdit(true);
  clearModified();
  nullAllFields();
  state_ = SourceState::Insert;
}

void RecordSource::edit() {
  requireActive();
  if (state_ != SourceState::Browse) return;
  if (empty_) {
    append();
    return;
  }
  requireModifiable();
  doBeginEdit(false);
  clearModified();
  state_ = SourceState::Edit;
}

void RecordSource::post() {
  if (state_ != SourceState::Edit && state_ != SourceState::Insert) {
    fail("Dataset not in edit or insert mode");
  }
  doPost(modified_, state_ == SourceState::Insert);
  clearModified();
  state_ = SourceState::Browse;
  empty_ = false;
  eof_ = false;
}

Field* RecordSource::findField(std::string_view name) noexcept {
  const auto found = byName_.find(name);
  return found == byName_.end() ? nullptr : found->second;
}

void RecordSource::indexFields() {
  byName_.clear();
  byName_.reserve(fields_.size());
  for (const auto& field : fields_) byName_.try_emplace(field->name(), field.get());
}

Field& RecordSource::fieldByName(std::string_view name) {
  if (Field* field = findField(name)) return *field;
  fail(fieldNotFoundMessage(name));
}

long long RecordSource::recordCount() {
  requireActive();
  return doRecordCount();
}

long long RecordSource::recordNumber() const {
  if (!active()) return -1;
  return doRecordNumber();
}

void RecordSource::doPost(std::span<Field* const>, bool) {
  fail("Cannot modify a read-only dataset");
}

void RecordSource::doBeginEdit(bool) {}

bool RecordSource::kindFits(FieldKind declared, FieldKind actual) const {
  return kindsFit(declared, actual, false);
}

void RecordSource::nullAllFields() noexcept {
  for (const auto& field : fields_) field->setFetchedNull();
}

void RecordSource::noteAssigned(Field& field) {
  modified_.push_back(&field);
  field.modified_ = true;
}

void RecordSource::clearModified() noexcept {
  for (Field* field : modified_) field->modified_ = false;
  modified_.clear();
}

std::string fieldNotFoundMessage(std::string_view field) {
  return "Field '" + std::string(field) + "' not found";
}

std::string typeMismatchMessage(std::string_view field, FieldKind expected, FieldKind actual) {
  return "Type mismatch for field '" + std::string(field) +
         "', expecting: " + std::string(kindName(expected)) +
         " actual: " + std::string(kindName(actual));
}

}  // namespace importacao
