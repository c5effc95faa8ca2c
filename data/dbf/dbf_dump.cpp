#include "data/dbf/dbf_dump.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "data/dbf/dbf_decode.h"
#include "data/dbf/dbf_table.h"
#include "data/errors.h"
#include "normalise/codepage.h"
#include "platform/path.h"

namespace importacao {
namespace {

using Json = nlohmann::ordered_json;

std::string line(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The record lines go out through a buffer of their own: one write per 256 kB, whatever the
// table's size.
class Output {
 public:
  explicit Output(std::ostream& out)
      : out_(out), buffer_(std::make_unique_for_overwrite<char[]>(kSize)) {}
  // Room for `n` more bytes at the returned place; advance() says how many were used.
  char* room(std::size_t n) {
    if (used_ + n > size_) {
      flush();
      if (n > size_) {
        buffer_ = std::make_unique_for_overwrite<char[]>(n);
        size_ = n;
      }
    }
    return buffer_.get() + used_;
  }
  void advance(const char* to) { used_ = static_cast<std::size_t>(to - buffer_.get()); }
  void put(std::string_view text) {
    char* p = room(text.size());
    std::memcpy(p, text.data(), text.size());
    advance(p + text.size());
  }
  void flush() {
    out_.write(buffer_.get(), static_cast<std::streamsize>(used_));
    used_ = 0;
  }

 private:
  static constexpr std::size_t kSize = 256 * 1024;
  std::ostream& out_;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = kSize;
  std::size_t used_ = 0;
};

// What one byte of text becomes inside a JSON string: its character in UTF-8, escaped as
// nlohmann's dump escapes ('"', '\', the control characters), at most 6 bytes.
struct Escaped {
  char bytes[8];
  std::uint8_t length;
};
using EscapeTable = std::array<Escaped, 256>;

Escaped escape1252(unsigned char c) {
  Escaped e{};
  const std::string utf8 = cp1252ToUtf8(std::string(1, static_cast<char>(c)));
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  switch (c) {
    case '"': text = "\\\""; break;
    case '\\': text = "\\\\"; break;
    case '\b': text = "\\b"; break;
    case '\t': text = "\\t"; break;
    case '\n': text = "\\n"; break;
    case '\f': text = "\\f"; break;
    case '\r': text = "\\r"; break;
    default: text = c < 0x20 ? std::string("\\u00") + kHex[c >> 4] + kHex[c & 0xF] : utf8;
  }
  std::memcpy(e.bytes, text.data(), text.size());
  e.length = static_cast<std::uint8_t>(text.size());
  return e;
}

const EscapeTable& escapes1252() {
  static const EscapeTable table = [] {
    EscapeTable t{};
    for (int c = 0; c < 256; ++c)
      t[static_cast<std::size_t>(c)] = escape1252(static_cast<unsigned char>(c));
    return t;
  }();
  return table;
}

// Writes `text` as a JSON string, each byte through `escapes` (the table of code page 1252, or
// one that converts the table's code page on the way). Stretches of plain ASCII (no control,
// quote or backslash) are copied 16 bytes at a time.
void putString(Output& out, std::string_view text, const EscapeTable& escapes) {
  char* p = out.room(text.size() * 6 + 16);
  *p++ = '"';
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"'), slash = _mm_set1_epi8('\\');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    // Bytes to look up: above 0x7E (signed: negative, or 0x7F), controls, '"' and '\'.
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi8(_mm_set1_epi8(0x20), v),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F))),
                     _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, slash)));
    if (_mm_movemask_epi8(special) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
      p += 16;
      continue;
    }
    for (std::size_t k = i; k < i + 16; ++k) {
      const Escaped& e = escapes[in[k]];
      std::memcpy(p, e.bytes, 8);
      p += e.length;
    }
  }
#endif
  for (; i < n; ++i) {
    const Escaped& e = escapes[in[i]];
    std::memcpy(p, e.bytes, 8);
    p += e.length;
  }
  *p++ = '"';
  out.advance(p);
}

void putNumber(Output& out, double v) {
  if (!std::isfinite(v)) return out.put("null");
  char* p = out.room(64);
  // nlohmann's own formatting of a double, so that the lines are what its dump wrote.
  out.advance(nlohmann::detail::to_chars(p, p + 64, v));
}

template <class Integer>
void putInteger(Output& out, Integer v) {
  char* p = out.room(24);
  out.advance(std::to_chars(p, p + 24, v).ptr);
}

void putDay(Output& out, DateTime v) {
  char* p = out.room(12);
  p[0] = '"';
  putDayText(v, p + 1);
  p[11] = '"';
  out.advance(p + 12);
}

// decodeField's sink for the fields without a way of their own below.
struct LineSink {
  Output& out;
  void null() { out.put("null"); }
  void text(std::string_view t) { putString(out, t, escapes1252()); }
  void number(double v) { putNumber(out, v); }
  void integer(std::int64_t v) { putInteger(out, v); }
  void date(DateTime v) { putDay(out, v); }
  void dateTime(DateTime v) { putString(out, dateTimeText(v), escapes1252()); }
  void logical(bool v) { out.put(v ? "true" : "false"); }
};

// One field of the record lines: its key (with the comma before it, but for the first) and how
// its value is read: the usual character, numeric and date fields inside the record, as the
// table source reads them; the rest through decodeField.
struct Column {
  enum class Path : std::uint8_t { Text, Number, Date, General };
  std::string key;  // ,"NAME":
  const DbfField* field;
  Path path;
};

}  // namespace

int dumpDbf(const std::string& path, std::optional<int> codePage, std::ostream& out,
            std::ostream& err) {
  std::optional<DbfTable> table;
  try {
    table = DbfTable::open(pathFromUtf8(path), {codePage, std::nullopt});
  } catch (const DataError& e) {
    err << e.what() << '\n';
    return 1;
  }
  return dumpDbf(*table, out, err);
}

int dumpDbf(const DbfTable& table, std::ostream& out, std::ostream& err) {
  const auto& fields = table.fields();

  Json header;
  Json list = Json::array();
  for (const auto& f : fields) {
    list.push_back({{"name", cp1252ToUtf8(f.name)},
                    {"type", std::string(1, f.type)},
                    {"length", f.length},
                    {"decimals", f.decimals}});
  }
  header["fields"] = std::move(list);
  header["records"] = table.recordCount();
  header["code_page"] = table.codePage();
  if (!table.warnings().empty()) {
    Json warnings = Json::array();
    for (const auto& w : table.warnings()) {
      warnings.push_back(cp1252ToUtf8(w));
      // Code page 1252 text, but a file name in it may already be UTF-8.
      err << (isValidUtf8(w) ? w : cp1252ToUtf8(w)) << '\n';
    }
    header["warnings"] = std::move(warnings);
  }
  out << line(header) << '\n';

  // The first field of a name is the one a lookup reaches; later namesakes are left out.
  std::vector<Column> columns;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    bool shown = true;
    for (std::size_t j = 0; j < i && shown; ++j) shown = fields[j].name != fields[i].name;
    if (!shown) continue;
    const DbfField& f = fields[i];
    Column c{columns.empty() ? "" : ",", &f, Column::Path::General};
    c.key += line(Json(cp1252ToUtf8(f.name))) + ":";
    if (f.nullBit < 0 && f.lengthBit < 0) {
      if (f.reading == DbfReading::Character) c.path = Column::Path::Text;
      if (f.reading == DbfReading::Number) c.path = Column::Path::Number;
      if (f.reading == DbfReading::Date) c.path = Column::Path::Date;
    }
    columns.push_back(std::move(c));
  }
  // Text straight from the record: each byte through the table's code page, then as 1252 would.
  EscapeTable fromTable;
  for (std::size_t c = 0; c < 256; ++c) {
    fromTable[c] = escapes1252()[static_cast<unsigned char>(table.toAnsi()[c])];
  }

  Output lines(out);
  try {
    std::string scratch;
    for (auto slot = table.nextLive(0); slot < table.slotCount(); slot = table.nextLive(slot + 1)) {
      const auto record = table.record(slot);
      const char* bytes = reinterpret_cast<const char*>(record.data());
      lines.put("{\"recno\":");
      putInteger(lines, slot + 1);
      lines.put(",\"values\":{");
      for (const Column& c : columns) {
        lines.put(c.key);
        const char* raw = bytes + c.field->offset;
        const auto length = static_cast<std::size_t>(c.field->length);
        switch (c.path) {
          case Column::Path::Text: {
            std::uint64_t high = 0;
            const std::string_view text = trimCharacterInRecord(raw, length, high);
            if (text.empty())
              lines.put("null");  // a blank character field is null
            else
              putString(lines, text, fromTable);
            break;
          }
          case Column::Path::Number: {
            double value = 0;
            if (parseDbfNumberInRecord(raw, length, value))
              putNumber(lines, value);
            else
              lines.put("null");
            break;
          }
          case Column::Path::Date: {
            DateTime value{};
            if (parseDbfDateInRecord(raw, length, value))
              putDay(lines, value);
            else
              lines.put("null");
            break;
          }
          case Column::Path::General: {
            LineSink sink{lines};
            decodeField(table, *c.field, record, scratch, sink);
            break;
          }
        }
      }
      lines.put("}}\n");
    }
  } catch (const DataError& e) {
    // The file changed under us: what was printed stands, and the dump says why it stopped.
    lines.flush();
    out.flush();
    err << e.what() << '\n';
    return 1;
  }
  lines.flush();
  out.flush();
  return 0;
}

}  // namespace importacao
