// How numbers read as text and text reads as numbers, independent of the C library's locale.
//
// The window runs under the user's locale, where the decimal separator may be ',' (pt_BR writes
// 12,50). The C functions (strtod, atof, printf, iostreams) follow the process locale and would
// read and write the wrong separator, so nothing here uses them: digits come from
// std::to_chars/std::from_chars and the separator is applied by hand. The separator is one
// process-wide setting, read once from the user's locale at start and pinned by tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace importacao {

// The decimal separator used by the float-to-text form and by parseFloat. Starts as '.'.
char decimalSeparator() noexcept;
void setDecimalSeparator(char separator) noexcept;

// Sets the decimal separator from the user's numeric locale (LC_ALL, LC_NUMERIC, LANG from the
// environment, as setlocale(LC_NUMERIC, "") would choose), without changing the process locale.
// A locale that cannot be loaded leaves '.'. Returns the separator set. Call once at start,
// before any other thread runs.
char initDecimalSeparatorFromEnvironment();

// --- Number to text ------------------------------------------------------------------------

// The float-to-text form: at most 15 significant digits (the value rounded to them); "-" for a
// negative value; no thousands separator; `separator` as the decimal separator; trailing zeros
// after the separator and a separator with nothing after it dropped. Plain form when the
// rounded value has at most 15 digits before the separator and its magnitude is at least
// 0.0001 ("1234", "12,5", "0,0001", "0"); otherwise exponent form: first digit, separator and
// the other significant digits if any, "E", "-" for a negative exponent (never "+"), the
// exponent without leading zeros ("1E15", "1E-5", "1,5E20"). Minus zero is "0"; not-a-number
// is "NAN", infinities "INF" and "-INF". Never throws except std::bad_alloc.
std::string floatToText(double value, char separator);
std::string floatToText(double value);  // with decimalSeparator()

// Appends the float-to-text form to `out` (no allocation once `out` has room).
void appendFloatText(std::string& out, double value, char separator);

// The general number format of messages (the range message's "%g"): the float-to-text form
// with decimalSeparator(); whole numbers read as their digits ("70000", "-32768",
// "2147483647"), larger ones in exponent form ("-9,22337203685478E18" with ',').
std::string formatGeneral(double value);

// Decimal digits with a leading "-" when negative, no separators.
std::string integerToText(std::int64_t value);

// --- Text to number ------------------------------------------------------------------------

// Reads a float from: optional blanks, an optional sign, digits with at most one `separator`
// and at least one digit, an optional exponent (E or e, an optional sign, at least one digit),
// optional blanks, and nothing else (no thousands separators, no "inf" or "nan", no hex).
// Blanks are spaces and tabs. nullopt for any other text, "" included, and for a value too
// large for a double; a value too small for one reads as 0 with its sign.
std::optional<double> parseFloat(std::string_view text, char separator);
std::optional<double> parseFloat(std::string_view text);  // with decimalSeparator()

// Reads a whole number from: optional blanks, an optional sign, at least one decimal digit,
// optional blanks, and nothing else. nullopt for any other text, "" included, and for a number
// outside the 64-bit range.
std::optional<std::int64_t> parseInteger(std::string_view text);

// --- Rounding ----------------------------------------------------------------------------

// The nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
// Not-a-number and infinities come back unchanged.
double roundHalfEven(double value) noexcept;

// `value` rounded to `places` decimal places (0 to 15), halves to the even neighbour, judged on
// the shortest decimal text that reads back as `value` (so 2.00005 rounds to 2.0000 and 2.00015
// to 2.0002 at four places, as a person reading those numbers would expect).
double roundDecimalHalfEven(double value, int places);

}  // namespace importacao
