#include "app/run/settings.h"

#include <charconv>
#include <system_error>

#include "app/run/profile_rules.h"
#include "data/errors.h"
#include "normalise/codepage.h"
#include "platform/path.h"

namespace importacao {

namespace fs = std::filesystem;

namespace profile {

[[noreturn]] void throwWriteError(const fs::path& path) {
  throw DataError("Unable to write to " + utf8Path(path.filename()));
}

bool hasLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool writeRefused(std::string_view section, std::string_view key, std::string_view value) {
  return hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) ||
         trimBlanks(key).empty() || trimBlanks(key).front() == '[' ||
         key.find('=') != std::string_view::npos || section.find(']') != std::string_view::npos;
}

}  // namespace profile

SettingsValues loadSettings(const ProfileFile& file) {
  SettingsValues values;
  for (const SettingKey& setting : kSettingKeys)
    values.*setting.value = file.readString(setting.section, setting.key, values.*setting.value);
  return values;
}

void saveSettings(ProfileFile& file, const SettingsValues& values) {
  for (const SettingKey& setting : kSettingKeys)
    file.writeString(setting.section, setting.key, values.*setting.value);
}

std::optional<std::string> legacyCodePageSetting(const ProfileFile& file) {
  // A default no value can take tells a missing key from an empty one.
  static constexpr std::string_view kAbsent("\n", 1);
  std::string value = file.readString("Importacao", "PaginaCodigoDBF", kAbsent);
  if (value == kAbsent) return std::nullopt;
  return value;
}

std::optional<int> parseCodePage(std::string_view text) {
  text = trimBlanks(text);
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!isSupportedCodePage(number)) return std::nullopt;
  return number;
}

std::optional<int> legacyCodePageOverride(const ProfileFile& file) {
  const std::optional<std::string> text = legacyCodePageSetting(file);
  if (!text || trimBlanks(*text).empty()) return std::nullopt;
  const std::optional<int> codePage = parseCodePage(*text);
  if (!codePage)
    throw DataError(utf8Path(file.path().filename()) + ": PaginaCodigoDBF=" + *text +
                    " is not a code page the legacy tables can be read in (437, 850, 852, 866, "
                    "1250, 1251 or 1252)");
  return codePage;
}

std::string dataLinkFileName(std::string_view boxText) {
  std::error_code error;
  if (!boxText.empty() && fs::is_regular_file(pathFromUtf8(boxText), error))
    return std::string(boxText);
  // Split like a command line and keep the first item: blanks separate items, a quoted stretch
  // may hold blanks, and the quotes themselves are dropped.
  std::size_t i = 0;
  while (i < boxText.size() && isBlankOrTab(boxText[i])) ++i;
  std::string item;
  bool quoted = false;
  for (; i < boxText.size(); ++i) {
    const char c = boxText[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (isBlankOrTab(c) && !quoted) {
      break;
    } else {
      item += c;
    }
  }
  return item;
}

std::string builtInConnectionString(const fs::path& settingsPath) {
  return "FILE NAME=" + utf8Path(settingsPath.parent_path() / kDataLinkFileName);
}

}  // namespace importacao
