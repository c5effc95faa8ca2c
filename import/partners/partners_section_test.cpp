// The customers and suppliers sections over in-memory sources: which columns they write and in
// what order, the person kind, the values handed to the lookups, and the error lines. The same
// sections against the real stores, in whole runs, are in tests/partners.
#include "import/partners/partners_section.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/errors.h"
#include "data/store/declarations.h"
#include "tests/support/fixed_clock.h"
#include "tests/support/memory_source.h"
#include "tests/support/written_columns.h"

namespace importacao {
namespace {

using ::testing::ElementsAreArray;
using Row = MemorySource::Row;

class LinesLog final : public RunLog {
 public:
  void AddLogLine(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

Value txt(std::string_view s) { return Value{std::string(s)}; }
Value num(double d) { return Value{d}; }
Value whole(std::int64_t i) { return Value{i}; }

// The customer fields the section reads, in a legacy table of one record per row.
const std::vector<ColumnInfo> kCustomerColumns = {
    {"CL_COD", FieldKind::Float, 0, false},    {"CL_NOM", FieldKind::Text, 40, false},
    {"CL_TEL_01", FieldKind::Text, 11, false}, {"CL_CGC", FieldKind::Text, 18, false},
    {"CL_CPF", FieldKind::Text, 14, false},    {"CL_CGF", FieldKind::Text, 20, false},
    {"LIMICRE", FieldKind::Float, 0, false},   {"CL_OBS1", FieldKind::Text, 50, false},
    {"CL_PROEMP", FieldKind::Text, 23, false}, {"CL_DTACAD", FieldKind::Date, 0, false},
    {"CL_END", FieldKind::Text, 40, false},    {"CL_BAI", FieldKind::Text, 15, false},
    {"CL_CID", FieldKind::Text, 15, false},    {"CL_EST", FieldKind::Text, 2, false},
    {"CL_ENDCOB", FieldKind::Text, 40, false}, {"CL_BAICOB", FieldKind::Text, 15, false},
    {"CL_CIDCOB", FieldKind::Text, 15, false}, {"CL_ESTCOB", FieldKind::Text, 2, false},
};

const std::vector<ColumnInfo> kSupplierColumns = {
    {"FN_COD", FieldKind::Float, 0, false}, {"FN_NOM", FieldKind::Text, 40, false},
    {"FN_END", FieldKind::Text, 40, false}, {"FN_BAI", FieldKind::Text, 20, false},
    {"FN_CID", FieldKind::Text, 20, false}, {"FN_EST", FieldKind::Text, 2, false},
    {"FN_CEP", FieldKind::Text, 8, false},  {"FN_TEL_01", FieldKind::Text, 11, false},
    {"FN_CGC", FieldKind::Text, 14, false}, {"FN_CGF", FieldKind::Text, 14, false},
};

// fornecedores as the store has it: the 23 columns the section writes and three it does not.
const std::vector<ColumnInfo> kFornecedoresColumns = {
    {"Idfornecedor", FieldKind::Integer, 0, false},
    {"Idempresa", FieldKind::Integer, 0, false},
    {"NomeFornecedor", FieldKind::Text, 50, false},
    {"NomeFantasia", FieldKind::Text, 50, false},
    {"Cep", FieldKind::Text, 8, false},
    {"DDD", FieldKind::Integer, 0, false},
    {"Telefone", FieldKind::Text, 50, false},
    {"TipoPessoa", FieldKind::Text, 1, false},
    {"cnpj", FieldKind::Text, 18, false},
    {"inscest", FieldKind::Text, 20, false},
    {"Observacao", FieldKind::Memo, 0, false},
    {"Contato", FieldKind::Text, 50, false},
    {"DataAtualizacao", FieldKind::DateTime, 0, false},
    {"Endereco", FieldKind::Text, 50, false},
    {"Numero", FieldKind::Integer, 0, false},
    {"Bairro", FieldKind::Text, 50, false},
    {"Cidade", FieldKind::Text, 50, false},
    {"Estado", FieldKind::Text, 2, false},
    {"Status", FieldKind::Text, 1, false},
    {"Fornecedor", FieldKind::Text, 1, false},
    {"TipoContribuinte", FieldKind::Text, 1, false},
    {"idpais", FieldKind::Text, 4, false},
    {"codmun", FieldKind::Text, 5, false},
    {"DataCadastro", FieldKind::DateTime, 0, false},
    {"Email", FieldKind::Text, 255, false},
    {"PrazoEntrega", FieldKind::Integer, 0, false},
};

constexpr DateTime kNow{45678.5};  // 2025-01-20 12:00

// Walks every record of `table` through `section` as the run's frame does, collecting the log.
std::vector<std::string> walk(RecordSource& table, Section& section) {
  LinesLog log;
  table.close();
  table.open();
  table.first();
  while (!table.eof()) {
    try {
      section.importRecord(log);
    } catch (const DataError& error) {
      log.AddLogLine(section.errorLine(error));
    }
    table.next();
  }
  return log.lines;
}

// A store query keyed by its first column: an integer parameter `parameter` selects the rows.
std::unique_ptr<MemorySource> keyedSource(std::string name, std::vector<ColumnInfo> columns,
                                          std::string parameter) {
  auto source = std::make_unique<MemorySource>(std::move(name), std::move(columns));
  source->parameters().add(Parameter(parameter, FieldKind::Integer));
  source->setFilter([parameter](const Row& row, const ParameterList& params) {
    return row[0] == params.byName(parameter).value();
  });
  return source;
}

// The value of `column` in the only row of `source`.
Value onlyRowValue(const MemorySource& source, std::string_view column) {
  EXPECT_EQ(source.rows().size(), 1u);
  for (std::size_t i = 0; i < source.columns().size(); ++i) {
    if (source.columns()[i].name == column) return source.rows().at(0).at(i);
  }
  ADD_FAILURE() << "no column " << column;
  return {};
}

// The store in memory: clientes with its 61 declared fields, fornecedores with derived fields,
// and a municipality table of three rows.
struct MemoryStore {
  MemoryStore() {
    std::vector<ColumnInfo> clientes;
    for (const FieldDeclaration& f : aClientesFields()) {
      clientes.push_back(ColumnInfo{std::string(f.name), f.kind, f.size.value_or(0), false});
    }
    clientes.push_back(ColumnInfo{"Sincronizado", FieldKind::Text, 1, false});
    aClientes = keyedSource("aClientes", clientes, "idcliente");
    for (const FieldDeclaration& f : aClientesFields()) {
      aClientes->declareField(std::string(f.name), f.kind, f.size, f.readOnly);
    }

    aFornecedor = keyedSource("aFornecedor", kFornecedoresColumns, "idfornecedor");

    ADOQuery1 = std::make_unique<MemorySource>(
        "ADOQuery1", std::vector<ColumnInfo>{{"Estado", FieldKind::Text, 2, false},
                                             {"Cidade", FieldKind::Text, 30, true},
                                             {"CODIGO", FieldKind::Text, 2, false},
                                             {"codmun", FieldKind::Text, 5, false}});
    ADOQuery1->parameters().add(Parameter("uf", FieldKind::Text, 2));
    ADOQuery1->parameters().add(Parameter("cidade", FieldKind::Text, 30));
    ADOQuery1->setFilter([this](const Row& row, const ParameterList& params) {
      if (&row == &ADOQuery1->rows().front()) {  // once per open
        lookups.emplace_back(std::get<std::string>(params.byName("uf").value()),
                             std::get<std::string>(params.byName("cidade").value()));
      }
      if (params.byName("cidade").value() == txt(failingCity)) throw DataError("sem conexao");
      return row[0] == params.byName("uf").value() && row[1] == params.byName("cidade").value();
    });
    ADOQuery1->addRow({txt("SP"), txt("CAMPINAS"), txt("35"), txt("09502")});
    ADOQuery1->addRow({txt("SP"), txt("SANTOS"), txt("35"), txt("48500")});
    ADOQuery1->addRow({txt("RJ"), txt("NITEROI"), txt("33"), txt("03302")});
  }

  PartnerStore objects() {
    return PartnerStore{keyedQuery(*aClientes), keyedQuery(*aFornecedor), keyedQuery(*ADOQuery1)};
  }

  // The values of the only clientes or fornecedores row, by column name.
  Value cliente(std::string_view column) const { return onlyRowValue(*aClientes, column); }
  Value fornecedor(std::string_view column) const { return onlyRowValue(*aFornecedor, column); }

  // Walks every record of `table` through a section of kind `S` over these objects.
  template <class S>
  std::vector<std::string> import(RecordSource& table) {
    const FixedClock clock(kNow);
    S section(table, objects(), clock);
    return walk(table, section);
  }

  std::unique_ptr<MemorySource> aClientes;
  std::unique_ptr<MemorySource> aFornecedor;
  std::unique_ptr<MemorySource> ADOQuery1;
  std::vector<std::pair<std::string, std::string>> lookups;  // (uf, cidade) of every open
  std::string failingCity = "-";  // the city whose lookup the store refuses
};

// A legacy table of the given rows; unnamed values are null.
std::unique_ptr<MemorySource> legacyTable(
    std::string name, const std::vector<ColumnInfo>& columns,
    std::vector<std::vector<std::pair<std::string, Value>>> rows) {
  auto table = std::make_unique<MemorySource>(std::move(name), columns);
  table->setWritable(false);
  for (const auto& named : rows) {
    Row row(columns.size());
    for (const auto& [column, value] : named) {
      std::size_t i = 0;
      while (i < columns.size() && columns[i].name != column) ++i;
      if (i == columns.size()) throw std::logic_error("no legacy column " + column);
      row[i] = value;
    }
    table->addRow(std::move(row));
  }
  return table;
}

using NamedRows = std::vector<std::vector<std::pair<std::string, Value>>>;
std::unique_ptr<MemorySource> customerTable(NamedRows rows) {
  return legacyTable("tClientes", kCustomerColumns, std::move(rows));
}
std::unique_ptr<MemorySource> supplierTable(NamedRows rows) {
  return legacyTable("tFornecedor", kSupplierColumns, std::move(rows));
}

TEST(CustomerPersonKind, OnlyACompanyNumberWithMoreThanMaskAndBlanksMakesALegalEntity) {
  struct {
    std::string_view cgc;
    PersonKind want;
  } cases[] = {
      {"12.345.678/0001-90", PersonKind::Legal},
      {"12345678000190", PersonKind::Legal},
      {"  .   .   /    -", PersonKind::Natural},  // an empty number kept with its input mask
      {"./-", PersonKind::Natural},
      {"", PersonKind::Natural},
      {"   ", PersonKind::Natural},
      {" 1 .   .   /    -", PersonKind::Legal},
      {"ISENTO", PersonKind::Legal},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cgc);
    EXPECT_EQ(customerPersonKind(c.cgc), c.want);
  }
}

// The columns a customer gets, in the order they are assigned; the others are never touched.
TEST(CustomersSection, WritesTheFortyOneColumnsInTheirOrderAndNoOther) {
  MemoryStore store;
  std::vector<std::string> posted;
  store.aClientes->setPostHook([&](std::span<Field* const> modified, bool) {
    for (const Field* f : modified) posted.push_back(f->name());
  });
  auto tClientes = customerTable({{{"CL_COD", num(7)},
                                   {"CL_NOM", txt("JO\xC3O DA SILVA E FILHOS")},
                                   {"CL_TEL_01", txt("1932345678")},
                                   {"CL_CGC", txt("12.345.678/0001-90")},
                                   {"CL_CPF", txt("123.456.789-01")},
                                   {"CL_CGF", txt("ISENTO")},
                                   {"LIMICRE", num(1500.5)},
                                   {"CL_OBS1", txt("BOM PAGADOR")},
                                   {"CL_PROEMP", txt("MARIA")},
                                   {"CL_DTACAD", Value{DateTime{36526.0}}},
                                   {"CL_END", txt("RUA A 10")},
                                   {"CL_BAI", txt("CENTRO")},
                                   {"CL_CID", txt("CAMPINAS")},
                                   {"CL_EST", txt("SP")},
                                   {"CL_ENDCOB", txt("RUA B 20")},
                                   {"CL_BAICOB", txt("PORTO")},
                                   {"CL_CIDCOB", txt("NITEROI")},
                                   {"CL_ESTCOB", txt("RJ")}}});
  EXPECT_THAT(store.import <CustomersSection>(*tClientes), ElementsAreArray({"Cliente - 7"}));

  EXPECT_THAT(posted, ElementsAreArray(test_support::kCustomerStoreColumns));
  struct {
    const char* column;
    Value want;
  } values[] = {
      {"IdCliente", whole(7)},
      {"Idempresa", whole(1)},
      {"NomeCliente", Value{WideText(u"Joao da Silva e Filhos")}},
      {"NomeFantasia", txt("JO\xC3O DA SILVA E FILHOS")},
      {"Cep", Value{WideText(u"0")}},
      {"DDD", whole(0)},
      {"Telefone", Value{WideText(u"1932345678")}},
      {"IdPais", txt("1058")},
      {"IdClassificacao", whole(1)},
      {"TipoPessoa", Value{WideText(u"J")}},
      {"Cnpj", Value{WideText(u"12345678000190")}},
      {"TipoContribuinte", txt("1")},
      {"InscEst", Value{WideText(u"ISENTO")}},
      {"LimiteCredito", num(1500.5)},
      {"Observacao", txt("Cliente Importado do Sistema Antigo\rBOM PAGADOR")},
      {"Contato", Value{WideText(u"MARIA")}},
      {"DataCadastro", Value{DateTime{36526.0}}},
      {"DataAtualizacao", Value{kNow}},
      {"Endereco", Value{WideText(u"RUA A 10")}},
      {"Numero", whole(0)},
      {"Complemento", Value{WideText(u"")}},
      {"Bairro", Value{WideText(u"CENTRO")}},
      {"Cidade", Value{WideText(u"CAMPINAS")}},
      {"Estado", Value{WideText(u"SP")}},
      {"End_Cob", Value{WideText(u"RUA B 20")}},
      {"Num_Cob", whole(0)},
      {"Compl_Cob", Value{WideText(u"")}},
      {"Bai_Cob", Value{WideText(u"PORTO")}},
      {"Cid_Cob", Value{WideText(u"NITEROI")}},
      {"Est_Cob", Value{WideText(u"RJ")}},
      {"PontoRefer", Value{}},  // the empty text makes a memo null
      {"IdCorretor", whole(1)},
      {"ComissaoRep", num(0)},
      {"IdLoja", whole(1)},
      {"LiberaConsignacao", txt("N")},
      {"Status", txt("A")},
      {"DescontoVenda", num(0)},
      {"IdVendedor", whole(1)},
      {"ComissaoVendedor", num(0)},
      {"CodMun", txt("09502")},
      {"CodMun_Cob", txt("03302")},
      {"Email", Value{}},
      {"Sincronizado", Value{}},
  };
  for (const auto& v : values) {
    SCOPED_TRACE(v.column);
    EXPECT_EQ(store.cliente(v.column), v.want);
  }
  EXPECT_EQ(store.lookups, (std::vector<std::pair<std::string, std::string>>{{"SP", "CAMPINAS"},
                                                                             {"RJ", "NITEROI"}}));
}

TEST(CustomersSection, PersonKindDecidesTipoPessoaCnpjAndTaxpayerKindTogether) {
  struct {
    const char* cgc;
    const char* cpf;
    std::u16string_view kind;
    std::u16string_view cnpj;
    const char* taxpayer;
  } cases[] = {
      {"12.345.678/0001-90", "", u"J", u"12345678000190", "1"},
      {"12.345.678/0001-90", "123.456.789-01", u"J", u"12345678000190", "1"},
      {"", "123.456.789-01", u"F", u"12345678901", "2"},
      {"../-", "123.456.789-01", u"F", u"12345678901", "2"},
      {"  .   .   /    -", "123.456.789-01", u"F", u"12345678901", "2"},
      {"", "", u"F", u"", "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cgc);
    MemoryStore store;
    auto tClientes = customerTable({{{"CL_COD", num(1)},
                                     {"CL_NOM", txt("ANA")},
                                     {"CL_CGC", txt(c.cgc)},
                                     {"CL_CPF", txt(c.cpf)}}});
    store.import <CustomersSection>(*tClientes);
    EXPECT_EQ(store.cliente("TipoPessoa"), Value{WideText(c.kind)});
    EXPECT_EQ(store.cliente("Cnpj"), Value{WideText(c.cnpj)});
    EXPECT_EQ(store.cliente("TipoContribuinte"), txt(c.taxpayer));
  }
}

TEST(CustomersSection, KeyRoundsHalvesToEvenAndTheDatesComeFromTheClockWhenMissing) {
  MemoryStore store;
  auto tClientes = customerTable({{{"CL_COD", num(2.5)}, {"CL_NOM", txt("ANA")}}});
  EXPECT_THAT(store.import <CustomersSection>(*tClientes), ElementsAreArray({"Cliente - 2.5"}));
  EXPECT_EQ(store.cliente("IdCliente"), whole(2));
  EXPECT_EQ(store.cliente("DataCadastro"), Value{DateTime{45678.0}});  // today, 00:00
  EXPECT_EQ(store.cliente("Observacao"), txt("Cliente Importado do Sistema Antigo\r"));
  EXPECT_EQ(store.cliente("CodMun"), txt("0"));
  EXPECT_EQ(store.cliente("CodMun_Cob"), txt("0"));
}

TEST(CustomersSection, FailingRecordLeavesNoRowAndItsErrorLineNamesNumberAndName) {
  MemoryStore store;
  store.aClientes->setPostHook([](std::span<Field* const>, bool) { throw DataError("recusado"); });
  auto tClientes = customerTable(
      {{{"CL_COD", num(3)}, {"CL_NOM", txt("ANA")}}, {{"CL_COD", num(4)}, {"CL_NOM", txt("BIA")}}});
  tClientes->setRecordNumbers({17, 19});
  EXPECT_THAT(store.import <CustomersSection>(*tClientes),
              ElementsAreArray({"Cliente - 3", "Erro gravando o Registro 17-ANA\rrecusado",
                                "Cliente - 4", "Erro gravando o Registro 19-BIA\rrecusado"}));
  EXPECT_TRUE(store.aClientes->rows().empty());
}

// A lookup the store refuses ends its record before the post: no row, one error line, and the
// next record is looked up and written as usual.
TEST(PartnerSections, FailingLookupLeavesNoRowAndTheNextRecordIsImported) {
  struct {
    const char* name;
    NamedRows customers;
    NamedRows suppliers;
    std::vector<std::string> log;
  } cases[] = {
      {"main address",
       {{{"CL_COD", num(1)},
         {"CL_NOM", txt("ANA")},
         {"CL_EST", txt("SP")},
         {"CL_CID", txt("FALHA")}},
        {{"CL_COD", num(2)},
         {"CL_NOM", txt("BIA")},
         {"CL_EST", txt("SP")},
         {"CL_CID", txt("SANTOS")}}},
       {},
       {"Cliente - 1", "Erro gravando o Registro 1-ANA\rsem conexao", "Cliente - 2"}},
      {"billing address",
       {{{"CL_COD", num(1)},
         {"CL_NOM", txt("ANA")},
         {"CL_EST", txt("SP")},
         {"CL_CID", txt("SANTOS")},
         {"CL_ESTCOB", txt("SP")},
         {"CL_CIDCOB", txt("FALHA")}},
        {{"CL_COD", num(2)},
         {"CL_NOM", txt("BIA")},
         {"CL_EST", txt("SP")},
         {"CL_CID", txt("SANTOS")}}},
       {},
       {"Cliente - 1", "Erro gravando o Registro 1-ANA\rsem conexao", "Cliente - 2"}},
      {"supplier",
       {},
       {{{"FN_COD", num(1)}, {"FN_EST", txt("SP")}, {"FN_CID", txt("FALHA")}},
        {{"FN_COD", num(2)}, {"FN_EST", txt("SP")}, {"FN_CID", txt("SANTOS")}}},
       {"Fornecedor - 1", "Erro gravando o Registro 1-1\rsem conexao", "Fornecedor - 2"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    store.failingCity = "FALHA";
    if (!c.customers.empty()) {
      auto tClientes = customerTable(std::move(c.customers));
      EXPECT_THAT(store.import <CustomersSection>(*tClientes), ElementsAreArray(c.log));
      EXPECT_EQ(store.cliente("IdCliente"), whole(2));
      EXPECT_EQ(store.cliente("CodMun"), txt("48500"));
    } else {
      auto tFornecedor = supplierTable(std::move(c.suppliers));
      EXPECT_THAT(store.import <SuppliersSection>(*tFornecedor), ElementsAreArray(c.log));
      EXPECT_EQ(store.fornecedor("Idfornecedor"), whole(2));
      EXPECT_EQ(store.fornecedor("codmun"), txt("48500"));
    }
  }
}

// The columns a supplier gets, in order, with the form of the value handed over.
TEST(SuppliersSection, HandsTheTwentyThreeColumnsOverAsGenericValuesInTheirOrder) {
  MemoryStore store;
  std::vector<std::string> posted;
  store.aFornecedor->setPostHook([&](std::span<Field* const> modified, bool) {
    for (const Field* f : modified) posted.push_back(f->name());
  });
  auto tFornecedor = supplierTable({{{"FN_COD", num(12)},
                                     {"FN_NOM", txt("CAF\xC9 DO PORTO LTDA")},
                                     {"FN_END", txt("AV C 1")},
                                     {"FN_BAI", txt("GONZAGA")},
                                     {"FN_CID", txt("SANTOS")},
                                     {"FN_EST", txt("SP")},
                                     {"FN_CEP", txt("11060-00")},
                                     {"FN_TEL_01", txt("1332345678")},
                                     {"FN_CGC", txt("")},
                                     {"FN_CGF", txt("123.456")}}});
  EXPECT_THAT(store.import <SuppliersSection>(*tFornecedor), ElementsAreArray({"Fornecedor - 12"}));
  EXPECT_EQ(store.lookups, (std::vector<std::pair<std::string, std::string>>{{"SP", "SANTOS"}}));

  EXPECT_THAT(posted, ElementsAreArray(test_support::kSupplierStoreColumns));
  struct {
    const char* column;
    Value want;
  } values[] = {
      {"Idfornecedor", whole(12)},
      {"Idempresa", whole(1)},
      {"NomeFornecedor", txt("Cafe do Porto Ltda")},
      {"NomeFantasia", txt("Cafe do Porto Ltda")},
      {"Cep", txt("1106000")},
      {"DDD", whole(0)},
      {"Telefone", txt("1332345678")},
      {"TipoPessoa", txt("J")},
      {"cnpj", txt("")},
      {"inscest", txt("123.456")},
      {"Observacao", txt("Fornecedor Importado do Sistema Antigo")},
      {"Contato", txt("")},
      {"DataAtualizacao", Value{kNow}},
      {"Endereco", txt("AV C 1")},
      {"Numero", whole(0)},
      {"Bairro", txt("GONZAGA")},
      {"Cidade", txt("SANTOS")},
      {"Estado", txt("SP")},
      {"Status", txt("A")},
      {"Fornecedor", txt("1")},
      {"TipoContribuinte", txt("1")},
      {"idpais", txt("1058")},
      {"codmun", txt("48500")},
      {"DataCadastro", Value{}},
      {"PrazoEntrega", Value{}},
  };
  for (const auto& v : values) {
    SCOPED_TRACE(v.column);
    EXPECT_EQ(store.fornecedor(v.column), v.want);
  }
}

TEST(PartnerSections, EmptyCodeIsLoggedAsNothingAndKeysTheRowZero) {
  MemoryStore store;
  auto tClientes = customerTable({{{"CL_NOM", txt("SEM CODIGO")}}});
  auto tFornecedor = supplierTable({{{"FN_NOM", txt("SEM CODIGO")}}});
  EXPECT_THAT(store.import <CustomersSection>(*tClientes), ElementsAreArray({"Cliente - "}));
  EXPECT_THAT(store.import <SuppliersSection>(*tFornecedor), ElementsAreArray({"Fornecedor - "}));
  EXPECT_EQ(store.cliente("IdCliente"), whole(0));
  EXPECT_EQ(store.fornecedor("Idfornecedor"), whole(0));
}

TEST(CustomersSection, ExistingRowGetsTheLegacyRegistrationDateAndKeepsWhatIsNeverWritten) {
  MemoryStore store;
  const auto& columns = store.aClientes->columns();
  Row stored(columns.size());
  auto at = [&](std::string_view name) -> Value& {
    std::size_t i = 0;
    while (columns.at(i).name != name) ++i;
    return stored[i];
  };
  at("IdCliente") = whole(8);
  at("DataCadastro") = Value{DateTime{37000.25}};
  at("Email") = Value{WideText(u"ana@example.com")};
  at("CodMun") = txt("99999");
  store.aClientes->addRow(std::move(stored));
  struct {
    const char* name;
    Value registered;  // CL_DTACAD
    Value want;
  } cases[] = {
      {"legacy date", Value{DateTime{36526.0}}, Value{DateTime{36526.0}}},
      {"no date", Value{}, Value{DateTime{45678.0}}},  // today, 00:00
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto tClientes =
        customerTable({{{"CL_COD", num(8)}, {"CL_NOM", txt("ANA")}, {"CL_DTACAD", c.registered}}});
    store.import <CustomersSection>(*tClientes);
    EXPECT_EQ(store.cliente("DataCadastro"), c.want);
    EXPECT_EQ(store.cliente("Email"), Value{WideText(u"ana@example.com")});
    EXPECT_EQ(store.cliente("CodMun"), txt("0"));  // written: no city, no municipality
  }
}

TEST(SuppliersSection, PostcodeAndCompanyNumberLoseTheirPunctuationAndTheKindStaysLegal) {
  struct {
    const char* cep;
    const char* cgc;
    const char* wantCep;
    const char* wantCnpj;
  } cases[] = {
      {"11060-00", "12.345.678/001", "1106000", "12345678001"},
      {"11.06000", "12345678000190", "1106000", "12345678000190"},
      {"./-", "./-", "", ""},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cep);
    MemoryStore store;
    auto tFornecedor =
        supplierTable({{{"FN_COD", num(1)}, {"FN_CEP", txt(c.cep)}, {"FN_CGC", txt(c.cgc)}}});
    store.import <SuppliersSection>(*tFornecedor);
    EXPECT_EQ(store.fornecedor("Cep"), txt(c.wantCep));
    EXPECT_EQ(store.fornecedor("cnpj"), txt(c.wantCnpj));
    EXPECT_EQ(store.fornecedor("TipoPessoa"), txt("J"));
    EXPECT_EQ(store.fornecedor("TipoContribuinte"), txt("1"));
  }
}

TEST(SuppliersSection, MissingColumnFailsEveryRecordWithItsOwnErrorLine) {
  MemoryStore store;
  std::vector<ColumnInfo> columns = kFornecedoresColumns;
  columns.erase(columns.begin() + 22);  // codmun
  store.aFornecedor = keyedSource("aFornecedor", columns, "idfornecedor");
  auto tFornecedor = supplierTable({{{"FN_COD", num(1.5)}}, {{"FN_COD", num(2)}}});
  EXPECT_THAT(
      store.import <SuppliersSection>(*tFornecedor),
      ElementsAreArray({"Fornecedor - 1.5",
                        "Erro gravando o Registro 1-1.5\raFornecedor: Field 'codmun' not found",
                        "Fornecedor - 2",
                        "Erro gravando o Registro 2-2\raFornecedor: Field 'codmun' not found"}));
  EXPECT_TRUE(store.aFornecedor->rows().empty());
  EXPECT_TRUE(store.lookups.empty());  // the record failed before its lookup
}

}  // namespace
}  // namespace importacao
