// The store schema and seed the project ships (schema/), on both test stores: what the import
// sections rely on (declared fields with fitting kinds, keys, defaults, the municipality lookup,
// the initial-stock routine), and scripts/make-store, which loads them.
#include "tests/support/store_fixture.h"
#include "tests/support/files.h"
#include "normalise/ascii.h"

#include <gmock/gmock.h>
#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <tuple>
#include <sys/wait.h>

namespace importacao::test_support {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// --- helpers -------------------------------------------------------------------------------------

// The families of column kinds that a declared field accepts.
enum class Family { Text, Memo, Integer, Float, DateTime };

std::string_view familyName(Family family) {
  switch (family) {
    case Family::Text: return "text";
    case Family::Memo: return "memo";
    case Family::Integer: return "integer";
    case Family::Float: return "float";
    case Family::DateTime: return "date-time";
  }
  return "?";
}

// The family a column falls in by its ODBC description, as the store layer maps kinds:
// decimal of scale 0 and precision below 10 reads as an integer; a large integer is none of these.
std::optional<Family> familyOf(const SqlColumn& c) {
  switch (c.sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR: return Family::Text;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR: return Family::Memo;
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT: return Family::Integer;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return Family::Float;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return c.decimalDigits == 0 && c.size < 10 ? Family::Integer : Family::Float;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return Family::DateTime;
    default: return std::nullopt;
  }
}

struct Field {
  std::string_view name;
  Family family;
  std::size_t size = 0;  // texts: the declared size, which the column must have
};

std::string fieldList(const std::vector<Field>& fields) {
  std::string out;
  for (const auto& f : fields) out += (out.empty() ? "" : ", ") + std::string(f.name);
  return out;
}

// Selects exactly the named columns (so a missing one fails the statement) and checks each kind.
void expectColumns(const TestStore& store, std::string_view table,
                   const std::vector<Field>& fields) {
  SCOPED_TRACE(std::string(table));
  std::vector<SqlColumn> columns;
  ASSERT_NO_THROW(columns = store.describe("select " + fieldList(fields) + " from " +
                                           std::string(table) + " where 1 = 0"));
  ASSERT_EQ(columns.size(), fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    SCOPED_TRACE(std::string(fields[i].name));
    auto family = familyOf(columns[i]);
    ASSERT_TRUE(family.has_value()) << "SQL type " << columns[i].sqlType;
    EXPECT_EQ(familyName(*family), familyName(fields[i].family))
        << "SQL type " << columns[i].sqlType;
    if (fields[i].size != 0) {
      EXPECT_EQ(columns[i].size, fields[i].size);
    }
  }
}

// The statements as the importer sends them: lines ended by CR LF, parameters as '?'.
const std::string kMunicipioLookup =
    "SELECT     Estado.Estado, upper( Municipio.NOME) as Cidade,Estado.CODIGO, codmun\r\n"
    "FROM         Municipio INNER JOIN\r\n"
    "                      Estado ON Municipio.IDSIGLA = Estado.Estado\r\n"
    " where Estado.Estado = ?\r\n"
    "   and upper( Municipio.NOME) = ?\r\n"
    "\r\n";
const std::string kEstInicial =
    "insert into estoqueinicial (data,sequencia, idreferencia, idcor, tam, est_atual,idestoque)\r\n"
    " values (? , 0, ?, 1, '0', ?, ?)\r\n";

// Calls the initial-stock routine the way each store offers it.
void callEstoqueInicial(const TestStore& store, const SqlParam& refer, std::int64_t company = 1,
                        std::int64_t place = 1) {
  SqlParams params{refer, std::int64_t{1}, std::string("0"), company, place};
  if (store.kind() == StoreKind::PostgreSql)
    store.query("select sp_estoqueinicial(?, ?, ?, ?, ?)", params);
  else
    store.execute(
        "insert into Sp_EstoqueInicial (refer, idcor, tam, idempresa, idfilial) values (?, ?, ?, "
        "?, ?)",
        params);
}

struct CommandResult {
  int status;
  std::string output;
};

CommandResult run(const std::string& command) {
  CommandResult result{-1, {}};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer{};
  while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
    result.output.append(buffer.data(), n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string makeStore() {
  return "python3 " + quote(std::string(IMP_SOURCE_ROOT) + "/scripts/make-store");
}

// --- the schema ----------------------------------------------------------------------------------

class StoreSchema : public StoreTest {};

TEST_P(StoreSchema, DeclaredFieldsHaveColumnsOfFittingKinds) {
  using F = Family;
  const std::vector<Field> aBarras = {
      {"IdReferencia", F::Text, 10}, {"IdCor", F::Integer},          {"Tam", F::Text, 3},
      {"CodBarra", F::Text, 15},     {"DataAlteracao", F::DateTime}, {"Est_Minimo", F::Float},
      {"Est_Maximo", F::Float}};
  const std::vector<Field> aEstoque = {
      {"IdEmpresa", F::Integer},     {"IdLocal", F::Integer},  {"IdEstoque", F::Integer},
      {"IdReferencia", F::Text, 10}, {"IdCor", F::Integer},    {"Tam", F::Text, 3},
      {"Est_Fiscal", F::Float},      {"Est_Fisico", F::Float}, {"DataAlteracao", F::DateTime},
      {"DataInclusao", F::DateTime}, {"ExpLoja", F::Text, 1},  {"Est_Unidade", F::Integer},
      {"Sincronizado", F::Text, 1}};
  const std::vector<Field> aPreco = {{"IdReferencia", F::Text, 10},
                                     {"IdTabela", F::Integer},
                                     {"PrecoVenda", F::Float},
                                     {"DataAlteracao", F::DateTime},
                                     {"DataInclusao", F::DateTime}};
  const std::vector<Field> aClientes = {{"IdCliente", F::Integer},
                                        {"Idempresa", F::Integer},
                                        {"NomeCliente", F::Text, 50},
                                        {"Cnpj", F::Text, 15},
                                        {"InscEst", F::Text, 20},
                                        {"Cep", F::Text, 8},
                                        {"DDD", F::Integer},
                                        {"Telefone", F::Text, 50},
                                        {"DDD_Cel", F::Integer},
                                        {"Celular", F::Text, 8},
                                        {"TipoPessoa", F::Text, 1},
                                        {"Fax", F::Text, 50},
                                        {"RG", F::Text, 20},
                                        {"Observacao", F::Memo},
                                        {"Contato", F::Text, 50},
                                        {"DataCadastro", F::DateTime},
                                        {"DataAtualizacao", F::DateTime},
                                        {"Email", F::Text, 255},
                                        {"Endereco", F::Text, 50},
                                        {"Numero", F::Integer},
                                        {"Complemento", F::Text, 50},
                                        {"Bairro", F::Text, 50},
                                        {"Cidade", F::Text, 50},
                                        {"Estado", F::Text, 2},
                                        {"EnderecoEntr", F::Memo},
                                        {"PontoRefer", F::Memo},
                                        {"ddd2", F::Integer},
                                        {"fone2", F::Text, 8},
                                        {"ddd3", F::Integer},
                                        {"fone3", F::Text, 8},
                                        {"ddd4", F::Integer},
                                        {"fone4", F::Text, 8},
                                        {"LimiteCredito", F::Float},
                                        {"NumeroCartao", F::Text, 20},
                                        {"IdCorretor", F::Integer},
                                        {"TipoCliente", F::Text, 1},
                                        {"IdClassificacao", F::Integer},
                                        {"DataSerasa", F::DateTime},
                                        {"CodMun", F::Text, 5},
                                        {"ComissaoRep", F::Float},
                                        {"IdLoja", F::Integer},
                                        {"Representante", F::Text, 1},
                                        {"LiberaConsignacao", F::Text, 50},
                                        {"Status", F::Text, 1},
                                        {"IdPais", F::Text, 4},
                                        {"DataNascto", F::DateTime},
                                        {"DescontoVenda", F::Float},
                                        {"NaoMostraContas", F::Text, 1},
                                        {"IdVendedor", F::Integer},
                                        {"ComissaoVendedor", F::Float},
                                        {"NomeFantasia", F::Text, 50},
                                        {"TipoContribuinte", F::Text, 1},
                                        {"Bai_Cob", F::Text, 50},
                                        {"Cep_Cob", F::Text, 8},
                                        {"Cid_Cob", F::Text, 50},
                                        {"CodMun_Cob", F::Text, 5},
                                        {"Compl_Cob", F::Text, 50},
                                        {"Cont_Cob", F::Text, 50},
                                        {"End_Cob", F::Text, 50},
                                        {"Est_Cob", F::Text, 2},
                                        {"Num_Cob", F::Integer}};
  ASSERT_EQ(aClientes.size(), 61u);
  // The lookup's Cidade is upper()'s result, whose kind is the driver's business; the other three
  // are plain columns.
  const std::vector<Field> lookup = {
      {"Estado.Estado", F::Text, 2}, {"Estado.CODIGO", F::Text, 2}, {"codmun", F::Text, 5}};

  expectColumns(store(), "lj_referBar", aBarras);
  expectColumns(store(), "lj_referEst", aEstoque);
  expectColumns(store(), "lj_referPrc", aPreco);
  expectColumns(store(), "clientes", aClientes);
  expectColumns(store(), "Municipio inner join Estado on Municipio.IDSIGLA = Estado.Estado",
                lookup);
}

TEST_P(StoreSchema, AssignedColumnsTakeTheAssignedValues) {
  using F = Family;
  // What the product section assigns: texts go to text columns; its integers and floats go to
  // number columns of either family (0 into a float column is 0.0); dates to date-times.
  const std::vector<std::pair<std::string_view, Family>> produtos = {{"IdReferencia", F::Text},
                                                                     {"Descricao", F::Text},
                                                                     {"ApelidoProduto", F::Text},
                                                                     {"DenominacaoFiscal", F::Text},
                                                                     {"IdGrupo", F::Integer},
                                                                     {"IdTamanho", F::Integer},
                                                                     {"IdColecao", F::Integer},
                                                                     {"Tam_Ini", F::Integer},
                                                                     {"Tam_Fim", F::Integer},
                                                                     {"DataCadastro", F::DateTime},
                                                                     {"DataAlteracao", F::DateTime},
                                                                     {"Status", F::Text},
                                                                     {"PrcCompra", F::Float},
                                                                     {"PrcUltCusto", F::Float},
                                                                     {"PrcMedio", F::Float},
                                                                     {"PercMargem", F::Float},
                                                                     {"Promocao", F::Text},
                                                                     {"Localizacao", F::Text},
                                                                     {"RefAnterior", F::Text},
                                                                     {"UndVenda", F::Text},
                                                                     {"UndCompra", F::Text},
                                                                     {"IdFornecedor", F::Integer},
                                                                     {"TipoProduto", F::Text},
                                                                     {"VlrPromocao", F::Float},
                                                                     {"Icms", F::Float},
                                                                     {"Consignado", F::Text},
                                                                     {"Qtd1", F::Float},
                                                                     {"Qtd2", F::Float},
                                                                     {"Qtd3", F::Float},
                                                                     {"Qtd4", F::Float},
                                                                     {"Qtd5", F::Float},
                                                                     {"Qtd6", F::Float},
                                                                     {"FatorConversao", F::Float},
                                                                     {"Prc1", F::Float},
                                                                     {"Prc2", F::Float},
                                                                     {"Prc3", F::Float},
                                                                     {"IdTecido", F::Integer},
                                                                     {"IdAliquota", F::Text},
                                                                     {"IdMarca", F::Integer},
                                                                     {"UndVendaQtde", F::Float},
                                                                     {"UndCompraQtde", F::Float},
                                                                     {"SubTributaria", F::Text},
                                                                     {"TipoSped", F::Text},
                                                                     {"PercPis", F::Float},
                                                                     {"PercCofins", F::Float},
                                                                     {"CSTPis", F::Text},
                                                                     {"CSTCofins", F::Text},
                                                                     {"CSTIpiEntrada", F::Text},
                                                                     {"CSTIPI", F::Text},
                                                                     {"CSOSN", F::Text},
                                                                     {"DescPromocao", F::Float},
                                                                     {"Origem_Mercadoria", F::Text},
                                                                     {"ListaPrecoVenda", F::Text},
                                                                     {"NCM", F::Text},
                                                                     {"CST", F::Text}};
  const std::vector<std::pair<std::string_view, Family>> fornecedores = {
      {"Idfornecedor", F::Integer},
      {"Idempresa", F::Integer},
      {"NomeFornecedor", F::Text},
      {"NomeFantasia", F::Text},
      {"Cep", F::Text},
      {"DDD", F::Integer},
      {"Telefone", F::Text},
      {"TipoPessoa", F::Text},
      {"cnpj", F::Text},
      {"inscest", F::Text},
      {"Observacao", F::Memo},
      {"Contato", F::Text},
      {"DataAtualizacao", F::DateTime},
      {"Endereco", F::Text},
      {"Numero", F::Integer},
      {"Bairro", F::Text},
      {"Cidade", F::Text},
      {"Estado", F::Text},
      {"Status", F::Text},
      {"Fornecedor", F::Text},
      {"TipoContribuinte", F::Text},
      {"idpais", F::Text},
      {"codmun", F::Text}};
  ASSERT_EQ(produtos.size(), 55u);
  ASSERT_EQ(fornecedores.size(), 23u);
  for (const auto& [table, columns] :
       {std::pair{"lj_produtos", produtos}, std::pair{"fornecedores", fornecedores}}) {
    std::vector<Field> fields;
    for (const auto& [name, family] : columns) {
      // An integer value fits a column of either number family.
      if (family == F::Integer) {
        auto described =
            store().describe("select " + std::string(name) + " from " + table + " where 1 = 0");
        ASSERT_EQ(described.size(), 1u) << name;
        auto got = familyOf(described[0]);
        EXPECT_TRUE(got == F::Integer || got == F::Float) << table << "." << name;
        continue;
      }
      fields.push_back({name, family});
    }
    expectColumns(store(), table, fields);
  }
}

TEST_P(StoreSchema, ColumnsTheImportNeverSetsTakeTheirDefaults) {
  auto& s = store();
  s.execute("insert into lj_produtos (IdReferencia) values ('1234')");
  s.execute(
      "insert into lj_referBar (IdReferencia, IdCor, Tam, CodBarra) values ('1234', 1, '0', "
      "'0000123401012')");
  s.execute("insert into clientes (IdCliente) values (7)");
  s.execute("insert into fornecedores (Idfornecedor) values (9)");
  struct {
    std::string_view sql;
    std::optional<std::string> want;
  } cases[] = {
      {"select cast(PesoBruto as integer) from lj_produtos", "0"},
      {"select Garantia from lj_produtos", "0"},
      {"select ExpLoja from lj_produtos", "N"},
      {"select Observacao from lj_produtos", std::nullopt},
      {"select Sincronizado from lj_referBar", "N"},
      {"select Sincronizado from clientes", "N"},
      {"select TipoCliente from clientes", "N"},
      {"select Email from clientes", std::nullopt},
      {"select PrazoEntrega from fornecedores", "0"},
      {"select count(*) from fornecedores where DataCadastro is not null", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sql));
    EXPECT_EQ(s.scalar(c.sql), c.want);
  }
}

TEST_P(StoreSchema, KeysRefuseDuplicatesAndAllowWhatTheSectionsWrite) {
  auto& s = store();
  struct {
    std::string_view sql;
    bool accepted;
  } steps[] = {
      {"insert into lj_produtos (IdReferencia) values ('1234')", true},
      {"insert into lj_produtos (IdReferencia) values ('1234')", false},
      {"insert into lj_referBar (IdReferencia, IdCor, Tam, CodBarra) values ('1234', 1, '0', "
       "'0000123401012')",
       true},
      {"insert into lj_referBar (IdReferencia, IdCor, Tam, CodBarra) values ('1234', 1, '0', "
       "'0000123401012')",
       false},
      // a second barcode of the same product, colour and size
      {"insert into lj_referBar (IdReferencia, IdCor, Tam, CodBarra) values ('1234', 1, '0', "
       "'7891234567895')",
       true},
      {"insert into lj_referPrc (IdReferencia, IdTabela) values ('1234', 1)", true},
      {"insert into lj_referPrc (IdReferencia, IdTabela) values ('1234', 1)", false},
      {"insert into lj_referPrc (IdReferencia, IdTabela) values ('1234', 2)", true},
      {"insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam) values "
       "(1, 1, 1, '1234', 1, '0')",
       true},
      {"insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam) values "
       "(1, 1, 1, '1234', 1, '0')",
       false},
      // the same stock of the product for another company and another place
      {"insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam) values "
       "(2, 1, 1, '1234', 1, '0')",
       true},
      {"insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam) values "
       "(1, 2, 1, '1234', 1, '0')",
       true},
      {"insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam) values "
       "(1, 1, 1, null, 1, '0')",
       false},
      {"insert into clientes (IdCliente) values (7)", true},
      {"insert into clientes (IdCliente) values (7)", false},
      {"insert into fornecedores (Idfornecedor) values (7)", true},
      {"insert into fornecedores (Idfornecedor) values (7)", false},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.sql));
    if (step.accepted)
      EXPECT_NO_THROW(s.execute(step.sql));
    else
      EXPECT_THROW(s.execute(step.sql), TestStoreError);
  }
  EXPECT_EQ(s.scalar("select count(*) from lj_referEst where IdReferencia = '1234' and IdCor = 1 "
                     "and Tam = '0' and IdEstoque = 1"),
            "3");
}

TEST_P(StoreSchema, ProductsStockLookupUsesItsIndex) {
  auto& s = store();
  // Without company and place the primary key cannot serve the lookup; PostgreSQL is told to
  // avoid whole-table scans, as it would on a full store, since this one is empty.
  std::string explain = "explain query plan ";
  if (s.kind() == StoreKind::PostgreSql) {
    s.execute("set enable_seqscan = off");
    explain = "explain ";
  }
  std::string plan;
  for (const SqlRow& row :
       s.query(explain + "select * from lj_referEst where idreferencia = ? and idcor = ? "
                         "and tam = ? and idestoque = ?",
               {std::string("1234"), std::int64_t{1}, std::string("0"), std::int64_t{1}})) {
    for (const auto& value : row) plan += value.value_or("") + "\n";
  }
  EXPECT_THAT(lowerAscii(plan), HasSubstr("ix_lj_referest_idreferencia_idcor_tam_idestoque"));
}

TEST_P(StoreSchema, RepeatedInitialStockEntriesAreAllKept) {
  auto& s = store();
  const SqlParams entry{std::string("2024-03-05 10:11:12.345"), std::string("1234"), 7.5,
                        std::int64_t{1}};
  EXPECT_EQ(s.execute(kEstInicial, entry), 1);
  EXPECT_EQ(s.execute(kEstInicial, entry), 1);
  auto rows = s.query(
      "select sequencia, idreferencia, idcor, tam, cast(est_atual * 10 as integer), idestoque "
      "from estoqueinicial order by IdEstoqueInicial");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], rows[1]);
  EXPECT_EQ(rows[0], (SqlRow{"0", "1234", "1", "0", "75", "1"}));
  EXPECT_EQ(s.scalar("select count(distinct IdEstoqueInicial) from estoqueinicial"), "2");
}

TEST_P(StoreSchema, InitialStockRoutineCreatesTheStockRowOnce) {
  auto& s = store();
  callEstoqueInicial(s, std::string("1234"));
  callEstoqueInicial(s, std::string("1234"));
  auto rows = s.query(
      "select IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam, cast(Est_Fiscal as "
      "integer), "
      "cast(Est_Fisico as integer), ExpLoja, Est_Unidade, Sincronizado from lj_referEst");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (SqlRow{"1", "1", "1", "1234", "1", "0", "0", "0", "N", "1", "N"}));
  EXPECT_EQ(s.scalar("select count(*) from lj_referEst where DataInclusao is not null and "
                     "DataAlteracao is not null"),
            "1");
}

TEST_P(StoreSchema, InitialStockRoutineKeepsAnExistingRowAsItIs) {
  auto& s = store();
  s.execute(
      "insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam, "
      "Est_Fisico) "
      "values (1, 1, 1, '1234', 1, '0', 7)");
  s.execute(
      "insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam, "
      "Est_Fisico) "
      "values (2, 1, 1, '555', 1, '0', 3)");
  callEstoqueInicial(s, std::string("1234"));  // there already: untouched
  callEstoqueInicial(s, std::string("555"));   // there for company 2 only: made for company 1
  auto rows = s.query(
      "select IdEmpresa, IdReferencia, cast(Est_Fisico as integer) from lj_referEst "
      "order by IdReferencia, IdEmpresa");
  EXPECT_EQ(rows, (SqlRows{{"1", "1234", "7"}, {"1", "555", "0"}, {"2", "555", "3"}}));
}

TEST_P(StoreSchema, InitialStockRoutineRefusesAMissingProductKey) {
  auto& s = store();
  EXPECT_THROW(callEstoqueInicial(s, nullptr), TestStoreError);
  EXPECT_EQ(s.scalar("select count(*) from lj_referEst"), "0");
}

TEST(StoreSchemaPostgres, InitialStockFunctionSaysWhetherItCreatedTheRow) {
  TestStore s(StoreKind::PostgreSql, kNoSeed);
  const SqlParams params{std::string("1234"), std::int64_t{1}, std::string("0"), std::int64_t{1},
                         std::int64_t{1}};
  EXPECT_EQ(s.scalar("select sp_estoqueinicial(?, ?, ?, ?, ?)", params), "1");
  EXPECT_EQ(s.scalar("select sp_estoqueinicial(?, ?, ?, ?, ?)", params), "0");
}

// --- the seed ------------------------------------------------------------------------------------

TEST_P(StoreSchema, SeedHoldsEveryStateAndMunicipalityInTheStoresSpelling) {
  auto& s = store();
  struct {
    std::string_view sql;
    std::string want;
  } cases[] = {
      {"select count(*) from Estado", "27"},
      {"select count(*) from Municipio", "5571"},
      {"select count(*) from Municipio where IDSIGLA = 'SP'", "645"},
      {"select count(*) from Municipio where IDSIGLA = 'DF'", "1"},
      {"select count(*) from Municipio where length(codmun) <> 5 or codmun <> "
       "substr(cast(IdMunicipio as varchar(7)), 3, 5)",
       "0"},
      {"select count(*) from Estado where length(CODIGO) <> 2", "0"},
      {"select count(*) from Municipio m join Estado e on m.IDSIGLA = e.Estado "
       "where substr(cast(m.IdMunicipio as varchar(7)), 1, 2) <> e.CODIGO",
       "0"},
      // capitals throughout: no letter is left for upper() to change (ASCII ones on SQLite)
      {"select count(*) from Municipio where NOME <> upper(NOME)", "0"},
      {"select count(*) from Estado where NOME <> upper(NOME)", "0"},
      {"select NOME from Estado where Estado = 'SP'", "SÃO PAULO"},
      {"select CODIGO from Estado where Estado = 'SP'", "35"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sql));
    EXPECT_EQ(s.scalar(c.sql), c.want);
  }
}

TEST_P(StoreSchema, MunicipalityLookupFindsCitiesSpelledAsTheStoreSpellsThem) {
  struct {
    std::string uf;
    std::string cidade;
    std::optional<std::string> codmun;  // nullopt: no row
  } cases[] = {
      {"SP", "SÃO PAULO", "50308"},      {"RO", "ALTA FLORESTA D'OESTE", "00015"},
      {"DF", "BRASÍLIA", "00108"},       {"PI", "BOM PRINCÍPIO DO PIAUÍ", "01919"},
      {"SP", "São Paulo", std::nullopt},  // the legacy city must be in capitals
      {"SP", "SAO PAULO", std::nullopt},  // and keep its accents
      {"RJ", "SÃO PAULO", std::nullopt},  // in its own state
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uf + " " + c.cidade);
    auto rows = store().query(kMunicipioLookup, {c.uf, c.cidade});
    if (!c.codmun) {
      EXPECT_TRUE(rows.empty());
      continue;
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (SqlRow{c.uf, c.cidade, rows[0][2], c.codmun}));
    EXPECT_EQ(rows[0][2]->size(), 2u);
  }
}

// SQLite's upper() changes ASCII letters only; PostgreSQL's (C.UTF-8 here) changes all. The
// lookup works on both because the store holds its names in capitals already.
TEST_P(StoreSchema, UpperCaseOfAccentedLettersDiffersByStore) {
  auto got = store().scalar("select upper(?)", {std::string("são paulo")});
  EXPECT_EQ(got, GetParam() == StoreKind::Sqlite ? "SãO PAULO" : "SÃO PAULO");
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreSchema, kAllStores, storeTestName);

// --- scripts/make-store --------------------------------------------------------------------------

class MakeStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/imp make-store-XXXXXX";  // a blank in the path, as Windows users have
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(MakeStore, SqliteStoreAndItsDataLinkFiles) {
  fs::path db = dir_ / "loja.db";
  // A write-ahead log and synchronous=NORMAL unless asked to leave SQLite's defaults: every post
  // of an import is a commit of its own.
  const std::string fast = ";JournalMode=WAL;SyncPragma=NORMAL";
  for (auto [option, encoding, settings] :
       {std::tuple{"", DataLinkEncoding::Utf16, fast},
        std::tuple{" --8bit", DataLinkEncoding::EightBit, fast},
        std::tuple{" --durable", DataLinkEncoding::Utf16, std::string()}}) {
    SCOPED_TRACE(option);
    fs::remove(db);
    fs::path udl = dir_ / "loja.udl";
    auto r = run(makeStore() + " sqlite --udl " + quote(udl.string()) + option + " " +
                 quote(db.string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(udl),
              dataLinkBytes("Driver=SQLite3;Database=" + db.string() + settings, encoding));
  }
  for (const char* help : {" --help", " sqlite --help"})
    EXPECT_THAT(run(makeStore() + help).output, HasSubstr("synchronous=NORMAL"));
  fs::path udl = dir_ / "loja.udl";
  auto r = run(makeStore() + " sqlite --udl " + quote(udl.string()) + " " +
               quote((dir_ / "other.db").string()));
  ASSERT_EQ(r.status, 0) << r.output;
  std::string connection = dataLinkExtendedProperties(readFile(udl));
  EXPECT_EQ(queryConnection(connection, "select count(*) from Municipio"), (SqlRows{{"5571"}}));
  // no half-made files are left beside them
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(MakeStore, BadRequestsAreRefusedAndLoseNothing) {
  fs::path existing = dir_ / "existing.db";
  { std::ofstream(existing) << "precious"; }
  struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"sqlite " + quote(existing.string()),
       "exists already; make-store never writes over a store"},
      {"sqlite " + quote((dir_ / "no" / "dir.db").string()), "is not a directory"},
      {"sqlite --8bit " + quote((dir_ / "x.db").string()), "--8bit goes with --udl FILE"},
      {"sqlite --durable " + quote((dir_ / "x.db").string()), "--durable goes with --udl FILE"},
      {"sqlite --udl x.udl " + quote((dir_ / "a;b.db").string()), "cannot open a path with ';'"},
      {"postgresql 'host=127.0.0.1' 'x; drop table y'", "bad schema name"},
      {"postgresql 'host=127.0.0.1' Upper", "bad schema name"},
      {"script oracle", "invalid choice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    auto r = run(makeStore() + " " + c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.output, HasSubstr(c.message));
  }
  EXPECT_EQ(readFile(existing), "precious");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(MakeStore, PostgresStoreInASchemaReachedThroughItsDataLinkFile) {
  TestStore keeper(StoreKind::PostgreSql, kNoSeed);  // a connection to drop the schema with
  PsqlTarget server = testServerForPsql();
  std::string schema = "t_make_store_" + std::to_string(getpid());
  fs::path udl = dir_ / "loja.udl";
  auto r = run("PGPASSWORD=" + quote(server.password) + " " + makeStore() + " postgresql --udl " +
               quote(udl.string()) + " " + quote(server.conninfo) + " " + schema);
  ASSERT_EQ(r.status, 0) << r.output;
  std::string connection = dataLinkExtendedProperties(readFile(udl));
  EXPECT_THAT(connection, HasSubstr("Pwd=" + server.password));
  EXPECT_EQ(queryConnection(connection, "select NOME from Municipio where IdMunicipio = 3550308"),
            (SqlRows{{"SÃO PAULO"}}));
  EXPECT_EQ(queryConnection(connection, "select sp_estoqueinicial('1', 1, '0', 1, 1)"),
            (SqlRows{{"1"}}));

  // Loading again into the same schema fails at once and leaves what is there.
  auto again = run("PGPASSWORD=" + quote(server.password) + " " + makeStore() + " postgresql " +
                   quote(server.conninfo) + " " + schema);
  EXPECT_NE(again.status, 0);
  EXPECT_THAT(again.output, HasSubstr("already exists"));
  EXPECT_EQ(queryConnection(connection, "select count(*) from lj_referEst"), (SqlRows{{"1"}}));

  keeper.execute("drop schema " + schema + " cascade");
}

}  // namespace
}  // namespace importacao::test_support
