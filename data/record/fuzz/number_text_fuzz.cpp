// Feeds arbitrary text to the text-to-number readers and checks what must hold for any input:
// no crash or undefined behaviour, and the readers agree with each other and with the
// float-to-text form. The first byte picks the decimal separator ('.' even, ',' odd).
//
// Build with clang: cmake -DCMAKE_CXX_COMPILER=clang++ -DIMP_BUILD_FUZZ=ON, then run from an
// empty working corpus seeded with ours:
//   mkdir corpus && cp data/record/fuzz/seeds/* corpus/
//   number_text_fuzz -max_total_time=600 corpus
// An input that fails belongs in number_text_test.cpp as a row of the matching table.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "data/record/number_text.h"

using namespace importacao;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char separator = (data[0] & 1) != 0 ? ',' : '.';
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto number = parseFloat(text, separator);
  const auto whole = parseInteger(text);

  // A whole number is also a float, and the same one while a double holds it exactly.
  if (whole) {
    require(number.has_value());
    if (*whole > -(std::int64_t{1} << 53) && *whole < (std::int64_t{1} << 53)) {
      require(*number == static_cast<double>(*whole));
    }
    require(parseInteger(integerToText(*whole)) == whole);
  }
  if (number) {
    require(!std::isnan(*number) && !std::isinf(*number));
    // The float-to-text form reads back within its 15 significant digits.
    const std::string written = floatToText(*number, separator);
    const auto back = parseFloat(written, separator);
    require(back.has_value());
    require(std::fabs(*back - *number) <= std::fabs(*number) * 1e-14);
    require(floatToText(*back, separator) == written);
    // Decimal rounding lands within half a unit of the fourth place.
    const double rounded = roundDecimalHalfEven(*number, 4);
    require(std::fabs(rounded - *number) <= 0.00005 * (1 + 1e-9) + std::fabs(*number) * 1e-15);
    const double integral = roundHalfEven(*number);
    require(std::fabs(integral - *number) <= 0.5);
  }
  return 0;
}
