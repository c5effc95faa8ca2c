#include "data/dbf/dbf_decode.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace importacao {
namespace {

bool isPadding(char c) { return c == ' ' || c == '\0'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::uint64_t readLittle(std::span<const std::byte> raw, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = value << 8 | std::to_integer<std::uint64_t>(raw[i]);
  return value;
}

std::uint64_t readBig(std::span<const std::byte> raw, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = value << 8 | std::to_integer<std::uint64_t>(raw[i]);
  return value;
}

// A binary field that was never written holds NULs (or blanks, from writers that blank a new
// record).
bool isBlank(std::span<const std::byte> raw) {
  bool zeros = true, blanks = true;
  for (std::byte b : raw) {
    zeros = zeros && b == std::byte{0};
    blanks = blanks && b == std::byte{' '};
  }
  return zeros || blanks;
}

constexpr std::int64_t kJulianDayOfDayZero = 2415019;  // Julian day number of 30 December 1899
constexpr double kMillisecondsPerDay = 86400000.0;
constexpr double kDayZeroFromYearOne = 693594.0;  // day zero when 1 January of year 1 is day 1

}  // namespace

void convertTo1252(std::string_view text, const std::array<char, 256>& toAnsi, char* out) noexcept {
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const char* table = toAnsi.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
  // Legacy text is mostly ASCII, which every code page keeps: whole words of it are copied.
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t w = dbf_detail::word(text.data() + i);
    if ((w & dbf_detail::kHighBits) == 0) {
      std::memcpy(out + i, &w, 8);
    } else {
      for (std::size_t k = i; k < i + 8; ++k) out[k] = table[in[k]];
    }
  }
  for (; i < n; ++i) out[i] = table[in[i]];
}

std::optional<double> dbf_detail::generalNumber(std::string_view raw, bool negative) noexcept {
  // The shape is checked here, so from_chars never sees "inf", "nan", hex or a second sign.
  std::size_t i = 0, digits = 0;
  while (i < raw.size() && isDigit(raw[i])) ++i, ++digits;
  if (i < raw.size() && raw[i] == '.') {
    ++i;
    while (i < raw.size() && isDigit(raw[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < raw.size() && (raw[i] == 'e' || raw[i] == 'E')) {
    ++i;
    if (i < raw.size() && (raw[i] == '+' || raw[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < raw.size() && isDigit(raw[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return std::nullopt;
  }
  if (i != raw.size()) return std::nullopt;

  double value = 0.0;
  const char* begin = raw.data();
  const auto [end, error] =
      std::from_chars(begin, begin + raw.size(), value, std::chars_format::general);
  if (error != std::errc{} || end != begin + raw.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return negative ? -value + 0.0 : value;  // + 0.0: "-0.00" is zero, not minus zero
}

void putDayText(DateTime value, char* out) noexcept {
  // Days since 1 March of year 0 in 400-year eras (the civil calendar's own cycle), as
  // std::chrono counts them, without its call overhead in a dump's inner loop.
  constexpr long kDayZeroFromEpoch = -25569;  // 30 December 1899, counted from 1 January 1970
  const long z = static_cast<long>(std::floor(value.days)) + kDayZeroFromEpoch + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long dayOfEra = z - era * 146097;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long shifted = (5 * dayOfYear + 2) / 153;  // months from March
  const long day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const long month = shifted < 10 ? shifted + 3 : shifted - 9;
  const long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  if (year < 0 || year > 9999) {
    std::memcpy(out, "0000-00-00", 10);
    return;
  }
  auto put = [out](std::size_t at, long v, int width) {
    for (int i = width - 1; i >= 0; --i, v /= 10)
      out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + v % 10);
  };
  put(0, year, 4);
  out[4] = '-';
  put(5, month, 2);
  out[7] = '-';
  put(8, day, 2);
}

std::string dayText(DateTime value) {
  std::string text(10, '0');
  putDayText(value, text.data());
  return text;
}

std::string dateTimeText(DateTime value) {
  const double whole = std::floor(value.days);
  auto millis = static_cast<long long>(std::llround((value.days - whole) * 86400000.0));
  DateTime day{whole};
  if (millis >= 86400000) {  // rounding reached midnight
    millis -= 86400000;
    day.days += 1;
  }
  std::string text = dayText(day);
  char clock[40];
  const auto seconds = millis / 1000;
  std::snprintf(clock, sizeof clock, "T%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  text += clock;
  if (millis % 1000 != 0) {
    std::snprintf(clock, sizeof clock, ".%03lld", millis % 1000);
    text += clock;
  }
  return text;
}

std::optional<DateTime> parseDbfDate(std::string_view raw) noexcept {
  while (!raw.empty() && isPadding(raw.back())) raw.remove_suffix(1);
  if (raw.size() != 8) return std::nullopt;
  int parts[3] = {0, 0, 0};
  const std::size_t widths[3] = {4, 2, 2};
  std::size_t at = 0;
  for (int p = 0; p < 3; ++p) {
    for (std::size_t k = 0; k < widths[p]; ++k, ++at) {
      if (!isDigit(raw[at])) return std::nullopt;
      parts[p] = parts[p] * 10 + (raw[at] - '0');
    }
  }
  return dateTimeOfDay(parts[0], parts[1], parts[2]);  // "00000000" fails here: no year 0
}

std::optional<bool> parseDbfLogical(std::string_view raw) noexcept {
  if (raw.empty()) return std::nullopt;
  switch (raw.front()) {
    case 'T':
    case 't':
    case 'Y':
    case 'y': return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n': return false;
    default: return std::nullopt;  // '?' and blank: not yet set
  }
}

std::optional<std::int64_t> readVfpInteger(std::span<const std::byte> raw) noexcept {
  if (raw.size() != 4) return std::nullopt;
  if (isBlank(raw) && raw[0] == std::byte{' '}) return std::nullopt;  // zero is a number
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(readLittle(raw, 4)));
}

std::optional<std::int64_t> readDbase7Integer(std::span<const std::byte> raw) noexcept {
  if (raw.size() != 4 || isBlank(raw)) return std::nullopt;
  // Stored big-endian with the sign bit flipped, so that the bytes sort as the numbers do.
  const auto stored = static_cast<std::uint32_t>(readBig(raw, 4));
  return static_cast<std::int32_t>(stored ^ 0x80000000U);
}

std::optional<double> readVfpCurrency(std::span<const std::byte> raw) noexcept {
  if (raw.size() != 8) return std::nullopt;
  if (isBlank(raw) && raw[0] == std::byte{' '}) return std::nullopt;
  const auto units = static_cast<std::int64_t>(readLittle(raw, 8));
  return static_cast<double>(units) / 10000.0;
}

std::optional<double> readVfpDouble(std::span<const std::byte> raw) noexcept {
  if (raw.size() != 8) return std::nullopt;
  if (isBlank(raw) && raw[0] == std::byte{' '}) return std::nullopt;
  const double value = std::bit_cast<double>(readLittle(raw, 8));
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<double> readDbase7Double(std::span<const std::byte> raw) noexcept {
  if (raw.size() != 8 || isBlank(raw)) return std::nullopt;
  // Big-endian, sortable: a positive number has its sign bit flipped, a negative one all bits.
  std::uint64_t bits = readBig(raw, 8);
  bits = (bits & 0x8000000000000000ULL) != 0 ? bits ^ 0x8000000000000000ULL : ~bits;
  const double value = std::bit_cast<double>(bits);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<DateTime> readVfpDateTime(std::span<const std::byte> raw) noexcept {
  if (raw.size() != 8 || isBlank(raw)) return std::nullopt;
  const auto julian = static_cast<std::int32_t>(static_cast<std::uint32_t>(readLittle(raw, 4)));
  const auto millis =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(readLittle(raw.subspan(4), 4)));
  // Julian day 1721426 is 1 January of year 1; 5373484 is 31 December 9999.
  if (julian < 1721426 || julian > 5373484 || millis < 0 || millis >= 86400000) return std::nullopt;
  return DateTime{static_cast<double>(julian - kJulianDayOfDayZero) + millis / kMillisecondsPerDay};
}

std::optional<DateTime> readDbase7Timestamp(std::span<const std::byte> raw) noexcept {
  if (raw.size() != 8 || isBlank(raw)) return std::nullopt;
  const double millis = std::bit_cast<double>(readBig(raw, 8));
  // Milliseconds with 1 January of year 1 as day 1; sane only from year 1 to 9999.
  if (!std::isfinite(millis) || millis < kMillisecondsPerDay || millis > 3.2e14)
    return std::nullopt;
  return DateTime{millis / kMillisecondsPerDay - kDayZeroFromYearOne};
}

}  // namespace importacao
