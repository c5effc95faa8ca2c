#include "data/record/parameter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "data/errors.h"
#include "data/record/number_text.h"

namespace importacao {
namespace {

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DataError& e) {
    return e.what();
  }
  return {};
}

TEST(ParameterSetValue, HoldsTheValueAdoptsATypeAndGrowsTheSize) {
  using K = FieldKind;
  struct {
    K type;
    int size;
    Value value;
    K wantType;
    int wantSize;
  } cases[] = {
      {K::Text, 10, std::string("12345678901234"), K::Text, 14},  // never cut
      {K::Text, 10, std::string("short"), K::Text, 10},           // never shrinks
      {K::Text, 10, std::int64_t{0}, K::Text, 16},                // a non-text counts 16
      {K::Text, 20, 1.5, K::Text, 20},
      {K::FixedText, 3, std::string("abcd"), K::FixedText, 4},
      {K::WideText, 5, WideText(u"abcdefgh"), K::WideText, 8},
      {K::Memo, 0, std::string(""), K::Memo, 0},
      {K::Blob, 2, std::string("\x01\x02\x03", 3), K::Blob, 3},
      {K::Integer, 4, std::string("123456"), K::Integer, 4},  // no growth for numbers
      {K::DateTime, 16, DateTime{45000.0}, K::DateTime, 16},
      {K::Unknown, 0, std::string("abc"), K::Text, 3},
      {K::Unknown, 0, std::int64_t{5}, K::Integer, 0},
      {K::Unknown, 0, std::int64_t{1} << 40, K::LargeInt, 0},
      {K::Unknown, 0, 1.5, K::Float, 0},
      {K::Unknown, 0, WideText(u"ab"), K::WideText, 2},
      {K::Unknown, 0, DateTime{1.0}, K::DateTime, 0},
      {K::Unknown, 0, std::monostate{}, K::Unknown, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(kindName(c.type)) + " -> " + std::string(kindName(c.wantType)));
    Parameter parameter("p", c.type, c.size);
    parameter.setValue(c.value);
    EXPECT_EQ(parameter.type(), c.wantType);
    EXPECT_EQ(parameter.size(), c.wantSize);
    EXPECT_EQ(parameter.value(), c.value) << "held in its own form";
  }
}

TEST(ParameterSetValue, NullClearsTheValueAndKeepsTypeAndSize) {
  Parameter parameter("cidade", FieldKind::Text, 30, 255, 255, ParameterDirection::Input,
                      {.isSigned = false, .nullable = true});
  parameter.setValue(std::string(""));
  EXPECT_FALSE(parameter.isNull()) << "an empty text is a text";
  parameter.setValue(std::monostate{});
  EXPECT_TRUE(parameter.isNull());
  EXPECT_EQ(parameter.type(), FieldKind::Text);
  EXPECT_EQ(parameter.size(), 30);
  EXPECT_EQ(parameter.precision(), 255);
  EXPECT_TRUE(parameter.attributes().nullable);
}

TEST(ParameterValueForStore, ConvertsToTheDeclaredTypeWithoutCuttingText) {
  setDecimalSeparator(',');
  using K = FieldKind;
  struct {
    K type;
    Value value;
    Value want;
    std::string error;
  } cases[] = {
      {K::Text, std::int64_t{0}, std::string("0"), ""},  // tam = 0 compares with "0"
      {K::Text, std::int64_t{-12}, std::string("-12"), ""},
      {K::Text, 12.5, std::string("12,5"), ""},
      {K::Text, std::string("12345678901234"), std::string("12345678901234"), ""},
      {K::Text, WideText(u"\u00e7"), std::string("\xE7"), ""},
      {K::Text, DateTime{45000.0}, std::string("2023-03-15 00:00:00"), ""},
      {K::WideText, std::string("\xE7"), WideText(u"\u00e7"), ""},
      {K::WideText, std::int64_t{7}, WideText(u"7"), ""},
      {K::Integer, std::string("049"), std::int64_t{49}, ""},
      {K::Integer, 2.5, std::int64_t{2}, ""},
      {K::Integer, std::int64_t{1} << 40, std::int64_t{1} << 40, ""},  // the store judges range
      {K::Integer, std::string("abc"), std::monostate{}, "Invalid value for parameter 'p'"},
      {K::Float, std::string("12,5"), 12.5, ""},
      {K::Float, std::int64_t{3}, 3.0, ""},
      {K::Float, std::string(""), std::monostate{}, "Invalid value for parameter 'p'"},
      {K::DateTime, std::int64_t{45000}, DateTime{45000.0}, ""},
      {K::DateTime, DateTime{45000.5}, DateTime{45000.5}, ""},
      {K::Boolean, std::string("true"), std::int64_t{1}, ""},
      {K::Unknown, std::string("x"), std::string("x"), ""},
      {K::Text, std::monostate{}, std::monostate{}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(kindName(c.type)) + " " + c.error);
    Parameter parameter("p", c.type, 3);
    parameter.setValue(c.value);
    Value got;
    EXPECT_EQ(errorOf([&] { got = parameterValueForStore(parameter); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(got, c.want);
    }
  }
  setDecimalSeparator('.');
}

TEST(ParameterList, FindsByNameWithoutCaseAndByPosition) {
  ParameterList list("aBarras");
  list.add(Parameter("idreferencia", FieldKind::Text, 10));
  list.add(Parameter("idcor", FieldKind::Integer, 4));
  list.add(Parameter("tam", FieldKind::Text, 3));
  list.add(Parameter("codbarra", FieldKind::Text, 15));
  struct {
    std::string_view name;
    std::string want;
  } byName[] = {
      {"IDCOR", "idcor"},
      {"Tam", "tam"},
      {"idcolor", "aBarras: Parameter 'idcolor' not found"},
      {"", "aBarras: Parameter '' not found"},
  };
  for (const auto& c : byName) {
    SCOPED_TRACE(c.name);
    std::string got;
    try {
      got = list.byName(c.name).name();
    } catch (const DataError& e) {
      got = e.what();
    }
    EXPECT_EQ(got, c.want);
  }
  struct {
    long long index;
    std::string want;
  } byPosition[] = {
      {0, "idreferencia"},
      {3, "codbarra"},
      {4, "List index out of bounds (4)"},
      {-1, "List index out of bounds (-1)"},
  };
  for (const auto& c : byPosition) {
    SCOPED_TRACE(c.index);
    std::string got;
    try {
      got = list.at(c.index).name();
    } catch (const DataError& e) {
      got = e.what();
    }
    EXPECT_EQ(got, c.want);
  }
  list.byName("TAM").setValue(std::int64_t{0});
  EXPECT_EQ(list.at(2).value(), Value(std::int64_t{0}));
  EXPECT_EQ(list.find("nothing"), nullptr);
}

}  // namespace
}  // namespace importacao
