#include "normalise/codepage.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace importacao {

namespace tables {
#include "normalise/codepage_tables.inc"
}  // namespace tables

namespace {

constexpr std::array<int, 7> kSupported{437, 850, 852, 866, 1250, 1251, 1252};

const std::array<char, 256>* findTable(int codePage) noexcept {
  switch (codePage) {
    case 437: return &tables::kTo1252From437;
    case 850: return &tables::kTo1252From850;
    case 852: return &tables::kTo1252From852;
    case 866: return &tables::kTo1252From866;
    case 1250: return &tables::kTo1252From1250;
    case 1251: return &tables::kTo1252From1251;
    case 1252: return &tables::kTo1252From1252;
    default: return nullptr;
  }
}

// The 1252 byte of one Unicode character, '?' when 1252 cannot hold it.
char fromCodePoint(char32_t codePoint) noexcept {
  if (codePoint < 0x100) return tables::kLatin1To1252[codePoint];
  if (codePoint > 0xFFFF) return '?';
  const auto& wide = tables::kWideTo1252;
  auto it = std::lower_bound(
      wide.begin(), wide.end(), codePoint,
      [](const tables::WideTo1252& entry, char32_t value) { return entry.codePoint < value; });
  return it != wide.end() && it->codePoint == codePoint ? it->byte : '?';
}

void appendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// One character of UTF-8 starting at text[i], which is not ASCII: the code point and the bytes
// it took; for invalid UTF-8, kInvalid and the bytes of the invalid piece (at least one).
constexpr char32_t kInvalid = 0xFFFFFFFF;

struct Decoded {
  char32_t codePoint;
  std::size_t taken;
};

Decoded decodeUtf8(std::string_view text, std::size_t i) noexcept {
  const auto lead = static_cast<unsigned char>(text[i]);
  // The continuation bytes a lead byte needs, and the range its first one must fall in:
  // the narrower ranges shut out overlong forms, surrogates and values past U+10FFFF.
  int need = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  char32_t codePoint = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {  // a continuation byte without a lead, 0xC0, 0xC1 or 0xF5 and up
    return {kInvalid, 1};
  }
  std::size_t taken = 1;
  for (int k = 0; k < need; ++k) {
    if (i + taken >= text.size()) return {kInvalid, taken};
    const auto next = static_cast<unsigned char>(text[i + taken]);
    if (next < low || next > high) return {kInvalid, taken};
    codePoint = (codePoint << 6) | (next & 0x3F);
    ++taken;
    low = 0x80;
    high = 0xBF;
  }
  return {codePoint, taken};
}

}  // namespace

std::span<const int> supportedCodePages() noexcept { return kSupported; }

bool isSupportedCodePage(int codePage) noexcept { return findTable(codePage) != nullptr; }

const std::array<char, 256>& tableTo1252(int codePage) {
  const auto* table = findTable(codePage);
  if (table == nullptr) {
    throw std::invalid_argument("code page " + std::to_string(codePage) + " is not supported");
  }
  return *table;
}

std::string toCp1252(std::string_view bytes, int codePage) {
  const auto& table = tableTo1252(codePage);
  std::string out(bytes.size(), '\0');
  std::transform(bytes.begin(), bytes.end(), out.begin(),
                 [&table](char c) { return table[static_cast<unsigned char>(c)]; });
  return out;
}

std::u16string cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  cp1252ToUtf16(text, out);
  return out;
}

void cp1252ToUtf16(std::string_view text, std::u16string& out) {
  out.resize(text.size());
  std::transform(text.begin(), text.end(), out.begin(),
                 [](char c) { return tables::kCp1252ToUnicode[static_cast<unsigned char>(c)]; });
}

std::string utf16ToCp1252(std::u16string_view text, bool& lossless) {
  std::string out;
  out.reserve(text.size());
  lossless = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // A well-formed pair is one character beyond the basic plane; a lone half is garbage.
      // Either way one '?'.
      if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
      }
      out.push_back('?');
      lossless = false;
    } else {
      const char byte = fromCodePoint(unit);
      out.push_back(byte);
      if (tables::kCp1252ToUnicode[static_cast<unsigned char>(byte)] != unit) lossless = false;
    }
  }
  return out;
}

std::string utf16ToCp1252(std::u16string_view text) {
  bool lossless = true;
  return utf16ToCp1252(text, lossless);
}

std::string cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) appendUtf8(out, tables::kCp1252ToUnicode[static_cast<unsigned char>(c)]);
  return out;
}

std::string utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    const Decoded d = decodeUtf8(text, i);
    out.push_back(d.codePoint == kInvalid ? '?' : fromCodePoint(d.codePoint));
    i += d.taken;
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    const Decoded d = decodeUtf8(text, i);
    if (d.codePoint == kInvalid) {
      out.push_back(u'\uFFFD');
    } else if (d.codePoint > 0xFFFF) {
      const char32_t above = d.codePoint - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (above >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (above & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(d.codePoint));
    }
    i += d.taken;
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0xD800 || unit > 0xDFFF) {
      appendUtf8(out, unit);
    } else if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      appendUtf8(out,
                 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back('?');
    }
  }
  return out;
}

std::size_t utf8CharacterLength(std::string_view text, std::size_t i) noexcept {
  if (static_cast<unsigned char>(text[i]) < 0x80) return 1;
  const Decoded d = decodeUtf8(text, i);
  return d.codePoint == kInvalid ? 0 : d.taken;
}

bool isValidUtf8(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8CharacterLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace importacao
