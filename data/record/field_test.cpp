#include "data/record/field.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "data/errors.h"
#include "data/record/number_text.h"
#include "tests/support/memory_source.h"

namespace importacao {
namespace {

using testing::ThrowsMessage;

// The window runs under pt_BR: every test here reads and writes ',' as the separator.
class FieldTest : public testing::Test {
 protected:
  void SetUp() override { setDecimalSeparator(','); }
  void TearDown() override { setDecimalSeparator('.'); }
};

// Runs `action` and returns the message of the DataError it throws ("" when it throws none).
std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DataError& e) {
    return e.what();
  }
  return {};
}

TEST(FieldKinds, NameThemAsMessagesDo) {
  struct {
    FieldKind kind;
    std::string_view want;
  } cases[] = {
      {FieldKind::Text, "String"},         {FieldKind::FixedText, "FixedChar"},
      {FieldKind::WideText, "WideString"}, {FieldKind::Memo, "Memo"},
      {FieldKind::SmallInt, "SmallInt"},   {FieldKind::Word, "Word"},
      {FieldKind::Integer, "Integer"},     {FieldKind::LargeInt, "LargeInt"},
      {FieldKind::Float, "Float"},         {FieldKind::Bcd, "BCD"},
      {FieldKind::Boolean, "Boolean"},     {FieldKind::Date, "Date"},
      {FieldKind::Time, "Time"},           {FieldKind::DateTime, "DateTime"},
      {FieldKind::Guid, "Guid"},           {FieldKind::AutoInc, "AutoInc"},
      {FieldKind::Blob, "Blob"},           {FieldKind::Unknown, "Unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(kindName(c.kind), c.want);
}

TEST(FieldKinds, FitByFamilyAndStoreExtras) {
  using K = FieldKind;
  struct {
    K declared;
    K actual;
    bool storeExtras;
    bool want;
  } cases[] = {
      {K::Float, K::Float, false, true},
      {K::SmallInt, K::Integer, false, true},
      {K::Integer, K::Word, false, true},
      {K::Integer, K::AutoInc, false, true},
      {K::Integer, K::LargeInt, false, false},
      {K::Integer, K::Float, false, false},  // the DDD case
      {K::Integer, K::Float, true, false},
      {K::Date, K::DateTime, false, true},
      {K::Time, K::Date, false, true},
      {K::Memo, K::Blob, false, true},
      {K::Graphic, K::Memo, false, true},
      {K::Text, K::FixedText, false, true},
      {K::Guid, K::Text, false, true},
      {K::Text, K::WideText, false, false},
      {K::Text, K::WideText, true, true},
      {K::WideText, K::FixedText, true, true},
      {K::Float, K::Bcd, false, false},
      {K::Bcd, K::Float, true, true},
      {K::Text, K::Memo, false, false},
      {K::Text, K::Integer, true, false},
      {K::Boolean, K::SmallInt, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(kindName(c.declared)) + " over " + std::string(kindName(c.actual)));
    EXPECT_EQ(kindsFit(c.declared, c.actual, c.storeExtras), c.want);
  }
}

TEST(FieldNames, CompareWithoutCaseIncludingAccentedLetters) {
  struct {
    std::string_view a;
    std::string_view b;
    bool want;
  } cases[] = {
      {"est_fisico", "Est_Fisico", true},
      {"cnpj", "Cnpj", true},
      {"DESCRI\xC7\xC3O", "descri\xE7\xE3o", true},  // DESCRIÇÃO, descrição
      {"\x8A", "\x9A", true},                        // Š, š
      {"\x9F", "\xFF", true},                        // Ÿ, ÿ
      {"\xD7", "\xF7", false},                       // ×, ÷ are not letters
      {"\xDF", "\xFF", false},                       // ß is not the capital of ÿ
      {"a_b", "a-b", false},
      {"cod", "codigo", false},
      {"", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
    EXPECT_EQ(namesEqual(c.a, c.b), c.want);
  }
}

TEST_F(FieldTest, TextAssignmentsCutTrimAtNulAndKeepEmptyText) {
  struct {
    FieldKind kind;
    int size;
    std::string text;
    bool wantNull;
    std::string want;
  } cases[] = {
      {FieldKind::Text, 10, "123456789012", false, "1234567890"},  // cut without a message
      {FieldKind::Text, 10, "", false, ""},
      {FieldKind::Text, 10, std::string("ab\0cd", 5), false, "ab"},
      {FieldKind::Text, 10, "  lead  ", false, "  lead  "},  // nothing trimmed
      {FieldKind::FixedText, 3, "abcd", false, "abc"},
      {FieldKind::Guid, 38, std::string(40, 'x'), false, std::string(38, 'x')},
      {FieldKind::Memo, 0, "", true, ""},  // a long text stores null for ""
      {FieldKind::Memo, 0, std::string(5000, 'm'), false, std::string(5000, 'm')},
      {FieldKind::Memo, 0, std::string("a\0b", 3), false, std::string("a\0b", 3)},
      {FieldKind::WideText, 5, "a\xE7\xE3o-xyz", false, "a\xE7\xE3o-"},  // 'ação-xyz'
      {FieldKind::WideText, 5, "", false, ""},
      {FieldKind::WideText, 5, std::string("ab\0cd", 5), false, "ab"},
  };
  for (const auto& c : cases) {
    for (bool generic : {false, true}) {
      SCOPED_TRACE(std::string(kindName(c.kind)) + " '" + c.text + (generic ? "' generic" : "'"));
      Field field("F", c.kind, c.size);
      if (generic) {
        field.assignValue(c.text);
      } else {
        field.assignText(c.text);
      }
      EXPECT_EQ(field.isNull(), c.wantNull);
      EXPECT_EQ(field.asText(), c.want);
    }
  }
}

TEST_F(FieldTest, WideTextAssignmentsCutToSizeInCharacters) {
  Field wide("W", FieldKind::WideText, 3);
  wide.assignWideText(u"\u00e7\u00e3o\u20ac!");  // "ção€!"
  EXPECT_EQ(std::get<WideText>(wide.value()), u"\u00e7\u00e3o");
  wide.assignValue(WideText(u"\u0416\u0416"));  // Cyrillic, not in 1252: kept as wide text
  EXPECT_EQ(std::get<WideText>(wide.value()), u"\u0416\u0416");
  EXPECT_EQ(wide.asText(), "??");  // read as text through code page 1252

  Field text("T", FieldKind::Text, 4);
  text.assignWideText(u"\u00e7\u00e3o\u20ac!");
  EXPECT_EQ(text.asText(), "\xE7\xE3o\x80");
}

TEST_F(FieldTest, NumbersIntoIntegerKindsAreRoundedAndRangeChecked) {
  using K = FieldKind;
  struct {
    K kind;
    Value value;
    std::int64_t want;  // when no error
    std::string error;  // the whole message, field named IdCor
  } cases[] = {
      {K::SmallInt, std::int64_t{70000}, 0,
       "70000 is not a valid value for field 'IdCor'. The allowed range is -32768 to 32767"},
      {K::SmallInt, std::int64_t{-32768}, -32768, ""},
      {K::SmallInt, std::int64_t{32767}, 32767, ""},
      {K::SmallInt, std::int64_t{-32769}, 0,
       "-32769 is not a valid value for field 'IdCor'. The allowed range is -32768 to 32767"},
      {K::Word, std::int64_t{-1}, 0,
       "-1 is not a valid value for field 'IdCor'. The allowed range is 0 to 65535"},
      {K::Word, std::int64_t{65535}, 65535, ""},
      {K::Integer, std::int64_t{2147483648LL}, 0,
       "2147483648 is not a valid value for field 'IdCor'. The allowed range is -2147483648 to "
       "2147483647"},
      {K::Integer, std::int64_t{-2147483648LL}, -2147483648LL, ""},
      {K::LargeInt, std::numeric_limits<std::int64_t>::max(),
       std::numeric_limits<std::int64_t>::max(), ""},
      {K::AutoInc, std::int64_t{5}, 5, ""},
      {K::SmallInt, 2.5, 2, ""},
      {K::SmallInt, 3.5, 4, ""},
      {K::SmallInt, -2.5, -2, ""},
      {K::SmallInt, 32767.5, 0,  // rounds to 32768, then fails the range
       "32768 is not a valid value for field 'IdCor'. The allowed range is -32768 to 32767"},
      {K::Integer, 1e10, 0,
       "10000000000 is not a valid value for field 'IdCor'. The allowed range is -2147483648 to "
       "2147483647"},
      {K::LargeInt, 1e19, 0,
       "1E19 is not a valid value for field 'IdCor'. The allowed range is -9,22337203685478E18 to "
       "9,22337203685478E18"},
      {K::LargeInt, 9223372036854775808.0, 0,  // 2^63 equals the bound as a double
       "9,22337203685478E18 is not a valid value for field 'IdCor'. The allowed range is "
       "-9,22337203685478E18 to 9,22337203685478E18"},
      {K::Integer, std::numeric_limits<double>::quiet_NaN(), 0,
       "NAN is not a valid value for field 'IdCor'. The allowed range is -2147483648 to "
       "2147483647"},
      // Texts through the generic value: digits, or a number of the locale rounded.
      {K::Integer, std::string("049"), 49, ""},
      {K::Integer, std::string(" 49 "), 49, ""},
      {K::SmallInt, std::string("2,5"), 2, ""},
      {K::SmallInt, std::string("3,5"), 4, ""},
      {K::SmallInt, std::string("1e2"), 100, ""},
      {K::LargeInt, std::string("9223372036854775807"), std::numeric_limits<std::int64_t>::max(),
       ""},
      {K::SmallInt, std::string("70000"), 0,
       "70000 is not a valid value for field 'IdCor'. The allowed range is -32768 to 32767"},
      {K::Integer, std::string(""), 0, "Invalid value for field 'IdCor'"},
      {K::Integer, std::string("abc"), 0, "Invalid value for field 'IdCor'"},
      {K::Integer, std::string("1.5"), 0, "Invalid value for field 'IdCor'"},  // not pt_BR
      {K::Integer, WideText(u"12"), 12, ""},
      {K::Integer, DateTime{45000.5}, 45000, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(kindName(c.kind)) + " <- " + c.error);
    Field field("IdCor", c.kind);
    EXPECT_EQ(errorOf([&] { field.assignValue(c.value); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(field.asInteger(), c.want);
    } else {
      EXPECT_TRUE(field.isNull()) << "a failed assignment changed the field";
    }
  }
}

TEST_F(FieldTest, TypedAssignmentsFollowTheGenericRules) {
  Field small("IdCor", FieldKind::SmallInt);
  EXPECT_EQ(errorOf([&] { small.assignInteger(70000); }),
            "70000 is not a valid value for field 'IdCor'. The allowed range is -32768 to 32767");
  small.assignFloat(3.5);
  EXPECT_EQ(small.asInteger(), 4);
  small.assignText("049");
  EXPECT_EQ(small.asInteger(), 49);
  EXPECT_EQ(errorOf([&] { small.assignText(""); }), "Invalid value for field 'IdCor'");
  EXPECT_EQ(small.asInteger(), 49);
  small.assignBoolean(true);
  EXPECT_EQ(small.asInteger(), 1);

  Field text("Nome", FieldKind::Text, 6);
  text.assignInteger(-1234567);
  EXPECT_EQ(text.asText(), "-12345");
  text.assignFloat(12.5);
  EXPECT_EQ(text.asText(), "12,5");
  text.assignDateTime(DateTime{45000.0});
  EXPECT_EQ(text.asText(), "2023-0");  // "2023-03-15 00:00:00" cut to 6
}

TEST_F(FieldTest, NumbersIntoFloatAndDecimalFields) {
  struct {
    FieldKind kind;
    Value value;
    double want;
    std::string error;
  } cases[] = {
      {FieldKind::Float, std::int64_t{5}, 5.0, ""},
      {FieldKind::Float, 1.23456789, 1.23456789, ""},  // unchanged
      {FieldKind::Float, std::string("12,5"), 12.5, ""},
      {FieldKind::Float, std::string(" -1,5E3 "), -1500.0, ""},
      {FieldKind::Float, std::string(""), 0, "Invalid value for field 'Preco'"},
      {FieldKind::Float, std::string("12.5"), 0, "Invalid value for field 'Preco'"},
      {FieldKind::Float, DateTime{2.25}, 2.25, ""},
      {FieldKind::Bcd, 1.00015, 1.0002, ""},
      {FieldKind::Bcd, 2.00005, 2.0, ""},
      {FieldKind::Bcd, 2.00025, 2.0002, ""},
      {FieldKind::Bcd, std::int64_t{7}, 7.0, ""},
      {FieldKind::Bcd, std::string("1,23456"), 1.2346, ""},
      {FieldKind::Bcd, std::string("x"), 0, "Invalid value for field 'Preco'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(kindName(c.kind)) + " " + std::to_string(c.want));
    Field field("Preco", c.kind);
    EXPECT_EQ(errorOf([&] { field.assignValue(c.value); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(field.asFloat(), c.want);
    }
  }
}

TEST_F(FieldTest, DateTimesAreStoredUnchangedAndNumbersCountDays) {
  struct {
    FieldKind kind;
    Value value;
    double want;
    std::string error;
  } cases[] = {
      {FieldKind::DateTime, DateTime{45000.75}, 45000.75, ""},
      {FieldKind::Date, DateTime{45000.75}, 45000.75, ""},  // unchanged, time and all
      {FieldKind::Date, std::int64_t{45000}, 45000.0, ""},
      {FieldKind::DateTime, 45000.5, 45000.5, ""},
      {FieldKind::Date, std::string("2023-03-15"), 45000.0, ""},
      {FieldKind::DateTime, std::string("2023-03-15 18:00:00"), 45000.75, ""},
      {FieldKind::Date, std::string("2023-02-29"), 0, "Invalid value for field 'Data'"},
      {FieldKind::Date, std::string("15/03/2023"), 0, "Invalid value for field 'Data'"},
      {FieldKind::Date, std::string(""), 0, "Invalid value for field 'Data'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.want) + c.error);
    Field field("Data", c.kind);
    EXPECT_EQ(errorOf([&] { field.assignValue(c.value); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(field.asDateTime(), DateTime{c.want});
    }
  }
}

TEST_F(FieldTest, ReadsFollowTheKindOfTheField) {
  constexpr auto kNull = std::monostate{};
  struct {
    FieldKind kind;
    Value value;
    std::string text;
    double number;
    std::int64_t integer;
  } cases[] = {
      {FieldKind::Float, kNull, "", 0.0, 0},
      {FieldKind::Float, 1234.0, "1234", 1234.0, 1234},
      {FieldKind::Float, 12.5, "12,5", 12.5, 12},
      {FieldKind::Float, 2.5, "2,5", 2.5, 2},
      {FieldKind::Float, 3.5, "3,5", 3.5, 4},
      {FieldKind::Float, -2.5, "-2,5", -2.5, -2},
      {FieldKind::Float, 1e15, "1E15", 1e15, 1000000000000000},
      {FieldKind::Bcd, 10.25, "10,25", 10.25, 10},
      {FieldKind::Integer, std::int64_t{-42}, "-42", -42.0, -42},
      {FieldKind::SmallInt, kNull, "", 0.0, 0},
      {FieldKind::LargeInt, std::int64_t{9007199254740993}, "9007199254740993", 9007199254740992.0,
       9007199254740993},
      {FieldKind::Text, std::string(" 007 "), " 007 ", 7.0, 7},
      {FieldKind::Text, std::string("-1,5e1"), "-1,5e1", -15.0, 0},  // integer read fails
      {FieldKind::Memo, std::string("12"), "12", 12.0, 12},
      {FieldKind::WideText, WideText(u"\u00e7a"),
       "\xE7"
       "a",
       0, 0},
      {FieldKind::Boolean, std::int64_t{1}, "True", 1.0, 1},
      {FieldKind::Date, DateTime{45000.0}, "2023-03-15", 45000.0, 45000},
      {FieldKind::DateTime, DateTime{45000.5}, "2023-03-15 12:00:00", 45000.5, 45000},
      {FieldKind::DateTime, DateTime{0.0}, "1899-12-30 00:00:00", 0.0, 0},
      {FieldKind::DateTime, DateTime{-1.25}, "1899-12-29 06:00:00", -1.25, -1},
      {FieldKind::DateTime, DateTime{45000.0 + 1.5 / 86400}, "2023-03-15 00:00:01.500",
       45000.0 + 1.5 / 86400, 45000},
      {FieldKind::Time, DateTime{0.75}, "18:00:00", 0.75, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(kindName(c.kind)) + " '" + c.text + "'");
    Field field("F", c.kind, 0);
    field.setFetchedText("stale");
    field.setFetchedValue(c.value);
    EXPECT_EQ(field.asText(), c.text);
    EXPECT_EQ(field.asTextRef(), c.text);
    if (c.kind == FieldKind::WideText) continue;
    EXPECT_EQ(field.asFloat(), c.number);
    if (c.text != "-1,5e1") {
      EXPECT_EQ(field.asInteger(), c.integer);
    }
  }
}

TEST_F(FieldTest, TextThatIsNotANumberFailsToReadAsOne) {
  struct {
    std::string text;
    std::string floatError;
    std::string integerError;
  } cases[] = {
      {"", "'' is not a valid floating point value", "'' is not a valid integer value"},
      {"abc", "'abc' is not a valid floating point value", "'abc' is not a valid integer value"},
      {"12.5", "'12.5' is not a valid floating point value", "'12.5' is not a valid integer value"},
      {"12,5", "", "'12,5' is not a valid integer value"},
      {"1 000", "'1 000' is not a valid floating point value",
       "'1 000' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Field field("F", FieldKind::Text, 20);
    field.setFetchedText(c.text);
    EXPECT_EQ(errorOf([&] { field.asFloat(); }), c.floatError);
    EXPECT_EQ(errorOf([&] { field.asInteger(); }), c.integerError);
  }
}

TEST_F(FieldTest, NullReadsAsEmptyZeroAndTheZeroDateTime) {
  for (FieldKind kind : {FieldKind::Text, FieldKind::Float, FieldKind::Integer, FieldKind::Date,
                         FieldKind::DateTime, FieldKind::WideText, FieldKind::Memo}) {
    SCOPED_TRACE(kindName(kind));
    Field field("F", kind);
    EXPECT_TRUE(field.isNull());
    EXPECT_EQ(field.asText(), "");
    EXPECT_EQ(field.asFloat(), 0.0);
    EXPECT_EQ(field.asInteger(), 0);
    EXPECT_EQ(field.asDateTime(), DateTime{0.0});
    EXPECT_TRUE(isNull(field.value()));
  }
}

TEST_F(FieldTest, NullAssignedThroughTheGenericValueClearsTheField) {
  Field field("F", FieldKind::Text, 10);
  field.assignText("abc");
  field.assignValue(std::monostate{});
  EXPECT_TRUE(field.isNull());
  field.assignText("");
  EXPECT_FALSE(field.isNull()) << "an empty text is a text, not null";
}

TEST_F(FieldTest, SizesDefaultTo20ForTextKinds) {
  EXPECT_EQ(Field("A", FieldKind::Text).size(), 20);
  EXPECT_EQ(Field("A", FieldKind::FixedText).size(), 20);
  EXPECT_EQ(Field("A", FieldKind::WideText).size(), 20);
  EXPECT_EQ(Field("A", FieldKind::Guid).size(), 38);
  EXPECT_EQ(Field("A", FieldKind::Float).size(), 0);
  EXPECT_EQ(Field("A", FieldKind::Text, 40).size(), 40);
  Field field("A", FieldKind::Text);
  field.assignText(std::string(25, 'z'));
  EXPECT_EQ(field.asText(), std::string(20, 'z'));
}

TEST_F(FieldTest, ReadOnlyFieldRefusesEveryAssignmentAndKeepsItsValue) {
  Field field("Cidade", FieldKind::Text, 30, /*readOnly=*/true);
  field.setFetchedText("RECIFE");
  const std::function<void()> assignments[] = {
      [&] { field.assignText("X"); },
      [&] { field.assignInteger(1); },
      [&] { field.assignFloat(1.0); },
      [&] { field.assignDateTime(DateTime{1}); },
      [&] { field.assignWideText(u"X"); },
      [&] { field.assignValue(std::string("X")); },
      [&] { field.clear(); },
      [&] { field.assignBoolean(true); },
  };
  for (const auto& assign : assignments) {
    EXPECT_EQ(errorOf(assign), "Field 'Cidade' cannot be modified");
    EXPECT_EQ(field.asText(), "RECIFE");
  }
}

TEST_F(FieldTest, FetchedValuesAreConvertedOrNullWithoutMessages) {
  Field small("S", FieldKind::SmallInt);
  small.setFetchedFloat(5.0);
  EXPECT_EQ(small.asInteger(), 5);
  small.setFetchedFloat(70000.0);  // no range check on what the row holds
  EXPECT_EQ(small.asInteger(), 70000);
  small.setFetchedText("garbage");
  EXPECT_TRUE(small.isNull());
  small.setFetchedFloat(std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(small.isNull());

  Field number("N", FieldKind::Float);
  number.setFetchedText("12,5");
  EXPECT_EQ(number.asFloat(), 12.5);
  number.setFetchedInteger(3);
  EXPECT_EQ(number.asFloat(), 3.0);

  Field text("T", FieldKind::Text, 3);
  text.setFetchedText("longer than three");  // the engine's value, uncut
  EXPECT_EQ(text.asText(), "longer than three");
  text.setFetchedWideText(u"wide and long");
  EXPECT_EQ(text.asText(), "wide and long");
  text.setFetchedInteger(123456);
  EXPECT_EQ(text.asText(), "123456");
  text.setFetchedNull();
  EXPECT_TRUE(text.isNull());
  EXPECT_EQ(text.textView(), "");
}

TEST_F(FieldTest, FetchedTextReusesTheFieldsBuffer) {
  Field field("T", FieldKind::Text, 40);
  field.setFetchedText(std::string(40, 'a'));
  const char* storage = field.textView().data();
  for (int i = 0; i < 100; ++i) {
    field.setFetchedText(std::string_view("abcdefghijklmnopqrstuvwxyz").substr(0, i % 26));
    field.setFetchedText(std::string(40, 'b'));
  }
  EXPECT_EQ(field.textView().data(), storage) << "a row of text allocated a new buffer";
}

TEST_F(FieldTest, BooleanReadsAndWrites) {
  Field flag("Ativo", FieldKind::Boolean);
  flag.assignText("true");
  EXPECT_TRUE(flag.asBoolean());
  EXPECT_EQ(flag.asText(), "True");
  flag.assignValue(std::int64_t{0});
  EXPECT_EQ(flag.asText(), "False");
  EXPECT_EQ(errorOf([&] { flag.assignText("talvez"); }), "Invalid value for field 'Ativo'");
  EXPECT_FALSE(flag.asBoolean());
  Field text("T", FieldKind::Text, 10);
  text.setFetchedText("maybe");
  EXPECT_EQ(errorOf([&] { text.asBoolean(); }), "'maybe' is not a valid boolean value");
}

TEST_F(FieldTest, TextThatIsNotADateFailsToReadAsOne) {
  Field text("T", FieldKind::Text, 30);
  text.setFetchedText("2023-03-15 06:00");
  EXPECT_EQ(text.asDateTime(), DateTime{45000.25});
  text.setFetchedText("31/12/2023");
  EXPECT_EQ(errorOf([&] { text.asDateTime(); }), "'31/12/2023' is not a valid date and time");
}

}  // namespace
}  // namespace importacao
