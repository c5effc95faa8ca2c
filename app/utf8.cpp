#include "app/utf8.h"

#include "normalise/codepage.h"

namespace importacao {
namespace {

// Length of the UTF-8 sequence at `text[i]`, or 0 when it is not a well-formed one.
std::size_t sequenceLength(std::string_view text, std::size_t i) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
  if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool isValidUtf8(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string_view firstCharacters(std::string_view text, std::size_t limit) noexcept {
  std::size_t i = 0;
  for (std::size_t count = 0; i < text.size() && count < limit; ++count) {
    const std::size_t length = sequenceLength(text, i);
    i += length == 0 ? 1 : length;
  }
  return text.substr(0, i);
}

std::string messageText(std::string_view message) {
  return isValidUtf8(message) ? std::string(message) : cp1252ToUtf8(message);
}

}  // namespace importacao
