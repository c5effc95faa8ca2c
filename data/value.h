// The generic value that moves between legacy records, fields, parameters and the store.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace importacao {

// A date or date-time: days counted from 30 December 1899 (day 0), the fraction being the
// time of day. The zero date-time (day 0, 00:00) is what an empty date reads as.
struct DateTime {
  double days = 0.0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Text is single-byte code page 1252; wide text is UTF-16.
using WideText = std::u16string;

// null | integer (any width) | float | text (cp1252 bytes) | wide text | date-time.
// A text of length zero is a text, never null.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, WideText, DateTime>;

inline bool isNull(const Value& value) noexcept {
  return std::holds_alternative<std::monostate>(value);
}

}  // namespace importacao
