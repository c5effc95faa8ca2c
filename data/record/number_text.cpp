#include "data/record/number_text.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "normalise/ascii.h"
#include "platform/locale.h"

namespace importacao {
namespace {

std::atomic<char> gSeparator{'.'};

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The digits of a finite, non-zero value rounded to `significant` digits (trailing zeros
// removed) and the decimal exponent of the first one: value = d.ddd x 10^exponent.
struct Decimal {
  std::array<char, 17> digits{};
  int count = 0;
  int exponent = 0;
  bool negative = false;
};

Decimal roundedDecimal(double value, int significant) {
  // to_chars rounds correctly from the exact binary value: "d.dddde+XX".
  std::array<char, 40> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::scientific, significant - 1);
  Decimal d;
  const char* p = buffer.data();
  const char* end = result.ptr;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; p < end && *p != 'e'; ++p) {
    if (isDigit(*p)) d.digits[static_cast<std::size_t>(d.count++)] = *p;
  }
  ++p;  // 'e'
  const bool negativeExponent = *p == '-';
  ++p;  // sign, always written
  int exponent = 0;
  std::from_chars(p, end, exponent);
  d.exponent = negativeExponent ? -exponent : exponent;
  while (d.count > 1 && d.digits[static_cast<std::size_t>(d.count - 1)] == '0') --d.count;
  return d;
}

void appendExponent(std::string& out, int exponent) {
  out.push_back('E');
  if (exponent < 0) out.push_back('-');
  std::array<char, 8> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::abs(exponent));
  out.append(buffer.data(), result.ptr);
}

}  // namespace

char decimalSeparator() noexcept { return gSeparator.load(std::memory_order_relaxed); }

void setDecimalSeparator(char separator) noexcept {
  gSeparator.store(separator, std::memory_order_relaxed);
}

char initDecimalSeparatorFromEnvironment() {
  const char separator = userDecimalSeparator();
  setDecimalSeparator(separator);
  return separator;
}

void appendFloatText(std::string& out, double value, char separator) {
  if (std::isnan(value)) {
    out += "NAN";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-INF" : "INF";
    return;
  }
  if (value == 0.0) {  // minus zero included
    out.push_back('0');
    return;
  }
  const Decimal d = roundedDecimal(value, 15);
  if (d.negative) out.push_back('-');
  const auto digit = [&](int i) { return d.digits[static_cast<std::size_t>(i)]; };
  if (d.exponent >= -4 && d.exponent <= 14) {
    // Plain form: at most 15 digits before the separator, magnitude at least 0.0001.
    if (d.exponent >= 0) {
      for (int i = 0; i <= d.exponent; ++i) out.push_back(i < d.count ? digit(i) : '0');
      if (d.count > d.exponent + 1) {
        out.push_back(separator);
        for (int i = d.exponent + 1; i < d.count; ++i) out.push_back(digit(i));
      }
    } else {
      out.push_back('0');
      out.push_back(separator);
      out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
      for (int i = 0; i < d.count; ++i) out.push_back(digit(i));
    }
    return;
  }
  out.push_back(digit(0));
  if (d.count > 1) {
    out.push_back(separator);
    for (int i = 1; i < d.count; ++i) out.push_back(digit(i));
  }
  appendExponent(out, d.exponent);
}

std::string floatToText(double value, char separator) {
  std::string out;
  appendFloatText(out, value, separator);
  return out;
}

std::string floatToText(double value) { return floatToText(value, decimalSeparator()); }

std::string formatGeneral(double value) { return floatToText(value, decimalSeparator()); }

std::string integerToText(std::int64_t value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::optional<double> parseFloat(std::string_view text, char separator) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && isBlankOrTab(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  // The mantissa: digits with at most one separator, at least one digit.
  const std::size_t mantissaStart = i;
  std::size_t digits = 0;
  std::size_t separatorAt = std::string_view::npos;
  for (; i < n; ++i) {
    if (isDigit(text[i])) {
      ++digits;
    } else if (text[i] == separator && separatorAt == std::string_view::npos) {
      separatorAt = i;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  const std::size_t mantissaEnd = i;

  // The exponent: E or e, an optional sign, at least one digit.
  std::size_t exponentStart = i;
  std::size_t exponentEnd = i;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    exponentStart = i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t firstDigit = i;
    while (i < n && isDigit(text[i])) ++i;
    if (i == firstDigit) return std::nullopt;
    exponentEnd = i;
  }
  while (i < n && isBlankOrTab(text[i])) ++i;
  if (i != n) return std::nullopt;

  // Rewrite as from_chars reads it: '.' as the separator, no leading '+'.
  std::string normal;
  normal.reserve(mantissaEnd - mantissaStart + (exponentEnd - exponentStart) + 2);
  for (std::size_t k = mantissaStart; k < mantissaEnd; ++k) {
    normal.push_back(k == separatorAt ? '.' : text[k]);
  }
  if (exponentEnd > exponentStart) {
    normal.push_back('e');
    normal.append(text.substr(exponentStart, exponentEnd - exponentStart));
  }
  double value = 0.0;
  const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value,
                                      std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double. Tell them apart by where the first significant
    // digit stands: a value below 1 whose exponent is negative is an underflow, read as 0.
    long long position = 0;  // decimal exponent of the first non-zero digit, roughly
    bool seenNonZero = false;
    long long before = 0;  // digits before the separator, counted from the first non-zero
    long long leadingFractionZeros = 0;
    const bool hasSeparator = separatorAt != std::string_view::npos;
    for (std::size_t k = mantissaStart; k < mantissaEnd; ++k) {
      if (k == separatorAt) continue;
      const bool inFraction = hasSeparator && k > separatorAt;
      if (!seenNonZero && text[k] != '0') seenNonZero = true;
      if (!inFraction && seenNonZero) ++before;
      if (inFraction && !seenNonZero) ++leadingFractionZeros;
    }
    position = before > 0 ? before - 1 : -(leadingFractionZeros + 1);
    long long exponent = 0;
    bool exponentNegative = false;
    for (std::size_t k = exponentStart; k < exponentEnd; ++k) {
      if (text[k] == '-') exponentNegative = true;
      if (isDigit(text[k]) && exponent < 1'000'000'000) exponent = exponent * 10 + (text[k] - '0');
    }
    position += exponentNegative ? -exponent : exponent;
    if (position < 0) return negative ? -0.0 : 0.0;
    return std::nullopt;
  }
  if (result.ec != std::errc() || result.ptr != normal.data() + normal.size()) return std::nullopt;
  return negative ? -value : value;
}

std::optional<double> parseFloat(std::string_view text) {
  return parseFloat(text, decimalSeparator());
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && isBlankOrTab(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t start = i;
  while (i < n && isDigit(text[i])) ++i;
  const std::size_t end = i;
  if (end == start) return std::nullopt;
  while (i < n && isBlankOrTab(text[i])) ++i;
  if (i != n) return std::nullopt;

  std::uint64_t magnitude = 0;
  const auto result = std::from_chars(text.data() + start, text.data() + end, magnitude);
  if (result.ec != std::errc()) return std::nullopt;
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int64_t>::max();
  if (negative) {
    if (magnitude > kMaxPositive + 1) return std::nullopt;
    return magnitude == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min()
                                         : -static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > kMaxPositive) return std::nullopt;
  return static_cast<std::int64_t>(magnitude);
}

double roundHalfEven(double value) noexcept {
  if (!std::isfinite(value)) return value;
  // Exact for every double: floor and the difference below lose nothing under 2^52, and from
  // 2^52 on every double is already whole.
  const double lower = std::floor(value);
  const double fraction = value - lower;
  if (fraction < 0.5) return lower;
  if (fraction > 0.5) return lower + 1.0;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

double roundDecimalHalfEven(double value, int places) {
  if (!std::isfinite(value) || value == 0.0) return value;
  if (places < 0) places = 0;
  if (places > 15) places = 15;
  // The shortest text that reads back as `value` is the number a person sees; round that
  // text rather than value * 10^places, whose binary error would decide the ties.
  std::array<char, 40> buffer{};
  const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                     std::chars_format::scientific);
  std::string digits;
  const char* p = buffer.data();
  const bool negative = *p == '-';
  if (negative) ++p;
  for (; p < written.ptr && *p != 'e'; ++p) {
    if (isDigit(*p)) digits.push_back(*p);
  }
  int exponent = 0;
  ++p;  // 'e'
  const bool negativeExponent = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::from_chars(p, written.ptr, exponent);
  if (negativeExponent) exponent = -exponent;

  // digits[i] stands for 10^(exponent - i); keep those down to 10^-places.
  const int lastKept = exponent + places;
  const int count = static_cast<int>(digits.size());
  if (lastKept >= count - 1) return value;  // nothing below the last kept place
  if (lastKept < -1) return 0.0;            // below half of the last kept place
  std::string kept = digits.substr(0, static_cast<std::size_t>(lastKept + 1));
  const char firstDropped = digits[static_cast<std::size_t>(lastKept + 1)];
  bool restNonZero = false;
  for (int i = lastKept + 2; i < count; ++i)
    restNonZero |= digits[static_cast<std::size_t>(i)] != '0';
  const bool lastOdd = !kept.empty() && ((kept.back() - '0') % 2 == 1);
  const bool up = firstDropped > '5' || (firstDropped == '5' && (restNonZero || lastOdd));
  if (kept.empty()) kept.push_back('0');
  if (up) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9')
      kept[static_cast<std::size_t>(i--)] = '0';
    if (i < 0) {
      kept.insert(kept.begin(), '1');
    } else {
      ++kept[static_cast<std::size_t>(i)];
    }
  }
  // kept holds the whole number of units of 10^-places.
  kept += 'e';
  kept += integerToText(-places);
  double result = 0.0;
  std::from_chars(kept.data(), kept.data() + kept.size(), result, std::chars_format::general);
  if (result == 0.0) return 0.0;
  return negative ? -result : result;
}

}  // namespace importacao
