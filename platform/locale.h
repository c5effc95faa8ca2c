// The user's locale, as far as the programs follow it.
#pragma once

namespace importacao {

// The decimal separator of the user's number settings (POSIX: LC_ALL, LC_NUMERIC, LANG; Windows:
// the user's regional settings); '.' when it is not a single ASCII or code page 1252 character.
char userDecimalSeparator();

// Before an ODBC driver converts text: the C library's character type made UTF-8 where drivers
// convert with it (POSIX); nothing on Windows, whose drivers convert UTF-16 themselves.
void useUtf8CharacterType();

}  // namespace importacao
