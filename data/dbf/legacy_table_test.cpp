#include "data/dbf/legacy_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <functional>

#include "data/dbf/dbf_decode.h"
#include "data/dbf/legacy_database.h"
#include "data/errors.h"
#include "data/record/number_text.h"
#include "tests/support/dbf_builder.h"

namespace importacao {
namespace {

using test_support::DbfBuilder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

// Walks a table object from first to end-of-data as the run's frame does, noting the record
// number after each step and `field` as text.
struct Walk {
  std::vector<long long> numbers;
  std::vector<std::string> texts;
};
Walk walk(LegacyTable& t, std::string_view field) {
  Walk w;
  t.close();
  t.open();
  t.first();
  while (!t.eof()) {
    w.numbers.push_back(t.recordNumber());
    w.texts.push_back(t.fieldByName(field).asText());
    t.next();
  }
  w.numbers.push_back(t.recordNumber());  // after the next that set end-of-data
  return w;
}

TEST(LegacyTable, WalksPresentedRecordsWithTheirFilePositions) {
  struct Case {
    const char* what;
    DbfBuilder file;
    long long count;
    std::vector<long long> numbers;  // each record's, then the one after the last next
    std::vector<std::string> texts;
  } cases[] = {
      {"empty table", DbfBuilder().field("pd_cod", 'C', 5), 0, {0}, {}},
      {"three records",
       DbfBuilder().field("pd_cod", 'C', 5).record({"a"}).record({"b"}).record({"c"}),
       3,
       {1, 2, 3, 3},
       {"a", "b", "c"}},
      {"deleted records are skipped, not renumbered",
       DbfBuilder()
           .field("pd_cod", 'C', 5)
           .deletedRecord({"x"})
           .record({"a"})
           .deletedRecord({"y"})
           .record({"b"})
           .deletedRecord({"z"}),
       2,
       {2, 4, 4},
       {"a", "b"}},
      {"all records deleted",
       DbfBuilder().field("pd_cod", 'C', 5).deletedRecord({"x"}),
       0,
       {0},
       {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    LegacyTable t("tProduto", DbfTable::fromBytes(c.file.bytes(), "cfa1010.DBF"));
    t.open();
    EXPECT_EQ(t.recordCount(), c.count);
    EXPECT_EQ(t.eof(), c.count == 0);
    EXPECT_EQ(t.isEmpty(), c.count == 0);
    const Walk w = walk(t, "pd_cod");
    EXPECT_EQ(w.numbers, c.numbers);
    EXPECT_EQ(w.texts, c.texts);
    t.next();  // next at end-of-data stays there
    EXPECT_TRUE(t.eof());
    EXPECT_EQ(t.recordNumber(), c.numbers.back());
  }
}

TEST(LegacyTable, DerivedFieldsFollowTheFile) {
  setDecimalSeparator(',');
  LegacyTable t("tProduto",
                DbfTable::fromBytes(DbfBuilder()
                                        .field("PD_COD", 'C', 14)
                                        .field("PD_VLR_RF", 'N', 11, 2)
                                        .field("PD_DTA", 'D', 8)
                                        .field("PD_ATIVO", 'L', 1)
                                        .field("PD_OBS", 'M', 10)
                                        .record({"  07-1.2/3", "12.50", "20240131", "T", "1"})
                                        .record({"", "", "", "?", ""})
                                        .bytes(),
                                    "cfa1010.DBF"));
  t.open();
  struct {
    const char* name;
    FieldKind kind;
    int size;
    const char* first;
    const char* second;
  } want[] = {{"pd_cod", FieldKind::Text, 14, "  07-1.2/3", ""},
              {"pd_vlr_rf", FieldKind::Float, 0, "12,5", ""},
              {"pd_dta", FieldKind::Date, 0, "2024-01-31", ""},
              {"pd_ativo", FieldKind::Boolean, 0, "True", ""},
              {"pd_obs", FieldKind::Memo, 0, "", ""}};
  ASSERT_EQ(t.fieldCount(), 5u);
  for (const auto& w : want) {
    SCOPED_TRACE(w.name);
    Field& f = t.fieldByName(w.name);  // capitals in the file, small letters asked
    EXPECT_EQ(f.kind(), w.kind);
    EXPECT_EQ(f.size(), w.size);
    EXPECT_TRUE(f.readOnly());
    EXPECT_EQ(f.asText(), w.first);
  }
  EXPECT_DOUBLE_EQ(t.fieldByName("pd_vlr_rf").asFloat(), 12.5);
  t.next();
  for (const auto& w : want) {
    SCOPED_TRACE(w.name);
    EXPECT_TRUE(t.fieldByName(w.name).isNull());
    EXPECT_EQ(t.fieldByName(w.name).asText(), w.second);
  }
  EXPECT_EQ(t.fieldByName("pd_vlr_rf").asFloat(), 0.0);
  EXPECT_EQ(t.fieldByName("pd_dta").asDateTime(), DateTime{0.0});
  EXPECT_THAT([&] { t.fieldByName("pd_grp"); },
              ThrowsMessage<DataError>("tProduto: Field 'pd_grp' not found"));
  setDecimalSeparator('.');
}

// A product table with no fields at all opens and walks its records; asking for a field fails
// as for any field the file lacks, naming it.
TEST(LegacyTable, ATableWithoutFieldsWalksItsRecordsAndLacksEveryField) {
  LegacyTable t("tProduto", DbfTable::fromBytes(
                                DbfBuilder().recordLength(1).rawRecord(" ").rawRecord(" ").bytes(),
                                "cfa1010.DBF"));
  t.open();
  EXPECT_EQ(t.fieldCount(), 0u);
  EXPECT_EQ(t.recordCount(), 2);
  EXPECT_THAT([&] { t.fieldByName("pd_cod"); },
              ThrowsMessage<DataError>("tProduto: Field 'pd_cod' not found"));
  t.next();
  EXPECT_FALSE(t.eof());
  EXPECT_EQ(t.recordNumber(), 2);
  t.next();
  EXPECT_TRUE(t.eof());
}

// The walk fills its fields by ways of its own for the usual character, numeric and date
// columns: what each field holds must be what decodeField (the dump's reading) gives for the same
// bytes, in every code page, for fields short and long, blank, damaged or full.
TEST(LegacyTable, FieldsHoldWhatDecodeFieldReads) {
  struct Holding {  // what a field holds, as one comparable text
    std::string shown;
    void null() { shown = "null"; }
    void text(std::string_view t) { shown = "text:" + std::string(t); }
    void number(double v) { shown = "number:" + std::to_string(v) + (std::signbit(v) ? "-" : ""); }
    void integer(std::int64_t v) { shown = "number:" + std::to_string(static_cast<double>(v)); }
    void date(DateTime v) { shown = "date:" + std::to_string(v.days); }
    void dateTime(DateTime v) { shown = "date:" + std::to_string(v.days); }
    void logical(bool v) { shown = v ? "number:1" : "number:0"; }
  };
  auto held = [](const Field& f) {
    Holding h;
    if (f.isNull())
      h.null();
    else if (f.kind() == FieldKind::Text)
      h.text(f.asText());
    else if (f.kind() == FieldKind::Date)
      h.date(f.asDateTime());
    else if (f.kind() == FieldKind::Boolean)
      h.logical(f.asBoolean());
    else
      h.number(f.asFloat());
    return h.shown;
  };
  std::uint64_t state = 4242;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  auto draw = [&](std::size_t length, std::string_view alphabet) {
    std::string value;
    const std::size_t used = next() % (length + 1);
    for (std::size_t i = 0; i < used; ++i) value += alphabet[next() % alphabet.size()];
    return value;
  };
  using namespace std::string_view_literals;
  for (unsigned language : {0x00U, 0x01U, 0x03U, 0x65U, 0xC9U}) {
    DbfBuilder builder;
    builder.languageByte(static_cast<std::uint8_t>(language))
        .field("CURTO", 'C', 7)
        .field("MEDIO", 'C', 40)
        .field("LONGO", 'C', 100)
        .field("VALOR", 'N', 11, 2)
        .field("GRANDE", 'N', 20, 4)
        .field("DATA", 'D', 8)
        .field("ATIVO", 'L', 1)
        .field("FIM", 'C', 3);  // the last field ends the record
    for (int r = 0; r < 400; ++r) {
      const std::string day = std::to_string(18000000 + next() % 3000000);
      builder.record({draw(7, "ab \x87\xE0\xC7"sv), draw(40, "Xy 0\x80\xA2\x00"sv),
                      draw(100, "PORCA \x83\x8D\xB5"sv),
                      next() % 2
                          ? std::to_string(next() % 100000) + "." + std::to_string(next() % 100)
                          : draw(11, " -.0123456789*,"sv),
                      draw(20, " -.0123456789"sv), next() % 3 ? day : draw(8, "0 9"sv),
                      draw(1, "TFN?"sv), draw(3, "\xE7z "sv)});
    }
    const DbfTable table = DbfTable::fromBytes(builder.bytes(), "t.dbf");
    LegacyTable t("tTeste", table);
    t.open();
    std::string scratch;
    std::size_t slot = table.nextLive(0);
    for (t.first(); !t.eof(); t.next(), slot = table.nextLive(slot + 1)) {
      for (std::size_t i = 0; i < t.fieldCount(); ++i) {
        Holding want;
        decodeField(table, table.fields()[i], table.record(slot), scratch, want);
        ASSERT_EQ(held(t.field(i)), want.shown)
            << "language " << language << ", record " << slot + 1 << ", " << t.field(i).name();
      }
    }
  }
}

TEST(LegacyTable, IsReadOnlyAndRefusesWorkWhileClosed) {
  LegacyTable t(
      "tProduto",
      DbfTable::fromBytes(DbfBuilder().field("pd_cod", 'C', 5).record({"a"}).bytes(), "x.dbf"));
  struct {
    const char* what;
    std::function<void()> call;
    const char* message;
  } closed[] = {
      {"first", [&] { t.first(); }, "tProduto: Cannot perform this operation on a closed dataset"},
      {"next", [&] { t.next(); }, "tProduto: Cannot perform this operation on a closed dataset"},
      {"record count", [&] { t.recordCount(); },
       "tProduto: Cannot perform this operation on a closed dataset"},
  };
  for (const auto& c : closed) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(c.call, ThrowsMessage<DataError>(c.message));
  }
  t.open();
  EXPECT_THAT([&] { t.append(); },
              ThrowsMessage<DataError>("tProduto: Cannot modify a read-only dataset"));
  EXPECT_THAT([&] { t.edit(); },
              ThrowsMessage<DataError>("tProduto: Cannot modify a read-only dataset"));
  EXPECT_THAT([&] { t.post(); },
              ThrowsMessage<DataError>("tProduto: Dataset not in edit or insert mode"));
  EXPECT_EQ(t.state(), SourceState::Browse);
  EXPECT_EQ(t.fieldByName("pd_cod").asText(), "a");
}

TEST(LegacyTable, DeclaredFieldsBindByNameAndFittingKind) {
  auto table = [](const DbfBuilder& b) { return DbfTable::fromBytes(b.bytes(), "CFA3010.DBF"); };
  struct Case {
    const char* what;
    DbfBuilder file;
    const char* error;  // nullptr: opens
  } cases[] = {
      {"every field present", DbfBuilder::suppliers(), nullptr},
      {"numbers of other widths and decimals",
       DbfBuilder::suppliers({"FN_COD", "FN_CENCUS"})
           .field("FN_COD", 'N', 14, 3)
           .field("fn_cencus", 'F', 20, 4),
       nullptr},
      {"a declared field missing", DbfBuilder::suppliers({"FN_EMAIL"}),
       "tFornecedor: Field 'FN_EMAIL' not found"},
      {"text where a number is declared", DbfBuilder::suppliers({"FN_COD"}).field("FN_COD", 'C', 6),
       "tFornecedor: Type mismatch for field 'FN_COD', expecting: Float actual: String"},
      {"number where a text is declared", DbfBuilder::suppliers({"FN_NOM"}).field("FN_NOM", 'N', 6),
       "tFornecedor: Type mismatch for field 'FN_NOM', expecting: String actual: Float"},
      {"text where a date is declared",
       DbfBuilder::suppliers({"FN_DTA_AT"}).field("FN_DTA_AT", 'C', 8),
       "tFornecedor: Type mismatch for field 'FN_DTA_AT', expecting: Date actual: String"},
      {"logical where a small integer is declared",
       DbfBuilder::suppliers({"FN_CENCUS"}).field("FN_CENCUS", 'L', 1),
       "tFornecedor: Type mismatch for field 'FN_CENCUS', expecting: SmallInt actual: Boolean"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    LegacyTable t("tFornecedor", table(c.file));
    declareFornecedorFields(t);
    if (c.error == nullptr) {
      t.open();
      EXPECT_EQ(t.state(), SourceState::Browse);
      EXPECT_EQ(t.fieldCount(), 20u);
    } else {
      EXPECT_THAT([&] { t.open(); }, ThrowsMessage<DataError>(c.error));
      EXPECT_EQ(t.state(), SourceState::Inactive);
    }
  }
}

TEST(LegacyTable, DeclaredCustomerValuesReadAsTheirKinds) {
  auto file = DbfBuilder::customers()
                  .field("CL_EXTRA", 'C', 5)  // not declared: not reachable
                  .recordWith({{"CL_COD", "  0012.0"},
                               {"CL_NOM", " ANA  "},
                               {"CLINCMP", "2.5"},
                               {"CL_ZONA", "3.5"},
                               {"CL_DTACAD", "20240131"},
                               {"CL_EXTRA", "x"}})
                  .recordWith({{"CL_NOM", "blank code and date"}});
  LegacyTable t("tClientes", DbfTable::fromBytes(file.bytes(), "CFA2010.DBF"));
  declareClientesFields(t);
  t.open();
  ASSERT_EQ(t.fieldCount(), 71u);
  EXPECT_EQ(t.field(0).name(), "CL_COD");
  EXPECT_EQ(t.field(70).name(), "CL_DTACAD");
  EXPECT_EQ(t.fieldByName("CL_NOM").size(), 40);
  EXPECT_EQ(t.fieldByName("CLINCMP").kind(), FieldKind::SmallInt);

  EXPECT_EQ(t.fieldByName("CL_COD").asInteger(), 12);
  EXPECT_EQ(t.fieldByName("CL_COD").asText(), "12");
  EXPECT_EQ(t.fieldByName("CL_NOM").asText(), " ANA");
  EXPECT_EQ(t.fieldByName("CLINCMP").asInteger(), 2);  // halves to even
  EXPECT_EQ(t.fieldByName("CL_ZONA").asInteger(), 4);
  EXPECT_EQ(t.fieldByName("CL_DTACAD").asDateTime(), *dateTimeOfDay(2024, 1, 31));
  EXPECT_THAT([&] { t.fieldByName("CL_EXTRA"); },
              ThrowsMessage<DataError>("tClientes: Field 'CL_EXTRA' not found"));
  t.next();
  EXPECT_EQ(t.fieldByName("CL_COD").asText(), "");
  EXPECT_EQ(t.fieldByName("CL_COD").asInteger(), 0);
  EXPECT_EQ(t.fieldByName("CL_DTACAD").asDateTime(), DateTime{0.0});
  EXPECT_TRUE(t.fieldByName("CL_EMAIL").isNull());
}

TEST(LegacyDatabase, PathIsReplacedInPlaceAppendedOrRemoved) {
  LegacyDatabase db;
  EXPECT_THAT(db.params(), ElementsAre("PATH=", "DEFAULT DRIVER=PARADOX", "ENABLE BCD=FALSE"));
  db.setPath("/dados");
  EXPECT_THAT(db.params(),
              ElementsAre("PATH=/dados", "DEFAULT DRIVER=PARADOX", "ENABLE BCD=FALSE"));
  db.setPath("");
  EXPECT_THAT(db.params(), ElementsAre("DEFAULT DRIVER=PARADOX", "ENABLE BCD=FALSE"));
  EXPECT_EQ(db.param("PATH"), std::nullopt);
  EXPECT_EQ(db.folder(), std::filesystem::current_path());  // no PATH: the working folder
  db.setPath("/outra");
  EXPECT_THAT(db.params(),
              ElementsAre("DEFAULT DRIVER=PARADOX", "ENABLE BCD=FALSE", "PATH=/outra"));
  db.setPath("/terceira");
  EXPECT_THAT(db.params(),
              ElementsAre("DEFAULT DRIVER=PARADOX", "ENABLE BCD=FALSE", "PATH=/terceira"));
  EXPECT_EQ(db.param("path"), "/terceira");
  EXPECT_EQ(LegacyDatabase::kDatabaseName, "Arquivos");
}

class LegacyFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("legacy_table_test_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "a");
    std::filesystem::create_directories(root_ / "b");
  }
  void TearDown() override {
    objects_.ConDb.disconnect();  // Windows removes no folder holding an open file
    std::filesystem::remove_all(root_);
  }
  void reconnect(const std::filesystem::path& folder) {
    objects_.ConDb.disconnect();
    objects_.ConDb.setPath(folder.string());
    objects_.ConDb.connect();
  }
  std::filesystem::path root_;
  LegacyObjects objects_;
};

TEST_F(LegacyFolder, EachRunReadsTheFolderItsPathNames) {
  DbfBuilder::products().recordWith({{"pd_cod", "A-1"}}).writeTo(root_ / "a" / "cfa1010.DBF");
  // The second folder was copied from Windows: upper-case names, fields in capitals.
  DbfBuilder()
      .field("PD_COD", 'C', 14)
      .record({"B-1"})
      .record({"B-2"})
      .writeTo(root_ / "b" / "CFA1010.DBF");
  LegacyTable& t = objects_.tProduto;

  reconnect(root_ / "a");
  EXPECT_EQ(walk(t, "pd_cod").texts, std::vector<std::string>{"A-1"});
  reconnect(root_ / "b");
  EXPECT_EQ(t.state(), SourceState::Inactive);  // the disconnect closed it
  EXPECT_EQ(walk(t, "pd_cod").texts, (std::vector<std::string>{"B-1", "B-2"}));
  EXPECT_THAT([&] { objects_.ConDb.setPath((root_ / "a").string()); },
              ThrowsMessage<DataError>("ConDb: Cannot perform this operation on an open database"));
  EXPECT_THAT([&] { objects_.ConDb.setCodePageOverride(1252); },
              ThrowsMessage<DataError>("ConDb: Cannot perform this operation on an open database"));
}

TEST_F(LegacyFolder, OpeningATableConnectsAndAppliesTheCodePageOverride) {
  DbfBuilder::suppliers()
      .recordWith({{"FN_COD", "7"}, {"FN_NOM", "JO\x83O"}})
      .writeTo(root_ / "a" / "cfa3010.dbf");
  objects_.ConDb.setPath((root_ / "a").string());
  objects_.tFornecedor.open();  // not connected yet: the open connects
  EXPECT_TRUE(objects_.ConDb.connected());
  EXPECT_EQ(objects_.tFornecedor.fieldByName("FN_NOM").asText(), "JO\xE2O");  // 850's a-circumflex
  EXPECT_EQ(objects_.tFornecedor.table()->codePage(), 850);

  objects_.ConDb.disconnect();
  objects_.ConDb.setCodePageOverride(1252);
  objects_.tFornecedor.open();
  EXPECT_EQ(objects_.tFornecedor.fieldByName("FN_NOM").asText(), "JO\x83O");
  EXPECT_EQ(objects_.tFornecedor.fieldByName("FN_COD").asInteger(), 7);
}

TEST_F(LegacyFolder, MissingFolderFileOrFieldEndsTheOpenWithAClearMessage) {
  DbfBuilder::customers({"CL_EMAIL"})
      .recordWith({{"CL_COD", "1"}})
      .writeTo(root_ / "a" / "CFA2010.DBF");
  struct {
    const char* what;
    std::filesystem::path folder;
    std::function<void()> call;
    std::string message;
  } cases[] = {
      {"folder missing", root_ / "none", [&] { objects_.ConDb.connect(); },
       "Folder of the legacy tables '" + (root_ / "none").string() +
           "' cannot be read: No such file or directory"},
      {"table missing", root_ / "b", [&] { objects_.tProduto.open(); },
       "Table 'cfa1010.DBF' not found in folder '" + (root_ / "b").string() + "'"},
      {"declared field missing", root_ / "a", [&] { objects_.tClientes.open(); },
       "tClientes: Field 'CL_EMAIL' not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    objects_.ConDb.disconnect();
    objects_.ConDb.setPath(c.folder.string());
    EXPECT_THAT(c.call, ThrowsMessage<DataError>(c.message));
  }
  EXPECT_EQ(objects_.tClientes.state(), SourceState::Inactive);
}

TEST_F(LegacyFolder, ADamagedTableIsRefusedNamingTheFile) {
  auto bytes = DbfBuilder::products().recordWith({{"pd_cod", "1"}}).bytes();
  bytes[10] = std::byte{0x05};  // record length, low byte: shorter than the fields
  bytes[11] = std::byte{0x00};
  std::ofstream(root_ / "a" / "cfa1010.DBF", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  objects_.ConDb.setPath((root_ / "a").string());
  EXPECT_THAT(
      [&] { objects_.tProduto.open(); },
      ThrowsMessage<DbfError>(HasSubstr("cfa1010.DBF: record length 5 is too short for field")));
}

}  // namespace
}  // namespace importacao
