#include "app/cli/cli.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace importacao {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::variant<CliOptions, int> parse(std::vector<std::string> args, std::string* errText = nullptr) {
  args.insert(args.begin(), "importacao-cli");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  auto result = parseCliOptions(static_cast<int>(argv.size()), argv.data(), out, err);
  if (errText) *errText = err.str() + out.str();
  return result;
}

TEST(CliOptions, ReadsEveryRunOption) {
  const fs::path dir = fs::temp_directory_path() / ("cli-options-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "Importacao.ini") << "[Importacao]\n";
  std::ofstream(dir / "loja.udl") << "[oledb]\n";

  auto result =
      parse({"--settings", (dir / "Importacao.ini").string(), "--dbf-folder", dir.string(),
             "--data-link", (dir / "loja.udl").string(), "--products", "--customers", "--suppliers",
             "--log", (dir / "run.log").string(), "--dry-run", "--dbf-code-page", "1252"});
  ASSERT_TRUE(std::holds_alternative<CliOptions>(result));
  const CliOptions& o = std::get<CliOptions>(result);
  EXPECT_EQ(o.settings, dir / "Importacao.ini");
  EXPECT_EQ(o.dbfFolder, dir.string());
  EXPECT_EQ(o.dataLink, (dir / "loja.udl").string());
  EXPECT_TRUE(o.products && o.customers && o.suppliers && o.dryRun);
  EXPECT_EQ(o.logFile, dir / "run.log");
  EXPECT_EQ(o.dbfCodePage, 1252);
  EXPECT_FALSE(o.dumpDbf);
  fs::remove_all(dir);
}

TEST(CliOptions, DefaultsAreTheWindowsSettingsAndNoSection) {
  auto result = parse({});
  ASSERT_TRUE(std::holds_alternative<CliOptions>(result));
  const CliOptions& o = std::get<CliOptions>(result);
  EXPECT_EQ(o.settings.filename(), "Importacao.ini");
  EXPECT_FALSE(o.products || o.customers || o.suppliers || o.dryRun);
  EXPECT_FALSE(o.logFile || o.dbfFolder || o.dataLink || o.dbfCodePage);
}

TEST(CliOptions, UsageErrorsEndWithStatusTwoAndSayWhy) {
  struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--unknown"}, "--unknown"},
      {{"--settings", "/no/such/Importacao.ini"}, "/no/such/Importacao.ini"},
      {{"--dbf-folder", "/no/such/folder"}, "/no/such/folder"},
      {{"--data-link", "/no/such/loja.udl"}, "/no/such/loja.udl"},
      {{"--dbf-code-page", "65001"}, "65001"},
      {{"--dbf-code-page", "abc"}, "abc"},
      {{"--log"}, "--log"},
      {{"--dump-dbf", "x.dbf", "--products"}, "takes only --dbf-code-page, not --products"},
      {{"stray"}, "stray"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::string err;
    auto result = parse(c.args, &err);
    ASSERT_TRUE(std::holds_alternative<int>(result));
    EXPECT_EQ(std::get<int>(result), kExitUsage);
    EXPECT_THAT(err, HasSubstr(c.says));
  }
}

TEST(CliOptions, HelpEndsWithStatusZero) {
  std::string text;
  auto result = parse({"--help"}, &text);
  ASSERT_TRUE(std::holds_alternative<int>(result));
  EXPECT_EQ(std::get<int>(result), kExitCompleted);
  EXPECT_THAT(text, HasSubstr("--dry-run"));
  EXPECT_THAT(text, HasSubstr("--dump-dbf"));
}

TEST(CliOptions, DumpTakesACodePage) {
  auto result = parse({"--dump-dbf", "cfa1010.DBF", "--dbf-code-page", "850"});
  ASSERT_TRUE(std::holds_alternative<CliOptions>(result));
  EXPECT_EQ(std::get<CliOptions>(result).dumpDbf, "cfa1010.DBF");
  EXPECT_EQ(std::get<CliOptions>(result).dbfCodePage, 850);
}

}  // namespace
}  // namespace importacao
