// Fields: one named, typed value of the current row of a record source, with the reads and
// assignments that every legacy value passes through on its way to the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/value.h"

namespace importacao {

class RecordSource;
struct FieldInput;  // a value handed to a field, seen without a copy

// Every kind a field, a column or a parameter can have. `Unknown` is the type of a parameter
// declared without one, and of a column whose type no kind stands for.
enum class FieldKind {
  Unknown,
  Text,       // 8-bit code page 1252 text, at most size characters
  FixedText,  // as Text, from fixed-width store columns
  WideText,   // 16-bit text, at most size characters
  Memo,       // 8-bit text without a size limit
  SmallInt,   // -32768 to 32767
  Word,       // 0 to 65535
  Integer,    // -2147483648 to 2147483647
  LargeInt,   // 64-bit
  AutoInc,    // integer numbered by the store; its columns are read-only
  Float,      // IEEE double, no range check
  Bcd,        // fixed point with four decimal places
  Boolean,
  Date,
  Time,
  DateTime,
  Guid,      // a globally unique identifier in its 38-character text form
  Bytes,     // fixed-size binary
  VarBytes,  // variable-size binary
  Blob,      // binary object
  Graphic,   // binary object holding a picture
};

// The kind's name as messages write it: "String", "FixedChar", "WideString", "Memo", "SmallInt",
// "Word", "Integer", "LargeInt", "AutoInc", "Float", "BCD", "Boolean", "Date", "Time",
// "DateTime", "Guid", "Bytes", "VarBytes", "Blob", "Graphic", "Unknown".
std::string_view kindName(FieldKind kind) noexcept;

// Text, FixedText, WideText, Memo, Guid: kinds whose value is characters.
bool isTextKind(FieldKind kind) noexcept;
// SmallInt, Word, Integer, LargeInt, AutoInc.
bool isIntegerKind(FieldKind kind) noexcept;
// Date, Time, DateTime.
bool isDateTimeKind(FieldKind kind) noexcept;
// Bytes, VarBytes, Blob, Graphic.
bool isBinaryKind(FieldKind kind) noexcept;

// The size a declaration that gives none means: 20 for Text, FixedText and WideText, 38 for
// Guid, 0 (no size) for every other kind.
int defaultSize(FieldKind kind) noexcept;

// The range an integer kind accepts; nullopt for the kinds that have none.
struct IntegerRange {
  std::int64_t lowest;
  std::int64_t highest;
};
std::optional<IntegerRange> integerRange(FieldKind kind) noexcept;

// Whether a declared field of kind `declared` may be bound to a column of kind `actual`: equal
// kinds, or the same family (SmallInt/Integer/Word/AutoInc; Date/Time/DateTime; Memo and the
// binary objects Blob/Graphic; Text/FixedText/Guid). `storeExtras` adds what store sources also
// accept: Text/FixedText with WideText, and Float with Bcd.
bool kindsFit(FieldKind declared, FieldKind actual, bool storeExtras) noexcept;

// Names of fields and parameters compare without regard to letter case: ASCII letters and the
// accented letters of code page 1252 (é equals É, š equals Š). Names are code page 1252 bytes.
bool namesEqual(std::string_view a, std::string_view b) noexcept;
// A hash of a name that agrees with namesEqual: names that compare equal hash alike.
std::size_t nameHash(std::string_view name) noexcept;

// One value of the current row. A field belongs to a record source, which creates it (declared
// or derived at open) and keeps it at a fixed address for its own lifetime; a derived field
// lives only until the source is closed. A field built on its own (no owner) is a detached value
// holder: its assignments are not checked against any state.
//
// Null is a state, not a value: null reads as "", 0 or the zero date-time. A text of length zero
// is a text, never null (except in a Memo field, where assigning "" stores null).
//
// Reads never change the field. Assignments check, in order: the owner is in edit or insert,
// the field is not read-only, the value converts to the field's kind; each failure throws
// DataError and leaves the field exactly as it was. A successful assignment adds the field to
// the owner's modified set.
//
// Not copyable or movable: sources and engines hold fields by address.
class Field {
 public:
  // `size` nullopt means "not given": defaultSize(kind).
  Field(std::string name, FieldKind kind, std::optional<int> size = std::nullopt,
        bool readOnly = false);
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;
  Field(Field&&) = delete;
  Field& operator=(Field&&) = delete;
  ~Field();

  const std::string& name() const noexcept { return name_; }
  FieldKind kind() const noexcept { return kind_; }
  // For text kinds, the most characters the field holds; 0 for kinds without a size.
  int size() const noexcept { return size_; }
  bool readOnly() const noexcept { return readOnly_; }
  bool isNull() const noexcept { return null_; }
  // The record source this field belongs to; nullptr for a detached field.
  RecordSource* owner() const noexcept { return owner_; }
  // The 0-based column of the open result this field is bound to; -1 when not bound.
  int columnIndex() const noexcept { return columnIndex_; }

  // --- Reads -------------------------------------------------------------------------------

  // Text kinds: the characters as held, nothing trimmed (WideText converted to code page 1252,
  // '?' for what it cannot hold). Integer kinds: decimal digits, "-" when negative. Float and
  // Bcd: the float-to-text form (number_text.h). Boolean: "True" or "False". Date:
  // "YYYY-MM-DD"; Time: "HH:MM:SS"; DateTime: "YYYY-MM-DD HH:MM:SS" (".mmm" added when the
  // milliseconds are not zero). Binary kinds: the bytes as held. Null: "". Never throws except
  // std::bad_alloc.
  std::string asText() const {
    if (storage_ == Storage::Text && !null_) return text_;  // the walk's case, without a call
    return textOfOther();
  }

  // Float, Bcd, integer kinds: the number. Date kinds: the day count. Boolean: 1 or 0. Text and
  // binary kinds: the text read by parseFloat (number_text.h); text that is not a number, ""
  // included, throws DataError "'<text>' is not a valid floating point value". Null: 0.
  double asFloat() const {
    if (storage_ == Storage::Number && !null_) return float_;  // the walk's case, without a call
    return floatOfOther();
  }

  // Integer kinds: the value. Float and Bcd: rounded to the nearest whole number, halves to
  // the even neighbour. Date kinds: the whole days (fraction dropped). Boolean: 1 or 0. Text and
  // binary kinds: the text read by parseInteger; text that is not a whole number, "" included,
  // throws DataError "'<text>' is not a valid integer value" (so does a float too large for 64
  // bits, with its text). Null: 0.
  std::int64_t asInteger() const;

  // Date kinds: the value. Float, Bcd and integer kinds: the number as a day count. Text kinds:
  // "YYYY-MM-DD" optionally followed by " HH:MM", ":SS" and ".mmm" (what asText gives); any
  // other text throws DataError "'<text>' is not a valid date and time". Null: the zero
  // date-time.
  DateTime asDateTime() const;

  // Boolean: the value. Numbers: not zero. Text: "True"/"False" in any case (also "T", "F",
  // "Y", "N", "1", "0"); other text throws DataError "'<text>' is not a valid boolean value".
  // Null: false.
  bool asBoolean() const;

  // The value in its generic form: null, integer (integer kinds, Boolean as 1/0), float (Float,
  // Bcd), text (text and binary kinds), wide text (WideText) or date-time (date kinds).
  Value value() const;

  // The held bytes of a text or binary field without a copy; empty for null and other kinds.
  // Valid until the field changes.
  std::string_view textView() const noexcept;

  // The text asText() gives, without a copy for text kinds (and without allocating, once warm,
  // for the others): for a walk that reads every field of every record. The reference is valid
  // until the field changes or is read again through this function.
  const std::string& asTextRef() const {
    if (storage_ == Storage::Text && !null_) return text_;  // the walk's case, without a call
    return textRefOfOther();
  }

  // --- Assignments -------------------------------------------------------------------------
  // Each throws DataError: "<source>: Dataset not in edit or insert mode" when the owner is not
  // in edit or insert; "Field '<name>' cannot be modified" when the field is read-only; the
  // conversion failures named below. After a failure the field keeps its previous value.

  // Text / FixedText / Guid: a character of code 0 ends the text, then the first size characters
  // remain, the rest dropped without a message; "" stores "". WideText: converted from code page
  // 1252, then as assignWideText. Memo and binary kinds: the whole text; for Memo "" stores null.
  // Other kinds: as assignValue with this text.
  void assignText(std::string_view text);

  // WideText: a character of code 0 ends the text, then cut to size characters; "" stores "".
  // Other kinds: converted to code page 1252 ('?' for what it cannot hold), then as assignText.
  void assignWideText(std::u16string_view text);

  // Integer kinds: range-checked ("%g is not a valid value for field '%s'. The allowed range is
  // %g to %g"). Float: the same number. Bcd: the same number rounded to four decimal places.
  // Text kinds: its decimal digits, then the text rule. Date kinds: a day count. Boolean: not 0.
  void assignInteger(std::int64_t value);

  // Integer kinds: rounded halves-to-even, then range-checked as above. Float: unchanged. Bcd:
  // rounded to four decimal places, halves to even. Text kinds: the float-to-text form, then the
  // text rule. Date kinds: a day count. Boolean: not 0.
  void assignFloat(double value);

  // Date kinds: unchanged. Float, Bcd, integer kinds: the day count, then as assignFloat. Text
  // kinds: the text asText would give for a DateTime field, then the text rule.
  void assignDateTime(DateTime value);

  // Boolean: the value. Integer kinds, Float, Bcd: 1 or 0. Text kinds: "True" or "False".
  void assignBoolean(bool value);

  // Null sets the field to null. Otherwise the value is converted to the field's kind:
  //  - to text kinds: text unchanged, wide text from UTF-16, an integer as its digits, a float
  //    in the float-to-text form, a date-time as asText gives it; then the text rule;
  //  - to integer kinds: an integer unchanged; a float rounded halves-to-even; a text read as a
  //    number (parseInteger, else parseFloat rounded halves-to-even); then the range check;
  //  - to Float and Bcd: a number unchanged (Bcd rounded to four places), a text read by
  //    parseFloat;
  //  - to date kinds: a date-time unchanged, a number as the day count.
  // What cannot be converted (a text that is not a number, "" included, going to a number; a
  // text to a date kind that asDateTime would refuse) throws DataError
  // "Invalid value for field '<name>'". A range failure keeps its own message.
  void assignValue(const Value& value);

  // Sets the field to null (same checks as an assignment).
  void clear();

  // --- Engine hooks --------------------------------------------------------------------------
  // For the engine beneath a source, filling the current row. No state, read-only, modified-set
  // or size checks, no messages: the engine delivers what the row holds. Text is stored into
  // the field's existing buffer, so a walk does not allocate once the buffer has grown. A value
  // of another form than the field's kind is converted as an assignment would convert it; one
  // that cannot be represented (text that is not a number into a number kind) makes the field
  // null. Throw only std::bad_alloc.
  void setFetchedText(std::string_view bytes);
  void setFetchedWideText(std::u16string_view text);
  void setFetchedInteger(std::int64_t value);
  void setFetchedFloat(double value) {
    if (storage_ == Storage::Number) {
      float_ = value;
      null_ = false;
      return;
    }
    fetchOther(value);
  }
  void setFetchedDateTime(DateTime value) {
    if (storage_ == Storage::Date) {
      float_ = value.days;
      null_ = false;
      return;
    }
    fetchOther(value);
  }
  // Whether the field holds its value as 8-bit text (text kinds but WideText, binary kinds):
  // then an engine may use fetchTextInPlace.
  bool holdsText() const noexcept { return storage_ == Storage::Text; }
  // For a field that holdsText(): setFetchedText(bytes), then where the bytes are held, for the
  // engine to change some of them in place (a code page conversion) without another copy.
  // Valid until the field changes.
  char* fetchTextInPlace(std::string_view bytes) {
    text_.assign(bytes.data(), bytes.size());
    null_ = false;
    return text_.data();
  }
  void setFetchedBoolean(bool value);
  void setFetchedNull() noexcept { null_ = true; }
  void setFetchedValue(const Value& value);

  // Changes the read-only flag (engines, for columns that cannot be written).
  void setReadOnly(bool readOnly) noexcept { readOnly_ = readOnly; }

 private:
  friend class RecordSource;

  // Throws the state and read-only errors when the field may not be assigned now.
  void checkCanAssign() const;
  // The common path of every assignment: checks, converts, stores, joins the modified set.
  void assignInput(const FieldInput& in);
  // Converts to the field's kind and stores; false (field unchanged) when it cannot convert.
  // It dispatches on the storage to one converter each.
  bool storeInput(const FieldInput& in, bool assigning);
  bool storeText(const FieldInput& in, bool assigning);
  bool storeWide(const FieldInput& in, bool assigning);
  bool storeInteger(const FieldInput& in, bool assigning);
  // Stores a converted value through `keep`; false when there is none.
  template <typename T, typename Keep>
  bool storeHeld(const std::optional<T>& converted, Keep keep);

  std::string name_;
  FieldKind kind_;
  int size_;
  bool readOnly_;
  bool declaredReadOnly_;  // the flag as declared; binding may add the column's own
  bool null_ = true;
  bool modified_ = false;  // in the owner's modified set
  RecordSource* owner_ = nullptr;
  int columnIndex_ = -1;

  // How the value is held, decided once from the kind: Text for text and binary kinds (and
  // Unknown), Wide for WideText, Integer for integer kinds, Boolean, Number for Float and Bcd,
  // Date for date kinds.
  enum class Storage : std::uint8_t { Text, Wide, Integer, Boolean, Number, Date };
  static Storage storageOf(FieldKind kind) noexcept;
  Storage storage_;

  // The reads and engine hooks beyond their inline cases.
  double floatOfOther() const;
  const std::string& textRefOfOther() const;
  std::string textOfOther() const;
  void fetchOther(double value);
  void fetchOther(DateTime value);

  // The value, in the storage its kind uses: text_ for text and binary kinds, wide_ for
  // WideText, integer_ for integer kinds and Boolean, float_ for Float, Bcd and date kinds.
  std::string text_;
  mutable std::string scratch_;  // asTextRef's text for the kinds not held as text
  std::u16string wide_;
  std::int64_t integer_ = 0;
  double float_ = 0.0;
};

}  // namespace importacao
