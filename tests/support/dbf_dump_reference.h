// Test helper: the record lines of `importacao-cli --dump-dbf` as they were first written, one
// JSON object per record built and dumped by nlohmann::json. dumpDbf writes them by hand, much
// faster; tests and the benchmark hold it to this, byte for byte. Header-only; needs
// nlohmann_json.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "data/dbf/dbf_decode.h"
#include "data/dbf/dbf_table.h"
#include "normalise/codepage.h"

namespace importacao::test_support {

namespace reference_detail {

using Json = nlohmann::ordered_json;

struct JsonSink {
  Json& slot;
  void null() { slot = nullptr; }
  void text(std::string_view t) { slot = cp1252ToUtf8(t); }
  void number(double v) { slot = v; }
  void integer(std::int64_t v) { slot = v; }
  void date(DateTime v) { slot = dayText(v); }
  void dateTime(DateTime v) { slot = dateTimeText(v); }
  void logical(bool v) { slot = v; }
};

}  // namespace reference_detail

// Writes the record lines of `table` (not the header line) to `out`.
inline void referenceRecordLines(const DbfTable& table, std::ostream& out) {
  using reference_detail::Json;
  const auto& fields = table.fields();
  std::vector<bool> shown(fields.size(), true);
  for (std::size_t i = 0; i < fields.size(); ++i)
    for (std::size_t j = 0; j < i && shown[i]; ++j)
      if (fields[j].name == fields[i].name) shown[i] = false;
  std::string scratch;
  for (auto slot = table.nextLive(0); slot < table.slotCount(); slot = table.nextLive(slot + 1)) {
    Json values = Json::object();
    const auto record = table.record(slot);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (!shown[i]) continue;
      Json& value = values[cp1252ToUtf8(fields[i].name)];
      reference_detail::JsonSink sink{value};
      decodeField(table, fields[i], record, scratch, sink);
    }
    Json row;
    row["recno"] = slot + 1;
    row["values"] = std::move(values);
    out << row.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
  }
}

}  // namespace importacao::test_support
