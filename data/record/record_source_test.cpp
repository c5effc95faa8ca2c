#include "data/record/record_source.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/record/number_text.h"
#include "tests/support/memory_source.h"

namespace importacao {
namespace {

using testing::ElementsAre;
using Row = MemorySource::Row;

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DataError& e) {
    return e.what();
  }
  return {};
}

std::vector<ColumnInfo> clientColumns() {
  return {{"IdCliente", FieldKind::Integer, 0, false},
          {"Nome", FieldKind::Text, 10, false},
          {"DDD", FieldKind::Float, 0, false},
          {"Cidade", FieldKind::Text, 30, true}};
}

std::vector<Row> threeClients() {
  return {{std::int64_t{1}, std::string("ANA"), 81.0, std::string("RECIFE")},
          {std::int64_t{2}, std::string("BRUNO"), 11.0, std::string("SAO PAULO")},
          {std::int64_t{3}, std::string("CARLA"), std::monostate{}, std::string("NATAL")}};
}

std::unique_ptr<MemorySource> clients(std::vector<Row> rows = threeClients()) {
  return std::make_unique<MemorySource>("aClientes", clientColumns(), std::move(rows));
}

const char* stateName(SourceState state) {
  switch (state) {
    case SourceState::Inactive: return "inactive";
    case SourceState::Browse: return "browse";
    case SourceState::Edit: return "edit";
    case SourceState::Insert: return "insert";
  }
  return "?";
}

// Every operation in every state: where it goes and what it says.
TEST(RecordSourceStates, EveryOperationInEveryState) {
  enum class Start { Inactive, Browse, BrowseEmpty, Edit, Insert, ReadOnly, ReadOnlyInactive };
  enum class Op { Open, Close, First, Next, Append, Edit, Post, RecordCount };
  using S = SourceState;
  const std::string closed = "aClientes: Cannot perform this operation on a closed dataset";
  const std::string notEditing = "aClientes: Dataset not in edit or insert mode";
  const std::string readOnly = "aClientes: Cannot modify a read-only dataset";
  struct {
    Start start;
    Op op;
    S want;
    std::string error;
  } cases[] = {
      {Start::Inactive, Op::Open, S::Browse, ""},
      {Start::Inactive, Op::Close, S::Inactive, ""},
      {Start::Inactive, Op::First, S::Inactive, closed},
      {Start::Inactive, Op::Next, S::Inactive, closed},
      {Start::Inactive, Op::Append, S::Inactive, closed},
      {Start::Inactive, Op::Edit, S::Inactive, closed},
      {Start::Inactive, Op::Post, S::Inactive, notEditing},
      {Start::Inactive, Op::RecordCount, S::Inactive, closed},
      {Start::Browse, Op::Open, S::Browse, ""},
      {Start::Browse, Op::Close, S::Inactive, ""},
      {Start::Browse, Op::First, S::Browse, ""},
      {Start::Browse, Op::Next, S::Browse, ""},
      {Start::Browse, Op::Append, S::Insert, ""},
      {Start::Browse, Op::Edit, S::Edit, ""},
      {Start::Browse, Op::Post, S::Browse, notEditing},
      {Start::Browse, Op::RecordCount, S::Browse, ""},
      {Start::BrowseEmpty, Op::Edit, S::Insert, ""},  // edit on an empty result appends
      {Start::BrowseEmpty, Op::Append, S::Insert, ""},
      {Start::BrowseEmpty, Op::Next, S::Browse, ""},
      {Start::BrowseEmpty, Op::Post, S::Browse, notEditing},
      {Start::Edit, Op::Open, S::Edit, ""},
      {Start::Edit, Op::Close, S::Inactive, ""},
      {Start::Edit, Op::Edit, S::Edit, ""},
      {Start::Edit, Op::Append, S::Edit, ""},
      {Start::Edit, Op::Post, S::Browse, ""},
      {Start::Edit, Op::First, S::Browse, ""},  // the row is written first
      {Start::Edit, Op::Next, S::Browse, ""},
      {Start::Insert, Op::Close, S::Inactive, ""},
      {Start::Insert, Op::Edit, S::Insert, ""},
      {Start::Insert, Op::Append, S::Insert, ""},
      {Start::Insert, Op::Post, S::Browse, ""},
      {Start::Insert, Op::RecordCount, S::Insert, ""},
      {Start::ReadOnly, Op::Append, S::Browse, readOnly},
      {Start::ReadOnly, Op::Edit, S::Browse, readOnly},
      {Start::ReadOnly, Op::Post, S::Browse, notEditing},
      {Start::ReadOnly, Op::Next, S::Browse, ""},
      {Start::ReadOnlyInactive, Op::Append, S::Inactive, closed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("start " + std::to_string(static_cast<int>(c.start)) + ", operation " +
                 std::to_string(static_cast<int>(c.op)));
    auto source = clients(c.start == Start::BrowseEmpty ? std::vector<Row>{} : threeClients());
    source->setWritable(c.start != Start::ReadOnly && c.start != Start::ReadOnlyInactive);
    if (c.start != Start::Inactive && c.start != Start::ReadOnlyInactive) source->open();
    if (c.start == Start::Edit) source->edit();
    if (c.start == Start::Insert) source->append();
    const auto run = [&] {
      switch (c.op) {
        case Op::Open: source->open(); break;
        case Op::Close: source->close(); break;
        case Op::First: source->first(); break;
        case Op::Next: source->next(); break;
        case Op::Append: source->append(); break;
        case Op::Edit: source->edit(); break;
        case Op::Post: source->post(); break;
        case Op::RecordCount: source->recordCount(); break;
      }
    };
    EXPECT_EQ(errorOf(run), c.error);
    EXPECT_STREQ(stateName(source->state()), stateName(c.want));
  }
}

TEST(RecordSourceStates, AFailedOpenLeavesTheSourceInactive) {
  auto source = clients();
  source->setOpenFailure("Invalid object name 'clientes'");
  EXPECT_EQ(errorOf([&] { source->open(); }), "Invalid object name 'clientes'");
  EXPECT_EQ(source->state(), SourceState::Inactive);
  EXPECT_EQ(source->fieldCount(), 0u);
  source->setOpenFailure(std::nullopt);
  source->open();
  EXPECT_EQ(source->state(), SourceState::Browse);
}

TEST(RecordSourceWalk, VisitsEveryRowAndStaysOnTheLastAtTheEnd) {
  auto source = clients();
  source->setRecordNumbers({1, 2, 4});  // a deleted record between the second and the third
  source->open();
  std::vector<std::string> names;
  std::vector<long long> numbers;
  while (!source->eof()) {
    names.push_back(source->fieldByName("nome").asText());
    source->next();
    numbers.push_back(source->recordNumber());
  }
  EXPECT_THAT(names, ElementsAre("ANA", "BRUNO", "CARLA"));
  EXPECT_THAT(numbers, ElementsAre(2, 4, 4));
  EXPECT_EQ(source->fieldByName("NOME").asText(), "CARLA");  // the last row stays current
  source->next();
  EXPECT_TRUE(source->eof());
  EXPECT_EQ(source->recordCount(), 3);
  source->first();
  EXPECT_FALSE(source->eof());
  EXPECT_EQ(source->fieldByName("Nome").asText(), "ANA");
  EXPECT_EQ(source->recordNumber(), 1);
}

TEST(RecordSourceWalk, AnEmptyResultIsAtItsEndAtOnce) {
  auto source = clients({});
  source->open();
  EXPECT_TRUE(source->eof());
  EXPECT_TRUE(source->isEmpty());
  EXPECT_EQ(source->recordCount(), 0);
  source->first();
  EXPECT_TRUE(source->eof());
  EXPECT_TRUE(source->fieldByName("Nome").isNull());
}

TEST(RecordSourceWalk, InactiveSourceIsAtItsEndAndNumbersNothing) {
  auto source = clients();
  EXPECT_TRUE(source->eof());
  EXPECT_TRUE(source->isEmpty());
  EXPECT_EQ(source->recordNumber(), -1);
  source->open();
  EXPECT_FALSE(source->isEmpty());
  source->close();
  source->close();  // closing a closed source does nothing
  EXPECT_TRUE(source->eof());
}

TEST(RecordSourceFields, LookupIgnoresCaseAndNamesWhatWasAsked) {
  MemorySource estoque("aEstoque",
                       {{"Est_Fisico", FieldKind::Float, 0, false},
                        {"Cnpj", FieldKind::Text, 14, false},
                        {"DESCRI\xC7\xC3O", FieldKind::Text, 40, false}},
                       {{1.0, std::string("1"), std::string("x")}});
  estoque.open();
  struct {
    std::string_view asked;
    std::string want;  // the field found, or the whole message
  } cases[] = {
      {"est_fisico", "Est_Fisico"},
      {"EST_FISICO", "Est_Fisico"},
      {"cnpj", "Cnpj"},
      {"descri\xE7\xE3o", "DESCRI\xC7\xC3O"},
      {"codmun", "aEstoque: Field 'codmun' not found"},
      {"Est Fisico", "aEstoque: Field 'Est Fisico' not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asked);
    std::string got;
    try {
      got = estoque.fieldByName(c.asked).name();
    } catch (const DataError& e) {
      got = e.what();
    }
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(estoque.findField(c.asked) != nullptr, c.want.find("not found") == std::string::npos);
  }
}

// Two names that differ only in case: the first in list order is the one reached, derived or
// declared, before and after a reopen.
TEST(RecordSourceFields, OfEqualNamesTheFirstInTheListIsFound) {
  const std::vector<ColumnInfo> columns = {{"Cnpj", FieldKind::Text, 14, false},
                                           {"\x8Aigla", FieldKind::Text, 5, false},
                                           {"CNPJ", FieldKind::Float, 0, false},
                                           {"\x9AIGLA", FieldKind::Float, 0, false}};
  MemorySource derived("aFornec", columns, {{std::string("1"), std::string("a"), 2.0, 3.0}});
  MemorySource declared("aFornec", columns, {{std::string("1"), std::string("a"), 2.0, 3.0}});
  Field& first = declared.declareField("cnpj", FieldKind::Text, 14);
  declared.declareField("CnPj", FieldKind::Text, 14);
  Field& sigla = declared.declareField("\x9Aigla", FieldKind::Text, 5);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    derived.open();
    declared.open();
    for (std::string_view asked : {"cnpj", "CNPJ", "Cnpj"}) {
      EXPECT_EQ(derived.fieldByName(asked).columnIndex(), 0) << asked;
      EXPECT_EQ(&declared.fieldByName(asked), &first) << asked;
    }
    for (std::string_view asked : {"\x8AIGLA", "\x9Aigla"}) {
      EXPECT_EQ(derived.fieldByName(asked).columnIndex(), 1) << asked;
      EXPECT_EQ(&declared.fieldByName(asked), &sigla) << asked;
    }
    EXPECT_EQ(derived.findField("Cnpj "), nullptr);
    EXPECT_EQ(declared.findField("CNPJ2"), nullptr);
    derived.close();
    declared.close();
    EXPECT_EQ(derived.findField("cnpj"), nullptr) << "derived fields go at close";
    EXPECT_EQ(declared.findField("cnpj"), &first) << "declared fields stay";
  }
}

TEST(RecordSourceFields, DerivedFieldsFollowTheColumnsAndGoAwayAtClose) {
  auto source = clients();
  source->open();
  ASSERT_EQ(source->fieldCount(), 4u);
  EXPECT_EQ(source->field(1).name(), "Nome");
  EXPECT_EQ(source->field(1).kind(), FieldKind::Text);
  EXPECT_EQ(source->field(1).size(), 10);
  EXPECT_TRUE(source->field(3).readOnly());
  EXPECT_EQ(source->field(3).columnIndex(), 3);
  source->close();
  EXPECT_EQ(source->fieldCount(), 0u);
  EXPECT_EQ(errorOf([&] { source->fieldByName("Nome"); }), "aClientes: Field 'Nome' not found");
}

// A source reopened (a query with other parameters) may find the same columns or others: the
// fields it derives are those of the columns of this open, in their first state.
TEST(RecordSourceFields, DerivedFieldsOfAReopenAreThoseOfItsColumns) {
  class Reshaped : public MemorySource {
   public:
    using MemorySource::MemorySource;
    std::vector<ColumnInfo> next;

   protected:
    std::vector<ColumnInfo> doOpen() override {
      MemorySource::doOpen();
      return next;
    }
    bool canModify() const override { return true; }
  };
  struct Case {
    const char* what;
    void (*change)(ColumnInfo& nome);
  };
  const Case cases[] = {
      {"same columns", [](ColumnInfo&) {}},
      {"renamed", [](ColumnInfo& c) { c.name = "Apelido"; }},
      {"same name in other case", [](ColumnInfo& c) { c.name = "NOME"; }},
      {"other kind", [](ColumnInfo& c) { c.kind = FieldKind::WideText; }},
      {"other size", [](ColumnInfo& c) { c.size = 20; }},
      {"read-only now", [](ColumnInfo& c) { c.readOnly = true; }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    Reshaped source("aClientes", clientColumns(), threeClients());
    source.next = clientColumns();
    source.open();
    source.edit();
    source.field(1).assignText("ZOE");
    source.field(3).setReadOnly(false);
    source.close();

    test.change(source.next[1]);
    source.open();
    ASSERT_EQ(source.fieldCount(), 4u);
    const Field& nome = source.field(1);
    EXPECT_EQ(nome.name(), source.next[1].name);
    EXPECT_EQ(nome.kind(), source.next[1].kind);
    EXPECT_EQ(nome.size(), source.next[1].size);
    EXPECT_EQ(nome.readOnly(), source.next[1].readOnly);
    EXPECT_EQ(nome.columnIndex(), 1);
    EXPECT_EQ(nome.asText(), "ANA");          // the first row, not what the last open assigned
    EXPECT_TRUE(source.field(3).readOnly());  // the column's flag again
    EXPECT_TRUE(source.modifiedFields().empty());
    EXPECT_EQ(&source.fieldByName(source.next[1].name), &nome);
    EXPECT_EQ(&source.fieldByName("cidade"), &source.field(3));
  }
}

TEST(RecordSourceFields, DeclaredFieldsBindByNameOrFailTheOpen) {
  struct {
    std::vector<std::pair<std::string, FieldKind>> declared;
    std::string error;
  } cases[] = {
      {{{"nome", FieldKind::Text}, {"IDCLIENTE", FieldKind::Integer}}, ""},
      {{{"IdCliente", FieldKind::SmallInt}, {"Cidade", FieldKind::FixedText}}, ""},
      {{{"Nome", FieldKind::Text}, {"CL_EMAIL", FieldKind::Text}},
       "aClientes: Field 'CL_EMAIL' not found"},
      {{{"DDD", FieldKind::Integer}},
       "aClientes: Type mismatch for field 'DDD', expecting: Integer actual: Float"},
      {{{"Nome", FieldKind::WideText}},
       "aClientes: Type mismatch for field 'Nome', expecting: WideString actual: String"},
      {{{"IdCliente", FieldKind::Date}, {"Missing", FieldKind::Text}},
       "aClientes: Type mismatch for field 'IdCliente', expecting: Date actual: Integer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    auto source = clients();
    for (const auto& [name, kind] : c.declared) source->declareField(name, kind);
    EXPECT_EQ(errorOf([&] { source->open(); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(source->state(), SourceState::Browse);
      EXPECT_EQ(source->fieldCount(), c.declared.size());
    } else {
      EXPECT_EQ(source->state(), SourceState::Inactive);
      EXPECT_EQ(source->field(0).columnIndex(), -1);
    }
  }
}

TEST(RecordSourceFields, DeclaredListIsTheOnlyWayIn) {
  auto source = clients();
  Field& name = source->declareField("Nome", FieldKind::Text, 4);
  Field& city = source->declareField("CIDADE", FieldKind::Text, 30);
  source->open();
  EXPECT_EQ(&source->fieldByName("nome"), &name);
  EXPECT_EQ(name.asText(), "ANA");
  EXPECT_TRUE(city.readOnly()) << "the column cannot be written";
  EXPECT_EQ(errorOf([&] { source->fieldByName("DDD"); }), "aClientes: Field 'DDD' not found");
  EXPECT_EQ(errorOf([&] { source->declareField("DDD", FieldKind::Float); }),
            "aClientes: Cannot perform this operation on an open dataset");
  source->edit();
  name.assignText("FERNANDA");
  EXPECT_EQ(name.asText(), "FERN") << "the declared size cuts";
  source->close();
  EXPECT_FALSE(city.readOnly());
  EXPECT_TRUE(name.isNull());
  EXPECT_EQ(&source->fieldByName("NOME"), &name) << "declared fields outlive close";
}

TEST(RecordSourceFields, StoreSourcesAcceptWideTextForText) {
  class StoreLike : public MemorySource {
   public:
    using MemorySource::MemorySource;

   protected:
    bool kindFits(FieldKind declared, FieldKind actual) const override {
      return kindsFit(declared, actual, true);
    }
  };
  StoreLike source("aProdutos", {{"Descricao", FieldKind::WideText, 40, false},
                                 {"Preco", FieldKind::Bcd, 0, false}});
  source.declareField("descricao", FieldKind::Text, 40);
  source.declareField("preco", FieldKind::Float);
  EXPECT_EQ(errorOf([&] { source.open(); }), "");
}

TEST(RecordSourceAssign, OnlyInEditOrInsertAndOnlyWritableFields) {
  auto source = clients();
  Field& name = source->declareField("Nome", FieldKind::Text, 10);
  source->declareField("Cidade", FieldKind::Text, 30);
  EXPECT_EQ(errorOf([&] { name.assignText("X"); }),
            "aClientes: Dataset not in edit or insert mode");
  source->open();
  EXPECT_EQ(errorOf([&] { name.assignText("X"); }),
            "aClientes: Dataset not in edit or insert mode");
  EXPECT_EQ(errorOf([&] { name.clear(); }), "aClientes: Dataset not in edit or insert mode");
  EXPECT_EQ(name.asText(), "ANA");
  source->edit();
  EXPECT_EQ(errorOf([&] { source->fieldByName("cidade").assignText("OLINDA"); }),
            "Field 'Cidade' cannot be modified");
  EXPECT_EQ(source->fieldByName("cidade").asText(), "RECIFE");
  EXPECT_TRUE(source->modifiedFields().empty());
  name.assignText("X");
  EXPECT_EQ(name.asText(), "X");
}

std::vector<std::string> namesOf(std::span<Field* const> fields) {
  std::vector<std::string> names;
  for (const Field* field : fields) names.push_back(field->name());
  return names;
}

TEST(RecordSourcePost, InsertWritesExactlyTheAssignedFieldsInFirstAssignmentOrder) {
  auto source = clients({});
  source->setInsertDefaults({std::monostate{}, std::monostate{}, 99.0, std::string("DEFAULT")});
  std::vector<std::string> written;
  bool wasInsert = false;
  source->setPostHook([&](std::span<Field* const> modified, bool inserting) {
    written = namesOf(modified);
    wasInsert = inserting;
  });
  source->open();
  source->edit();  // empty: an append
  for (std::size_t i = 0; i < source->fieldCount(); ++i) {
    EXPECT_TRUE(source->field(i).isNull());
  }
  source->fieldByName("Nome").assignText("DANIEL");
  source->fieldByName("IdCliente").assignInteger(4);
  source->fieldByName("nome").assignText("DANIELA");  // again: keeps its first place
  source->post();
  EXPECT_THAT(written, ElementsAre("Nome", "IdCliente"));
  EXPECT_TRUE(wasInsert);
  ASSERT_EQ(source->rows().size(), 1u);
  EXPECT_EQ(source->rows()[0],
            (Row{std::int64_t{4}, std::string("DANIELA"), 99.0, std::string("DEFAULT")}));
  EXPECT_EQ(source->state(), SourceState::Browse);
  EXPECT_TRUE(source->modifiedFields().empty());
  EXPECT_FALSE(source->isEmpty());
  EXPECT_FALSE(source->eof());
  EXPECT_EQ(source->fieldByName("DDD").asFloat(), 99.0) << "the written row is current";
}

TEST(RecordSourcePost, EditWritesOnlyTheAssignedFields) {
  auto source = clients();
  std::vector<std::string> written;
  source->setPostHook([&](std::span<Field* const> modified, bool inserting) {
    written = namesOf(modified);
    EXPECT_FALSE(inserting);
  });
  source->open();
  source->next();
  source->edit();
  EXPECT_TRUE(source->modifiedFields().empty());
  EXPECT_EQ(source->fieldByName("Nome").asText(), "BRUNO") << "edit keeps the row's values";
  source->fieldByName("DDD").assignFloat(21.0);
  source->post();
  EXPECT_THAT(written, ElementsAre("DDD"));
  EXPECT_EQ(source->rows()[1],
            (Row{std::int64_t{2}, std::string("BRUNO"), 21.0, std::string("SAO PAULO")}));
  EXPECT_EQ(source->rows()[0], threeClients()[0]);
}

TEST(RecordSourcePost, ARefusedPostKeepsTheRowInEditOrInsertAndCloseDiscardsIt) {
  for (bool inserting : {true, false}) {
    SCOPED_TRACE(inserting ? "insert" : "edit");
    auto source = clients();
    source->setPostHook([](std::span<Field* const>, bool) {
      throw StoreError("Violation of PRIMARY KEY constraint", "23000", 2627);
    });
    source->open();
    if (inserting) {
      source->append();
    } else {
      source->edit();
    }
    source->fieldByName("Nome").assignText("ZECA");
    try {
      source->post();
      ADD_FAILURE() << "the post was not refused";
    } catch (const StoreError& e) {
      EXPECT_STREQ(e.what(), "Violation of PRIMARY KEY constraint");  // unchanged, no prefix
      EXPECT_EQ(e.sqlState, "23000");
    }
    EXPECT_EQ(source->state(), inserting ? SourceState::Insert : SourceState::Edit);
    EXPECT_EQ(source->fieldByName("Nome").asText(), "ZECA");
    EXPECT_THAT(namesOf(source->modifiedFields()), ElementsAre("Nome"));
    EXPECT_EQ(source->rows(), threeClients()) << "nothing written";
    EXPECT_EQ(errorOf([&] { source->close(); }), "");
    EXPECT_EQ(source->state(), SourceState::Inactive);
    source->setPostHook(nullptr);
    source->open();
    EXPECT_EQ(source->fieldByName("Nome").asText(), "ANA");
  }
}

TEST(RecordSourcePost, ARefusedPostStopsAMoveAway) {
  auto source = clients();
  source->setPostHook([](std::span<Field* const>, bool) { throw DataError("refused"); });
  source->open();
  source->edit();
  source->fieldByName("Nome").assignText("X");
  EXPECT_EQ(errorOf([&] { source->next(); }), "refused");
  EXPECT_EQ(source->state(), SourceState::Edit);
  EXPECT_EQ(source->currentRowIndex(), 0u);
}

TEST(RecordSourcePost, FetchingARowTouchesNoModifiedSet) {
  auto source = clients();
  source->open();
  source->edit();
  source->fieldByName("Nome").assignText("X");
  source->post();
  source->next();
  EXPECT_TRUE(source->modifiedFields().empty());
  source->edit();
  EXPECT_TRUE(source->modifiedFields().empty());
}

TEST(MemorySourceParameters, FilterTheResultAtOpen) {
  auto source = clients();
  source->parameters().add(Parameter("idcliente", FieldKind::Integer, 4));
  source->setFilter([](const Row& row, const ParameterList& parameters) {
    return row[0] == parameters.byName("IDCLIENTE").value();
  });
  source->parameters().byName("idcliente").setValue(std::int64_t{2});
  source->open();
  EXPECT_EQ(source->fieldByName("Nome").asText(), "BRUNO");
  source->close();
  source->parameters().at(0).setValue(std::int64_t{7});
  source->open();
  EXPECT_TRUE(source->isEmpty());
  EXPECT_EQ(source->openCount(), 2);
  EXPECT_EQ(errorOf([&] { source->parameters().byName("idcolor"); }),
            "aClientes: Parameter 'idcolor' not found");
}

}  // namespace
}  // namespace importacao
