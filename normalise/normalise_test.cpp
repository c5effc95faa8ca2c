#include "normalise/normalise.h"

#include "normalise/ascii.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>

namespace importacao {
namespace {

TEST(StripCodePunctuation, DropsOnlyHyphensFullStopsAndSlashes) {
  struct {
    std::string_view in, want;
  } cases[] = {
      {"12.345.678/0001-90", "12345678000190"},
      {"", ""},
      {"-./", ""},
      {"AB 12,3_4\\5 \xC9", "AB 12,3_4\\5 \xC9"},
      {std::string_view("1\0-2", 4), std::string_view("1\0"
                                                      "2",
                                                      3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(StripCodePunctuation(c.in), c.want);
  }
}

TEST(Ean13, CheckDigitMatchesPublishedCodes) {
  struct {
    std::string_view digits, want;
  } cases[] = {
      {"400638133393", "1"},
      {"978014300723", "4"},
      {"000000000000", "0"},
      {"000000000055", "0"},  // 5 + 5 * 3 = 20, a multiple of ten already
      {"000000000010", "9"},  // position 11 weighs 1
      {"123456789012", "8"},
      // Other lengths: GS1's rule, weights from the right.
      {"9638507", "4"},      // EAN-8 96385074
      {"03600029145", "2"},  // UPC-A 036000291452
      {"", "0"},
      // Not digits: no check digit.
      {"12345678901A", ""},
      {"1234 5678901", ""},
      {"-12345678901", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    EXPECT_EQ(Ean13CheckDigit(c.digits), c.want);
  }
}

TEST(Ean13, MakesBarcodesOfThirteenDigits) {
  struct {
    std::string_view code;
    int prefix;
    std::string_view want;
  } cases[] = {
      {"12345", 1, "0001234501011"},
      {"", 1, "0000000001014"},
      {"ABC-0042", 1, "0000004201014"},
      {"123456789", 1, "2345678901012"},  // 1234567890101 loses its first digit
      {"7", 7, "0000000701075"},
      {"1234", 1, "0000123401012"},
      {"0000", 0, "0000000001007"},            // leading zeros do not count
      {"5", 123, "0000005011230"},             // a prefix of three digits
      {"12345678901234", 1, "7890123401012"},  // 14 digits, the longest a 64-bit number holds
      // Longer codes: the same rule carried on exactly, the last 12 digits of the number.
      {"123456789012345", 1, "8901234501016"},
      {"98765432109876543210", 1, "7654321001012"},
      {"5", -7, "0000000501071"},  // the sign is not a digit
      {"5", INT_MIN, "0121474836480"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " prefix " << c.prefix);
    EXPECT_EQ(MakeEan13(c.code, c.prefix), c.want);
  }
}

TEST(Ean13, EveryBarcodeIsThirteenDigitsAndAgreesWithWholeNumberArithmetic) {
  std::mt19937 random(7);
  const std::string alphabet = "0123456789-./ A\xC9";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<std::size_t> length(0, 30);
  std::uniform_int_distribution<int> prefix(-1000, 1000);
  for (int round = 0; round < 20000; ++round) {
    std::string code(length(random), ' ');
    for (char& c : code) c = alphabet[pick(random)];
    const int p =
        round % 4 == 0 ? prefix(random) : (round % 4 == 1 ? 1 : static_cast<int>(random() % 100));
    const std::string barcode = MakeEan13(code, p);
    const std::string input = code + " prefix " + std::to_string(p);
    ASSERT_TRUE(barcode.size() == 13 &&
                barcode.find_first_not_of("0123456789") == std::string::npos)
        << input << " gives " << barcode;
    EXPECT_EQ(barcode.substr(12), Ean13CheckDigit(barcode.substr(0, 12))) << input;

    // Up to 14 digits and a two-digit prefix the number fits in 64 bits: read it as a number.
    std::string digits;
    for (char c : code) {
      if (c >= '0' && c <= '9') digits.push_back(c);
    }
    if (digits.size() <= 14 && p >= 0 && p <= 99) {
      const std::uint64_t number =
          std::stoull(digits + "01" + (p < 10 ? "0" : "") + std::to_string(p));
      std::string body = std::to_string(number % 1000000000000ULL);
      body.insert(0, 12 - body.size(), '0');
      EXPECT_EQ(barcode.substr(0, 12), body) << input;
    }
  }
}

TEST(LowerLetter, ChangesOnlyThePlainCapitals) {
  struct {
    char in, want;
  } cases[] = {{'A', 'a'},       {'Z', 'z'},       {'@', '@'},   {'[', '['},      {'a', 'a'},
               {'\xC9', '\xC9'}, {'\xC0', '\xC0'}, {'\0', '\0'}, {'\xFF', '\xFF'}};
  for (const auto& c : cases) EXPECT_EQ(LowerLetter(c.in), c.want) << static_cast<int>(c.in);
}

TEST(ProperCaseName, WorkedExamples) {
  struct {
    std::string_view in, want;
  } cases[] = {
      {"JOAO DA SILVA", "Joao da Silva"},
      {"MARIA DOS SANTOS E SILVA", "Maria dos Santos e Silva"},
      {"ANA DE", "Ana de"},
      {"PEDRO DAS", "Pedro das"},
      {"JOAO  DA SILVA", "Joao  da Silva"},
      {"   ", "   "},
      {"", ""},
      {"JOS\xC9", "Jos\xC9"},  // the last position keeps its accent
      {"JOS\xC9 MARIA", "Jos\xE9 Maria"},
      {"MARIA \xC1GUEDA", "Maria \xE1gueda"},  // an accented initial never becomes capital
      {"\xC9RICA", "\xE9rica"},
      {"DA SILVA", "Da Silva"},  // no blank before: no connective
      {"JOAO E", "Joao E"},      // nothing after: no connective
      {"E", "E"},
      {" E ", " e "},
      {"JOAO DO", "Joao do"},
      {"JOAO DOS", "Joao dos"},
      {"ANA DI", "Ana Di"},
      {"JOAO DAVI", "Joao Davi"},
      {"JOAO DOSE", "Joao Dose"},
      {"ANA DE,", "Ana De,"},
      {"ANA DAS-", "Ana Das-"},
      {" ANA", " Ana"},
      {"joao da silva", "Joao da Silva"},
      {"1A B", "1a B"},  // only a letter at the start is capitalised
      // The further rows of the accent table, and codes outside it.
      {"A\x80\x90\xB6\xE5Z", "A\xE7\xE9\xE2\xE2z"},
      {"\xC5\xC6\xD1\xDD\xC7", "\xC5\xC6\xD1\xDD\xC7"},
      {"A\xC0\xC1\xC2\xC3\xC4\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD2\xD3\xD4\xD5\xD6\xD9\xDA\xDB"
       "\xDC.",
       "A\xE0\xE1\xE2\xE3\xE4\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF\xF2\xF3\xF4\xF5\xF6\xF9\xFA\xFB"
       "\xFC."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ProperCaseName(c.in), c.want);
  }
}

TEST(ProperCaseName, ThenRemoveAccentsAsTheNameColumnsAreMade) {
  struct {
    std::string_view in, want;
  } cases[] = {
      {"CAF\xC9 E CIA", "Cafe e Cia"},
      {"JOS\xC9", "JosE"},
      {"CONCEI\xC7\xC3O DA SILVA", "Conceicao da Silva"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(RemoveAccents(ProperCaseName(c.in)), c.want);
  }
}

// The replacement table, row by row, as the store's name columns expect it.
struct AccentRow {
  std::string_view in;
  std::string_view out;
};
constexpr AccentRow kAccentRows[] = {
    {"\x80\xC0\xC1\xC2\xC3\xC4\xE6", "A"},
    {"\xE0\xE1\xE2\xE3\xE4", "a"},
    {"\xC8\xC9\xCA\xCB", "E"},
    {"\xE8\xE9\xEA\xEB", "e"},
    {"\x99\xCC\xCD\xCE\xCF", "I"},
    {"\xEC\xED\xEE\xEF", "i"},
    {"\x83\xD2\xD3\xD4\xD5\xD6", "O"},
    {"\x86\xF2\xF3\xF4\xF5\xF6", "o"},
    {"\xD9\xDA\xDB\xDC", "U"},
    {",\xF9\xFA\xFB\xFC", "u"},
    {"?\xC7", "C"},
    {"\xE7", "c"},
    {"():./", ""},
};

TEST(RemoveAccents, EveryByteFollowsItsRowOrStays) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    std::string want = one;
    for (const auto& row : kAccentRows) {
      if (row.in.find(one[0]) != std::string_view::npos) want = row.out;
    }
    EXPECT_EQ(RemoveAccents(one), want) << "byte " << b;
  }
}

TEST(RemoveAccents, WorkedExamples) {
  struct {
    std::string_view in, want;
  } cases[] = {
      {"Concei?ao", "ConceiCao"},
      {"Silva, Joao", "Silvau Joao"},
      {"Rua (A) 1/2.", "Rua A 12"},
      {"", ""},
      {"- \xC5\xC6\xD1\xE5\xF1\xFD\xFE\xFF 09", "- \xC5\xC6\xD1\xE5\xF1\xFD\xFE\xFF 09"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(RemoveAccents(c.in), c.want);
  }
}

std::string randomText(std::mt19937& random, std::size_t maxLength) {
  // Half the bytes from the ones the rules look at, so blanks, connectives and accents meet.
  static constexpr std::string_view kInteresting = " DEaeosASDAE\xC9\xC1\x80\x90\xB6\xE5,?()";
  std::uniform_int_distribution<std::size_t> length(0, maxLength);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<std::size_t> pick(0, kInteresting.size() - 1);
  std::string text(length(random), '\0');
  for (char& c : text)
    c = random() % 2 ? static_cast<char>(byte(random)) : kInteresting[pick(random)];
  return text;
}

TEST(Normalise, GeneratedTextsKeepTheRules) {
  std::mt19937 random(1252);
  for (int round = 0; round < 50000; ++round) {
    const std::string text = randomText(random, 24);
    SCOPED_TRACE(testing::PrintToString(text));
    const std::string proper = ProperCaseName(text);
    ASSERT_EQ(proper.size(), text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == ' ') {
        ASSERT_EQ(proper[i], ' ');  // blanks never move or change
      }
    }
    const std::string plain = RemoveAccents(text);
    for (char c : plain) {
      for (const auto& row : kAccentRows) ASSERT_EQ(row.in.find(c), std::string_view::npos);
    }
    const std::string stripped = StripCodePunctuation(text);
    EXPECT_EQ(stripped.find_first_of("-./"), std::string::npos);
    const std::string check = Ean13CheckDigit(text);
    EXPECT_LE(check.size(), 1u);
  }
}

TEST(Normalise, AllSixAcceptEveryByteAndAnyLength) {
  std::string pairs;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string two{static_cast<char>(a), static_cast<char>(b)};
      pairs += two;
      EXPECT_EQ(ProperCaseName(two).size(), 2u);
      EXPECT_EQ(MakeEan13(two, a).size(), 13u);
      EXPECT_LE(RemoveAccents(two).size(), 2u);
      EXPECT_LE(StripCodePunctuation(two).size(), 2u);
      EXPECT_LE(Ean13CheckDigit(two).size(), 1u);
      (void)LowerLetter(two[0]);
    }
  }
  // All 65,536 pairs in one text of 128 KiB, and a million digits.
  EXPECT_EQ(ProperCaseName(pairs).size(), pairs.size());
  EXPECT_LE(RemoveAccents(pairs).size(), pairs.size());
  EXPECT_LT(StripCodePunctuation(pairs).size(), pairs.size());
  const std::string million(1000000, '9');
  EXPECT_EQ(MakeEan13(million, INT_MAX), "0121474836473");
  EXPECT_EQ(Ean13CheckDigit(million).size(), 1u);
}

// Names, keywords and values of files and statements: only ASCII letters fold, only blanks and
// tabs are trimmed.
TEST(Ascii, FoldsOnlyPlainLettersAndTrimsOnlyBlanksAndTabs) {
  struct {
    std::string_view a, b;
    bool equal;
  } names[] = {
      {"IdReferencia", "idreferencia", true},
      {"LJ_REFEREST", "lj_referEst", true},
      {"descri\xC7\xC3O", "descri\xE7\xE3o", false},  // 1252 letters beyond ASCII are not folded
      {"Cor", "Cores", false},
      {"", "", true},
      {"a_1", "A_1", true},
  };
  for (const auto& c : names) {
    SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
    EXPECT_EQ(equalsNoCaseAscii(c.a, c.b), c.equal);
  }
  EXPECT_EQ(lowerAscii("Cidade \xC9 Z@["), "cidade \xC9 z@[");
  EXPECT_EQ(upperAscii("cidade \xE9 z`{"), "CIDADE \xE9 Z`{");
  struct {
    std::string_view text, trimmed, trimmedOfLineBreaks;
  } blanks[] = {{" \t valor \t ", "valor", "valor"},
                {"a b", "a b", "a b"},
                {" \t", "", ""},
                {"\rx\n", "\rx\n", "x"},
                {" \r\n x \n\t", "\r\n x \n", "x"}};
  for (const auto& c : blanks) {
    EXPECT_EQ(trimBlanks(c.text), c.trimmed);
    EXPECT_EQ(trimBlanksAndLineBreaks(c.text), c.trimmedOfLineBreaks);
  }
}

}  // namespace
}  // namespace importacao
