#include "data/record/field.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <variant>

#include "data/errors.h"
#include "data/record/number_text.h"
#include "data/record/record_source.h"
#include "normalise/ascii.h"
#include "normalise/codepage.h"

namespace importacao {
namespace {

// Date-times count days from 30 December 1899; 25569 days lie between it and 1 January 1970.
constexpr long long kUnixEpochDay = 25569;
constexpr long long kMillisecondsPerDay = 86'400'000;

// Days since 1 January 1970 of a civil date (proleptic Gregorian), and back.
long long daysFromCivil(long long y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct Civil {
  long long year;
  unsigned month;
  unsigned day;
};

Civil civilFromDays(long long z) noexcept {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

bool leapYear(long long y) noexcept { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(long long y, unsigned m) noexcept {
  static constexpr std::array<unsigned, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

void appendPadded(std::string& out, long long value, int width) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  const auto length = static_cast<int>(result.ptr - buffer.data());
  if (value >= 0) out.append(static_cast<std::size_t>(width > length ? width - length : 0), '0');
  out.append(buffer.data(), result.ptr);
}

// A date-time as text: the whole days are the date; the fraction, whatever the sign of the
// value, is the time of day (-1.25 is 29 December 1899, 06:00).
std::string dateTimeText(FieldKind kind, double days) {
  if (!std::isfinite(days) || std::fabs(days) > 1e9) return floatToText(days);
  double whole = std::trunc(days);
  long long ms = std::llround(std::fabs(days - whole) * kMillisecondsPerDay);
  if (ms >= kMillisecondsPerDay) {  // rounds up to the next midnight
    ms = 0;
    whole += days < 0 ? -1 : 1;
  }
  std::string out;
  if (kind != FieldKind::Time) {
    const Civil c = civilFromDays(static_cast<long long>(whole) - kUnixEpochDay);
    appendPadded(out, c.year, 4);
    out.push_back('-');
    appendPadded(out, c.month, 2);
    out.push_back('-');
    appendPadded(out, c.day, 2);
    if (kind == FieldKind::Date) return out;
    out.push_back(' ');
  }
  appendPadded(out, ms / 3'600'000, 2);
  out.push_back(':');
  appendPadded(out, ms / 60'000 % 60, 2);
  out.push_back(':');
  appendPadded(out, ms / 1000 % 60, 2);
  if (ms % 1000 != 0) {
    out.push_back('.');
    appendPadded(out, ms % 1000, 3);
  }
  return out;
}

// Reads what dateTimeText writes: "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.mmm]]" or
// "HH:MM[:SS[.mmm]]". Blanks around are allowed.
std::optional<double> parseDateTimeText(std::string_view text) {
  text = trimBlanks(text);
  std::size_t i = 0;
  const auto number = [&](std::size_t width, long long& out) {
    if (i + width > text.size()) return false;
    for (std::size_t k = i; k < i + width; ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
    }
    std::from_chars(text.data() + i, text.data() + i + width, out);
    i += width;
    return true;
  };
  const auto expect = [&](char c) {
    if (i < text.size() && text[i] == c) {
      ++i;
      return true;
    }
    return false;
  };
  double days = 0.0;
  bool hasDate = false;
  if (text.size() >= 10 && text[4] == '-') {
    long long y = 0, m = 0, d = 0;
    if (!number(4, y) || !expect('-') || !number(2, m) || !expect('-') || !number(2, d)) {
      return std::nullopt;
    }
    if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, static_cast<unsigned>(m))) {
      return std::nullopt;
    }
    days = static_cast<double>(
        daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + kUnixEpochDay);
    hasDate = true;
    if (i == text.size()) return days;
    if (!expect(' ')) return std::nullopt;
  }
  long long h = 0, mi = 0, s = 0, ms = 0;
  if (!number(2, h) || !expect(':') || !number(2, mi)) return std::nullopt;
  if (expect(':')) {
    if (!number(2, s)) return std::nullopt;
    if (expect('.') && !number(3, ms)) return std::nullopt;
  }
  if (i != text.size() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  const double time =
      static_cast<double>(((h * 60 + mi) * 60 + s) * 1000 + ms) / kMillisecondsPerDay;
  if (!hasDate) return time;
  return days < 0 ? days - time : days + time;
}

std::optional<bool> parseBooleanText(std::string_view text) {
  std::string lower;
  for (char c : text) {
    if (c != ' ' && c != '\t') lower.push_back(lowerAscii(c));
  }
  if (lower == "true" || lower == "t" || lower == "y" || lower == "1") return true;
  if (lower == "false" || lower == "f" || lower == "n" || lower == "0") return false;
  return std::nullopt;
}

// Cuts a text at its first character of code 0, then to `size` characters (no limit when
// size is 0 or less).
template <typename View>
View cutText(View text, int size) noexcept {
  const auto nul = text.find(typename View::value_type{0});
  if (nul != View::npos) text = text.substr(0, nul);
  if (size > 0 && text.size() > static_cast<std::size_t>(size)) {
    text = text.substr(0, static_cast<std::size_t>(size));
  }
  return text;
}

// The largest double below 2^63; whole doubles in [-2^63, 2^63) convert to int64 exactly.
constexpr double kTwoTo63 = 9223372036854775808.0;

}  // namespace

// A value handed to a field, seen without copying: null, integer, float, text, wide text,
// date-time or boolean.
struct FieldInput {
  std::variant<std::monostate, std::int64_t, double, std::string_view, std::u16string_view,
               DateTime, bool>
      value;
};

namespace {

FieldInput inputOf(const Value& value) {
  return std::visit(
      [](const auto& v) -> FieldInput {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return {std::string_view(v)};
        } else if constexpr (std::is_same_v<T, WideText>) {
          return {std::u16string_view(v)};
        } else {
          return {v};
        }
      },
      value);
}

// The 8-bit text form of a non-null input, for text kinds.
std::string textOf(const FieldInput& in) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string_view>) {
          return std::string(v);
        } else if constexpr (std::is_same_v<T, std::u16string_view>) {
          return utf16ToCp1252(v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return integerToText(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return floatToText(v);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return dateTimeText(FieldKind::DateTime, v.days);
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else {
          return {};
        }
      },
      in.value);
}

// The input's 8-bit text: the input itself when it is 8-bit text, else its text form in `owned`.
std::string_view textViewOf(const FieldInput& in, std::string& owned) {
  if (const auto* view = std::get_if<std::string_view>(&in.value)) return *view;
  owned = textOf(in);
  return owned;
}

std::u16string_view wideViewOf(const FieldInput& in, std::u16string& owned) {
  if (const auto* view = std::get_if<std::u16string_view>(&in.value)) return *view;
  owned = cp1252ToUtf16(textOf(in));
  return owned;
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// One converter per storage: the non-null input in the form the storage keeps, or nullopt when
// it cannot be converted. Texts (and a null, which the callers handle first) go through textOf.

std::optional<bool> booleanOf(const FieldInput& in) {
  return std::visit(Overloaded{[](std::int64_t v) -> std::optional<bool> { return v != 0; },
                               [](double v) -> std::optional<bool> { return v != 0.0; },
                               [](bool v) -> std::optional<bool> { return v; },
                               [](DateTime v) -> std::optional<bool> { return v.days != 0.0; },
                               [&](const auto&) { return parseBooleanText(textOf(in)); }},
                    in.value);
}

std::optional<double> numberOf(const FieldInput& in) {
  return std::visit(
      Overloaded{[](std::int64_t v) -> std::optional<double> { return static_cast<double>(v); },
                 [](double v) -> std::optional<double> { return v; },
                 [](bool v) -> std::optional<double> { return v ? 1.0 : 0.0; },
                 [](DateTime v) -> std::optional<double> { return v.days; },
                 [&](const auto&) { return parseFloat(textOf(in)); }},
      in.value);
}

// A Boolean is no date.
std::optional<double> daysOf(const FieldInput& in) {
  return std::visit(
      Overloaded{[](std::int64_t v) -> std::optional<double> { return static_cast<double>(v); },
                 [](double v) -> std::optional<double> { return v; },
                 [](bool) -> std::optional<double> { return std::nullopt; },
                 [](DateTime v) -> std::optional<double> { return v.days; },
                 [&](const auto&) { return parseDateTimeText(textOf(in)); }},
      in.value);
}

// For integer storage: a whole number as it is, or a number still to be rounded.
using WholeOrNumber = std::variant<std::int64_t, double>;

std::optional<WholeOrNumber> wholeOrNumberOf(const FieldInput& in) {
  using Result = std::optional<WholeOrNumber>;
  return std::visit(
      Overloaded{[](std::int64_t v) -> Result { return v; },
                 [](bool v) -> Result { return std::int64_t{v ? 1 : 0}; },
                 [](double v) -> Result { return v; }, [](DateTime v) -> Result { return v.days; },
                 [&](const auto&) -> Result {
                   const std::string text = textOf(in);
                   if (const auto whole = parseInteger(text)) return *whole;
                   if (const auto number = parseFloat(text)) return *number;
                   return std::nullopt;
                 }},
      in.value);
}

}  // namespace

// --- Kinds -----------------------------------------------------------------------------------

std::string_view kindName(FieldKind kind) noexcept {
  switch (kind) {
    case FieldKind::Unknown: return "Unknown";
    case FieldKind::Text: return "String";
    case FieldKind::FixedText: return "FixedChar";
    case FieldKind::WideText: return "WideString";
    case FieldKind::Memo: return "Memo";
    case FieldKind::SmallInt: return "SmallInt";
    case FieldKind::Word: return "Word";
    case FieldKind::Integer: return "Integer";
    case FieldKind::LargeInt: return "LargeInt";
    case FieldKind::AutoInc: return "AutoInc";
    case FieldKind::Float: return "Float";
    case FieldKind::Bcd: return "BCD";
    case FieldKind::Boolean: return "Boolean";
    case FieldKind::Date: return "Date";
    case FieldKind::Time: return "Time";
    case FieldKind::DateTime: return "DateTime";
    case FieldKind::Guid: return "Guid";
    case FieldKind::Bytes: return "Bytes";
    case FieldKind::VarBytes: return "VarBytes";
    case FieldKind::Blob: return "Blob";
    case FieldKind::Graphic: return "Graphic";
  }
  return "Unknown";
}

bool isTextKind(FieldKind kind) noexcept {
  return kind == FieldKind::Text || kind == FieldKind::FixedText || kind == FieldKind::WideText ||
         kind == FieldKind::Memo || kind == FieldKind::Guid;
}

bool isIntegerKind(FieldKind kind) noexcept {
  return kind == FieldKind::SmallInt || kind == FieldKind::Word || kind == FieldKind::Integer ||
         kind == FieldKind::LargeInt || kind == FieldKind::AutoInc;
}

bool isDateTimeKind(FieldKind kind) noexcept {
  return kind == FieldKind::Date || kind == FieldKind::Time || kind == FieldKind::DateTime;
}

bool isBinaryKind(FieldKind kind) noexcept {
  return kind == FieldKind::Bytes || kind == FieldKind::VarBytes || kind == FieldKind::Blob ||
         kind == FieldKind::Graphic;
}

int defaultSize(FieldKind kind) noexcept {
  switch (kind) {
    case FieldKind::Text:
    case FieldKind::FixedText:
    case FieldKind::WideText: return 20;
    case FieldKind::Guid: return 38;
    default: return 0;
  }
}

std::optional<IntegerRange> integerRange(FieldKind kind) noexcept {
  switch (kind) {
    case FieldKind::SmallInt: return IntegerRange{-32768, 32767};
    case FieldKind::Word: return IntegerRange{0, 65535};
    case FieldKind::Integer:
    case FieldKind::AutoInc: return IntegerRange{-2147483648LL, 2147483647LL};
    case FieldKind::LargeInt:
      return IntegerRange{std::numeric_limits<std::int64_t>::min(),
                          std::numeric_limits<std::int64_t>::max()};
    default: return std::nullopt;
  }
}

namespace {

enum class Family { None, Integer, Date, Blob, Text };

Family familyOf(FieldKind kind) noexcept {
  switch (kind) {
    case FieldKind::SmallInt:
    case FieldKind::Integer:
    case FieldKind::Word:
    case FieldKind::AutoInc: return Family::Integer;
    case FieldKind::Date:
    case FieldKind::Time:
    case FieldKind::DateTime: return Family::Date;
    case FieldKind::Memo:
    case FieldKind::Blob:
    case FieldKind::Graphic: return Family::Blob;
    case FieldKind::Text:
    case FieldKind::FixedText:
    case FieldKind::Guid: return Family::Text;
    default: return Family::None;
  }
}

}  // namespace

bool kindsFit(FieldKind declared, FieldKind actual, bool storeExtras) noexcept {
  if (declared == actual) return true;
  const Family family = familyOf(declared);
  if (family != Family::None && family == familyOf(actual)) return true;
  if (!storeExtras) return false;
  const auto textOrWide = [](FieldKind k) {
    return k == FieldKind::Text || k == FieldKind::FixedText || k == FieldKind::WideText;
  };
  const auto floatOrBcd = [](FieldKind k) { return k == FieldKind::Float || k == FieldKind::Bcd; };
  return (textOrWide(declared) && textOrWide(actual)) ||
         (floatOrBcd(declared) && floatOrBcd(actual));
}

namespace {

// Lower case of one code page 1252 byte: ASCII letters, the accented capitals À-Þ (but not
// the multiplication sign ×), and Š, Œ, Ž, Ÿ.
constexpr unsigned char lowerCase(unsigned char c) noexcept {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A: return 0x9A;  // Š
    case 0x8C: return 0x9C;  // Œ
    case 0x8E: return 0x9E;  // Ž
    case 0x9F: return 0xFF;  // Ÿ
    default: return c;
  }
}

// The same, looked up: every field name lookup folds each byte of two names.
constexpr std::array<unsigned char, 256> kLowerCase = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[static_cast<std::size_t>(c)] = lowerCase(static_cast<unsigned char>(c));
  return table;
}();

inline unsigned char foldCase(unsigned char c) noexcept { return kLowerCase[c]; }

}  // namespace

bool namesEqual(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldCase(static_cast<unsigned char>(a[i])) != foldCase(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::size_t nameHash(std::string_view name) noexcept {
  std::uint64_t hash = 0xCBF29CE484222325ULL;  // FNV-1a over the folded bytes
  for (char c : name) {
    hash ^= foldCase(static_cast<unsigned char>(c));
    hash *= 0x100000001B3ULL;
  }
  return static_cast<std::size_t>(hash);
}

// --- Field -----------------------------------------------------------------------------------

Field::Field(std::string name, FieldKind kind, std::optional<int> size, bool readOnly)
    : name_(std::move(name)),
      kind_(kind),
      size_(size ? *size : defaultSize(kind)),
      readOnly_(readOnly),
      declaredReadOnly_(readOnly),
      storage_(storageOf(kind)) {}

Field::Storage Field::storageOf(FieldKind kind) noexcept {
  if (kind == FieldKind::WideText) return Storage::Wide;
  if (isIntegerKind(kind)) return Storage::Integer;
  if (kind == FieldKind::Boolean) return Storage::Boolean;
  if (kind == FieldKind::Float || kind == FieldKind::Bcd) return Storage::Number;
  if (isDateTimeKind(kind)) return Storage::Date;
  return Storage::Text;  // text, fixed text, memo, guid, binary kinds, unknown
}

Field::~Field() = default;

std::string_view Field::textView() const noexcept {
  if (null_ || storage_ != Storage::Text) return {};
  return text_;
}

std::string Field::textOfOther() const {
  if (null_) return {};
  switch (storage_) {
    case Storage::Text: return text_;
    case Storage::Wide: return utf16ToCp1252(wide_);
    case Storage::Integer: return integerToText(integer_);
    case Storage::Boolean: return integer_ != 0 ? "True" : "False";
    case Storage::Number: return floatToText(float_);
    case Storage::Date: return dateTimeText(kind_, float_);
  }
  return {};
}

const std::string& Field::textRefOfOther() const {
  static const std::string kEmpty;
  if (null_) return kEmpty;
  switch (storage_) {
    case Storage::Text: return text_;
    case Storage::Number:
      scratch_.clear();
      appendFloatText(scratch_, float_, decimalSeparator());
      return scratch_;
    default: scratch_ = asText(); return scratch_;
  }
}

double Field::floatOfOther() const {
  if (null_) return 0.0;
  switch (storage_) {
    case Storage::Integer:
    case Storage::Boolean: return static_cast<double>(integer_);
    case Storage::Number:
    case Storage::Date: return float_;
    case Storage::Text:
    case Storage::Wide: break;
  }
  const std::string text = asText();
  if (const auto value = parseFloat(text)) return *value;
  throw DataError("'" + text + "' is not a valid floating point value");
}

std::int64_t Field::asInteger() const {
  if (null_) return 0;
  switch (storage_) {
    case Storage::Integer:
    case Storage::Boolean: return integer_;
    case Storage::Number: {
      const double rounded = roundHalfEven(float_);
      if (rounded >= -kTwoTo63 && rounded < kTwoTo63) return static_cast<std::int64_t>(rounded);
      throw DataError("'" + floatToText(float_) + "' is not a valid integer value");
    }
    case Storage::Date: {
      const double whole = std::trunc(float_);
      if (whole >= -kTwoTo63 && whole < kTwoTo63) return static_cast<std::int64_t>(whole);
      throw DataError("'" + floatToText(float_) + "' is not a valid integer value");
    }
    case Storage::Text:
    case Storage::Wide: break;
  }
  const std::string text = asText();
  if (const auto value = parseInteger(text)) return *value;
  throw DataError("'" + text + "' is not a valid integer value");
}

DateTime Field::asDateTime() const {
  if (null_) return DateTime{};
  switch (storage_) {
    case Storage::Integer:
    case Storage::Boolean: return DateTime{static_cast<double>(integer_)};
    case Storage::Number:
    case Storage::Date: return DateTime{float_};
    case Storage::Text:
    case Storage::Wide: break;
  }
  const std::string text = asText();
  if (const auto days = parseDateTimeText(text)) return DateTime{*days};
  throw DataError("'" + text + "' is not a valid date and time");
}

bool Field::asBoolean() const {
  if (null_) return false;
  switch (storage_) {
    case Storage::Integer:
    case Storage::Boolean: return integer_ != 0;
    case Storage::Number:
    case Storage::Date: return float_ != 0.0;
    case Storage::Text:
    case Storage::Wide: break;
  }
  const std::string text = asText();
  if (const auto value = parseBooleanText(text)) return *value;
  throw DataError("'" + text + "' is not a valid boolean value");
}

Value Field::value() const {
  if (null_) return std::monostate{};
  switch (storage_) {
    case Storage::Text: return text_;
    case Storage::Wide: return wide_;
    case Storage::Integer:
    case Storage::Boolean: return integer_;
    case Storage::Number: return float_;
    case Storage::Date: return DateTime{float_};
  }
  return std::monostate{};
}

// --- Conversion ------------------------------------------------------------------------------

template <typename T, typename Keep>
bool Field::storeHeld(const std::optional<T>& converted, Keep keep) {
  if (!converted) return false;
  keep(*converted);
  null_ = false;
  return true;
}

// Converts `in` to this field's kind and stores it. Returns false, leaving the field as it was,
// when the input cannot be converted. `assigning` applies the rules of an assignment: texts
// end at NUL and are cut to size, and a number outside an integer kind's range throws the
// range message (also leaving the field as it was). A fetched value is stored as the row holds
// it, as long as the kind's storage can hold it at all.
bool Field::storeInput(const FieldInput& in, bool assigning) {
  if (std::holds_alternative<std::monostate>(in.value)) {
    null_ = true;
    return true;
  }
  switch (storage_) {
    case Storage::Text: return storeText(in, assigning);
    case Storage::Wide: return storeWide(in, assigning);
    case Storage::Integer: return storeInteger(in, assigning);
    case Storage::Boolean: return storeHeld(booleanOf(in), [&](bool v) { integer_ = v ? 1 : 0; });
    case Storage::Number:  // a decimal keeps four places, rounded halves-to-even
      return storeHeld(numberOf(in), [&](double v) {
        float_ = kind_ == FieldKind::Bcd ? roundDecimalHalfEven(v, 4) : v;
      });
    case Storage::Date: return storeHeld(daysOf(in), [&](double v) { float_ = v; });
  }
  return false;
}

bool Field::storeText(const FieldInput& in, bool assigning) {
  std::string owned;
  std::string_view text = textViewOf(in, owned);
  if (kind_ == FieldKind::Memo) {
    // A long text keeps everything; the empty text stores null.
    if (text.empty()) {
      null_ = true;
      return true;
    }
  } else if (assigning && !isBinaryKind(kind_) && kind_ != FieldKind::Unknown) {
    text = cutText(text, size_);
  }
  text_.assign(text.data(), text.size());
  null_ = false;
  return true;
}

bool Field::storeWide(const FieldInput& in, bool assigning) {
  std::u16string owned;
  std::u16string_view text = wideViewOf(in, owned);
  if (assigning) text = cutText(text, size_);
  wide_.assign(text.data(), text.size());
  null_ = false;
  return true;
}

// Whole numbers pass as they are; fractions round halves-to-even; then the range, which an
// assignment enforces and a fetch only needs for the 64 bits it stores in.
bool Field::storeInteger(const FieldInput& in, bool assigning) {
  const auto input = wholeOrNumberOf(in);
  if (!input) return false;
  const IntegerRange range = *integerRange(kind_);
  const auto throwOutOfRange = [&](double shown) {
    throw DataError(formatGeneral(shown) + " is not a valid value for field '" + name_ +
                    "'. The allowed range is " + formatGeneral(static_cast<double>(range.lowest)) +
                    " to " + formatGeneral(static_cast<double>(range.highest)));
  };
  std::int64_t whole = 0;
  if (const auto* number = std::get_if<double>(&*input)) {
    const double rounded = roundHalfEven(*number);
    const bool inRange = rounded >= static_cast<double>(range.lowest) &&
                         rounded <= static_cast<double>(range.highest) && rounded < kTwoTo63;
    if (!inRange) {  // not-a-number included
      if (assigning) throwOutOfRange(rounded);
      if (!(rounded >= -kTwoTo63 && rounded < kTwoTo63)) return false;  // 64 bits cannot
    }
    whole = static_cast<std::int64_t>(rounded);
  } else {
    whole = std::get<std::int64_t>(*input);
  }
  if (assigning && (whole < range.lowest || whole > range.highest)) {
    throwOutOfRange(static_cast<double>(whole));
  }
  integer_ = whole;
  null_ = false;
  return true;
}

void Field::checkCanAssign() const {
  if (owner_ != nullptr && owner_->state() != SourceState::Edit &&
      owner_->state() != SourceState::Insert) {
    owner_->fail("Dataset not in edit or insert mode");
  }
  if (readOnly_) throw DataError("Field '" + name_ + "' cannot be modified");
}

void Field::assignInput(const FieldInput& in) {
  checkCanAssign();
  if (!storeInput(in, true)) {
    throw DataError("Invalid value for field '" + name_ + "'");
  }
  if (owner_ != nullptr && !modified_) owner_->noteAssigned(*this);
}

void Field::assignText(std::string_view text) { assignInput({text}); }
void Field::assignWideText(std::u16string_view text) { assignInput({text}); }
void Field::assignInteger(std::int64_t value) { assignInput({value}); }
void Field::assignFloat(double value) { assignInput({value}); }
void Field::assignDateTime(DateTime value) { assignInput({value}); }
void Field::assignBoolean(bool value) { assignInput({value}); }
void Field::assignValue(const Value& value) { assignInput(inputOf(value)); }
void Field::clear() { assignInput({}); }

// --- Engine hooks ----------------------------------------------------------------------------

void Field::setFetchedText(std::string_view bytes) {
  if (storage_ == Storage::Text) {  // the walk's path: reuse the buffer
    text_.assign(bytes.data(), bytes.size());
    null_ = false;
    return;
  }
  if (!storeInput({bytes}, false)) null_ = true;
}

void Field::setFetchedWideText(std::u16string_view text) {
  if (kind_ == FieldKind::WideText) {
    wide_.assign(text.data(), text.size());
    null_ = false;
    return;
  }
  if (!storeInput({text}, false)) null_ = true;
}

void Field::setFetchedInteger(std::int64_t value) {
  if (storage_ == Storage::Integer) {
    integer_ = value;
    null_ = false;
    return;
  }
  if (!storeInput({value}, false)) null_ = true;
}

void Field::fetchOther(double value) {
  if (!storeInput({value}, false)) null_ = true;
}

void Field::fetchOther(DateTime value) {
  if (!storeInput({value}, false)) null_ = true;
}

void Field::setFetchedBoolean(bool value) {
  if (!storeInput({value}, false)) null_ = true;
}

void Field::setFetchedValue(const Value& value) {
  if (!storeInput(inputOf(value), false)) null_ = true;
}

}  // namespace importacao
