// What the settings tests share: a scratch folder and small file helpers.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "normalise/codepage.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace importacao::test_support {

namespace fs = std::filesystem;

// Whether the settings file is read and written by this program itself (POSIX), or by the
// system's private-profile functions (Windows: the file in the ANSI code page, odd lines read the
// system's way).
#ifdef _WIN32
inline constexpr bool kOwnProfileReader = false;
#else
inline constexpr bool kOwnProfileReader = true;
#endif

// The entries of a settings file as text to compare: UTF-8 (a Windows file is in code page
// 1252), "\n" line ends, no blank lines.
inline std::string settingsText(const fs::path& path) {
  std::string text = readFile(path);
  if (!isValidUtf8(text)) text = cp1252ToUtf8(text);
  std::string lines;
  for (const char c : text) {
    if (c == '\r' || (c == '\n' && (lines.empty() || lines.back() == '\n'))) continue;
    lines += c;
  }
  return lines;
}

inline std::vector<std::string> folderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace importacao::test_support
