#include "normalise/codepage_guess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace importacao {
namespace {

std::optional<int> guessOf(const std::vector<std::string>& texts, int readAs = 850) {
  CodePageSample sample;
  for (const auto& t : texts) sample.add(t, false);
  const auto guess = guessCodePage(sample, readAs);
  if (!guess) return std::nullopt;
  return guess->codePage;
}

TEST(CodePageGuess, NamesThePageOfTextReadInTheWrongOne) {
  struct {
    const char* what;
    std::vector<std::string> texts;
    std::optional<int> named;
  } cases[] = {
      {"Spanish in 1252",
       {"A\xF1"
        "asco PR",
        "Bayam\xF3n", "Pe\xF1uelas",
        "Mayag\xFC"
        "ez",
        "R\xEDo Grande"},
       1252},
      {"Czech in 1250",
       {"Jiho\xE8"
        "esk\xFD kraj",
        "Jind\xF8ich\xF9v Hradec", "D\xEC\xE8\xEDn",
        "P\xF8"
        "erov"},
       1250},
      {"Polish in 852",
       {"Krak\xA2w",
        "\x9D\xA2"
        "d\xAB",
        "Gda\xE4sk", "Rzesz\xA2w", "Zielona G\xA2ra", "\x97wi\xA9tokrzyskie"},
       852},
      {"Russian in 866",
       {"\x8C\xAE\xE1\xAA\xA2\xA0", "\x91\xA0\xAD\xAA\xE2-\x8F\xA5\xE2\xA5\xE0\xA1\xE3\xE0\xA3",
        "\x8D\xAE\xA2\xAE\xE1\xA8\xA1\xA8\xE0\xE1\xAA"},
       866},
      {"Russian in 1251",
       {"\xCC\xEE\xF1\xEA\xE2\xE0", "\xD1\xE0\xED\xEA\xF2-\xCF\xE5\xF2\xE5\xF0\xE1\xF3\xF0\xE3",
        "\xCD\xEE\xE2\xEE\xF1\xE8\xE1\xE8\xF0\xF1\xEA"},
       1251},
      {"Greek in 737",
       {"\x80\x9F\xE3\xA4\x98", "\x87\x9C\xA9\xA9\x98\xA2\xA6\xA4\xE5\xA1\x9E",
        "\x8F\xE1\xAB\xA8\x98", "\x86\xA8\xE1\xA1\xA2\x9C\xA0\xA6"},
       737},
      {"German in UTF-8",
       {"S\xC3\xBC"
        "dliche Weinstra\xC3\x9F"
        "e",
        "K\xC3\xB6ln"},
       kUtf8CodePage},
      {"a degree sign of Latin-1", {"between 13\xB0S and 18\xB0S"}, 1252},
      // What must stay silent: code page 850 itself, with its signs; ASCII; too little to tell.
      {"Portuguese in 850",
       {"S\xC7O PAULO", "Macei\xA2", "JO\xC7O PESSOA", "Florian\xA2polis",
        "A\x80\xE9"
        "CAR",
        "Paran\xA0", "CORA\x80\xC7O", "N\xA7 25",
        "25\xF8"
        "C",
        "\xAB KG"},
       std::nullopt},
      {"ASCII", {"PARAFUSO 3/8", "ARRUELA"}, std::nullopt},
      {"one short word", {"\xE9\xE0 toto"}, std::nullopt},
      {"nothing", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(guessOf(c.texts), c.named);
  }
  // Text read in a page the guess does not weigh: no guess.
  EXPECT_EQ(guessOf({"A\xF1"
                     "asco"},
                    874),
            std::nullopt);
}

TEST(CodePageGuess, GivesAWordThatThePageInUseReadsOddly) {
  CodePageSample sample;
  sample.add("Bayamon PR", false);  // ASCII: not kept
  sample.add("San Germ\xE1n PR", false);
  sample.add(
      "A\xF1"
      "asco PR",
      false);
  const auto guess = guessCodePage(sample, 850);
  ASSERT_TRUE(guess);
  EXPECT_EQ(guess->codePage, 1252);
  EXPECT_TRUE(guess->readable);
  // "Germß" reads well enough in 850; "A±asco" does not.
  EXPECT_EQ(guess->example,
            "A\xF1"
            "asco");
  EXPECT_EQ(codePageName(1252), "1252");
  EXPECT_EQ(codePageName(kUtf8CodePage), "UTF-8");
  EXPECT_EQ(codePageName(737), "737 (DOS Greek)");
}

TEST(CodePageGuess, Utf8CutByTheFieldsEndIsStillUtf8) {
  // "Köln" then the first byte of "ö", cut by the field's width: UTF-8 when the text fills its
  // field; elsewhere a lone lead byte is no UTF-8.
  for (const bool fills : {true, false}) {
    CodePageSample sample;
    sample.add("K\xC3\xB6ln K\xC3", fills);
    const auto guess = guessCodePage(sample, 850);
    EXPECT_EQ(guess && guess->codePage == kUtf8CodePage, fills) << fills;
  }
}

// Every Brazilian municipality name of the store's seed, as the legacy system keeps names (code
// page 850, as spelt and in capitals): the guess stays silent on all of them together and on
// every three names in a row, and names 1252 for the same names in 1252.
TEST(CodePageGuess, StaysSilentOnPortugueseIn850) {
  std::ifstream csv(std::string(IMP_SOURCE_ROOT) + "/schema/seed/municipios.csv");
  ASSERT_TRUE(csv);
  std::vector<std::string> names;
  std::string line;
  std::getline(csv, line);  // header
  while (std::getline(csv, line)) {
    const auto first = line.find(','), last = line.rfind(',');
    names.push_back(line.substr(first + 1, last - first - 1));
  }
  ASSERT_GT(names.size(), 5000u);
  // Through glibc's iconv, an independent source of the code pages.
  auto convert = [](const char* from, const char* to, std::string text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv");
    std::string out(text.size() * 3 + 8, '\0');
    char* in = text.data();
    char* at = out.data();
    std::size_t inLeft = text.size(), outLeft = out.size();
    iconv(cd, &in, &inLeft, &at, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
  };
  auto encode = [&](const char* page, const std::string& utf8) {
    return convert("UTF-8", page, utf8);
  };
  auto upper = [&](const std::string& utf8) {
    // The accented letters of Portuguese are in Latin-1: one byte-wise pass over 1252 does it.
    std::string text = encode("CP1252", utf8);
    for (char& c : text) {
      const auto b = static_cast<unsigned char>(c);
      if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7))
        c = static_cast<char>(b - 0x20);
    }
    return convert("CP1252", "UTF-8", text);
  };
  for (const bool capitals : {false, true}) {
    SCOPED_TRACE(capitals ? "in capitals" : "as spelt");
    std::vector<std::string> in850, in1252;
    for (const auto& n : names) {
      const std::string name = capitals ? upper(n) : n;
      in850.push_back(encode("CP850", name));
      in1252.push_back(encode("CP1252", name));
    }
    EXPECT_EQ(guessOf(in850), std::nullopt);
    EXPECT_EQ(guessOf(in1252), 1252);
    for (std::size_t i = 0; i + 3 <= in850.size(); i += 3) {
      const std::vector<std::string> three(in850.begin() + static_cast<long>(i),
                                           in850.begin() + static_cast<long>(i) + 3);
      ASSERT_EQ(guessOf(three), std::nullopt) << three[0] << " / " << three[1] << " / " << three[2];
    }
  }
}

}  // namespace
}  // namespace importacao
