// The settings file's rules, which both implementations keep (this program's own on POSIX
// systems, the system's private-profile functions on Windows), and the eight settings on it.
#include "app/run/settings.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/run/settings_test_support.h"
#include "app/run/window_layout.h"
#include "data/errors.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ThrowsMessage;

using test_support::folderEntries;
using test_support::kOwnProfileReader;
using test_support::readFile;
using test_support::settingsText;
using test_support::TempDir;
using test_support::writeFile;

TEST(Settings, FirstStartWithoutAFileGivesTheDefaults) {
  TempDir dir;
  const SettingsValues values = loadSettings(ProfileFile(dir / "Importacao.ini"));
  EXPECT_EQ(values, SettingsValues{});
  EXPECT_EQ(values.ConexaoDBF, "");
  EXPECT_EQ(values.Vendedor, "1");
  EXPECT_FALSE(fs::exists(dir / "Importacao.ini"));  // reading never creates the file
}

TEST(Settings, EachSettingIsShownByAnEditBoxOfTheSettingsPageInTabOrder) {
  // Both windows find the box of a setting by its layout name.
  std::vector<std::string_view> boxes, shown;
  for (const layout::Control* control : layout::kTabOrder)
    if (control->parent == layout::Parent::SettingsPage) boxes.push_back(control->name);
  for (const SettingKey& setting : kSettingKeys) shown.push_back(setting.control);
  EXPECT_EQ(shown, boxes);
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

  EXPECT_EQ(settingsText(file.path()),
            "[Importacao]\n"
            "ConexaoDBF=/srv/loja/dados\n"
            "ConexaoSQL=\"/srv/loja/conexão nova.udl\"\n"
            "[FormaPgto]\n"
            "Duplicata=\n"
            "Cheque=2\n"
            "Avista=\n"
            "Cartao=\n"
            "DepBanco=\n"
            "[Vendas]\n"
            "Vendedor=\n");

  // Read back, the quotes around the data-link path are gone; everything else is as saved.
  SettingsValues expected = values;
  expected.ConexaoSQL = "/srv/loja/conexão nova.udl";
  EXPECT_EQ(loadSettings(file), expected);

  // A second save over the same file changes values in place and adds no line.
  values.Vendedor = "7";
  saveSettings(file, values);
  EXPECT_THAT(settingsText(file.path()), ::testing::EndsWith("[Vendas]\nVendedor=7\n"));
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
  EXPECT_EQ(settingsText(file.path()), "[Importacao]\nConexaoDBF=/novo\nConexaoSQL=/novo.udl\n");
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
    bool ownReaderOnly = false;  // a line or a file the system's functions read their own way
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
      {"line without equals sign is no entry", "[I]\nK\nK=5\n", "I", "K", "5", true},
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
      {"the cut counts characters, not bytes (a UTF-8 file)", "[I]\nK=" + longAccented + "\n", "I",
       "K", cutAccented, true},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.ownReaderOnly && !kOwnProfileReader) continue;
    writeFile(dir / "Importacao.ini", c.content);
    EXPECT_EQ(ProfileFile(dir / "Importacao.ini").readString(c.section, c.key, "dflt"), c.want);
  }
}

TEST(ProfileFile, CreatesMissingFolders) {
  TempDir dir;
  ProfileFile file(dir.path() / "config" / "deeper" / "Importacao.ini");
  file.writeString("Vendas", "Vendedor", "4");
  EXPECT_EQ(file.readString("Vendas", "Vendedor", ""), "4");
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
  } cases[] = {{"850", 850},           {" 1252 ", 1252},       {"437", 437},
               {"852", 852},           {"866", 866},           {"1250", 1250},
               {"1251", 1251},         {"", std::nullopt},     {"65001", std::nullopt},
               {"850x", std::nullopt}, {"-850", std::nullopt}, {"cp850", std::nullopt}};
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

}  // namespace
}  // namespace importacao
