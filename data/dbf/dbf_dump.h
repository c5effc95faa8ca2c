// What `importacao-cli --dump-dbf FILE` prints: a legacy table as the table source presents it,
// as JSON lines in UTF-8, so that an operator can preview what an import will read.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace importacao {

class DbfTable;

// Writes to `out` one header line
//   {"fields":[{"name":..,"type":"C","length":..,"decimals":..},...],"records":N,"code_page":CP}
// (with "warnings":[...] added when reading found something odd), then one line per presented
// record, in file order:
//   {"recno":N,"values":{"FIELD":value,...}}
// Text is trimmed and converted to code page 1252, then written as UTF-8; numbers are JSON
// numbers; dates "YYYY-MM-DD", date-times "YYYY-MM-DDTHH:MM:SS" (".mmm" when there are
// milliseconds); logicals true/false; blank values, memo and binary fields null. A field name
// that appears twice keeps the value of its first field (the one a lookup by name reaches).
// `codePage` overrides the table's own. Returns 0; when the file cannot be read, writes the
// reader's message and a line break to `err` and returns 1. The warnings also go to `err`, in
// UTF-8. The output is written in blocks, so its memory does not grow with the table.
int dumpDbf(const std::string& path, std::optional<int> codePage, std::ostream& out,
            std::ostream& err);

// The same for a table already open. A record that cannot be read (the file was cut short by
// another program since it was opened) ends the dump: the lines printed so far stand, the
// reader's message goes to `err` and the result is 1.
int dumpDbf(const DbfTable& table, std::ostream& out, std::ostream& err);

}  // namespace importacao
