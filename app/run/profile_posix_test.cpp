// The settings file as this program itself keeps it on POSIX systems: every other line kept byte
// for byte, atomic replacement, permissions and links, and where the file lives.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/run/settings.h"
#include "app/run/settings_test_support.h"
#include "data/errors.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using test_support::folderEntries;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;
using ::testing::ElementsAre;
using ::testing::ThrowsMessage;

TEST(ProfileFile, WritesOnlyTheLineOfTheKeyAndKeepsEveryOther) {
  struct {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  } cases[] = {
      {"missing file created", "", "Vendas", "Vendedor", "1", "[Vendas]\nVendedor=1\n"},
      {"value replaced in place", "; settings\n[Vendas]\nVendedor=1\nOutro=x\n", "Vendas",
       "Vendedor", "22", "; settings\n[Vendas]\nVendedor=22\nOutro=x\n"},
      {"key found without regard to case keeps its spelling", "[VENDAS]\n  VENDEDOR = 1 \n",
       "Vendas", "Vendedor", "3", "[VENDAS]\nVENDEDOR=3\n"},
      {"empty value written as Key=", "[I]\nK=abc\n", "I", "K", "", "[I]\nK=\n"},
      {"new key after the section's last entry", "[I]\nA=1\nB=2\n\n[J]\nC=3\n", "I", "K", "v",
       "[I]\nA=1\nB=2\nK=v\n\n[J]\nC=3\n"},
      {"new key in an empty section", "[I]\n[J]\nC=3\n", "I", "K", "v", "[I]\nK=v\n[J]\nC=3\n"},
      {"new section at the end", "[I]\nA=1\n", "J", "K", "v", "[I]\nA=1\n\n[J]\nK=v\n"},
      {"file without a last line end", "[I]\nA=1", "I", "K", "v", "[I]\nA=1\nK=v\n"},
      {"new section after a last line without line end", "[I]\nA=1", "J", "K", "v",
       "[I]\nA=1\n\n[J]\nK=v\n"},
      {"windows line ends kept and used", "[I]\r\nA=1\r\n[J]\r\nB=2\r\n", "I", "K", "v",
       "[I]\r\nA=1\r\nK=v\r\n[J]\r\nB=2\r\n"},
      {"byte-order mark kept", "\xEF\xBB\xBF[I]\nK=1\n", "I", "K", "2", "\xEF\xBB\xBF[I]\nK=2\n"},
      {"only the first of two equal keys changes", "[I]\nK=1\nK=2\n", "I", "K", "3",
       "[I]\nK=3\nK=2\n"},
      {"odd lines elsewhere untouched", "garbage line\n[I]\n  ; note\nK=1\n[J]\nX\n", "I", "K", "2",
       "garbage line\n[I]\n  ; note\nK=2\n[J]\nX\n"},
      {"quoted value written as it stands", "", "I", "K", "\"a b\"", "[I]\nK=\"a b\"\n"},
      {"blanks around the names given dropped", "[Vendas]\nVendedor=1\n", " Vendas ", "\tVendedor ",
       "2", "[Vendas]\nVendedor=2\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    if (!c.before.empty()) writeFile(dir / "Importacao.ini", c.before);
    ProfileFile(dir / "Importacao.ini").writeString(c.section, c.key, c.value);
    EXPECT_EQ(readFile(dir / "Importacao.ini"), c.after);
    EXPECT_THAT(folderEntries(dir.path()), ElementsAre("Importacao.ini"));
  }
}

TEST(ProfileFile, RefusedWriteFailsWithTheFileNameAndLeavesTheFileAsItWas) {
  const std::string before = "[Vendas]\nVendedor=1\n";
  struct {
    const char* what;
    const char* value;
    std::function<fs::path(const TempDir&)> prepare;  // returns the settings path
  } cases[] = {
      {"read-only file", "2",
       [&](const TempDir& d) {
         writeFile(d / "Importacao.ini", before);
         fs::permissions(d / "Importacao.ini", fs::perms::owner_read | fs::perms::group_read);
         return d / "Importacao.ini";
       }},
      {"read-only folder", "2",
       [&](const TempDir& d) {
         fs::create_directory(d / "ro");
         writeFile(d / "ro" / "Importacao.ini", before);
         fs::permissions(d / "ro", fs::perms::owner_read | fs::perms::owner_exec);
         return d / "ro" / "Importacao.ini";
       }},
      {"folder that cannot be created", "2",
       [&](const TempDir& d) {
         writeFile(d / "plainfile", "x");
         return d / "plainfile" / "sub" / "Importacao.ini";
       }},
      {"line break in the value", "2\n[Vendas]\nVendedor=3",
       [&](const TempDir& d) {
         writeFile(d / "Importacao.ini", before);
         return d / "Importacao.ini";
       }},
      {"carriage return in the value", "2\rX=1",
       [&](const TempDir& d) {
         writeFile(d / "Importacao.ini", before);
         return d / "Importacao.ini";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path path = c.prepare(dir);
    const std::vector<std::string> entries =
        folderEntries(path.parent_path().has_parent_path() && fs::is_directory(path.parent_path())
                          ? path.parent_path()
                          : dir.path());
    ProfileFile file(path);
    EXPECT_THAT([&] { file.writeString("Vendas", "Vendedor", c.value); },
                ThrowsMessage<DataError>("Unable to write to Importacao.ini"));
    if (fs::is_directory(path.parent_path())) {
      EXPECT_EQ(readFile(path), before);
      EXPECT_EQ(folderEntries(path.parent_path()), entries);  // no temporary file left
    }
  }
}

// Runs `write` in a child process whose files may not grow past `limit` bytes, as on a full
// disk. Returns the message the write raised, or "" when it did not raise.
std::string writeWithFileSizeLimit(rlim_t limit, const std::function<void()>& write) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    std::string message;
    try {
      write();
    } catch (const std::exception& e) {
      message = e.what();
    }
    (void)!::write(pipeFds[1], message.data(), message.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string message;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return message;
}

TEST(ProfileFile, AFullDiskLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string before = "[Importacao]\nConexaoDBF=/dados\n[Vendas]\nVendedor=1\n";
  writeFile(dir / "Importacao.ini", before);
  const std::string bigValue(4096, 'v');
  const std::string message = writeWithFileSizeLimit(1024, [&] {
    ProfileFile(dir / "Importacao.ini").writeString("Importacao", "ConexaoDBF", bigValue);
  });
  EXPECT_EQ(message, "Unable to write to Importacao.ini");
  EXPECT_EQ(readFile(dir / "Importacao.ini"), before);
  EXPECT_THAT(folderEntries(dir.path()), ElementsAre("Importacao.ini"));
}

TEST(ProfileFile, KeepsPermissionsAndWritesThroughASymbolicLink) {
  TempDir dir;
  fs::create_directory(dir / "real");
  writeFile(dir / "real" / "Importacao.ini", "[Vendas]\nVendedor=1\n");
  fs::permissions(dir / "real" / "Importacao.ini", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(dir / "real" / "Importacao.ini", dir / "Importacao.ini");

  ProfileFile(dir / "Importacao.ini").writeString("Vendas", "Vendedor", "9");

  EXPECT_TRUE(fs::is_symlink(dir / "Importacao.ini"));
  EXPECT_EQ(readFile(dir / "real" / "Importacao.ini"), "[Vendas]\nVendedor=9\n");
  EXPECT_EQ(fs::status(dir / "real" / "Importacao.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST(Settings, LocationFollowsXdgConfigHome) {
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedConfig = oldConfig ? oldConfig : "";
  const std::string savedHome = oldHome ? oldHome : "";

  ::setenv("XDG_CONFIG_HOME", "/cfg/here", 1);
  ::setenv("HOME", "/home/op", 1);
  EXPECT_EQ(defaultSettingsPath(), fs::path("/cfg/here/Importacao.ini"));
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(defaultSettingsPath(), fs::path("/home/op/.config/Importacao.ini"));
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(defaultSettingsPath(), fs::path("/home/op/.config/Importacao.ini"));
  EXPECT_EQ(builtInConnectionString(defaultSettingsPath()),
            "FILE NAME=/home/op/.config/Importacao.udl");

  if (oldConfig) ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
  if (oldHome)
    ::setenv("HOME", savedHome.c_str(), 1);
  else
    ::unsetenv("HOME");
}

}  // namespace
}  // namespace importacao
