// What the two implementations of the settings file (profile_posix.cpp, profile_win32.cpp) share
// with the rest of settings.cpp: which writes are refused (the blanks around names and values are
// trimmed with trimBlanks of normalise/ascii.h).
#pragma once

#include <filesystem>
#include <string_view>

#include "normalise/ascii.h"

namespace importacao::profile {

// Whether a write of `key` = `value` in `section` is refused before the file is touched: a line
// break in any of them (it would end the entry early and let the rest pose as other lines), an
// empty key, a key holding '=' or beginning with '[' (its line would read as a section header:
// never found again, it would be added anew on every write), a section name holding ']'.
bool writeRefused(std::string_view section, std::string_view key, std::string_view value);

// Throws DataError "Unable to write to <the file's bare name>".
[[noreturn]] void throwWriteError(const std::filesystem::path& path);

}  // namespace importacao::profile
