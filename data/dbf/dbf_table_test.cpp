#include "data/dbf/dbf_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <fstream>

#include "data/dbf/dbf_decode.h"
#include "data/dbf/fuzz/dbf_exercise.h"
#include "data/errors.h"
#include "tests/support/dbf_builder.h"

namespace importacao {
namespace {

using test_support::DbfBuilder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// Renders what decodeField delivers, so that a case compares one string.
struct ShowSink {
  std::string shown;
  void null() { shown = "null"; }
  void text(std::string_view t) { shown = "text:" + std::string(t); }
  void number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "number:%.17g", v);
    shown = buf;
  }
  void integer(std::int64_t v) { shown = "integer:" + std::to_string(v); }
  void date(DateTime v) { shown = "date:" + dayText(v); }
  void dateTime(DateTime v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "datetime:%s+%.6f", dayText(v).c_str(),
                  v.days - std::floor(v.days));
    shown = buf;
  }
  void logical(bool v) { shown = v ? "logical:true" : "logical:false"; }
};

std::vector<std::string> showRecord(const DbfTable& t, std::size_t slot) {
  std::vector<std::string> out;
  std::string scratch;
  for (const auto& f : t.fields()) {
    ShowSink sink;
    decodeField(t, f, t.record(slot), scratch, sink);
    out.push_back(sink.shown);
  }
  return out;
}

// Every presented record, in walk order.
std::vector<std::vector<std::string>> showAll(const DbfTable& t) {
  std::vector<std::vector<std::string>> out;
  for (auto s = t.nextLive(0); s < t.slotCount(); s = t.nextLive(s + 1))
    out.push_back(showRecord(t, s));
  return out;
}

std::string dbfErrorOf(const std::vector<std::byte>& bytes) {
  try {
    DbfTable::fromBytes(bytes, "t.dbf");
  } catch (const DbfError& e) {
    return e.what();
  }
  return "(opened)";
}

void putU16(std::vector<std::byte>& b, std::size_t at, unsigned v) {
  b[at] = std::byte(v & 0xFF);
  b[at + 1] = std::byte(v >> 8);
}

TEST(DbfTable, EachImpossibleLengthIsRefusedNamingTheFileAndTheLength) {
  const auto good = DbfBuilder().field("NAME", 'C', 10).field("QTY", 'N', 5).record({"Ana", "3"});
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    const char* message;
  } cases[] = {
      {"file shorter than a header", std::vector<std::byte>(1, std::byte{0x03}),
       "t.dbf: not a dBASE table: the file is 1 bytes long, shorter than a table header (32 "
       "bytes)"},
      {"empty file", {}, "t.dbf: not a dBASE table: the file is 0 bytes long"},
      {"dBASE II",
       [&] {
         auto b = good.bytes();
         b[0] = std::byte{0x02};
         return b;
       }(),
       "t.dbf: not a dBASE table this reader knows (version byte 0x02)"},
      {"header length past the file",
       [&] {
         auto b = good.bytes();
         putU16(b, 8, 5000);
         return b;
       }(),
       "t.dbf: header length 5000 runs past the end of the file (114 bytes)"},
      {"header length too short",
       [&] {
         auto b = good.bytes();
         putU16(b, 8, 20);
         return b;
       }(),
       "t.dbf: header length 20 leaves no room for a field descriptor"},
      {"record length zero",
       [&] {
         auto b = good.bytes();
         putU16(b, 10, 0);
         return b;
       }(),
       "t.dbf: record length 0 cannot hold a record"},
      {"record length shorter than the fields",
       [&] {
         auto b = good.bytes();
         putU16(b, 10, 12);
         return b;
       }(),
       "t.dbf: record length 12 is too short for field 'QTY', which ends at byte 16"},
      {"a width damaged to 0",
       [&] {
         auto b = good.bytes();
         b[32 + 16] = std::byte{0};
         return b;
       }(),
       "t.dbf: field 'NAME' has a width of 0 in records of 16 bytes"},
      {"a field past the record",
       DbfBuilder().field("A", 'C', 3).recordLength(2).record({"x"}).bytes(),
       "t.dbf: record length 2 is too short for field 'A', which ends at byte 4"},
      {"no field, records of 3 bytes", DbfBuilder().recordLength(3).rawRecord(" ").bytes(),
       "t.dbf: the header holds no field descriptor (header length 33)"},
      {"a descriptor of NULs",
       [] {
         auto b = DbfBuilder().field("A", 'C', 3).record({"x"}).bytes();
         std::fill_n(b.begin() + 32, 32, std::byte{0});
         return b;
       }(),
       "t.dbf: the header holds no field descriptor (header length 65)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(dbfErrorOf(c.bytes), StartsWith(c.message));
  }
}

// An empty column that the record's length counts as such (width 0, the widths filling the
// record) is read: some writers make them.
TEST(DbfTable, AnEmptyColumnThatTheRecordCountsIsRead) {
  auto t = DbfTable::fromBytes(DbfBuilder()
                                   .field("A", 'C', 3)
                                   .field("VAZIO", 'C', 0)
                                   .field("B", 'N', 2)
                                   .record({"x", "", "7"})
                                   .bytes(),
                               "t.dbf");
  EXPECT_THAT(showAll(t), ElementsAre(ElementsAre("text:x", "null", "number:7")));
}

TEST(DbfTable, EveryDamagedByteIsReadOrRefusedWithoutFault) {
  // Each byte of a small table of every kind of field, set to values that mean something in a
  // header or a record, then the whole read: header, walk, every field in every form. Under the
  // sanitizers a read out of bounds fails the test; a refusal must be a DbfError.
  const auto good = DbfBuilder()
                        .version(0x30)
                        .languageByte(0x03)
                        .field("NAME", 'C', 6, 0, 0x02)
                        .field("QTY", 'N', 5, 1)
                        .field("DAY", 'D', 8)
                        .field("OK", 'L', 1)
                        .field("NOTE", 'V', 4, 0, 0x02)
                        .field("ID", 'I', 4)
                        .field("_NullFlags", '0', 1, 0, 0x05)
                        .rawRecord(std::string(" ANA    12.520240131Tab\0\x02\x07\0\0\0\x02", 30))
                        .rawRecord(std::string("*BOB        120240229F    \x01\0\0\0\x05", 30))
                        .bytes();
  const std::uint8_t values[] = {0x00, 0x0D, 0x1A, 0x20, 0x2A, 0xFF};
  int refused = 0;
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (std::uint8_t v : values) {
      auto damaged = good;
      damaged[at] = std::byte{v};
      SCOPED_TRACE(std::to_string(at) + "=" + std::to_string(v));
      fuzzing::exerciseDbf(damaged);
      try {
        DbfTable::fromBytes(damaged, "t.dbf");
      } catch (const DbfError&) {
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 0);
  fuzzing::exerciseDbf(good);
  auto t = DbfTable::fromBytes(good, "t.dbf");
  EXPECT_THAT(showAll(t), ElementsAre(ElementsAre("text:ANA", "number:12.5", "date:2024-01-31",
                                                  "logical:true", "text:ab", "integer:7")));
}

TEST(DbfTable, PresentsLiveRecordsInFileOrderAndSkipsDeletedOnes) {
  auto t = DbfTable::fromBytes(DbfBuilder()
                                   .field("NAME", 'C', 8)
                                   .record({"one"})
                                   .deletedRecord({"two"})
                                   .record({"three"})
                                   .rawRecord(std::string("\0four", 5))  // only '*' deletes
                                   .bytes(),
                               "t.dbf");
  EXPECT_EQ(t.slotCount(), 4u);
  EXPECT_EQ(t.recordCount(), 3u);
  EXPECT_THAT(showAll(t), ElementsAre(ElementsAre("text:one"), ElementsAre("text:three"),
                                      ElementsAre("text:four")));
  EXPECT_THAT(t.warnings(), IsEmpty());
}

TEST(DbfTable, RecordsAgreeWithTheFileNotWithAHeaderThatSaysOtherwise) {
  auto base = [] {
    return DbfBuilder().field("N", 'C', 4).record({"a"}).record({"b"}).record({"c"});
  };
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    std::size_t presented;
    const char* warning;  // "" for none
  } cases[] = {
      {"count and file agree", base().bytes(), 3, ""},
      {"no end marker", base().endMarker(false).bytes(), 3, ""},
      {"count larger than the file", base().headerCount(15).bytes(), 3,
       "t.dbf: the header counts 15 records but the file holds only 3 complete ones; reading 3"},
      {"last record cut short", base().endMarker(false).trailing(" d").headerCount(4).bytes(), 3,
       "the file holds only 3 complete ones"},
      {"end marker where a counted record begins",
       base()
           .endMarker(false)
           .trailing("\x1A"
                     "zzzz")
           .headerCount(4)
           .bytes(),
       3,
       "t.dbf: the header counts 4 records but an end-of-file mark stands where record 4 should "
       "begin; reading 3"},
      {"count smaller than the file", base().headerCount(2).bytes(), 2,
       "t.dbf: the header counts 2 records but the file has room for 3; reading the 2 it counts"},
      {"stray bytes shorter than a record after the marker", base().trailing("1234").bytes(), 3,
       ""},
      {"padding after the marker", base().trailing(std::string(40, '\x1A')).bytes(), 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto t = DbfTable::fromBytes(c.bytes, "t.dbf");
    EXPECT_EQ(t.recordCount(), c.presented);
    if (std::string_view(c.warning).empty()) {
      EXPECT_THAT(t.warnings(), IsEmpty());
    } else {
      ASSERT_EQ(t.warnings().size(), 1u);
      EXPECT_THAT(t.warnings()[0], HasSubstr(c.warning));
    }
  }
}

// A header whose record length is one byte short of its fields: read with records of the
// fields' length when the file's size fits those and not the stated ones; refused otherwise.
TEST(DbfTable, ARecordLengthOneByteShortIsReadWhenTheFileSizeProvesIt) {
  auto short15 = [] {
    return DbfBuilder()
        .field("NAME", 'C', 10)
        .field("QTY", 'N', 5)
        .recordLength(15)
        .record({"Ana", "3"})
        .record({"Bia", "4"})
        .record({"Cai", "5"});
  };
  const std::string read =
      "t.dbf: the header's record length 15 is one byte short of the fields (16), and the file's "
      "size fits records of 16 bytes: reading those";
  const std::string refused =
      "t.dbf: record length 15 is too short for field 'QTY', which ends at byte 16";
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    std::string outcome;  // the warning when read, else the refusal
  } cases[] = {
      {"records of 16 bytes and the end mark", short15().bytes(), read},
      {"records of 16 bytes, no end mark", short15().endMarker(false).bytes(), read},
      {"records of 15 bytes: the stated length is right, the fields wrong",
       DbfBuilder()
           .field("NAME", 'C', 10)
           .field("QTY", 'N', 5)
           .recordLength(15)
           .rawRecord(" Ana          3")
           .rawRecord(" Bia          4")
           .bytes(),
       refused},
      {"one record: 16 bytes, or 15 and the end mark",
       DbfBuilder()
           .field("NAME", 'C', 10)
           .field("QTY", 'N', 5)
           .recordLength(15)
           .record({"Ana", "3"})
           .endMarker(false)
           .bytes(),
       refused},
      {"two bytes short",
       DbfBuilder()
           .field("NAME", 'C', 10)
           .field("QTY", 'N', 5)
           .recordLength(14)
           .record({"Ana", "3"})
           .record({"Bia", "4"})
           .bytes(),
       "t.dbf: record length 14 is too short for field 'QTY', which ends at byte 16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.outcome != read) {
      EXPECT_THAT(dbfErrorOf(c.bytes), StartsWith(c.outcome));
      continue;
    }
    auto t = DbfTable::fromBytes(c.bytes, "t.dbf");
    EXPECT_THAT(t.warnings(), ElementsAre(c.outcome));
    EXPECT_THAT(showAll(t), ElementsAre(ElementsAre("text:Ana", "number:3"),
                                        ElementsAre("text:Bia", "number:4"),
                                        ElementsAre("text:Cai", "number:5")));
  }
}

// A table with no fields at all (33-byte header: no descriptor, then the end mark) presents its
// records, each of nothing but its deletion mark.
TEST(DbfTable, ATableWithoutFieldsPresentsItsRecords) {
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    std::size_t presented;
  } cases[] = {
      {"three records, one deleted",
       DbfBuilder().recordLength(1).rawRecord(" ").rawRecord("*").rawRecord(" ").bytes(), 2},
      {"no record, record length 1", DbfBuilder().recordLength(1).bytes(), 0},
      {"no record, record length 0", DbfBuilder().recordLength(0).endMarker(false).bytes(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto t = DbfTable::fromBytes(c.bytes, "t.dbf");
    EXPECT_THAT(t.fields(), IsEmpty());
    EXPECT_EQ(t.recordCount(), c.presented);
    EXPECT_THAT(t.warnings(), IsEmpty());
    EXPECT_EQ(showAll(t).size(), c.presented);
  }
  // Records of length 0 cannot be stepped through.
  EXPECT_THAT(dbfErrorOf(DbfBuilder().recordLength(0).rawRecord("").headerCount(2).bytes()),
              StartsWith("t.dbf: record length 0 cannot hold a record"));
}

// Numeric and date values that are not blank and cannot be read are null, as blank ones, but
// the table's warnings count them and name the first. Deleted records are not looked at.
TEST(DbfTable, UnreadableNumbersAndDatesAreCountedInTheWarnings) {
  auto base = [] { return DbfBuilder().field("QTY", 'N', 6, 2).field("DAY", 'D', 8); };
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    std::vector<std::string> warnings;
  } cases[] = {
      {"readable or blank",
       base()
           .record({"12.5", "20240131"})
           .record({"", ""})
           .record({"0.00\x0B", "00000000"})
           .record({std::string_view("1\0\0", 3), std::string_view("\0\0\0\0\0\0\0\0", 8)})
           .deletedRecord({"*22", "NotAYear"})
           .bytes(),
       {}},
      {"an overflow, a comma, a month 13",
       base().record({"1", "20240131"}).record({"***", ""}).record({"1,5", "20231345"}).bytes(),
       {"t.dbf: 3 numeric or date values are neither blank nor readable and read as null (blank); "
        "the first is '***' in field 'QTY' of record 2"}},
      {"one, with a control byte shown as '?'",
       base()
           .record({"1\x01"
                    "2",
                    ""})
           .bytes(),
       {"t.dbf: 1 numeric or date value is neither blank nor readable and reads as null (blank); "
        "the first is '1?2' in field 'QTY' of record 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto t = DbfTable::fromBytes(c.bytes, "t.dbf");
    EXPECT_EQ(t.warnings(), c.warnings);
  }
}

TEST(DbfTable, RecordsAreSteppedByTheHeadersRecordLength) {
  // Some writers leave room after the last field: the record length is then larger than the sum
  // of the widths, and stepping by the widths would read the second record from the wrong place.
  auto t = DbfTable::fromBytes(DbfBuilder()
                                   .field("CODE", 'C', 4)
                                   .field("QTY", 'N', 3)
                                   .recordLength(20)
                                   .record({"a", "1"})
                                   .record({"b", "22"})
                                   .bytes(),
                               "t.dbf");
  EXPECT_THAT(showAll(t),
              ElementsAre(ElementsAre("text:a", "number:1"), ElementsAre("text:b", "number:22")));
}

TEST(DbfTable, WideCharacterFieldsKeepTheirHighByteInTheDecimals) {
  const std::string longText(300, 'x');
  auto t = DbfTable::fromBytes(
      DbfBuilder().field("MEMO", 'C', 300).field("N", 'N', 2).record({longText, "7"}).bytes(),
      "t.dbf");
  EXPECT_EQ(t.fields()[0].length, 300);
  EXPECT_THAT(showRecord(t, 0), ElementsAre("text:" + longText, "number:7"));

  // A spreadsheet that writes a decimal count on a character field: the low byte is the width.
  auto excel = DbfTable::fromBytes(
      DbfBuilder().field("NAME", 'C', 5, 3).field("N", 'N', 2).record({"abc", "7"}).bytes(),
      "t.dbf");
  EXPECT_EQ(excel.fields()[0].length, 5);
  EXPECT_THAT(showRecord(excel, 0), ElementsAre("text:abc", "number:7"));
}

TEST(DbfTable, VisualFoxProBacklinkBlockAndHeadersWithoutTheEndMark) {
  auto vfp = DbfTable::fromBytes(
      DbfBuilder().version(0x30).field("NAME", 'C', 5).record({"vfp"}).bytes(), "t.dbf");
  EXPECT_EQ(vfp.header().headerLength, 32u + 32 + 1 + 263);
  EXPECT_THAT(showAll(vfp), ElementsAre(ElementsAre("text:vfp")));

  // No 0x0D after the descriptors: they end at the header length.
  auto noMark = DbfBuilder().field("NAME", 'C', 5).headerLength(64).record({"abc"});
  auto t = DbfTable::fromBytes(noMark.bytes(), "t.dbf");
  ASSERT_EQ(t.fields().size(), 1u);
  EXPECT_THAT(showAll(t), ElementsAre(ElementsAre("text:abc")));
}

TEST(DbfTable, FieldsDescribeTheFile) {
  auto t = DbfTable::fromBytes(DbfBuilder()
                                   .field("pd_cod", 'C', 14)
                                   .field("pd_vlr", 'N', 12, 2)
                                   .field("DT", 'D', 8)
                                   .field("OK", 'L', 1)
                                   .bytes(),
                               "t.dbf");
  ASSERT_EQ(t.fields().size(), 4u);
  struct Want {
    const char* name;
    char type;
    int length, decimals, offset;
    DbfReading reading;
  } want[] = {{"pd_cod", 'C', 14, 0, 1, DbfReading::Character},
              {"pd_vlr", 'N', 12, 2, 15, DbfReading::Number},
              {"DT", 'D', 8, 0, 27, DbfReading::Date},
              {"OK", 'L', 1, 0, 35, DbfReading::Logical}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(want[i].name);
    const auto& f = t.fields()[i];
    EXPECT_EQ(f.name, want[i].name);
    EXPECT_EQ(f.type, want[i].type);
    EXPECT_EQ(f.length, want[i].length);
    EXPECT_EQ(f.decimals, want[i].decimals);
    EXPECT_EQ(f.offset, want[i].offset);
    EXPECT_EQ(f.reading, want[i].reading);
  }
  EXPECT_EQ(t.recordCount(), 0u);
}

TEST(DbfDecode, NumericFieldsReadWithoutTheLocale) {
  struct {
    std::string_view raw;
    std::optional<double> want;
  } cases[] = {
      {"   12.50", 12.5},
      {"-3", -3.0},
      {"+4", 4.0},
      {"1.5E3", 1500.0},
      {"2e-2", 0.02},
      {".5", 0.5},
      {"5.", 5.0},
      {"-0.25", -0.25},
      {std::string_view("12\0\0", 4), 12.0},
      {"", std::nullopt},
      {"        ", std::nullopt},
      {"********", std::nullopt},
      {"1,5", std::nullopt},
      {"12,50", std::nullopt},
      {"abc", std::nullopt},
      {"0  600.0", std::nullopt},
      {"1.2.3", std::nullopt},
      {"--1", std::nullopt},
      {"-", std::nullopt},
      {".", std::nullopt},
      {"1e", std::nullopt},
      {"e5", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"1e999", std::nullopt},
      {"0x1A", std::nullopt},
      {"1 2", std::nullopt},
      {"1*", std::nullopt},
      // Control bytes after the number are padding, as NULs are; before it or inside, not.
      {"0.00\x0B", 0.0},
      {"  12\x0B\x1A ", 12.0},
      {"\x0B", std::nullopt},
      {"\x0B"
       "12",
       std::nullopt},
      {"1\x0B"
       "2",
       std::nullopt},
      {"0         2", std::nullopt},
      {"*22", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.raw));
    EXPECT_EQ(parseDbfNumber(c.raw), c.want);
  }
}

TEST(DbfDecode, NumbersReadByTheQuickPathAgreeWithFromChars) {
  // The usual shapes are read as a whole number over a power of ten: that must give exactly
  // what the general reading gives, for every width, sign, number of decimals and place.
  std::uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  for (int i = 0; i < 200000; ++i) {
    const int width = 1 + static_cast<int>(next() % 20);
    std::string text;
    if (next() % 4 == 0) text += '-';
    const int whole = static_cast<int>(next() % 12);
    for (int k = 0; k < whole; ++k) text += static_cast<char>('0' + next() % 10);
    const int fraction = static_cast<int>(next() % 11) - 1;  // -1: no point
    if (fraction >= 0) text += '.';
    for (int k = 0; k < fraction; ++k) text += static_cast<char>('0' + next() % 10);
    if (text.empty() || static_cast<int>(text.size()) > width) continue;
    if (next() % 50 == 0) text[next() % text.size()] = "x,* e"[next() % 5];
    const std::string field =
        std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
    // The reference: blanks around, an optional '-', then what from_chars reads in full.
    std::optional<double> want;
    std::string_view body = field;
    while (!body.empty() && body.front() == ' ') body.remove_prefix(1);
    while (!body.empty() && body.back() == ' ') body.remove_suffix(1);
    const bool negative = !body.empty() && body.front() == '-';
    if (negative) body.remove_prefix(1);
    double v = 0;
    const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), v);
    if (!body.empty() && body.front() != '-' && error == std::errc{} &&
        end == body.data() + body.size() && std::isfinite(v)) {
      want = negative ? -v + 0.0 : v;
    }
    SCOPED_TRACE("'" + field + "'");
    ASSERT_EQ(parseDbfNumber(field), want);
  }
}

TEST(DbfDecode, DatesLogicalsAndCharacters) {
  auto day = [](int y, int m, int d) { return dateTimeOfDay(y, m, d); };
  struct {
    std::string_view raw;
    std::optional<DateTime> want;
  } dates[] = {
      {"20240131", day(2024, 1, 31)},
      {"18991230", DateTime{0.0}},
      {"19000101", DateTime{2.0}},
      {"20240229", day(2024, 2, 29)},
      {"19600101  ", day(1960, 1, 1)},
      {"10990710", day(1099, 7, 10)},
      {"        ", std::nullopt},
      {"00000000", std::nullopt},
      {"", std::nullopt},
      {"20231345", std::nullopt},
      {"20230229", std::nullopt},
      {"20240100", std::nullopt},
      {"NotAYear", std::nullopt},
      {"2024013", std::nullopt},
      {" 20240131", std::nullopt},
      {"2024-01-31", std::nullopt},
      {std::string_view("\0\0\0\0\0\0\0\0", 8), std::nullopt},
  };
  for (const auto& c : dates) {
    SCOPED_TRACE(std::string(c.raw));
    EXPECT_EQ(parseDbfDate(c.raw), c.want);
  }
  EXPECT_EQ(dayText(*day(2024, 1, 31)), "2024-01-31");
  EXPECT_EQ(dayText(*day(1, 1, 1)), "0001-01-01");
  // The day's text is computed by hand: it must be std::chrono's day, from year 0 to 9999 (the
  // years dates and date-times read as), fractions of a day left out.
  for (long d = -693959; d <= 2958465; d += 7) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days{year{1899} / December / 30} + days{d}};
    char want[16];
    std::snprintf(want, sizeof want, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    ASSERT_EQ(dayText(DateTime{static_cast<double>(d) + 0.75}), want) << d;
  }
  EXPECT_EQ(dayText(DateTime{-693961.0}), "0000-00-00");  // 31 December of year -1
  EXPECT_EQ(dayText(DateTime{2958466.0}), "0000-00-00");  // 1 January 10000

  struct {
    std::string_view raw;
    std::optional<bool> want;
  } logicals[] = {{"T", true},         {"t", true},        {"Y", true},
                  {"y", true},         {"F", false},       {"f", false},
                  {"N", false},        {"n", false},       {"?", std::nullopt},
                  {" ", std::nullopt}, {"", std::nullopt}, {"1", std::nullopt}};
  for (const auto& c : logicals) {
    SCOPED_TRACE(std::string(c.raw));
    EXPECT_EQ(parseDbfLogical(c.raw), c.want);
  }

  struct {
    std::string_view raw, want;
  } texts[] = {{"  ab  ", "  ab"},
               {"abc", "abc"},
               {"     ", ""},
               {"", ""},
               {std::string_view("ab\0cd ", 6), "ab"},
               {std::string_view("\0reak", 5), ""},
               {"a b  ", "a b"}};
  for (const auto& c : texts) {
    SCOPED_TRACE(std::string(c.raw));
    EXPECT_EQ(trimCharacter(c.raw), c.want);
  }
}

std::vector<std::byte> bytesOf(std::initializer_list<unsigned> values) {
  std::vector<std::byte> out;
  for (unsigned v : values) out.push_back(std::byte(v));
  return out;
}

// The walk reads character, numeric and date fields inside their record with readers of their
// own (masks of whole words of bytes): over many generated fields, each must give exactly what
// the reference reading of the same bytes gives, whatever the bytes that follow the field.
TEST(DbfDecode, InRecordReadersAgreeWithTheReferenceReadings) {
  std::uint64_t state = 987654321;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  // A field of `length` bytes drawn from `alphabet`, then kRecordSlack bytes that are no blank.
  auto field = [&](std::size_t length, std::string_view alphabet) {
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i) bytes += alphabet[next() % alphabet.size()];
    for (std::size_t i = 0; i < kRecordSlack; ++i) bytes += "x9.\x80"[next() % 4];
    return bytes;
  };
  using namespace std::string_view_literals;
  const std::string_view textAlphabet = "  \0aZ0\x80\xC7\xFF"sv;
  for (int i = 0; i < 100000; ++i) {
    const std::size_t length = next() % 81;
    std::string bytes = field(length, textAlphabet);
    if (next() % 2 == 0)  // text, then blanks: the usual field
      for (std::size_t k = next() % (length + 1); k < length; ++k) bytes[k] = ' ';
    bool ascii = false;
    const std::string_view want = trimCharacter(std::string_view(bytes.data(), length), &ascii);
    std::uint64_t high = 0;
    const std::string_view got = trimCharacterInRecord(bytes.data(), length, high);
    ASSERT_EQ(got, want) << "length " << length;
    ASSERT_EQ(got.data(), bytes.data());
    if (length <= 64) {
      std::uint64_t expected = 0;
      for (std::size_t k = 0; k < want.size(); ++k)
        if (static_cast<unsigned char>(want[k]) >= 0x80) expected |= std::uint64_t{1} << k;
      ASSERT_EQ(high, expected) << "length " << length;
    } else {
      ASSERT_EQ(high == 0, ascii) << "length " << length;
    }
  }

  const std::string_view numberAlphabets[] = {"0123456789", "0123456789 .-",
                                              " \0.-+0123456789e*,"sv};
  for (int i = 0; i < 300000; ++i) {
    const std::size_t length = 1 + next() % 20;
    std::string bytes = field(length, numberAlphabets[next() % 3]);
    const std::size_t blanks = next() % (length + 1);  // right-aligned, as numbers are written
    for (std::size_t k = 0; k < blanks && next() % 8 != 0; ++k) bytes[k] = ' ';
    if (next() % 4 == 0 && blanks < length) bytes[blanks] = '-';
    const auto want = parseDbfNumber(std::string_view(bytes.data(), length));
    double got = -1.0;
    const bool read = parseDbfNumberInRecord(bytes.data(), length, got);
    ASSERT_EQ(isDbfNumberInRecord(bytes.data(), length), read);
    const std::string shown(bytes.data(), length);
    ASSERT_EQ(read, want.has_value()) << "'" << shown << "'";
    if (want) {
      ASSERT_EQ(got, *want) << "'" << shown << "'";
      ASSERT_EQ(std::signbit(got), std::signbit(*want)) << "'" << shown << "'";
    }
  }

  const std::string_view dateAlphabets[] = {"0123456789", "0123456789 /\0:"sv};
  for (int i = 0; i < 200000; ++i) {
    const std::size_t length = next() % 4 == 0 ? next() % 12 : 8;
    std::string bytes = field(length, dateAlphabets[next() % 2]);
    if (length == 8 && next() % 2 == 0) {  // a plausible day, so that the calendar is checked
      const std::string day = std::to_string(1 + next() % 9999 + 10000).substr(1) +
                              std::to_string(100 + next() % 14).substr(1) +
                              std::to_string(100 + next() % 33).substr(1);
      bytes.replace(0, 8, day);
    }
    const auto want = parseDbfDate(std::string_view(bytes.data(), length));
    DateTime got{-1.0};
    const bool read = parseDbfDateInRecord(bytes.data(), length, got);
    ASSERT_EQ(read ? std::optional<DateTime>(got) : std::nullopt, want)
        << "'" << std::string(bytes.data(), length) << "'";
  }
}

TEST(DbfDecode, BinaryTypesOfFoxProAndDbase7) {
  EXPECT_EQ(readVfpInteger(bytesOf({0x01, 0x00, 0x00, 0x00})), 1);
  EXPECT_EQ(readVfpInteger(bytesOf({0xFF, 0xFF, 0xFF, 0xFF})), -1);
  EXPECT_EQ(readVfpInteger(bytesOf({0, 0, 0, 0})), 0);
  EXPECT_EQ(readVfpInteger(bytesOf({' ', ' ', ' ', ' '})), std::nullopt);
  EXPECT_EQ(readVfpInteger(bytesOf({1, 2})), std::nullopt);  // wrong width
  EXPECT_EQ(readDbase7Integer(bytesOf({0x80, 0x00, 0x00, 0x01})), 1);
  EXPECT_EQ(readDbase7Integer(bytesOf({0x7F, 0xFF, 0xFF, 0xFF})), -1);
  EXPECT_EQ(readDbase7Integer(bytesOf({0x80, 0x4C, 0x4B, 0x40})), 5000000);
  EXPECT_EQ(readDbase7Integer(bytesOf({0, 0, 0, 0})), std::nullopt);
  EXPECT_EQ(readVfpCurrency(bytesOf({0x10, 0x27, 0, 0, 0, 0, 0, 0})), 1.0);  // 10000
  EXPECT_EQ(readVfpDouble(bytesOf({0, 0, 0, 0, 0, 0, 0xF8, 0x3F})), 1.5);
  EXPECT_EQ(readVfpDouble(bytesOf({0, 0, 0, 0, 0, 0, 0xF8, 0x7F})), std::nullopt);  // NaN
  EXPECT_EQ(readDbase7Double(bytesOf({0xC0, 0x45, 0xD3, 0x33, 0x33, 0x33, 0x33, 0x33})), 43.65);
  EXPECT_EQ(readDbase7Double(bytesOf({0x3F, 0x97, 0x00, 0x51, 0xEB, 0x85, 0x1E, 0xB7})), -199.99);
  // Julian day 2460341 is 2024-01-31; 43200000 ms is noon.
  auto noon = readVfpDateTime(bytesOf({0xB5, 0x8A, 0x25, 0x00, 0x00, 0x2E, 0x93, 0x02}));
  ASSERT_TRUE(noon);
  EXPECT_EQ(dayText(*noon), "2024-01-31");
  EXPECT_DOUBLE_EQ(noon->days - std::floor(noon->days), 0.5);
  EXPECT_EQ(readVfpDateTime(bytesOf({0, 0, 0, 0, 0, 0, 0, 0})), std::nullopt);
  // dBASE 7 stamps 2000-01-01 as 63082368000000 ms (1 January of year 1 being day 1).
  auto y2k = readDbase7Timestamp(bytesOf({0x42, 0xCC, 0xAF, 0xC1, 0x11, 0x70, 0x00, 0x00}));
  ASSERT_TRUE(y2k);
  EXPECT_EQ(dayText(*y2k), "2000-01-01");
}

TEST(DbfCodePage, OverrideThenCpgThenLanguageByteThenDefault) {
  DbfHeader dos;
  dos.languageByte = 0x01;
  DbfHeader none;
  struct {
    const char* what;
    std::optional<int> override;
    std::optional<std::string_view> cpg;
    const DbfHeader& header;
    int page;
    CodePageSource source;
    std::size_t warnings;
  } cases[] = {
      {"override wins", 1251, "1250", dos, 1251, CodePageSource::Override, 0},
      {"cpg over language byte", std::nullopt, "1250", dos, 1250, CodePageSource::CpgFile, 0},
      {"language byte", std::nullopt, std::nullopt, dos, 437, CodePageSource::LanguageByte, 0},
      {"byte 0 reads as 850", std::nullopt, std::nullopt, none, 850, CodePageSource::Default, 0},
      {"unreadable cpg is skipped", std::nullopt, "UTF-8", dos, 437, CodePageSource::LanguageByte,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto choice = chooseCodePage(c.override, c.cpg, c.header, "t.dbf");
    EXPECT_EQ(choice.codePage, c.page);
    EXPECT_EQ(choice.source, c.source);
    EXPECT_EQ(choice.warnings.size(), c.warnings);
  }
  EXPECT_THAT([] { chooseCodePage(65001, std::nullopt, DbfHeader{}, "t.dbf"); },
              ::testing::ThrowsMessage<DbfError>(HasSubstr(
                  "t.dbf: code page 65001 is not one this reader can read (437, 850, 852, 866, "
                  "1250, 1251, 1252)")));
}

// A table that does not say its code page is read as 850; when its text reads clearly better in
// another page, a warning names that page and how to choose it. A table that says (language byte,
// .cpg file, the operator's choice) is not second-guessed.
TEST(DbfCodePage, ATableThatDoesNotSayIsWarnedOfThePageItsTextReadsIn) {
  auto spanish = [](std::uint8_t language) {
    return DbfBuilder()
        .languageByte(language)
        .field("NAME", 'C', 20)
        .field("N", 'N', 3)
        .record({"A\xF1"
                 "asco",
                 "1"})
        .record({"Bayam\xF3n", "2"})
        .record({"Pe\xF1uelas", "3"})
        .bytes();
  };
  const std::string warning =
      "t.dbf: read as code page 850 for want of its own, but its text reads as code page 1252 "
      "(\"A\xF1"
      "asco\", not \"A\xB1"
      "asco\"); if it is, choose it with --dbf-code-page 1252 or "
      "PaginaCodigoDBF=1252 in the settings";
  struct {
    const char* what;
    std::vector<std::byte> bytes;
    DbfOpenOptions options;
    std::vector<std::string> warnings;
  } cases[] = {
      {"language byte 0", spanish(0), {}, {warning}},
      {"language byte 0x02: it says 850", spanish(0x02), {}, {}},
      {"the operator chose 850", spanish(0), {850, std::nullopt}, {}},
      {"a .cpg file says 850", spanish(0), {std::nullopt, "850"}, {}},
      {"Portuguese in 850",
       DbfBuilder()
           .field("NAME", 'C', 20)
           .record({"S\xC7O PAULO"})
           .record({"Macei\xA2"})
           .record({"CORA\x80\xC7O"})
           .bytes(),
       {},
       {}},
      {"UTF-8",
       DbfBuilder()
           .field("NAME", 'C', 24)
           .record({"S\xC3\xBC"
                    "dliche Weinstra\xC3\x9F"
                    "e"})
           .bytes(),
       {},
       {"t.dbf: read as code page 850 for want of its own, but its text is UTF-8 (\"S\xFC"
        "dliche\", not "
        "\"S??dliche\"), which this reader cannot read: its letters outside ASCII read wrong in "
        "every "
        "code page"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DbfTable::fromBytes(c.bytes, "t.dbf", c.options).warnings(), c.warnings);
  }
}

TEST(DbfCodePage, LanguageBytesAndCpgTexts) {
  struct {
    unsigned byte;
    std::optional<int> page;
  } bytes[] = {{0x01, 437},          {0x02, 850},          {0x03, 1252},
               {0x57, 1252},         {0x64, 852},          {0x65, 866},
               {0xC8, 1250},         {0xC9, 1251},         {0x1B, 437},
               {0x26, 866},          {0x59, 1252},         {0x00, std::nullopt},
               {0x7C, std::nullopt}, {0x4D, std::nullopt}, {0xF0, std::nullopt}};
  for (const auto& c : bytes) {
    SCOPED_TRACE(c.byte);
    EXPECT_EQ(codePageOfLanguageByte(static_cast<std::uint8_t>(c.byte)), c.page);
  }
  struct {
    std::string_view text;
    std::optional<int> page;
  } cpgs[] = {{"1252", 1252},
              {"1252\r\n", 1252},
              {"CP850", 850},
              {"ANSI 1251", 1251},
              {"OEM 866", 866},
              {"windows-1250", 1250},
              {"ISO-8859-1", 1252},
              {"88591", 1252},
              {"UTF-8", std::nullopt},
              {"65001", std::nullopt},
              {"ISO-8859-15", std::nullopt},
              {"", std::nullopt},
              {"99999999999999", std::nullopt}};
  for (const auto& c : cpgs) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(codePageOfCpgText(c.text), c.page);
  }
}

TEST(DbfTable, TextArrivesInCodePage1252) {
  // 0x87 is c-cedilla in 437 and 850, 0xE7 in 1252; 0xE0 is a Cyrillic letter in 1251.
  auto build = [](unsigned language) {
    return DbfBuilder()
        .languageByte(static_cast<std::uint8_t>(language))
        .field("N", 'C', 6)
        .record({"a\x87\xE0o"})
        .bytes();
  };
  struct {
    const char* what;
    unsigned language;
    std::optional<int> override;
    const char* want;
  } cases[] = {
      {"byte 0 is 850", 0x00, std::nullopt, "text:a\xE7\xD3o"},
      {"437", 0x01, std::nullopt, "text:a\xE7?o"},  // 437's 0xE0 is alpha: not in 1252
      {"1252 as is", 0x03, std::nullopt, "text:a\x87\xE0o"},
      {"override 1251", 0x03, 1251,
       "text:a\x87?o"},  // 0x87 is the same dagger in 1251 and 1252; 0xE0 is Cyrillic,
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto t = DbfTable::fromBytes(build(c.language), "t.dbf", {c.override, std::nullopt});
    EXPECT_EQ(showRecord(t, 0)[0], c.want);
  }
}

class DbfFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("dbf_table_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(DbfFolder, OpensAFileFoundWithoutRegardToCaseWithItsCpg) {
  DbfBuilder()
      .languageByte(0x01)
      .field("NAME", 'C', 4)
      .record({"\x87"})
      .writeTo(dir_ / "CFA1010.DBF");
  std::ofstream(dir_ / "cfa1010.CPG") << "1252";
  auto path = findFileIgnoringCase(dir_, "cfa1010.dbf");
  ASSERT_TRUE(path);
  EXPECT_TRUE(std::filesystem::equivalent(*path, dir_ / "CFA1010.DBF"));
  auto t = DbfTable::open(*path);
  EXPECT_EQ(t.codePage(), 1252);
  EXPECT_EQ(t.codePageSource(), CodePageSource::CpgFile);
  t.adviseSequential();
  EXPECT_THAT(showAll(t), ElementsAre(ElementsAre("text:\x87")));
  EXPECT_EQ(DbfTable::open(*path, {850, std::nullopt}).codePage(), 850);
}

TEST_F(DbfFolder, MissingOrUnreadableFilesAreRefusedNamingThePath) {
  EXPECT_THAT([&] { DbfTable::open(dir_ / "none.dbf"); },
              ::testing::ThrowsMessage<DbfError>(::testing::StartsWith(
                  (dir_ / "none.dbf").string() + ": cannot open the table: ")));
  EXPECT_THAT(
      [&] { DbfTable::open(dir_); },
      ::testing::ThrowsMessage<DbfError>(HasSubstr("cannot read the table: Is a directory")));
  std::ofstream(dir_ / "empty.dbf").close();
  EXPECT_THAT([&] { DbfTable::open(dir_ / "empty.dbf"); },
              ::testing::ThrowsMessage<DbfError>(
                  HasSubstr("empty.dbf: not a dBASE table: the file is 0 bytes long")));
  EXPECT_EQ(findFileIgnoringCase(dir_, "CFA2010.DBF"), std::nullopt);
  EXPECT_EQ(findFileIgnoringCase(dir_ / "no-such-folder", "x.dbf"), std::nullopt);
}

TEST_F(DbfFolder, ReadsAFileLargerThanItsWindowInOrder) {
  DbfBuilder b;
  b.field("N", 'N', 7).field("PAD", 'C', 250);
  for (int i = 0; i < 3000; ++i) {
    if (i % 7 == 3)
      b.deletedRecord({std::to_string(i)});
    else
      b.record({std::to_string(i)});
  }
  b.writeTo(dir_ / "big.dbf");
  auto t = DbfTable::open(dir_ / "big.dbf");
  EXPECT_EQ(t.recordCount(), 3000u - 429u);
  std::vector<std::string> want;
  for (int i = 0; i < 3000; ++i)
    if (i % 7 != 3) want.push_back("number:" + std::to_string(i));
  std::vector<std::string> got;
  for (const auto& r : showAll(t)) got.push_back(r[0]);
  EXPECT_EQ(got, want);
  DbfTable copy = t;  // a copy reads through a window of its own
  EXPECT_EQ(showRecord(copy, 2999)[0], "number:2999");
  EXPECT_EQ(showRecord(t, 0)[0], "number:0");
}

TEST_F(DbfFolder, AFileCutShortWhileOpenIsAClearErrorNotAFault) {
  // Another program may pack or rewrite the table while we read it: what is gone is an error
  // naming the file (it used to be a mapped read past the end of the file: a crash).
  DbfBuilder b;
  b.field("PAD", 'C', 1000);
  for (int i = 0; i < 1000; ++i) b.record({std::to_string(i)});
  b.writeTo(dir_ / "cut.dbf");
  auto t = DbfTable::open(dir_ / "cut.dbf");
  std::filesystem::resize_file(dir_ / "cut.dbf", 2000);
  EXPECT_THAT(
      [&] {
        for (auto s = t.nextLive(0); s < t.slotCount(); s = t.nextLive(s + 1)) showRecord(t, s);
      },
      ::testing::ThrowsMessage<DbfError>(
          HasSubstr("cut.dbf: the file is shorter than when it was opened (another program changed "
                    "it); reading stopped at byte")));
}

TEST(DbfTable, VisualFoxProNullFlagsAndVarchar) {
  // Fields: NAME C(4) nullable, NOTE V(6) nullable, _NullFlags 0(1). Bits in field order: NAME's
  // null bit 0; NOTE's length bit 1, then its null bit 2.
  auto builder = DbfBuilder()
                     .version(0x30)
                     .field("NAME", 'C', 4, 0, 0x02)
                     .field("NOTE", 'V', 6, 0, 0x02)
                     .field("_NullFlags", '0', 1, 0, 0x05);
  builder
      .rawRecord(std::string(" abcdhello!") + '\x00')                              // both full
      .rawRecord(std::string(" abcdhi") + std::string(3, '\0') + '\x02' + '\x02')  // "hi", length 2
      .rawRecord(std::string(" ") + std::string(10, ' ') + '\x05');                // both null
  auto t = DbfTable::fromBytes(builder.bytes(), "t.dbf");
  ASSERT_EQ(t.fields().size(), 2u);  // _NullFlags is not presented
  EXPECT_THAT(showAll(t),
              ElementsAre(ElementsAre("text:abcd", "text:hello!"),
                          ElementsAre("text:abcd", "text:hi"), ElementsAre("null", "null")));
}

TEST(DbfTable, Dbase7HeadersReadWithTheirWideDescriptors) {
  // A 68-byte header (driver name at 32), one 48-byte descriptor "I" of 4 bytes, then 0x0D.
  std::vector<std::byte> b(68 + 48 + 1, std::byte{0});
  b[0] = std::byte{0x04};
  b[4] = std::byte{2};
  putU16(b, 8, 117);
  putU16(b, 10, 5);
  const std::string driver = "DB866RU0";
  for (std::size_t i = 0; i < driver.size(); ++i) b[32 + i] = std::byte(driver[i]);
  b[68] = std::byte{'V'};
  b[69] = std::byte{'A'};
  b[68 + 32] = std::byte{'I'};
  b[68 + 33] = std::byte{4};
  b[116] = std::byte{0x0D};
  for (unsigned v : {0x20u, 0x80u, 0x00u, 0x00u, 0x01u, 0x2Au, 0x7Fu, 0xFFu, 0xFFu, 0xFFu})
    b.push_back(std::byte(v));
  b.push_back(std::byte{0x1A});
  auto t = DbfTable::fromBytes(b, "t.dbf");
  EXPECT_TRUE(t.header().dbase7);
  EXPECT_EQ(t.codePage(), 866);
  ASSERT_EQ(t.fields().size(), 1u);
  EXPECT_EQ(t.fields()[0].name, "VA");
  EXPECT_THAT(showAll(t), ElementsAre(ElementsAre("integer:1")));
}

}  // namespace
}  // namespace importacao
