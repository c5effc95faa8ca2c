// Letter case and blanks the way files and statements spell them (settings files, data-link
// files, SQL names and keywords, driver names): only the plain letters 'A'-'Z' and 'a'-'z' change
// case, only the blank and the tab are blanks, and every other byte (the accented letters of code
// page 1252 among them) stands for itself. Field names of records fold 1252's letters too: see
// namesEqual of data/record/field.h.
#pragma once

#include <string>
#include <string_view>

namespace importacao {

// 'A'-'Z' become 'a'-'z'; any other byte is returned unchanged.
constexpr char lowerAscii(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// 'a'-'z' become 'A'-'Z'; any other byte is returned unchanged.
constexpr char upperAscii(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The blank and the tab.
constexpr bool isBlankOrTab(char c) noexcept { return c == ' ' || c == '\t'; }

// The blank, the tab, the carriage return and the line feed.
constexpr bool isBlankOrLineBreak(char c) noexcept {
  return isBlankOrTab(c) || c == '\r' || c == '\n';
}

// The text with lowerAscii applied to every byte.
std::string lowerAscii(std::string_view text);

// The text with upperAscii applied to every byte.
std::string upperAscii(std::string_view text);

// Whether the two texts have the same length and the same bytes once lowerAscii folds them.
bool equalsNoCaseAscii(std::string_view a, std::string_view b) noexcept;

// The text without the blanks and tabs at its start and end (a view into `text`).
std::string_view trimBlanks(std::string_view text) noexcept;

// The text without the blanks, tabs, carriage returns and line feeds at its start and end.
std::string_view trimBlanksAndLineBreaks(std::string_view text) noexcept;

}  // namespace importacao
