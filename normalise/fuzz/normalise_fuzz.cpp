// libFuzzer target: every text operation and conversion on arbitrary bytes. The first byte picks
// a code page and a prefix number; the rest is the text. A broken invariant aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "normalise/codepage.h"
#include "normalise/normalise.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool allDigits(std::string_view text) {
  return text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace importacao;
  if (size == 0) return 0;
  const auto pages = supportedCodePages();
  const int page = pages[data[0] % pages.size()];
  const int prefix = static_cast<int>(data[0]) - 128;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  require(ProperCaseName(text).size() == text.size());
  require(RemoveAccents(text).size() <= text.size());
  require(StripCodePunctuation(text).size() <= text.size());
  const std::string barcode = MakeEan13(text, prefix);
  require(barcode.size() == 13 && allDigits(barcode));
  require(barcode.substr(12) == Ean13CheckDigit(barcode.substr(0, 12)));
  const std::string check = Ean13CheckDigit(text);
  require(check.empty() ? !allDigits(text) : check.size() == 1 && allDigits(check));

  const std::string narrow = toCp1252(text, page);
  require(narrow.size() == text.size());
  require(utf16ToCp1252(cp1252ToUtf16(narrow)) == narrow);
  require(utf8ToCp1252(cp1252ToUtf8(narrow)) == narrow);
  require(utf8ToCp1252(text).size() <= text.size());
  std::u16string units(text.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
  }
  require(utf16ToCp1252(units).size() <= units.size());
  return 0;
}
