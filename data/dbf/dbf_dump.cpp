#include "data/dbf/dbf_dump.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "data/dbf/dbf_decode.h"
#include "data/dbf/dbf_table.h"
#include "data/errors.h"
#include "normalise/codepage.h"
#include "platform/path.h"

namespace importacao {
namespace {

using Json = nlohmann::ordered_json;

std::string dateTimeText(DateTime value) {
  const double whole = std::floor(value.days);
  auto millis = static_cast<long long>(std::llround((value.days - whole) * 86400000.0));
  DateTime day{whole};
  if (millis >= 86400000) {  // rounding reached midnight
    millis -= 86400000;
    day.days += 1;
  }
  std::string text = dayText(day);
  char clock[40];
  const auto seconds = millis / 1000;
  std::snprintf(clock, sizeof clock, "T%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  text += clock;
  if (millis % 1000 != 0) {
    std::snprintf(clock, sizeof clock, ".%03lld", millis % 1000);
    text += clock;
  }
  return text;
}

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

std::string line(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

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
      err << w << '\n';
    }
    header["warnings"] = std::move(warnings);
  }
  out << line(header) << '\n';

  // The first field of a name is the one a lookup reaches; later namesakes are left out.
  std::vector<bool> shown(fields.size(), true);
  for (std::size_t i = 0; i < fields.size(); ++i)
    for (std::size_t j = 0; j < i && shown[i]; ++j)
      if (fields[j].name == fields[i].name) shown[i] = false;

  try {
    std::string scratch;
    for (auto slot = table.nextLive(0); slot < table.slotCount(); slot = table.nextLive(slot + 1)) {
      Json values = Json::object();
      const auto record = table.record(slot);
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!shown[i]) continue;
        Json& value = values[cp1252ToUtf8(fields[i].name)];
        JsonSink sink{value};
        decodeField(table, fields[i], record, scratch, sink);
      }
      Json row;
      row["recno"] = slot + 1;
      row["values"] = std::move(values);
      out << line(row) << '\n';
    }
  } catch (const DataError& e) {
    // The file changed under us: what was printed stands, and the dump says why it stopped.
    out.flush();
    err << e.what() << '\n';
    return 1;
  }
  out.flush();
  return 0;
}

}  // namespace importacao
