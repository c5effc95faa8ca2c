// A file of a fixed name in a folder of its own, rewritten with each input: what the fuzz targets
// hand to code that reads files by path. The folder goes when the object does.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace importacao::testing {

class ScratchFile {
 public:
  // In /dev/shm when there is one (in memory: code that flushes each write stays fast), else /tmp.
  ScratchFile(std::string_view folderPrefix, std::string_view fileName) {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
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

}  // namespace importacao::testing
