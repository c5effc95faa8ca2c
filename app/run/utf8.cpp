#include "app/run/utf8.h"

#include "normalise/codepage.h"

namespace importacao {

std::string_view firstCharacters(std::string_view text, std::size_t limit) noexcept {
  std::size_t i = 0;
  for (std::size_t count = 0; i < text.size() && count < limit; ++count) {
    const std::size_t length = utf8CharacterLength(text, i);
    i += length == 0 ? 1 : length;
  }
  return text.substr(0, i);
}

std::string messageText(std::string_view message) {
  return isValidUtf8(message) ? std::string(message) : cp1252ToUtf8(message);
}

}  // namespace importacao
