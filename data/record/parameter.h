// Parameters: the named, typed slots of a store statement, and the list a statement keeps them in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "data/record/field.h"
#include "data/value.h"

namespace importacao {

enum class ParameterDirection { Input, Output, InputOutput, ReturnValue };

struct ParameterAttributes {
  bool isSigned = false;
  bool nullable = false;
  friend bool operator==(const ParameterAttributes&, const ParameterAttributes&) = default;
};

// One parameter: name, declared type (FieldKind::Unknown when declared without one), size,
// precision and scale, direction, attributes, and a generic value that starts null.
// Copyable and movable (a plain value).
class Parameter {
 public:
  Parameter(std::string name, FieldKind type, int size = 0, int precision = 0, int scale = 0,
            ParameterDirection direction = ParameterDirection::Input,
            ParameterAttributes attributes = {});

  const std::string& name() const noexcept { return name_; }
  FieldKind type() const noexcept { return type_; }
  int size() const noexcept { return size_; }
  int precision() const noexcept { return precision_; }
  int scale() const noexcept { return scale_; }
  ParameterDirection direction() const noexcept { return direction_; }
  const ParameterAttributes& attributes() const noexcept { return attributes_; }
  const Value& value() const noexcept { return value_; }
  bool isNull() const noexcept { return importacao::isNull(value_); }

  // Null makes the parameter null. Any other value is held unchanged, in its own form; the
  // declared type stays. A parameter of type Unknown first takes the type of the value (an
  // integer: Integer when it fits 32 bits, else LargeInt; float: Float; text: Text; wide text:
  // WideText; date-time: DateTime). Then, for a text-like or binary type or one still Unknown,
  // the size grows to the value's length when the value is longer (text: bytes; wide text:
  // characters; any other value counts 16): a parameter value is never cut. Never throws.
  void setValue(const Value& value);
  void clear() noexcept { value_ = std::monostate{}; }

  // For engines that read a value back (the procedure's return value, output parameters).
  // Stored as given: no type adoption, no size growth.
  void setReturnedValue(Value value) { value_ = std::move(value); }

 private:
  std::string name_;
  FieldKind type_;
  int size_;
  int precision_;
  int scale_;
  ParameterDirection direction_;
  ParameterAttributes attributes_;
  Value value_;
};

// The value of `parameter` converted to its declared type, as the statement receives it. Null
// stays null. Text-like types (Text, FixedText, Memo, Guid): a text unchanged, wide text to code
// page 1252, an integer as its digits, a float in the float-to-text form, a date-time as a
// DateTime field's asText; WideText: the same, as UTF-16; text is never cut. Integer kinds: an
// integer unchanged, a float rounded halves-to-even, a text read as a number. Float and Bcd: a
// number unchanged, a text read by parseFloat. Date kinds: a date-time unchanged, a number as a
// day count. Boolean: an integer 1 or 0. Unknown and binary types: the value unchanged.
// Throws DataError "Invalid value for parameter '<name>'" when the value cannot be converted
// (a text that is not a number going to a number type).
Value parameterValueForStore(const Parameter& parameter);

// The ordered parameters of one statement. The owner's name prefixes the lookup failure.
// Copyable and movable; references returned stay valid until the list is changed.
class ParameterList {
 public:
  explicit ParameterList(std::string ownerName = {});

  const std::string& ownerName() const noexcept { return ownerName_; }
  void setOwnerName(std::string name) { ownerName_ = std::move(name); }

  // Adds at the end; returns the stored parameter.
  Parameter& add(Parameter parameter);
  void clear() noexcept { parameters_.clear(); }

  std::size_t size() const noexcept { return parameters_.size(); }
  bool empty() const noexcept { return parameters_.empty(); }

  // The first parameter, in declaration order, whose name equals `name` without regard to
  // case (namesEqual). Throws DataError "<owner>: Parameter '<name>' not found", the name as
  // asked.
  Parameter& byName(std::string_view name);
  const Parameter& byName(std::string_view name) const;
  // As byName, nullptr when there is none.
  Parameter* find(std::string_view name) noexcept;
  const Parameter* find(std::string_view name) const noexcept;

  // The parameter at a 0-based position. Throws DataError "List index out of bounds (<n>)"
  // (no prefix) for a position outside the list.
  Parameter& at(long long index);
  const Parameter& at(long long index) const;

  std::vector<Parameter>::iterator begin() noexcept { return parameters_.begin(); }
  std::vector<Parameter>::iterator end() noexcept { return parameters_.end(); }
  std::vector<Parameter>::const_iterator begin() const noexcept { return parameters_.begin(); }
  std::vector<Parameter>::const_iterator end() const noexcept { return parameters_.end(); }

 private:
  std::string ownerName_;
  std::vector<Parameter> parameters_;
};

}  // namespace importacao
