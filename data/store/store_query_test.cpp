// How values are laid out for the driver (the parts of the query objects that need no store;
// the stores themselves are exercised in tests/store_access).
#include "data/store/store_query.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace importacao {
namespace {

odbc::ColumnDescription column(SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits = 0) {
  odbc::ColumnDescription d;
  d.sqlType = type;
  d.columnSize = size;
  d.decimalDigits = digits;
  return d;
}

TEST(ParameterBuffer, ValuesTravelInTheirKindsCTypeAndAreNeverCut) {
  struct {
    std::string_view label;
    Value value;
    FieldKind kind;
    int size;
    std::optional<odbc::ColumnDescription> column;
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    SQLULEN columnSize;
    SQLSMALLINT digits;
    SQLLEN indicator;
  } cases[] = {
      {"text within its size", std::string("1234"), FieldKind::Text, 10, std::nullopt, SQL_C_WCHAR,
       SQL_VARCHAR, 10, 0, 8},
      {"text longer than its size", std::string("12345678901234"), FieldKind::Text, 10,
       std::nullopt, SQL_C_WCHAR, SQL_VARCHAR, 14, 0, 28},
      {"text longer than its column", std::string("abcdef"), FieldKind::Text, 20,
       column(SQL_WVARCHAR, 3), SQL_C_WCHAR, SQL_WVARCHAR, 6, 0, 12},
      {"empty text", std::string(), FieldKind::Text, 0, std::nullopt, SQL_C_WCHAR, SQL_VARCHAR, 1,
       0, 0},
      {"null text", Value{}, FieldKind::Text, 3, std::nullopt, SQL_C_WCHAR, SQL_VARCHAR, 3, 0,
       SQL_NULL_DATA},
      {"fixed text", std::string("ab"), FieldKind::FixedText, 3, std::nullopt, SQL_C_WCHAR,
       SQL_CHAR, 3, 0, 4},
      {"memo", std::string("x"), FieldKind::Memo, 0, std::nullopt, SQL_C_WCHAR, SQL_LONGVARCHAR, 1,
       0, 2},
      {"wide text", WideText(u"ção"), FieldKind::WideText, 50, std::nullopt, SQL_C_WCHAR,
       SQL_WVARCHAR, 50, 0, 6},
      {"integer", std::int64_t{7}, FieldKind::Integer, 4, std::nullopt, SQL_C_SBIGINT, SQL_INTEGER,
       10, 0, 0},
      {"small integer", std::int64_t{7}, FieldKind::SmallInt, 0, std::nullopt, SQL_C_SBIGINT,
       SQL_SMALLINT, 5, 0, 0},
      {"integer into numeric(9,0)", std::int64_t{7}, FieldKind::Integer, 0, column(SQL_NUMERIC, 9),
       SQL_C_SBIGINT, SQL_NUMERIC, 9, 0, 0},
      {"float", 2.5, FieldKind::Float, 8, std::nullopt, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, 0},
      {"float into real", 2.5, FieldKind::Float, 0, column(SQL_REAL, 24), SQL_C_DOUBLE, SQL_REAL,
       24, 0, 0},
      {"decimal", 1234.5678, FieldKind::Bcd, 0, std::nullopt, SQL_C_CHAR, SQL_DECIMAL, 19, 4, 9},
      {"date-time", DateTime{45351.5}, FieldKind::DateTime, 16, std::nullopt, SQL_C_TYPE_TIMESTAMP,
       SQL_TYPE_TIMESTAMP, 23, 3, 0},
      {"date-time into a column of six digits", DateTime{45351.5}, FieldKind::DateTime, 0,
       column(SQL_TYPE_TIMESTAMP, 26, 6), SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, 0},
      {"date-time into SQLite's timestamp (no digits reported)", DateTime{45351.5},
       FieldKind::DateTime, 0, column(SQL_TYPE_TIMESTAMP, 32, 0), SQL_C_TYPE_TIMESTAMP,
       SQL_TYPE_TIMESTAMP, 23, 3, 0},
      {"untyped integer", std::int64_t{5000000000LL}, FieldKind::Unknown, 0, std::nullopt,
       SQL_C_SBIGINT, SQL_BIGINT, 19, 0, 0},
      {"untyped text", std::string("x"), FieldKind::Unknown, 0, std::nullopt, SQL_C_WCHAR,
       SQL_VARCHAR, 1, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const odbc::ParameterBuffer b = parameterBuffer(c.value, c.kind, c.size, c.column);
    EXPECT_EQ(b.cType, c.cType);
    EXPECT_EQ(b.sqlType, c.sqlType);
    EXPECT_EQ(b.columnSize, c.columnSize);
    EXPECT_EQ(b.decimalDigits, c.digits);
    EXPECT_EQ(b.indicator, c.indicator);
    EXPECT_EQ(b.ioType, SQL_PARAM_INPUT);
  }
}

TEST(ParameterBuffer, ContentsAreTheValuesInTheDriversForms) {
  EXPECT_EQ(parameterBuffer(std::string("S\xE3o \x80"), FieldKind::Text, 10).wide, u"São €");
  EXPECT_EQ(parameterBuffer(1234.5679, FieldKind::Bcd, 0).narrow, "1234.5679");
  EXPECT_EQ(parameterBuffer(0.1 + 0.2, FieldKind::Bcd, 0).narrow, "0.3000");
  EXPECT_EQ(parameterBuffer(-0.5, FieldKind::Bcd, 0).narrow, "-0.5000");
  // Far too large for any decimal column, yet sent as it is (the store refuses it), never as 0.
  EXPECT_EQ(parameterBuffer(std::ldexp(-1.0, 200), FieldKind::Bcd, 0).narrow,
            "-1606938044258990275541962092341162602522202993782792835301376.0000");
  EXPECT_EQ(parameterBuffer(std::numeric_limits<double>::max(), FieldKind::Bcd, 0).narrow.size(),
            309u + 5u);
  EXPECT_EQ(parameterBuffer(std::int64_t{-3}, FieldKind::Integer, 4).integer, -3);
  EXPECT_EQ(parameterBuffer(std::int64_t{1}, FieldKind::Boolean, 0).bit, 1);
  const SQL_TIMESTAMP_STRUCT ts =
      parameterBuffer(DateTime{45351.0 + 0.75}, FieldKind::DateTime, 0, column(SQL_TYPE_DATE, 10))
          .timestamp;
  // A date column takes the day only.
  EXPECT_EQ(ts.year, 2024);
  EXPECT_EQ(ts.month, 2);
  EXPECT_EQ(ts.day, 29);
  EXPECT_EQ(ts.hour, 0);
}

TEST(ParameterBuffer, RefillingKeepsNothingOfTheValueBefore) {
  odbc::ParameterBuffer b;
  fillParameterBuffer(b, std::string("a long text for the first value"), FieldKind::Text, 5,
                      nullptr);
  fillParameterBuffer(b, Value{}, FieldKind::Integer, 4, nullptr);
  EXPECT_EQ(b.cType, SQL_C_SBIGINT);
  EXPECT_EQ(b.indicator, SQL_NULL_DATA);
  EXPECT_TRUE(b.wide.empty());
  fillParameterBuffer(b, std::string("ok"), FieldKind::Text, 5, nullptr);
  EXPECT_EQ(b.wide, u"ok");
  EXPECT_EQ(b.indicator, 4);
  EXPECT_EQ(b.columnSize, 5u);
}

}  // namespace
}  // namespace importacao
