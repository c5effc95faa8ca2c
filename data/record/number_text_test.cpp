#include "data/record/number_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>

// glibc keeps a few bytes of a locale it failed to load for the life of the process; that is
// not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:_nl_find_locale\nleak:__argz_add_sep\n";
}

namespace importacao {
namespace {

// Pins the decimal separator for one test and puts it back afterwards.
class SeparatorScope {
 public:
  explicit SeparatorScope(char separator) : saved_(decimalSeparator()) {
    setDecimalSeparator(separator);
  }
  ~SeparatorScope() { setDecimalSeparator(saved_); }

 private:
  char saved_;
};

TEST(FloatToText, WritesTheListedForms) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct {
    double value;
    char separator;
    std::string_view want;
  } cases[] = {
      {1234.0, ',', "1234"},
      {12.5, ',', "12,5"},
      {12.5, '.', "12.5"},
      {0.0001, ',', "0,0001"},
      {0.00001, ',', "1E-5"},
      {1e15, ',', "1E15"},
      {0.0, ',', "0"},
      {-0.0, ',', "0"},
      {-12.5, ',', "-12,5"},
      {0.5, ',', "0,5"},
      {-0.5, ',', "-0,5"},
      {999999999999999.0, ',', "999999999999999"},
      {999999999999999.4, ',', "999999999999999"},
      {999999999999999.9, ',', "1E15"},  // rounds to 16 digits before the separator
      {9999999999999998.0, ',', "1E16"},
      {123456789012345.6, ',', "123456789012346"},
      {0.1 + 0.2, ',', "0,3"},
      {1.0 / 3.0, ',', "0,333333333333333"},
      {2.0 / 3.0, ',', "0,666666666666667"},
      {123456789.123456789, ',', "123456789,123457"},
      {1.5e20, ',', "1,5E20"},
      {-1.25e-7, ',', "-1,25E-7"},
      {0.00012345, ',', "0,00012345"},
      {0.00009999, ',', "9,999E-5"},
      {0.000099999999999999999, ',', "0,0001"},  // rounds up into the plain range
      {1e100, ',', "1E100"},
      {1e-100, '.', "1E-100"},
      {5e-324, ',', "4,94065645841247E-324"},
      {std::numeric_limits<double>::max(), ',', "1,79769313486232E308"},
      {100.0, ',', "100"},
      {1e14, ',', "100000000000000"},
      {kNan, ',', "NAN"},
      {kInf, ',', "INF"},
      {-kInf, ',', "-INF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(floatToText(c.value, c.separator), c.want);
  }
}

TEST(FloatToText, UsesTheProcessSeparatorWhenNoneIsGiven) {
  SeparatorScope comma(',');
  EXPECT_EQ(floatToText(12.5), "12,5");
  EXPECT_EQ(formatGeneral(-9223372036854775808.0), "-9,22337203685478E18");
  setDecimalSeparator('.');
  EXPECT_EQ(floatToText(12.5), "12.5");
}

// The reference: the C library's "%.15g" (in the C locale, which tests may rely on), rewritten
// into our form: separator, "E", no "+" and no leading zeros in the exponent, "0" for -0.
// Written into a fixed buffer: this runs a million times under the sanitizers.
std::string_view referenceForm(double value, char separator, char (&out)[64]) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  if (std::strcmp(text, "-0") == 0) return "0";
  std::size_t n = 0;
  const char* p = text;
  for (; *p != '\0' && *p != 'e'; ++p) out[n++] = *p == '.' ? separator : *p;
  if (*p == 'e') {
    out[n++] = 'E';
    ++p;
    if (*p == '-') out[n++] = '-';
    if (*p == '-' || *p == '+') ++p;
    while (p[0] == '0' && p[1] != '\0') ++p;
    while (*p != '\0') out[n++] = *p++;
  }
  return std::string_view(out, n);
}

// A million values, in two halves so that a parallel test run shares them out: any bit
// pattern (every magnitude, subnormals included), and decimal-looking values near the
// thresholds, where rounding to 15 digits decides between the plain and the exponent form.
class FloatToTextAgainstCLibrary : public testing::TestWithParam<bool> {};

TEST_P(FloatToTextAgainstCLibrary, AgreesOnHalfAMillionValues) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  const bool bitPatterns = GetParam();
  std::mt19937_64 random(bitPatterns ? 20240611 : 20240612);
  std::uniform_int_distribution<int> digits(1, 17);
  std::uniform_int_distribution<int> exponents(-30, 30);
  std::string got;
  char buffer[64];
  int checked = 0;
  int failures = 0;
  for (int i = 0; i < 500'000; ++i) {
    double value = 0.0;
    if (bitPatterns) {
      const std::uint64_t bits = random();
      std::memcpy(&value, &bits, sizeof value);
      if (!std::isfinite(value)) continue;
    } else {
      std::uint64_t mantissa = random() % 100'000'000'000'000'000ULL;
      mantissa %= static_cast<std::uint64_t>(std::pow(10.0, digits(random)));
      value = static_cast<double>(mantissa) * std::pow(10.0, exponents(random));
      if (i % 2 == 1) value = -value;
    }
    const char separator = i % 3 == 0 ? '.' : ',';
    got.clear();
    appendFloatText(got, value, separator);
    const std::string_view want = referenceForm(value, separator, buffer);
    ++checked;
    if (got != want && ++failures <= 10) {
      ADD_FAILURE() << "want " << want << ", got " << got;
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(checked, 450'000);
}

INSTANTIATE_TEST_SUITE_P(BitPatternsAndDecimals, FloatToTextAgainstCLibrary, testing::Bool());

TEST(FloatToText, AppendReusesTheCallersBuffer) {
  std::string out = "x=";
  appendFloatText(out, 0.25, ',');
  EXPECT_EQ(out, "x=0,25");
}

TEST(IntegerToText, WritesDigitsAndSign) {
  EXPECT_EQ(integerToText(0), "0");
  EXPECT_EQ(integerToText(-42), "-42");
  EXPECT_EQ(integerToText(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

TEST(ParseFloat, ReadsOnlyTheStatedForm) {
  struct {
    std::string_view text;
    char separator;
    std::optional<double> want;
  } cases[] = {
      {"12,5", ',', 12.5},
      {" 12,5 ", ',', 12.5},
      {"\t7\t", ',', 7.0},
      {"-1", ',', -1.0},
      {"+1", ',', 1.0},
      {"1,", ',', 1.0},
      {",5", ',', 0.5},
      {"-,5", ',', -0.5},
      {"007", ',', 7.0},
      {"1e3", ',', 1000.0},
      {"1E-3", ',', 0.001},
      {"1,5e+2", ',', 150.0},
      {"12.5", '.', 12.5},
      {"0", '.', 0.0},
      {"1e-400", '.', 0.0},  // too small for a double: zero
      {"123456789012345678901234567890", '.', 1.2345678901234568e29},
      {"0,000000000000000000000000000000000000000000000000000000000000001", ',', 1e-63},
      // Not numbers.
      {"", ',', std::nullopt},
      {" ", ',', std::nullopt},
      {"abc", ',', std::nullopt},
      {"12.5", ',', std::nullopt},  // the other separator
      {"12,5", '.', std::nullopt},
      {"1,2,3", ',', std::nullopt},
      {"1 000", ',', std::nullopt},
      {"1.000,5", ',', std::nullopt},  // no thousands separators
      {",", ',', std::nullopt},
      {"-", ',', std::nullopt},
      {"+", ',', std::nullopt},
      {"--1", ',', std::nullopt},
      {"+-1", ',', std::nullopt},
      {"e5", ',', std::nullopt},
      {"1e", ',', std::nullopt},
      {"1e+", ',', std::nullopt},
      {"1 e5", ',', std::nullopt},
      {"1e5,5", ',', std::nullopt},
      {"0x10", '.', std::nullopt},
      {"inf", '.', std::nullopt},
      {"nan", '.', std::nullopt},
      {"1,5 x", ',', std::nullopt},
      {"1d", '.', std::nullopt},
      {"1e400", '.', std::nullopt},  // too large for a double
      {std::string_view("1\0", 2), '.', std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " with " + c.separator);
    EXPECT_EQ(parseFloat(c.text, c.separator), c.want);
  }
}

TEST(ParseFloat, KeepsTheSignOfAnUnderflow) {
  const auto value = parseFloat("-1e-400", '.');
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, 0.0);
  EXPECT_TRUE(std::signbit(*value));
}

TEST(ParseFloat, ReadsBackEveryFloatToTextForm) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 20'000; ++i) {
    double value = 0.0;
    const std::uint64_t bits = random();
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = floatToText(value, ',');
    const auto back = parseFloat(text, ',');
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(floatToText(*back, ','), text);
  }
}

TEST(ParseInteger, ReadsOnlyWholeNumbers) {
  struct {
    std::string_view text;
    std::optional<std::int64_t> want;
  } cases[] = {
      {"049", 49},
      {" 49 ", 49},
      {"-0", 0},
      {"+7", 7},
      {"-12", -12},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"-", std::nullopt},
      {"1,0", std::nullopt},
      {"1.0", std::nullopt},
      {"1e3", std::nullopt},
      {"0x1F", std::nullopt},
      {"$1F", std::nullopt},
      {"1 2", std::nullopt},
      {"--1", std::nullopt},
      {"abc", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseInteger(c.text), c.want);
  }
}

TEST(RoundHalfEven, SendsHalvesToTheEvenNeighbour) {
  struct {
    double value;
    double want;
  } cases[] = {
      {2.5, 2.0},
      {3.5, 4.0},
      {-2.5, -2.0},
      {-3.5, -4.0},
      {0.5, 0.0},
      {1.5, 2.0},
      {2.4999999, 2.0},
      {2.5000001, 3.0},
      {-0.4, 0.0},
      {7.0, 7.0},
      {4503599627370495.5, 4503599627370496.0},  // 2^52 - 0.5
      {1e300, 1e300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(roundHalfEven(c.value), c.want);
  }
  EXPECT_TRUE(std::isnan(roundHalfEven(std::numeric_limits<double>::quiet_NaN())));
}

TEST(RoundDecimalHalfEven, RoundsTheNumberAsWritten) {
  struct {
    double value;
    int places;
    double want;
  } cases[] = {
      {2.00005, 4, 2.0},    {2.00015, 4, 2.0002},   {2.00025, 4, 2.0002},
      {1.23456, 4, 1.2346}, {-1.23455, 4, -1.2346}, {-1.23445, 4, -1.2344},
      {0.00005, 4, 0.0},    {0.00006, 4, 0.0001},   {0.000001, 4, 0.0},
      {0.99995, 4, 1.0},    {99.99995, 4, 100.0},   {123456789.123456, 4, 123456789.1235},
      {12.5, 4, 12.5},      {1e20, 4, 1e20},        {2.5, 0, 2.0},
      {3.5, 0, 4.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(roundDecimalHalfEven(c.value, c.places), c.want);
  }
}

TEST(FormatGeneral, WritesTheRangeBoundsAsDigits) {
  SeparatorScope comma(',');
  struct {
    double value;
    std::string_view want;
  } cases[] = {
      {70000, "70000"},
      {-32768, "-32768"},
      {32767, "32767"},
      {65535, "65535"},
      {-2147483648.0, "-2147483648"},
      {2147483647, "2147483647"},
      {9223372036854775807.0, "9,22337203685478E18"},
      {1e19, "1E19"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(formatGeneral(c.value), c.want);
  }
}

// The POSIX locale environment (Windows reads the user's regional settings instead).
#ifndef _WIN32
// Builds a tiny locale whose decimal point is ',' (only what LC_NUMERIC needs) into a
// directory of its own, so the test does not depend on the locales installed on the machine.
std::filesystem::path buildCommaLocale() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("imp-record-locale-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto source = dir / "comma.src";
  std::ofstream(source) << "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
                           "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\n"
                           "grouping 3;3\nEND LC_NUMERIC\n"
                           "LC_COLLATE\ncopy \"POSIX\"\nEND LC_COLLATE\n"
                           "LC_MONETARY\ncopy \"POSIX\"\nEND LC_MONETARY\n"
                           "LC_TIME\ncopy \"POSIX\"\nEND LC_TIME\n"
                           "LC_MESSAGES\ncopy \"POSIX\"\nEND LC_MESSAGES\n";
  const std::string command = "localedef -c -i " + source.string() + " -f ANSI_X3.4-1968 " +
                              (dir / "xx_COMMA").string() + " >/dev/null 2>&1";
  [[maybe_unused]] const int status = std::system(command.c_str());
  return dir;
}

TEST(DecimalSeparator, ComesFromTheUsersNumericLocaleWithoutChangingTheProcessLocale) {
  const auto dir = buildCommaLocale();
  ASSERT_TRUE(std::filesystem::exists(dir / "xx_COMMA")) << "localedef failed";
  SeparatorScope restore('.');
  ::setenv("LOCPATH", dir.c_str(), 1);
  struct {
    const char* lcAll;
    const char* lcNumeric;
    const char* lang;
    char want;
  } cases[] = {
      {"xx_COMMA", nullptr, nullptr, ','},       {nullptr, "xx_COMMA", "C", ','},
      {nullptr, nullptr, "xx_COMMA", ','},       {"C", "xx_COMMA", nullptr, '.'},  // LC_ALL wins
      {"no_SUCH.locale", nullptr, nullptr, '.'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + "/" + (c.lcNumeric ? c.lcNumeric : "-"));
    for (const auto& [name, value] :
         {std::pair{"LC_ALL", c.lcAll}, std::pair{"LC_NUMERIC", c.lcNumeric},
          std::pair{"LANG", c.lang}}) {
      if (value != nullptr) {
        ::setenv(name, value, 1);
      } else {
        ::unsetenv(name);
      }
    }
    setDecimalSeparator('?');
    EXPECT_EQ(initDecimalSeparatorFromEnvironment(), c.want);
    EXPECT_EQ(decimalSeparator(), c.want);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  }
  std::filesystem::remove_all(dir);
}
#endif  // _WIN32

}  // namespace
}  // namespace importacao
