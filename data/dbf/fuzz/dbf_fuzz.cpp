// libFuzzer entry: every input goes through exerciseDbf.
#include <cstddef>
#include <cstdint>
#include <span>

#include "data/dbf/fuzz/dbf_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  importacao::fuzzing::exerciseDbf({reinterpret_cast<const std::byte*>(data), size});
  return 0;
}
