#include "data/record/parameter.h"

#include <limits>
#include <variant>

#include "data/errors.h"
#include "data/record/number_text.h"
#include "normalise/codepage.h"

namespace importacao {
namespace {

bool sizeGrows(FieldKind type) noexcept {
  return type == FieldKind::Unknown || type == FieldKind::Text || type == FieldKind::FixedText ||
         type == FieldKind::WideText || type == FieldKind::Memo || isBinaryKind(type);
}

FieldKind typeOfValue(const Value& value) noexcept {
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    const bool fits32 = *i >= std::numeric_limits<std::int32_t>::min() &&
                        *i <= std::numeric_limits<std::int32_t>::max();
    return fits32 ? FieldKind::Integer : FieldKind::LargeInt;
  }
  if (std::holds_alternative<double>(value)) return FieldKind::Float;
  if (std::holds_alternative<std::string>(value)) return FieldKind::Text;
  if (std::holds_alternative<WideText>(value)) return FieldKind::WideText;
  if (std::holds_alternative<DateTime>(value)) return FieldKind::DateTime;
  return FieldKind::Unknown;
}

// The length a value counts for the size rule: characters of a text, 16 for anything else.
long long valueLength(const Value& value) noexcept {
  if (const auto* text = std::get_if<std::string>(&value)) {
    return static_cast<long long>(text->size());
  }
  if (const auto* wide = std::get_if<WideText>(&value)) {
    return static_cast<long long>(wide->size());
  }
  return 16;
}

}  // namespace

Parameter::Parameter(std::string name, FieldKind type, int size, int precision, int scale,
                     ParameterDirection direction, ParameterAttributes attributes)
    : name_(std::move(name)),
      type_(type),
      size_(size),
      precision_(precision),
      scale_(scale),
      direction_(direction),
      attributes_(attributes) {}

void Parameter::setValue(const Value& value) {
  if (importacao::isNull(value)) {
    value_ = std::monostate{};
    return;
  }
  if (type_ == FieldKind::Unknown) type_ = typeOfValue(value);
  if (sizeGrows(type_)) {
    const long long length = valueLength(value);
    if (length > size_) {
      size_ = length > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                       : static_cast<int>(length);
    }
  }
  value_ = value;
}

Value parameterValueForStore(const Parameter& parameter) {
  const Value& value = parameter.value();
  const FieldKind type = parameter.type();
  if (importacao::isNull(value) || type == FieldKind::Unknown || isBinaryKind(type)) return value;

  // Conversion goes through a detached field of the declared type, whose rules are the ones a
  // value meets everywhere else; only the text kinds differ: a parameter's text is never cut.
  if (isTextKind(type)) {
    Field text("", type == FieldKind::WideText ? FieldKind::WideText : FieldKind::Memo, 0);
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (type != FieldKind::WideText) return *s;  // as given, NUL and all
    }
    if (const auto* w = std::get_if<WideText>(&value)) {
      if (type == FieldKind::WideText) return *w;
      return utf16ToCp1252(*w);
    }
    text.assignValue(value);
    if (type == FieldKind::WideText) return text.value();
    return text.asText();
  }
  FieldKind kind = type;
  if (kind == FieldKind::AutoInc || kind == FieldKind::SmallInt || kind == FieldKind::Word ||
      kind == FieldKind::Integer) {
    kind = FieldKind::LargeInt;  // the store checks the range of its own column
  }
  Field converted(parameter.name(), kind);
  try {
    converted.assignValue(value);
  } catch (const DataError&) {
    throw DataError("Invalid value for parameter '" + parameter.name() + "'");
  }
  return converted.value();
}

ParameterList::ParameterList(std::string ownerName) : ownerName_(std::move(ownerName)) {}

Parameter& ParameterList::add(Parameter parameter) {
  parameters_.push_back(std::move(parameter));
  return parameters_.back();
}

Parameter* ParameterList::find(std::string_view name) noexcept {
  for (Parameter& parameter : parameters_) {
    if (namesEqual(parameter.name(), name)) return &parameter;
  }
  return nullptr;
}

const Parameter* ParameterList::find(std::string_view name) const noexcept {
  return const_cast<ParameterList*>(this)->find(name);
}

Parameter& ParameterList::byName(std::string_view name) {
  if (Parameter* parameter = find(name)) return *parameter;
  const std::string message = "Parameter '" + std::string(name) + "' not found";
  throw DataError(ownerName_.empty() ? message : ownerName_ + ": " + message);
}

const Parameter& ParameterList::byName(std::string_view name) const {
  return const_cast<ParameterList*>(this)->byName(name);
}

Parameter& ParameterList::at(long long index) {
  if (index < 0 || index >= static_cast<long long>(parameters_.size())) {
    throw DataError("List index out of bounds (" + integerToText(index) + ")");
  }
  return parameters_[static_cast<std::size_t>(index)];
}

const Parameter& ParameterList::at(long long index) const {
  return const_cast<ParameterList*>(this)->at(index);
}

}  // namespace importacao
