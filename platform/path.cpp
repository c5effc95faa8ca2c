#include "platform/path.h"

#include "normalise/codepage.h"

namespace importacao {
namespace {

std::u8string asU8(std::string_view text) { return std::u8string(text.begin(), text.end()); }

}  // namespace

std::filesystem::path pathFromUtf8(std::string_view text) {
#ifdef _WIN32
  // A Windows file name is UTF-16: bytes that are no UTF-8 can only be the ANSI text of the
  // earlier program, code page 1252 here.
  if (!isValidUtf8(text)) return std::filesystem::path(asU8(cp1252ToUtf8(text)));
#endif
  return std::filesystem::path(asU8(text));
}

std::string utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace importacao
