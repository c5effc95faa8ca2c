#include "data/store/odbc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "normalise/codepage.h"

namespace importacao::odbc {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(DiagnosticText, ComponentTagsAndTrailingJunkAreRemoved) {
  struct {
    std::u16string_view raw;
    std::u16string_view want;
  } cases[] = {
      {u"[unixODBC][Driver Manager]Data source name not found and no default driver specified",
       u"Data source name not found and no default driver specified"},
      {u"[FreeTDS][SQL Server]Login failed for user 'loja'.", u"Login failed for user 'loja'"},
      {u"[SQLite]table x has no column named y (1)", u"table x has no column named y (1)"},
      {u"ERROR: value too long for type character varying(10);\nError while executing the query",
       u"ERROR: value too long for type character varying(10);\nError while executing the query"},
      {u"Violation of PRIMARY KEY constraint. \r\n . ", u"Violation of PRIMARY KEY constraint"},
      {u"no tags [inside] kept.", u"no tags [inside] kept"},
      {u"[unterminated tag", u"[unterminated tag"},
      {u"...", u""},
      {u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf16ToUtf8(c.raw));
    EXPECT_EQ(cleanDiagnosticText(c.raw), c.want);
  }
}

// One rule on every store: the first record that reports an error makes the message, whole;
// warnings and the drivers' summaries after the cause are left out.
TEST(DiagnosticText, TheFirstErrorRecordMakesTheMessage) {
  const std::u16string pg =
      u"ERROR: duplicate key value violates unique constraint \"t_pkey\"\nDETAIL: Key (id)=(1) "
      u"already exists.;\nError while executing the query";
  struct {
    std::vector<DiagnosticRecord> records;
    std::string message;
    std::string_view state;
  } cases[] = {
      {{{"23505", 1, pg}}, utf16ToCp1252(pg), "23505"},  // psqlODBC: one record, several lines
      {{{"HY000", 19, u"[SQLite]UNIQUE constraint failed: t.id (19)"}},
       "UNIQUE constraint failed: t.id (19)",
       "HY000"},
      {{{"23000", 2627,
         u"[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Violation of PRIMARY KEY "
         u"constraint 'PK_t'."},
        {"01000", 3621,
         u"[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]The statement has been "
         u"terminated."}},
       "Violation of PRIMARY KEY constraint 'PK_t'",
       "23000"},
      {{{"42S02", 208, u"[FreeTDS][SQL Server]Invalid object name 'lj_referBar'."},
        {"42000", 8180, u"[FreeTDS][SQL Server]Statement(s) could not be prepared."}},
       "Invalid object name 'lj_referBar'",
       "42S02"},
      {{{"01S02", 0, u"[FreeTDS][SQL Server]Option value changed"},
        {"22001", 8152, u"[FreeTDS][SQL Server]String or binary data would be truncated."},
        {"01000", 3621, u"[FreeTDS][SQL Server]The statement has been terminated."}},
       "String or binary data would be truncated",
       "22001"},
      {{{"HYT00", 0, u"[FreeTDS][SQL Server]Timeout expired"},
        {"08001", 0, u"[FreeTDS][SQL Server]Unable to connect to data source"}},
       "Timeout expired",
       "HYT00"},
      {{{"01004", 0, u"String data, right truncated"}, {"01000", 0, u"Second."}},
       "String data, right truncated",
       "01004"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const StoreError error = errorFromDiagnostics(c.records);
    EXPECT_EQ(error.what(), c.message);
    EXPECT_EQ(error.sqlState, c.state);
  }
}

// A statement's results as a driver hands them over: what the execution returned and its
// count, then each further result's.
TEST(ChangedRows, EveryResultIsReadAndAnErrorInAnyOfThemFails) {
  struct {
    std::vector<std::pair<SQLRETURN, SQLLEN>> results;
    std::optional<SQLLEN> rows;  // nullopt: fails
  } cases[] = {
      {{{SQL_SUCCESS, 1}}, 1},
      {{{SQL_NO_DATA, -1}}, 0},
      {{{SQL_SUCCESS, 3}, {SQL_SUCCESS, 1}}, 1},  // a trigger's count first, then the statement's
      {{{SQL_SUCCESS, 2}, {SQL_SUCCESS, 0}}, 0},  // the update found no row; its trigger did
      {{{SQL_SUCCESS_WITH_INFO, 1}, {SQL_SUCCESS_WITH_INFO, -1}}, 1},  // a message without a count
      {{{SQL_SUCCESS, 1}, {SQL_ERROR, -1}},
       std::nullopt},  // a trigger's error after the first result
  };
  for (const auto& c : cases) {
    std::size_t at = 0;
    auto next = [&] {
      return ++at < c.results.size() ? c.results[at].first : SQLRETURN{SQL_NO_DATA};
    };
    auto count = [&] { return c.results[at].second; };
    auto fail = [] { throw StoreError("failed", "HY000", 0); };
    if (c.rows) {
      EXPECT_EQ(changedRows(c.results[0].first, next, count, fail), *c.rows);
      EXPECT_EQ(at, c.results.size());  // read to the end
    } else {
      EXPECT_THROW(changedRows(c.results[0].first, next, count, fail), StoreError);
    }
  }
}

TEST(DiagnosticText, AccentedTextArrivesInCodePage1252) {
  const StoreError error = errorFromDiagnostics({{"HY000", 0, u"Coluna inválida: código."}});
  EXPECT_STREQ(error.what(),
               "Coluna inv\xE1lida: c\xF3"
               "digo");
}

TEST(DiagnosticText, WithoutAnyTextTheOleErrorCodeStandsIn) {
  struct {
    std::vector<DiagnosticRecord> records;
    std::string_view want;
    std::string_view state;
  } cases[] = {
      {{}, "OLE error 80004005", "HY000"},
      {{{"HY000", 0, u""}}, "OLE error 80004005", "HY000"},
      {{{"42000", 0x1f4, u" . "}}, "OLE error 000001f4", "42000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    const StoreError error = errorFromDiagnostics(c.records);
    EXPECT_EQ(error.what(), c.want);
    EXPECT_EQ(error.sqlState, c.state);
  }
}

TEST(DiagnosticText, TrimMessageEndStripsBlanksControlsAndFullStops) {
  EXPECT_EQ(trimMessageEnd("Sem linhas. \r\n\t."), "Sem linhas");
  EXPECT_EQ(trimMessageEnd("1.5"), "1.5");
  EXPECT_EQ(trimMessageEnd(""), "");
}

TEST(HideSecret, EveryOccurrenceOfThePasswordIsMasked) {
  EXPECT_EQ(hideSecret("bad pw;x'y in pw;x'y", "pw;x'y"), "bad ******** in ********");
  EXPECT_EQ(hideSecret("nothing here", ""), "nothing here");
  EXPECT_THAT(hideSecret("aaaa", "aa"), Not(HasSubstr("aa")));
}

TEST(Timestamps, DayCountsConvertBothWaysKeepingTheFraction) {
  struct {
    double days;
    SQL_TIMESTAMP_STRUCT want;
  } cases[] = {
      {0.0, {1899, 12, 30, 0, 0, 0, 0}},
      {1.5, {1899, 12, 31, 12, 0, 0, 0}},
      {45292.0, {2024, 1, 1, 0, 0, 0, 0}},
      // 2024-02-29 13:45:30.123
      {45351.0 + (13 * 3600 + 45 * 60 + 30.123) / 86400.0, {2024, 2, 29, 13, 45, 30, 123000000}},
      {-1.25, {1899, 12, 29, 6, 0, 0, 0}},
      {2958465.0, {9999, 12, 31, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.days);
    const SQL_TIMESTAMP_STRUCT ts = timestampFromDays(DateTime{c.days});
    EXPECT_EQ(ts.year, c.want.year);
    EXPECT_EQ(ts.month, c.want.month);
    EXPECT_EQ(ts.day, c.want.day);
    EXPECT_EQ(ts.hour, c.want.hour);
    EXPECT_EQ(ts.minute, c.want.minute);
    EXPECT_EQ(ts.second, c.want.second);
    EXPECT_EQ(ts.fraction, c.want.fraction);
    EXPECT_NEAR(daysFromTimestamp(ts).days, c.days, 1e-9);
  }
}

TEST(Timestamps, DayCountsBeyondTheYearsATimestampHoldsAreRefused) {
  struct {
    double days;
    bool fits;
  } cases[] = {
      {-693593.0, true},   // 1 January 1
      {-693593.75, true},  // the same day, 18:00
      {-693594.0, false},  // 31 December of the year 0
      {2958465.5, true},   // 31 December 9999, noon
      {2958466.0, false},  // 1 January 10000
      {1e300, false},
      {-1e300, false},
      {std::numeric_limits<double>::infinity(), false},
      {std::numeric_limits<double>::quiet_NaN(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.days);
    if (c.fits) {
      EXPECT_NO_THROW(timestampFromDays(DateTime{c.days}));
    } else {
      try {
        timestampFromDays(DateTime{c.days});
        ADD_FAILURE() << "no error";
      } catch (const DataError& e) {
        EXPECT_STREQ(e.what(), "Datetime field overflow");
      }
    }
  }
  EXPECT_EQ(timestampFromDays(DateTime{-693593.0}).year, 1);
  EXPECT_EQ(timestampFromDays(DateTime{2958465.5}).year, 9999);
}

TEST(Timestamps, MillisecondsSurviveEveryRoundTrip) {
  // Every millisecond of a day, on a date of this era, comes back as the same timestamp.
  for (int ms = 0; ms < 86'400'000; ms += 997) {
    SQL_TIMESTAMP_STRUCT ts{2031,
                            7,
                            15,
                            static_cast<SQLUSMALLINT>(ms / 3'600'000),
                            static_cast<SQLUSMALLINT>(ms / 60'000 % 60),
                            static_cast<SQLUSMALLINT>(ms / 1000 % 60),
                            static_cast<SQLUINTEGER>(ms % 1000) * 1'000'000u};
    const SQL_TIMESTAMP_STRUCT back = timestampFromDays(daysFromTimestamp(ts));
    ASSERT_EQ(back.hour, ts.hour) << ms;
    ASSERT_EQ(back.minute, ts.minute) << ms;
    ASSERT_EQ(back.second, ts.second) << ms;
    ASSERT_EQ(back.fraction, ts.fraction) << ms;
  }
}

}  // namespace
}  // namespace importacao::odbc
