// A fresh folder under the system's temporary folder for one test, removed with everything in it
// when the object goes (files and folders the test made read-only included). Header-only.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace importacao::test_support {

class TempDir {
 public:
  // The folder's name is `prefix`, a dash and a random number.
  explicit TempDir(std::string_view prefix = "imp-test") {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() /
              (std::string(prefix) + "-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(path_, error))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // Writes `bytes` to the file `name` in the folder; returns its path.
  std::filesystem::path write(const std::string& name, std::string_view bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace importacao::test_support
