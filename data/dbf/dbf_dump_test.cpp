#include "data/dbf/dbf_dump.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <span>
#include <sstream>

#include "data/dbf/dbf_table.h"
#include "platform/file.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/dbf_dump_reference.h"

namespace importacao {
namespace {

// The system's own words for a missing file ("No such file or directory", "File not found").
std::string missingFileText() {
  std::error_code error;
  OpenFile::openForReading(std::filesystem::temp_directory_path() / "nao-existe.dbf", error);
  return errorText(error);
}

using test_support::DbfBuilder;

class DumpDbf : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("dbf_dump_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  struct Result {
    int status;
    std::string out, err;
  };
  Result dump(const std::filesystem::path& path, std::optional<int> codePage = std::nullopt) {
    std::ostringstream out, err;
    const int status = dumpDbf(path.string(), codePage, out, err);
    return {status, out.str(), err.str()};
  }
  std::filesystem::path dir_;
};

TEST_F(DumpDbf, PrintsTheHeaderThenOneLinePerPresentedRecord) {
  DbfBuilder()
      .field("CL_NOM", 'C', 10)
      .field("CL_COD", 'N', 6, 1)
      .field("CL_DTACAD", 'D', 8)
      .field("OK", 'L', 1)
      .record({"  S\x83O ", "12.5", "20240131", "T"})
      .deletedRecord({"gone", "1", "", ""})
      .record({"", "", "", "?"})
      .writeTo(dir_ / "t.dbf");
  const auto r = dump(dir_ / "t.dbf");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "{\"fields\":[{\"name\":\"CL_NOM\",\"type\":\"C\",\"length\":10,\"decimals\":0},"
            "{\"name\":\"CL_COD\",\"type\":\"N\",\"length\":6,\"decimals\":1},"
            "{\"name\":\"CL_DTACAD\",\"type\":\"D\",\"length\":8,\"decimals\":0},"
            "{\"name\":\"OK\",\"type\":\"L\",\"length\":1,\"decimals\":0}],"
            "\"records\":2,\"code_page\":850}\n"
            "{\"recno\":1,\"values\":{\"CL_NOM\":\"  S\xC3\xA2O\",\"CL_COD\":12.5,"
            "\"CL_DTACAD\":\"2024-01-31\",\"OK\":true}}\n"
            "{\"recno\":3,\"values\":{\"CL_NOM\":null,\"CL_COD\":null,\"CL_DTACAD\":null,\"OK\":"
            "null}}\n");
  // The code page given wins over the table's own.
  EXPECT_THAT(dump(dir_ / "t.dbf", 1252).out,
              ::testing::HasSubstr(
                  "\"code_page\":1252}\n{\"recno\":1,\"values\":{\"CL_NOM\":\"  S\xC6\x92O\""));
}

TEST_F(DumpDbf, WarningsGoToTheHeaderAndToStandardError) {
  DbfBuilder().field("A", 'C', 3).record({"x"}).headerCount(5).writeTo(dir_ / "t.dbf");
  const auto r = dump(dir_ / "t.dbf");
  EXPECT_EQ(r.status, 0);
  const std::string warning = (dir_ / "t.dbf").string() +
                              ": the header counts 5 records but the file holds only 1 complete "
                              "ones; reading 1";
  std::string inJson;  // a Windows path's backslashes are escaped in JSON
  for (const char c : warning) inJson += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_THAT(r.out, ::testing::HasSubstr("\"records\":1,\"code_page\":850,\"warnings\":[\"" +
                                          inJson + "\"]}\n"));
  EXPECT_EQ(r.err, warning + "\n");
}

TEST_F(DumpDbf, AFileItCannotReadExitsWithTheReadersMessage) {
  std::ofstream(dir_ / "bad.dbf") << "not a table";
  struct {
    std::filesystem::path path;
    std::optional<int> codePage;
    std::string message;
  } cases[] = {
      {dir_ / "none.dbf", std::nullopt,
       (dir_ / "none.dbf").string() + ": cannot open the table: " + missingFileText() + "\n"},
      {dir_ / "bad.dbf", std::nullopt,
       (dir_ / "bad.dbf").string() + ": not a dBASE table: the file is 11 bytes long, shorter than "
                                     "a table header (32 bytes)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    const auto r = dump(c.path, c.codePage);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message);
  }
  DbfBuilder().field("A", 'C', 3).writeTo(dir_ / "ok.dbf");
  const auto r = dump(dir_ / "ok.dbf", 437437);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, ::testing::HasSubstr("code page 437437 is not one this reader can read"));
}

// The record lines are written by hand, for speed: over generated tables of every field type
// (dBASE III and Visual FoxPro, null flags and varchars, several code pages) holding quotes,
// backslashes, control bytes, bytes above 0x7F, numbers of every shape and damaged values, they
// must be byte for byte what the JSON library writes for the same records.
TEST_F(DumpDbf, RecordLinesAreWhatTheJsonLibraryWrites) {
  std::uint64_t state = 20240131;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  using namespace std::string_view_literals;
  const std::string_view alphabets[] = {
      "ab Z\"\\\x01\x08\t\n\x0C\r\x1F\x7F\x80\x81\x8D\x90\xC7\xE9\xFF"sv,
      "0123456789 .-+e*,\0\x0B"sv, "20240131 0\0"sv, "TtFfYyNn? "sv,
      "\0\x01\x7F\x80\xFF\x3F\xF0"sv};
  const std::uint8_t languages[] = {0x00, 0x02, 0x03, 0x65, 0xC9, 0x64};
  struct Spec {
    char type;
    int length;
    int decimals;
    int alphabet;
  };
  const Spec plain[] = {{'C', 12, 0, 0}, {'C', 70, 0, 0}, {'N', 8, 2, 1}, {'F', 19, 5, 1},
                        {'D', 8, 0, 2},  {'L', 1, 0, 3},  {'M', 10, 0, 4}};
  const Spec foxPro[] = {{'C', 9, 0, 0}, {'V', 10, 0, 0}, {'N', 6, 1, 1},
                         {'I', 4, 0, 4}, {'B', 8, 2, 4},  {'Y', 8, 4, 4},
                         {'T', 8, 0, 4}, {'D', 8, 0, 2},  {'L', 1, 0, 3}};
  for (int t = 0; t < 300; ++t) {
    const bool vfp = t % 3 == 0;
    DbfBuilder b;
    b.version(vfp ? 0x30 : 0x03).languageByte(languages[next() % std::size(languages)]);
    std::vector<Spec> specs;
    for (const auto& s : vfp ? std::span<const Spec>(foxPro) : std::span<const Spec>(plain))
      if (next() % 4 != 0) specs.push_back(s);
    if (specs.empty()) specs.push_back(plain[0]);
    for (std::size_t i = 0; i < specs.size(); ++i) {
      const std::uint8_t flags = vfp && next() % 2 == 0 ? 0x02 : 0;  // may be null
      b.field("F" + std::to_string(i), specs[i].type, specs[i].length, specs[i].decimals, flags);
    }
    if (vfp) b.field("_NullFlags", '0', 2, 0, 0x05);
    for (int r = 0; r < 20; ++r) {
      std::string record(1, next() % 10 == 0 ? '*' : ' ');
      for (const auto& s : specs) {
        const std::string_view alphabet = alphabets[s.alphabet];
        for (int k = 0; k < s.length; ++k) {
          record += next() % 3 == 0 ? ' ' : alphabet[next() % alphabet.size()];
        }
      }
      if (vfp) record += {static_cast<char>(next() % 256), static_cast<char>(next() % 256)};
      b.rawRecord(record);
    }
    SCOPED_TRACE(t);
    const auto table = DbfTable::fromBytes(b.bytes(), "t.dbf");
    std::ostringstream out, err, reference;
    ASSERT_EQ(dumpDbf(table, out, err), 0);
    test_support::referenceRecordLines(table, reference);
    const std::string dumped = out.str();
    ASSERT_EQ(dumped.substr(dumped.find('\n') + 1), reference.str());
  }
}

TEST_F(DumpDbf, ATableCutShortDuringTheDumpEndsItWithTheReadersMessage) {
  // Another program may pack the table while the operator previews it: the records read so far
  // stand, then the reader's message and 1 (an error leaving the dump used to end the program
  // without a word).
  DbfBuilder b;
  b.field("PAD", 'C', 1000);
  for (int i = 0; i < 1000; ++i) b.record({std::to_string(i)});
  b.writeTo(dir_ / "cut.dbf");
  const auto table = DbfTable::open(dir_ / "cut.dbf");
  std::filesystem::resize_file(dir_ / "cut.dbf", 2000);
  std::ostringstream out, err;
  EXPECT_EQ(dumpDbf(table, out, err), 1);
  EXPECT_THAT(out.str(), ::testing::StartsWith("{\"fields\":[{\"name\":\"PAD\""));
  EXPECT_THAT(err.str(),
              ::testing::HasSubstr("cut.dbf: the file is shorter than when it was opened "
                                   "(another program changed it); reading stopped at byte "));
  EXPECT_THAT(err.str(), ::testing::EndsWith("\n"));
}

}  // namespace
}  // namespace importacao
