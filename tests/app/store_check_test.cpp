// The store check against the project's schema and against one store per defect, on PostgreSQL
// and SQLite: what it finds, and that it leaves the store as it was. Then importacao-cli
// --check-store as a program.
#include "app/run/store_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "data/store/declarations.h"
#include "tests/support/cli_runner.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

using test_support::TestStore;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kTables[] = {"lj_produtos",  "lj_referBar",    "lj_referPrc",
                                   "lj_referEst",  "estoqueinicial", "clientes",
                                   "fornecedores", "Municipio",      "Estado"};

// Every table's row count, and the store's own count of changes: on PostgreSQL the rows
// inserted, updated and deleted in the store's schema; on SQLite the file's change counter and
// the data version another connection's commit moves.
std::vector<std::string> changeCounters(TestStore& store) {
  std::vector<std::string> counters;
  for (const char* table : kTables) {
    try {
      counters.push_back(
          store.scalar(std::string("select count(*) from ") + table).value_or("null"));
    } catch (const test_support::TestStoreError&) {
      counters.push_back("no table");
    }
  }
  if (store.kind() == StoreKind::PostgreSql) {
    // A session's counts reach the statistics as it ends, a moment after it disconnects.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    counters.push_back(*store.scalar(
        "select coalesce(sum(n_tup_ins + n_tup_upd + n_tup_del), 0) from pg_stat_user_tables "
        "where schemaname = current_schema()"));
  } else {
    std::ifstream file(store.databaseFile(), std::ios::binary);
    char header[28] = {};
    file.read(header, sizeof header);
    counters.emplace_back(header + 24, 4);
    counters.push_back(*store.scalar("pragma data_version"));
  }
  return counters;
}

// SQLite cannot change a column's type or drop a primary key: the table is made again from its
// own statement with `from` replaced by `to`.
void remakeSqliteTable(TestStore& store, const std::string& table, const std::string& from,
                       const std::string& to) {
  std::string statement =
      *store.scalar("select sql from sqlite_master where type = 'table' and name = ?", {table});
  const std::size_t at = statement.find(from);
  ASSERT_NE(at, std::string::npos) << statement;
  statement.replace(at, from.size(), to);
  store.execute("alter table " + table + " rename to velha");
  store.execute(statement);
  store.execute("insert into " + table + " select * from velha");
  store.execute("drop table velha");
}

class StoreCheckTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  bool postgres() const { return GetParam() == StoreKind::PostgreSql; }

  // Checks the store as a run connects to it, and that it is left as it was.
  std::vector<StoreCheckLine> checkUnchanged(TestStore& store) {
    const std::vector<std::string> before = changeCounters(store);
    StoreObjects objects;
    objects.Tendaro.setConnectionString(store.dataLinkConnectionString());
    std::vector<StoreCheckLine> lines = checkStore(objects);
    EXPECT_EQ(changeCounters(store), before) << "the check changed the store";
    return lines;
  }

  static std::vector<std::string> failures(const std::vector<StoreCheckLine>& lines) {
    std::vector<std::string> out;
    for (const StoreCheckLine& line : lines) {
      if (!line.passed) out.push_back(line.text);
    }
    return out;
  }
};

TEST_P(StoreCheckTest, TheProjectsSchemaPassesEveryCheck) {
  TestStore store(GetParam());
  const std::vector<StoreCheckLine> lines = checkUnchanged(store);
  EXPECT_THAT(failures(lines), ::testing::IsEmpty());
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0].text, postgres() ? "store connection: PostgreSQL through psqlodbcw.so"
                                      : "store connection: SQLite through sqlite3odbc.so");
  // The key as the store spells it: PostgreSQL keeps unquoted names in lower case.
  EXPECT_EQ(lines[2].text, postgres() ? "lj_produtos: primary key (idreferencia)"
                                      : "lj_produtos: primary key (IdReferencia)");
  EXPECT_EQ(lines.back().text, "Municipio: 5571 rows");
}

TEST_P(StoreCheckTest, EachDefectFailsItsOwnCheckAndNoOther) {
  struct Defect {
    std::string label;
    std::function<void(TestStore&)> make;
    ::testing::Matcher<std::string> failure;
  };
  const bool pg = postgres();
  const Defect defects[] = {
      {"a missing table", [](TestStore& s) { s.execute("drop table lj_referPrc"); },
       AllOf(StartsWith("lj_referPrc: cannot be read: "),
             HasSubstr(pg ? "relation \"lj_referprc\" does not exist"
                          : "no such table: lj_referPrc"))},
      {"a missing column",
       [](TestStore& s) { s.execute("alter table lj_produtos drop column NCM"); },
       ::testing::Eq("lj_produtos: aProdutos: Field 'NCM' not found")},
      {"a column of a kind that does not fit",
       [pg](TestStore& s) {
         if (pg) {
           s.execute("alter table clientes alter column Observacao type varchar(50)");
         } else {
           s.execute("alter table clientes drop column Observacao");
           s.execute("alter table clientes add column Observacao varchar(50)");
         }
       },
       ::testing::Eq("clientes: aClientes: Type mismatch for field 'Observacao', expecting: Memo "
                     "actual: String")},
      {"a key column too short",
       [pg](TestStore& s) {
         if (pg) {
           s.execute("alter table lj_produtos alter column IdReferencia type varchar(8)");
         } else {
           remakeSqliteTable(s, "lj_produtos", "IdReferencia      varchar(10)",
                             "IdReferencia      varchar(8)");
         }
       },
       ::testing::Eq("lj_produtos: column 'IdReferencia' holds 8 characters; the Produtos section "
                     "writes up to "
                     "10 into it (the product key)")},
      {"no primary key",
       [pg](TestStore& s) {
         if (pg) {
           s.execute("alter table lj_referPrc drop constraint lj_referprc_pkey");
         } else {
           remakeSqliteTable(s, "lj_referPrc", "datetime,\n  primary key (IdReferencia, IdTabela)",
                             "datetime");
         }
       },
       AllOf(StartsWith("lj_referPrc: aPreco: Table '"),
             EndsWith("' has no primary key, so its rows cannot be updated"))},
      {"no stock procedure",
       [pg](TestStore& s) {
         s.execute(
             pg ? "drop function sp_EstoqueInicial(varchar, integer, varchar, integer, integer)"
                : "drop view Sp_EstoqueInicial");
       },
       StartsWith(pg ? "Sp_EstoqueInicial: no such procedure in the store; the Produtos section "
                       "calls it with 5 "
                       "inputs (@refer, @idcor, @tam, @idempresa, @idfilial)"
                     : "Sp_EstoqueInicial: no such view in the store")},
      {"an empty Municipio", [](TestStore& s) { s.execute("delete from Municipio"); },
       StartsWith("Municipio: holds no rows, so every customer's and supplier's municipality "
                  "lookup would miss")},
  };
  for (const Defect& defect : defects) {
    SCOPED_TRACE(defect.label);
    TestStore store(GetParam());
    defect.make(store);
    const std::vector<std::string> failed = failures(checkUnchanged(store));
    ASSERT_EQ(failed.size(), 1u) << ::testing::PrintToString(failed);
    EXPECT_THAT(failed[0], defect.failure);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreCheckTest, test_support::kAllStores,
                         test_support::storeTestName);

TEST(StoreCheckProgram, PrintsALinePerCheckAndTheCountAndEndsByWhatItFound) {
  TestStore store(StoreKind::Sqlite);
  const std::filesystem::path settings = store.workDirectory() / "Importacao.ini";
  std::ofstream(settings) << "[Importacao]\nConexaoSQL=" << store.writeDataLink().string() << "\n";

  const test_support::CliOutcome good =
      test_support::runCli({"--check-store", "--settings", settings.string()});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_THAT(good.out, StartsWith("OK    store connection: SQLite through sqlite3odbc.so\n"));
  EXPECT_THAT(good.out, EndsWith("OK    Municipio: 5571 rows\n18 checks: 18 passed, 0 failed\n"));

  store.execute("delete from Municipio");
  const test_support::CliOutcome bad =
      test_support::runCli({"--check-store", "--settings", settings.string(), "--data-link",
                            store.writeDataLink().string()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_THAT(bad.out, HasSubstr("\nFAIL  Municipio: holds no rows"));
  EXPECT_THAT(bad.out, EndsWith("\n18 checks: 17 passed, 1 failed\n"));

  const test_support::CliOutcome usage =
      test_support::runCli({"--check-store", "--products", "--settings", settings.string()});
  EXPECT_EQ(usage.status, 2);
  EXPECT_THAT(
      usage.err,
      HasSubstr("--check-store checks the store and imports nothing; it takes only --settings "
                "and --data-link, not --products"));
}

}  // namespace
}  // namespace importacao
