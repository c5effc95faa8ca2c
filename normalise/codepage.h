// Code pages: our text is single-byte code page 1252 throughout. These functions bring the text
// of legacy tables (DOS and Windows code pages) into 1252 and carry 1252 to and from Unicode.
//
// The five bytes that 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) travel as the C1
// control characters of the same value (U+0081, U+008D, U+008F, U+0090, U+009D), as Windows
// converts them, so every byte 0-255 comes back unchanged from UTF-16 or UTF-8. Our name tables
// give 0x90 a meaning, and legacy data holds it.
//
// None of these functions throws, except the two that take a code page, when it is not one of
// supportedCodePages(). The tables are built at compile time, so all of them are thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace importacao {

// The code pages that legacy dBASE tables use and that we read.
enum class CodePage : int {
  Dos437 = 437,    // DOS United States
  Dos850 = 850,    // DOS Western Europe (Latin-1)
  Dos852 = 852,    // DOS Central Europe (Latin-2)
  Dos866 = 866,    // DOS Cyrillic
  Win1250 = 1250,  // Windows Central Europe
  Win1251 = 1251,  // Windows Cyrillic
  Win1252 = 1252,  // Windows Western Europe: the code page of all our text
};

// 437, 850, 852, 866, 1250, 1251, 1252 in that order.
std::span<const int> supportedCodePages() noexcept;

// True when codePage is one of supportedCodePages().
bool isSupportedCodePage(int codePage) noexcept;

// The 1252 byte of each byte of codePage: the same character where 1252 holds it, otherwise '?'.
// A byte that codePage itself leaves undefined also becomes '?' (1252's own five stay as they
// are: the table of 1252 is the identity). The table lives for the whole program.
// Throws std::invalid_argument when the code page is not supported.
const std::array<char, 256>& tableTo1252(int codePage);
inline const std::array<char, 256>& tableTo1252(CodePage codePage) {
  return tableTo1252(static_cast<int>(codePage));
}

// Converts bytes of codePage into 1252 through tableTo1252; the result has the same length.
// Throws std::invalid_argument when the code page is not supported.
std::string toCp1252(std::string_view bytes, int codePage);
inline std::string toCp1252(std::string_view bytes, CodePage codePage) {
  return toCp1252(bytes, static_cast<int>(codePage));
}

// 1252 to UTF-16: one code unit per byte.
std::u16string cp1252ToUtf16(std::string_view text);
// The same into `out`, replacing what it held: in the storage it already has when that is
// large enough, so converting into a buffer kept for the purpose costs no allocation.
void cp1252ToUtf16(std::string_view text, std::u16string& out);

// UTF-16 to 1252: one byte per character; '?' for a character 1252 cannot hold (a pair of
// surrogates is one character) and for a surrogate without its partner.
std::string utf16ToCp1252(std::u16string_view text);
// The same, telling in `lossless` whether the result converts back to `text` (false when some
// character became '?').
std::string utf16ToCp1252(std::u16string_view text, bool& lossless);

// 1252 to UTF-8.
std::string cp1252ToUtf8(std::string_view text);

// UTF-8 to 1252: one byte per character; '?' for a character 1252 cannot hold and for each
// piece of invalid UTF-8 (a stray continuation byte, a sequence cut short, an overlong form, an
// encoded surrogate or a value past U+10FFFF), a piece being as much of a sequence as was
// valid up to the offending byte, as Unicode recommends for replacement characters.
std::string utf8ToCp1252(std::string_view text);

// UTF-8 to UTF-16: U+FFFD for each piece of invalid UTF-8, the pieces as utf8ToCp1252 counts
// them; a character beyond the basic plane becomes a pair of surrogates.
std::u16string utf8ToUtf16(std::string_view text);

// UTF-16 to UTF-8: '?' for a surrogate without its partner.
std::string utf16ToUtf8(std::u16string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view text) noexcept;

// The bytes of the character that starts at text[i] (i < text.size()), or 0 when no well-formed
// UTF-8 character starts there.
std::size_t utf8CharacterLength(std::string_view text, std::size_t i) noexcept;

}  // namespace importacao
