// The demo legacy folder that scripts/make-demo-dbf writes, read through the legacy table
// objects exactly as a run reads it: the tables must open (the customer and supplier tables bind
// their declared fields), and the records that show the migration's awkward cases must arrive as
// the sections will see them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "data/dbf/dbf_table.h"
#include "data/dbf/legacy_database.h"
#include "data/dbf/legacy_table.h"
#include "data/record/field.h"
#include "normalise/codepage_guess.h"
#include "tests/support/dbf_text_sample.h"
#include "tests/support/temp_dir.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kGenerator = fs::path(IMP_SOURCE_ROOT) / "scripts" / "make-demo-dbf";
const char* const kTables[] = {"cfa1010.DBF", "CFA2010.DBF", "CFA3010.DBF"};

using test_support::TempDir;

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs the generator; returns its exit status. Its output goes to `folder`/generator.out.
int generate(const fs::path& folder, const std::string& arguments) {
  const std::string command = "python3 " + quoted(kGenerator.string()) + " " +
                              quoted(folder.string()) + " " + arguments + " >" +
                              quoted((folder.parent_path() / "generator.out").string()) + " 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// cp1252 bytes of a UTF-8 literal, for the few accented letters these tests name.
std::string ansi(std::string_view utf8) {
  static const std::map<std::string, char> letters = {
      {"Á", '\xC1'}, {"Â", '\xC2'}, {"Ã", '\xC3'}, {"Ç", '\xC7'}, {"É", '\xC9'}, {"Ê", '\xCA'},
      {"Í", '\xCD'}, {"Ó", '\xD3'}, {"Ô", '\xD4'}, {"Õ", '\xD5'}, {"Ú", '\xDA'}};
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      out += utf8[i++];
      continue;
    }
    const std::string letter(utf8.substr(i, 2));
    out += letters.at(letter);
    i += 2;
  }
  return out;
}

// One record as the sections read it: every field as text.
using Row = std::map<std::string, std::string>;

std::vector<Row> walk(LegacyTable& table) {
  std::vector<Row> rows;
  table.close();
  table.open();
  for (table.first(); !table.eof(); table.next()) {
    Row row;
    for (std::size_t i = 0; i < table.fieldCount(); ++i)
      row[table.field(i).name()] = table.field(i).asText();
    rows.push_back(std::move(row));
  }
  return rows;
}

class DemoTables : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir("imp-demo-test");
    ASSERT_EQ(generate(folder_->path() / "legacy",
                       "--seed 3 --products 400 --customers 300 --suppliers 60"),
              0)
        << fileBytes(folder_->path() / "generator.out");
    objects_ = new LegacyObjects();
    objects_->ConDb.setPath((folder_->path() / "legacy").string());
    products_ = walk(objects_->tProduto);
    customers_ = walk(objects_->tClientes);
    suppliers_ = walk(objects_->tFornecedor);
  }
  static void TearDownTestSuite() {
    delete objects_;
    delete folder_;
  }

  static const Row* find(const std::vector<Row>& rows, const std::string& field,
                         const std::string& value) {
    for (const Row& row : rows)
      if (row.at(field) == value) return &row;
    return nullptr;
  }

  static TempDir* folder_;
  static LegacyObjects* objects_;
  static std::vector<Row> products_, customers_, suppliers_;
};
TempDir* DemoTables::folder_ = nullptr;
LegacyObjects* DemoTables::objects_ = nullptr;
std::vector<Row> DemoTables::products_, DemoTables::customers_, DemoTables::suppliers_;

// The one warning is the product quantity the demo writes as dBASE's overflow marks: it reads as
// null, and the table says so.
TEST_F(DemoTables, EveryTableOpensInCodePage850WithTheOverflowItsWarning) {
  const std::string overflow =
      ": 1 numeric or date value is neither blank nor readable and reads as null (blank); the "
      "first "
      "is '**********' in field 'pd_qtd' of record ";
  struct {
    LegacyTable* table;
    const std::vector<Row>* rows;
    std::size_t atLeast;  // the asked count less the few marked deleted
    std::size_t warnings;
  } cases[] = {{&objects_->tProduto, &products_, 380, 1},
               {&objects_->tClientes, &customers_, 285, 0},
               {&objects_->tFornecedor, &suppliers_, 55, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table->name());
    ASSERT_TRUE(c.table->active());
    const DbfTable* file = c.table->table();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->header().version, 0x03);
    EXPECT_EQ(file->header().languageByte, 0x02);
    EXPECT_EQ(file->codePage(), 850);
    EXPECT_EQ(file->codePageSource(), CodePageSource::LanguageByte);
    ASSERT_EQ(c.table->warnings().size(), c.warnings);
    if (c.warnings > 0) {
      EXPECT_THAT(c.table->warnings()[0], HasSubstr(overflow));
    }
    // Its text is code page 850, and would be taken for it if the table did not say.
    EXPECT_EQ(guessCodePage(test_support::textSampleOf(*file), 850), std::nullopt);
    // Every record the header counts is in the file, and some are marked deleted.
    EXPECT_EQ(file->slotCount(), file->header().recordCount);
    EXPECT_LT(file->recordCount(), file->slotCount());
    EXPECT_EQ(static_cast<long long>(c.rows->size()), c.table->recordCount());
    EXPECT_GE(c.rows->size(), c.atLeast);
  }
}

// The customer and supplier tables are laid out as their table objects declare them: a text
// field as wide as its declared size, numbers as N (with decimals only where the declaration
// is a float), dates as D, and nothing declared missing.
TEST_F(DemoTables, CustomerAndSupplierTablesMatchTheirDeclaredFields) {
  for (LegacyTable* object : {&objects_->tClientes, &objects_->tFornecedor}) {
    const DbfTable* file = object->table();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fields().size(), object->fieldCount());
    for (std::size_t i = 0; i < object->fieldCount(); ++i) {
      const Field& declared = object->field(i);
      SCOPED_TRACE(object->name() + "." + declared.name());
      ASSERT_LT(i, file->fields().size());
      const DbfField& stored = file->fields()[i];
      EXPECT_EQ(stored.name, declared.name());  // in declaration order, too
      switch (declared.kind()) {
        case FieldKind::Text:
          EXPECT_EQ(stored.type, 'C');
          EXPECT_EQ(stored.length, declared.size());
          break;
        case FieldKind::Date: EXPECT_EQ(stored.type, 'D'); break;
        case FieldKind::SmallInt:
          EXPECT_EQ(stored.type, 'N');
          EXPECT_EQ(stored.decimals, 0);
          EXPECT_LE(stored.length, 5);  // its values stay inside -32768..32767
          break;
        case FieldKind::Float: EXPECT_EQ(stored.type, 'N'); break;
        default: ADD_FAILURE() << "declared kind not expected in the legacy tables";
      }
    }
  }
}

TEST_F(DemoTables, FilesEndWithTheEndMarkerAfterTheLastRecord) {
  for (const char* name : kTables) {
    SCOPED_TRACE(name);
    const std::string bytes = fileBytes(folder_->path() / "legacy" / name);
    const DbfTable table = DbfTable::open(folder_->path() / "legacy" / name);
    const DbfHeader& header = table.header();
    ASSERT_EQ(bytes.size(),
              header.headerLength + std::size_t{header.recordCount} * header.recordLength + 1);
    EXPECT_EQ(bytes[header.headerLength - 1], '\x0D');
    EXPECT_EQ(bytes.back(), '\x1A');
  }
}

TEST_F(DemoTables, ProductTableHoldsTheFieldsTheProductsSectionReads) {
  const std::map<std::string, std::pair<char, int>> wanted = {
      {"pd_cod", {'C', 0}}, {"pd_dsc", {'C', 40}},   {"pd_apl", {'C', 20}},   {"pd_und", {'C', 3}},
      {"pd_frn", {'N', 0}}, {"pd_qtd_mn", {'N', 0}}, {"pd_vlr_rf", {'N', 0}}, {"pd_qtd", {'N', 0}}};
  const DbfTable* file = objects_->tProduto.table();
  ASSERT_NE(file, nullptr);
  for (const auto& [name, typeAndWidth] : wanted) {
    SCOPED_TRACE(name);
    const auto field = std::find_if(file->fields().begin(), file->fields().end(),
                                    [&](const DbfField& f) { return f.name == name; });
    ASSERT_NE(field, file->fields().end());
    EXPECT_EQ(field->type, typeAndWidth.first);
    if (typeAndWidth.second) {
      EXPECT_EQ(field->length, typeAndWidth.second);
    }
  }
  // The price carries its cents.
  const auto price = std::find_if(file->fields().begin(), file->fields().end(),
                                  [](const DbfField& f) { return f.name == "pd_vlr_rf"; });
  EXPECT_EQ(price->decimals, 2);
}

TEST_F(DemoTables, AwkwardRecordsArriveAsTheSectionsReadThem) {
  struct {
    const char* what;
    const std::vector<Row>* rows;
    std::string keyField, keyValue;  // finds the record
    std::string field, want;         // and what one of its fields reads as text
  } cases[] = {
      {"a product key longer than ten characters", &products_, "pd_cod", "1234.5678-901", "pd_dsc",
       ansi("CAMISA SOCIAL SLIM ALGODÃO EGÍPCIO")},
      {"a product code of fourteen digits", &products_, "pd_cod", "12345678901234", "pd_und", "UN"},
      {"a product without a code", &products_, "pd_dsc", ansi("PRODUTO SEM CÓDIGO"), "pd_cod", ""},
      {"a quantity written as overflow marks reads as blank", &products_, "pd_cod", "55.555-5",
       "pd_qtd", ""},
      {"a description using all forty characters", &products_, "pd_cod", "77.777-7", "pd_dsc",
       ansi("CALÇA JEANS FEM. CÓS ALTO DESTROYED ÍNDI")},
      {"a name using all forty characters", &customers_, "CL_NOM",
       ansi("MARIA DA CONCEIÇÃO ASSUNÇÃO GONÇALVES DÃ"), "CL_EST", "MG"},
      {"a phone number typed as the customer code", &customers_, "CL_NOM",
       ansi("JOÃO BATISTA DA SILVA"), "CL_COD", "3432156789"},
      {"a customer without a code", &customers_, "CL_NOM", ansi("CLIENTE BALCÃO"), "CL_COD", ""},
      {"the empty CNPJ mask keeps its punctuation", &customers_, "CL_NOM", ansi("ANTÔNIA DE JESUS"),
       "CL_CGC", "  .   .   /    -"},
      {"a city cut by its fifteen characters", &customers_, "CL_NOM", ansi("GERALDO MAGALHÃES"),
       "CL_CID", ansi("SÃO SEBASTIÃO D")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Row* row = find(*c.rows, c.keyField, c.keyValue);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->at(c.field), c.want);
  }
}

TEST_F(DemoTables, DatesAtTheLimitsAndBlankDatesAreRead) {
  const Row* oldest = find(customers_, "CL_NOM", ansi("LEÔNIDAS FALCÃO"));
  const Row* latest = find(customers_, "CL_NOM", ansi("TEREZINHA GUIMARÃES"));
  ASSERT_NE(oldest, nullptr);
  ASSERT_NE(latest, nullptr);
  // Read as date-times: 1900-01-01 is day 2 and 2099-12-31 day 73050 of the count from
  // 1899-12-30.
  std::vector<double> days;
  for (objects_->tClientes.first(); !objects_->tClientes.eof(); objects_->tClientes.next()) {
    const std::string name = objects_->tClientes.fieldByName("CL_NOM").asText();
    if (name == ansi("LEÔNIDAS FALCÃO") || name == ansi("TEREZINHA GUIMARÃES"))
      days.push_back(objects_->tClientes.fieldByName("CL_DTACAD").asDateTime().days);
  }
  EXPECT_THAT(days, ::testing::UnorderedElementsAre(2.0, 73050.0));
  // Some customers were registered without a date: they read as the zero date-time.
  std::size_t blank = 0;
  for (const Row& row : customers_) blank += row.at("CL_DTACAD").empty();
  EXPECT_GT(blank, 0u);
}

TEST_F(DemoTables, DeletedRecordsAreNeverPresented) {
  for (const Row& row : products_) EXPECT_THAT(row.at("pd_dsc"), Not(HasSubstr(ansi("EXCLUÍDO"))));
}

TEST_F(DemoTables, QuantitiesIncludeNegativeAndBlankOnes) {
  std::size_t negative = 0, blank = 0;
  for (const Row& row : products_) {
    negative += !row.at("pd_qtd").empty() && row.at("pd_qtd")[0] == '-';
    blank += row.at("pd_qtd").empty();
  }
  EXPECT_GT(negative, 0u);
  EXPECT_GT(blank, 0u);
}

TEST(DemoGenerator, SameSeedGivesTheSameBytesAndAnotherSeedOtherData) {
  TempDir folder("imp-demo-test");
  const std::string counts = "--products 50 --customers 40 --suppliers 10";
  ASSERT_EQ(generate(folder.path() / "a", "--seed 5 " + counts), 0);
  ASSERT_EQ(generate(folder.path() / "b", "--seed 5 " + counts), 0);
  ASSERT_EQ(generate(folder.path() / "c", "--seed 6 " + counts), 0);
  for (const char* name : kTables) {
    SCOPED_TRACE(name);
    const std::string a = fileBytes(folder.path() / "a" / name);
    EXPECT_EQ(a, fileBytes(folder.path() / "b" / name));
    EXPECT_NE(a, fileBytes(folder.path() / "c" / name));
  }
}

// A real legacy folder must never be overwritten by demo data.
TEST(DemoGenerator, LeavesTablesAlreadyInTheFolderAlone) {
  TempDir folder("imp-demo-test");
  const fs::path legacy = folder.path() / "legacy";
  fs::create_directories(legacy);
  const std::string original = "not a demo table";
  std::ofstream(legacy / "CFA2010.DBF", std::ios::binary) << original;

  EXPECT_EQ(generate(legacy, "--products 5 --customers 5 --suppliers 5"), 1);
  EXPECT_EQ(fileBytes(legacy / "CFA2010.DBF"), original);
  EXPECT_FALSE(fs::exists(legacy / "cfa1010.DBF"));
  EXPECT_THAT(fileBytes(folder.path() / "generator.out"), HasSubstr("--force"));

  EXPECT_EQ(generate(legacy, "--force --products 5 --customers 5 --suppliers 5"), 0);
  EXPECT_NE(fileBytes(legacy / "CFA2010.DBF"), original);
}

TEST(DemoGenerator, RefusesBadCountsWithoutWritingAnything) {
  const char* bad[] = {"--products -1", "--customers x", "--seed"};
  for (const char* arguments : bad) {
    SCOPED_TRACE(arguments);
    TempDir folder("imp-demo-test");
    EXPECT_EQ(generate(folder.path() / "legacy", arguments), 2);
    EXPECT_FALSE(fs::exists(folder.path() / "legacy"));
  }
}

}  // namespace
}  // namespace importacao
