#include "normalise/codepage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <iconv.h>  // the reference of the table checks at the end
#endif

#include <algorithm>
#include <cerrno>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

namespace importacao {
namespace {

std::string utf16Bytes(std::u16string_view text) {  // little-endian, as iconv's UTF-16LE
  std::string out;
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

bool isUndefinedIn1252(int byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

std::string allBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST(CodePage, SupportsTheSevenLegacyPagesAndNoOther) {
  EXPECT_THAT(std::vector<int>(supportedCodePages().begin(), supportedCodePages().end()),
              testing::ElementsAre(437, 850, 852, 866, 1250, 1251, 1252));
  for (int page : {0, 1, 437, 850, 852, 866, 1250, 1251, 1252, 1253, 65001, -437}) {
    SCOPED_TRACE(page);
    bool supported = isSupportedCodePage(page);
    EXPECT_EQ(supported, page >= 437 && page != 1253 && page != 65001);
    if (!supported) {
      EXPECT_THROW(tableTo1252(page), std::invalid_argument);
      EXPECT_THROW(toCp1252("abc", page), std::invalid_argument);
    }
  }
  EXPECT_THAT([] { tableTo1252(1253); },
              testing::ThrowsMessage<std::invalid_argument>("code page 1253 is not supported"));
}

TEST(CodePage, Utf16OutsideTheBasicPlaneAndLoneSurrogatesBecomeOneQuestionMarkEach) {
  struct {
    std::u16string in;
    std::string want;
    bool lossless;  // the result converts back to the input
  } cases[] = {
      {u"Jos\u00E9", "Jos\xE9", true},
      {u"\u20AC 10", "\x80 10", true},
      {u"?", "?", true},            // a question mark of its own
      {u"\U0001F600", "?", false},  // one character, two code units
      {u"a\xD800"
       "b",
       "a?b", false},                            // a high half alone
      {u"\xDC00", "?", false},                   // a low half alone
      {u"\xD800\xD800\xDC00", "??", false},      // a lone half, then a pair
      {u"\xDBFF\xDFFF", "?", false},             // U+10FFFF
      {u"\u0080\u0081\u009F", "?\x81?", false},  // of the C1 controls only 1252's undefined five
      {u"\u0081", "\x81", true},
      {u"", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf16Bytes(c.in));
    bool lossless = !c.lossless;
    EXPECT_EQ(utf16ToCp1252(c.in, lossless), c.want);
    EXPECT_EQ(lossless, c.lossless);
    EXPECT_EQ(utf16ToCp1252(c.in), c.want);
  }
}

TEST(CodePage, InvalidUtf8BecomesOneQuestionMarkPerMaximalPiece) {
  struct {
    std::string_view in;
    std::string_view want;
  } cases[] = {
      {"Jos\xC3\xA9", "Jos\xE9"},
      {"a\xE2\x82\xAC"
       "b",
       "a\x80"
       "b"},
      {"\xC2\x90", "\x90"},
      {"\xF0\x9F\x98\x80", "?"},     // a character 1252 cannot hold
      {"\x80", "?"},                 // continuation without a lead
      {"\xC3", "?"},                 // cut at the end
      {"\xC3(", "?("},               // cut before an ASCII byte, which survives
      {"\xE2\x82", "?"},             // a cut euro sign is one piece
      {"\xC0\xAF", "??"},            // overlong '/': neither byte can start a piece
      {"\xE0\x80\x80", "???"},       // overlong three-byte form
      {"\xED\xA0\x80", "???"},       // an encoded surrogate
      {"\xF4\x90\x80\x80", "????"},  // past U+10FFFF
      {"\xF5\x80", "??"},
      {"\xFF\xFE", "??"},
      {"a\xF1\x80\x80\xE1\x80\xC2"
       "b\x80"
       "c\x80\xBF"
       "d",
       "a???b?c??d"},
      {std::string_view("\0x", 2), std::string_view("\0x", 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    EXPECT_EQ(utf8ToCp1252(c.in), c.want);
  }
}

// Every character of every plane, as UTF-16 with a pair of surrogates for those beyond the basic
// plane.
std::u16string everyCharacter() {
  std::u16string text;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp < 0x10000) {
      text.push_back(static_cast<char16_t>(cp));
    } else {
      text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
  }
  return text;
}

TEST(CodePage, InvalidUtf8BecomesOneReplacementCharacterPerPieceInUtf16) {
  struct {
    std::string_view in;
    std::u16string_view want;
  } cases[] = {
      {"S\xC3\xA3o Jo\xC3\xA3o \xF0\x9F\x98\x80", u"S\u00E3o Jo\u00E3o \U0001F600"},
      {"\xC2\x90", u"\u0090"},
      {"\xEF\xBF\xBD", u"\uFFFD"},  // the replacement character itself is valid
      {"\x80", u"\uFFFD"},
      {"\xC3(", u"\uFFFD("},
      {"\xE2\x82", u"\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate never becomes one
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"a\xF1\x80\x80\xE1\x80\xC2"
       "b",
       u"a\uFFFD\uFFFD\uFFFDb"},
      {std::string_view("\0x", 2), std::u16string_view(u"\0x", 2)},
      {"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    EXPECT_EQ(utf8ToUtf16(c.in), c.want);
  }
}

TEST(CodePage, LoneSurrogatesBecomeOneQuestionMarkEachInUtf8) {
  struct {
    std::u16string in;
    std::string want;
  } cases[] = {
      {u"a\xD800"
       "b",
       "a?b"},
      {u"\xDC00", "?"},
      {u"\xD800", "?"},                              // a high half cut at the end
      {u"\xD800\xD800\xDC00", "?\xF0\x90\x80\x80"},  // a lone half, then a pair
      {u"\xDC00\xD800", "??"},                       // halves in the wrong order
      {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf16Bytes(c.in));
    EXPECT_EQ(utf16ToUtf8(c.in), c.want);
  }
}

TEST(CodePage, Utf8ValidityAndCharacterLengths) {
  const struct {
    std::string_view text;
    bool valid;
    std::size_t firstLength;
  } cases[] = {
      {"A", true, 1},
      {"\xC3\xA9", true, 2},           // é
      {"\xE2\x82\xAC", true, 3},       // €
      {"\xF0\x9F\x98\x80", true, 4},   // beyond the basic plane
      {"\xC0\x80", false, 0},          // overlong NUL
      {"\xE0\x80\xAF", false, 0},      // overlong '/'
      {"\xED\xA0\x80", false, 0},      // an encoded surrogate
      {"\xF4\x90\x80\x80", false, 0},  // past U+10FFFF
      {"\xC3", false, 0},              // cut short
      {"\x80", false, 0},              // a continuation without a lead
      {"\xE9", false, 0},              // code page 1252's é
      {std::string_view("\0", 1), true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(isValidUtf8(c.text), c.valid);
    EXPECT_EQ(utf8CharacterLength(c.text, 0), c.firstLength);
    EXPECT_EQ(isValidUtf8(std::string("ok ") + std::string(c.text) + " ok"), c.valid);
  }
  EXPECT_TRUE(isValidUtf8(""));
}

TEST(CodePage, ArbitraryBytesAndUnitsNeverFailAndNeverGrow) {
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> unit(0, 0xFFFF);
  std::uniform_int_distribution<std::size_t> length(0, 64);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(length(random), '\0');
    for (char& c : bytes) c = static_cast<char>(byte(random));
    std::u16string units(length(random), u'\0');
    for (char16_t& u : units) u = static_cast<char16_t>(unit(random));
    EXPECT_LE(utf8ToCp1252(bytes).size(), bytes.size());
    EXPECT_LE(utf16ToCp1252(units).size(), units.size());
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(bytes)), bytes);
    EXPECT_EQ(utf8ToUtf16(cp1252ToUtf8(bytes)), cp1252ToUtf16(bytes));
    for (int page : supportedCodePages()) EXPECT_EQ(toCp1252(bytes, page).size(), bytes.size());
  }
}

// The tables are the same bytes on every system: they are checked where glibc's iconv is.
#ifndef _WIN32
// glibc's iconv is the reference the tables are checked against: an independent source from the
// Python codecs that generated them. nullopt when iconv refuses the input.
std::optional<std::string> viaIconv(const char* from, const char* to, std::string_view input) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error(std::string("iconv has no ") + from);
  std::string in(input);
  std::string out(input.size() * 4 + 8, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

TEST(CodePage, EveryByteOfEveryPageConvertsTo1252AsIconvDoes) {
  const std::string bytes = allBytes();
  for (int page : supportedCodePages()) {
    const std::string source = "CP" + std::to_string(page);
    const auto& table = tableTo1252(page);
    EXPECT_EQ(toCp1252(bytes, page), std::string(table.begin(), table.end()));
    for (int b = 0; b < 256; ++b) {
      SCOPED_TRACE(source + " byte " + std::to_string(b));
      char want = '?';
      if (page == 1252) {
        want = static_cast<char>(b);  // 1252 into itself loses nothing, its undefined five included
      } else if (auto wide =
                     viaIconv(source.c_str(), "UTF-16LE", std::string(1, static_cast<char>(b)))) {
        if (auto narrow = viaIconv("UTF-16LE", "CP1252", *wide)) want = (*narrow)[0];
      }
      EXPECT_EQ(table[b], want);
    }
  }
}

TEST(CodePage, Cp1252ToUnicodeMatchesIconvAndKeepsTheUndefinedFiveAsC1Controls) {
  const std::string bytes = allBytes();
  const std::u16string wide = cp1252ToUtf16(bytes);
  const std::string utf8 = cp1252ToUtf8(bytes);
  ASSERT_EQ(wide.size(), 256u);
  std::u16string reused(300, u'x');  // the form that converts into a buffer already there
  cp1252ToUtf16(bytes, reused);
  EXPECT_EQ(reused, wide);
  std::string utf8Want;
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string one(1, static_cast<char>(b));
    if (isUndefinedIn1252(b)) {
      EXPECT_FALSE(viaIconv("CP1252", "UTF-16LE", one));  // iconv knows no character there
      EXPECT_EQ(wide[b], static_cast<char16_t>(b));
      utf8Want += {static_cast<char>(0xC2), static_cast<char>(b)};
    } else {
      EXPECT_EQ(utf16Bytes(wide.substr(b, 1)), viaIconv("CP1252", "UTF-16LE", one).value());
      utf8Want += viaIconv("CP1252", "UTF-8", one).value();
    }
  }
  EXPECT_EQ(utf8, utf8Want);
  EXPECT_EQ(utf16ToCp1252(wide), bytes);
  EXPECT_EQ(utf8ToCp1252(utf8), bytes);
}

TEST(CodePage, EveryBasicPlaneCharacterConvertsTo1252AsIconvDoes) {
  for (char32_t cp = 0; cp <= 0xFFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::u16string wide(1, static_cast<char16_t>(cp));
    std::string want = "?";
    if (isUndefinedIn1252(static_cast<int>(cp))) {
      want = std::string(1, static_cast<char>(cp));
    } else if (auto narrow = viaIconv("UTF-16LE", "CP1252", utf16Bytes(wide))) {
      want = *narrow;
    }
    const std::string utf8 = viaIconv("UTF-16LE", "UTF-8", utf16Bytes(wide)).value();
    bool lossless = false;
    if (utf16ToCp1252(wide, lossless) != want || utf8ToCp1252(utf8) != want ||
        lossless != (cp1252ToUtf16(want) == wide)) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(cp);
    }
  }
}

TEST(CodePage, EveryCharacterConvertsBetweenUtf8AndUtf16AsIconvDoes) {
  const std::u16string wide = everyCharacter();
  const std::string utf8 = viaIconv("UTF-16LE", "UTF-8", utf16Bytes(wide)).value();
  const std::string ours = utf16ToUtf8(wide);
  ASSERT_EQ(ours.size(), utf8.size());
  const auto firstDifference = std::mismatch(ours.begin(), ours.end(), utf8.begin());
  EXPECT_TRUE(firstDifference.first == ours.end())
      << "at byte " << (firstDifference.first - ours.begin());
  const std::u16string back = utf8ToUtf16(utf8);
  ASSERT_EQ(back.size(), wide.size());
  const auto firstUnit = std::mismatch(back.begin(), back.end(), wide.begin());
  EXPECT_TRUE(firstUnit.first == back.end()) << "at unit " << (firstUnit.first - back.begin());
}

TEST(CodePage, ArbitraryUtf8ConvertsToUtf16AndIsValidAsIconvSaysWhereIconvTakesIt) {
  // Pieces of valid sequences of every length, and bytes that break them.
  const std::string_view pieces[] = {"a",    "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                     "\xC3", "\x80",     "\xE2\x82",     "\xED\xA0\x80",
                                     "\xFF", "\xF4\x90"};
  std::mt19937 random(20261209);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(0, 12);
  std::bernoulli_distribution valid(0.5);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    const bool wantValid = valid(random);
    for (int n = length(random); n > 0; --n)
      text += pieces[wantValid ? pick(random) % 4 : pick(random)];
    SCOPED_TRACE(testing::PrintToString(text));
    const std::u16string wide = utf8ToUtf16(text);
    const auto reference = viaIconv("UTF-8", "UTF-16LE", text);
    EXPECT_EQ(isValidUtf8(text), reference.has_value());
    if (reference) {
      EXPECT_EQ(utf16Bytes(wide), *reference);
      EXPECT_EQ(utf16ToUtf8(wide), text);
    } else {
      EXPECT_NE(wide.find(u'\uFFFD'), std::u16string::npos);
    }
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace importacao
