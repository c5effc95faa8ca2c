// libFuzzer target for the settings file (ProfileFile).
//
// Input: the file's bytes, optionally followed by three pieces separated by 0x01: the section,
// the key and the value to write (without them a fixed section, key and value are written).
// Every input is written to a scratch file, read through the eight settings, the code page
// override and every section and key the file seems to hold, then written once and once again.
//
// Findings: a crash, a hang, a leak, an out-of-bounds read, anything but DataError escaping, and:
//   - a section, key or value holding a line break (CR, LF or NUL), a key that is empty, holds
//     '=' or begins with '[' (its line would read as a section header), a section that holds
//     ']': the write must be refused and leave the file as it was;
//   - any other write must succeed, and then the value reads back as written, read by the
//     private-profile rules (blanks around it dropped, then quotes wrapping all of it dropped,
//     then cut to 2047 characters; checked for UTF-8 values, which is what callers write);
//   - every other section and key reads as it did before the write;
//   - writing the same value again leaves the file byte for byte as it was.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/run/settings.h"
#include "data/errors.h"
#include "normalise/codepage.h"
#include "tests/support/fuzz_support.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using test_support::finding;
using test_support::trimBlanks;

// Returned by a read that finds nothing: no value can hold a line break.
constexpr std::string_view kAbsent = "\n";
constexpr std::size_t kMaxSections = 8;
constexpr std::size_t kMaxKeys = 16;

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Sections and keys are found without regard to case or to blanks around them.
bool sameName(std::string_view a, std::string_view b) {
  return lowerAscii(trimBlanks(a)) == lowerAscii(trimBlanks(b));
}

bool hasLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// What a read gives for a value written as `value` (UTF-8).
std::string readBack(std::string_view value) {
  value = trimBlanks(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  std::size_t characters = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if ((static_cast<unsigned char>(value[i]) & 0xC0) != 0x80 && ++characters > kProfileValueLimit)
      return std::string(value.substr(0, i));
  }
  return std::string(value);
}

void addName(std::vector<std::string>& names, std::string_view name, std::size_t limit) {
  if (names.size() >= limit) return;
  for (const std::string& known : names) {
    if (sameName(known, name)) return;
  }
  names.emplace_back(name);
}

// The section and key names the file seems to hold, roughly: a read of a name it does not hold
// gives the default before and after the write, so a name too many costs nothing.
void namesIn(std::string_view content, std::vector<std::string>& sections,
             std::vector<std::string>& keys) {
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
  std::size_t start = 0;
  while (start <= content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = trimBlanks(content.substr(start, end - start));
    if (line.ends_with('\r')) line = trimBlanks(line.substr(0, line.size() - 1));
    if (line.starts_with('[')) {
      addName(sections, trimBlanks(line.substr(1, line.find(']') - 1)), kMaxSections);
    } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      addName(keys, trimBlanks(line.substr(0, equals)), kMaxKeys);
    }
    start = end + 1;
  }
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Write {
  std::string_view section;
  std::string_view key;
  std::string_view value;
};

void exercise(std::string_view input) {
  static const test_support::ScratchFile scratch("imp-settings-fuzz", kSettingsFileName);

  std::string_view content = input;
  Write write;
  const std::size_t third = input.rfind('\x01');
  const std::size_t second = third == 0 || third == std::string_view::npos
                                 ? std::string_view::npos
                                 : input.rfind('\x01', third - 1);
  const std::size_t first = second == 0 || second == std::string_view::npos
                                ? std::string_view::npos
                                : input.rfind('\x01', second - 1);
  if (first != std::string_view::npos) {
    content = input.substr(0, first);
    write = {input.substr(first + 1, second - first - 1),
             input.substr(second + 1, third - second - 1), input.substr(third + 1)};
  } else {
    static constexpr Write kFixed[] = {{"Importacao", "ConexaoSQL", "FILE NAME=/srv/loja.udl"},
                                       {"FormaPgto", "Cheque", "  \"2\"  "},
                                       {"Vendas", "Vendedor", ""},
                                       {"Nova", "Chave", "valor"}};
    write = kFixed[input.size() % std::size(kFixed)];
  }

  const fs::path& path = scratch.write(content);
  ProfileFile file(path);
  (void)loadSettings(file);
  try {
    (void)legacyCodePageOverride(file);
  } catch (const DataError&) {
  }
  (void)dataLinkFileName(file.readString("Importacao", "ConexaoSQL", ""));

  std::vector<std::string> sections = {std::string(write.section), "Importacao", "FormaPgto"};
  std::vector<std::string> keys = {std::string(write.key), "ConexaoSQL", "Cheque"};
  namesIn(content, sections, keys);
  std::vector<std::pair<std::pair<std::size_t, std::size_t>, std::string>> before;
  for (std::size_t s = 0; s < sections.size(); ++s) {
    for (std::size_t k = 0; k < keys.size(); ++k)
      before.push_back({{s, k}, file.readString(sections[s], keys[k], kAbsent)});
  }

  const bool mustRefuse = hasLineBreak(write.section) || hasLineBreak(write.key) ||
                          hasLineBreak(write.value) || trimBlanks(write.key).empty() ||
                          trimBlanks(write.key).front() == '[' ||
                          write.key.find('=') != std::string_view::npos ||
                          write.section.find(']') != std::string_view::npos;
  try {
    file.writeString(write.section, write.key, write.value);
  } catch (const DataError& e) {
    if (!mustRefuse) finding("a write that should succeed was refused", e.what());
    if (fileBytes(path) != content) finding("a refused write changed the file", content);
    return;
  }
  if (mustRefuse) finding("a write that should be refused succeeded", fileBytes(path));

  if (isValidUtf8(write.value)) {
    const std::string got = file.readString(write.section, write.key, kAbsent);
    if (got != readBack(write.value))
      finding("the value written does not read back", fileBytes(path));
  }
  for (const auto& [which, value] : before) {
    const std::string& s = sections[which.first];
    const std::string& k = keys[which.second];
    if (sameName(s, write.section) && sameName(k, write.key)) continue;
    if (file.readString(s, k, kAbsent) != value)
      finding("another key's value changed", fileBytes(path));
  }

  const std::string written = fileBytes(path);
  file.writeString(write.section, write.key, write.value);
  if (fileBytes(path) != written) finding("writing the same value again changed the file", written);
}

}  // namespace
}  // namespace importacao

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  importacao::exercise(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
