#include <langinfo.h>
#include <locale.h>

#include <clocale>
#include <cstring>

#include "platform/locale.h"

namespace importacao {

char userDecimalSeparator() {
  // newlocale reads LC_ALL, LC_NUMERIC and LANG as setlocale(LC_NUMERIC, "") would, but leaves
  // the process locale alone, so nothing else in the program starts writing ','.
  char separator = '.';
  if (locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
    const char* radix = nl_langinfo_l(RADIXCHAR, locale);
    // A multi-byte separator cannot stand in our single-byte text; keep '.' then.
    if (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') separator = radix[0];
    freelocale(locale);
  }
  return separator;
}

// The SQLite3 driver turns the statement text and the names it reports between UTF-16 and UTF-8
// with the C library's character conversions, which follow the process's character type: under
// the "C" locale it reads "descrição" in a statement as Latin-1 and misses the column. psqlODBC
// sets the character type from the environment as it loads. The character type only decides
// how characters convert (numbers and messages keep their own settings), so when it is not
// UTF-8 it is made so.
void useUtf8CharacterType() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr &&
      (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0))
    return;
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "C.utf8");
}

}  // namespace importacao
