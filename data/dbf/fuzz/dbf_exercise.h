// Everything the fuzz target does with one input, shared with the test that replays the inputs
// the fuzzer once crashed on: parse the header, walk every presented record through the table
// source, read every field as text, float, integer and date-time, dump the table as the preview
// does, and bind the supplier table's declared fields. DataError (a refused file, a text that is
// not a number) is the expected answer; anything else escaping, a crash, a hang, a leak or an
// out-of-bounds read is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <sstream>
#include <string>

#include "data/dbf/dbf_decode.h"
#include "data/dbf/dbf_dump.h"
#include "data/dbf/legacy_database.h"
#include "data/dbf/legacy_table.h"
#include "data/errors.h"

namespace importacao::fuzzing {

// Opens the source and reads every field of every record in every form; returns how many
// records it walked.
inline long readEverything(LegacyTable& source) {
  source.open();
  (void)source.recordCount();
  long walked = 0;
  for (source.first(); !source.eof(); source.next()) {
    ++walked;
    (void)source.recordNumber();
    for (std::size_t i = 0; i < source.fieldCount(); ++i) {
      const Field& f = source.field(i);
      (void)f.asText();
      try {
        (void)f.asFloat();
      } catch (const DataError&) {
      }
      try {
        (void)f.asInteger();
      } catch (const DataError&) {
      }
      try {
        (void)f.asDateTime();
      } catch (const DataError&) {
      }
    }
  }
  (void)source.recordNumber();
  return walked;
}

// Decodes every field the way the dump does, date texts included.
struct TouchSink {
  std::size_t seen = 0;
  void null() { ++seen; }
  void text(std::string_view t) { seen += t.size(); }
  void number(double) { ++seen; }
  void integer(std::int64_t) { ++seen; }
  void date(DateTime v) { seen += dayText(v).size(); }
  void dateTime(DateTime v) { seen += dayText(v).size(); }
  void logical(bool) { ++seen; }
};

inline void exerciseDbf(std::span<const std::byte> bytes) {
  std::optional<DbfTable> table;
  try {
    table = DbfTable::fromBytes(bytes, "fuzz.dbf");
  } catch (const DbfError&) {
    return;
  }
  std::string scratch;
  TouchSink sink;
  for (auto s = table->nextLive(0); s < table->slotCount(); s = table->nextLive(s + 1)) {
    for (const auto& f : table->fields()) decodeField(*table, f, table->record(s), scratch, sink);
  }
  std::ostringstream lines, warnings;
  dumpDbf(*table, lines, warnings);
  try {
    LegacyTable derived("tProduto", *table);
    readEverything(derived);
  } catch (const DataError&) {
  }
  try {
    LegacyTable declared("tFornecedor", *table);
    declareFornecedorFields(declared);
    readEverything(declared);
  } catch (const DataError&) {
  }
}

}  // namespace importacao::fuzzing
