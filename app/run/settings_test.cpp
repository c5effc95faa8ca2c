#include "app/run/settings.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/errors.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ThrowsMessage;

// A fresh folder under /tmp, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "settings-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(path_, error))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void writeFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> folderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Settings, FirstStartWithoutAFileGivesTheDefaults) {
  TempDir dir;
  const SettingsValues values = loadSettings(ProfileFile(dir / "Importacao.ini"));
  EXPECT_EQ(values, SettingsValues{});
  EXPECT_EQ(values.ConexaoDBF, "");
  EXPECT_EQ(values.Vendedor, "1");
  EXPECT_FALSE(fs::exists(dir / "Importacao.ini"));  // reading never creates the file
}

TEST(Settings, SaveWritesAllEightKeysInTheirSectionsEmptyOnesToo) {
  TempDir dir;
  ProfileFile file(dir / "Importacao.ini");
  SettingsValues values;
  values.ConexaoDBF = "/srv/loja/dados";
  values.ConexaoSQL = "\"/srv/loja/conexão nova.udl\"";
  values.Cheque = "2";
  values.Vendedor = "";
  saveSettings(file, values);

  EXPECT_EQ(readFile(file.path()),
            "[Importacao]\n"
            "ConexaoDBF=/srv/loja/dados\n"
            "ConexaoSQL=\"/srv/loja/conexão nova.udl\"\n"
            "\n"
            "[FormaPgto]\n"
            "Duplicata=\n"
            "Cheque=2\n"
            "Avista=\n"
            "Cartao=\n"
            "DepBanco=\n"
            "\n"
            "[Vendas]\n"
            "Vendedor=\n");

  // Read back, the quotes around the data-link path are gone; everything else is as saved.
  SettingsValues expected = values;
  expected.ConexaoSQL = "/srv/loja/conexão nova.udl";
  EXPECT_EQ(loadSettings(file), expected);

  // A second save over the same file changes values in place and adds no line.
  values.Vendedor = "7";
  saveSettings(file, values);
  EXPECT_THAT(readFile(file.path()), ::testing::EndsWith("[Vendas]\nVendedor=7\n"));
  EXPECT_THAT(folderEntries(dir.path()), ElementsAre("Importacao.ini"));
}

TEST(Settings, KeysSavedBeforeARefusedOneKeepTheirNewValues) {
  TempDir dir;
  ProfileFile file(dir / "Importacao.ini");
  SettingsValues values;
  values.ConexaoDBF = "/novo";
  values.ConexaoSQL = "/novo.udl";
  values.Duplicata = "1\n[Vendas]\nVendedor=99";  // refused: it would forge other lines
  values.Vendedor = "5";
  EXPECT_THAT([&] { saveSettings(file, values); },
              ThrowsMessage<DataError>("Unable to write to Importacao.ini"));
  EXPECT_EQ(readFile(file.path()), "[Importacao]\nConexaoDBF=/novo\nConexaoSQL=/novo.udl\n");
  EXPECT_EQ(loadSettings(file).Vendedor, "1");
}

TEST(ProfileFile, ReadsByThePrivateProfileRules) {
  const std::string longAscii(3000, 'x');
  std::string longAccented;
  for (int i = 0; i < 2100; ++i) longAccented += "ã";
  std::string cutAccented;
  for (int i = 0; i < 2047; ++i) cutAccented += "ã";

  struct {
    const char* what;
    std::string content;
    const char* section;
    const char* key;
    std::string want;
  } cases[] = {
      {"plain value", "[Vendas]\nVendedor=12\n", "Vendas", "Vendedor", "12"},
      {"section and key without regard to case", "[VENDAS]\nvEnDeDoR=12\n", "vendas", "VENDEDOR",
       "12"},
      {"blanks around key and value dropped", "  [ Vendas ]  \n  Vendedor  =  1 2  \n", "Vendas",
       "Vendedor", "1 2"},
      {"blanks around the names asked for dropped", "[Vendas]\nVendedor=12\n", " Vendas\t",
       "\tVendedor ", "12"},
      {"double quotes dropped", "[I]\nK=\"C:\\a b\\c.udl\"\n", "I", "K", "C:\\a b\\c.udl"},
      {"single quotes dropped", "[I]\nK='x y'\n", "I", "K", "x y"},
      {"quotes inside kept", "[I]\nK=a\"b\"c\n", "I", "K", "a\"b\"c"},
      {"mismatched quotes kept", "[I]\nK=\"abc'\n", "I", "K", "\"abc'"},
      {"a lone quote kept", "[I]\nK=\"\n", "I", "K", "\""},
      {"empty quotes give empty", "[I]\nK=\"\"\n", "I", "K", ""},
      {"an equals sign inside the value", "[I]\nK=a=b\n", "I", "K", "a=b"},
      {"empty value", "[Vendas]\nVendedor=\n", "Vendas", "Vendedor", ""},
      {"missing key gives the default", "[Vendas]\nOutro=3\n", "Vendas", "Vendedor", "dflt"},
      {"key of another section not found", "[A]\nVendedor=3\n[Vendas]\n", "Vendas", "Vendedor",
       "dflt"},
      {"missing section gives the default", "[A]\nK=1\n", "B", "K", "dflt"},
      {"first of two keys wins", "[I]\nK=1\nK=2\n", "I", "K", "1"},
      {"first of two sections wins", "[I]\nA=1\n[I]\nK=2\n", "I", "K", "dflt"},
      {"line without equals sign is no entry", "[I]\nK\nK=5\n", "I", "K", "5"},
      {"a commented-out key is not the key", "[I]\n;K=1\nK=2\n", "I", "K", "2"},
      {"windows line ends", "[I]\r\nK=abc\r\n", "I", "K", "abc"},
      {"byte-order mark before the first section", "\xEF\xBB\xBF[I]\nK=1\n", "I", "K", "1"},
      {"last line without line end", "[I]\nK=end", "I", "K", "end"},
      // The carriage return is what is left of a line end: kept, the value would lose it as soon
      // as a write put a line feed after it.
      {"last line ending in a lone carriage return", "[I]\nK=end\r", "I", "K", "end"},
      {"line ending in two carriage returns", "[I]\r\nK=end\r\r\nL=1\r\n", "I", "K", "end"},
      {"a code page 1252 file is converted", "[I]\nK=S\xE3o Jos\xE9\n", "I", "K", "São José"},
      {"cut to 2047 characters", "[I]\nK=" + longAscii + "\n", "I", "K", longAscii.substr(0, 2047)},
      {"the cut counts characters, not bytes", "[I]\nK=" + longAccented + "\n", "I", "K",
       cutAccented},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir / "Importacao.ini", c.content);
    EXPECT_EQ(ProfileFile(dir / "Importacao.ini").readString(c.section, c.key, "dflt"), c.want);
  }
}

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
      {"byte-order mark kept", "\xEF\xBB\xBF[I]\nK=1\n", "I", "K", "2",
       "\xEF\xBB\xBF[I]\nK=2\n"},
      {"only the first of two equal keys changes", "[I]\nK=1\nK=2\n", "I", "K", "3",
       "[I]\nK=3\nK=2\n"},
      {"odd lines elsewhere untouched", "garbage line\n[I]\n  ; note\nK=1\n[J]\nX\n", "I", "K",
       "2", "garbage line\n[I]\n  ; note\nK=2\n[J]\nX\n"},
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

TEST(ProfileFile, CreatesMissingFolders) {
  TempDir dir;
  ProfileFile file(dir.path() / "config" / "deeper" / "Importacao.ini");
  file.writeString("Vendas", "Vendedor", "4");
  EXPECT_EQ(file.readString("Vendas", "Vendedor", ""), "4");
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
    const std::vector<std::string> entries = folderEntries(path.parent_path().has_parent_path() &&
                                                                   fs::is_directory(path.parent_path())
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

TEST(ProfileFile, RefusesNamesThatWouldNotReadBackAndLeavesTheFileAsItWas) {
  const std::string before = "[Vendas]\nVendedor=1\n";
  struct {
    const char* what;
    const char* section;
    const char* key;
  } cases[] = {
      {"key holding an equals sign", "Vendas", "Vende=dor"},
      {"empty key", "Vendas", ""},
      {"key of blanks only", "Vendas", " \t "},
      // "[x=v" would read as a section header: the value could never be read, and each write
      // would add the line again.
      {"key beginning with a bracket", "Vendas", "[Vendedor"},
      {"key beginning with a bracket after blanks", "Nova", "  [x"},
      {"section holding a closing bracket", "Ven]das", "Vendedor"},
      {"line break in the section", "Vendas\n[X", "Vendedor"},
      {"line break in the key", "Vendas", "Vendedor\nX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    writeFile(dir / "Importacao.ini", before);
    ProfileFile file(dir / "Importacao.ini");
    EXPECT_THAT([&] { file.writeString(c.section, c.key, "2"); },
                ThrowsMessage<DataError>("Unable to write to Importacao.ini"));
    EXPECT_EQ(readFile(dir / "Importacao.ini"), before);
  }
}

TEST(ProfileFile, MessageNamesTheBareFileName) {
  TempDir dir;
  writeFile(dir / "outro.ini", "");
  fs::permissions(dir / "outro.ini", fs::perms::owner_read);
  EXPECT_THAT([&] { ProfileFile(dir / "outro.ini").writeString("A", "B", "C"); },
              ThrowsMessage<DataError>("Unable to write to outro.ini"));
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

TEST(Settings, CodePageOverrideIsReadWhenPresentAndNeverWritten) {
  TempDir dir;
  ProfileFile file(dir / "Importacao.ini");
  EXPECT_EQ(legacyCodePageSetting(file), std::nullopt);
  writeFile(file.path(), "[importacao]\npaginacodigodbf = 1252\n");
  EXPECT_EQ(legacyCodePageSetting(file), std::optional<std::string>("1252"));
  saveSettings(file, SettingsValues{});
  EXPECT_EQ(legacyCodePageSetting(file), std::optional<std::string>("1252"));
  writeFile(file.path(), "[Importacao]\nPaginaCodigoDBF=\n");
  EXPECT_EQ(legacyCodePageSetting(file), std::optional<std::string>(""));
}

TEST(Settings, CodePageOverrideMustBeACodePageTheReaderKnows) {
  TempDir dir;
  ProfileFile file(dir / "Importacao.ini");
  struct {
    const char* content;
    std::optional<int> want;
  } accepted[] = {{"", std::nullopt},
                  {"[Importacao]\nPaginaCodigoDBF=\n", std::nullopt},
                  {"[Importacao]\nPaginaCodigoDBF=  \n", std::nullopt},
                  {"[Importacao]\nPaginaCodigoDBF=850\n", 850},
                  {"[IMPORTACAO]\nPAGINACODIGODBF=\"1251\"\n", 1251}};
  for (const auto& c : accepted) {
    SCOPED_TRACE(c.content);
    writeFile(file.path(), c.content);
    EXPECT_EQ(legacyCodePageOverride(file), c.want);
  }
  writeFile(file.path(), "[Importacao]\nPaginaCodigoDBF=utf8\n");
  EXPECT_THAT([&] { legacyCodePageOverride(file); },
              ThrowsMessage<DataError>(
                  "Importacao.ini: PaginaCodigoDBF=utf8 is not a code page the legacy tables can "
                  "be read in (437, 850, 852, 866, 1250, 1251 or 1252)"));
}

TEST(Settings, ParsesOnlyTheCodePagesTheReaderKnows) {
  struct {
    const char* text;
    std::optional<int> want;
  } cases[] = {{"850", 850},      {" 1252 ", 1252}, {"437", 437},     {"852", 852},
               {"866", 866},      {"1250", 1250},   {"1251", 1251},   {"", std::nullopt},
               {"65001", std::nullopt}, {"850x", std::nullopt}, {"-850", std::nullopt},
               {"cp850", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseCodePage(c.text), c.want);
  }
}

TEST(Settings, DataLinkFileNameReadsTheFileNameBox) {
  TempDir dir;
  const std::string withBlank = (dir / "minha loja.udl").string();
  writeFile(withBlank, "[oledb]\n");
  struct {
    const char* what;
    std::string text;
    std::string want;
  } cases[] = {
      {"existing file with a blank, unquoted", withBlank, withBlank},
      {"existing file with a blank, quoted", "\"" + withBlank + "\"", withBlank},
      {"missing file: first item", "/a/b.udl -x", "/a/b.udl"},
      {"quoted stretch holds blanks", "\"/a b/c d.udl\" more", "/a b/c d.udl"},
      {"quotes in the middle of an item", "/a\" b\"/c.udl", "/a b/c.udl"},
      {"leading blanks skipped", "   /x.udl", "/x.udl"},
      {"unclosed quote runs to the end", "\"/a b", "/a b"},
      {"empty text", "", ""},
      {"only blanks", "   ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(dataLinkFileName(c.text), c.want);
  }
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
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1); else ::unsetenv("HOME");
}

}  // namespace
}  // namespace importacao
