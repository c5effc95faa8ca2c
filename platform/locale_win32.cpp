#include <windows.h>

#include "platform/locale.h"

namespace importacao {

char userDecimalSeparator() {
  wchar_t text[8] = {};
  const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, text, 8);
  // length counts the terminating zero: one character is 2. It must fit our single-byte text.
  if (length == 2 && text[0] > 0 && text[0] < 0x80) return static_cast<char>(text[0]);
  return '.';
}

void useUtf8CharacterType() {}

}  // namespace importacao
