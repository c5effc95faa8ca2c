// The declared store objects (StoreObjects) on the schema the project ships, in PostgreSQL and
// SQLite: every declaration binds, the lookups find what they should, the procedure and the
// initial-stock insert do their work.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/errors.h"
#include "data/store/declarations.h"
#include "tests/store_access/error_capture.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

using test_support::messageOf;
using test_support::StoreTest;
using ::testing::HasSubstr;
using ::testing::Optional;

class StoreObjectsTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    objects_.Tendaro.setConnectionString(store().dataLinkConnectionString());
    objects_.Tendaro.connect();
  }
  bool postgres() { return GetParam() == StoreKind::PostgreSql; }
  std::optional<std::string> value(std::string_view sql,
                                   const test_support::SqlParams& params = {}) {
    return store().scalar(sql, params);
  }

  // Looks up a municipality code as the customers section does.
  std::string municipality(std::string_view uf, std::string_view cidade) {
    StoreQuery& q = objects_.ADOQuery1;
    q.close();
    q.parameterByName("uf").setValue(std::string(uf));
    q.parameterByName("cidade").setValue(std::string(cidade));
    q.open();
    return q.isEmpty() ? "0" : q.fieldByName("codmun").asText();
  }

  StoreObjects objects_;
};

TEST_P(StoreObjectsTest, EveryDeclaredQueryOpensOnTheShippedSchema) {
  StoreObjects& s = objects_;
  s.aProdutos.parameterByName("idreferencia").setValue(std::string("1234"));
  s.aBarras.parameter(0).setValue(std::string("1234"));
  s.aBarras.parameter(1).setValue(std::int64_t{1});
  s.aBarras.parameter(2).setValue(std::string("0"));
  s.aBarras.parameter(3).setValue(std::string("0000123401012"));
  s.aEstoque.parameter(0).setValue(std::string("1234"));
  s.aEstoque.parameter(1).setValue(std::int64_t{1});
  s.aEstoque.parameter(2).setValue(std::string("0"));
  s.aEstoque.parameter(3).setValue(std::int64_t{1});
  s.aPreco.parameter(0).setValue(std::string("1234"));
  s.aPreco.parameter(1).setValue(std::int64_t{1});
  s.aClientes.parameter(0).setValue(std::int64_t{1});
  s.aFornecedor.parameter(0).setValue(std::int64_t{1});
  s.ADOQuery1.parameter(0).setValue(std::string("SP"));
  s.ADOQuery1.parameter(1).setValue(std::string("CAMPINAS"));
  struct {
    StoreQuery* query;
    std::size_t fields;  // 0: derived, at least 55
  } cases[] = {{&s.aProdutos, 0},  {&s.aBarras, 7},     {&s.aEstoque, 13}, {&s.aPreco, 5},
               {&s.aClientes, 61}, {&s.aFornecedor, 0}, {&s.ADOQuery1, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query->name());
    EXPECT_EQ(messageOf([&] { c.query->open(); }), "(no error)");
    if (c.fields == 0) {
      EXPECT_GE(c.query->fieldCount(), 23u);
    } else {
      EXPECT_EQ(c.query->fieldCount(), c.fields);
    }
  }
  EXPECT_GE(s.aProdutos.fieldCount(), 55u);
  EXPECT_TRUE(s.aProdutos.isEmpty());
  EXPECT_FALSE(s.ADOQuery1.isEmpty());
  EXPECT_EQ(s.ADOQuery1.fieldByName("codmun").asText(), "09502");
}

TEST_P(StoreObjectsTest, MunicipalityLookupMatchesTheStoresCapitalSpelling) {
  struct {
    std::string_view uf;
    std::string_view cidade;
    std::string_view want;
  } cases[] = {
      {"SP", "S\xC3O PAULO", "50308"},  // SÃO PAULO, code page 1252
      {"SP", "CAMPINAS", "09502"},     {"RJ", "CAMPINAS", "0"}, {"SP", "Campinas", "0"},
      {"SP", "SAO PAULO", "0"},        {"SP", "", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cidade);
    EXPECT_EQ(municipality(c.uf, c.cidade), c.want);
  }
  const Field& cidade = objects_.ADOQuery1.fieldByName("Cidade");
  EXPECT_TRUE(cidade.readOnly());
  EXPECT_EQ(cidade.kind(), FieldKind::Text);
}

TEST_P(StoreObjectsTest, MunicipalityLookupWorksWhenTheNameColumnIsUnboundedText) {
  // PostgreSQL's text (and what upper() returns) reaches the driver as a long text; the declared
  // Cidade (text 30) must still bind.
  if (postgres()) {
    store().execute("drop index ix_Municipio_IDSIGLA_NOME");
    store().execute("alter table Municipio alter column NOME type text");
    EXPECT_THAT(value("select data_type from information_schema.columns where table_schema = "
                      "current_schema() "
                      "and table_name = 'municipio' and column_name = 'nome'"),
                Optional(std::string("text")));
  } else {
    store().execute(
        "create table m2 as select IdMunicipio, IDSIGLA, cast(NOME as text) as NOME, codmun from "
        "Municipio");
    store().execute("drop table Municipio");
    store().execute(
        "create table Municipio (IdMunicipio integer primary key, IDSIGLA varchar(2), NOME text, "
        "codmun varchar(5))");
    store().execute("insert into Municipio select * from m2");
  }
  EXPECT_EQ(municipality("SP", "S\xC3O PAULO"), "50308");
  EXPECT_EQ(objects_.ADOQuery1.fieldByName("Cidade").asText(), "S\xC3O PAULO");
}

TEST_P(StoreObjectsTest, StockProcedureCreatesTheStockRowOnce) {
  StoredProc& p = objects_.sp_Estoque;
  for (int call = 0; call < 2; ++call) {
    p.parameter(1).setValue(std::string("1234"));
    p.parameter(2).setValue(std::int64_t{1});
    p.parameter(3).setValue(std::string("0"));
    p.parameter(4).setValue(std::int64_t{1});
    p.parameter(5).setValue(std::int64_t{1});
    p.execProc();
  }
  EXPECT_EQ(store().query(
                "select IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam from lj_referEst"),
            (test_support::SqlRows{{"1", "1", "1", "1234", "1", "0"}}));
  EXPECT_EQ(p.callText(), postgres()
                              ? "select Sp_EstoqueInicial(?,?,?,?,?)"
                              : "insert into Sp_EstoqueInicial (\"refer\", \"idcor\", \"tam\", "
                                "\"idempresa\", \"idfilial\") values (?,?,?,?,?)");
  // The row it made is there for the physical-stock step.
  StoreQuery& e = objects_.aEstoque;
  e.parameter(0).setValue(std::string("1234"));
  e.parameter(1).setValue(std::int64_t{1});
  e.parameter(2).setValue(std::int64_t{0});  // an integer for the text size: compared as "0"
  e.parameter(3).setValue(std::int64_t{1});
  e.open();
  ASSERT_FALSE(e.isEmpty());
  e.edit();
  e.fieldByName("est_fisico").assignFloat(-3.5);
  e.post();
  EXPECT_THAT(value("select Est_Fisico from lj_referEst"), Optional(std::string("-3.5")));
}

TEST_P(StoreObjectsTest, AProcedureThatFailsReportsTheStoresText) {
  if (postgres()) {
    store().execute(
        "create or replace function sp_EstoqueInicial(refer varchar, idcor integer, tam varchar, "
        "idempresa integer, idfilial integer) returns integer language plpgsql as $$ begin "
        "raise exception 'estoque recusado para %', refer; end $$");
  } else {
    store().execute("drop trigger Sp_EstoqueInicial_call");
    store().execute(
        "create trigger Sp_EstoqueInicial_call instead of insert on Sp_EstoqueInicial "
        "begin select raise(abort, 'estoque recusado'); end");
  }
  StoredProc& p = objects_.sp_Estoque;
  p.parameter(1).setValue(std::string("9"));
  for (long long i = 2; i <= 5; ++i) p.parameter(i).setValue(std::int64_t{1});
  EXPECT_THAT(messageOf([&] { p.execProc(); }), HasSubstr("estoque recusado"));
}

TEST_P(StoreObjectsTest, InitialStockEntryIsInsertedOnEveryExecute) {
  StoreQuery& q = objects_.EstInicial;
  const DateTime now{45351.0 + (9 * 3600 + 8 * 60 + 7.654) / 86400.0};  // 2024-02-29 09:08:07.654
  for (int run = 0; run < 2; ++run) {
    q.parameter(0).setValue(now);
    q.parameter(1).setValue(std::string("1234"));
    q.parameter(2).setValue(-2.5);
    q.parameter(3).setValue(std::int64_t{1});
    EXPECT_EQ(q.execute(), 1);
  }
  EXPECT_FALSE(q.active());
  const std::string when = postgres() ? "to_char(data, 'YYYY-MM-DD HH24:MI:SS.MS')" : "data";
  EXPECT_EQ(
      store().query("select " + when +
                    ", sequencia, idreferencia, idcor, tam, est_atual, idestoque "
                    "from estoqueinicial"),
      (test_support::SqlRows{{"2024-02-29 09:08:07.654", "0", "1234", "1", "0", "-2.5", "1"},
                             {"2024-02-29 09:08:07.654", "0", "1234", "1", "0", "-2.5", "1"}}));
}

TEST_P(StoreObjectsTest, CustomerRowRoundTripsThroughTheDeclaredFields) {
  StoreQuery& q = objects_.aClientes;
  q.parameterByName("idcliente").setValue(std::int64_t{17});
  q.open();
  q.edit();
  q.fieldByName("IdCliente").assignInteger(17);
  q.fieldByName("NomeCliente").assignText("Jos\xE9 da Concei\xE7\xE3o");
  q.fieldByName("Observacao").assignText("Cliente Importado do Sistema Antigo\rsem obs");
  q.fieldByName("CodMun").assignText("0");
  q.fieldByName("LimiteCredito").assignFloat(1500.75);
  q.post();
  EXPECT_THAT(value("select NomeCliente from clientes where IdCliente = 17"),
              Optional(std::string("José da Conceição")));
  // A second run finds the row and updates it; unassigned columns keep their values.
  store().execute("update clientes set Email = 'a@b.c' where IdCliente = 17");
  q.close();
  q.open();
  ASSERT_FALSE(q.isEmpty());
  EXPECT_EQ(q.fieldByName("Observacao").asText(), "Cliente Importado do Sistema Antigo\rsem obs");
  q.edit();
  q.fieldByName("NomeCliente").assignText("Jose da Conceicao");
  q.post();
  EXPECT_EQ(store().query("select NomeCliente, Email, LimiteCredito from clientes"),
            (test_support::SqlRows{{"Jose da Conceicao", "a@b.c", "1500.75"}}));
}

TEST_P(StoreObjectsTest, CustomerTableThatDiffersFromTheDeclarationFailsTheOpen) {
  // The store changes between runs, which reconnect.
  objects_.Tendaro.disconnect();
  if (postgres()) {
    store().execute("alter table clientes alter column DDD type float");
    store().execute("alter table clientes drop column Email");
  } else {
    store().execute("alter table clientes drop column DDD");
    store().execute("alter table clientes add column DDD float");
  }
  StoreQuery& q = objects_.aClientes;
  q.parameterByName("idcliente").setValue(std::int64_t{1});
  EXPECT_EQ(messageOf([&] { q.open(); }),
            "aClientes: Type mismatch for field 'DDD', expecting: Integer actual: Float");
  EXPECT_FALSE(q.active());
  if (postgres()) {
    objects_.Tendaro.disconnect();
    store().execute("alter table clientes alter column DDD type integer");
    EXPECT_EQ(messageOf([&] { q.open(); }), "aClientes: Field 'Email' not found");
  }
}

TEST_P(StoreObjectsTest, FieldAndParameterLookupsCarryTheObjectsName) {
  objects_.aFornecedor.parameterByName("idfornecedor").setValue(std::int64_t{1});
  objects_.aFornecedor.open();
  EXPECT_EQ(messageOf([&] { objects_.aFornecedor.fieldByName("codmunx"); }),
            "aFornecedor: Field 'codmunx' not found");
  EXPECT_EQ(messageOf([&] { objects_.aBarras.parameterByName("idcolor"); }),
            "aBarras: Parameter 'idcolor' not found");
  EXPECT_EQ(messageOf([&] { objects_.aClientes.post(); }),
            "aClientes: Dataset not in edit or insert mode");
  EXPECT_EQ(messageOf([&] { objects_.sp_Estoque.parameter(6); }), "List index out of bounds (6)");
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreObjectsTest, test_support::kAllStores,
                         test_support::storeTestName);

}  // namespace
}  // namespace importacao
