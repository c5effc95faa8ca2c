// What differs between the stores we reach: how a column type becomes a field kind, how
// identifiers are quoted, how the stock procedure is called, and the statements a post sends.
// Pure functions of their arguments, so every store's forms are tested here, SQL Server's
// included.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/record/field.h"
#include "data/record/parameter.h"
#include "data/store/odbc.h"
#include "data/store/store_kind.h"
#include "normalise/ascii.h"  // names and keywords of statements compare by equalsNoCaseAscii

namespace importacao {

// The store behind a connection, from what the driver says of itself (SQL_DBMS_NAME, then
// SQL_DRIVER_NAME): "Microsoft SQL Server" (also through FreeTDS), "PostgreSQL", "SQLite".
StoreKind storeKindFromDriver(std::string_view dbmsName, std::string_view driverName) noexcept;

// The field kind and size of a result column:
//   char -> FixedText, varchar -> Text, long varchar (text) -> Memo, each with the column's
//   length; the national (wide) character types -> WideText (long: Memo) where the store tells
//   them apart (SQL Server). PostgreSQL's and SQLite's drivers report every character column
//   as wide through the Unicode interface, so there they map as their narrow forms;
//   an unbounded varchar, nvarchar or varbinary (SQL Server's varchar(max), nvarchar(max),
//   varbinary(max): SQL_VARCHAR, SQL_WVARCHAR, SQL_VARBINARY of size 0 through both FreeTDS and
//   Microsoft's driver, or of a size beyond the bounded types' 8000 bytes) -> Memo, Memo, Blob;
//   xml -> Memo; SQL Server's time (SQL_SS_TIME2) -> Time, datetimeoffset -> DateTime;
//   a long text that the statement computes rather than reads from a table column (PostgreSQL's
//   upper() and the other text functions return unbounded text) -> Text;
//   integer -> Integer (an auto-numbered one: AutoInc), smallint -> SmallInt, tinyint -> Word,
//   bigint -> LargeInt, bit -> Boolean, float/real/double -> Float,
//   decimal/numeric -> Integer when the scale is 0 and the precision below 10, else Bcd,
//   date -> Date, time -> Time, timestamp/datetime -> DateTime, guid -> Guid,
//   binary -> Bytes, varbinary -> VarBytes, long varbinary -> Blob; anything else Unknown.
struct ColumnKind {
  FieldKind kind = FieldKind::Unknown;
  int size = 0;  // characters for the text kinds, else 0
  friend bool operator==(const ColumnKind&, const ColumnKind&) = default;
};
ColumnKind columnKind(const odbc::ColumnDescription& column, StoreKind store) noexcept;

// A name as the store spells it, from what its driver reported (UTF-8). SQLite's driver hands
// out the UTF-8 bytes of a name one per UTF-16 unit ("descrição" arrives as "descriÃ§Ã£o")
// while the process's character type is not UTF-8 (psqlODBC makes it UTF-8 once it is loaded);
// for SQLite such a name is put back together. Other stores' names pass unchanged.
std::string nameFromDriver(std::string_view name, StoreKind store);

// Whether a name may stand unquoted in a statement: a letter or '_' first, then letters, digits,
// '_', '$', '#' or '@'; dots separate a schema from a table ("dbo.clientes").
bool isPlainIdentifier(std::string_view name) noexcept;

// `name` in the store's quote characters, a quote inside doubled. A quote of " " (the driver
// cannot quote) or "" leaves the name as it is.
std::string quoteIdentifier(std::string_view name, std::string_view quote);

// The table a statement of the form "select ... from <table> [where ...|order by ...]" reads;
// nullopt when the statement reads more than one table (a join, a list of tables, a
// sub-select) or is not such a select.
std::optional<std::string> tableOfSelect(std::string_view statement);

// The name a stored procedure is called by: without the group number ";1", which is every
// procedure's default group (SQL Server keeps any other group number).
std::string procedureBaseName(std::string_view declaredName, StoreKind store);

// The statement that calls a procedure, with one marker per bound parameter, and the positions
// (in `parameters`) of the parameters bound to the markers in order:
//   SQL Server (and any other ODBC store): "{? = call name(?,?,...)}", the return value first;
//   PostgreSQL, where the procedure is a function: "select name(?,?,...)", inputs only;
//   SQLite, where it is a view with an INSTEAD OF INSERT trigger:
//     "insert into name (p1, p2, ...) values (?,?,...)", the columns being the input
//     parameters' names without their '@'.
// Throws DataError when `name` is not a plain identifier.
struct ProcedureCall {
  std::string text;
  std::vector<std::size_t> boundParameters;
};
ProcedureCall procedureCall(StoreKind store, std::string_view name, const ParameterList& parameters,
                            std::string_view quote);

// How an update's optimistic check compares a column with the value that was read, bound back.
// SQLite keeps a value in whatever form the program that wrote it chose, and its driver reads
// and binds values as text: a date-time written without milliseconds, a double of 17
// significant digits (the driver carries 15) or a decimal of more places than we keep would
// never equal what we bind back. There both sides are brought to one form first.
enum class Comparison {
  Exact,       // "c" = ?
  Instant,     // julianday("c") = julianday(?): the same instant, to the millisecond
  Digits15,    // printf('%.15g', "c") = printf('%.15g', ?): the same double as the driver reads it
  FourPlaces,  // printf('%.4f', "c") = printf('%.4f', ?): the same decimal at the places we keep
};

// The comparison for a column of the kind on the store: Exact except on SQLite, where
// date-times (and dates and times) compare as instants, floats by their 15 significant digits
// and decimals at four places. Key columns are always compared Exact, so the store can find the
// row by its index.
Comparison originalComparison(StoreKind store, FieldKind kind) noexcept;

// One column of a post, with the original value it had when it was read (update only).
struct PostColumn {
  std::string name;              // as the store spells it
  bool compareOriginal = false;  // check the original value (optimistic locking)
  bool originalIsNull = false;
  Comparison comparison = Comparison::Exact;
  std::string cast{};  // the type the marker is cast to before an Exact comparison (comparisonCast)
};

// The type an update casts a marker to before comparing it with a column of the SQL type
// `typeName` (SQL_DESC_TYPE_NAME): on SQL Server, a column whose own type the parameter does not
// keep exactly. The drivers send a date-time as datetime2, a real as float and money as decimal,
// and since SQL Server 2016 a datetime compared with a datetime2 compares at datetime2's
// precision, so a datetime value read back (1/300 s ticks) would miss its own row. "datetime",
// "smalldatetime", "real", "money" and "smallmoney" are cast to themselves; every other type,
// and every type on the other stores, gets "" (no cast).
std::string comparisonCast(StoreKind store, std::string_view typeName);

// `table` goes into these statements as given (the caller quotes it or not); the column names
// are quoted with `quote`.
// "insert into <table> (<c1>, <c2>) values (?, ?)", or "insert into <table> default values"
// when no column was assigned.
std::string insertText(std::string_view table, const std::vector<std::string>& columns,
                       std::string_view quote);

// "update <table> set <c1> = ?, ... where <k1> = ? and <c2> = ? and <c3> is null": the set
// columns first, then one condition per key column and per compared column in the form of its
// comparison ("<c> = CAST(? AS <cast>)" when it has a cast), a null original value compared
// with "is null" (no marker).
std::string updateText(std::string_view table, const std::vector<std::string>& setColumns,
                       const std::vector<PostColumn>& whereColumns, std::string_view quote);

}  // namespace importacao
