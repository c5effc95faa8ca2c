// The products section over in-memory sources: the order of its steps, its log lines, what a
// failure at each step leaves behind, and the values it hands to parameters. The same section
// against the real stores is in tests/products.
#include "import/products/products_section.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/errors.h"
#include "tests/support/fixed_clock.h"
#include "tests/support/memory_source.h"
#include "tests/support/written_columns.h"

namespace importacao {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Row = MemorySource::Row;

std::string str(const Value& v) { return std::get<std::string>(v); }

class LinesLog final : public RunLog {
 public:
  void AddLogLine(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

// A memory source whose open finds the rows where every named column equals the parameter of
// the same name.
std::unique_ptr<MemorySource> keyedSource(std::string name, std::vector<ColumnInfo> columns,
                                          std::vector<std::string> keys) {
  auto source = std::make_unique<MemorySource>(name, columns);
  std::vector<std::pair<std::size_t, std::string>> where;
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (namesEqual(columns[i].name, key)) where.emplace_back(i, key);
    }
    source->parameters().add(Parameter(key, FieldKind::Unknown));
  }
  source->setFilter([where](const Row& row, const ParameterList& params) {
    for (const auto& [index, key] : where) {
      if (row[index] != params.byName(key).value()) return false;
    }
    return true;
  });
  return source;
}

std::vector<ColumnInfo> columnsOf(std::initializer_list<std::pair<const char*, FieldKind>> list) {
  std::vector<ColumnInfo> out;
  for (const auto& [name, kind] : list) {
    out.push_back(ColumnInfo{name, kind, kind == FieldKind::Text ? 60 : 0, false});
  }
  return out;
}

using test_support::kProductMasterColumns;

// The store in memory. Master columns take their kind from what they hold; "Observacao" stands
// for the columns the section never writes. `masterColumns` keeps only the first ones of the 55.
struct MemoryStore {
  explicit MemoryStore(std::size_t masterColumns = std::size(kProductMasterColumns)) {
    std::vector<ColumnInfo> master;
    for (std::size_t i = 0; i < masterColumns; ++i) {
      const std::string n = kProductMasterColumns[i];
      FieldKind kind = FieldKind::Text;
      if (n == "DataCadastro" || n == "DataAlteracao") kind = FieldKind::DateTime;
      if (n.rfind("Id", 0) == 0 && n != "IdReferencia" && n != "IdAliquota")
        kind = FieldKind::Integer;
      if (n.rfind("Prc", 0) == 0 || n.rfind("Perc", 0) == 0 || n.rfind("Qtd", 0) == 0 ||
          n == "VlrPromocao" || n == "Icms" || n == "FatorConversao" || n == "DescPromocao" ||
          n == "UndVendaQtde" || n == "UndCompraQtde")
        kind = FieldKind::Float;
      if (n == "Tam_Ini" || n == "Tam_Fim") kind = FieldKind::Integer;
      master.push_back(ColumnInfo{n, kind, kind == FieldKind::Text ? 120 : 0, false});
    }
    master.push_back(ColumnInfo{"Observacao", FieldKind::Memo, 0, false});
    aProdutos = keyedSource("aProdutos", master, {"idreferencia"});
    aBarras = keyedSource("aBarras",
                          columnsOf({{"IdReferencia", FieldKind::Text},
                                     {"IdCor", FieldKind::Integer},
                                     {"Tam", FieldKind::Text},
                                     {"CodBarra", FieldKind::Text},
                                     {"DataAlteracao", FieldKind::DateTime},
                                     {"Est_Minimo", FieldKind::Float},
                                     {"Est_Maximo", FieldKind::Float}}),
                          {"idreferencia", "idcor", "tam", "codbarra"});
    aPreco = keyedSource("aPreco",
                         columnsOf({{"IdReferencia", FieldKind::Text},
                                    {"IdTabela", FieldKind::Integer},
                                    {"PrecoVenda", FieldKind::Float},
                                    {"DataAlteracao", FieldKind::DateTime},
                                    {"DataInclusao", FieldKind::DateTime}}),
                         {"idreferencia", "idtabela"});
    aEstoque = keyedSource("aEstoque",
                           columnsOf({{"IdEmpresa", FieldKind::Integer},
                                      {"IdReferencia", FieldKind::Text},
                                      {"IdCor", FieldKind::Integer},
                                      {"Tam", FieldKind::Text},
                                      {"IdEstoque", FieldKind::Integer},
                                      {"Est_Fisico", FieldKind::Float}}),
                           {"idreferencia", "idcor", "tam", "idestoque"});
    spParams.add(
        Parameter("@RETURN_VALUE", FieldKind::Integer, 0, 10, 0, ParameterDirection::ReturnValue));
    spParams.add(Parameter("@refer", FieldKind::Text, 10));
    spParams.add(Parameter("@idcor", FieldKind::Integer));
    spParams.add(Parameter("@tam", FieldKind::Text, 3));
    spParams.add(Parameter("@idempresa", FieldKind::Integer));
    spParams.add(Parameter("@idfilial", FieldKind::Integer));
    estParams.add(Parameter("data", FieldKind::DateTime));
    estParams.add(Parameter("idreferencia", FieldKind::Text, 10));
    estParams.add(Parameter("estoque", FieldKind::Float));
    estParams.add(Parameter("idestoque", FieldKind::Integer));
  }

  // Like the store's procedure: creates the product's stock row (company 1) unless it exists.
  void procedure() {
    if (procedureFailure && spParams.at(1).value() == Value{failKey})
      throw StoreError(*procedureFailure, "P0001", 0);
    std::vector<Value> call;
    for (const auto& p : spParams) call.push_back(p.value());
    calls.push_back(call);
    const Row row{std::int64_t{1},        spParams.at(1).value(), spParams.at(2).value(),
                  spParams.at(3).value(), std::int64_t{1},        0.0};
    for (const auto& r : aEstoque->rows()) {
      if (r[1] == row[1] && r[2] == row[2] && r[3] == row[3]) return;
    }
    if (procedureCreatesStock) aEstoque->addRow(row);
  }
  void insertEntry() {
    if (entryFailure && estParams.at(1).value() == Value{failKey})
      throw StoreError(*entryFailure, "23502", 0);
    std::vector<Value> entry;
    for (const auto& p : estParams) entry.push_back(p.value());
    entries.push_back(entry);
  }

  ProductStore view() {
    return ProductStore{keyedQuery(*aProdutos),
                        keyedQuery(*aBarras),
                        keyedQuery(*aPreco),
                        keyedQuery(*aEstoque),
                        {&spParams, [this] { procedure(); }},
                        {&estParams, [this] { insertEntry(); }}};
  }

  std::unique_ptr<MemorySource> aProdutos, aBarras, aPreco, aEstoque;
  ParameterList spParams{"sp_Estoque"};
  ParameterList estParams{"EstInicial"};
  std::vector<std::vector<Value>> calls;
  std::vector<std::vector<Value>> entries;
  // The procedure and the insert refuse the product whose key is failKey.
  std::optional<std::string> procedureFailure;
  std::optional<std::string> entryFailure;
  std::string failKey = "1";
  bool procedureCreatesStock = true;
};

std::vector<ColumnInfo> legacyColumns(FieldKind codeKind = FieldKind::Text,
                                      std::vector<std::string> leaveOut = {}) {
  std::vector<ColumnInfo> all{
      {"pd_cod", codeKind, 14, false},           {"pd_dsc", FieldKind::Text, 40, false},
      {"pd_apl", FieldKind::Text, 20, false},    {"pd_und", FieldKind::Text, 3, false},
      {"pd_frn", FieldKind::Float, 0, false},    {"pd_qtd_mn", FieldKind::Float, 0, false},
      {"pd_vlr_rf", FieldKind::Float, 0, false}, {"pd_qtd", FieldKind::Float, 0, false}};
  std::vector<ColumnInfo> out;
  for (auto& c : all) {
    if (std::find(leaveOut.begin(), leaveOut.end(), c.name) == leaveOut.end()) out.push_back(c);
  }
  return out;
}

// The section, its legacy table and store in memory, and a loop that stands for the run's
// section frame (key outside the capture, the work inside, the error line on DataError).
struct Rig {
  explicit Rig(std::vector<Row> products, std::vector<ColumnInfo> columns = legacyColumns())
      : tProduto("tProduto", std::move(columns), std::move(products), false),
        section(tProduto, store.view(), clock) {}

  void run() {
    tProduto.close();
    tProduto.open();
    tProduto.first();
    while (!tProduto.eof()) {
      section.beforeRecord(log);
      try {
        outcomes.push_back(section.importRecord(log));
      } catch (const DataError& error) {
        outcomes.push_back(std::nullopt);
        log.AddLogLine(section.errorLine(error));
      }
      tProduto.next();
    }
  }

  std::optional<Row> master(const std::string& key) const {
    for (const auto& r : store.aProdutos->rows())
      if (str(r[0]) == key) return r;
    return std::nullopt;
  }
  Value masterValue(const std::string& key, const std::string& column) const {
    const auto& columns = store.aProdutos->columns();
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i].name == column) return (*master(key))[i];
    throw std::logic_error("no column " + column);
  }

  MemoryStore store;
  MemorySource tProduto;
  FixedClock clock{DateTime{45306.5}, 0.001};  // 2024-01-15 12:00, 86.4 s further at each reading
  ProductsSection section;
  LinesLog log;
  std::vector<std::optional<RecordOutcome>> outcomes;
};

Row product(std::string code, std::string description = "CANETA AZUL", double frn = 7,
            double qtdMin = 2, double price = 1.5, double qtd = 10) {
  return Row{std::move(code),
             std::move(description),
             std::string("CANETA"),
             std::string("UN"),
             frn,
             qtdMin,
             price,
             qtd};
}

TEST(ProductsSection, NewProductGetsEveryRowAndFiveLogLines) {
  Rig rig({product("12.345-6")});
  rig.run();

  EXPECT_THAT(rig.log.lines, ElementsAre("Importando Produto - 123456",
                                         "Importando C\xF3"
                                         "digo de Barras do Produto - 123456",
                                         "Gravando Preco do Produto - 123456",
                                         "Gerando Estoque do Produto - 123456",
                                         "Gerando Estoque inicial - 123456"));
  EXPECT_THAT(rig.outcomes, ElementsAre(RecordOutcome::Inserted));

  // Five readings of the clock, in the order of the steps, and today at 00:00.
  double reading[5] = {45306.5};
  for (int i = 1; i < 5; ++i) reading[i] = reading[i - 1] + 0.001;
  const double t0 = reading[0];
  EXPECT_EQ(rig.masterValue("123456", "DataCadastro"), Value{DateTime{45306.0}});
  EXPECT_EQ(rig.masterValue("123456", "DataAlteracao"), Value{DateTime{t0}});
  ASSERT_EQ(rig.store.aBarras->rows().size(), 1u);
  EXPECT_EQ(rig.store.aBarras->rows()[0],
            (Row{std::string("123456"), std::int64_t{1}, std::string("0"),
                 std::string("0012345601019"), DateTime{reading[1]}, 2.0, 1.0}));
  ASSERT_EQ(rig.store.aPreco->rows().size(), 1u);
  EXPECT_EQ(rig.store.aPreco->rows()[0], (Row{std::string("123456"), std::int64_t{1}, 1.5,
                                              DateTime{reading[2]}, DateTime{reading[3]}}));

  // The procedure by position: return value untouched, then key, colour, size, company, branch.
  ASSERT_EQ(rig.store.calls.size(), 1u);
  EXPECT_EQ(rig.store.calls[0],
            (std::vector<Value>{Value{}, std::string("123456"), std::int64_t{1}, std::string("0"),
                                std::int64_t{1}, std::int64_t{1}}));
  ASSERT_EQ(rig.store.entries.size(), 1u);
  EXPECT_EQ(rig.store.entries[0], (std::vector<Value>{DateTime{reading[4]}, std::string("123456"),
                                                      10.0, std::int64_t{1}}));
  // The stock row the procedure made gets the stock on hand.
  ASSERT_EQ(rig.store.aEstoque->rows().size(), 1u);
  EXPECT_EQ(rig.store.aEstoque->rows()[0][5], Value{10.0});
}

TEST(ProductsSection, MasterRowGetsTheFiftyFiveValuesInTheirKinds) {
  Rig rig({product("A-1", "LAPIS  ", 12.6)});
  rig.store.aProdutos->addRow({});  // another product's row stays untouched
  rig.store.aProdutos->rows()[0].assign(56, Value{});
  rig.store.aProdutos->rows()[0][0] = std::string("OUTRO");
  rig.run();

  const std::string key = "A1";
  struct Expect {
    const char* column;
    Value want;
  };
  const Expect cases[] = {
      {"IdReferencia", std::string("A1")},
      {"Descricao", std::string("LAPIS  ")},
      {"ApelidoProduto", std::string("CANETA")},
      {"DenominacaoFiscal", std::string("LAPIS  ")},
      {"IdGrupo", std::int64_t{1}},
      {"Tam_Fim", std::int64_t{1}},
      {"Status", std::string("A")},
      {"PrcCompra", 0.0},
      {"PercMargem", 0.0},
      {"Promocao", std::string("N")},
      {"Localizacao", std::string("")},
      {"RefAnterior", std::string("")},
      {"UndVenda", std::string("UN")},
      {"UndCompra", std::string("UN")},
      {"IdFornecedor", std::int64_t{13}},  // 12.6 into an integer column: rounded
      {"TipoProduto", std::string("P")},
      {"Consignado", std::string("N")},
      {"Qtd6", 0.0},
      {"FatorConversao", 1.0},
      {"Prc3", 0.0},
      {"IdTecido", std::int64_t{1}},
      {"IdAliquota", std::string("T18")},
      {"IdMarca", std::int64_t{1}},
      {"UndVendaQtde", 1.0},
      {"UndCompraQtde", 1.0},
      {"SubTributaria", std::string("N")},
      {"TipoSped", std::string("00")},
      {"PercCofins", 0.0},
      {"CSTPis", std::string("99")},
      {"CSTCofins", std::string("99")},
      {"CSTIpiEntrada", std::string("049")},
      {"CSTIPI", std::string("99")},
      {"CSOSN", std::string("102")},
      {"DescPromocao", 0.0},
      {"Origem_Mercadoria", std::string("0")},
      {"ListaPrecoVenda", std::string("N")},
      {"NCM", std::string("")},
      {"CST", std::string("000")},
      {"Observacao", Value{}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    EXPECT_EQ(rig.masterValue(key, c.column), c.want);
  }
  // Every one of the 55 columns is written, and only those.
  const Row row = *rig.master(key);
  for (std::size_t i = 0; i < 55; ++i) {
    SCOPED_TRACE(kProductMasterColumns[i]);
    EXPECT_FALSE(isNull(row[i]));
  }
  EXPECT_EQ(rig.store.aProdutos->rows()[0][1], Value{});
}

TEST(ProductsSection, ExistingRowsAreUpdatedAndOtherColumnsKept) {
  Rig rig({product("77", "NOVA DESCRICAO")});
  Row old(56);
  old[0] = std::string("77");
  old[1] = std::string("VELHA");
  old[55] = std::string("observado");
  rig.store.aProdutos->addRow(old);
  rig.store.aPreco->addRow({std::string("77"), std::int64_t{1}, 9.0, DateTime{1.0}, DateTime{1.0}});
  rig.store.aPreco->addRow({std::string("77"), std::int64_t{2}, 8.0, DateTime{1.0}, DateTime{1.0}});
  rig.run();

  EXPECT_THAT(rig.outcomes, ElementsAre(RecordOutcome::Updated));
  EXPECT_EQ(rig.store.aProdutos->rows().size(), 1u);
  EXPECT_EQ(rig.masterValue("77", "Descricao"), Value{std::string("NOVA DESCRICAO")});
  EXPECT_EQ(rig.masterValue("77", "Observacao"), Value{std::string("observado")});
  ASSERT_EQ(rig.store.aPreco->rows().size(), 2u);
  EXPECT_EQ(rig.store.aPreco->rows()[0][2], Value{1.5});
  EXPECT_NE(rig.store.aPreco->rows()[0][4], Value{DateTime{1.0}});  // DataInclusao overwritten
  EXPECT_EQ(rig.store.aPreco->rows()[1][2], Value{8.0});            // table 2 untouched
}

// What a failure at each step of a product leaves in the store and the log. The second
// product always goes through.
TEST(ProductsSection, FailureAtEachStepKeepsWhatWasWrittenBeforeIt) {
  const std::string error = "Erro gravando o Produto - 1\r";
  struct Case {
    const char* name;
    std::function<void(MemoryStore&)> fail;
    std::string message;
    std::size_t lines;  // log lines of the failing product before its error line
    std::size_t master, barcode, price, calls, entries;
  };
  // The hooks refuse only product 1's rows, so product 2 shows the walk goes on.
  auto onlyKey1 = [](MemorySource& source, std::string text) {
    source.setPostHook([&source, text](std::span<Field* const>, bool) {
      if (source.fieldByName("IdReferencia").asText() == "1") throw StoreError(text, "23505", 0);
    });
  };
  const Case cases[] = {
      {"master post", [&](MemoryStore& s) { onlyKey1(*s.aProdutos, "chave duplicada"); },
       "chave duplicada", 1, 0, 0, 0, 0, 0},
      {"barcode post", [&](MemoryStore& s) { onlyKey1(*s.aBarras, "valor longo demais"); },
       "valor longo demais", 2, 1, 0, 0, 0, 0},
      {"price post", [&](MemoryStore& s) { onlyKey1(*s.aPreco, "preco recusado"); },
       "preco recusado", 3, 1, 1, 0, 0, 0},
      {"procedure", [](MemoryStore& s) { s.procedureFailure = "procedimento falhou"; },
       "procedimento falhou", 4, 1, 1, 1, 0, 0},
      {"entry", [](MemoryStore& s) { s.entryFailure = "entrada recusada"; }, "entrada recusada", 5,
       1, 1, 1, 1, 0},
      {"stock post", [&](MemoryStore& s) { onlyKey1(*s.aEstoque, "estoque recusado"); },
       "estoque recusado", 5, 1, 1, 1, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({product("1"), product("2")});
    c.fail(rig.store);
    rig.run();

    const auto& lines = rig.log.lines;
    ASSERT_GT(lines.size(), c.lines);
    EXPECT_EQ(lines[c.lines], error + c.message);
    EXPECT_EQ(rig.outcomes[0], std::nullopt);
    auto countKey1 = [](const MemorySource& source) {
      std::size_t n = 0;
      for (const auto& r : source.rows()) n += r[0] == Value{std::string("1")} ? 1 : 0;
      return n;
    };
    EXPECT_EQ(countKey1(*rig.store.aProdutos), c.master);
    EXPECT_EQ(countKey1(*rig.store.aBarras), c.barcode);
    EXPECT_EQ(countKey1(*rig.store.aPreco), c.price);
    std::size_t calls1 = 0, entries1 = 0;
    for (const auto& call : rig.store.calls) calls1 += call[1] == Value{std::string("1")};
    for (const auto& e : rig.store.entries) entries1 += e[1] == Value{std::string("1")};
    EXPECT_EQ(calls1, c.calls);
    EXPECT_EQ(entries1, c.entries);
    // The next product: its own first line right after the error line, then the rest of it.
    ASSERT_GT(lines.size(), c.lines + 1);
    EXPECT_EQ(lines[c.lines + 1], "Importando Produto - 2");
    EXPECT_EQ(rig.outcomes[1], RecordOutcome::Inserted);
    EXPECT_EQ(lines.size(), c.lines + 1 + 5);
  }
}

TEST(ProductsSection, OverLongKeyIsRefusedBeforeAnythingIsWritten) {
  // A key of 11 characters would be looked up whole and stored cut to 10: refused. Ten pass.
  Rig rig({product("1234567890-1"), product("12.345.678/90")});
  rig.run();

  EXPECT_THAT(rig.log.lines[0], "Importando Produto - 12345678901");
  EXPECT_EQ(rig.log.lines[1],
            "Erro gravando o Produto - 12345678901\r"
            "C\xF3"
            "digo do produto excede 10 caracteres");
  EXPECT_EQ(rig.log.lines[2], "Importando Produto - 1234567890");
  EXPECT_EQ(rig.log.lines.size(), 7u);
  EXPECT_THAT(rig.outcomes, ElementsAre(std::nullopt, RecordOutcome::Inserted));
  ASSERT_EQ(rig.store.aProdutos->rows().size(), 1u);
  EXPECT_EQ(rig.store.aProdutos->rows()[0][0], Value{std::string("1234567890")});
  EXPECT_EQ(rig.store.calls.size(), 1u);
  EXPECT_EQ(rig.store.entries.size(), 1u);
  EXPECT_EQ(rig.store.aProdutos->openCount(), 1);
}

TEST(ProductsSection, KeyIsTheCodeAsTextWithoutPunctuation) {
  struct Case {
    Value code;
    FieldKind kind;
    std::string key;
  };
  const Case cases[] = {
      {std::string("12.345-6"), FieldKind::Text, "123456"},
      {std::string("A/B-C.D"), FieldKind::Text, "ABCD"},
      {std::string(""), FieldKind::Text, ""},
      {1234.0, FieldKind::Float, "1234"},
      {Value{}, FieldKind::Float, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    Row row = product("x");
    row[0] = c.code;
    Rig rig({row}, legacyColumns(c.kind));
    rig.run();
    EXPECT_EQ(rig.log.lines.at(0), "Importando Produto - " + c.key);
    ASSERT_EQ(rig.store.aProdutos->rows().size(), 1u);
    EXPECT_EQ(rig.store.aProdutos->rows()[0][0], Value{c.key});
  }
}

TEST(ProductsSection, NoStockRowMeansNothingIsSetOrCreated) {
  Rig rig({product("5")});
  rig.store.procedureCreatesStock = false;
  rig.run();
  EXPECT_EQ(rig.log.lines.size(), 5u);
  EXPECT_THAT(rig.store.aEstoque->rows(), IsEmpty());
  EXPECT_EQ(rig.store.aEstoque->postCount(), 0);
  EXPECT_THAT(rig.outcomes, ElementsAre(RecordOutcome::Inserted));
}

TEST(ProductsSection, MissingFieldsAndColumnsFailTheProductAtTheirPlace) {
  {
    // Each legacy field is read at the step that writes it: what the product's earlier steps
    // wrote stays, nothing after the failing step happens.
    struct Case {
      const char* field;
      std::size_t index;  // its place in legacyColumns()
      std::size_t lines;  // the product's lines before its error line
      std::size_t master, barcode, price, calls, entries;
    };
    const Case cases[] = {
        {"pd_dsc", 1, 1, 0, 0, 0, 0, 0},    {"pd_und", 3, 1, 0, 0, 0, 0, 0},
        {"pd_frn", 4, 1, 0, 0, 0, 0, 0},    {"pd_qtd_mn", 5, 2, 1, 0, 0, 0, 0},
        {"pd_vlr_rf", 6, 3, 1, 1, 0, 0, 0}, {"pd_qtd", 7, 5, 1, 1, 1, 1, 0},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.field);
      Rig rig({product("1")}, legacyColumns(FieldKind::Text, {c.field}));
      for (auto& r : rig.tProduto.rows()) r.erase(r.begin() + static_cast<std::ptrdiff_t>(c.index));
      rig.run();
      ASSERT_EQ(rig.log.lines.size(), c.lines + 1);
      EXPECT_EQ(rig.log.lines.back(), "Erro gravando o Produto - 1\rtProduto: Field '" +
                                          std::string(c.field) + "' not found");
      EXPECT_EQ(rig.store.aProdutos->rows().size(), c.master);
      EXPECT_EQ(rig.store.aBarras->rows().size(), c.barcode);
      EXPECT_EQ(rig.store.aPreco->rows().size(), c.price);
      EXPECT_EQ(rig.store.calls.size(), c.calls);
      EXPECT_EQ(rig.store.entries.size(), c.entries);
      EXPECT_EQ(rig.store.aEstoque->postCount(), 0);
    }
  }
  {
    SCOPED_TRACE("legacy file without pd_apl");
    Rig rig({product("1"), product("2")}, legacyColumns(FieldKind::Text, {"pd_apl"}));
    for (auto& r : rig.tProduto.rows()) r.erase(r.begin() + 2);
    rig.run();
    EXPECT_THAT(rig.log.lines,
                ElementsAre("Importando Produto - 1",
                            "Erro gravando o Produto - 1\rtProduto: Field 'pd_apl' not found",
                            "Importando Produto - 2",
                            "Erro gravando o Produto - 2\rtProduto: Field 'pd_apl' not found"));
    EXPECT_EQ(rig.store.aProdutos->postCount(), 0);
  }
  {
    SCOPED_TRACE("legacy file without pd_cod");
    Rig rig({product("1")}, legacyColumns(FieldKind::Text, {"pd_cod"}));
    for (auto& r : rig.tProduto.rows()) r.erase(r.begin());
    EXPECT_THROW(
        {
          try {
            rig.run();
          } catch (const DataError& e) {
            EXPECT_STREQ(e.what(), "tProduto: Field 'pd_cod' not found");
            throw;
          }
        },
        DataError);
    EXPECT_THAT(rig.log.lines, IsEmpty());
  }
}

TEST(ProductsSection, MasterColumnsAreAssignedInTheirOrder) {
  // A store table that lacks a column and every one after it fails at that very column: any
  // column assigned out of its place would be named instead.
  for (std::size_t missing = 0; missing < std::size(kProductMasterColumns); ++missing) {
    SCOPED_TRACE(kProductMasterColumns[missing]);
    MemoryStore store(missing);
    MemorySource tProduto("tProduto", legacyColumns(), {product("1")}, false);
    FixedClock clock{DateTime{45306.5}};
    ProductsSection section(tProduto, store.view(), clock);
    LinesLog log;
    tProduto.open();
    section.beforeRecord(log);
    try {
      section.importRecord(log);
      ADD_FAILURE() << "no error";
    } catch (const DataError& error) {
      EXPECT_EQ(std::string(error.what()),
                "aProdutos: Field '" + std::string(kProductMasterColumns[missing]) + "' not found");
    }
    EXPECT_EQ(store.aProdutos->postCount(), 0);
    EXPECT_THAT(store.aBarras->rows(), IsEmpty());
  }
}

// A legacy table whose file can be swapped between opens, as a second run of the window may
// read another folder whose cfa1010.DBF has its fields in another order.
class SwappableTable final : public RecordSource {
 public:
  SwappableTable() : RecordSource("tProduto") {}
  std::vector<ColumnInfo> columns;
  std::vector<Row> rows;

 protected:
  std::vector<ColumnInfo> doOpen() override { return columns; }
  void doClose() noexcept override { at_ = 0; }
  bool doFirst() override { return load(0); }
  bool doNext() override { return load(at_ + 1); }

 private:
  bool load(std::size_t at) {
    if (at >= rows.size()) return false;
    at_ = at;
    const auto fields = columnFields();
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i]->setFetchedValue(rows[at][i]);
    return true;
  }
  std::size_t at_ = 0;
};

TEST(ProductsSection, FieldsAreFoundAgainWhenTheFileHasThemInAnotherOrder) {
  MemoryStore store;
  SwappableTable table;
  FixedClock clock{DateTime{45306.5}};
  ProductsSection section(table, store.view(), clock);
  LinesLog log;
  auto walk = [&] {
    table.close();
    table.open();
    table.first();
    while (!table.eof()) {
      section.beforeRecord(log);
      section.importRecord(log);
      table.next();
    }
  };

  table.columns = legacyColumns();
  table.rows = {product("1", "PRIMEIRO", 3, 1, 2.5, 4)};
  walk();
  // The same fields, reversed.
  std::reverse(table.columns.begin(), table.columns.end());
  Row second = product("2", "SEGUNDO", 5, 6, 7.5, 8);
  std::reverse(second.begin(), second.end());
  table.rows = {second};
  walk();

  ASSERT_EQ(store.aProdutos->rows().size(), 2u);
  const Row& master = store.aProdutos->rows()[1];
  EXPECT_EQ(master[0], Value{std::string("2")});
  EXPECT_EQ(master[1], Value{std::string("SEGUNDO")});
  EXPECT_EQ(master[21], Value{std::int64_t{5}});  // IdFornecedor
  EXPECT_EQ(store.aBarras->rows()[1][5], Value{6.0});
  EXPECT_EQ(store.aPreco->rows()[1][2], Value{7.5});
  EXPECT_EQ(store.entries[1][2], Value{8.0});
}

}  // namespace
}  // namespace importacao
