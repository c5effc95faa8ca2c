// The text operations that clean legacy values before they reach the store: punctuation out of
// codes and document numbers, EAN-13 barcodes from product codes, word case for names and plain
// letters for accented ones.
//
// All of them work byte for byte on code page 1252 text: a character is one byte and lengths
// count bytes. "Capital letter" and "small letter" mean the plain letters 'A'-'Z' and 'a'-'z';
// no other byte changes case except through the tables of ProperCaseName and RemoveAccents.
// They are pure (no state, thread-safe) and never throw on any bytes of any length, apart from
// std::bad_alloc when memory runs out.
#pragma once

#include <string>
#include <string_view>

namespace importacao {

// The text without its '-', '.' and '/' characters; every other byte stays, in order.
// "12.345.678/0001-90" gives "12345678000190".
std::string StripCodePunctuation(std::string_view text);

// The 13-digit EAN barcode of a legacy code: the code's digits ('0'-'9', every other byte left
// out), then "01", then the prefix number in decimal with at least two digits, read as one whole
// number (leading zeros do not count) and written back with at least 12 digits; when that is
// longer than 12, only its last 12 remain. That body is followed by Ean13CheckDigit of it.
// With prefix 1: "12345" gives "0001234501011", "123456789" gives "2345678901012".
//
// Codes of any length: the arithmetic is done on the digit text, exactly, so a code of 15 or
// more digits (whose number is too large for a 64-bit integer) gives the last 12 digits of that
// number like any shorter one; the result is always 13 digits.
// A negative prefix number contributes the digits of its magnitude: the sign is not a digit.
std::string MakeEan13(std::string_view code, int prefix);

// The EAN-13 check digit of a 12-digit body, as a text of one digit: digits at odd positions
// (from the left, from 1) weigh 1, those at even positions 3, and the check digit lifts the sum
// to the next multiple of ten ("0" when it is one already).
// Other input, never passed by MakeEan13: positions are weighed from the right (3 on the last
// digit), which is the same rule for 12 digits and the GS1 check digit of any other run of
// digits (GTIN-8, GTIN-12, GTIN-14); the empty text gives "0". A text holding any byte other
// than a digit gives the empty text: it has no check digit.
std::string Ean13CheckDigit(std::string_view twelveDigits);

// A capital letter becomes its small letter; any other byte is returned unchanged.
char LowerLetter(char c);

// A name in word case, of the same length as the text:
// - every capital letter becomes small, then a small letter after a blank becomes capital, and
//   so does a small letter at the very start; accented letters never become capital, so a word
//   that begins with one stays small ("MARIA ÁGUEDA" gives "Maria águeda");
// - the connectives "e", "da", "de", "do", "das" and "dos" stay small when a blank comes before
//   them and a blank or the end of the text after ("MARIA DOS SANTOS E SILVA" gives
//   "Maria dos Santos e Silva"); at the start of the text they are not connectives;
// - accented capitals become small ('É' gives 'é'), and so do 128 and 144 (to 'ç' and 'é') and
//   182 and 229 (to 'â'), except at the last position, which keeps its byte: "JOSÉ" gives
//   "JosÉ", "JOSÉ MARIA" gives "José Maria".
std::string ProperCaseName(std::string_view text);

// The text with accented letters made plain and a few bytes dropped, one byte at a time:
//   128 € 192 À 193 Á 194 Â 195 Ã 196 Ä 230 æ   -> "A"
//   224 à 225 á 226 â 227 ã 228 ä               -> "a"
//   200 È 201 É 202 Ê 203 Ë                     -> "E"
//   232 è 233 é 234 ê 235 ë                     -> "e"
//   153 ™ 204 Ì 205 Í 206 Î 207 Ï               -> "I"
//   236 ì 237 í 238 î 239 ï                     -> "i"
//   131 ƒ 210 Ò 211 Ó 212 Ô 213 Õ 214 Ö         -> "O"
//   134 † 242 ò 243 ó 244 ô 245 õ 246 ö         -> "o"
//   217 Ù 218 Ú 219 Û 220 Ü                     -> "U"
//   44 , 249 ù 250 ú 251 û 252 ü                -> "u"
//   63 ? 199 Ç                                  -> "C"
//   231 ç                                       -> "c"
//   40 ( 41 ) 46 . 47 / 58 :                    -> dropped
// Every other byte stays (blank, digits, '-', 197 Å, 198 Æ, 209 Ñ, 229 å, 241 ñ, 253-255 ...).
// The comma and the question mark are rows like the others: "Concei?ao" gives "ConceiCao",
// "Silva, Joao" gives "Silvau Joao", "Rua (A) 1/2." gives "Rua A 12".
std::string RemoveAccents(std::string_view text);

}  // namespace importacao
