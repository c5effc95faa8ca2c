// The settings file on Windows: where it lives, the settings an earlier installation left in the
// Windows folder carried over, and accented values through the private-profile functions.
#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/run/settings.h"
#include "app/run/settings_test_support.h"
#include "platform/path.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

fs::path windowsFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  GetWindowsDirectoryW(folder, MAX_PATH + 1);
  return folder;
}

// APPDATA pointed at a folder of the test's for its lifetime; the Windows folder's file removed.
class SettingsLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("APPDATA");
    oldAppData_ = old != nullptr ? old : "";
    SetEnvironmentVariableW(L"APPDATA", appData_.path().c_str());
    fs::remove(earlier_);
  }
  void TearDown() override {
    fs::remove(earlier_);
    SetEnvironmentVariableA("APPDATA", oldAppData_.c_str());
  }
  TempDir appData_;
  fs::path earlier_ = windowsFolder() / "Importacao.ini";
  std::string oldAppData_;
};

TEST_F(SettingsLocation, LivesInTheUsersApplicationDataAndCarriesAnEarlierFileOver) {
  const fs::path expected = appData_.path() / "Importacao" / "Importacao.ini";
  const struct {
    const char* what;
    const char* earlier;  // the Windows folder's file, or null
    const char* current;  // the file already in place, or null
    std::string want;     // its content afterwards ("" : no file)
  } cases[] = {
      {"no file anywhere", nullptr, nullptr, ""},
      {"only the earlier one", "[Vendas]\r\nVendedor=7\r\n", nullptr, "[Vendas]\r\nVendedor=7\r\n"},
      {"both: the current one stays", "[Vendas]\r\nVendedor=7\r\n", "[Vendas]\r\nVendedor=8\r\n",
       "[Vendas]\r\nVendedor=8\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(appData_.path() / "Importacao");
    fs::remove(earlier_);
    if (c.earlier != nullptr) writeFile(earlier_, c.earlier);
    if (c.current != nullptr) {
      fs::create_directories(expected.parent_path());
      writeFile(expected, c.current);
    }
    EXPECT_EQ(fs::absolute(defaultSettingsPath()), expected);
    EXPECT_EQ(fs::exists(expected) ? readFile(expected) : "", c.want);
    // The earlier file is copied, never moved or changed.
    if (c.earlier != nullptr) EXPECT_EQ(readFile(earlier_), c.earlier);
  }
  // The carried-over file is the one the window then reads and writes.
  fs::remove_all(appData_.path() / "Importacao");
  writeFile(earlier_, "[Importacao]\r\nConexaoDBF=C:\\Dados\r\n");
  ProfileFile file(defaultSettingsPath());
  EXPECT_EQ(loadSettings(file).ConexaoDBF, "C:\\Dados");
  saveSettings(file, SettingsValues{});
  EXPECT_EQ(readFile(earlier_), "[Importacao]\r\nConexaoDBF=C:\\Dados\r\n");
}

TEST(ProfileFileWindows, AccentedValuesAndFileNamesGoThroughTheWideFunctions) {
  TempDir dir;
  ProfileFile file(dir.path() / pathFromUtf8("Lojão") / "Importacao.ini");
  SettingsValues values;
  values.ConexaoDBF = "C:\\Dados\\Lojão";
  values.ConexaoSQL = "\"C:\\Conexões\\São Paulo.udl\"";
  values.Cartao = "Cartão";
  saveSettings(file, values);
  SettingsValues read = loadSettings(file);
  EXPECT_EQ(read.ConexaoDBF, values.ConexaoDBF);
  EXPECT_EQ(read.ConexaoSQL, "C:\\Conexões\\São Paulo.udl");  // enclosing quotes dropped
  EXPECT_EQ(read.Cartao, "Cartão");
}

}  // namespace
}  // namespace importacao
