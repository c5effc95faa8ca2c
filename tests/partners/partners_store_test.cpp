// The customers and suppliers sections in whole runs against real stores: legacy tables written
// to a folder, the application's own objects (ConDb, Tendaro and their objects, the run core with
// its frame), and a throw-away PostgreSQL schema or SQLite file with the project's store schema
// and its state and municipality seed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/run/import_objects.h"
#include "app/run/run_core.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"
#include "tests/support/recording_host.h"

namespace importacao {
namespace {

using test_support::DbfBuilder;
using test_support::RecordingHost;
using test_support::SqlRow;
using test_support::SqlRows;
using test_support::StoreTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace fs = std::filesystem;

class Ticked final : public RunControls {
 public:
  SettingsValues settingsFromControls() const override { return settings; }
  bool sectionTicked(SectionId section) const override {
    return (section == SectionId::Customers && customers) ||
           (section == SectionId::Suppliers && suppliers);
  }
  SettingsValues settings;
  bool customers = true;
  bool suppliers = true;
};

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

double number(const std::optional<std::string>& text) {
  return text ? std::stod(*text) : std::nan("");
}

// Legacy tables in code page 1252 (language byte 0x03) and 850 (0x02).
DbfBuilder customers() { return DbfBuilder::customers().languageByte(0x03); }
DbfBuilder suppliers() { return DbfBuilder::suppliers().languageByte(0x03); }

class PartnersRun : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    folder_ = store().workDirectory() / "legado";
    fs::create_directories(folder_);
    controls_.settings.ConexaoDBF = folder_.string();
    controls_.settings.ConexaoSQL = store().writeDataLink().string();
    // Both tables are there in every test; a test writes what it needs over them.
    write(customers(), suppliers());
  }

  bool postgres() const { return GetParam() == StoreKind::PostgreSql; }

  void write(const DbfBuilder& clientes, const DbfBuilder& fornecedores) {
    clientes.writeTo(folder_ / "CFA2010.DBF");
    fornecedores.writeTo(folder_ / "CFA3010.DBF");
  }

  // One run with the ticked sections, on objects of its own (as a new start of the program).
  // Returns the log; the error that ended the run, if any, is in runError_.
  std::vector<std::string> run(std::function<void(RunCore&, RecordingHost&)> prepare = {}) {
    ImportObjects objects("");
    NoSettingsWriter settings;
    host_ = RecordingHost{};
    RunCore core(host_, objects.runParts(settings));
    if (prepare) prepare(core, host_);
    runError_.reset();
    try {
      core.BitBtn1Click(controls_);
    } catch (const std::exception& error) {
      runError_ = error.what();
    }
    summary_ = core.summary();
    return host_.lines;
  }

  SqlRows rows(std::string_view sql) { return store().query(sql); }
  long count(const std::string& table) {
    return std::stol(*store().scalar("select count(*) from " + table));
  }
  // A date-time column as the store renders it, for a date at midnight.
  std::string midnight(const std::string& date) const {
    return date + (postgres() ? " 00:00:00" : " 00:00:00.000");
  }
  const SectionStats& stats(std::size_t section) const { return summary_.sections.at(section); }

  fs::path folder_;
  Ticked controls_;
  RecordingHost host_;
  std::optional<std::string> runError_;
  RunSummary summary_;
};

TEST_P(PartnersRun, LogOfSmallTablesIsExactToTheByte) {
  write(customers()
            .recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}})
            .recordWith({{"CL_COD", "12.5"}, {"CL_NOM", "JOS\xC9 MARIA"}})
            .recordWith({{"CL_COD", "1234567"}, {"CL_NOM", "BIA"}}),
        suppliers()
            .recordWith({{"FN_COD", "7"}, {"FN_NOM", "FORNECEDOR UM"}})
            .recordWith({{"FN_COD", "0.5"}, {"FN_NOM", "DOIS"}}));
  EXPECT_THAT(run(), ElementsAre("Cliente - 1", "Cliente - 12.5", "Cliente - 1234567",
                                 "Fornecedor - 7", "Fornecedor - 0.5", "Processo concluido"));
  EXPECT_EQ(runError_, std::nullopt);
  ASSERT_EQ(summary_.sections.size(), 2u);
  EXPECT_EQ(stats(0).inserted, 3);
  EXPECT_EQ(stats(1).inserted, 2);
  EXPECT_EQ(stats(0).failed + stats(1).failed, 0);
  EXPECT_EQ(rows("select IdCliente from clientes order by 1"),
            (SqlRows{{"1"}, {"12"}, {"1234567"}}));
  EXPECT_EQ(rows("select Idfornecedor from fornecedores order by 1"), (SqlRows{{"0"}, {"7"}}));
}

TEST_P(PartnersRun, StoreTablesLackingAColumnFailEveryRecordWithTheExactLine) {
  store().execute("alter table clientes drop column Email");
  store().execute("alter table fornecedores drop column idpais");
  write(customers()
            .recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}})
            .recordWith({{"CL_COD", "2"}, {"CL_NOM", "APAGADA"}}, /*deleted=*/true)
            .recordWith({{"CL_COD", "3"}, {"CL_NOM", "JO\xC3O"}}),
        suppliers().recordWith({{"FN_COD", "7.25"}}).recordWith({{"FN_COD", "8"}}));
  EXPECT_THAT(
      run(),
      ElementsAre(
          "Cliente - 1", "Erro gravando o Registro 1-ANA\raClientes: Field 'Email' not found",
          "Cliente - 3", "Erro gravando o Registro 3-JO\xC3O\raClientes: Field 'Email' not found",
          "Fornecedor - 7.25",
          "Erro gravando o Registro 1-7.25\raFornecedor: Field 'idpais' not found",
          "Fornecedor - 8", "Erro gravando o Registro 2-8\raFornecedor: Field 'idpais' not found",
          "Processo concluido"));
  EXPECT_EQ(stats(0).failed, 2);
  EXPECT_EQ(stats(1).failed, 2);
  EXPECT_EQ(count("clientes"), 0);
  EXPECT_EQ(count("fornecedores"), 0);
}

TEST_P(PartnersRun, NewCustomerGetsTheFortyOneColumns) {
  write(customers().recordWith({{"CL_COD", "42"},
                                {"CL_NOM", "MARIA DOS SANTOS E SILVA"},
                                {"CL_END", "RUA DAS FLORES 10"},
                                {"CL_BAI", "CENTRO"},
                                {"CL_CID", "CAMPINAS"},
                                {"CL_EST", "SP"},
                                {"CL_CEP", "13010000"},
                                {"CL_TEL_01", "1932321000"},
                                {"CL_CGF", "ISENTO"},
                                {"CL_CPF", "123.456.789-01"},
                                {"LIMICRE", "1500.75"},
                                {"CL_OBS1", "BOA PAGADORA"},
                                {"CL_PROEMP", "JOAO"},
                                {"CL_EMAIL", "maria@example.com"},
                                {"CL_ENDCOB", "AV BRASIL 200"},
                                {"CL_BAICOB", "JARDIM"},
                                {"CL_CIDCOB", "campinas"},
                                {"CL_ESTCOB", "SP"},
                                {"CL_DTACAD", "20230415"}}),
        suppliers());
  run();
  EXPECT_EQ(stats(0).inserted, 1);

  const char* const columns =
      "IdCliente, Idempresa, NomeCliente, NomeFantasia, Cep, DDD, Telefone, IdPais,"
      " IdClassificacao, TipoPessoa, Cnpj, TipoContribuinte, InscEst, Observacao, Contato,"
      " DataCadastro, Endereco, Numero, Complemento, Bairro, Cidade, Estado, End_Cob, Num_Cob,"
      " Compl_Cob, Bai_Cob, Cid_Cob, Est_Cob, PontoRefer, IdCorretor, IdLoja, LiberaConsignacao,"
      " Status, IdVendedor, CodMun, CodMun_Cob";
  EXPECT_EQ(rows(std::string("select ") + columns + " from clientes"),
            (SqlRows{{"42",
                      "1",
                      "Maria dos Santos e Silva",
                      "MARIA DOS SANTOS E SILVA",
                      "0",
                      "0",
                      "1932321000",
                      "1058",
                      "1",
                      "F",
                      "12345678901",
                      "2",
                      "ISENTO",
                      "Cliente Importado do Sistema Antigo\rBOA PAGADORA",
                      "JOAO",
                      midnight("2023-04-15"),
                      "RUA DAS FLORES 10",
                      "0",
                      "",
                      "CENTRO",
                      "CAMPINAS",
                      "SP",
                      "AV BRASIL 200",
                      "0",
                      "",
                      "JARDIM",
                      "campinas",
                      "SP",
                      std::nullopt,
                      "1",
                      "1",
                      "N",
                      "A",
                      "1",
                      "09502",  // CAMPINAS, SP
                      "0"}}));  // "campinas" is not how the store spells it
  EXPECT_EQ(number(store().scalar("select LimiteCredito from clientes")), 1500.75);
  for (const char* zero : {"ComissaoRep", "DescontoVenda", "ComissaoVendedor"}) {
    SCOPED_TRACE(zero);
    EXPECT_EQ(number(store().scalar(std::string("select ") + zero + " from clientes")), 0);
  }
  EXPECT_THAT(*store().scalar("select DataAtualizacao from clientes"), StartsWith(today()));
  // Never written: left to the store (null, or the column's default).
  EXPECT_EQ(rows("select Email, Fax, RG, DDD_Cel, Celular, EnderecoEntr, ddd2, fone2, NumeroCartao,"
                 " DataSerasa, DataNascto, Cep_Cob, Cont_Cob, TipoCliente, Representante,"
                 " NaoMostraContas, Sincronizado from clientes"),
            (SqlRows{{std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, std::nullopt, std::nullopt, "N", "N", "N", "N"}}));
}

TEST_P(PartnersRun, ExistingCustomerKeepsWhatTheSectionNeverWrites) {
  store().execute(
      "insert into clientes (IdCliente, NomeCliente, Email, Fax, RG, DDD_Cel, Celular, "
      "NumeroCartao,"
      " TipoCliente, DataSerasa, DataNascto, Cep_Cob, DataCadastro, Observacao, CodMun, "
      "LimiteCredito,"
      " Sincronizado)"
      " values (5, 'Antigo', 'a@b.c', '1133334444', '12345', 11, '99998888', '4111', 'V',"
      " '2010-01-02 00:00:00.000', '1980-05-06 00:00:00.000', '01000000', '2001-02-03 "
      "04:05:06.000',"
      " 'antes', '12345', 99, 'S')");
  write(customers().recordWith(
            {{"CL_COD", "5"}, {"CL_NOM", "NOVO NOME"}, {"CL_CGC", "12.345.678/0001-90"}}),
        suppliers());
  const auto log = run();
  EXPECT_THAT(log, ElementsAre("Cliente - 5", "Processo concluido"));
  EXPECT_EQ(stats(0).updated, 1);
  EXPECT_EQ(stats(0).inserted, 0);
  EXPECT_EQ(rows("select NomeCliente, TipoPessoa, Cnpj, TipoContribuinte, Observacao, CodMun from "
                 "clientes"),
            (SqlRows{{"Novo Nome", "J", "12345678000190", "1",
                      "Cliente Importado do Sistema Antigo\r", "0"}}));
  EXPECT_EQ(number(store().scalar("select LimiteCredito from clientes")), 0);
  // An empty registration date gives today's.
  EXPECT_EQ(store().scalar("select DataCadastro from clientes"), midnight(today()));
  EXPECT_EQ(
      rows("select Email, Fax, RG, DDD_Cel, Celular, NumeroCartao, TipoCliente, Cep_Cob,"
           " Sincronizado from clientes"),
      (SqlRows{{"a@b.c", "1133334444", "12345", "11", "99998888", "4111", "V", "01000000", "S"}}));
  EXPECT_THAT(*store().scalar("select DataSerasa from clientes"), StartsWith("2010-01-02"));
  EXPECT_THAT(*store().scalar("select DataNascto from clientes"), StartsWith("1980-05-06"));
}

TEST_P(PartnersRun, SecondRunLeavesTheSameRowsButTheUpdateTime) {
  write(customers()
            .recordWith({{"CL_COD", "1"},
                         {"CL_NOM", "ANA"},
                         {"CL_CID", "CAMPINAS"},
                         {"CL_EST", "SP"},
                         {"CL_DTACAD", "19991231"}})
            .recordWith({{"CL_COD", "2"}, {"CL_NOM", "BIA"}}),
        suppliers().recordWith(
            {{"FN_COD", "3"}, {"FN_NOM", "CASA"}, {"FN_CID", "CAMPINAS"}, {"FN_EST", "SP"}}));
  const std::string everyCustomerColumn =
      "select IdCliente, Idempresa, NomeCliente, NomeFantasia, Cep, DDD, Telefone, IdPais,"
      " TipoPessoa, Cnpj, TipoContribuinte, InscEst, LimiteCredito, Observacao, Contato,"
      " DataCadastro, Endereco, Bairro, Cidade, Estado, CodMun, CodMun_Cob, Email"
      " from clientes order by IdCliente";
  const std::string everySupplierColumn =
      "select Idfornecedor, NomeFornecedor, NomeFantasia, Cep, cnpj, Observacao, Contato, codmun,"
      " DataCadastro, PrazoEntrega from fornecedores";
  run();
  const SqlRows firstCustomers = rows(everyCustomerColumn);
  const SqlRows firstSuppliers = rows(everySupplierColumn);
  const auto firstUpdate =
      store().scalar("select DataAtualizacao from clientes where IdCliente = 1");

  const auto log = run();
  EXPECT_THAT(log,
              ElementsAre("Cliente - 1", "Cliente - 2", "Fornecedor - 3", "Processo concluido"));
  EXPECT_EQ(stats(0).updated, 2);
  EXPECT_EQ(stats(1).updated, 1);
  EXPECT_EQ(stats(0).inserted + stats(1).inserted, 0);
  EXPECT_EQ(rows(everyCustomerColumn), firstCustomers);
  EXPECT_EQ(rows(everySupplierColumn), firstSuppliers);
  EXPECT_EQ(firstCustomers.at(0).at(20), "09502");
  EXPECT_NE(store().scalar("select DataAtualizacao from clientes where IdCliente = 1"),
            firstUpdate);
}

TEST_P(PartnersRun, PersonKindComesFromTheCompanyNumberAfterItsPunctuationAndMask) {
  struct {
    const char* code;
    const char* cgc;
    const char* cpf;
    SqlRow want;  // TipoPessoa, Cnpj, TipoContribuinte
  } cases[] = {
      {"1", "12.345.678/0001-90", "", {"J", "12345678000190", "1"}},
      {"2", "12.345.678/0001-90", "123.456.789-01", {"J", "12345678000190", "1"}},
      {"3", "", "123.456.789-01", {"F", "12345678901", "2"}},
      {"4", "../-", "123.456.789-01", {"F", "12345678901", "2"}},
      // Used to become a company with a Cnpj of blanks: the empty number kept with its mask.
      {"5", "  .   .   /    -", "987.654.321-00", {"F", "98765432100", "2"}},
      {"6", "", "", {"F", "", "2"}},
  };
  DbfBuilder table = customers();
  for (const auto& c : cases) {
    table.recordWith({{"CL_COD", c.code}, {"CL_NOM", "X"}, {"CL_CGC", c.cgc}, {"CL_CPF", c.cpf}});
  }
  write(table, suppliers());
  run();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(
        rows(std::string(
                 "select TipoPessoa, Cnpj, TipoContribuinte from clientes where IdCliente = ") +
             c.code),
        SqlRows{c.want});
  }
}

TEST_P(PartnersRun, MunicipalityIsFoundOnlyAsTheStoreSpellsIt) {
  // Code page 850: 0xC7 is Ã.
  struct {
    const char* code;
    const char* state;
    const char* city;
    const char* want;
  } cases[] = {
      {"1", "SP", "CAMPINAS", "09502"},
      {"2", "SP", "S\xC7O PAULO", "50308"},
      {"3", "SP", "SAO PAULO", "0"},  // without its accent
      {"4", "SP", "campinas", "0"},   // in small letters
      {"5", "RJ", "CAMPINAS", "0"},   // another state
      {"6", "", "", "0"},
  };
  DbfBuilder clientes = DbfBuilder::customers().languageByte(0x02);
  DbfBuilder fornecedores = DbfBuilder::suppliers().languageByte(0x02);
  for (const auto& c : cases) {
    // The billing address is the main one's state with a city the store does not know.
    clientes.recordWith({{"CL_COD", c.code},
                         {"CL_EST", c.state},
                         {"CL_CID", c.city},
                         {"CL_ESTCOB", c.state},
                         {"CL_CIDCOB", "CAMPINAZ"}});
    fornecedores.recordWith({{"FN_COD", c.code}, {"FN_EST", c.state}, {"FN_CID", c.city}});
  }
  clientes.recordWith({{"CL_COD", "7"},
                       {"CL_EST", "RJ"},
                       {"CL_CID", "NITER\xE0I"},
                       {"CL_ESTCOB", "SP"},
                       {"CL_CIDCOB", "CAMPINAS"}});  // 0xE0 is Ó
  write(clientes, fornecedores);
  const auto log = run();
  EXPECT_EQ(stats(0).failed + stats(1).failed, 0) << ::testing::PrintToString(log);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(
        rows(std::string("select CodMun, CodMun_Cob from clientes where IdCliente = ") + c.code),
        (SqlRows{{c.want, "0"}}));
    EXPECT_EQ(rows(std::string("select codmun from fornecedores where Idfornecedor = ") + c.code),
              (SqlRows{{c.want}}));
  }
  EXPECT_EQ(rows("select CodMun, CodMun_Cob, Cidade from clientes where IdCliente = 7"),
            (SqlRows{{"03302", "09502", "NITER\u00D3I"}}));
}

TEST_P(PartnersRun, AccentedNamesOfACodePage850FileLandWordCasedAndPlain) {
  // Code page 850: 0x90 É, 0x80 Ç, 0xC7 Ã, 0xA5 Ñ, 0xE9 Ú, 0xB5 Á, 0xD6 Í.
  write(DbfBuilder::customers()
            .languageByte(0x02)
            .recordWith({{"CL_COD", "1"},
                         {"CL_NOM", "JOS\x90 DA CONCEI\x80\xC7O"},
                         {"CL_OBS1",
                          "A\x80\xE9"
                          "CAR"}})
            .recordWith({{"CL_COD", "2"}, {"CL_NOM", "MU\xA5OZ E \xB5LVARES"}})
            .recordWith({{"CL_COD", "3"},
                         {"CL_NOM",
                          "LET\xD6"
                          "CIA"}}),
        DbfBuilder::suppliers().languageByte(0x02).recordWith(
            {{"FN_COD", "1"}, {"FN_NOM", "CAF\x90 E CIA"}}));
  const auto log = run();
  EXPECT_THAT(log, ElementsAre("Cliente - 1", "Cliente - 2", "Cliente - 3", "Fornecedor - 1",
                               "Processo concluido"));
  EXPECT_EQ(rows("select NomeCliente, NomeFantasia from clientes order by IdCliente"),
            (SqlRows{{"Jose da Conceicao", "JOS\xC3\x89 DA CONCEI\xC3\x87\xC3\x83O"},
                     // Ñ is no accented letter to either operation; Á starts a word: it stays small
                     {"Mu\xC3\x91oz e alvares", "MU\xC3\x91OZ E \xC3\x81LVARES"},
                     {"Leticia",
                      "LET\xC3\x8D"
                      "CIA"}}));
  EXPECT_EQ(store().scalar("select Observacao from clientes where IdCliente = 1"),
            "Cliente Importado do Sistema Antigo\rA\xC3\x87\xC3\x9A"
            "CAR");
  EXPECT_EQ(rows("select NomeFornecedor, NomeFantasia from fornecedores"),
            (SqlRows{{"Cafe e Cia", "Cafe e Cia"}}));
}

TEST_P(PartnersRun, StoreRefusingOneRecordLogsItAndImportsTheNext) {
  store().execute("create unique index ux_clientes_cnpj on clientes (Cnpj)");
  store().execute("create unique index ux_fornecedores_cnpj on fornecedores (cnpj)");
  write(customers()
            .recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}, {"CL_CPF", "111.111.111-11"}})
            .recordWith({{"CL_COD", "2"}, {"CL_NOM", "BIA"}, {"CL_CPF", "111.111.111-11"}})
            .recordWith({{"CL_COD", "3"}, {"CL_NOM", "CIA"}, {"CL_CPF", "333.333.333-33"}}),
        suppliers()
            .recordWith({{"FN_COD", "10"}, {"FN_CGC", "11.111"}})
            .recordWith({{"FN_COD", "20"}, {"FN_CGC", "11111"}})
            .recordWith({{"FN_COD", "30"}, {"FN_CGC", "33333"}}));
  const auto log = run();
  ASSERT_EQ(log.size(), 9u) << ::testing::PrintToString(log);
  const char* const refusal = postgres() ? "duplicate key value" : "UNIQUE constraint failed";
  EXPECT_EQ(log[1], "Cliente - 2");
  EXPECT_THAT(log[2], StartsWith("Erro gravando o Registro 2-BIA\r"));
  EXPECT_THAT(log[2], HasSubstr(refusal));
  EXPECT_EQ(log[3], "Cliente - 3");
  EXPECT_EQ(log[5], "Fornecedor - 20");
  EXPECT_THAT(log[6], StartsWith("Erro gravando o Registro 2-20\r"));
  EXPECT_THAT(log[6], HasSubstr(refusal));
  EXPECT_EQ(log[7], "Fornecedor - 30");
  EXPECT_EQ(rows("select IdCliente from clientes order by 1"), (SqlRows{{"1"}, {"3"}}));
  EXPECT_EQ(rows("select Idfornecedor from fornecedores order by 1"), (SqlRows{{"10"}, {"30"}}));
  EXPECT_EQ(stats(0).failed, 1);
  EXPECT_EQ(stats(0).inserted, 2);
  EXPECT_EQ(stats(1).failed, 1);
  EXPECT_EQ(stats(1).inserted, 2);
}

// The refused record was an update: the stored row stays as it was (suppliers), and a later
// record with the same code edits it anew, nothing of the refused values carried over (customers).
TEST_P(PartnersRun, RefusedUpdateLeavesTheStoredRowForTheNextRecordOfItsCode) {
  store().execute("create unique index ux_clientes_cnpj on clientes (Cnpj)");
  store().execute("create unique index ux_fornecedores_cnpj on fornecedores (cnpj)");
  store().execute(
      "insert into clientes (IdCliente, NomeCliente, Cnpj, Email, Observacao, CodMun)"
      " values (5, 'Antigo', '55555555555', 'a@b.c', 'antes', '12345')");
  store().execute(
      "insert into fornecedores (Idfornecedor, NomeFornecedor, cnpj, Email, codmun)"
      " values (9, 'Velho', '99999', 'f@x.y', '12345')");
  write(customers()
            .recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}, {"CL_CPF", "111.111.111-11"}})
            .recordWith({{"CL_COD", "5"},
                         {"CL_NOM", "BIA"},
                         {"CL_CPF", "111.111.111-11"},
                         {"CL_CID", "CAMPINAS"},
                         {"CL_EST", "SP"}})
            .recordWith({{"CL_COD", "5"}, {"CL_NOM", "CIA"}, {"CL_CPF", "555.555.555-55"}}),
        suppliers()
            .recordWith({{"FN_COD", "1"}, {"FN_CGC", "11.111"}})
            .recordWith({{"FN_COD", "9"},
                         {"FN_NOM", "NOVO"},
                         {"FN_CGC", "11111"},
                         {"FN_CID", "SANTOS"},
                         {"FN_EST", "SP"}})
            .recordWith({{"FN_COD", "10"}, {"FN_NOM", "DEZ"}, {"FN_CGC", "10.101"}}));
  const auto log = run();
  ASSERT_EQ(log.size(), 9u) << ::testing::PrintToString(log);
  EXPECT_THAT(log[2], StartsWith("Erro gravando o Registro 2-BIA\r"));
  EXPECT_EQ(log[3], "Cliente - 5");
  EXPECT_THAT(log[6], StartsWith("Erro gravando o Registro 2-9\r"));
  EXPECT_EQ(log[7], "Fornecedor - 10");
  EXPECT_EQ(stats(0).failed, 1);
  EXPECT_EQ(stats(0).updated, 1);
  EXPECT_EQ(stats(1).failed, 1);
  EXPECT_EQ(stats(1).inserted, 2);
  // The third record's values; CodMun is its own lookup's (no city), not the refused one's.
  EXPECT_EQ(rows("select IdCliente, NomeCliente, Cnpj, Email, CodMun from clientes order by 1"),
            (SqlRows{{"1", "Ana", "11111111111", std::nullopt, "0"},
                     {"5", "Cia", "55555555555", "a@b.c", "0"}}));
  EXPECT_EQ(rows("select Idfornecedor, NomeFornecedor, cnpj, Email, codmun from fornecedores"
                 " order by 1"),
            (SqlRows{{"1", "", "11111", std::nullopt, "0"},
                     {"9", "Velho", "99999", "f@x.y", "12345"},  // as stored before the run
                     {"10", "Dez", "10101", std::nullopt, "0"}}));
}

TEST_P(PartnersRun, CodesRoundingToOneIntegerShareTheRowAndTheLaterWins) {
  write(customers()
            .recordWith({{"CL_COD", "1.5"}, {"CL_NOM", "PRIMEIRO"}})
            .recordWith({{"CL_COD", "2.5"}, {"CL_NOM", "SEGUNDO"}}),
        suppliers()
            .recordWith({{"FN_COD", "2.5"}, {"FN_NOM", "PRIMEIRO"}})
            .recordWith({{"FN_COD", "1.5"}, {"FN_NOM", "SEGUNDO"}}));
  EXPECT_THAT(run(), ElementsAre("Cliente - 1.5", "Cliente - 2.5", "Fornecedor - 2.5",
                                 "Fornecedor - 1.5", "Processo concluido"));
  EXPECT_EQ(rows("select IdCliente, NomeFantasia from clientes"), (SqlRows{{"2", "SEGUNDO"}}));
  EXPECT_EQ(rows("select Idfornecedor, NomeFornecedor from fornecedores"),
            (SqlRows{{"2", "Segundo"}}));
  EXPECT_EQ(stats(0).inserted, 1);
  EXPECT_EQ(stats(0).updated, 1);
  EXPECT_EQ(stats(1).inserted, 1);
  EXPECT_EQ(stats(1).updated, 1);
}

TEST_P(PartnersRun, NewAndExistingSuppliersGetTheTwentyThreeColumns) {
  store().execute(
      "insert into fornecedores (Idfornecedor, NomeFornecedor, Contato, codmun, cnpj, DataCadastro,"
      " Email, Fax, PrazoEntrega) values (9, 'Velho', 'Pedro', '12345', '999', '2001-02-03 "
      "04:05:06.000',"
      " 'f@x.y', '1122223333', 15)");
  write(customers(), suppliers()
                         .recordWith({{"FN_COD", "9"},
                                      {"FN_NOM", "DISTRIBUIDORA DO POVO"},
                                      {"FN_END", "RUA 1"},
                                      {"FN_BAI", "CENTRO"},
                                      {"FN_CID", "SANTOS"},
                                      {"FN_EST", "SP"},
                                      {"FN_CEP", "11013-10"},
                                      {"FN_TEL_01", "1332221111"},
                                      {"FN_CGC", "12.345.678/001"},
                                      {"FN_CGF", "633.123.456"},
                                      {"FN_EMAIL", "novo@x.y"}})
                         .recordWith({{"FN_COD", "10"}, {"FN_NOM", "SEM DOCUMENTO"}}));
  const auto log = run();
  EXPECT_THAT(log, ElementsAre("Fornecedor - 9", "Fornecedor - 10", "Processo concluido"));
  EXPECT_EQ(stats(1).updated, 1);
  EXPECT_EQ(stats(1).inserted, 1);
  EXPECT_EQ(
      rows("select Idfornecedor, Idempresa, NomeFornecedor, NomeFantasia, Cep, DDD, Telefone,"
           " TipoPessoa, cnpj, inscest, Observacao, Contato, Endereco, Numero, Bairro, Cidade,"
           " Estado, Status, Fornecedor, TipoContribuinte, idpais, codmun"
           " from fornecedores order by Idfornecedor"),
      (SqlRows{{"9",
                "1",
                "Distribuidora do Povo",
                "Distribuidora do Povo",
                "1101310",
                "0",
                "1332221111",
                "J",
                "12345678001",
                "633.123.456",
                "Fornecedor Importado do Sistema Antigo",
                "",
                "RUA 1",
                "0",
                "CENTRO",
                "SANTOS",
                "SP",
                "A",
                "1",
                "1",
                "1058",
                "48500"},
               {"10",
                "1",
                "Sem Documento",
                "Sem Documento",
                "",
                "0",
                "",
                "J",
                "",
                "",
                "Fornecedor Importado do Sistema Antigo",
                "",
                "",
                "0",
                "",
                "",
                "",
                "A",
                "1",
                "1",
                "1058",
                "0"}}));
  EXPECT_THAT(*store().scalar("select DataAtualizacao from fornecedores where Idfornecedor = 9"),
              StartsWith(today()));
  // Never written: kept on the update, the store's own on the insert.
  EXPECT_EQ(rows("select Email, Fax, PrazoEntrega from fornecedores order by Idfornecedor"),
            (SqlRows{{"f@x.y", "1122223333", "15"}, {std::nullopt, std::nullopt, "0"}}));
  EXPECT_THAT(*store().scalar("select DataCadastro from fornecedores where Idfornecedor = 9"),
              StartsWith("2001-02-03"));
  // The new row's registration date is the store's default (the section writes none).
  const auto registered =
      store().scalar("select DataCadastro from fornecedores where Idfornecedor = 10");
  ASSERT_NE(registered, std::nullopt);
  if (postgres()) {
    EXPECT_THAT(*registered, StartsWith(today()));
  }
}

TEST_P(PartnersRun, LegacyTableLackingADeclaredFieldEndsTheRunBeforeAnyRecord) {
  write(DbfBuilder::customers({"CL_EMAIL"}).recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}}),
        suppliers().recordWith({{"FN_COD", "1"}}));
  EXPECT_THAT(run(), IsEmpty());
  EXPECT_EQ(runError_, "tClientes: Field 'CL_EMAIL' not found");
  EXPECT_EQ(count("clientes"), 0);
  EXPECT_EQ(count("fornecedores"), 0);

  write(customers().recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}}),
        DbfBuilder::suppliers({"FN_TIPO"}).recordWith({{"FN_COD", "1"}}));
  EXPECT_THAT(run(), ElementsAre("Cliente - 1"));
  EXPECT_EQ(runError_, "tFornecedor: Field 'FN_TIPO' not found");
  EXPECT_EQ(count("fornecedores"), 0);
}

TEST_P(PartnersRun, StoreColumnOfAnotherKindFailsEveryCustomerWithTheMismatch) {
  store().execute("alter table clientes drop column DDD");
  store().execute("alter table clientes add column DDD float");
  write(customers()
            .recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}})
            .recordWith({{"CL_COD", "2"}, {"CL_NOM", "BIA"}}),
        suppliers());
  EXPECT_THAT(run(),
              ElementsAre("Cliente - 1",
                          "Erro gravando o Registro 1-ANA\raClientes: Type mismatch for field "
                          "'DDD', expecting: Integer actual: Float",
                          "Cliente - 2",
                          "Erro gravando o Registro 2-BIA\raClientes: Type mismatch for field "
                          "'DDD', expecting: Integer actual: Float",
                          "Processo concluido"));
  EXPECT_EQ(count("clientes"), 0);
}

TEST_P(PartnersRun, StopDuringCustomersStillResetsTheSuppliersWalkWhichThenEnds) {
  write(customers()
            .recordWith({{"CL_COD", "1"}, {"CL_NOM", "ANA"}})
            .recordWith({{"CL_COD", "2"}, {"CL_NOM", "BIA"}})
            .recordWith({{"CL_COD", "3"}, {"CL_NOM", "CIA"}}),
        suppliers().recordWith({{"FN_COD", "1"}}).recordWith({{"FN_COD", "2"}}));
  const auto log = run([](RunCore& core, RecordingHost& host) {
    host.onLine = [&core](std::string_view line) {
      if (line == "Cliente - 2") core.BitBtn2Click();  // "Parar" seen during the log line
    };
  });
  EXPECT_THAT(log, ElementsAre("Cliente - 1", "Cliente - 2", "Processo concluido"));
  // The record in hand is finished (the gauge counts the records done); the suppliers' walk
  // rewinds, resets the gauge and ends.
  EXPECT_THAT(host_.events,
              ElementsAre("pos 0", "max 3", "pos 0", "log Cliente - 1", "pos 1", "log Cliente - 2",
                          "pos 2", "pos 0", "max 2", "pos 0", "log Processo concluido"));
  EXPECT_EQ(rows("select IdCliente from clientes order by 1"), (SqlRows{{"1"}, {"2"}}));
  EXPECT_EQ(count("fornecedores"), 0);
  ASSERT_EQ(summary_.sections.size(), 2u);
  EXPECT_EQ(stats(1).read, 0);
  EXPECT_EQ(stats(1).recordCount, 2);
  EXPECT_TRUE(summary_.stopped);
  EXPECT_TRUE(summary_.completed);
}

INSTANTIATE_TEST_SUITE_P(Stores, PartnersRun, test_support::kAllStores,
                         test_support::storeTestName);

}  // namespace
}  // namespace importacao
