// Faults these tests found in the product, kept as regressions. A field descriptor whose width
// byte was damaged to 0 used to be read without a word: the fields after it were read from the
// wrong bytes of every record, so the product below landed with an empty description and a price
// of 0. Such a table is now refused at open, naming the file and the field.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/faults/fault_support.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

using faults::FolderSnapshot;
using faults::readFile;
using faults::runCli;
using faults::writeFile;
using test_support::DbfBuilder;
using test_support::TestStore;
using ::testing::HasSubstr;

namespace fs = std::filesystem;

TEST(FoundFault, AFieldOfWidthZeroIsRefusedAtOpenInsteadOfShiftingTheFieldsAfterIt) {
  TestStore store(StoreKind::Sqlite, test_support::kNoSeed);
  const fs::path folder = store.workDirectory() / "legado";
  fs::create_directories(folder);
  const auto bytes =
      DbfBuilder::products()
          .languageByte(0x03)
          .recordWith({{"pd_cod", "1"}, {"pd_dsc", "PRODUTO UM"}, {"pd_vlr_rf", "2.50"}})
          .bytes();
  std::string file(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  file[32 + 32 * 1 + 16] = '\0';  // width of pd_dsc, the second field
  writeFile(folder / "cfa1010.DBF", file);
  const FolderSnapshot before = FolderSnapshot::of(folder);
  const fs::path settings = store.workDirectory() / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoDBF=" << folder.string()
                          << "\nConexaoSQL=" << store.writeDataLink().string() << "\n";

  const faults::CliOutcome outcome = runCli({"--settings", settings.string(), "--products"});

  EXPECT_EQ(outcome.status, 1) << outcome.out << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("cfa1010.DBF"));
  EXPECT_THAT(outcome.err, HasSubstr("pd_dsc"));
  EXPECT_EQ(store.scalar("select count(*) from lj_produtos"), "0")
      << "written: "
      << store
             .scalar(
                 "select Descricao || ' / ' || (select PrecoVenda from lj_referPrc) from "
                 "lj_produtos")
             .value_or("");
  EXPECT_EQ(FolderSnapshot::of(folder), before);
}

}  // namespace
}  // namespace importacao
