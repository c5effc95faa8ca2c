// libFuzzer target for data-link files and the connection strings that lead to them:
// initStringFromDataLink, parseInitString, odbcTargetFor and resolveConnectionString.
//
// Input: one flags byte, then either
//   - the bytes of a data-link file as they stand (the rest holds no 0x01 byte), or
//   - pieces separated by 0x01: the text before the password, the password, the text after it,
//     and optionally properties to write beside FILE NAME in a connection string. The file is
//     before + key + "=" + the password (as it stands or quoted) + after, encoded as the flags say.
// Flags: bits 0-1 the file's encoding (as it stands, UTF-16LE with its mark, UTF-8 with its mark,
// UTF-16BE with its mark); bits 2-3 how the password is written (as it stands, in double quotes,
// in single quotes, in double quotes with blanks around); bits 4-5 its key (Password, PWD, pwd,
// " Password "); bits 6-7 the ODBC drivers installed.
//
// Findings: a crash, a hang, a leak, an out-of-bounds read, anything but DataError escaping, a
// SQL Server connection string whose PWD does not read back as the password, and a message
// holding the password.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/errors.h"
#include "data/store/data_link.h"
#include "normalise/codepage.h"
#include "tests/support/fuzz_support.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using test_support::finding;
using test_support::trimBlanks;

constexpr std::string_view kFileName = "loja.udl";

const std::vector<std::string> kDriverLists[] = {
    {"PostgreSQL Unicode", "FreeTDS", "SQLite3"},
    {"FreeTDS", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server", "SQLite3"},
    {},
    {"ODBC Driver  for SQL Server", "ODBC Driver x for SQL Server", "libfreetds", "ODBC Driver 9"},
};

// Characters that no message of the data-link code holds, nor the file name, the temporary
// folder's path or a driver name. A password holding one that the rest of the input lacks can
// only reach a message through the password itself, so finding it there is never chance.
constexpr std::string_view kMarkers = "#%*+<>@^`|~!$";

// The password as written, and the forms it takes when the file is decoded (code page 1252 to
// UTF-8) or a message is made (UTF-8 to code page 1252), with and without blanks around.
std::vector<std::string> passwordForms(std::string_view password) {
  std::vector<std::string> forms;
  const auto add = [&](std::string form) {
    if (form.size() >= 4) forms.push_back(std::move(form));
  };
  for (std::string_view p : {password, trimBlanks(password)}) {
    add(std::string(p));
    add(cp1252ToUtf8(p));
    if (isValidUtf8(p)) add(utf8ToCp1252(p));
  }
  return forms;
}

struct Secret {
  std::vector<std::string> forms;  // empty: nothing to guard
};

void checkMessage(const Secret& secret, std::string_view message) {
  for (const std::string& form : secret.forms) {
    if (message.find(form) != std::string_view::npos)
      finding("a message holds the password", message);
  }
}

// Runs `action`; DataError is an answer (its message is checked), anything else escapes.
template <typename Action>
void expectDataErrorAtMost(const Secret& secret, Action&& action) {
  try {
    action();
  } catch (const DataError& e) {
    checkMessage(secret, e.what());
  }
}

void checkTarget(const OdbcTarget& target) {
  // A SQL Server connection string is built here: its PWD must reach the driver unchanged.
  if (target.driver.empty() || target.password.empty()) return;
  if (odbcAttribute(target.connectionString, "PWD") != target.password)
    finding("PWD does not read back as the password", target.connectionString);
}

bool mentionsFileName(std::string_view text) {
  // FILE NAME names a file to read: only the temporary file may be read, never one the input
  // names (a device would never end).
  constexpr std::string_view kKey = "name";
  for (std::size_t i = 0; i + kKey.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t j = 0; j < kKey.size() && same; ++j) same = (text[i + j] | 0x20) == kKey[j];
    if (same) return true;
  }
  return false;
}

std::string encodeUtf16(std::string_view utf8, bool bigEndian) {
  const std::u16string text = utf8ToUtf16(utf8);
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char high = static_cast<char>(c >> 8);
    const char low = static_cast<char>(c & 0xff);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

std::string quoted(std::string_view value, char quote) {
  std::string out(1, quote);
  for (char c : value) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

std::vector<std::string_view> splitPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t separator = text.find('\x01', start);
    if (separator == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, separator - start));
    start = separator + 1;
  }
}

bool holdsAny(std::string_view text, char c) { return text.find(c) != std::string_view::npos; }

void exercise(const std::uint8_t* data, std::size_t size) {
  static const test_support::ScratchFile scratch("imp-datalink-fuzz", kFileName);
  if (size == 0) return;
  const unsigned flags = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::string>& drivers = kDriverLists[(flags >> 6) & 3];
  const std::vector<std::string_view> pieces = splitPieces(rest);

  std::string text;
  std::string_view extras;
  Secret secret;
  std::string_view key;  // the password's key, when guarded
  std::string expected;  // the value the reader should find under it
  if (pieces.size() < 3) {
    text = std::string(rest);
  } else {
    const std::string_view before = pieces[0];
    const std::string_view password = pieces[1];
    const std::string_view after = pieces[2];
    if (pieces.size() > 3) extras = pieces[3];
    static constexpr std::string_view kKeys[] = {"Password", "PWD", "pwd", " Password "};
    std::string written;
    switch ((flags >> 2) & 3) {
      case 0: written = std::string(password); break;
      case 1: written = quoted(password, '"'); break;
      case 2: written = quoted(password, '\''); break;
      default: written = " " + quoted(password, '"') + " "; break;
    }
    text = std::string(before) + std::string(kKeys[(flags >> 4) & 3]) + "=";
    const std::size_t spanStart = text.size();
    text += written;
    const std::size_t spanEnd = text.size();
    text += after;

    // Guard the password only when a marker of it shows nowhere else and it occurs once.
    const std::string_view outsideBefore = std::string_view(text).substr(0, spanStart);
    const std::string_view outsideAfter = std::string_view(text).substr(spanEnd);
    key = trimBlanks(kKeys[(flags >> 4) & 3]);
    // What the reader takes for the value: all of it when quoted, else up to the first ';'.
    expected = ((flags >> 2) & 3) == 0
                   ? std::string(trimBlanks(password.substr(0, password.find(';'))))
                   : std::string(password);
    // The value found under the key must hold such a marker too: then the reader took it from
    // the password, not from a copy of its first piece elsewhere.
    bool guarded = false;
    for (char marker : kMarkers) {
      if (holdsAny(expected, marker) && !holdsAny(outsideBefore, marker) &&
          !holdsAny(outsideAfter, marker) && !holdsAny(extras, marker))
        guarded = true;
    }
    if (guarded) {
      const std::size_t first = text.find(password);
      if (first != std::string::npos && text.find(password, first + 1) != std::string::npos)
        guarded = false;
    }
    if (guarded) secret.forms = passwordForms(password);
  }

  std::string bytes;
  switch (flags & 3) {
    case 0: bytes = text; break;
    case 1: bytes = encodeUtf16(isValidUtf8(text) ? text : cp1252ToUtf8(text), false); break;
    case 2: bytes = "\xEF\xBB\xBF" + text; break;
    default: bytes = encodeUtf16(isValidUtf8(text) ? text : cp1252ToUtf8(text), true); break;
  }

  const std::string source = "Data-link file '" + std::string(kFileName) + "'";
  std::optional<std::string> initString;
  expectDataErrorAtMost(secret, [&] { initString = initStringFromDataLink(bytes, kFileName); });
  if (initString && !secret.forms.empty()) {
    // Text that reads as another property's value ("Provider=Password=...") holds no password:
    // guard it only when the reader finds it under its key. A string the reader refuses names
    // no value, so there the guard stays.
    try {
      // A file that is not UTF-8 is read as code page 1252.
      const std::optional<std::string> found = parseInitString(*initString).get(key);
      if (found != expected && found != cp1252ToUtf8(expected)) secret.forms.clear();
    } catch (const DataError&) {
    }
  }
  if (initString) {
    expectDataErrorAtMost(
        secret, [&] { checkTarget(odbcTargetFor(parseInitString(*initString), drivers, source)); });
    if (!mentionsFileName(*initString)) {
      expectDataErrorAtMost(secret,
                            [&] { checkTarget(resolveConnectionString(*initString, drivers)); });
    }
  }

  const fs::path& file = scratch.write(bytes);
  expectDataErrorAtMost(
      secret, [&] { checkTarget(resolveConnectionString("FILE NAME=" + file.string(), drivers)); });
  if (!extras.empty() && !mentionsFileName(extras)) {
    expectDataErrorAtMost(secret, [&] {
      checkTarget(resolveConnectionString(
          "File Name=\"" + file.string() + "\";" + std::string(extras), drivers));
    });
  }
}

}  // namespace
}  // namespace importacao

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  importacao::exercise(data, size);
  return 0;
}
