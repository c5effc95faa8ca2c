// What a field of a legacy record holds: the one place that looks at a field's raw bytes and
// decides, per type, what is blank and so null. Pure functions; nothing here allocates except
// decodeField's scratch text, which grows once and is then reused.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "data/dbf/dbf_table.h"
#include "data/value.h"

namespace importacao {

namespace dbf_detail {

constexpr std::uint64_t kBlanks = 0x2020202020202020ULL;
constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline std::uint64_t word(const char* at) noexcept {
  std::uint64_t w;
  std::memcpy(&w, at, 8);
  return w;
}

inline bool hasZeroByte(std::uint64_t w) noexcept { return ((w - kLowBits) & ~w & kHighBits) != 0; }

inline bool isPadding(char c) noexcept { return c == ' ' || c == '\0'; }

// What may follow a number in its field: blanks, NULs and the other control bytes (0x00-0x1F),
// which some writers leave after the digits.
inline bool isTrailingPadding(char c) noexcept { return static_cast<unsigned char>(c) <= ' '; }

// The length of p[0, n) without its trailing blanks: eight bytes at a time, and in the last
// word that is not all blanks the position of its last other byte, found without a loop.
inline std::size_t withoutTrailingBlanks(const char* p, std::size_t n) noexcept {
  while (n >= 8) {
    const std::uint64_t others = word(p + n - 8) ^ kBlanks;  // zero bytes where there are blanks
    if (others != 0)
      return n - 8 + static_cast<std::size_t>((63 - std::countl_zero(others)) / 8) + 1;
    n -= 8;
  }
  while (n > 0 && p[n - 1] == ' ') --n;
  return n;
}

// The number of a numeric field whose text is not a plain decimal of at most 18 digits (an
// exponent, more digits): from_chars on a shape checked first. `text` comes without its sign.
std::optional<double> generalNumber(std::string_view text, bool negative) noexcept;

}  // namespace dbf_detail

// A character field's bytes as text: a NUL ends it (as it ends any text of ours), trailing
// blanks are removed, leading blanks kept. `ascii`, when given, is set to whether every byte of
// the result is below 0x80.
inline std::string_view trimCharacter(std::string_view raw, bool* ascii = nullptr) noexcept {
  using namespace dbf_detail;
  // Fields are padded with blanks: those go first, eight at a time. Then one pass over what is
  // left looks for a NUL (which ends the text) and for bytes above 0x7F.
  const char* p = raw.data();
  std::size_t n = withoutTrailingBlanks(p, raw.size());
  std::uint64_t high = 0;
  std::size_t i = 0;
  auto cutAtNul = [&](std::size_t from) {
    std::size_t nul = from;
    while (p[nul] != '\0') ++nul;
    n = withoutTrailingBlanks(p, nul);
    high = 0;
    for (std::size_t k = 0; k < n; ++k) high |= static_cast<unsigned char>(p[k]);
  };
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t w = word(p + i);
    if (hasZeroByte(w)) {
      cutAtNul(i);
      i = n;
      break;
    }
    high |= w;
  }
  if (i < n) {
    if (n >= 8) {  // the last word overlaps the one before: nothing before it holds a NUL
      const std::uint64_t w = word(p + n - 8);
      if (hasZeroByte(w))
        cutAtNul(n - 8);
      else
        high |= w;
    } else {
      for (; i < n; ++i) {
        if (p[i] == '\0') {
          cutAtNul(i);
          break;
        }
        high |= static_cast<unsigned char>(p[i]);
      }
    }
  }
  if (ascii != nullptr) *ascii = (high & kHighBits) == 0;
  return raw.substr(0, n);
}

// trimCharacter for a field inside a record that record() gave: the same text, found with a
// fixed number of steps per field width (16 bytes at a time, none of them depending on the text,
// for fields of up to 64 bytes), so that a walk does not stall on where each text ends. Reads up
// to 15 of the bytes that follow the field, which kRecordSlack guarantees. `highBytes` is set to
// the bytes of the text above 0x7F, bit i for byte i; for a field longer than 64 bytes it is 0
// when there is none and all ones otherwise.
inline std::string_view trimCharacterInRecord(const char* p, std::size_t length,
                                              std::uint64_t& highBytes) noexcept {
#if defined(__SSE2__)
  if (length <= 64) {
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t blanks = 0, nuls = 0, high = 0;
    for (std::size_t at = 0; at < length; at += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      blanks |=
          std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blank)))}
          << at;
      nuls |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))}
              << at;
      high |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(v))} << at;
    }
    // Bit i stands for byte i of the field; the bits past its end are dropped.
    const std::uint64_t inField =
        length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
    std::uint64_t text = ~blanks & inField;
    nuls &= inField;
    if (nuls != 0) text &= (nuls & (~nuls + 1)) - 1;  // the first NUL ends the text
    const auto n = static_cast<std::size_t>(64 - std::countl_zero(text));
    highBytes = high & (n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1);
    return {p, n};
  }
#endif
  bool ascii = false;
  const std::string_view text = trimCharacter(std::string_view(p, length), &ascii);
  highBytes = ascii ? 0 : ~std::uint64_t{0};
  return text;
}

// A numeric (N, F) field: blanks and NULs before a decimal number (optional sign, digits with at
// most one '.', an optional exponent), blanks, NULs or other control bytes after it. Blank, a '*'
// overflow, a ',' decimal or anything else that is not such a number: nullopt. Never reads the C
// locale.
inline std::optional<double> parseDbfNumber(std::string_view raw) noexcept {
  using namespace dbf_detail;
  // Numbers are right-aligned: skip the blanks before them eight at a time.
  while (raw.size() >= 8) {
    const std::uint64_t others = word(raw.data()) ^ kBlanks;
    if (others != 0) {
      raw.remove_prefix(static_cast<std::size_t>(std::countr_zero(others) / 8));
      break;
    }
    raw.remove_prefix(8);
  }
  while (!raw.empty() && isPadding(raw.front())) raw.remove_prefix(1);
  while (!raw.empty() && isTrailingPadding(raw.back())) raw.remove_suffix(1);
  if (raw.empty()) return std::nullopt;

  bool negative = false;
  if (raw.front() == '-' || raw.front() == '+') {
    negative = raw.front() == '-';
    raw.remove_prefix(1);
  }
  // What numeric fields nearly always hold: a whole number of at most 2^53 over a power of ten,
  // both exact in a double, so one division gives the correctly rounded value.
  if (raw.empty() || raw.size() > 19) return generalNumber(raw, negative);
  std::uint64_t digits = 0;
  std::size_t point = raw.size();  // where the '.' is; none: the end
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto digit = static_cast<unsigned>(static_cast<unsigned char>(raw[i]) - '0');
    if (digit < 10) {
      digits = digits * 10 + digit;
    } else if (raw[i] == '.' && point == raw.size()) {
      point = i;
    } else {
      return generalNumber(raw, negative);
    }
  }
  const bool hasPoint = point < raw.size();
  const std::size_t count = raw.size() - (hasPoint ? 1 : 0);
  if (count == 0 || count > 18 || digits >= (1ULL << 53)) return generalNumber(raw, negative);
  const double value =
      static_cast<double>(digits) / kPowersOfTen[hasPoint ? raw.size() - point - 1 : 0];
  return negative ? -value + 0.0 : value;  // + 0.0: "-0.00" is zero, not minus zero
}

// Whether a numeric field holds no number at all: nothing but blanks, NULs and other control
// bytes. A field that is not blank and that parseDbfNumber cannot read is a value lost.
inline bool isBlankNumber(std::string_view raw) noexcept {
  return std::all_of(raw.begin(), raw.end(), dbf_detail::isTrailingPadding);
}

// parseDbfNumber for a field inside a record that record() gave, the same answer: a field of at
// most 16 bytes holding the usual shape (blanks, an optional sign, digits with at most one '.',
// at most 15 digits, blanks) is read from masks of its bytes, without a search for where the
// number begins and ends; anything else goes to parseDbfNumber. Reads up to 15 of the bytes that
// follow the field, which kRecordSlack guarantees. Sets `value` and returns true for a number;
// returns false (null) otherwise. (No optional here: its return through memory costs the walk
// a stall per field.)
namespace dbf_detail {
// parseDbfNumberInRecord and isDbfNumberInRecord: `kRead` false leaves the digits unread.
template <bool kRead>
inline bool numberInRecord(const char* p, std::size_t length, double& value) noexcept {
#if defined(__SSE2__)
  if (length <= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const auto mask = [](__m128i m) { return static_cast<std::uint32_t>(_mm_movemask_epi8(m)); };
    const std::uint32_t inField = (std::uint32_t{1} << length) - 1;
    const std::uint32_t padding = mask(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                                                    _mm_cmpeq_epi8(v, _mm_setzero_si128())));
    const std::uint32_t digits =
        mask(_mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset)) & inField;
    const std::uint32_t point = mask(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))) & inField;
    const std::uint32_t used = ~padding & inField;
    if (used == 0) return false;
    const int first = std::countr_zero(used);
    const int last = 31 - std::countl_zero(used);
    const std::uint32_t span = (std::uint32_t{2} << last) - (std::uint32_t{1} << first);
    const bool negative = p[first] == '-';
    const std::uint32_t sign = (negative || p[first] == '+') ? std::uint32_t{1} << first : 0;
    if (used == span && (digits | point | sign) == span && (point & (point - 1)) == 0 &&
        digits != 0 && digits != 0xFFFF) {  // 16 digits: not exact in every case
      if constexpr (!kRead) return true;
      std::uint64_t whole = 0;
      for (int i = first; i <= last; ++i) {
        const auto digit = static_cast<std::uint64_t>(static_cast<unsigned char>(p[i]) - '0');
        whole = (digits >> i & 1) != 0 ? whole * 10 + digit : whole;
      }
      // At most 15 digits: the whole number and the power of ten are exact in a double, and one
      // division gives the correctly rounded value.
      const int decimals = point != 0 ? last - std::countr_zero(point) : 0;
      const double number = static_cast<double>(whole) / dbf_detail::kPowersOfTen[decimals];
      value = negative ? -number + 0.0 : number;  // + 0.0: "-0.00" is zero, not minus zero
      return true;
    }
  }
#endif
  const auto number = parseDbfNumber(std::string_view(p, length));
  if (number) value = *number;
  return number.has_value();
}
}  // namespace dbf_detail

inline bool parseDbfNumberInRecord(const char* p, std::size_t length, double& value) noexcept {
  return dbf_detail::numberInRecord<true>(p, length, value);
}

// Whether parseDbfNumberInRecord reads a number there, found without reading it.
inline bool isDbfNumberInRecord(const char* p, std::size_t length) noexcept {
  double ignored = 0;
  return dbf_detail::numberInRecord<false>(p, length, ignored);
}

// Converts `text` byte by byte through `toAnsi` into out[0, text.size()). Every code page we read
// keeps ASCII (bytes below 0x80) as it is.
void convertTo1252(std::string_view text, const std::array<char, 256>& toAnsi, char* out) noexcept;

// A date (D) field: YYYYMMDD, trailing blanks allowed, as days since 30 December 1899. Blank,
// "00000000" and dates that do not exist (20231345, year 0): nullopt.
std::optional<DateTime> parseDbfDate(std::string_view raw) noexcept;

// Whether a date field holds no date at all: nothing but blanks, NULs and zeros (some writers
// leave an empty date as "00000000").
inline bool isBlankDate(std::string_view raw) noexcept {
  return std::all_of(raw.begin(), raw.end(),
                     [](char c) { return c == ' ' || c == '\0' || c == '0'; });
}

// The date-time of a calendar day; nullopt when the day does not exist.
inline std::optional<DateTime> dateTimeOfDay(int year, int month, int day) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
  // Days from 1 March of year 0 (the leap day last in its year), then moved to 30 December 1899.
  const int y = year - (month <= 2 ? 1 : 0);
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long days = 365L * y + y / 4 - y / 100 + y / 400 + dayOfYear;
  constexpr long kDayZeroFromMarchOfYear0 = 693899;  // 30 December 1899 in the same count
  return DateTime{static_cast<double>(days - kDayZeroFromMarchOfYear0)};
}

// parseDbfDate for a field inside a record, the same answer: eight digits are checked and read
// as one word; anything else goes to parseDbfDate. Sets `value` and returns true for a date;
// returns false (null) otherwise.
inline bool parseDbfDateInRecord(const char* p, std::size_t length, DateTime& value) noexcept {
  if (length == 8) {
    const std::uint64_t w = dbf_detail::word(p);
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL, kZeros = 0x3030303030303030ULL;
    // Each byte 0x30-0x39: its high half is 3, and adding 6 does not carry out of it.
    if ((w & kHigh) == kZeros && ((w + 0x0606060606060606ULL) & kHigh) == kZeros) {
      const std::uint64_t d = w - kZeros;  // byte i: the value of digit i
      const auto at = [d](int i) { return static_cast<int>((d >> (8 * i)) & 0xFF); };
      const auto day = dateTimeOfDay(at(0) * 1000 + at(1) * 100 + at(2) * 10 + at(3),
                                     at(4) * 10 + at(5), at(6) * 10 + at(7));
      if (day) value = *day;
      return day.has_value();
    }
  }
  const auto day = parseDbfDate(std::string_view(p, length));
  if (day) value = *day;
  return day.has_value();
}

// The calendar day of a date-time (its whole days), as "YYYY-MM-DD" text ("0000-00-00" outside
// the years 0 to 9999); putDayText writes its 10 characters at `out`.
std::string dayText(DateTime value);
void putDayText(DateTime value, char* out) noexcept;

// A date-time as "YYYY-MM-DDTHH:MM:SS", with ".mmm" when it has milliseconds (rounded to them).
std::string dateTimeText(DateTime value);

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
    if (value)
      deliver(*value);
    else
      sink.null();
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
    case DbfReading::Date: return either(parseDbfDate(chars), [&](DateTime v) { sink.date(v); });
    case DbfReading::Logical:
      return either(parseDbfLogical(chars), [&](bool v) { sink.logical(v); });
    case DbfReading::Integer:
      return either(readVfpInteger(raw), [&](std::int64_t v) { sink.integer(v); });
    case DbfReading::Integer7:
      return either(readDbase7Integer(raw), [&](std::int64_t v) { sink.integer(v); });
    case DbfReading::Currency:
      return either(readVfpCurrency(raw), [&](double v) { sink.number(v); });
    case DbfReading::Double: return either(readVfpDouble(raw), [&](double v) { sink.number(v); });
    case DbfReading::Double7:
      return either(readDbase7Double(raw), [&](double v) { sink.number(v); });
    case DbfReading::DateTime:
      return either(readVfpDateTime(raw), [&](DateTime v) { sink.dateTime(v); });
    case DbfReading::Timestamp7:
      return either(readDbase7Timestamp(raw), [&](DateTime v) { sink.dateTime(v); });
    case DbfReading::NotRead: return sink.null();
  }
  sink.null();
}

}  // namespace importacao
