#include "data/dbf/legacy_table.h"

#include <bit>

#include "data/dbf/dbf_decode.h"
#include "data/dbf/legacy_database.h"
#include "data/errors.h"

namespace importacao {
namespace {

// Hands a decoded value to a field through the engine hooks: no checks, no allocation once the
// field's text buffer has grown.
struct FieldSink {
  Field& field;
  void null() { field.setFetchedNull(); }
  void text(std::string_view t) { field.setFetchedText(t); }
  void number(double v) { field.setFetchedFloat(v); }
  void integer(std::int64_t v) { field.setFetchedInteger(v); }
  void date(DateTime v) { field.setFetchedDateTime(v); }
  void dateTime(DateTime v) { field.setFetchedDateTime(v); }
  void logical(bool v) { field.setFetchedBoolean(v); }
};

const std::vector<std::string> kNoWarnings;

bool isNumberKind(FieldKind kind) {
  return kind == FieldKind::Float || kind == FieldKind::Bcd || isIntegerKind(kind);
}

}  // namespace

FieldKind kindOfDbfField(const DbfField& field) noexcept {
  switch (field.reading) {
    case DbfReading::Character: return FieldKind::Text;
    case DbfReading::Number: return FieldKind::Float;
    case DbfReading::Date: return FieldKind::Date;
    case DbfReading::Logical: return FieldKind::Boolean;
    case DbfReading::Integer:
    case DbfReading::Integer7: return FieldKind::Integer;
    case DbfReading::Currency:
    case DbfReading::Double:
    case DbfReading::Double7: return FieldKind::Float;
    case DbfReading::DateTime:
    case DbfReading::Timestamp7: return FieldKind::DateTime;
    case DbfReading::NotRead: break;
  }
  switch (field.type) {
    case 'M': return FieldKind::Memo;
    case 'G':
    case 'P': return FieldKind::Graphic;
    default: return FieldKind::Blob;
  }
}

LegacyTable::LegacyTable(std::string name, std::string tableName, LegacyDatabase& database)
    : RecordSource(std::move(name)), database_(&database), tableName_(std::move(tableName)) {
  database_->attach(*this);
}

LegacyTable::LegacyTable(std::string name, DbfTable table)
    : RecordSource(std::move(name)), tableName_(table.fileName()), given_(std::move(table)) {}

LegacyTable::~LegacyTable() {
  close();
  if (database_ != nullptr) database_->detach(*this);
}

const std::vector<std::string>& LegacyTable::warnings() const noexcept {
  return open_ ? open_->warnings() : kNoWarnings;
}

std::vector<ColumnInfo> LegacyTable::doOpen() {
  if (given_) {
    open_ = *given_;
  } else if (database_ != nullptr) {
    open_ = database_->openTableFile(tableName_);
  } else {
    fail("no legacy database to read '" + tableName_ + "' from");
  }
  open_->adviseSequential();
  std::vector<ColumnInfo> columns;
  columns.reserve(open_->fields().size());
  for (const auto& f : open_->fields()) {
    const FieldKind kind = kindOfDbfField(f);
    columns.push_back({f.name, kind, kind == FieldKind::Text ? f.length : 0, true});
  }
  bound_ = false;
  return columns;
}

void LegacyTable::doClose() noexcept {
  open_.reset();
  bindings_.clear();
  bound_ = false;
  slot_ = 0;
}

void LegacyTable::bindColumns() {
  bindings_.clear();
  const auto targets = columnFields();
  for (std::size_t i = 0; i < targets.size() && i < open_->fields().size(); ++i) {
    if (targets[i] == nullptr) continue;
    const DbfField& column = open_->fields()[i];
    Field& field = *targets[i];
    // Visual FoxPro's null flags and varchar lengths need the whole record: those columns, and
    // the binary types, take decodeField's way.
    Path path = Path::General;
    if (column.nullBit < 0 && column.lengthBit < 0) {
      if (column.reading == DbfReading::Character && field.holdsText())
        path = Path::Text;
      else if (column.reading == DbfReading::Number)
        path = Path::Number;
      else if (column.reading == DbfReading::Date)
        path = Path::Date;
    }
    bindings_.push_back({&column, &field, path, static_cast<std::size_t>(column.offset),
                         static_cast<std::size_t>(column.length)});
  }
  // Every code page we read keeps ASCII as it is, and 1252 is the fields' own.
  toAnsi_ = open_->codePage() == 1252 ? nullptr : &open_->toAnsi();
  bound_ = true;
}

void LegacyTable::load() {
  const auto record = open_->record(slot_);
  const char* bytes = reinterpret_cast<const char*>(record.data());
  for (const auto& b : bindings_) {
    Field& field = *b.field;
    const char* raw = bytes + b.offset;
    switch (b.path) {
      case Path::Text: {
        std::uint64_t high = 0;
        const std::string_view text = trimCharacterInRecord(raw, b.length, high);
        if (text.empty()) {  // a blank character field is null, as every blank
          field.setFetchedNull();
          break;
        }
        char* held = field.fetchTextInPlace(text);
        if (high == 0 || toAnsi_ == nullptr) break;  // ASCII, or code page 1252 already
        if (b.length > 64) {
          convertTo1252(text, *toAnsi_, held);
          break;
        }
        // Only the bytes above 0x7F change; the mask says where they are.
        const auto* in = reinterpret_cast<const unsigned char*>(text.data());
        for (; high != 0; high &= high - 1) {
          const auto i = static_cast<std::size_t>(std::countr_zero(high));
          held[i] = (*toAnsi_)[in[i]];
        }
        break;
      }
      case Path::Number: {
        double value = 0;
        if (parseDbfNumberInRecord(raw, b.length, value))
          field.setFetchedFloat(value);
        else
          field.setFetchedNull();
        break;
      }
      case Path::Date: {
        DateTime value{};
        if (parseDbfDateInRecord(raw, b.length, value))
          field.setFetchedDateTime(value);
        else
          field.setFetchedNull();
        break;
      }
      case Path::General: {
        FieldSink sink{field};
        decodeField(*open_, *b.column, record, scratch_, sink);
        break;
      }
    }
  }
}

bool LegacyTable::doFirst() {
  if (!bound_) bindColumns();
  const std::size_t first = open_->nextLive(0);
  if (first >= open_->slotCount()) {
    slot_ = 0;
    return false;
  }
  slot_ = first;
  load();
  return true;
}

bool LegacyTable::doNext() {
  const std::size_t following = open_->nextLive(slot_ + 1);
  if (following >= open_->slotCount()) return false;  // the last record stays current
  slot_ = following;
  load();
  return true;
}

bool LegacyTable::kindFits(FieldKind declared, FieldKind actual) const {
  // The file's numeric fields have whatever widths their writer chose: any declared number
  // kind may stand for any of them.
  if (isNumberKind(declared) && isNumberKind(actual)) return true;
  return RecordSource::kindFits(declared, actual);
}

long long LegacyTable::doRecordCount() { return static_cast<long long>(open_->recordCount()); }

long long LegacyTable::doRecordNumber() const {
  if (!open_ || isEmpty()) return 0;
  return static_cast<long long>(slot_) + 1;
}

}  // namespace importacao
