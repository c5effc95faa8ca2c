// The products section in a whole run against real stores: legacy tables written to a folder,
// the application's own objects (ConDb, Tendaro and their objects, the run core with its frame),
// and a throw-away PostgreSQL schema or SQLite file with the project's store schema.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/run/import_objects.h"
#include "app/run/run_core.h"
#include "data/errors.h"
#include "import/products/products_section.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"
#include "tests/support/recording_host.h"

namespace importacao {
namespace {

using test_support::DbfBuilder;
using test_support::RecordingHost;
using test_support::SqlRows;
using test_support::StoreTest;
using test_support::TestStoreOptions;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace fs = std::filesystem;

const std::string kBarcodeLine =
    "Importando C\xF3"
    "digo de Barras do Produto - ";

class ProductsOnly final : public RunControls {
 public:
  SettingsValues settingsFromControls() const override { return settings; }
  bool sectionTicked(SectionId section) const override { return section == SectionId::Products; }
  SettingsValues settings;
};

// The five lines of a product that went through.
std::vector<std::string> productLines(const std::string& key) {
  return {"Importando Produto - " + key, kBarcodeLine + key, "Gravando Preco do Produto - " + key,
          "Gerando Estoque do Produto - " + key, "Gerando Estoque inicial - " + key};
}

double number(const std::optional<std::string>& text) {
  if (!text) return std::nan("");
  return std::stod(*text);
}

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

class ProductsRun : public StoreTest {
 protected:
  TestStoreOptions options() const override {
    TestStoreOptions o;
    o.seed = false;  // the products section reads no municipality
    return o;
  }

  void SetUp() override {
    StoreTest::SetUp();
    folder_ = store().workDirectory() / "legado";
    fs::create_directories(folder_);
    controls_.settings.ConexaoDBF = folder_.string();
    controls_.settings.ConexaoSQL = store().writeDataLink().string();
  }

  bool postgres() const { return GetParam() == StoreKind::PostgreSql; }

  void writeProducts(const DbfBuilder& table) { table.writeTo(folder_ / "cfa1010.DBF"); }

  // One run with "Produtos" ticked, on objects of its own (as a new start of the program).
  // `prepare` may hook the host before the run starts (e.g. to press "Parar" at a line).
  // Returns the log; the error that ended the run, if any, is in runError().
  std::vector<std::string> run(const std::function<void(RunCore&, RecordingHost&)>& prepare = {}) {
    ImportObjects objects("");
    NoSettingsWriter settings;
    RecordingHost host;
    RunCore core(host, objects.runParts(settings));
    if (prepare) prepare(core, host);
    runError_.reset();
    try {
      core.BitBtn1Click(controls_);
    } catch (const std::exception& error) {
      runError_ = error.what();
    }
    summary_ = core.summary();
    return host.lines;
  }

  const std::optional<std::string>& runError() const { return runError_; }
  const RunSummary& summary() const { return summary_; }

  SqlRows rows(std::string_view sql) { return store().query(sql); }
  long count(const std::string& table) {
    return std::stol(*store().scalar("select count(*) from " + table));
  }

  fs::path folder_;
  ProductsOnly controls_;
  std::optional<std::string> runError_;
  RunSummary summary_;
};

DbfBuilder products() { return DbfBuilder::products().languageByte(0x03); }

// Every column the section writes to lj_produtos but DataCadastro and DataAlteracao, which a
// new run sets anew.
constexpr const char* kMasterColumnsButDates =
    "select IdReferencia, Descricao, ApelidoProduto, DenominacaoFiscal, IdGrupo, IdTamanho,"
    " IdColecao, Tam_Ini, Tam_Fim, Status, PrcCompra, PrcUltCusto, PrcMedio, PercMargem,"
    " Promocao, Localizacao, RefAnterior, UndVenda, UndCompra, IdFornecedor, TipoProduto,"
    " VlrPromocao, Icms, Consignado, Qtd1, Qtd2, Qtd3, Qtd4, Qtd5, Qtd6, FatorConversao, Prc1,"
    " Prc2, Prc3, IdTecido, IdAliquota, IdMarca, UndVendaQtde, UndCompraQtde, SubTributaria,"
    " TipoSped, PercPis, PercCofins, CSTPis, CSTCofins, CSTIpiEntrada, CSTIPI, CSOSN,"
    " DescPromocao, Origem_Mercadoria, ListaPrecoVenda, NCM, CST"
    " from lj_produtos order by IdReferencia";

TEST_P(ProductsRun, LogOfASmallTableIsExactToTheByte) {
  writeProducts(products()
                    .recordWith({{"pd_cod", "12.345-6"}, {"pd_dsc", "CANETA"}, {"pd_qtd", "3"}})
                    .recordWith({{"pd_cod", "999"}}, /*deleted=*/true)
                    .recordWith({{"pd_cod", "1234567890-12"}, {"pd_dsc", "LONGO"}})
                    .recordWith({{"pd_cod", "ABC"}, {"pd_dsc", "LAPIS"}}));
  const std::vector<std::string> log = run();

  std::vector<std::string> want{"Lendo Tabela de Produtos"};
  for (const auto& line : productLines("123456")) want.push_back(line);
  want.push_back("Importando Produto - 123456789012");
  want.push_back(
      "Erro gravando o Produto - 123456789012\r"
      "C\xF3"
      "digo do produto excede 10 caracteres");
  for (const auto& line : productLines("ABC")) want.push_back(line);
  want.push_back("Processo concluido");
  EXPECT_EQ(log, want);
  EXPECT_EQ(runError(), std::nullopt);

  ASSERT_EQ(summary().sections.size(), 1u);
  const SectionStats& stats = summary().sections[0];
  EXPECT_EQ(stats.read, 3);
  EXPECT_EQ(stats.inserted, 2);
  EXPECT_EQ(stats.updated, 0);
  EXPECT_EQ(stats.failed, 1);
  EXPECT_EQ(rows("select idreferencia from lj_produtos order by idreferencia"),
            (SqlRows{{"123456"}, {"ABC"}}));
  EXPECT_EQ(count("estoqueinicial"), 2);
}

TEST_P(ProductsRun, NewProductGetsItsRowsWithTheFixedValues) {
  writeProducts(products().recordWith({{"pd_cod", "1234"},
                                       {"pd_dsc",
                                        "A\xC7\xDA"
                                        "CAR CRISTAL  1KG"},
                                       {"pd_apl", "ACUCAR"},
                                       {"pd_und", "KG"},
                                       {"pd_frn", "17"},
                                       {"pd_qtd_mn", "2.5"},
                                       {"pd_vlr_rf", "4.99"},
                                       {"pd_qtd", "12.125"}}));
  run();

  const SqlRows master = rows(
      "select IdReferencia, Descricao, ApelidoProduto, DenominacaoFiscal, Status, Promocao,"
      " Localizacao, RefAnterior, UndVenda, UndCompra, TipoProduto, Consignado, IdAliquota,"
      " SubTributaria, TipoSped, CSTPis, CSTCofins, CSTIpiEntrada, CSTIPI, CSOSN,"
      " Origem_Mercadoria, ListaPrecoVenda, NCM, CST from lj_produtos");
  ASSERT_EQ(master.size(), 1u);
  EXPECT_EQ(master[0], (test_support::SqlRow{"1234",
                                             "A\u00C7\u00DA"
                                             "CAR CRISTAL  1KG",
                                             "ACUCAR",
                                             "A\u00C7\u00DA"
                                             "CAR CRISTAL  1KG",
                                             "A",
                                             "N",
                                             "",
                                             "",
                                             "KG",
                                             "KG",
                                             "P",
                                             "N",
                                             "T18",
                                             "N",
                                             "00",
                                             "99",
                                             "99",
                                             "049",
                                             "99",
                                             "102",
                                             "0",
                                             "N",
                                             "",
                                             "000"}));

  const char* const numbers[] = {
      "IdGrupo", "IdTamanho", "IdColecao", "Tam_Ini", "Tam_Fim", "PrcCompra", "PrcUltCusto",
      "PrcMedio", "PercMargem", "IdFornecedor", "VlrPromocao", "Icms", "Qtd1", "Qtd2", "Qtd3",
      "Qtd4", "Qtd5", "Qtd6", "FatorConversao", "Prc1", "Prc2", "Prc3", "IdTecido", "IdMarca",
      "UndVendaQtde", "UndCompraQtde", "PercPis", "PercCofins", "DescPromocao",
      // never written: the store's defaults
      "PesoBruto", "Garantia"};
  const double want[] = {1, 1, 1, 1, 1, 0, 0, 0, 0, 17, 0, 0, 0, 0, 0, 0,
                         0, 0, 1, 0, 0, 0, 1, 1, 1, 1,  0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < std::size(numbers); ++i) {
    SCOPED_TRACE(numbers[i]);
    EXPECT_EQ(number(store().scalar(std::string("select ") + numbers[i] + " from lj_produtos")),
              want[i]);
  }
  EXPECT_EQ(store().scalar("select ExpLoja from lj_produtos"), "N");
  EXPECT_EQ(store().scalar("select Observacao from lj_produtos"), std::nullopt);
  EXPECT_EQ(*store().scalar("select DataCadastro from lj_produtos"),
            postgres() ? today() + " 00:00:00" : today() + " 00:00:00.000");
  EXPECT_THAT(*store().scalar("select DataAlteracao from lj_produtos"), StartsWith(today()));

  EXPECT_EQ(rows("select IdReferencia, IdCor, Tam, CodBarra from lj_referBar"),
            (SqlRows{{"1234", "1", "0", "0000123401012"}}));
  EXPECT_EQ(number(store().scalar("select Est_Minimo from lj_referBar")), 2.5);
  EXPECT_EQ(number(store().scalar("select Est_Maximo from lj_referBar")), 1.0);
  EXPECT_EQ(rows("select IdReferencia, IdTabela from lj_referPrc"), (SqlRows{{"1234", "1"}}));
  EXPECT_EQ(number(store().scalar("select PrecoVenda from lj_referPrc")), 4.99);
  EXPECT_EQ(rows("select sequencia, idreferencia, idcor, tam, idestoque from estoqueinicial"),
            (SqlRows{{"0", "1234", "1", "0", "1"}}));
  EXPECT_EQ(number(store().scalar("select est_atual from estoqueinicial")), 12.125);
  // The procedure made the stock row; the section set its physical stock.
  EXPECT_EQ(rows("select IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam from lj_referEst"),
            (SqlRows{{"1", "1", "1", "1234", "1", "0"}}));
  EXPECT_EQ(number(store().scalar("select Est_Fisico from lj_referEst")), 12.125);
  EXPECT_EQ(number(store().scalar("select Est_Fiscal from lj_referEst")), 0);
}

TEST_P(ProductsRun, ExistingProductHasOnlyTheFiftyFiveColumnsOverwritten) {
  // Dates with milliseconds: the SQLite store compares them as text when it updates a row.
  store().execute(
      "insert into lj_produtos (IdReferencia, Descricao, Status, DataCadastro, IdGrupo, Icms,"
      " NCM, PesoBruto, Garantia, ExpLoja, Observacao)"
      " values ('55', 'ANTIGA', 'I', '2001-02-03 04:05:06.000', 9, 18, '12345678', 2.5, 12, 'S',"
      " 'guardado')");
  store().execute(
      "insert into lj_referPrc (IdReferencia, IdTabela, PrecoVenda, DataAlteracao, DataInclusao)"
      " values ('55', 1, 9, '2001-02-03 04:05:06.000', '2001-02-03 04:05:06.000'),"
      " ('55', 2, 8, '2001-02-03 04:05:06.000', '2001-02-03 04:05:06.000')");
  // A barcode row of another code for the same product, colour and size: a second row is added.
  store().execute(
      "insert into lj_referBar (IdReferencia, IdCor, Tam, CodBarra, Est_Minimo, Sincronizado)"
      " values ('55', 1, '0', '7890000000001', 4, 'S')");
  writeProducts(products().recordWith({{"pd_cod", "55"}, {"pd_dsc", "NOVA"}, {"pd_vlr_rf", "3"}}));
  const auto log = run();

  EXPECT_EQ(log.size(), 7u) << ::testing::PrintToString(log);
  EXPECT_EQ(summary().sections.at(0).updated, 1);
  EXPECT_EQ(rows("select Descricao, Status, IdGrupo, NCM, Garantia, ExpLoja, Observacao"
                 " from lj_produtos"),
            (SqlRows{{"NOVA", "A", "1", "", "12", "S", "guardado"}}));
  EXPECT_EQ(number(store().scalar("select Icms from lj_produtos")), 0);
  EXPECT_EQ(number(store().scalar("select PesoBruto from lj_produtos")), 2.5);
  EXPECT_THAT(*store().scalar("select DataCadastro from lj_produtos"), StartsWith(today()));

  const SqlRows prices =
      rows("select IdTabela, PrecoVenda, DataInclusao from lj_referPrc order by IdTabela");
  ASSERT_EQ(prices.size(), 2u);
  EXPECT_EQ(number(prices[0][1]), 3);
  EXPECT_THAT(*prices[0][2], StartsWith(today()));
  EXPECT_EQ(number(prices[1][1]), 8);
  EXPECT_THAT(*prices[1][2], StartsWith("2001-02-03"));

  EXPECT_EQ(rows("select CodBarra, Sincronizado from lj_referBar order by CodBarra"),
            (SqlRows{{"0000005501014", "N"}, {"7890000000001", "S"}}));
}

TEST_P(ProductsRun, SecondRunUpdatesTheSameRowsAndAddsOneEntryEach) {
  writeProducts(
      products()
          .recordWith({{"pd_cod", "10"}, {"pd_dsc", "UM"}, {"pd_qtd_mn", "1"}, {"pd_qtd", "4"}})
          .recordWith({{"pd_cod", "20"}, {"pd_dsc", "DOIS"}, {"pd_qtd", "6"}}));
  run();
  const SqlRows firstBarcodes =
      rows("select IdReferencia, CodBarra, DataAlteracao from lj_referBar order by IdReferencia");
  EXPECT_EQ(summary().sections.at(0).inserted, 2);
  const SqlRows firstMasters = rows(kMasterColumnsButDates);

  // The legacy table changes between the runs: the store follows it.
  writeProducts(
      products()
          .recordWith({{"pd_cod", "10"}, {"pd_dsc", "UM"}, {"pd_qtd_mn", "7"}, {"pd_qtd", "5"}})
          .recordWith({{"pd_cod", "20"}, {"pd_dsc", "DOIS"}, {"pd_qtd", "6"}}));
  const auto log = run();
  EXPECT_EQ(log.size(), 1u + 10u + 1u);
  EXPECT_EQ(summary().sections.at(0).updated, 2);
  EXPECT_EQ(summary().sections.at(0).inserted, 0);

  EXPECT_EQ(count("lj_produtos"), 2);
  // The update writes what the insert wrote: only the two dates move.
  EXPECT_EQ(rows(kMasterColumnsButDates), firstMasters);
  EXPECT_EQ(count("lj_referPrc"), 2);
  EXPECT_EQ(count("lj_referEst"), 2);
  EXPECT_EQ(rows("select idreferencia, count(*) from estoqueinicial group by idreferencia"
                 " order by idreferencia"),
            (SqlRows{{"10", "2"}, {"20", "2"}}));
  const SqlRows barcodes =
      rows("select IdReferencia, CodBarra, DataAlteracao from lj_referBar order by IdReferencia");
  ASSERT_EQ(barcodes.size(), 2u);
  EXPECT_EQ(barcodes[0][1], firstBarcodes[0][1]);
  EXPECT_NE(barcodes[0][2], firstBarcodes[0][2]);  // found again and updated
  EXPECT_EQ(number(store().scalar("select Est_Minimo from lj_referBar where IdReferencia = '10'")),
            7);
  EXPECT_EQ(number(store().scalar("select Est_Fisico from lj_referEst where IdReferencia = '10'")),
            5);
  const SqlRows entries =
      rows("select est_atual from estoqueinicial where idreferencia = '10' order by data");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(number(entries[0][0]), 4);
  EXPECT_EQ(number(entries[1][0]), 5);
}

TEST_P(ProductsRun, KeysFromCharacterNumericAndEmptyCodes) {
  writeProducts(products()
                    .recordWith({{"pd_cod", "12.345-6"}})
                    .recordWith({{"pd_cod", "A/B"}})
                    .recordWith({{"pd_cod", ""}})
                    .recordWith({{"pd_cod", "XYZ"}}));
  const auto log = run();
  EXPECT_EQ(log.size(), 1u + 20u + 1u);
  // Keys without digits share one barcode.
  EXPECT_EQ(rows("select IdReferencia, CodBarra from lj_referBar order by IdReferencia"),
            (SqlRows{{"", "0000000001014"},
                     {"123456", "0012345601019"},
                     {"AB", "0000000001014"},
                     {"XYZ", "0000000001014"}}));

  // A numeric pd_cod reads as its digits.
  writeProducts(DbfBuilder()
                    .field("pd_cod", 'N', 8)
                    .field("pd_dsc", 'C', 20)
                    .field("pd_apl", 'C', 10)
                    .field("pd_und", 'C', 3)
                    .field("pd_frn", 'N', 4)
                    .field("pd_qtd_mn", 'N', 6, 2)
                    .field("pd_vlr_rf", 'N', 8, 2)
                    .field("pd_qtd", 'N', 8, 2)
                    .record({"1234", "NUMERICO", "", "UN", "", "", "", ""}));
  const auto numeric = run();
  EXPECT_EQ(numeric.at(1), "Importando Produto - 1234");
  EXPECT_EQ(store().scalar("select Descricao from lj_produtos where IdReferencia = '1234'"),
            "NUMERICO");
}

TEST_P(ProductsRun, EmptyNumbersGiveZeroAndANegativeStockIsKept) {
  writeProducts(
      products().recordWith({{"pd_cod", "1"}}).recordWith({{"pd_cod", "2"}, {"pd_qtd", "-5.5"}}));
  run();
  EXPECT_EQ(number(store().scalar("select IdFornecedor from lj_produtos where IdReferencia = '1'")),
            0);
  EXPECT_EQ(number(store().scalar("select Est_Minimo from lj_referBar where IdReferencia = '1'")),
            0);
  EXPECT_EQ(number(store().scalar("select PrecoVenda from lj_referPrc where IdReferencia = '1'")),
            0);
  EXPECT_EQ(number(store().scalar("select est_atual from estoqueinicial where idreferencia = '1'")),
            0);
  EXPECT_EQ(number(store().scalar("select Est_Fisico from lj_referEst where IdReferencia = '1'")),
            0);
  EXPECT_EQ(number(store().scalar("select est_atual from estoqueinicial where idreferencia = '2'")),
            -5.5);
  EXPECT_EQ(number(store().scalar("select Est_Fisico from lj_referEst where IdReferencia = '2'")),
            -5.5);
}

TEST_P(ProductsRun, FailingProcedureKeepsTheEarlierRowsAndTheNextProductGoesOn) {
  // The store's procedure refuses product 2; every other product gets the real one.
  if (postgres()) {
    store().execute(
        "create or replace function sp_EstoqueInicial(refer varchar, idcor integer, tam varchar,"
        " idempresa integer, idfilial integer) returns integer language plpgsql as $$"
        " begin"
        "   if $1 = '2' then raise exception 'estoque bloqueado para %', $1; end if;"
        "   insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam)"
        "   values ($4, $5, 1, $1, $2, $3) on conflict do nothing;"
        "   return 1;"
        " end $$");
  } else {
    store().execute(
        "create trigger Sp_EstoqueInicial_bloqueio instead of insert on Sp_EstoqueInicial"
        " when new.refer = '2' begin select raise(abort, 'estoque bloqueado para 2'); end");
  }
  writeProducts(products()
                    .recordWith({{"pd_cod", "1"}, {"pd_qtd", "1"}})
                    .recordWith({{"pd_cod", "2"}, {"pd_qtd", "2"}})
                    .recordWith({{"pd_cod", "3"}, {"pd_qtd", "3"}}));
  const auto log = run();

  ASSERT_EQ(log.size(), 1u + 5u + 4u + 1u + 5u + 1u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[9], "Gerando Estoque do Produto - 2") << ::testing::PrintToString(log);
  EXPECT_THAT(log[10], StartsWith("Erro gravando o Produto - 2\r"));
  EXPECT_THAT(log[10], HasSubstr("estoque bloqueado para 2"));
  EXPECT_EQ(log[11], "Importando Produto - 3");

  EXPECT_EQ(rows("select IdReferencia from lj_produtos order by 1"),
            (SqlRows{{"1"}, {"2"}, {"3"}}));
  EXPECT_EQ(rows("select IdReferencia from lj_referBar order by 1"),
            (SqlRows{{"1"}, {"2"}, {"3"}}));
  EXPECT_EQ(rows("select IdReferencia from lj_referPrc order by 1"),
            (SqlRows{{"1"}, {"2"}, {"3"}}));
  EXPECT_EQ(rows("select idreferencia from estoqueinicial order by 1"), (SqlRows{{"1"}, {"3"}}));
  EXPECT_EQ(rows("select IdReferencia from lj_referEst order by 1"), (SqlRows{{"1"}, {"3"}}));
  EXPECT_EQ(summary().sections.at(0).failed, 1) << ::testing::PrintToString(log);
}

TEST_P(ProductsRun, StoreTableWithoutOneOfTheColumnsFailsEveryProduct) {
  store().execute("alter table lj_produtos drop column IdTecido");
  writeProducts(products().recordWith({{"pd_cod", "1"}}).recordWith({{"pd_cod", "2"}}));
  const auto log = run();
  EXPECT_THAT(log, ElementsAre("Lendo Tabela de Produtos", "Importando Produto - 1",
                               "Erro gravando o Produto - 1\raProdutos: Field 'IdTecido' not found",
                               "Importando Produto - 2",
                               "Erro gravando o Produto - 2\raProdutos: Field 'IdTecido' not found",
                               "Processo concluido"));
  for (const char* table :
       {"lj_produtos", "lj_referBar", "lj_referPrc", "estoqueinicial", "lj_referEst"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(count(table), 0);
  }
}

TEST_P(ProductsRun, LegacyFileWithoutApelidoFailsEveryProductAndWritesNothing) {
  writeProducts(
      DbfBuilder::products({"pd_apl"}).recordWith({{"pd_cod", "1"}}).recordWith({{"pd_cod", "2"}}));
  const auto log = run();
  EXPECT_THAT(log, ElementsAre("Lendo Tabela de Produtos", "Importando Produto - 1",
                               "Erro gravando o Produto - 1\rtProduto: Field 'pd_apl' not found",
                               "Importando Produto - 2",
                               "Erro gravando o Produto - 2\rtProduto: Field 'pd_apl' not found",
                               "Processo concluido"));
  for (const char* table :
       {"lj_produtos", "lj_referBar", "lj_referPrc", "estoqueinicial", "lj_referEst"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(count(table), 0);
  }
}

TEST_P(ProductsRun, LegacyFileWithoutCodeEndsTheRunBeforeAnyProductLine) {
  writeProducts(DbfBuilder::products({"pd_cod"}).recordWith({{"pd_dsc", "SEM CODIGO"}}));
  const auto log = run();
  EXPECT_THAT(log, ElementsAre("Lendo Tabela de Produtos"));
  EXPECT_EQ(runError(), "tProduto: Field 'pd_cod' not found");
  EXPECT_EQ(count("lj_produtos"), 0);
}

TEST_P(ProductsRun, EmptyTableLogsOnlyTheSectionStart) {
  writeProducts(products());
  EXPECT_THAT(run(), ElementsAre("Lendo Tabela de Produtos", "Processo concluido"));

  // Deleted records are not visited either.
  writeProducts(products().recordWith({{"pd_cod", "1"}}, true).recordWith({{"pd_cod", "2"}}, true));
  EXPECT_THAT(run(), ElementsAre("Lendo Tabela de Produtos", "Processo concluido"));
  EXPECT_EQ(count("lj_produtos"), 0);
}

TEST_P(ProductsRun, OverLongKeyIsRefusedAndWritesNothing) {
  // Eleven characters after the punctuation goes: looked up whole, it would be stored cut to
  // ten, under another product's key.
  store().execute(
      "insert into lj_produtos (IdReferencia, Descricao) values ('1234567890', 'OUTRO')");
  writeProducts(products()
                    .recordWith({{"pd_cod", "1234567890-1"}, {"pd_dsc", "LONGO"}})
                    .recordWith({{"pd_cod", "12.345.678-9"}, {"pd_dsc", "DEZ"}}));
  const auto log = run();
  EXPECT_EQ(log.at(1), "Importando Produto - 12345678901");
  EXPECT_EQ(log.at(2),
            "Erro gravando o Produto - 12345678901\r"
            "C\xF3"
            "digo do produto excede 10 caracteres");
  EXPECT_EQ(log.at(3), "Importando Produto - 123456789");
  EXPECT_EQ(store().scalar("select Descricao from lj_produtos where IdReferencia = '1234567890'"),
            "OUTRO");
  EXPECT_EQ(rows("select idreferencia from estoqueinicial"), (SqlRows{{"123456789"}}));
  EXPECT_EQ(count("lj_referBar"), 1);
}

TEST_P(ProductsRun, PararDuringAProductFinishesItAndEndsTheRun) {
  // "Parar" is seen while a line is logged; the product in hand runs through all its steps
  // (or fails) and the run ends there: no later product, no other section, no closing line.
  struct Case {
    const char* what;
    std::string stopAtLine;
    std::vector<std::string> lastLines;  // the log after the first product's five lines
    SqlRows masters, entries;
  };
  const std::string longKey = "123456789012";
  const Case cases[] = {
      {"at the barcode line",
       kBarcodeLine + "2",
       productLines("2"),
       {{"1"}, {"2"}},
       {{"1"}, {"2"}}},
      {"at the last line, before the physical stock",
       "Gerando Estoque inicial - 2",
       productLines("2"),
       {{"1"}, {"2"}},
       {{"1"}, {"2"}}},
      {"at a product that then fails",
       "Importando Produto - " + longKey,
       {"Importando Produto - " + longKey, "Erro gravando o Produto - " + longKey +
                                               "\r"
                                               "C\xF3"
                                               "digo do produto excede 10 caracteres"},
       {{"1"}},
       {{"1"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* table :
         {"lj_produtos", "lj_referBar", "lj_referPrc", "estoqueinicial", "lj_referEst"})
      store().execute(std::string("delete from ") + table);
    const std::string second =
        c.stopAtLine.find(longKey) != std::string::npos ? "1234567890-12" : "2";
    writeProducts(products()
                      .recordWith({{"pd_cod", "1"}, {"pd_qtd", "1"}})
                      .recordWith({{"pd_cod", second}, {"pd_qtd", "2"}})
                      .recordWith({{"pd_cod", "3"}, {"pd_qtd", "3"}}));
    const auto log = run([&](RunCore& core, RecordingHost& host) {
      host.onLine = [&core, &c](std::string_view line) {
        if (line == c.stopAtLine) core.BitBtn2Click();
      };
    });

    std::vector<std::string> want{"Lendo Tabela de Produtos"};
    for (const auto& line : productLines("1")) want.push_back(line);
    for (const auto& line : c.lastLines) want.push_back(line);
    EXPECT_EQ(log, want);
    EXPECT_EQ(runError(), std::nullopt);
    EXPECT_TRUE(summary().stopped);
    EXPECT_FALSE(summary().completed);
    EXPECT_EQ(rows("select IdReferencia from lj_produtos order by 1"), c.masters);
    EXPECT_EQ(rows("select IdReferencia from lj_referBar order by 1"), c.masters);
    EXPECT_EQ(rows("select IdReferencia from lj_referPrc order by 1"), c.masters);
    EXPECT_EQ(rows("select idreferencia from estoqueinicial order by 1"), c.entries);
    // The product in hand got its physical stock too, the step after its last line.
    EXPECT_EQ(rows("select IdReferencia from lj_referEst order by 1"), c.masters);
    for (const auto& key : c.masters) {
      SCOPED_TRACE(*key[0]);
      EXPECT_EQ(number(store().scalar("select Est_Fisico from lj_referEst where IdReferencia = '" +
                                      *key[0] + "'")),
                std::stod(*key[0]));
    }
  }
}

TEST_P(ProductsRun, OfSeveralMatchingStockRowsOnlyOneGetsThePhysicalStock) {
  // Two companies hold stock 1 of the product in colour 1, size "0"; rows of another stock or
  // size are not looked at.
  store().execute(
      "insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam, "
      "Est_Fisico)"
      " values (1, 1, 1, '7', 1, '0', 99), (2, 1, 1, '7', 1, '0', 99),"
      " (1, 1, 2, '7', 1, '0', 99), (1, 1, 1, '7', 1, 'P', 99)");
  writeProducts(products().recordWith({{"pd_cod", "7"}, {"pd_qtd", "4"}}));
  const auto log = run();
  EXPECT_EQ(log.size(), 1u + 5u + 1u) << ::testing::PrintToString(log);

  EXPECT_EQ(count("lj_referEst"), 4);  // the procedure found company 1's row: nothing new
  EXPECT_EQ(rows("select IdEstoque, Tam from lj_referEst where Est_Fisico = 99"
                 " and not (IdEstoque = 1 and Tam = '0') order by IdEstoque"),
            (SqlRows{{"1", "P"}, {"2", "0"}}));
  const SqlRows matching = rows(
      "select Est_Fisico from lj_referEst where IdEstoque = 1 and Tam = '0' order by Est_Fisico");
  ASSERT_EQ(matching.size(), 2u);
  EXPECT_EQ(number(matching[0][0]), 4);
  EXPECT_EQ(number(matching[1][0]), 99);
}

TEST_P(ProductsRun, FieldNamesInCapitalsAreFound) {
  writeProducts(DbfBuilder()
                    .languageByte(0x03)
                    .field("PD_COD", 'C', 14)
                    .field("PD_DSC", 'C', 40)
                    .field("PD_APL", 'C', 20)
                    .field("PD_UND", 'C', 3)
                    .field("PD_FRN", 'N', 6)
                    .field("PD_QTD_MN", 'N', 9, 3)
                    .field("PD_VLR_RF", 'N', 11, 2)
                    .field("PD_QTD", 'N', 10, 3)
                    .record({"1.2", "CADERNO", "CAD", "PC", "3", "1.5", "9.9", "8"}));
  const auto log = run();
  EXPECT_EQ(log.size(), 1u + 5u + 1u) << ::testing::PrintToString(log);
  EXPECT_EQ(rows("select IdReferencia, Descricao, ApelidoProduto, UndVenda from lj_produtos"),
            (SqlRows{{"12", "CADERNO", "CAD", "PC"}}));
  EXPECT_EQ(number(store().scalar("select IdFornecedor from lj_produtos")), 3);
  EXPECT_EQ(number(store().scalar("select Est_Minimo from lj_referBar")), 1.5);
  EXPECT_EQ(number(store().scalar("select PrecoVenda from lj_referPrc")), 9.9);
  EXPECT_EQ(number(store().scalar("select est_atual from estoqueinicial")), 8);
}

TEST_P(ProductsRun, ExistingRowsWithFullPrecisionFloatsAndMillisecondsAreUpdated) {
  // Values another program wrote (a third, 0.1 + 0.2, times with milliseconds) read back with
  // more digits than they were written with: the update must still find the row it read.
  store().execute(
      "insert into lj_produtos (IdReferencia, Descricao, Qtd1, UndVendaQtde, DataCadastro,"
      " DataAlteracao) values ('8', 'ANTIGA', 1.0 / 3, 0.1 + 0.2, '2001-02-03 04:05:06.789',"
      " '2023-12-31 23:59:59.999')");
  store().execute(
      "insert into lj_referPrc (IdReferencia, IdTabela, PrecoVenda, DataAlteracao, DataInclusao)"
      " values ('8', 1, 1.2345, '2001-02-03 04:05:06.789', '2001-02-03 04:05:06.001')");
  store().execute(
      "insert into lj_referBar (IdReferencia, IdCor, Tam, CodBarra, Est_Minimo, Est_Maximo)"
      " values ('8', 1, '0', '0000000801010', 0.1 + 0.2, 2.0 / 3)");
  store().execute(
      "insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam,"
      " Est_Fiscal, Est_Fisico) values (1, 1, 1, '8', 1, '0', 1.0 / 3, 0.1 + 0.2)");
  writeProducts(products().recordWith({{"pd_cod", "8"}, {"pd_qtd_mn", "3"}, {"pd_qtd", "5"}}));
  const auto log = run();
  EXPECT_EQ(log, (std::vector<std::string>{"Lendo Tabela de Produtos", "Importando Produto - 8",
                                           kBarcodeLine + "8", "Gravando Preco do Produto - 8",
                                           "Gerando Estoque do Produto - 8",
                                           "Gerando Estoque inicial - 8", "Processo concluido"}));
  EXPECT_EQ(number(store().scalar("select Qtd1 from lj_produtos")), 0);
  EXPECT_THAT(*store().scalar("select DataCadastro from lj_produtos"), StartsWith(today()));
  EXPECT_EQ(count("lj_referPrc"), 1);
  EXPECT_THAT(*store().scalar("select DataInclusao from lj_referPrc"), StartsWith(today()));
  EXPECT_EQ(count("lj_referBar"), 1);
  EXPECT_EQ(number(store().scalar("select Est_Minimo from lj_referBar")), 3);
  EXPECT_EQ(number(store().scalar("select Est_Fisico from lj_referEst")), 5);
}

INSTANTIATE_TEST_SUITE_P(Stores, ProductsRun, test_support::kAllStores,
                         test_support::storeTestName);

}  // namespace
}  // namespace importacao
