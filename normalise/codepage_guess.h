// The code page of legacy text that does not say its own, guessed from the text itself: the
// letters its bytes become in each code page we know, weighed against the letters of ordinary
// text in the languages we know. A table read in the wrong code page turns "Añasco" into
// "A±asco": a sign inside a word, a capital after a small letter, a word of accents only, a word
// of two alphabets, letters no language uses so often. The page whose reading has the fewest such
// oddities and the likeliest letters wins, and is named only when it is clearly better than the
// page the text is read in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace importacao {

// UTF-8 as Windows numbers it: a guess may name it, no table is read in it.
inline constexpr int kUtf8CodePage = 65001;

// Texts of one table gathered for the guess. Only texts with a byte above 0x7F are kept (the
// others read alike in every page), up to a limit that is plenty to tell pages apart.
class CodePageSample {
 public:
  // `text` as stored, its trailing blanks removed. `fillsField`: the text takes its whole field,
  // so a character of several bytes may have been cut at its end.
  void add(std::string_view text, bool fillsField);
  // True when more texts would not be kept.
  bool full() const noexcept;
  bool empty() const noexcept { return pieces_.empty(); }

 private:
  friend struct CodePageSampleAccess;
  struct Piece {
    std::size_t offset;
    std::size_t length;
    bool fillsField;
  };
  std::string bytes_;
  std::vector<Piece> pieces_;
};

struct CodePageGuess {
  // One of supportedCodePages(); kUtf8CodePage; or a page we know but do not read (737 and 1253,
  // Greek).
  int codePage = 0;
  bool readable = false;  // codePage is one of supportedCodePages()
  // A word of the text, its bytes as stored: the first that the page it is read in makes odd.
  std::string example;
};

// The page the text of `sample` reads in best, when that is clearly another than `readAs` (850,
// 1252, 437, 1250, 852, 1251 or 866); nullopt when the text reads well in `readAs`, holds nothing
// but ASCII, or reads well in no page we know (Chinese, Thai...), and for any other `readAs`.
std::optional<CodePageGuess> guessCodePage(const CodePageSample& sample, int readAs);

// How messages name a page: "1252", "UTF-8", "737 (DOS Greek)", "1253 (Windows Greek)".
std::string codePageName(int codePage);

}  // namespace importacao
