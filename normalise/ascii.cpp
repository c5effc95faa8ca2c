#include "normalise/ascii.h"

#include <algorithm>

namespace importacao {
namespace {

template <typename Strip>
std::string_view trimmed(std::string_view text, Strip strip) noexcept {
  while (!text.empty() && strip(text.front())) text.remove_prefix(1);
  while (!text.empty() && strip(text.back())) text.remove_suffix(1);
  return text;
}

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

std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = upperAscii(c);
  return out;
}

std::string_view trimBlanks(std::string_view text) noexcept { return trimmed(text, isBlankOrTab); }

std::string_view trimBlanksAndLineBreaks(std::string_view text) noexcept {
  return trimmed(text, isBlankOrLineBreak);
}

}  // namespace importacao
