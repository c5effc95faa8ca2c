// Small UTF-8 helpers for text that comes from outside (settings files, messages); the
// validity check itself is isValidUtf8 of normalise/codepage.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "normalise/codepage.h"

namespace importacao {

// The first `limit` characters of well-formed UTF-8 text (all of it when shorter).
std::string_view firstCharacters(std::string_view text, std::size_t limit) noexcept;

// A message for a person to read, in UTF-8: kept when it is UTF-8 already, otherwise read as
// code page 1252 (the text of legacy records and of some drivers).
std::string messageText(std::string_view message);

}  // namespace importacao
