#include "normalise/codepage_guess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include "normalise/codepage.h"

namespace importacao {

namespace tables {
#include "normalise/codepage_guess_tables.inc"
}  // namespace tables

// The guess reads the sample's pieces; nothing else needs them.
struct CodePageSampleAccess {
  static std::vector<std::string_view> texts(const CodePageSample& sample) {
    std::vector<std::string_view> out;
    out.reserve(sample.pieces_.size());
    for (const auto& p : sample.pieces_) out.push_back({sample.bytes_.data() + p.offset, p.length});
    return out;
  }
  static bool fillsField(const CodePageSample& sample, std::size_t i) {
    return sample.pieces_[i].fillsField;
  }
};

namespace {

using tables::GuessPage;
using tables::kGuessLanguages;
using tables::kGuessPages;
using tables::kLetterScript;

constexpr std::size_t kLetterCount = kLetterScript.size();
constexpr std::size_t kMaxTexts = 4096;
constexpr std::size_t kMaxBytes = 64 * 1024;

// Log-likelihoods of what a reading shows (natural logarithms). A letter outside a language's
// list: log(1e-3) in its script, log(1e-6) in another.
const double kOtherLetterOfScript = std::log(1e-3);
const double kLetterOfOtherScript = std::log(1e-6);
const double kCommonSignAlone = std::log(1e-3);   // "25°", "± 2"
const double kCommonSignInWord = std::log(1e-5);  // "A±asco"
const double kRareSign = std::log(1e-7);          // box drawing, arrows, maths
const double kNothing = std::log(1e-8);           // an undefined byte, a control
const double kOddWord = std::log(1e-4);           // two alphabets, accents only, "SÝndrome"
const double kOddCase = std::log(0.1);            // "AñASCO": ASCII-only capitals, still likely

// How much better the winner must read than the page in use, in the same logarithms: a few
// clearly odd words at least.
constexpr double kMinimumMargin = 8.0;
// Scores this close count as equal: the earlier page of kGuessPages wins (1252 before 1250 when
// both read "Côte").
constexpr double kTie = 0.5;

// The log of each letter's share in each language.
const std::array<std::array<double, kLetterCount>, kGuessLanguages.size()>& logShares() {
  static const auto table = [] {
    std::array<std::array<double, kLetterCount>, kGuessLanguages.size()> out{};
    for (std::size_t l = 0; l < kGuessLanguages.size(); ++l) {
      const auto& language = kGuessLanguages[l];
      for (std::size_t i = 0; i < kLetterCount; ++i) {
        out[l][i] =
            kLetterScript[i] == language.script ? kOtherLetterOfScript : kLetterOfOtherScript;
      }
      for (const auto& share : language.letters) out[l][share.letter] = std::log(share.share);
    }
    return out;
  }();
  return table;
}

// What one byte is in one page.
struct Byte {
  std::uint8_t kind;  // tables::Kind, or kSeparator
  std::uint8_t letter;
  std::uint8_t script;
};
constexpr std::uint8_t kSeparator = 0xFF;  // an ASCII byte that is no letter

Byte classify(const GuessPage& page, unsigned char b) {
  if (b >= 'a' && b <= 'z') return {tables::kSmall, 0, tables::kScriptLatin};
  if (b >= 'A' && b <= 'Z') return {tables::kCapital, 0, tables::kScriptLatin};
  if (b < 0x80) return {kSeparator, 0, 0};
  const auto& g = page.bytes[b - 0x80];
  return {g.kind, g.letter, kLetterScript[g.letter]};
}

bool isLetter(const Byte& b) {
  return b.kind == tables::kSmall || b.kind == tables::kCapital || b.kind == tables::kCaseless;
}

// A page's reading of the whole sample: how often each letter outside ASCII comes, what the
// oddities cost, and how many of the words and signs outside ASCII are odd.
struct Reading {
  std::array<int, kLetterCount> letters{};
  double oddities = 0;
  int tokens = 0;
  int odd = 0;
};

// The tokens of one text as `page` reads it: words (runs of letters) holding a byte above 0x7F,
// and signs above 0x7F. `onToken(begin, end, odd)` is called for each.
template <class OnToken>
void readText(const GuessPage& page, std::string_view text, Reading& reading, OnToken onToken) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  auto at = [&](std::size_t i) { return classify(page, p[i]); };
  std::size_t i = 0;
  while (i < n) {
    const Byte b = at(i);
    if (!isLetter(b)) {
      if (p[i] >= 0x80) {
        const bool inWord = i > 0 && i + 1 < n && isLetter(at(i - 1)) && isLetter(at(i + 1));
        double cost = kRareSign;
        bool odd = true;
        if (b.kind == tables::kNothing) {
          cost = kNothing;
        } else if (b.kind == tables::kCommonSign) {
          cost = inWord ? kCommonSignInWord : kCommonSignAlone;
          odd = inWord;
        }
        reading.oddities += cost;
        ++reading.tokens;
        reading.odd += odd ? 1 : 0;
        onToken(i, i + 1, odd);
      }
      ++i;
      continue;
    }
    std::size_t end = i;
    int high = 0, small = 0, capitals = 0;
    unsigned scripts = 0;
    bool capitalAfterSmall = false, firstCapital = false, restSmall = true;
    for (bool previousSmall = false; end < n; ++end) {
      const Byte c = at(end);
      if (!isLetter(c)) break;
      scripts |= 1U << c.script;
      if (p[end] >= 0x80) {
        ++high;
        ++reading.letters[c.letter];
        if (c.kind == tables::kCapital && previousSmall) capitalAfterSmall = true;
      }
      if (c.kind == tables::kCapital) {
        if (end == i)
          firstCapital = true;
        else
          restSmall = false;
        ++capitals;
      }
      if (c.kind == tables::kSmall) ++small;
      previousSmall = c.kind == tables::kSmall;
    }
    if (high > 0) {
      const std::size_t length = end - i;
      bool odd = false;
      if ((scripts & (scripts - 1)) != 0) {  // two alphabets in one word
        reading.oddities += kOddWord;
        odd = true;
      }
      if (scripts == 1U << tables::kScriptLatin && high >= 3 &&
          5 * static_cast<std::size_t>(high) >=
              4 * length) {  // a Latin word of accents ("Łódź" passes)
        reading.oddities += kOddWord;
        odd = true;
      }
      if (capitalAfterSmall) {  // "SÝndrome"
        reading.oddities += kOddWord;
        odd = true;
      } else if (small > 0 && capitals > 0 && !(firstCapital && restSmall && capitals == 1)) {
        reading.oddities += kOddCase;
      }
      ++reading.tokens;
      reading.odd += odd ? 1 : 0;
      onToken(i, end, odd);
    }
    i = end;
  }
}

Reading readSample(const GuessPage& page, const std::vector<std::string_view>& texts) {
  Reading reading;
  for (auto text : texts) readText(page, text, reading, [](std::size_t, std::size_t, bool) {});
  return reading;
}

// The score of a reading: the likeliest language for its letters, the oddities, the page's prior.
double score(const GuessPage& page, const Reading& reading) {
  const auto& shares = logShares();
  std::array<std::uint8_t, kLetterCount> seen{};
  std::size_t kinds = 0;
  for (std::size_t i = 1; i < kLetterCount; ++i)
    if (reading.letters[i] != 0) seen[kinds++] = static_cast<std::uint8_t>(i);
  double best = -INFINITY;
  for (std::size_t l = 0; l < kGuessLanguages.size(); ++l) {
    double sum = kGuessLanguages[l].prior;
    for (std::size_t k = 0; k < kinds; ++k) sum += reading.letters[seen[k]] * shares[l][seen[k]];
    best = std::max(best, sum);
  }
  return best + reading.oddities + page.prior;
}

// Whether every text is UTF-8 with at least one character above ASCII: text in a single-byte
// page is hardly ever that (its accented letters would have to come in exact pairs of a lead
// and a continuation byte). A text that fills its field may end in a character cut short.
bool looksLikeUtf8(const CodePageSample& sample, const std::vector<std::string_view>& texts) {
  bool multiByte = false;
  for (std::size_t t = 0; t < texts.size(); ++t) {
    const std::string_view text = texts[t];
    for (std::size_t i = 0; i < text.size();) {
      if (static_cast<unsigned char>(text[i]) < 0x80) {
        ++i;
        continue;
      }
      const std::size_t length = utf8CharacterLength(text, i);
      if (length == 0) {
        if (!CodePageSampleAccess::fillsField(sample, t)) return false;
        // A lead byte whose character the field's end cut: only continuation bytes follow it.
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (need == 0 || i + need <= text.size()) return false;
        for (std::size_t k = i + 1; k < text.size(); ++k)
          if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return false;
        break;
      }
      multiByte = multiByte || length > 1;
      i += length;
    }
  }
  return multiByte;
}

const GuessPage* findPage(int codePage) {
  for (const auto& page : kGuessPages)
    if (page.codePage == codePage) return &page;
  return nullptr;
}

// The word around the first token that `page` reads oddly (else the first token), its bytes as
// stored: the stretch between blanks and punctuation, at most 40 bytes.
std::string exampleOf(const GuessPage& page, const std::vector<std::string_view>& texts) {
  std::string_view firstText;
  std::size_t firstAt = 0;
  bool haveFirst = false;
  for (auto text : texts) {
    std::optional<std::size_t> oddAt;
    Reading ignored;
    readText(page, text, ignored, [&](std::size_t begin, std::size_t, bool odd) {
      if (odd && !oddAt) oddAt = begin;
      if (!haveFirst) {
        firstText = text;
        firstAt = begin;
        haveFirst = true;
      }
    });
    if (!oddAt) continue;
    firstText = text;
    firstAt = *oddAt;
    break;
  }
  if (!haveFirst) return {};
  auto boundary = [](char c) {
    return static_cast<unsigned char>(c) < 0x80 &&
           std::string_view(" \t,;:()[]{}/\\\"'.!?").find(c) != std::string_view::npos;
  };
  std::size_t begin = firstAt, end = firstAt;
  while (begin > 0 && !boundary(firstText[begin - 1]) && firstAt - begin < 20) --begin;
  while (end < firstText.size() && !boundary(firstText[end]) && end - begin < 40) ++end;
  return std::string(firstText.substr(begin, end - begin));
}

}  // namespace

void CodePageSample::add(std::string_view text, bool fillsField) {
  if (full()) return;
  const bool high = std::any_of(text.begin(), text.end(),
                                [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (!high) return;
  pieces_.push_back({bytes_.size(), text.size(), fillsField});
  bytes_.append(text);
}

bool CodePageSample::full() const noexcept {
  return pieces_.size() >= kMaxTexts || bytes_.size() >= kMaxBytes;
}

std::optional<CodePageGuess> guessCodePage(const CodePageSample& sample, int readAs) {
  const GuessPage* current = findPage(readAs);
  if (current == nullptr || sample.empty()) return std::nullopt;
  const auto texts = CodePageSampleAccess::texts(sample);

  if (looksLikeUtf8(sample, texts)) {
    return CodePageGuess{kUtf8CodePage, false, exampleOf(*current, texts)};
  }

  std::array<Reading, kGuessPages.size()> readings;
  std::array<double, kGuessPages.size()> scores{};
  double top = -INFINITY;
  for (std::size_t i = 0; i < kGuessPages.size(); ++i) {
    readings[i] = readSample(kGuessPages[i], texts);
    scores[i] = score(kGuessPages[i], readings[i]);
    top = std::max(top, scores[i]);
  }
  std::size_t best = 0;
  while (scores[best] < top - kTie) ++best;
  const GuessPage& winner = kGuessPages[best];
  if (&winner == current) return std::nullopt;

  const auto now = static_cast<std::size_t>(current - kGuessPages.data());
  const Reading& w = readings[best];
  const Reading& c = readings[now];
  // Clearly better: by the margin, by fewer odd words (at least one, and a twentieth of the
  // words), and odd itself in at most a tenth of its words (not the least bad of bad readings).
  if (scores[best] - scores[now] < kMinimumMargin) return std::nullopt;
  if (c.odd - w.odd < std::max(1.0, 0.05 * c.tokens)) return std::nullopt;
  if (w.odd > 0.1 * w.tokens) return std::nullopt;
  return CodePageGuess{winner.codePage, isSupportedCodePage(winner.codePage),
                       exampleOf(*current, texts)};
}

std::string codePageName(int codePage) {
  switch (codePage) {
    case kUtf8CodePage: return "UTF-8";
    case 737: return "737 (DOS Greek)";
    case 1253: return "1253 (Windows Greek)";
    default: return std::to_string(codePage);
  }
}

}  // namespace importacao
