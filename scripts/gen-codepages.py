#!/usr/bin/env python3
"""Writes normalise/codepage_tables.inc, the code-page tables of normalise/codepage.cpp, and
normalise/codepage_guess_tables.inc, what normalise/codepage_guess.cpp knows of letters.

The tables come from Python's own codecs and Unicode database, so they are as trusted as those.
Run it after changing the list of code pages, the letter shares or the rules below, and commit
the output with this script:

    python3 scripts/gen-codepages.py            # rewrite both files
    python3 scripts/gen-codepages.py --check    # exit 1 when a committed file is stale

Rules the tables encode:
- Code page 1252 leaves five bytes undefined: 0x81, 0x8D, 0x8F, 0x90 and 0x9D. They travel as
  the C1 control characters of the same value (U+0081 ...), as Windows converts them, so that
  every byte survives a round trip through UTF-16 or UTF-8. Our text tables use 0x90.
- Into 1252 from another page: a character that 1252 cannot hold becomes '?', and so does a
  byte that its own page leaves undefined (0x81, 0x83, 0x88, 0x90 and 0x98 of 1250, 0x98 of
  1251): it is no character at all. From 1252 itself every byte stays as it is.
- For the guess of a table's code page: what each byte 0x80-0xFF is in each page the guess
  weighs (the pages we read, and the Greek ones, which we do not read but should not take for
  another): a small or capital letter (which one, in its small form), a letter without case, a
  common sign, another sign, or nothing (undefined, a control). And for each language the guess
  knows, how its letters outside ASCII share among themselves in ordinary text (rounded figures
  of letter counts; only their proportions matter).
"""

import unicodedata

import pathlib
import sys

CODE_PAGES = [437, 850, 852, 866, 1250, 1251, 1252]
UNDEFINED_1252 = [0x81, 0x8D, 0x8F, 0x90, 0x9D]
QUESTION = ord("?")
ROOT = pathlib.Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "normalise" / "codepage_tables.inc"
GUESS_OUTPUT = ROOT / "normalise" / "codepage_guess_tables.inc"

# The pages the guess weighs, in the order ties between them are settled, with the log of how
# likely a table is to be in each before its text is seen (the legacy tables here are DOS 850).
GUESS_PAGES = [(850, 0.0), (1252, -1.0), (437, -2.0), (1250, -3.0), (852, -3.0), (1251, -3.0),
               (866, -3.0), (737, -4.0), (1253, -4.0)]
# Signs that ordinary text holds now and then (outside words, mostly). Modifier letters (ˆ, ˜)
# are signs here: no word is made of them.
COMMON_SIGNS = "°±²³µ·½¼¾£§©®ªº«»¿¡€¢¥¤¬¦¨´¸¹×÷¯"
SCRIPTS = ["LATIN", "CYRILLIC", "GREEK"]
# Languages: script, the log of how likely a table is to be in it, and the shares of its letters
# outside ASCII ("latin" is every Latin-script language at once, for tables of many).
LANGUAGES = [
    ("pt", "LATIN", 0.0, "ãçéáíóêõúâàôü", [19, 16, 15, 12, 8, 7, 6, 5, 4, 3, 2, 2, 0.5]),
    ("es", "LATIN", -1.0, "óíáéñúü", [24, 20, 17, 16, 12, 6, 1]),
    ("ca", "LATIN", -2.0, "èàéóòíçúïü", [25, 20, 15, 10, 10, 8, 6, 3, 2, 1]),
    ("fr", "LATIN", -2.0, "éèàêçôîûùâëïœü", [55, 10, 8, 6, 4, 3, 2, 2, 2, 3, 1, 1, 1, 0.2]),
    ("de", "LATIN", -2.0, "üäöß", [30, 25, 17, 28]),
    ("it", "LATIN", -2.0, "àèéìòù", [25, 30, 5, 10, 15, 15]),
    ("nordic", "LATIN", -2.0, "øåæäöé", [30, 30, 15, 12, 13, 1]),
    ("pl", "LATIN", -2.0, "ąęłńóśźżć", [12, 14, 20, 3, 12, 9, 1, 10, 5]),
    ("cs", "LATIN", -2.0, "áéíýčřšžěůúňťďó", [17, 10, 16, 10, 8, 8, 7, 6, 9, 3, 2, 1, 1, 1, 1]),
    ("hu", "LATIN", -2.0, "áéőöóüűíú", [20, 25, 8, 8, 10, 5, 3, 8, 4]),
    ("hr", "LATIN", -2.0, "čšžćđ", [30, 30, 25, 8, 4]),
    ("ro", "LATIN", -2.0, "ăîâșşțţ", [35, 15, 15, 10, 10, 8, 7]),
    ("tr", "LATIN", -2.0, "ışçğüö", [25, 15, 15, 12, 15, 10]),
    ("ru", "CYRILLIC", -2.0, "оеаинтсрвлкмдпуяызьбгчйхжшюцщэфъё",
     [110, 85, 80, 74, 67, 63, 55, 47, 45, 44, 35, 32, 30, 28, 26, 20, 19, 16, 17, 16, 17, 14,
      12, 10, 9, 7, 6, 5, 4, 3, 3, 0.4, 0.4]),
    ("uk", "CYRILLIC", -2.0, "оаінвтеирскдлупмязбгчхйжшюцщєїфьґ",
     [94, 85, 63, 63, 56, 55, 50, 48, 46, 43, 41, 35, 34, 33, 30, 28, 26, 19, 17, 16, 13, 12,
      11, 10, 9, 8, 7, 6, 4, 6, 4, 25, 0.5]),
    ("el", "GREEK", -2.0, "αοιετσνηυρπκμλωγδθχφβξζψςάέίόύήώϊϋΐΰ",
     [110, 90, 80, 80, 75, 55, 65, 45, 40, 45, 40, 40, 32, 28, 18, 17, 16, 12, 10, 9, 7, 5,
      4, 1, 30, 20, 20, 25, 20, 15, 8, 6, 1, 1, 0.2, 0.2]),
]


def cp1252_to_unicode(byte):
    if byte in UNDEFINED_1252:
        return byte
    return ord(bytes([byte]).decode("cp1252"))


def unicode_to_cp1252(char):
    """The 1252 byte of a character, or None when 1252 cannot hold it."""
    if ord(char) in UNDEFINED_1252:
        return ord(char)
    try:
        return char.encode("cp1252")[0]
    except UnicodeEncodeError:
        return None


def table_to_1252(page):
    if page == 1252:
        return list(range(256))
    table = []
    for byte in range(256):
        try:
            char = bytes([byte]).decode(f"cp{page}")
        except UnicodeDecodeError:
            table.append(QUESTION)
            continue
        converted = unicode_to_cp1252(char)
        table.append(QUESTION if converted is None else converted)
    return table


def rows(values, per_row, fmt):
    lines = []
    for start in range(0, len(values), per_row):
        lines.append("    " + ", ".join(fmt(v) for v in values[start:start + per_row]) + ",")
    return "\n".join(lines)


def render():
    out = []
    out.append("// Generated by scripts/gen-codepages.py from Python's codecs. Do not edit: rerun the script.")
    out.append("// Included once, by normalise/codepage.cpp, inside namespace importacao::tables.")
    out.append("")
    out.append("// Code page 1252 to UTF-16; the five undefined bytes become the C1 controls of their value.")
    unicode = [cp1252_to_unicode(b) for b in range(256)]
    out.append("inline constexpr std::array<char16_t, 256> kCp1252ToUnicode{{")
    out.append(rows(unicode, 8, lambda v: f"0x{v:04X}"))
    out.append("}};")
    out.append("")
    out.append("// The 1252 byte of each code point below 0x100; '?' where 1252 cannot hold it.")
    latin1 = []
    for cp in range(256):
        converted = unicode_to_cp1252(chr(cp))
        latin1.append(QUESTION if converted is None else converted)
    out.append("inline constexpr std::array<char, 256> kLatin1To1252{{")
    out.append(rows(latin1, 12, lambda v: f"'\\x{v:02X}'"))
    out.append("}};")
    out.append("")
    out.append("// The code points from 0x100 up that 1252 holds, in ascending order, with their byte.")
    above = sorted((cp, b) for b, cp in enumerate(unicode) if cp >= 0x100)
    out.append("struct WideTo1252 {")
    out.append("  char16_t codePoint;")
    out.append("  char byte;")
    out.append("};")
    out.append(f"inline constexpr std::array<WideTo1252, {len(above)}> kWideTo1252{{{{")
    out.append(rows(above, 4, lambda p: f"{{0x{p[0]:04X}, '\\x{p[1]:02X}'}}"))
    out.append("}};")
    for page in CODE_PAGES:
        out.append("")
        out.append(f"// Code page {page} to 1252.")
        out.append(f"inline constexpr std::array<char, 256> kTo1252From{page}{{{{")
        out.append(rows(table_to_1252(page), 12, lambda v: f"'\\x{v:02X}'"))
        out.append("}};")
    out.append("")
    return "\n".join(out)


# --- the guess of a table's code page -------------------------------------------------------

KIND_NOTHING, KIND_RARE_SIGN, KIND_COMMON_SIGN, KIND_SMALL, KIND_CAPITAL, KIND_CASELESS = range(6)


def script_of(char):
    first = unicodedata.name(char, "").split(" ")[0]
    if first in SCRIPTS:
        return SCRIPTS.index(first)
    # The letters of Latin-1 that name no script (ª, º, µ) live among Latin letters.
    return SCRIPTS.index("LATIN") if ord(char) < 0x100 else len(SCRIPTS)


def languages():
    """LANGUAGES and "latin", every Latin-script language at once (for tables of many)."""
    out = [(name, script, prior, chars, [w / sum(weights) for w in weights])
           for name, script, prior, chars, weights in LANGUAGES]
    latin = [entry for entry in out if entry[1] == "LATIN"]
    mixed = {}
    for _, _, _, chars, shares in latin:
        for char, share in zip(chars, shares):
            mixed[char] = mixed.get(char, 0.0) + share / len(latin)
    out.append(("latin", "LATIN", -1.0, "".join(mixed), list(mixed.values())))
    return out


def small_form(char):
    small = char.lower()
    return small if len(small) == 1 else char


def classify(char):
    """(kind, the letter in its small form or None)"""
    category = unicodedata.category(char)
    if category == "Ll":
        return KIND_SMALL, small_form(char)
    if category == "Lu":
        return KIND_CAPITAL, small_form(char)
    if category == "Lo":
        return KIND_CASELESS, char
    if char == "\u00a0":  # the no-break space stands between words
        return KIND_COMMON_SIGN, None
    if category[0] in "CZ" or char == "\ufffd":
        return KIND_NOTHING, None
    return (KIND_COMMON_SIGN if char in COMMON_SIGNS else KIND_RARE_SIGN), None


def page_chars(page):
    chars = []
    for byte in range(0x80, 0x100):
        try:
            chars.append(bytes([byte]).decode(f"cp{page}"))
        except UnicodeDecodeError:
            chars.append("\ufffd")
    return chars


def letter_alphabet():
    """Every letter the guess tells apart, in its small form: those of the pages, then those only
    the languages name. Index 0 stands for no letter."""
    letters = [None]
    for page, _ in GUESS_PAGES:
        for char in page_chars(page):
            kind, letter = classify(char)
            if letter is not None and letter not in letters:
                letters.append(letter)
    for _, _, _, chars, _ in languages():
        for letter in chars:
            if letter not in letters:
                letters.append(letter)
    if len(letters) > 256:
        raise SystemExit("more letters than a byte can number")
    return letters


def render_guess():
    letters = letter_alphabet()
    out = []
    out.append("// Generated by scripts/gen-codepages.py from Python's codecs and Unicode database. Do not")
    out.append("// edit: rerun the script. Included once, by normalise/codepage_guess.cpp.")
    out.append("")
    out.append("// Scripts of letters.")
    for i, name in enumerate(SCRIPTS + ["OTHER"]):
        out.append(f"inline constexpr std::uint8_t kScript{name.capitalize()} = {i};")
    out.append("")
    out.append("// The letters told apart, by number (0: none): the script of each.")
    out.append(f"inline constexpr std::array<std::uint8_t, {len(letters)}> kLetterScript{{{{")
    out.append(rows([len(SCRIPTS)] + [script_of(l) for l in letters[1:]], 16, str))
    out.append("}};")
    out.append("")
    out.append("// What a byte 0x80-0xFF is in one page: its kind (Kind below) and, for a letter, its number.")
    out.append("struct GuessByte {")
    out.append("  std::uint8_t kind;")
    out.append("  std::uint8_t letter;")
    out.append("};")
    out.append("enum Kind : std::uint8_t { kNothing, kRareSign, kCommonSign, kSmall, kCapital, kCaseless };")
    out.append("struct GuessPage {")
    out.append("  int codePage;")
    out.append("  double prior;  // log of how likely a table is to be in it")
    out.append("  std::array<GuessByte, 128> bytes;")
    out.append("};")
    out.append(f"inline constexpr std::array<GuessPage, {len(GUESS_PAGES)}> kGuessPages{{{{")
    kinds = ["kNothing", "kRareSign", "kCommonSign", "kSmall", "kCapital", "kCaseless"]
    for page, prior in GUESS_PAGES:
        entries = []
        for char in page_chars(page):
            kind, letter = classify(char)
            entries.append(f"{{{kinds[kind]}, {0 if letter is None else letters.index(letter)}}}")
        out.append(f"    {{{page}, {prior}, {{{{")
        out.append("\n".join("    " + line for line in rows(entries, 8, str).split("\n")))
        out.append("    }}},")
    out.append("}};")
    out.append("")
    out.append("// Languages: the letters outside ASCII of ordinary text and their shares (of 1).")
    out.append("struct LetterShare {")
    out.append("  std::uint8_t letter;")
    out.append("  double share;")
    out.append("};")
    out.append("struct GuessLanguage {")
    out.append("  const char* name;")
    out.append("  std::uint8_t script;")
    out.append("  double prior;  // log of how likely a table is to be in it")
    out.append("  std::span<const LetterShare> letters;")
    out.append("};")
    for name, _, _, chars, weights in languages():
        shares = [f"{{{letters.index(c)}, {w:.6f}}}" for c, w in zip(chars, weights)]
        out.append(f"inline constexpr LetterShare kShares_{name}[] = {{")
        out.append(rows(shares, 6, str))
        out.append("};")
    out.append(f"inline constexpr std::array<GuessLanguage, {len(languages())}> kGuessLanguages{{{{")
    for name, script, prior, _, _ in languages():
        out.append(f"    {{\"{name}\", {SCRIPTS.index(script)}, {prior}, kShares_{name}}},")
    out.append("}};")
    out.append("")
    return "\n".join(out)


def main(argv):
    outputs = [(OUTPUT, render()), (GUESS_OUTPUT, render_guess())]
    if argv[1:] == ["--check"]:
        stale = [path for path, text in outputs
                 if not path.exists() or path.read_text(encoding="ascii") != text]
        for path in stale:
            print(f"{path} is stale: run scripts/gen-codepages.py", file=sys.stderr)
        return 1 if stale else 0
    if argv[1:]:
        print("usage: gen-codepages.py [--check]", file=sys.stderr)
        return 2
    for path, text in outputs:
        path.write_text(text, encoding="ascii")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
