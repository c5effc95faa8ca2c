// What a field of a legacy record holds: the one place that looks at a field's raw bytes and
// decides, per type, what is blank and so null. Pure functions; nothing here allocates except
// decodeField's scratch text, which grows once and is then reused.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "data/dbf/dbf_table.h"
#include "data/value.h"

namespace importacao {

// A character field's bytes as text: a NUL ends it (as it ends any text of ours), trailing
// blanks are removed, leading blanks kept. `ascii`, when given, is set to whether every byte of
// the result is below 0x80.
std::string_view trimCharacter(std::string_view raw, bool* ascii = nullptr) noexcept;

// Converts `text` byte by byte through `toAnsi` into out[0, text.size()). Every code page we read
// keeps ASCII (bytes below 0x80) as it is.
void convertTo1252(std::string_view text, const std::array<char, 256>& toAnsi, char* out) noexcept;

// A numeric (N, F) field: blanks and NULs around a decimal number (optional sign, digits with at
// most one '.', an optional exponent). Blank, a '*' overflow, a ',' decimal or anything else that
// is not such a number: nullopt. Never reads the C locale.
std::optional<double> parseDbfNumber(std::string_view raw) noexcept;

// A date (D) field: YYYYMMDD, trailing blanks allowed, as days since 30 December 1899. Blank,
// "00000000" and dates that do not exist (20231345, year 0): nullopt.
std::optional<DateTime> parseDbfDate(std::string_view raw) noexcept;

// The date-time of a calendar day; nullopt when the day does not exist.
std::optional<DateTime> dateTimeOfDay(int year, int month, int day) noexcept;

// The calendar day of a date-time (its whole days), as "YYYY-MM-DD" text.
std::string dayText(DateTime value);

// A logical (L) field: T, t, Y, y true; F, f, N, n false; '?', blank and anything else nullopt.
std::optional<bool> parseDbfLogical(std::string_view raw) noexcept;

// The binary types: nullopt for blank (all NUL or all blank) or impossible values.
std::optional<std::int64_t> readVfpInteger(std::span<const std::byte> raw) noexcept;
std::optional<std::int64_t> readDbase7Integer(std::span<const std::byte> raw) noexcept;
std::optional<double> readVfpCurrency(std::span<const std::byte> raw) noexcept;
std::optional<double> readVfpDouble(std::span<const std::byte> raw) noexcept;
std::optional<double> readDbase7Double(std::span<const std::byte> raw) noexcept;
std::optional<DateTime> readVfpDateTime(std::span<const std::byte> raw) noexcept;
std::optional<DateTime> readDbase7Timestamp(std::span<const std::byte> raw) noexcept;

// Decodes one field of one record into a sink with the members
//   void null(); void text(std::string_view ansi); void number(double);
//   void integer(std::int64_t); void date(DateTime); void dateTime(DateTime); void logical(bool);
// Character text arrives trimmed and converted to code page 1252, in `scratch`'s storage; a
// character field that trims to nothing is null, like a blank number or date.
template <class Sink>
void decodeField(const DbfTable& table, const DbfField& field, std::span<const std::byte> record,
                 std::string& scratch, Sink& sink) {
  const auto raw = record.subspan(static_cast<std::size_t>(field.offset),
                                  static_cast<std::size_t>(field.length));
  const std::string_view chars(reinterpret_cast<const char*>(raw.data()), raw.size());
  // Visual FoxPro's null flag, believed when the field holds only blanks or NULs (as Visual
  // FoxPro leaves a null field). Some other writers fill _NullFlags with a blank, which sets a
  // bit: their data, when there is some, wins over it.
  if (table.nullFlagSet(field, record) &&
      chars.find_first_not_of(std::string_view(" \0", 2)) == std::string_view::npos) {
    return sink.null();
  }
  auto either = [&sink](const auto& value, auto deliver) {
    if (value) deliver(*value);
    else sink.null();
  };
  switch (field.reading) {
    case DbfReading::Character: {
      std::string_view text = chars;
      // A varchar shorter than its field keeps its length in the field's last byte.
      if (field.lengthBit >= 0 && !text.empty() && table.flagBit(record, field.lengthBit)) {
        const auto used = static_cast<unsigned char>(text.back());
        text = text.substr(0, std::min<std::size_t>(used, text.size() - 1));
      }
      bool ascii = false;
      text = trimCharacter(text, &ascii);
      if (text.empty()) return sink.null();  // a blank character field is null, as every blank
      // Every code page we read keeps ASCII as it is: such text needs no conversion.
      if (ascii || table.codePage() == 1252) return sink.text(text);
      scratch.resize(text.size());
      convertTo1252(text, table.toAnsi(), scratch.data());
      return sink.text(std::string_view(scratch.data(), text.size()));
    }
    case DbfReading::Number:
      return either(parseDbfNumber(chars), [&](double v) { sink.number(v); });
    case DbfReading::Date:
      return either(parseDbfDate(chars), [&](DateTime v) { sink.date(v); });
    case DbfReading::Logical:
      return either(parseDbfLogical(chars), [&](bool v) { sink.logical(v); });
    case DbfReading::Integer:
      return either(readVfpInteger(raw), [&](std::int64_t v) { sink.integer(v); });
    case DbfReading::Integer7:
      return either(readDbase7Integer(raw), [&](std::int64_t v) { sink.integer(v); });
    case DbfReading::Currency:
      return either(readVfpCurrency(raw), [&](double v) { sink.number(v); });
    case DbfReading::Double:
      return either(readVfpDouble(raw), [&](double v) { sink.number(v); });
    case DbfReading::Double7:
      return either(readDbase7Double(raw), [&](double v) { sink.number(v); });
    case DbfReading::DateTime:
      return either(readVfpDateTime(raw), [&](DateTime v) { sink.dateTime(v); });
    case DbfReading::Timestamp7:
      return either(readDbase7Timestamp(raw), [&](DateTime v) { sink.dateTime(v); });
    case DbfReading::NotRead:
      return sink.null();
  }
  sink.null();
}

}  // namespace importacao
