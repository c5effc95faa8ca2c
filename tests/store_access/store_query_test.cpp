// The store's query and procedure objects against real stores: PostgreSQL through psqlODBC and
// SQLite through the SQLite3 ODBC driver, each test on a throw-away store of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <memory>

#include "data/errors.h"
#include "data/store/declarations.h"
#include "data/store/store_connection.h"
#include "data/store/store_query.h"
#include "tests/store_access/error_capture.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

using test_support::DataLinkEncoding;
using test_support::messageOf;
using test_support::storeErrorOf;
using test_support::StoreTest;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Optional;

// A table of the usual column kinds, the same on both stores.
constexpr std::string_view kProbeTable =
    "create table probe ("
    " id integer not null primary key,"
    " nome varchar(10),"
    " fixo char(3),"
    " qtd float,"
    " preco numeric(15,4),"
    " pequeno smallint,"
    " grande bigint,"
    " inteiro numeric(9,0),"
    " quando timestamp,"
    " nota text,"
    " extra varchar(10) default 'padrao')";

class StoreQueryTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    store().execute(kProbeTable);
  }

  bool postgres() { return GetParam() == StoreKind::PostgreSql; }

  // Points the connection at this test's store through a data-link file.
  void useStore(StoreConnection& connection, DataLinkEncoding encoding = DataLinkEncoding::Utf16) {
    connection.setConnectionString(store().dataLinkConnectionString(encoding));
  }

  // A query over probe by id, on a connection to this test's store.
  std::unique_ptr<StoreQuery> probeQuery(
      StoreConnection& connection,
      std::string_view text = "select * from probe\r\n where id = :id\r\n") {
    auto query = std::make_unique<StoreQuery>("qProbe", connection);
    query->declareParameter(Parameter("id", FieldKind::Integer, 4, 10, 0));
    query->setStatementText(std::string(text));
    return query;
  }

  std::optional<std::string> value(std::string_view sql) { return store().scalar(sql); }
};

TEST_P(StoreQueryTest, MissingKeyIsAppendedWithExactlyTheAssignedColumns) {
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{7});
  q->open();
  EXPECT_TRUE(q->isEmpty());
  q->edit();  // on an empty result: append
  EXPECT_EQ(q->state(), SourceState::Insert);
  q->fieldByName("ID").assignInteger(7);
  q->fieldByName("nome").assignText("Caf\xE9 S\xE3o");
  q->post();
  EXPECT_EQ(q->state(), SourceState::Browse);
  EXPECT_EQ(q->fieldByName("nome").asText(), "Caf\xE9 S\xE3o");
  EXPECT_THAT(value("select nome from probe where id = 7"), Optional(std::string("Café São")));
  // Never assigned: the store's default, and null.
  EXPECT_THAT(value("select extra from probe where id = 7"), Optional(std::string("padrao")));
  EXPECT_EQ(value("select qtd from probe where id = 7"), std::nullopt);
}

TEST_P(StoreQueryTest, ExistingKeyChangesOnlyTheAssignedColumns) {
  store().execute("insert into probe (id, nome, qtd, extra) values (1, 'antigo', 2.5, 'mantido')");
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{1});
  q->open();
  ASSERT_FALSE(q->isEmpty());
  EXPECT_EQ(q->fieldByName("nome").asText(), "antigo");
  q->edit();
  q->fieldByName("nome").assignText("novo");
  q->post();
  EXPECT_EQ(store().query("select nome, qtd, extra from probe where id = 1"),
            (test_support::SqlRows{{"novo", "2.5", "mantido"}}));
}

TEST_P(StoreQueryTest, TextParameterIsNeverCutAndIntegerArrivesAsDigits) {
  store().execute("create table chave (ref varchar(10) not null primary key, tam varchar(3))");
  store().execute("insert into chave values ('1234567890', '0')");
  StoreConnection connection;
  useStore(connection);
  StoreQuery q("qChave", connection);
  q.declareParameter(Parameter("ref", FieldKind::Text, 10, 255, 255));
  q.declareParameter(Parameter("tam", FieldKind::Text, 3, 255, 255));
  q.setStatementText("select * from chave where ref = :ref and tam = :tam");

  // A 14-character key compares whole: no row, although its first 10 characters exist.
  q.parameterByName("ref").setValue(std::string("12345678901234"));
  q.parameterByName("tam").setValue(std::int64_t{0});  // compared with the text "0"
  q.open();
  EXPECT_TRUE(q.isEmpty());
  // The insert then cuts the key to the field's 10 characters: the store refuses the duplicate.
  q.append();
  q.fieldByName("ref").assignText("12345678901234");
  EXPECT_EQ(q.fieldByName("ref").asText(), "1234567890");
  const StoreError duplicate = storeErrorOf([&] { q.post(); });
  EXPECT_EQ(q.state(), SourceState::Insert);
  q.close();

  q.parameterByName("ref").setValue(std::string("1234567890"));
  q.open();
  EXPECT_FALSE(q.isEmpty());
  EXPECT_EQ(q.fieldByName("tam").asText(), "0");
  if (postgres()) {
    EXPECT_EQ(duplicate.sqlState, "23505");
    EXPECT_THAT(duplicate.what(), HasSubstr("duplicate key value violates unique constraint"));
  } else {
    EXPECT_THAT(duplicate.what(), HasSubstr("UNIQUE constraint failed"));
  }
}

TEST_P(StoreQueryTest, RefusedInsertIsWithdrawnAndTheNextCloseDiscardsIt) {
  store().execute("insert into probe (id, nome) values (3, 'x')");
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{99});
  q->open();
  q->append();
  q->fieldByName("id").assignInteger(3);
  q->fieldByName("nome").assignText("dup");
  const StoreError error = storeErrorOf([&] { q->post(); });
  // The store's own text, without its component tags or a final full stop, and no prefix.
  EXPECT_THAT(error.what(), Not(HasSubstr("qProbe")));
  EXPECT_THAT(error.what(), Not(HasSubstr("[")));
  const std::string text = error.what();
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_EQ(q->state(), SourceState::Insert);
  EXPECT_EQ(q->fieldByName("nome").asText(), "dup");
  q->close();
  EXPECT_EQ(q->state(), SourceState::Inactive);
  EXPECT_EQ(store().query("select nome from probe"), (test_support::SqlRows{{"x"}}));
}

TEST_P(StoreQueryTest, ValueTooLongForItsColumnIsTheStoresError) {
  store().execute("create table curto (id integer not null primary key, c varchar(3))");
  StoreConnection connection;
  useStore(connection);
  StoreQuery q("qCurto", connection);
  q.setStatementText("select * from curto where id = :id");
  q.declareField("id", FieldKind::Integer);
  q.declareField("c", FieldKind::Text, 20);  // wider than the column
  q.parameterByName("id").setValue(std::int64_t{1});
  q.open();
  q.append();
  q.fieldByName("id").assignInteger(1);
  q.fieldByName("c").assignText("abcdef");
  if (postgres()) {
    const StoreError error = storeErrorOf([&] { q.post(); });
    EXPECT_EQ(error.sqlState, "22001");
    EXPECT_THAT(error.what(), HasSubstr("value too long for type character varying(3)"));
    EXPECT_EQ(store().query("select * from curto"), test_support::SqlRows{});
  } else {
    q.post();  // SQLite keeps what it is given
    EXPECT_THAT(value("select c from curto"), Optional(std::string("abcdef")));
  }
}

TEST_P(StoreQueryTest, UpdateOfARowChangedMeanwhileFails) {
  store().execute("insert into probe (id, nome, qtd) values (1, 'lido', 1)");
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{1});

  // Another user changes the column this post changes: refused, nothing written.
  q->open();
  q->edit();
  q->fieldByName("nome").assignText("meu");
  store().execute("update probe set nome = 'outro' where id = 1");
  const StoreError changed = storeErrorOf([&] { q->post(); });
  EXPECT_EQ(changed.sqlState, "01001");
  EXPECT_STREQ(changed.what(),
               "Row cannot be located for updating. Some values may have been changed since it was "
               "last read");
  EXPECT_EQ(q->state(), SourceState::Edit);
  EXPECT_THAT(value("select nome from probe where id = 1"), Optional(std::string("outro")));
  q->close();

  // A change to a column this post leaves alone is kept, and the post goes through.
  q->open();
  q->edit();
  q->fieldByName("nome").assignText("meu");
  store().execute("update probe set qtd = 5 where id = 1");
  q->post();
  EXPECT_THAT(value("select nome from probe where id = 1 and qtd = 5"),
              Optional(std::string("meu")));
  q->close();

  // The row vanished.
  q->open();
  q->edit();
  q->fieldByName("nome").assignText("fantasma");
  store().execute("delete from probe where id = 1");
  EXPECT_EQ(storeErrorOf([&] { q->post(); }).sqlState, "01001");
  EXPECT_EQ(store().query("select * from probe"), test_support::SqlRows{});
}

TEST_P(StoreQueryTest, UpdateOfARowWrittenByAnotherProgramFindsItAndStillSeesChanges) {
  // Values in the forms other programs write them, which reading and binding back may not
  // reproduce letter for letter: the post must find the row all the same, and must still fail
  // when the value really changed after it was read.
  struct {
    std::string_view column;
    std::string_view stored;   // SQL literal written by "another program"
    Value assigned;            // what this post writes over it
    std::string_view changed;  // SQL literal written behind our back
  } cases[] = {
      {"quando", "'2024-01-05 10:00:00'", DateTime{45300.5}, "'2024-01-05 10:00:01'"},
      {"quando", "'2024-01-05 10:00:00.5'", DateTime{45300.5}, "'2024-01-05 10:00:00.501'"},
      {"quando", "'2024-01-05'", DateTime{45300.5}, "'2024-01-06'"},
      {"qtd", "0.30000000000000004", 7.0, "0.3001"},
      {"qtd", "1e300", 7.0, "1e299"},
      {"qtd", "2", 7.0, "2.00000000000001"},  // a change within the 15 digits the driver reads
      {"metade", "0.1", 7.0, "0.2"},          // single precision
      {"preco", "0.30000000000000004", 7.0, "0.3001"},
      {"preco", "12.5", 7.0, "12.51"},
      {"preco", "3", 7.0, "3.0001"},
      {"fixo", "'ab'", std::string("xyz"), "'ac'"},
      {"nome", "'trailing  '", std::string("x"), "'trailing'"},
      {"nome", "null", std::string("x"), "'agora'"},
      {"quando", "null", DateTime{45300.5}, "'2024-01-05 10:00:00'"},
  };
  store().execute("alter table probe add column metade real");
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{1});
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " = " + std::string(c.stored));
    const std::string column(c.column);
    auto insert = [&] {
      store().execute("delete from probe");
      store().execute("insert into probe (id, " + column + ") values (1, " + std::string(c.stored) +
                      ")");
    };
    insert();
    q->open();
    ASSERT_FALSE(q->isEmpty());
    q->edit();
    q->fieldByName(column).assignValue(c.assigned);
    EXPECT_NO_THROW(q->post());
    EXPECT_EQ(q->state(), SourceState::Browse);
    q->close();
    EXPECT_THAT(value("select count(*) from probe where " + column + " is not null"),
                Optional(std::string("1")));

    insert();
    q->open();
    q->edit();
    q->fieldByName(column).assignValue(c.assigned);
    store().execute("update probe set " + column + " = " + std::string(c.changed));
    EXPECT_EQ(storeErrorOf([&] { q->post(); }).sqlState, "01001");
    q->close();
  }
}

TEST_P(StoreQueryTest, NewStatementTextPostsToTheTableItReads) {
  store().execute("create table outra (id integer not null primary key, nome varchar(10))");
  store().execute("insert into probe (id, nome) values (1, 'probe')");
  store().execute("insert into outra (id, nome) values (1, 'outra')");
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection, "select id, nome from probe where id = :id");
  q->parameterByName("id").setValue(std::int64_t{1});
  for (std::string_view table : {"probe", "outra"}) {
    SCOPED_TRACE(std::string(table));
    q->setStatementText("select id, nome from " + std::string(table) + " where id = :id");
    q->open();
    q->edit();
    q->fieldByName("nome").assignText("novo");
    EXPECT_NO_THROW(q->post());
    q->close();
    EXPECT_THAT(value("select nome from " + std::string(table) + " where id = 1"),
                Optional(std::string("novo")));
  }
}

TEST_P(StoreQueryTest, UpdateFindsTheRowByItsKeyWhenValuesRepeat) {
  store().execute("insert into probe (id, nome) values (1, 'igual')");
  store().execute("insert into probe (id, nome) values (2, 'igual')");
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection, "select * from probe where nome = :nome order by id");
  q->parameterByName("nome").setValue(std::string("igual"));
  q->open();
  q->next();
  ASSERT_EQ(q->fieldByName("id").asInteger(), 2);
  q->edit();
  q->fieldByName("qtd").assignFloat(9.5);
  q->post();
  EXPECT_EQ(store().query("select id, qtd from probe order by id"),
            (test_support::SqlRows{{"1", std::nullopt}, {"2", "9.5"}}));
}

TEST_P(StoreQueryTest, ValuesCrossTheBoundaryUnchanged) {
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{5});
  q->open();
  q->append();
  const DateTime when{45351.0 +
                      (13 * 3600 + 45 * 60 + 30.123) / 86400.0};  // 2024-02-29 13:45:30.123
  q->fieldByName("id").assignInteger(5);
  q->fieldByName("nome").assignText(
      "\xC7"
      "a\xE7"
      "a \x80");  // Çaça €
  q->fieldByName("fixo").assignText("ab");
  q->fieldByName("qtd").assignFloat(0.1 + 0.2);
  q->fieldByName("preco").assignFloat(1234.56785);
  q->fieldByName("pequeno").assignInteger(-32768);
  q->fieldByName("grande").assignInteger(9007199254740993LL);
  q->fieldByName("inteiro").assignInteger(123456789);
  q->fieldByName("quando").assignDateTime(when);
  q->fieldByName("nota").assignText(std::string(5000, 'n') + "\r\nfim");
  q->post();
  q->close();

  q->open();
  ASSERT_FALSE(q->isEmpty());
  EXPECT_EQ(q->fieldByName("nome").asText(),
            "\xC7"
            "a\xE7"
            "a \x80");
  EXPECT_EQ(q->fieldByName("fixo").asText().substr(0, 2), "ab");
  if (postgres()) {
    EXPECT_EQ(q->fieldByName("qtd").asFloat(), 0.1 + 0.2);
    EXPECT_EQ(q->fieldByName("preco").asFloat(), 1234.5678);  // a decimal: four places
  } else {
    // SQLite's driver carries doubles as text of 15 significant digits; its numeric columns
    // are doubles.
    EXPECT_DOUBLE_EQ(q->fieldByName("qtd").asFloat(), 0.1 + 0.2);
    EXPECT_DOUBLE_EQ(q->fieldByName("preco").asFloat(), 1234.56785);
  }
  EXPECT_EQ(q->fieldByName("pequeno").asInteger(), -32768);
  EXPECT_EQ(q->fieldByName("grande").asInteger(), 9007199254740993LL);
  EXPECT_EQ(q->fieldByName("inteiro").asInteger(), 123456789);
  EXPECT_NEAR(q->fieldByName("quando").asDateTime().days, when.days, 0.0005 / 86400);
  EXPECT_EQ(q->fieldByName("quando").asText(), "2024-02-29 13:45:30.123");
  EXPECT_EQ(q->fieldByName("nota").asText(), std::string(5000, 'n') + "\r\nfim");
  // The store holds proper Unicode, milliseconds included.
  EXPECT_THAT(value("select nome from probe where id = 5"), Optional(std::string("Çaça €")));
  EXPECT_THAT(value(postgres() ? "select to_char(quando, 'YYYY-MM-DD HH24:MI:SS.MS') from probe"
                               : "select quando from probe"),
              Optional(HasSubstr("2024-02-29 13:45:30.123")));
}

TEST_P(StoreQueryTest, AccentedColumnNamesAreReadAndWrittenBack) {
  // The insert and update named such a column in code page 1252 where the store wants Unicode.
  // SQLite's driver converts statement texts and names by the process's character type as it
  // was when the connection opened (under "C" it stored "descrição" in Latin-1): the fixture
  // makes the table under UTF-8, the layer's connections open under whatever the process has.
  const std::string before = std::setlocale(LC_CTYPE, nullptr);
  store().disconnect();
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  store().execute(
      "create table acentos (id integer not null primary key, \"descrição\" varchar(10))");
  store().disconnect();
  int id = 0;
  for (const char* ctype : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(ctype);
    ASSERT_NE(std::setlocale(LC_CTYPE, ctype), nullptr);
    StoreConnection connection;
    useStore(connection);
    StoreQuery q("qAcentos", connection);
    q.setStatementText("select * from acentos where id = :id");
    q.parameterByName("id").setValue(std::int64_t{++id});
    q.open();
    EXPECT_EQ(q.field(1).name(), "descri\xE7\xE3o");
    q.append();
    q.fieldByName("id").assignInteger(id);
    q.fieldByName("DESCRI\xC7\xC3O").assignText("nova");
    q.post();
    q.edit();
    q.fieldByName("descri\xE7\xE3o").assignText("editada");
    q.post();
  }
  std::setlocale(LC_CTYPE, "C.UTF-8");
  EXPECT_EQ(store().query("select \"descrição\" from acentos order by id"),
            (test_support::SqlRows{{"editada"}, {"editada"}}));
  store().disconnect();
  std::setlocale(LC_CTYPE, before.c_str());
}

TEST_P(StoreQueryTest, LongTextsArriveWholeWhateverTheirLength) {
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  // Around the sizes in which the driver hands long values over.
  const std::size_t lengths[] = {0, 1, 1022, 1023, 1024, 1025, 2046, 2047, 2048, 2049, 70000};
  int id = 100;
  for (std::size_t length : lengths) {
    SCOPED_TRACE(length);
    std::string text(length, 'x');
    for (std::size_t i = 0; i < length; i += 7) text[i] = '\xE7';  // ç, two bytes in UTF-8
    q->close();
    q->parameterByName("id").setValue(std::int64_t{++id});
    q->open();
    q->append();
    q->fieldByName("id").assignInteger(id);
    q->fieldByName("nota").assignText(text);
    q->post();
    q->close();
    q->open();
    ASSERT_FALSE(q->isEmpty());
    EXPECT_EQ(q->fieldByName("nota").asText(), text);  // "" reads back as null: the same text
  }
}

TEST_P(StoreQueryTest, CharactersCodePage1252CannotHoldReadAsQuestionMarks) {
  store().execute("insert into probe (id, nome) values (1, ?)", {std::string("Łódź 日本")});
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{1});
  q->open();
  EXPECT_EQ(q->fieldByName("nome").asText(),
            "?\xF3"
            "d? ??");
}

TEST_P(StoreQueryTest, ARowHoldingCharactersCodePage1252CannotHoldIsStillUpdated) {
  // What was read as '?' is not what the store holds: the update must still find the row, and
  // must still see a change that really happened behind its back.
  store().execute("insert into probe (id, nome, fixo) values (1, ?, ?)",
                  {std::string("Łódź"), std::string("日本")});
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{1});

  q->open();
  q->edit();
  q->fieldByName("nome").assignText("Lodz");
  q->fieldByName("fixo").assignText("JP");
  q->post();
  EXPECT_THAT(value("select nome from probe where id = 1"), Optional(std::string("Lodz")));
  EXPECT_THAT(value("select trim(fixo) from probe where id = 1"), Optional(std::string("JP")));
  q->close();

  store().execute("update probe set nome = ? where id = 1", {std::string("Łódź")});
  q->open();
  q->edit();
  q->fieldByName("nome").assignText("Lodz");
  store().execute("update probe set nome = ? where id = 1", {std::string("Łodź")});
  EXPECT_EQ(storeErrorOf([&] { q->post(); }).sqlState, "01001");
  EXPECT_THAT(value("select nome from probe where id = 1"), Optional(std::string("Łodź")));
}

TEST_P(StoreQueryTest, DerivedFieldsTakeTheKindsOfTheirColumns) {
  StoreConnection connection;
  useStore(connection);
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{0});
  q->open();
  struct {
    std::string_view name;
    FieldKind kind;
    int size;
  } cases[] = {
      {"id", FieldKind::Integer, 0},
      {"nome", FieldKind::Text, 10},
      // SQLite has no fixed-width text: its driver reports char as varchar.
      {"fixo", GetParam() == StoreKind::PostgreSql ? FieldKind::FixedText : FieldKind::Text, 3},
      {"qtd", FieldKind::Float, 0},
      // SQLite reports its numeric columns as double.
      {"preco", GetParam() == StoreKind::PostgreSql ? FieldKind::Bcd : FieldKind::Float, 0},
      {"pequeno", FieldKind::SmallInt, 0},
      {"grande", FieldKind::LargeInt, 0},
      {"inteiro", GetParam() == StoreKind::PostgreSql ? FieldKind::Integer : FieldKind::Float, 0},
      {"quando", FieldKind::DateTime, 0},
      {"nota", FieldKind::Memo, 0},
  };
  ASSERT_EQ(q->fieldCount(), 11u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Field& field = q->fieldByName(c.name);
    EXPECT_EQ(field.kind(), c.kind);
    if (c.size != 0) {
      EXPECT_EQ(field.size(), c.size);
    }
    EXPECT_FALSE(field.readOnly());
  }
  EXPECT_EQ(q->field(0).name(), "id");
}

TEST_P(StoreQueryTest, AutoNumberedColumnsAreReadOnlyAndNeverWritten) {
  store().execute(
      postgres() ? "create table numerada (n serial primary key, nome varchar(10))"
                 : "create table numerada (n integer primary key autoincrement, nome varchar(10))");
  StoreConnection connection;
  useStore(connection);
  StoreQuery q("qNumerada", connection);
  q.setStatementText("select * from numerada where nome = :nome");
  q.parameterByName("nome").setValue(std::string("a"));
  q.open();
  EXPECT_EQ(q.fieldByName("n").kind(), FieldKind::AutoInc);
  EXPECT_TRUE(q.fieldByName("n").readOnly());
  q.append();
  EXPECT_EQ(messageOf([&] { q.fieldByName("n").assignInteger(50); }),
            "Field 'n' cannot be modified");
  q.fieldByName("nome").assignText("a");
  q.post();
  q.close();
  q.open();
  ASSERT_FALSE(q.isEmpty());
  EXPECT_EQ(q.fieldByName("n").asInteger(), 1);
  q.edit();
  q.fieldByName("nome").assignText("a");  // same value: the row is found by its key n
  q.post();
  EXPECT_EQ(store().query("select n, nome from numerada"), (test_support::SqlRows{{"1", "a"}}));
}

TEST_P(StoreQueryTest, DeclaredFieldsBindByNameAndRefuseWhatDoesNotFit) {
  StoreConnection connection;
  useStore(connection);
  struct {
    std::vector<FieldDeclaration> fields;
    std::string want;  // "" for success
  } cases[] = {
      {{{"ID", FieldKind::Integer, std::nullopt}, {"Nome", FieldKind::WideText, 10}}, ""},
      {{{"qtd", FieldKind::Bcd, std::nullopt}, {"preco", FieldKind::Float, std::nullopt}}, ""},
      {{{"nota", FieldKind::Memo, std::nullopt}, {"quando", FieldKind::Date, std::nullopt}}, ""},
      {{{"id", FieldKind::Integer, std::nullopt}, {"Sumiu", FieldKind::Text, 5}},
       "qProbe: Field 'Sumiu' not found"},
      {{{"qtd", FieldKind::Integer, std::nullopt}},
       "qProbe: Type mismatch for field 'qtd', expecting: Integer actual: Float"},
      {{{"nome", FieldKind::Memo, std::nullopt}},
       "qProbe: Type mismatch for field 'nome', expecting: Memo actual: String"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    auto q = probeQuery(connection);
    for (const FieldDeclaration& f : c.fields) q->declareField(std::string(f.name), f.kind, f.size);
    q->parameterByName("id").setValue(std::int64_t{1});
    EXPECT_EQ(messageOf([&] { q->open(); }), c.want.empty() ? "(no error)" : c.want);
    EXPECT_EQ(q->active(), c.want.empty());
  }
}

TEST_P(StoreQueryTest, StatementWithoutRowsOrWithAMissingColumnFailsAtOpen) {
  StoreConnection connection;
  useStore(connection);
  StoreQuery insert("qInsere", connection);
  insert.setStatementText("insert into probe (id) values (:id)");
  insert.parameterByName("id").setValue(std::int64_t{8});
  EXPECT_EQ(messageOf([&] { insert.open(); }), "qInsere: CommandText does not return a result set");
  EXPECT_FALSE(insert.active());

  StoreQuery missing("qFalta", connection);
  missing.setStatementText("select * from probe where naoexiste = :x");
  missing.parameterByName("x").setValue(std::int64_t{1});
  for (int attempt = 0; attempt < 2; ++attempt) {  // the same every time
    const StoreError error = storeErrorOf([&] { missing.open(); });
    if (postgres()) {
      EXPECT_EQ(error.sqlState, "42703");
      EXPECT_THAT(error.what(), HasSubstr("column \"naoexiste\" does not exist"));
    } else {
      EXPECT_THAT(error.what(), HasSubstr("no such column: naoexiste"));
    }
    EXPECT_FALSE(missing.active());
  }
  // The connection is still good.
  auto q = probeQuery(connection);
  q->parameterByName("id").setValue(std::int64_t{8});
  q->open();
  EXPECT_FALSE(q->isEmpty());
}

TEST_P(StoreQueryTest, JoinsAndTablesWithoutKeysCannotBeUpdated) {
  store().execute("create table solta (a integer, b varchar(5))");
  store().execute("insert into solta values (1, 'x')");
  StoreConnection connection;
  useStore(connection);
  StoreQuery loose("qSolta", connection);
  loose.setStatementText("select * from solta");
  loose.open();
  loose.edit();
  loose.fieldByName("b").assignText("y");
  EXPECT_EQ(messageOf([&] { loose.post(); }),
            "qSolta: Table 'solta' has no primary key, so its rows cannot be updated");
  EXPECT_EQ(loose.state(), SourceState::Edit);
  loose.close();
  loose.open();
  loose.append();  // inserting needs no key
  loose.fieldByName("a").assignInteger(2);
  loose.post();
  EXPECT_THAT(value("select count(*) from solta"), Optional(std::string("2")));

  StoreQuery join("qJunta", connection);
  join.setStatementText("select p.id, s.b from probe p inner join solta s on s.a = p.id");
  join.open();
  EXPECT_EQ(messageOf([&] { join.edit(); }), "qJunta: Cannot modify a read-only dataset");
}

TEST_P(StoreQueryTest, UndeclaredParametersTakeTheTypeOfTheirValueAndRepeatedNamesShareIt) {
  store().execute("insert into probe (id, nome, extra) values (4, 'quatro', 'quatro')");
  StoreConnection connection;
  useStore(connection);
  StoreQuery q("qLivre", connection);
  q.setStatementText(
      "select id from probe where nome = :v and extra = :v and id <> :n and 'a:b' = 'a:b'");
  ASSERT_EQ(q.parameters().size(), 2u);
  EXPECT_EQ(q.scannedStatement().names, (std::vector<std::string>{"v", "v", "n"}));
  q.parameterByName("V").setValue(std::string("quatro"));
  q.parameterByName("n").setValue(std::int64_t{0});
  q.open();
  ASSERT_FALSE(q.isEmpty());
  EXPECT_EQ(q.fieldByName("id").asInteger(), 4);
  EXPECT_EQ(messageOf([&] { q.parameterByName("w"); }), "qLivre: Parameter 'w' not found");
  EXPECT_EQ(messageOf([&] { q.parameter(2); }), "List index out of bounds (2)");
}

TEST_P(StoreQueryTest, ExecuteRunsTheStatementOnceAndFetchesNothing) {
  StoreConnection connection;
  useStore(connection);
  StoreQuery q("qExec", connection);
  q.declareParameter(Parameter("id", FieldKind::Integer, 4, 10, 0));
  q.declareParameter(
      Parameter("qtd", FieldKind::Float, 8, 15, 255, ParameterDirection::Input, {true, true}));
  q.setStatementText("insert into probe (id, nome, qtd) values (:id, '0', :qtd)");
  q.declareField("ignorado", FieldKind::Text, 5);  // never bound
  q.parameter(0).setValue(std::int64_t{11});
  q.parameter(1).setValue(-2.5);
  EXPECT_EQ(q.execute(), 1);
  q.parameter(0).setValue(std::int64_t{12});
  q.parameter(1).setValue(Value{});
  EXPECT_EQ(q.execute(), 1);
  EXPECT_FALSE(q.active());
  EXPECT_EQ(store().query("select id, nome, qtd from probe order by id"),
            (test_support::SqlRows{{"11", "0", "-2.5"}, {"12", "0", std::nullopt}}));
  q.parameter(0).setValue(std::int64_t{11});
  EXPECT_THAT(storeErrorOf([&] { q.execute(); }).what(), Not(HasSubstr("no store error")));
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreQueryTest, test_support::kAllStores,
                         test_support::storeTestName);

}  // namespace
}  // namespace importacao
