#include "normalise/normalise.h"

#include <array>
#include <cstdint>

namespace importacao {

namespace {

constexpr bool isCapital(int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool isSmall(int c) { return c >= 'a' && c <= 'z'; }
constexpr bool isDigit(int c) { return c >= '0' && c <= '9'; }
constexpr char capitalOf(char c) { return static_cast<char>(c - ('a' - 'A')); }

// The accented capitals that word case lowers; 128, 144, 182 and 229 belong to the table too.
constexpr std::array<unsigned char, 256> kSmallAccented = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  constexpr int kCapitals[] = {192, 193, 194, 195, 196, 199, 200, 201, 202, 203, 204, 205,
                               206, 207, 210, 211, 212, 213, 214, 217, 218, 219, 220};
  for (int c : kCapitals) table[c] = static_cast<unsigned char>(c + 32);
  table[182] = 226;
  table[229] = 226;
  table[128] = 231;
  table[144] = 233;
  return table;
}();

// Each byte's row in RemoveAccents; a byte without one stays as it is.
struct PlainRow {
  bool replaced = false;
  std::string_view text;  // empty: the byte is dropped
};
constexpr std::array<PlainRow, 256> kPlain = [] {
  std::array<PlainRow, 256> table{};
  struct Row {
    std::string_view out;
    std::array<int, 7> in;  // padded with -1
  };
  constexpr Row kRows[] = {
      {"A", {128, 192, 193, 194, 195, 196, 230}}, {"a", {224, 225, 226, 227, 228, -1, -1}},
      {"E", {200, 201, 202, 203, -1, -1, -1}},    {"e", {232, 233, 234, 235, -1, -1, -1}},
      {"I", {153, 204, 205, 206, 207, -1, -1}},   {"i", {236, 237, 238, 239, -1, -1, -1}},
      {"O", {131, 210, 211, 212, 213, 214, -1}},  {"o", {134, 242, 243, 244, 245, 246, -1}},
      {"U", {217, 218, 219, 220, -1, -1, -1}},    {"u", {44, 249, 250, 251, 252, -1, -1}},
      {"C", {63, 199, -1, -1, -1, -1, -1}},       {"c", {231, -1, -1, -1, -1, -1, -1}},
      {"", {40, 41, 46, 47, 58, -1, -1}},
  };
  for (const auto& row : kRows) {
    for (int c : row.in) {
      if (c >= 0) table[static_cast<std::size_t>(c)] = {true, row.out};
    }
  }
  return table;
}();

}  // namespace

std::string StripCodePunctuation(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '-' && c != '.' && c != '/') out.push_back(c);
  }
  return out;
}

std::string Ean13CheckDigit(std::string_view twelveDigits) {
  int sum = 0;
  int weight = 3;  // the last digit weighs 3, so position 12 of a body does
  for (auto it = twelveDigits.rbegin(); it != twelveDigits.rend(); ++it) {
    if (!isDigit(*it)) return {};
    sum = (sum + weight * (*it - '0')) % 10;
    weight = 4 - weight;
  }
  return std::string(1, static_cast<char>('0' + (10 - sum) % 10));
}

std::string MakeEan13(std::string_view code, int prefix) {
  std::string number;
  number.reserve(code.size() + 14);
  for (char c : code) {
    if (isDigit(c)) number.push_back(c);
  }
  number += "01";
  // The prefix's magnitude as an unsigned value, so that the smallest int has one too.
  auto magnitude = static_cast<std::uint64_t>(prefix < 0 ? -static_cast<std::int64_t>(prefix)
                                                         : static_cast<std::int64_t>(prefix));
  std::string prefixDigits = std::to_string(magnitude);
  if (prefixDigits.size() < 2) prefixDigits.insert(0, 1, '0');
  number += prefixDigits;
  // Reading the digits as a number and writing it back with at least 12 digits, of which the
  // last 12 remain, is the same as filling the text with zeros to 12 and keeping its last 12.
  // On the text it is exact for codes of any length, which no integer type would be.
  if (number.size() < 12) number.insert(0, 12 - number.size(), '0');
  std::string body = number.substr(number.size() - 12);
  return body + Ean13CheckDigit(body);
}

char LowerLetter(char c) {
  return isCapital(static_cast<unsigned char>(c)) ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string ProperCaseName(std::string_view text) {
  const std::size_t n = text.size();
  if (n == 0) return {};
  std::string t(text);
  // Positions count from 1; one outside the text holds no character, which is -1 here and so
  // neither a blank nor a letter.
  auto at = [&t, n](std::size_t i) -> int {
    return i >= 1 && i <= n ? static_cast<unsigned char>(t[i - 1]) : -1;
  };
  auto set = [&t](std::size_t i, char c) { t[i - 1] = c; };

  for (char& c : t) c = LowerLetter(c);
  for (std::size_t i = 1; i < n; ++i) {
    if (at(i) == ' ' && isSmall(at(i + 1))) set(i + 1, capitalOf(static_cast<char>(at(i + 1))));
  }
  for (std::size_t i = 1; i <= n; ++i) {
    if (at(i) == 'E' && at(i - 1) == ' ' && at(i + 1) == ' ') set(i, LowerLetter('E'));
  }
  // The last position keeps its byte here: "JOSÉ" stays "JosÉ".
  for (std::size_t i = 1; i < n; ++i) {
    set(i, static_cast<char>(kSmallAccented[static_cast<unsigned char>(t[i - 1])]));
  }
  for (std::size_t i = 1; i <= n; ++i) {
    if (at(i) != 'D' || at(i - 1) != ' ') continue;
    const int next = at(i + 1);
    const bool da = (next == 'a' || next == 'e' || next == 'o') && (at(i + 2) == ' ' || i + 1 == n);
    const bool das =
        (next == 'a' || next == 'o') && at(i + 2) == 's' && (at(i + 3) == ' ' || i + 2 == n);
    if (da || das) set(i, 'd');
  }
  if (isSmall(at(1))) set(1, capitalOf(t[0]));
  return t;
}

std::string RemoveAccents(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const PlainRow& row = kPlain[static_cast<unsigned char>(c)];
    if (row.replaced) {
      out += row.text;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace importacao
