#include "data/store/parameter_scan.h"

namespace importacao {

namespace {

bool isQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

bool endsName(char c) {
  return c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';';
}

}  // namespace

ScannedStatement scanNamedParameters(std::string_view statement) {
  ScannedStatement out;
  out.text.reserve(statement.size());
  char openQuote = 0;  // the quote character of the literal we are in, 0 outside
  std::size_t i = 0;
  const std::size_t n = statement.size();
  while (i < n) {
    const char c = statement[i];
    if (openQuote != 0) {
      out.text += c;
      if (c == openQuote) openQuote = 0;  // a doubled quote closes and reopens: same result
      ++i;
      continue;
    }
    if (isQuote(c)) {
      openQuote = c;
      out.text += c;
      ++i;
      continue;
    }
    if (c != ':') {
      out.text += c;
      ++i;
      continue;
    }
    if (i + 1 < n && statement[i + 1] == ':') {
      out.text += ':';
      i += 2;
      continue;
    }
    ++i;  // past the colon
    std::string name;
    if (i < n && isQuote(statement[i])) {
      const char quote = statement[i++];
      while (i < n && statement[i] != quote) name += statement[i++];
      if (i < n) ++i;  // the closing quote
    } else {
      while (i < n && !endsName(statement[i])) name += statement[i++];
    }
    out.text += '?';
    out.names.push_back(std::move(name));
  }
  return out;
}

}  // namespace importacao
