// Test helper: the text of a table's character fields gathered for the code-page guess, as the
// table's open gathers it when the table does not say its code page, but for any table (so that
// tests can ask what the guess makes of tables whose language byte does say). Header-only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "data/dbf/dbf_decode.h"
#include "data/dbf/dbf_table.h"
#include "normalise/codepage_guess.h"

namespace importacao::test_support {

inline CodePageSample textSampleOf(const DbfTable& table) {
  CodePageSample sample;
  for (auto slot = table.nextLive(0); slot < table.slotCount() && !sample.full();
       slot = table.nextLive(slot + 1)) {
    const auto record = table.record(slot);
    for (const auto& f : table.fields()) {
      if (f.reading != DbfReading::Character || f.lengthBit >= 0) continue;
      std::uint64_t high = 0;
      const auto length = static_cast<std::size_t>(f.length);
      const auto text = trimCharacterInRecord(
          reinterpret_cast<const char*>(record.data()) + f.offset, length, high);
      if (high != 0) sample.add(text, text.size() == length);
    }
  }
  return sample;
}

}  // namespace importacao::test_support
