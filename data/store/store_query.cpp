#include "data/store/store_query.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <functional>

#include "data/errors.h"
#include "data/record/number_text.h"
#include "normalise/ascii.h"
#include "normalise/codepage.h"

namespace importacao {

namespace {

// The text of the conflict ODBC reports as SQLSTATE 01001 ("cursor operation conflict").
constexpr std::string_view kRowChanged =
    "Row cannot be located for updating. Some values may have been changed since it was last read";

FieldKind kindOfValue(const Value& value) {
  struct Visitor {
    FieldKind operator()(std::monostate) const { return FieldKind::Text; }
    FieldKind operator()(std::int64_t v) const {
      return (v >= INT32_MIN && v <= INT32_MAX) ? FieldKind::Integer : FieldKind::LargeInt;
    }
    FieldKind operator()(double) const { return FieldKind::Float; }
    FieldKind operator()(const std::string&) const { return FieldKind::Text; }
    FieldKind operator()(const WideText&) const { return FieldKind::WideText; }
    FieldKind operator()(DateTime) const { return FieldKind::DateTime; }
  };
  return std::visit(Visitor{}, value);
}

// The value in the form a buffer of the kind needs; the callers hand values already converted
// to their kind (fields hold their kind, parameters go through parameterValueForStore).
std::int64_t integerOf(const Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* d = std::get_if<double>(&value))
    return static_cast<std::int64_t>(roundHalfEven(*d));
  return 0;
}

double doubleOf(const Value& value) {
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* t = std::get_if<DateTime>(&value)) return t->days;
  return 0.0;
}

std::u16string wideOf(const Value& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return cp1252ToUtf16(*s);
  if (const auto* w = std::get_if<WideText>(&value)) return *w;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return cp1252ToUtf16(integerToText(*i));
  if (const auto* d = std::get_if<double>(&value)) return cp1252ToUtf16(floatToText(*d));
  return {};
}

// A decimal as the text drivers and servers read the same everywhere: '.' and four places.
// Room for every double, the largest has 309 digits: a value too large for its column is the
// store's to refuse.
std::string decimalText(double value) {
  char buffer[512];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
  return std::string(buffer, result.ptr);
}

bool comparable(FieldKind kind, const odbc::ColumnDescription& column) {
  switch (kind) {
    case FieldKind::Memo:  // long texts cannot be compared on every store (SQL Server's text)
    case FieldKind::Unknown:
    case FieldKind::Bytes:
    case FieldKind::VarBytes:
    case FieldKind::Blob:
    case FieldKind::Graphic: return false;
    case FieldKind::Bcd:  // held to four places: a finer column would never compare equal
      return column.decimalDigits <= 4;
    default: return true;
  }
}

}  // namespace

void fillParameterBuffer(odbc::ParameterBuffer& b, const Value& value, FieldKind kind, int size,
                         const odbc::ColumnDescription* column) {
  if (kind == FieldKind::Unknown) kind = kindOfValue(value);
  // The buffer may have carried another value before: everything is set anew, keeping only the
  // capacity of its strings.
  b.ioType = SQL_PARAM_INPUT;
  b.decimalDigits = 0;
  b.wide.clear();
  b.narrow.clear();
  const bool null = isNull(value);
  auto sqlTypeOr = [&](SQLSMALLINT own) { return column ? column->sqlType : own; };
  auto columnSizeOr = [&](SQLULEN own) { return column ? column->columnSize : own; };
  auto digitsOr = [&](SQLSMALLINT own) { return column ? column->decimalDigits : own; };

  switch (kind) {
    case FieldKind::Text:
    case FieldKind::FixedText:
    case FieldKind::Memo:
    case FieldKind::Guid:
    case FieldKind::WideText: {
      b.cType = SQL_C_WCHAR;
      if (!null) {
        if (const auto* text = std::get_if<std::string>(&value)) {
          cp1252ToUtf16(*text, b.wide);
        } else {
          b.wide = wideOf(value);
        }
      }
      const SQLSMALLINT own = kind == FieldKind::FixedText  ? SQL_CHAR
                              : kind == FieldKind::Memo     ? SQL_LONGVARCHAR
                              : kind == FieldKind::Guid     ? SQL_GUID
                              : kind == FieldKind::WideText ? SQL_WVARCHAR
                                                            : SQL_VARCHAR;
      b.sqlType = sqlTypeOr(own);
      // Never cut: the marker is as long as the value when the value is longer.
      b.columnSize = std::max<SQLULEN>({columnSizeOr(static_cast<SQLULEN>(std::max(size, 0))),
                                        static_cast<SQLULEN>(b.wide.size()), 1});
      break;
    }
    case FieldKind::SmallInt:
    case FieldKind::Word:
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::LargeInt:
      b.cType = SQL_C_SBIGINT;
      b.integer = null ? 0 : integerOf(value);
      b.sqlType = sqlTypeOr(kind == FieldKind::SmallInt   ? SQL_SMALLINT
                            : kind == FieldKind::LargeInt ? SQL_BIGINT
                                                          : SQL_INTEGER);
      b.columnSize = columnSizeOr(kind == FieldKind::SmallInt   ? 5
                                  : kind == FieldKind::LargeInt ? 19
                                                                : 10);
      b.decimalDigits = digitsOr(0);
      break;
    case FieldKind::Boolean:
      b.cType = SQL_C_BIT;
      b.bit = null ? 0 : (integerOf(value) != 0 ? 1 : 0);
      b.sqlType = sqlTypeOr(SQL_BIT);
      b.columnSize = columnSizeOr(1);
      break;
    case FieldKind::Float:
      b.cType = SQL_C_DOUBLE;
      b.real = null ? 0.0 : doubleOf(value);
      b.sqlType = sqlTypeOr(SQL_DOUBLE);
      b.columnSize = columnSizeOr(15);
      b.decimalDigits = digitsOr(0);
      break;
    case FieldKind::Bcd:
      b.cType = SQL_C_CHAR;
      if (!null) b.narrow = decimalText(doubleOf(value));
      b.sqlType = sqlTypeOr(SQL_DECIMAL);
      b.columnSize = columnSizeOr(19);
      b.decimalDigits = digitsOr(4);
      if (!column) b.columnSize = std::max<SQLULEN>(b.columnSize, b.narrow.size());
      break;
    case FieldKind::Date:
    case FieldKind::Time:
    case FieldKind::DateTime: {
      b.cType = SQL_C_TYPE_TIMESTAMP;
      if (!null) {
        const auto* dateTime = std::get_if<DateTime>(&value);
        b.timestamp = odbc::timestampFromDays(dateTime ? *dateTime : DateTime{doubleOf(value)});
      }
      b.sqlType = sqlTypeOr(SQL_TYPE_TIMESTAMP);
      if (b.sqlType == SQL_TYPE_DATE || b.sqlType == SQL_DATE) {
        // A date column takes no time of day; the driver would call it a truncation.
        b.timestamp.hour = b.timestamp.minute = b.timestamp.second = 0;
        b.timestamp.fraction = 0;
        b.columnSize = 10;
      } else {
        // Milliseconds at least, whatever the column reports (SQLite's driver says none).
        b.decimalDigits = std::clamp<SQLSMALLINT>(digitsOr(3), 3, 9);
        b.columnSize = static_cast<SQLULEN>(20 + b.decimalDigits);
      }
      break;
    }
    case FieldKind::Bytes:
    case FieldKind::VarBytes:
    case FieldKind::Blob:
    case FieldKind::Graphic:
    case FieldKind::Unknown:
      b.cType = SQL_C_BINARY;
      if (const auto* s = std::get_if<std::string>(&value)) b.narrow = *s;
      b.sqlType = sqlTypeOr(SQL_VARBINARY);
      b.columnSize = std::max<SQLULEN>({columnSizeOr(0), b.narrow.size(), 1});
      break;
  }
  if (null) {
    b.indicator = SQL_NULL_DATA;
  } else if (b.cType == SQL_C_WCHAR) {
    b.indicator = static_cast<SQLLEN>(b.wide.size() * sizeof(char16_t));
  } else if (b.cType == SQL_C_CHAR || b.cType == SQL_C_BINARY) {
    b.indicator = static_cast<SQLLEN>(b.narrow.size());
  } else {
    b.indicator = 0;
  }
}

namespace {

// As fillParameterBuffer with the field's value, reading a text field's bytes in place.
void fillFromField(odbc::ParameterBuffer& b, const Field& field,
                   const odbc::ColumnDescription& column) {
  const FieldKind kind = field.kind();
  if (field.isNull() || !isTextKind(kind) || kind == FieldKind::WideText) {
    fillParameterBuffer(b, field.value(), kind, field.size(), &column);
    return;
  }
  fillParameterBuffer(b, std::string(), kind, field.size(), &column);  // types and sizes
  cp1252ToUtf16(field.textView(), b.wide);
  b.columnSize = std::max<SQLULEN>(b.columnSize, b.wide.size());
  b.indicator = static_cast<SQLLEN>(b.wide.size() * sizeof(char16_t));
}

}  // namespace

odbc::ParameterBuffer parameterBuffer(const Value& value, FieldKind kind, int size,
                                      std::optional<odbc::ColumnDescription> column) {
  odbc::ParameterBuffer b;
  fillParameterBuffer(b, value, kind, size, column ? &*column : nullptr);
  return b;
}

// --- KeptStatement ------------------------------------------------------------------------------

odbc::Statement& KeptStatement::prepare(StoreConnection& store, const std::u16string& text) {
  if (statement_ && text_ == text && store.reusePreparedStatements()) return *statement_;
  discard();
  auto statement = std::make_unique<odbc::Statement>(store.odbcConnection());
  statement->prepare(text);
  statement_ = std::move(statement);
  text_ = text;
  return *statement_;
}

void KeptStatement::discard() noexcept {
  statement_.reset();
  text_.clear();
  shape_.reset();
}

// --- StoreQuery --------------------------------------------------------------------------------

StoreQuery::StoreQuery(std::string name, StoreConnection& connection)
    : RecordSource(name), StoreCommand(connection), parameters_(name) {}

StoreQuery::~StoreQuery() { close(); }

Parameter& StoreQuery::declareParameter(Parameter parameter) {
  return parameters_.add(std::move(parameter));
}

void StoreQuery::setStatementText(std::string text) {
  if (active()) fail("Cannot perform this operation on an open dataset");
  text_ = std::move(text);
  scanned_ = scanNamedParameters(text_);
  sendText_ = cp1252ToUtf16(scanned_.text);
  selectTable_ = tableOfSelect(text_);
  // The writer's statements were made for the columns of the old text.
  writer_.discard();
  for (const std::string& name : scanned_.names) {
    if (parameters_.find(name) == nullptr) parameters_.add(Parameter(name, FieldKind::Unknown));
  }
}

std::optional<std::string> StoreQuery::updateTable() const {
  if (updateTable_) return updateTable_;
  return selectTable_;
}

std::vector<odbc::ParameterBuffer>& StoreQuery::bindMarkers() {
  // Converted before anything is sent: a value that does not convert fails the statement.
  markerBuffers_.resize(scanned_.names.size());
  for (std::size_t i = 0; i < scanned_.names.size(); ++i) {
    const Parameter& parameter = parameters_.byName(scanned_.names[i]);
    fillParameterBuffer(markerBuffers_[i], parameterValueForStore(parameter), parameter.type(),
                        parameter.size(), nullptr);
  }
  return markerBuffers_;
}

odbc::ParameterBuffer& StoreQuery::nextBuffer(std::vector<odbc::ParameterBuffer>& buffers,
                                              std::size_t& used) {
  if (used == buffers.size()) buffers.emplace_back();
  return buffers[used++];
}

Value StoreQuery::readCell(odbc::Statement& statement, SQLUSMALLINT number, const Column& column,
                           std::size_t row, std::vector<StoredText>& storedTexts) {
  switch (column.kind) {
    case FieldKind::Text:
    case FieldKind::FixedText:
    case FieldKind::Memo:
    case FieldKind::Guid: {
      if (!statement.getText(number, scratch_)) return std::monostate{};
      bool lossless = true;
      std::string text = utf16ToCp1252(scratch_, lossless);
      if (!lossless) storedTexts.push_back({row, number - 1u, scratch_});
      return text;
    }
    case FieldKind::WideText: {
      auto text = statement.getText(number);
      if (!text) return std::monostate{};
      return std::move(*text);
    }
    case FieldKind::SmallInt:
    case FieldKind::Word:
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::LargeInt:
    case FieldKind::Boolean: {
      auto value = statement.getInteger(number);
      if (!value) return std::monostate{};
      return *value;
    }
    case FieldKind::Float: {
      // SQLite's driver carries doubles as text of 15 significant digits, both ways; the other
      // drivers keep every bit.
      auto value = statement.getDouble(number);
      if (!value) return std::monostate{};
      return *value;
    }
    case FieldKind::Bcd: {
      auto value = statement.getDouble(number);
      if (!value) return std::monostate{};
      return roundDecimalHalfEven(*value, 4);
    }
    case FieldKind::Date:
    case FieldKind::Time:
    case FieldKind::DateTime: {
      auto value = statement.getTimestamp(number);
      if (!value) return std::monostate{};
      return odbc::daysFromTimestamp(*value);
    }
    case FieldKind::Bytes:
    case FieldKind::VarBytes:
    case FieldKind::Blob:
    case FieldKind::Graphic:
    case FieldKind::Unknown: {
      auto value = statement.getBinary(number);
      if (!value) return std::monostate{};
      return std::move(*value);
    }
  }
  return std::monostate{};
}

std::shared_ptr<const ResultShape> StoreQuery::describe(odbc::Statement& statement,
                                                        SQLSMALLINT count) {
  auto shape = std::make_shared<ResultShape>();
  shape->columns.reserve(static_cast<std::size_t>(count));
  shape->infos.reserve(static_cast<std::size_t>(count));
  for (SQLSMALLINT c = 1; c <= count; ++c) {
    Column column;
    column.description = statement.describeColumn(static_cast<SQLUSMALLINT>(c));
    const StoreKind store = connection().storeKind();
    column.description.name = nameFromDriver(column.description.name, store);
    column.description.baseTable = nameFromDriver(column.description.baseTable, store);
    const ColumnKind kind = columnKind(column.description, store);
    column.kind = kind.kind;
    column.size = kind.size;
    ColumnInfo info;
    info.name = utf8ToCp1252(column.description.name);
    info.kind = column.kind;
    info.size = column.size;
    // A text column whose length the driver does not know holds any length.
    if (isTextKind(column.kind) && column.kind != FieldKind::Memo && info.size <= 0)
      info.size = INT_MAX;
    info.readOnly = !column.description.updatable || column.description.autoIncrement ||
                    column.kind == FieldKind::AutoInc;
    shape->columns.push_back(std::move(column));
    shape->infos.push_back(std::move(info));
  }
  return shape;
}

std::vector<ColumnInfo> StoreQuery::doOpen() {
  StoreConnection& store = connection();
  store.ensureConnected();
  std::vector<odbc::ParameterBuffer>& buffers = bindMarkers();
  doClose();
  // Kept aside until every row has arrived, so a failure leaves nothing of the result behind;
  // in the storage of the last result.
  std::shared_ptr<const ResultShape> shape;
  std::vector<Row> rows;
  std::vector<StoredText> storedTexts;
  rows.swap(rows_);
  storedTexts.swap(storedTexts_);
  store.runStatement([&] {
    select_.prepare(store, sendText_);
    select_.use([&](odbc::Statement& statement) {
      statement.bindParameters(buffers);
      statement.execute();
      const SQLSMALLINT count = statement.resultColumnCount();
      if (count != 0) {
        // The columns of a statement kept prepared are those it had: described once.
        if (!select_.shape() ||
            select_.shape()->columns.size() != static_cast<std::size_t>(count)) {
          select_.setShape(describe(statement, count));
        }
        shape = select_.shape();
        const std::vector<Column>& columns = shape->columns;
        while (statement.fetch()) {
          Row row;
          row.reserve(columns.size());
          for (std::size_t c = 0; c < columns.size(); ++c) {
            row.push_back(readCell(statement, static_cast<SQLUSMALLINT>(c + 1), columns[c],
                                   rows.size(), storedTexts));
          }
          rows.push_back(std::move(row));
        }
      }
      statement.closeCursor();
    });
  });
  if (!shape) fail("CommandText does not return a result set");
  shape_ = std::move(shape);
  rows_ = std::move(rows);
  storedTexts_ = std::move(storedTexts);
  return shape_->infos;
}

void StoreQuery::doClose() noexcept {
  rows_.clear();
  storedTexts_.clear();
  shape_.reset();
  current_ = 0;
}

void StoreQuery::fillFields() {
  const std::span<Field* const> fields = columnFields();
  const Row& row = rows_[current_];
  for (std::size_t i = 0; i < fields.size() && i < row.size(); ++i) {
    if (Field* field = fields[i]) field->setFetchedValue(row[i]);
  }
}

bool StoreQuery::doFirst() {
  if (rows_.empty()) return false;
  current_ = 0;
  fillFields();
  return true;
}

bool StoreQuery::doNext() {
  if (current_ + 1 >= rows_.size()) return false;
  ++current_;
  fillFields();
  return true;
}

bool StoreQuery::canModify() const { return updateTable().has_value(); }

bool StoreQuery::kindFits(FieldKind declared, FieldKind actual) const {
  return kindsFit(declared, actual, true);
}

StoreQuery::WriteTable StoreQuery::writeTable() const {
  const std::optional<std::string> table = updateTable();
  if (!table) fail("Cannot modify a read-only dataset");
  // The store's own spelling, from the column metadata, when the driver gives it: PostgreSQL
  // keeps unquoted names in lower case, and a quoted name must match exactly.
  const std::size_t dot = table->rfind('.');
  const std::string_view unqualified = dot == std::string::npos
                                           ? std::string_view(*table)
                                           : std::string_view(*table).substr(dot + 1);
  for (const Column& column : shape_->columns) {
    const std::string& base = column.description.baseTable;
    if (!base.empty() && equalsNoCaseAscii(base, unqualified)) {
      std::string rendered = quoteIdentifier(base, connection().identifierQuote());
      if (dot != std::string::npos && isPlainIdentifier(std::string_view(*table).substr(0, dot))) {
        rendered = table->substr(0, dot + 1) + rendered;
      }
      return WriteTable{std::move(rendered), base, column.description.baseSchema};
    }
  }
  // Otherwise the name as the statement writes it, which the store has just accepted.
  if (!isPlainIdentifier(*table))
    fail("'" + *table + "' is not a table name this program can write to");
  return WriteTable{*table, dot == std::string::npos ? *table : table->substr(dot + 1),
                    dot == std::string::npos ? std::string() : table->substr(0, dot)};
}

void StoreQuery::doPost(std::span<Field* const> modified, bool inserting) {
  if (inserting) {
    postInsert(modified);
  } else {
    postUpdate(modified);
  }
}

std::vector<StoreQuery::Assigned> StoreQuery::writableAssignments(
    std::span<Field* const> modified) const {
  const std::vector<Column>& columns = shape_->columns;
  std::vector<Assigned> assigned;
  assigned.reserve(modified.size());
  for (const Field* field : modified) {
    const int index = field->columnIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= columns.size()) continue;
    const Column& column = columns[static_cast<std::size_t>(index)];
    if (!column.description.updatable || column.description.autoIncrement) continue;
    assigned.push_back(Assigned{static_cast<std::size_t>(index), field});
  }
  return assigned;
}

bool StoreQuery::runWriter(const PostKey& key, const std::function<std::string()>& text) {
  StoreConnection& store = connection();
  bool changed = false;
  store.runStatement([&] {
    // The same key makes the same statement: no need to build its text again to find it kept.
    if (!writer_.prepared() || !(key == writerKey_) || !store.reusePreparedStatements()) {
      // Column and table names come from the metadata, as UTF-8.
      writer_.prepare(store, utf8ToUtf16(text()));
      writerKey_ = key;
    }
    changed = writer_.use([&](odbc::Statement& statement) {
      statement.bindParameters(writerBuffers_);
      const bool touched = statement.executeToEnd() != 0;
      statement.closeCursor();
      return touched;
    });
  });
  return changed;
}

void StoreQuery::postInsert(std::span<Field* const> modified) {
  const std::vector<Column>& columns = shape_->columns;
  const WriteTable table = writeTable();

  PostKey key;
  std::size_t used = 0;
  for (const Assigned& assigned : writableAssignments(modified)) {
    key.set.push_back(assigned.column);
    fillFromField(nextBuffer(writerBuffers_, used), *assigned.field,
                  columns[assigned.column].description);
  }
  writerBuffers_.resize(used);
  runWriter(key, [&] {
    std::vector<std::string> names;
    for (std::size_t index : key.set) names.push_back(columns[index].description.name);
    return insertText(table.rendered, names, connection().identifierQuote());
  });

  Row row(columns.size());
  const std::span<Field* const> fields = columnFields();
  for (std::size_t i = 0; i < fields.size() && i < row.size(); ++i) {
    if (fields[i] != nullptr) row[i] = fields[i]->value();
  }
  rows_.push_back(std::move(row));
  current_ = rows_.size() - 1;
}

void StoreQuery::postUpdate(std::span<Field* const> modified) {
  StoreConnection& store = connection();
  const std::vector<Column>& columns = shape_->columns;
  const WriteTable table = writeTable();

  PostKey key;
  key.update = true;
  std::size_t used = 0;
  for (const Assigned& assigned : writableAssignments(modified)) {
    key.set.push_back(assigned.column);
    fillFromField(nextBuffer(writerBuffers_, used), *assigned.field,
                  columns[assigned.column].description);
  }
  if (key.set.empty()) return;  // nothing assigned: nothing to write

  std::vector<char> compared(columns.size(), 0);
  auto addCondition = [&](std::size_t index) {
    if (compared[index] != 0) return;
    compared[index] = 1;
    const Value original = originalValue(index);
    key.compared.push_back(PostKey::Compared{index, isNull(original)});
    if (!isNull(original)) {
      fillParameterBuffer(nextBuffer(writerBuffers_, used), original, columns[index].kind,
                          columns[index].size, &columns[index].description);
    }
  };
  for (std::size_t index : keyColumnIndexes(table)) addCondition(index);
  const std::size_t keyConditions = key.compared.size();
  // Optimistic check: each column this post changes must still hold what was read.
  for (std::size_t index : key.set) {
    if (comparable(columns[index].kind, columns[index].description)) addCondition(index);
  }

  writerBuffers_.resize(used);
  const bool located = runWriter(key, [&] {
    std::vector<std::string> setNames;
    for (std::size_t index : key.set) setNames.push_back(columns[index].description.name);
    std::vector<PostColumn> where;
    for (std::size_t i = 0; i < key.compared.size(); ++i) {
      const PostKey::Compared& condition = key.compared[i];
      const Column& column = columns[condition.column];
      // Keys come first and compare exactly, so the store finds the row by its index.
      const Comparison comparison = i < keyConditions
                                        ? Comparison::Exact
                                        : originalComparison(store.storeKind(), column.kind);
      where.push_back(PostColumn{column.description.name, true, condition.originalIsNull,
                                 comparison,
                                 comparisonCast(store.storeKind(), column.description.typeName)});
    }
    return updateText(table.rendered, setNames, where, store.identifierQuote());
  });
  if (!located) throw StoreError(std::string(kRowChanged), "01001", 0);

  Row& row = rows_[current_];
  const std::span<Field* const> fields = columnFields();
  for (std::size_t index : key.set) {
    if (index < fields.size() && fields[index] != nullptr) row[index] = fields[index]->value();
  }
  // What the store holds now is what was written.
  std::erase_if(storedTexts_, [&](const StoredText& stored) {
    return stored.row == current_ &&
           std::find(key.set.begin(), key.set.end(), stored.column) != key.set.end();
  });
}

std::vector<std::size_t> StoreQuery::keyColumnIndexes(const WriteTable& table) const {
  const std::vector<Column>& columns = shape_->columns;
  const std::vector<std::string>& keys = connection().keyColumns(table.name, table.schema);
  if (keys.empty()) {
    fail("Table '" + utf8ToCp1252(table.name) +
         "' has no primary key, so its rows cannot be updated");
  }
  std::vector<std::size_t> indexes;
  for (const std::string& key : keys) {
    std::size_t i = 0;
    while (i < columns.size() && !equalsNoCaseAscii(columns[i].description.name, key)) ++i;
    if (i == columns.size()) {
      fail("The key column '" + utf8ToCp1252(key) + "' of table '" + utf8ToCp1252(table.name) +
           "' is not in the result, so the row cannot be updated");
    }
    indexes.push_back(i);
  }
  return indexes;
}

std::vector<std::string> StoreQuery::updateKey() const {
  if (!shape_) fail("Cannot perform this operation on a closed dataset");
  std::vector<std::string> names;
  for (std::size_t index : keyColumnIndexes(writeTable()))
    names.push_back(shape_->columns[index].description.name);
  return names;
}

Value StoreQuery::originalValue(std::size_t column) const {
  for (const StoredText& stored : storedTexts_) {
    if (stored.row == current_ && stored.column == column) return WideText(stored.text);
  }
  return rows_.at(current_)[column];
}

long long StoreQuery::execute() {
  StoreConnection& store = connection();
  store.ensureConnected();
  std::vector<odbc::ParameterBuffer>& buffers = bindMarkers();
  long long affected = -1;
  store.runStatement([&] {
    select_.prepare(store, sendText_);
    affected = select_.use([&](odbc::Statement& statement) {
      statement.bindParameters(buffers);
      const long long count = statement.executeToEnd();
      statement.closeCursor();
      return count;
    });
  });
  return affected;
}

void StoreQuery::connectionClosing() noexcept {
  close();
  select_.discard();
  writer_.discard();
}

// --- StoredProc --------------------------------------------------------------------------------

StoredProc::StoredProc(std::string name, StoreConnection& connection)
    : StoreCommand(connection), name_(name), parameters_(std::move(name)) {}

StoredProc::~StoredProc() = default;

std::string StoredProc::callText() const {
  return procedureCall(connection().storeKind(), procedureName_, parameters_,
                       connection().identifierQuote())
      .text;
}

void StoredProc::execProc() {
  StoreConnection& store = connection();
  store.ensureConnected();
  const ProcedureCall call =
      procedureCall(store.storeKind(), procedureName_, parameters_, store.identifierQuote());
  std::vector<odbc::ParameterBuffer>& buffers = buffers_;
  buffers.resize(call.boundParameters.size());
  std::optional<std::size_t> returnBuffer;
  for (std::size_t i = 0; i < call.boundParameters.size(); ++i) {
    const Parameter& parameter = parameters_.at(static_cast<long long>(call.boundParameters[i]));
    if (parameter.direction() == ParameterDirection::ReturnValue) {
      fillParameterBuffer(buffers[i], Value{std::int64_t{0}}, FieldKind::Integer, 0, nullptr);
      buffers[i].ioType = SQL_PARAM_OUTPUT;
      returnBuffer = i;
    } else {
      fillParameterBuffer(buffers[i], parameterValueForStore(parameter), parameter.type(),
                          parameter.size(), nullptr);
    }
  }
  std::u16string text = cp1252ToUtf16(call.text);
  store.runStatement([&] {
    call_.prepare(store, text);
    call_.use([&](odbc::Statement& statement) {
      statement.bindParameters(buffers);
      // Output values arrive once every result of the call has been passed over.
      statement.executeToEnd();
      statement.closeCursor();
    });
  });
  if (returnBuffer) {
    const odbc::ParameterBuffer& b = buffers[*returnBuffer];
    for (Parameter& parameter : parameters_) {
      if (parameter.direction() == ParameterDirection::ReturnValue) {
        parameter.setReturnedValue(b.indicator == SQL_NULL_DATA ? Value{} : Value{b.integer});
        break;
      }
    }
  }
}

void StoredProc::connectionClosing() noexcept { call_.discard(); }

}  // namespace importacao
