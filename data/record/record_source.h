// Record sources: the one contract through which the legacy tables and the store's queries are
// read and written. The base class owns the state machine, the field list, field lookup and the
// modified set; an engine (the dBASE reader, the ODBC query) supplies the rows.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/record/field.h"

namespace importacao {

enum class SourceState { Inactive, Browse, Edit, Insert };

// One column of an open result, as the engine reports it.
struct ColumnInfo {
  std::string name;
  FieldKind kind = FieldKind::Unknown;
  int size = 0;           // for text kinds, the most characters; 0 when the kind has no size
  bool readOnly = false;  // the column cannot be written
};

// Base of every record source. Not copyable or movable (fields point back to it). An engine's
// destructor calls close(): by the time the base destructor runs, doClose() cannot be reached.
//
// Errors the source raises on its own behalf are DataError with "<name>: " before the message;
// field-level messages carry no prefix. Engine errors pass through unchanged.
//
// Lifecycle (the operations below say what each does in each state):
//   inactive --open--> browse (a failed open leaves it inactive)
//   browse   --append--> insert; --edit--> edit (insert when the result is empty)
//   edit, insert --post--> browse on success, unchanged on failure
//   any --close--> inactive, an unposted row discarded
class RecordSource {
 public:
  explicit RecordSource(std::string name);
  virtual ~RecordSource();
  RecordSource(const RecordSource&) = delete;
  RecordSource& operator=(const RecordSource&) = delete;
  RecordSource(RecordSource&&) = delete;
  RecordSource& operator=(RecordSource&&) = delete;

  const std::string& name() const noexcept { return name_; }
  SourceState state() const noexcept { return state_; }
  bool active() const noexcept { return state_ != SourceState::Inactive; }

  // --- Declared fields -----------------------------------------------------------------------
  // A source that declares fields reaches exactly those; one that declares none derives one
  // field per column at open. Declared fields live as long as the source, at a fixed address.

  // Declares a field at the end of the list (`size` nullopt: defaultSize(kind)). Only while
  // inactive: otherwise throws DataError
  // "<name>: Cannot perform this operation on an open dataset". Returns the field.
  Field& declareField(std::string name, FieldKind kind, std::optional<int> size = std::nullopt,
                      bool readOnly = false);
  bool hasDeclaredFields() const noexcept { return declared_; }

  // --- Operations ----------------------------------------------------------------------------

  // Inactive: runs the engine's open, binds or derives the fields, moves to the first row
  // (end-of-data set when there is none); state browse. A declared field without a column
  // throws "<name>: Field '<field>' not found"; one whose kind does not fit its column
  // "<name>: Type mismatch for field '<field>', expecting: <kind> actual: <kind>" (kindName);
  // engine failures pass through. On any failure the source stays inactive. Active: nothing.
  void open();

  // Drops the result and any unposted row; state inactive. Derived fields are destroyed,
  // declared ones unbound and set to null. Closing a closed source does nothing. Never throws.
  void close() noexcept;

  // Browse: to the first row, end-of-data set when there is none. Edit or insert: posts first
  // (a failed post throws and nothing moves). Inactive: throws
  // "<name>: Cannot perform this operation on a closed dataset".
  void first();

  // Browse: to the following row; on the last row sets end-of-data and the last row stays
  // current. Edit or insert: posts first, as first() does. Inactive: the closed-dataset error.
  void next();

  // End-of-data: set by next() past the last row and by open/first on an empty result; true
  // when inactive.
  bool eof() const noexcept { return state_ == SourceState::Inactive || eof_; }

  // True when the open result has no row (and when inactive).
  bool isEmpty() const noexcept { return state_ == SourceState::Inactive || empty_; }

  // Browse: starts a new row: state insert, every field null, modified set empty. Edit or
  // insert: nothing. Inactive: the closed-dataset error. A source that cannot be modified:
  // "<name>: Cannot modify a read-only dataset".
  void append();

  // Browse: the current row enters edit with an empty modified set; on an empty result acts as
  // append. Edit or insert: nothing. Errors as append.
  void edit();

  // Edit or insert: hands the modified set to the engine, which writes the row; on success state
  // browse, modified set empty, the written row current. On failure the engine's error passes
  // out unchanged and the source stays in edit or insert with its values. Browse or inactive:
  // throws "<name>: Dataset not in edit or insert mode".
  void post();

  // The first field, in list order, whose name equals `name` without regard to case
  // (namesEqual), found through an index kept with the field list (no search of the list).
  // Throws "<name>: Field '<asked name>' not found". The reference is valid until
  // close (derived fields) or for the source's lifetime (declared fields).
  Field& fieldByName(std::string_view name);
  // As fieldByName, nullptr when there is none.
  Field* findField(std::string_view name) noexcept;

  // Legacy tables: how many records the walk will present (-1 when the engine cannot say).
  // Inactive: the closed-dataset error.
  long long recordCount();
  // Legacy tables: the 1-based position of the current record as the engine numbers it; -1 when
  // the engine does not number records or the source is inactive.
  long long recordNumber() const;

  // The field list, in order (declared, or derived from the columns while open).
  std::size_t fieldCount() const noexcept { return fields_.size(); }
  Field& field(std::size_t index) { return *fields_.at(index); }
  const Field& field(std::size_t index) const { return *fields_.at(index); }

  // The fields assigned since the row entered edit or insert, in the order of their first
  // assignment.
  std::span<Field* const> modifiedFields() const noexcept { return modified_; }

  // Throws DataError "<name>: <message>": for messages a source raises on its own behalf.
  [[noreturn]] void fail(std::string_view message) const;

 protected:
  // --- Engine hooks ----------------------------------------------------------------------------

  // Opens the table or runs the query and returns its columns in result order. Throw to fail
  // (the engine cleans up after itself; the source stays inactive). After it returns the base
  // binds the fields; if binding fails, doClose() is called.
  virtual std::vector<ColumnInfo> doOpen() = 0;

  // Drops the result. Must not throw.
  virtual void doClose() noexcept = 0;

  // Moves to the first row and fills the bound fields (columnFields()) with its values through
  // the Field::setFetched* hooks; returns false when there is no row (fields need not be
  // touched then).
  virtual bool doFirst() = 0;

  // Moves to the following row and fills the bound fields; returns false when the current row
  // was the last (then nothing moves and the fields keep the last row's values).
  virtual bool doNext() = 0;

  // Writes the row being edited (inserting: a new row) carrying exactly `modified`, in the
  // order of first assignment. Throw to refuse: nothing must remain written then. On success
  // the written row must be the engine's current row; the engine may refill the fields with
  // what the store holds now (defaults of unassigned columns). The default throws
  // "<name>: Cannot modify a read-only dataset".
  virtual void doPost(std::span<Field* const> modified, bool inserting);

  // Called when a row enters edit (inserting false) or insert (true), before any assignment;
  // a throw leaves the source in browse. Default: nothing.
  virtual void doBeginEdit(bool inserting);

  // Whether rows may be appended or edited; false makes append and edit throw
  // "<name>: Cannot modify a read-only dataset". Default false: an engine that writes overrides
  // this and doPost.
  virtual bool canModify() const { return false; }

  // Whether a declared field of kind `declared` may stand for a column of kind `actual`.
  // Default: kindsFit(declared, actual, false). Store sources pass storeExtras = true; the
  // legacy table also lets any declared number kind stand for its numeric columns.
  virtual bool kindFits(FieldKind declared, FieldKind actual) const;

  // Record count and number (see the public operations). Defaults: -1.
  virtual long long doRecordCount() { return -1; }
  virtual long long doRecordNumber() const { return -1; }

  // While open: the field bound to each column of the result, by column index; nullptr for a
  // column that no declared field stands for.
  std::span<Field* const> columnFields() const noexcept { return columnFields_; }

 private:
  friend class Field;

  void bind(const std::vector<ColumnInfo>& columns);
  void unbind() noexcept;
  void nullAllFields() noexcept;
  void requireActive() const;
  void requireModifiable() const;
  void noteAssigned(Field& field);
  void clearModified() noexcept;
  // Rebuilds byName_ from fields_ (the first of equal names wins).
  void indexFields();
  // Whether derived `fields` are exactly those `columns` would derive, in order.
  static bool sameColumns(const std::vector<std::unique_ptr<Field>>& fields,
                          const std::vector<ColumnInfo>& columns) noexcept;

  std::string name_;
  SourceState state_ = SourceState::Inactive;
  bool declared_ = false;
  bool eof_ = true;
  bool empty_ = true;
  std::vector<std::unique_ptr<Field>> fields_;
  // Every field by name, without regard to case; the keys are the fields' own names.
  struct NameHash {
    std::size_t operator()(std::string_view name) const noexcept { return nameHash(name); }
  };
  struct NameEqual {
    bool operator()(std::string_view a, std::string_view b) const noexcept {
      return namesEqual(a, b);
    }
  };
  std::unordered_map<std::string_view, Field*, NameHash, NameEqual> byName_;
  // Derived fields of the last open, with their index, kept after close for the next open of
  // the same columns.
  std::vector<std::unique_ptr<Field>> spare_;
  std::unordered_map<std::string_view, Field*, NameHash, NameEqual> spareIndex_;
  std::vector<Field*> columnFields_;
  std::vector<Field*> modified_;
};

// The messages a source raises about a field it cannot find or bind, without the source's name
// in front: "Field '<field>' not found" and "Type mismatch for field '<field>', expecting:
// <kind> actual: <kind>" (kindName).
std::string fieldNotFoundMessage(std::string_view field);
std::string typeMismatchMessage(std::string_view field, FieldKind expected, FieldKind actual);

}  // namespace importacao
