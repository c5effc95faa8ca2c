#include "data/store/dialect.h"

#include <algorithm>
#include <climits>

#include "data/errors.h"
#include "normalise/codepage.h"

namespace importacao {

namespace {

bool containsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t j = 0; j < word.size() && same; ++j) {
      same = lowerAscii(text[i + j]) == lowerAscii(word[j]);
    }
    if (same) return true;
  }
  return false;
}

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#' || c == '@' || static_cast<unsigned char>(c) >= 0x80;
}

// SQL Server's own SQL types (msodbcsql.h, FreeTDS's odbcss.h).
constexpr SQLSMALLINT kSqlServerXml = -152;              // SQL_SS_XML
constexpr SQLSMALLINT kSqlServerTime = -154;             // SQL_SS_TIME2
constexpr SQLSMALLINT kSqlServerTimestampOffset = -155;  // SQL_SS_TIMESTAMPOFFSET

int clampSize(SQLULEN size) {
  return size > static_cast<SQLULEN>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// Reads one word (letters, digits, '_'...) at `at`, lower-cased; empty when there is none.
std::string wordAt(std::string_view text, std::size_t at) {
  std::string word;
  while (at < text.size() && isWordChar(text[at])) word += lowerAscii(text[at++]);
  return word;
}

}  // namespace

std::string_view storeKindName(StoreKind kind) noexcept {
  switch (kind) {
    case StoreKind::SqlServer: return "SQL Server";
    case StoreKind::PostgreSql: return "PostgreSQL";
    case StoreKind::Sqlite: return "SQLite";
    case StoreKind::Other: return "other";
  }
  return "other";
}

StoreKind storeKindFromDriver(std::string_view dbmsName, std::string_view driverName) noexcept {
  for (std::string_view text : {dbmsName, driverName}) {
    if (containsNoCase(text, "SQL Server") || containsNoCase(text, "tdsodbc") ||
        containsNoCase(text, "msodbcsql")) {
      return StoreKind::SqlServer;
    }
    if (containsNoCase(text, "PostgreSQL") || containsNoCase(text, "psqlodbc")) {
      return StoreKind::PostgreSql;
    }
    if (containsNoCase(text, "SQLite")) return StoreKind::Sqlite;
  }
  return StoreKind::Other;
}

ColumnKind columnKind(const odbc::ColumnDescription& column, StoreKind store) noexcept {
  // Only SQL Server keeps national character types apart from the others.
  const bool wideIsNarrow = store == StoreKind::PostgreSql || store == StoreKind::Sqlite;
  const int size = clampSize(column.columnSize);
  // Unbounded: SQL Server's (max) types (no size, or one beyond the bounded types' 8000 bytes);
  // elsewhere a size of 0.
  const bool sqlServer = store == StoreKind::SqlServer;
  const auto unbounded = [&](SQLULEN boundedMaximum) {
    return (sqlServer || store == StoreKind::Other) &&
           (column.columnSize == 0 || (sqlServer && column.columnSize > boundedMaximum));
  };
  switch (column.sqlType) {
    case SQL_CHAR: return {FieldKind::FixedText, size};
    case SQL_VARCHAR:
      if (unbounded(8000)) return {FieldKind::Memo, 0};
      return {FieldKind::Text, size};
    case SQL_WCHAR: return {wideIsNarrow ? FieldKind::FixedText : FieldKind::WideText, size};
    case SQL_WVARCHAR:
      if (unbounded(4000)) return {FieldKind::Memo, 0};
      return {wideIsNarrow ? FieldKind::Text : FieldKind::WideText, size};
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      // PostgreSQL's text functions (upper() among them) return its unbounded text type, which
      // its driver reports as a long text. A value the statement computes is no stored memo.
      if (store == StoreKind::PostgreSql && column.baseTable.empty())
        return {FieldKind::Text, size};
      return {FieldKind::Memo, 0};
    case SQL_INTEGER: return {column.autoIncrement ? FieldKind::AutoInc : FieldKind::Integer, 0};
    case SQL_SMALLINT: return {FieldKind::SmallInt, 0};
    case SQL_TINYINT: return {FieldKind::Word, 0};
    case SQL_BIGINT: return {FieldKind::LargeInt, 0};
    case SQL_BIT: return {FieldKind::Boolean, 0};
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return {FieldKind::Float, 0};
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      if (column.decimalDigits == 0 && column.columnSize < 10) {
        return {column.autoIncrement ? FieldKind::AutoInc : FieldKind::Integer, 0};
      }
      return {FieldKind::Bcd, 0};
    case SQL_TYPE_DATE:
    case SQL_DATE: return {FieldKind::Date, 0};
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSqlServerTime: return {FieldKind::Time, 0};
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case kSqlServerTimestampOffset: return {FieldKind::DateTime, 0};
    case kSqlServerXml: return {FieldKind::Memo, 0};
    case SQL_GUID: return {FieldKind::Guid, 38};
    case SQL_BINARY: return {FieldKind::Bytes, 0};
    case SQL_VARBINARY:
      if (unbounded(8000)) return {FieldKind::Blob, 0};
      return {FieldKind::VarBytes, 0};
    case SQL_LONGVARBINARY: return {FieldKind::Blob, 0};
    default: return {FieldKind::Unknown, 0};
  }
}

std::string nameFromDriver(std::string_view name, StoreKind store) {
  if (store != StoreKind::Sqlite) return std::string(name);
  const std::u16string units = utf8ToUtf16(name);
  std::string bytes;
  bool high = false;
  for (char16_t unit : units) {
    if (unit > 0xff) return std::string(name);  // really Unicode: nothing to repair
    high = high || unit >= 0x80;
    bytes.push_back(static_cast<char>(unit));
  }
  // Only a byte sequence that is UTF-8 can have been widened from UTF-8.
  if (!high || !isValidUtf8(bytes)) return std::string(name);
  return bytes;
}

bool isPlainIdentifier(std::string_view name) noexcept {
  if (name.empty()) return false;
  bool partStart = true;
  for (char c : name) {
    if (c == '.') {
      if (partStart) return false;
      partStart = true;
      continue;
    }
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (partStart && !letter) return false;
    if (!letter && !digit && c != '$' && c != '#' && c != '@') return false;
    partStart = false;
  }
  return !partStart;
}

std::string quoteIdentifier(std::string_view name, std::string_view quote) {
  if (quote.empty() || quote == " ") return std::string(name);
  std::string out(quote);
  for (std::size_t i = 0; i < name.size();) {
    if (name.substr(i, quote.size()) == quote) {
      out += quote;
      out += quote;
      i += quote.size();
    } else {
      out += name[i++];
    }
  }
  out += quote;
  return out;
}

std::optional<std::string> tableOfSelect(std::string_view statement) {
  // Finds "from" outside quotes and parentheses.
  std::size_t at = 0;
  while (at < statement.size() && isBlankOrLineBreak(statement[at])) ++at;
  if (wordAt(statement, at) != "select") return std::nullopt;
  int depth = 0;
  char quote = 0;
  std::size_t fromAt = std::string_view::npos;
  for (std::size_t i = at + 6; i < statement.size(); ++i) {
    const char c = statement[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (depth == 0 && (i == 0 || !isWordChar(statement[i - 1])) &&
               wordAt(statement, i) == "from") {
      fromAt = i;
      break;
    }
  }
  if (fromAt == std::string_view::npos) return std::nullopt;
  std::size_t i = fromAt + 4;
  while (i < statement.size() && isBlankOrLineBreak(statement[i])) ++i;
  std::string table;
  if (i < statement.size() && (statement[i] == '"' || statement[i] == '[' || statement[i] == '`')) {
    const char close = statement[i] == '[' ? ']' : statement[i];
    const std::size_t end = statement.find(close, i + 1);
    if (end == std::string_view::npos) return std::nullopt;
    table = std::string(statement.substr(i + 1, end - i - 1));
    i = end + 1;
  } else {
    while (i < statement.size() && (isWordChar(statement[i]) || statement[i] == '.'))
      table += statement[i++];
  }
  if (table.empty()) return std::nullopt;
  while (i < statement.size() && isBlankOrLineBreak(statement[i])) ++i;
  if (i == statement.size()) return table;
  const std::string next = wordAt(statement, i);
  if (next == "where" || next == "order") return table;
  return std::nullopt;  // a join, a list of tables, an alias, a grouping...
}

std::string procedureBaseName(std::string_view declaredName, StoreKind store) {
  const std::size_t semicolon = declaredName.rfind(';');
  if (semicolon == std::string_view::npos) return std::string(declaredName);
  const std::string_view group = declaredName.substr(semicolon + 1);
  if (group == "1" || store != StoreKind::SqlServer)
    return std::string(declaredName.substr(0, semicolon));
  return std::string(declaredName);
}

ProcedureCall procedureCall(StoreKind store, std::string_view name, const ParameterList& parameters,
                            std::string_view quote) {
  const std::string base = procedureBaseName(name, store);
  const std::size_t semicolon = base.find(';');
  const std::string_view group = semicolon == std::string::npos
                                     ? std::string_view()
                                     : std::string_view(base).substr(semicolon + 1);
  const bool groupIsNumber = semicolon == std::string::npos ||
                             (!group.empty() && std::all_of(group.begin(), group.end(), [](char c) {
                               return c >= '0' && c <= '9';
                             }));
  if (!groupIsNumber || !isPlainIdentifier(std::string_view(base).substr(0, semicolon))) {
    throw DataError("'" + std::string(name) + "' is not a procedure name this program can call");
  }
  ProcedureCall call;
  std::size_t returnAt = parameters.size();
  std::vector<std::size_t> inputs;
  std::size_t index = 0;
  for (const Parameter& p : parameters) {
    if (p.direction() == ParameterDirection::ReturnValue) {
      if (returnAt == parameters.size()) returnAt = index;
    } else {
      inputs.push_back(index);
    }
    ++index;
  }
  auto markers = [](std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += i == 0 ? "?" : ",?";
    return text;
  };
  switch (store) {
    case StoreKind::PostgreSql:
      call.text = "select " + base + "(" + markers(inputs.size()) + ")";
      call.boundParameters = inputs;
      break;
    case StoreKind::Sqlite: {
      std::string columns;
      for (std::size_t i : inputs) {
        std::string_view column = parameters.at(static_cast<long long>(i)).name();
        if (!column.empty() && column.front() == '@') column.remove_prefix(1);
        if (!columns.empty()) columns += ", ";
        columns += quoteIdentifier(column, quote);
      }
      call.text =
          "insert into " + base + " (" + columns + ") values (" + markers(inputs.size()) + ")";
      call.boundParameters = inputs;
      break;
    }
    case StoreKind::SqlServer:
    case StoreKind::Other:
      call.text = returnAt < parameters.size() ? "{? = call " : "{call ";
      call.text += base;
      if (!inputs.empty()) {
        // Piece by piece: GCC 12 at -O2 warns falsely (-Wrestrict) on `"(" + std::string`.
        call.text += '(';
        call.text += markers(inputs.size());
        call.text += ')';
      }
      call.text += "}";
      if (returnAt < parameters.size()) call.boundParameters.push_back(returnAt);
      call.boundParameters.insert(call.boundParameters.end(), inputs.begin(), inputs.end());
      break;
  }
  return call;
}

std::string insertText(std::string_view table, const std::vector<std::string>& columns,
                       std::string_view quote) {
  std::string text = "insert into " + std::string(table);
  if (columns.empty()) return text + " default values";
  std::string names;
  std::string markers;
  for (const std::string& column : columns) {
    if (!names.empty()) {
      names += ", ";
      markers += ", ";
    }
    names += quoteIdentifier(column, quote);
    markers += '?';
  }
  return text + " (" + names + ") values (" + markers + ")";
}

std::string updateText(std::string_view table, const std::vector<std::string>& setColumns,
                       const std::vector<PostColumn>& whereColumns, std::string_view quote) {
  std::string text = "update " + std::string(table) + " set ";
  bool first = true;
  for (const std::string& column : setColumns) {
    if (!first) text += ", ";
    first = false;
    text += quoteIdentifier(column, quote) + " = ?";
  }
  first = true;
  for (const PostColumn& column : whereColumns) {
    text += first ? " where " : " and ";
    first = false;
    const std::string name = quoteIdentifier(column.name, quote);
    if (column.originalIsNull) {
      text += name + " is null";
      continue;
    }
    switch (column.comparison) {
      case Comparison::Exact:
        text += column.cast.empty() ? name + " = ?" : name + " = CAST(? AS " + column.cast + ")";
        break;
      case Comparison::Instant: text += "julianday(" + name + ") = julianday(?)"; break;
      case Comparison::Digits15:
        text += "printf('%.15g', " + name + ") = printf('%.15g', ?)";
        break;
      case Comparison::FourPlaces:
        text += "printf('%.4f', " + name + ") = printf('%.4f', ?)";
        break;
    }
  }
  return text;
}

std::string comparisonCast(StoreKind store, std::string_view typeName) {
  if (store != StoreKind::SqlServer) return {};
  for (std::string_view type : {"datetime", "smalldatetime", "real", "money", "smallmoney"}) {
    if (equalsNoCaseAscii(typeName, type)) return std::string(type);
  }
  return {};
}

Comparison originalComparison(StoreKind store, FieldKind kind) noexcept {
  if (store != StoreKind::Sqlite) return Comparison::Exact;
  switch (kind) {
    case FieldKind::Date:
    case FieldKind::Time:
    case FieldKind::DateTime: return Comparison::Instant;
    case FieldKind::Float: return Comparison::Digits15;
    case FieldKind::Bcd: return Comparison::FourPlaces;
    default: return Comparison::Exact;
  }
}

}  // namespace importacao
