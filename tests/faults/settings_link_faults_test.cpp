// Settings and data-link files the program cannot use: a settings file it may not write (the
// window's run saves it first), data-link files that are missing, empty, no text of either
// kind, or name a provider it does not know, and a password that needs quoting and is wrong.
// Each ends the run with a clear message before any record, and no password shows anywhere.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/run/import_objects.h"
#include "app/run/run_core.h"
#include "app/run/settings.h"
#include "data/errors.h"
#include "tests/faults/fault_support.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"
#include "tests/support/recording_host.h"

namespace importacao {
namespace {

using faults::FolderSnapshot;
using faults::readFile;
using faults::runCli;
using faults::writeFile;
using test_support::DbfBuilder;
using test_support::TestStore;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace fs = std::filesystem;

// A password that needs every kind of quoting an initialisation string knows.
const std::string kSecret = "s3;cr'e\"t}={x";

// The password as an initialisation string writes it: in double quotes, '"' doubled.
std::string quotedSecret(const std::string& password) {
  std::string out = "\"";
  for (char c : password) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// UTF-16LE of ASCII text, without a byte-order mark.
std::string utf16(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

using LogHost = test_support::RecordingHost;

const std::string kMark = "\xFF\xFE";

class AllTicked final : public RunControls {
 public:
  explicit AllTicked(SettingsValues values) : values_(std::move(values)) {}
  SettingsValues settingsFromControls() const override { return values_; }
  bool sectionTicked(SectionId) const override { return true; }

 private:
  SettingsValues values_;
};

// The window's run saves the settings first: a file or folder it may not write ends the run with
// "Unable to write to Importacao.ini" before either database is touched.
TEST(SettingsFault, ASettingsFileThatCannotBeWrittenEndsTheRunBeforeAnyDatabase) {
  TestStore store(StoreKind::Sqlite, test_support::kNoSeed);
  const fs::path folder = store.workDirectory() / "legado";
  fs::create_directories(folder);
  DbfBuilder::products().recordWith({{"pd_cod", "1"}}).writeTo(folder / "cfa1010.DBF");
  const FolderSnapshot legacy = FolderSnapshot::of(folder);
  const std::string before = "[Importacao]\r\nConexaoDBF=/antes\r\n[Vendas]\r\nVendedor=7\r\n";
  struct {
    const char* what;
    fs::path settings;
    fs::path lockedFolder;  // made read-only, if not empty
  } cases[] = {
      {"read-only file", store.workDirectory() / "arquivo" / "Importacao.ini", {}},
      {"read-only folder", store.workDirectory() / "pasta" / "Importacao.ini",
       store.workDirectory() / "pasta"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(c.settings.parent_path());
    writeFile(c.settings, before);
    fs::permissions(c.settings,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (!c.lockedFolder.empty())
      fs::permissions(c.lockedFolder, fs::perms::owner_read | fs::perms::owner_exec);

    SettingsValues values;
    values.ConexaoDBF = folder.string();
    values.ConexaoSQL = store.writeDataLink().string();
    values.Vendedor = "1";
    ProfileFile file(c.settings);
    ProfileSettingsWriter writer(file);
    ImportObjects objects(builtInConnectionString(c.settings));
    LogHost host;
    RunCore core(host, objects.runParts(writer));
    std::string message;
    try {
      core.BitBtn1Click(AllTicked(values));
    } catch (const DataError& e) {
      message = e.what();
    }
    EXPECT_EQ(message, "Unable to write to Importacao.ini");
    EXPECT_THAT(host.lines, IsEmpty());
    EXPECT_EQ(readFile(c.settings), before);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(c.settings.parent_path()), fs::directory_iterator()),
        1)
        << "a temporary file was left beside the settings";
    EXPECT_EQ(store.scalar("select count(*) from lj_produtos"), "0");
    EXPECT_EQ(FolderSnapshot::of(folder), legacy);
    if (!c.lockedFolder.empty()) fs::permissions(c.lockedFolder, fs::perms::owner_all);
    fs::permissions(c.settings, fs::perms::owner_read | fs::perms::owner_write);
  }
}

// importacao-cli over a settings file whose ConexaoSQL names `dataLink` (written with `bytes`
// unless null) and a legacy folder with one product.
class DataLinkFault : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = store_.workDirectory() / "legado";
    fs::create_directories(folder_);
    DbfBuilder::products().recordWith({{"pd_cod", "1"}}).writeTo(folder_ / "cfa1010.DBF");
    legacy_ = FolderSnapshot::of(folder_);
  }
  void TearDown() override { EXPECT_EQ(FolderSnapshot::of(folder_), legacy_); }

  faults::CliOutcome run(const fs::path& dataLink) {
    const fs::path settings = store_.workDirectory() / "Importacao.ini";
    std::ofstream(settings, std::ios::trunc) << "[Importacao]\nConexaoDBF=" << folder_.string()
                                             << "\nConexaoSQL=" << dataLink.string() << "\n";
    fs::remove(log());
    return runCli({"--settings", settings.string(), "--log", log().string(), "--products"});
  }
  fs::path log() const { return store_.workDirectory() / "importacao.log"; }

  TestStore store_{StoreKind::Sqlite, test_support::kNoSeed};
  fs::path folder_;
  FolderSnapshot legacy_;
};

TEST_F(DataLinkFault, FilesItCannotUseEndTheRunWithAMessageNamingThemAndNeverThePassword) {
  const fs::path dir = store_.workDirectory();
  const std::string header = "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n";
  const std::string unknown = "Provider=Nenhum.1;User ID=loja;Password=" + quotedSecret(kSecret);
  struct {
    const char* what;
    std::string name;
    std::optional<std::string> bytes;  // nullopt: the file is not there
    std::string message;               // after "Data-link file '<path>' "
  } cases[] = {
      {"missing, and no Importacao.udl beside the settings", "nada.udl", std::nullopt,
       "does not exist"},
      {"empty", "vazio.udl", "", "is empty"},
      {"only a byte-order mark", "marca.udl", kMark, "is empty"},
      {"binary garbage", "lixo.udl",
       std::string("\x00\x9F\x13\xFF\x01Password=", 15) + kSecret + std::string("\x00\x00\x80", 3),
       "is not a data-link file"},
      // UTF-16 saved without its mark, or cut after an odd byte, is still read: the provider it
      // names shows it was.
      {"UTF-16 without its byte-order mark", "sem-marca.udl", utf16(header + unknown + "\r\n"),
       "names the provider 'Nenhum.1', which this program cannot use"},
      {"UTF-16 with an odd number of bytes", "impar.udl",
       kMark + utf16(header + unknown + "\r\n") + "x",
       "names the provider 'Nenhum.1', which this program cannot use"},
      {"an unknown provider", "provedor.udl",
       kMark + utf16(header + "Provider=Microsoft.Jet.OLEDB.4.0;Password=" + quotedSecret(kSecret) +
                     ";Data Source=c:\\loja.mdb\r\n"),
       "names the provider 'Microsoft.Jet.OLEDB.4.0', which this program cannot use"},
      {"a quote left open around the password", "aspas.udl",
       header + "Provider=SQLOLEDB.1;User ID=loja;Password=\"" + kSecret + ";Data Source=x\r\n",
       "has text after the closing quote"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path file = dir / c.name;
    if (c.bytes) writeFile(file, *c.bytes);
    const faults::CliOutcome outcome = run(file);
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    // A data-link file that is not there is no error in itself: the connection falls back to the
    // one beside the settings file. That one missing too, the message names both, the typed first.
    if (c.bytes)
      EXPECT_THAT(outcome.err, HasSubstr("Data-link file '" + file.string() + "' " + c.message));
    else
      EXPECT_THAT(outcome.err, HasSubstr("The data-link file '" + file.string() +
                                         "' does not exist, and neither does '" +
                                         (dir / "Importacao.udl").string() + "'"));
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(fs::exists(log()) ? readFile(log()) : "", "");
    for (const std::string& piece : {kSecret, std::string("s3;cr")})
      EXPECT_THAT(outcome.out + outcome.err, Not(HasSubstr(piece)));
  }
}

TEST_F(DataLinkFault, ADataLinkOptionNamingNoFileIsAUsageError) {
  const fs::path missing = store_.workDirectory() / "nao-existe.udl";
  const fs::path settings = store_.workDirectory() / "Importacao.ini";
  std::ofstream(settings, std::ios::trunc)
      << "[Importacao]\nConexaoDBF=" << folder_.string() << "\n";
  const faults::CliOutcome outcome =
      runCli({"--settings", settings.string(), "--data-link", missing.string(), "--products"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_THAT(outcome.err, HasSubstr(missing.string()));
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(store_.scalar("select count(*) from lj_produtos"), "0");
}

// A server that checks passwords, and a data-link file whose password needs quoting and is wrong
// by one character: the driver's refusal, and the password nowhere.
TEST(DataLinkPassword, AWrongPasswordWithQuotesAndSemicolonsIsRefusedAndNeverShown) {
  faults::PrivateServer server;
  ASSERT_TRUE(server.psql("create role cliente login password 's3;cr''e\"t}={x'"));
  ASSERT_TRUE(server.requirePasswords());
  const fs::path dir = server.directory() / "caso";
  fs::create_directories(dir / "legado");
  DbfBuilder::products().recordWith({{"pd_cod", "1"}}).writeTo(dir / "legado" / "cfa1010.DBF");
  const FolderSnapshot legacy = FolderSnapshot::of(dir / "legado");
  const std::string odbc =
      "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + server.port() + ";Database=loja";
  struct {
    std::string password;
    bool connects;
  } cases[] = {{kSecret + "?", false}, {"s3;cr'e\"t", false}, {kSecret, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    writeFile(
        dir / "loja.udl",
        kMark + utf16("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                      "Provider=MSDASQL.1;Persist Security Info=True;User ID=cliente;Password=" +
                      quotedSecret(c.password) + ";Extended Properties=" + quotedSecret(odbc) +
                      "\r\n"));
    std::ofstream(dir / "Importacao.ini", std::ios::trunc)
        << "[Importacao]\nConexaoDBF=" << (dir / "legado").string()
        << "\nConexaoSQL=" << (dir / "loja.udl").string() << "\n";
    fs::remove(dir / "importacao.log");
    // No section ticked: the runner connects both databases and ends.
    const faults::CliOutcome outcome = runCli({"--settings", (dir / "Importacao.ini").string(),
                                               "--log", (dir / "importacao.log").string()});
    const std::string everything = outcome.out + outcome.err + readFile(dir / "importacao.log");
    if (c.connects) {
      EXPECT_EQ(outcome.status, 0) << outcome.err;
      EXPECT_EQ(outcome.out, "Processo concluido\n");
    } else {
      EXPECT_EQ(outcome.status, 1);
      EXPECT_THAT(outcome.err, HasSubstr("password authentication failed for user \"cliente\""));
      EXPECT_EQ(outcome.out, "");
    }
    for (const std::string& piece : {kSecret, std::string("s3;cr"), std::string("cr'e")})
      EXPECT_THAT(everything, Not(HasSubstr(piece)));
  }
  EXPECT_EQ(FolderSnapshot::of(dir / "legado"), legacy);
}

}  // namespace
}  // namespace importacao
