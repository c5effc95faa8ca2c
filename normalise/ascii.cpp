#include "normalise/ascii.h"

#include <algorithm>

namespace importacao {
namespace {

constexpr bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }

}  // namespace

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool equalsNoCaseAscii(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

std::string_view trimBlanks(std::string_view text) noexcept {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace importacao
