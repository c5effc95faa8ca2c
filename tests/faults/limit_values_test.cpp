// Values at the limits of their legacy fields, through importacao-cli into SQLite and PostgreSQL
// stores: names of 40 accented letters in code page 850, codes filling 14 characters, numbers
// filling their width both ways, the first and last dates the stores meet, a NUL byte inside a
// text, whole numbers past what the store's columns hold.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "normalise/codepage.h"
#include "normalise/normalise.h"
#include "tests/faults/fault_support.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

using faults::FolderSnapshot;
using faults::readFile;
using faults::runCli;
using faults::split;
using faults::toCp850;
using test_support::DbfBuilder;
using test_support::StoreTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace fs = std::filesystem;

// 40 letters and blanks, 17 of them accented.
const std::string kAccented =
    "\xC3\x81GUA \xC3\x89GUA \xC3\x8DNDIO \xC3\x93RG\xC3\x83O \xC3\x9ATIL "
    "\xC3\x87\xC3\x83\xC3\x95\xC3\x82\xC3\x8A\xC3\x94\xC3\x80\xC3\x9C "
    "\xC3\x91\xC3\x89\xC3\x8D\xC3\x93";
const std::string kAccented1252 = utf8ToCp1252(kAccented);
// A product code of ten accented letters.
const std::string kAccentedKey =
    "\xC3\x81\xC3\x89\xC3\x8D\xC3\x93\xC3\x9A\xC3\x82\xC3\x8A\xC3\x94\xC3\x83\xC3\x95";

double number(const std::optional<std::string>& text) { return text ? std::stod(*text) : -1e300; }

class LimitValues : public StoreTest {
 protected:
  test_support::TestStoreOptions options() const override { return test_support::kNoSeed; }
  void SetUp() override {
    StoreTest::SetUp();
    ASSERT_EQ(kAccented1252.size(), 40u);
    folder_ = store().workDirectory() / "legado";
    fs::create_directories(folder_);
    settings_ = store().workDirectory() / "Importacao.ini";
    std::ofstream(settings_) << "[Importacao]\nConexaoDBF=" << folder_.string()
                             << "\nConexaoSQL=" << store().writeDataLink().string() << "\n";
    log_ = store().workDirectory() / "importacao.log";
  }
  // Runs all three sections; returns the log's lines (code page 1252), the last one empty.
  std::vector<std::string> run() {
    const FolderSnapshot before = FolderSnapshot::of(folder_);
    const faults::CliOutcome outcome =
        runCli({"--settings", settings_.string(), "--log", log_.string(), "--products",
                "--customers", "--suppliers"});
    std::vector<std::string> lines = split(readFile(log_), "\r\n");
    EXPECT_EQ(outcome.status, faults::hasErrorLine(lines) ? 3 : 0) << outcome.err;
    EXPECT_EQ(FolderSnapshot::of(folder_), before);
    return lines;
  }
  std::optional<std::string> scalar(const std::string& sql) { return store().scalar(sql); }

  fs::path folder_, settings_, log_;
};

TEST_P(LimitValues, ProductsAtTheirFieldLimitsLandWholeOrAreRefused) {
  const std::string name850 = toCp850(kAccented1252);
  DbfBuilder::products()
      .languageByte(0x02)
      .recordWith({{"pd_cod", "1.234.567/89-0"},
                   {"pd_dsc", name850},
                   {"pd_apl", name850.substr(0, 20)},
                   {"pd_vlr_rf", "99999999.99"},
                   {"pd_qtd", "999999.999"},
                   {"pd_qtd_mn", "99999.999"}})
      .recordWith({{"pd_cod", "98765"},
                   {"pd_dsc", std::string("ABC\0DEF", 7)},
                   {"pd_vlr_rf", "-9999999.99"},
                   {"pd_qtd", "-99999.999"},
                   {"pd_qtd_mn", "-9999.999"}})
      .recordWith({{"pd_cod", "12345678901234"}, {"pd_dsc", "CODIGO LONGO"}})
      .recordWith({{"pd_cod", toCp850(utf8ToCp1252(kAccentedKey + "-"))}, {"pd_vlr_rf", "1"}})
      .writeTo(folder_ / "cfa1010.DBF");
  DbfBuilder::customers().writeTo(folder_ / "CFA2010.DBF");
  DbfBuilder::suppliers().writeTo(folder_ / "CFA3010.DBF");

  const std::vector<std::string> log = run();
  // A key of ten digits out of fourteen characters is a key; fourteen digits are not.
  EXPECT_EQ(log.at(1), "Importando Produto - 1234567890");
  EXPECT_EQ(log.at(11), "Importando Produto - 12345678901234");
  EXPECT_THAT(log.at(12), StartsWith("Erro gravando o Produto - 12345678901234\r"));
  // Ten accented letters are ten characters of a key, however many bytes the store spends on them.
  EXPECT_EQ(log.at(13), "Importando Produto - " + utf8ToCp1252(kAccentedKey));
  EXPECT_EQ(log.at(18), "Processo concluido");
  EXPECT_EQ(scalar("select count(*) from lj_produtos"), "3");
  for (const char* table :
       {"lj_produtos", "lj_referBar", "lj_referPrc", "lj_referEst", "estoqueinicial"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(store().query(std::string("select IdReferencia from ") + table +
                            " where IdReferencia not in ('1234567890', '98765')"),
              (test_support::SqlRows{{kAccentedKey}}));
  }
  EXPECT_EQ(scalar("select count(*) from lj_referBar where IdReferencia = '12345678901234'"), "0");

  EXPECT_EQ(
      store().query("select Descricao, DenominacaoFiscal, ApelidoProduto from lj_produtos"
                    " where IdReferencia = '1234567890'"),
      (test_support::SqlRows{{kAccented, kAccented, cp1252ToUtf8(kAccented1252.substr(0, 20))}}));
  EXPECT_THAT(*scalar("select CodBarra from lj_referBar where IdReferencia = '1234567890'"),
              ::testing::MatchesRegex("[0-9]{13}"));
  // The text ends at the NUL byte, as every text of the legacy tables does.
  EXPECT_EQ(scalar("select Descricao from lj_produtos where IdReferencia = '98765'"), "ABC");

  struct {
    const char* key;
    double price, stock, minimum;
  } cases[] = {{"1234567890", 99999999.99, 999999.999, 99999.999},
               {"98765", -9999999.99, -99999.999, -9999.999}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string where = std::string(" where IdReferencia = '") + c.key + "'";
    EXPECT_DOUBLE_EQ(number(scalar("select PrecoVenda from lj_referPrc" + where)), c.price);
    EXPECT_DOUBLE_EQ(number(scalar("select Est_Fisico from lj_referEst" + where)), c.stock);
    EXPECT_DOUBLE_EQ(number(scalar("select est_atual from estoqueinicial" + where)), c.stock);
    EXPECT_DOUBLE_EQ(number(scalar("select Est_Minimo from lj_referBar" + where)), c.minimum);
  }
}

TEST_P(LimitValues, CustomersAndSuppliersAtTheirFieldLimitsLandWholeOrAreRefused) {
  const std::string name850 = toCp850(kAccented1252);
  DbfBuilder::products().writeTo(folder_ / "cfa1010.DBF");
  DbfBuilder::customers()
      .languageByte(0x02)
      .recordWith({{"CL_COD", "2147483647"},
                   {"CL_NOM", name850},
                   {"LIMICRE", "999999999.99"},
                   {"CL_DTACAD", "19000101"},
                   {"CL_CGC", "12.345.678/0001-95"}})
      .recordWith({{"CL_COD", "9999999999"}, {"CL_NOM", "GRANDE DEMAIS"}})
      .recordWith({{"CL_COD", "3"},
                   {"CL_NOM", std::string("ANA\0MARIA", 9)},
                   {"LIMICRE", "-99999999.99"},
                   {"CL_DTACAD", "20991231"}})
      .writeTo(folder_ / "CFA2010.DBF");
  DbfBuilder::suppliers()
      .languageByte(0x02)
      .recordWith({{"FN_COD", "999999"}, {"FN_NOM", name850}, {"FN_CGC", "12345678000195"}})
      .recordWith({{"FN_COD", "-99999"}, {"FN_NOM", std::string("LOJA\0X", 6)}})
      .writeTo(folder_ / "CFA3010.DBF");

  const std::vector<std::string> log = run();
  EXPECT_THAT(
      std::vector<std::string>(log.begin(), log.begin() + 3),
      ElementsAre("Lendo Tabela de Produtos", "Cliente - 2147483647", "Cliente - 9999999999"));
  // A code past the store's whole numbers is refused by the store (or by the field before it).
  ASSERT_GE(log.size(), 9u);
  EXPECT_THAT(log.at(3), StartsWith("Erro gravando o Registro 2-GRANDE DEMAIS\r"));
  EXPECT_THAT(log.at(3), HasSubstr("9999999999"));
  EXPECT_THAT(std::vector<std::string>(log.begin() + 4, log.end()),
              ElementsAre("Cliente - 3", "Fornecedor - 999999", "Fornecedor - -99999",
                          "Processo concluido", ""));

  EXPECT_EQ(
      store().query("select IdCliente, NomeCliente, NomeFantasia, Cnpj, TipoPessoa from clientes"
                    " order by IdCliente"),
      (test_support::SqlRows{
          {"3", "Ana", "ANA", "", "F"},
          {"2147483647", cp1252ToUtf8(RemoveAccents(ProperCaseName(kAccented1252))), kAccented,
           "12345678000195", "J"}}));
  EXPECT_DOUBLE_EQ(
      number(scalar("select LimiteCredito from clientes where IdCliente = 2147483647")),
      999999999.99);
  EXPECT_DOUBLE_EQ(number(scalar("select LimiteCredito from clientes where IdCliente = 3")),
                   -99999999.99);
  EXPECT_THAT(*scalar("select DataCadastro from clientes where IdCliente = 2147483647"),
              StartsWith("1900-01-01 00:00:00"));
  EXPECT_THAT(*scalar("select DataCadastro from clientes where IdCliente = 3"),
              StartsWith("2099-12-31 00:00:00"));

  const std::string supplierName = cp1252ToUtf8(RemoveAccents(ProperCaseName(kAccented1252)));
  EXPECT_EQ(
      store().query(
          "select Idfornecedor, NomeFornecedor, cnpj from fornecedores order by Idfornecedor"),
      (test_support::SqlRows{{"-99999", "Loja", ""}, {"999999", supplierName, "12345678000195"}}));
}

INSTANTIATE_TEST_SUITE_P(Stores, LimitValues, test_support::kAllStores,
                         test_support::storeTestName);

}  // namespace
}  // namespace importacao
