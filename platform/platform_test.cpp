// The platform modules on the system they were built for (under Wine for the Windows build): file
// names with accents, reads at an offset, the log's appends, the refusals.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "platform/path.h"
#include "tests/support/temp_dir.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;

// An accented folder inside a folder of the test's own: the tests of this program run side by
// side, so none of them may share a fixed name under the temporary folder.
class ScratchFolder {
 public:
  ScratchFolder() : folder_(owner_.path() / pathFromUtf8("plataforma-Lojão-çã")) {
    fs::create_directories(folder_);
  }
  const fs::path& path() const { return folder_; }

 private:
  test_support::TempDir owner_{"plataforma"};
  fs::path folder_;
};

TEST(Paths, AccentedNamesGoBothWaysAndNameTheSameFile) {
  const ScratchFolder scratch;
  const fs::path& folder = scratch.path();
  for (const std::string name : {"Lojão.dbf", "CFA2010.DBF", "São Paulo – ação.udl"}) {
    SCOPED_TRACE(name);
    const fs::path path = folder / pathFromUtf8(name);
    std::ofstream(path) << "x";
    EXPECT_EQ(utf8Path(path.filename()), name);
    bool listed = false;
    for (const auto& entry : fs::directory_iterator(folder))
      listed = listed || utf8Path(entry.path().filename()) == name;
    EXPECT_TRUE(listed);
  }
}

TEST(OpenFile, ReadsAtAnyOffsetAndAppendsAtTheEnd) {
  const ScratchFolder scratch;
  const fs::path& folder = scratch.path();
  const fs::path path = folder / pathFromUtf8("registro-ç.log");
  std::error_code error;
  {
    std::ofstream(path) << "old content";
    OpenFile log = OpenFile::createForAppending(path, error);  // empties the file
    ASSERT_FALSE(error) << errorText(error);
    log.append("0123456789", error);
    log.append("abc", error);
    ASSERT_FALSE(error);
  }
  {
    OpenFile file = OpenFile::openForReading(path, error);
    ASSERT_FALSE(error) << errorText(error);
    EXPECT_EQ(file.size(error), 13u);
    std::array<std::byte, 4> bytes{};
    const struct {
      std::uint64_t offset;
      std::size_t count;
      char first;
    } cases[] = {{0, 4, '0'}, {8, 4, '8'}, {11, 2, 'b'}, {13, 0, 0}, {100, 0, 0}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.offset);
      EXPECT_EQ(file.readAt(c.offset, bytes, error), c.count);
      EXPECT_FALSE(error);
      if (c.count > 0) {
        EXPECT_EQ(static_cast<char>(bytes[0]), c.first);
      }
    }

    OpenFile again = OpenFile::createForAppending(path, error);
    again.append("abc", error);
    again.truncate(error);
    EXPECT_FALSE(error);
    EXPECT_EQ(file.size(error), 0u);
  }
}

TEST(OpenFile, RefusesAFolderAndAMissingFileWithTheSystemsText) {
  const ScratchFolder scratch;
  const fs::path& folder = scratch.path();
  std::error_code error;
  EXPECT_FALSE(OpenFile::openForReading(folder, error).isOpen());
  EXPECT_EQ(error, std::errc::is_a_directory);
  EXPECT_FALSE(OpenFile::openForReading(folder / "nada.dbf", error).isOpen());
  EXPECT_TRUE(error);
  EXPECT_FALSE(errorText(error).empty());
}

}  // namespace
}  // namespace importacao
