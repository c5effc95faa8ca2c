// What the fuzz targets share: a scratch file for code that reads files by path, how a target
// reports a broken property, and the blank trimming their own oracles use (written apart from
// the code under test on purpose).
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace importacao::test_support {

// A broken property: says what and on what, and aborts so that the fuzzer keeps the input.
[[noreturn]] inline void finding(const char* what, std::string_view detail) {
  std::fprintf(stderr, "FINDING: %s\n  [%.*s]\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

// Without the blanks and tabs around it.
inline std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A file of a fixed name in a folder of its own, rewritten with each input. The folder goes when
// the object does.
class ScratchFile {
 public:
  // In /dev/shm when there is one (in memory: code that flushes each write stays fast), else /tmp.
  ScratchFile(std::string_view folderPrefix, std::string_view fileName) {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = (base / (std::string(folderPrefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    file_ = folder_ / fileName;
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::filesystem::path& write(std::string_view bytes) const {
    std::ofstream(file_, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file_;
  }

 private:
  std::filesystem::path folder_;
  std::filesystem::path file_;
};

}  // namespace importacao::test_support
