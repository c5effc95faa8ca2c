// UTF-8 and UTF-16 for the Win32 implementations of the platform modules (and the Win32 window).
#pragma once

#include <string>
#include <string_view>

namespace importacao {

// UTF-16 of UTF-8 text; bytes that are no UTF-8 are read as code page 1252.
std::wstring wideFromUtf8(std::string_view text);
// UTF-8 of UTF-16 text (an unpaired surrogate becomes U+FFFD).
std::string utf8FromWide(std::wstring_view text);

}  // namespace importacao
