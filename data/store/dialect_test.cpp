#include "data/store/dialect.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/errors.h"

namespace importacao {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

TEST(StoreKind, DetectedFromWhatTheDriverSays) {
  struct {
    std::string_view dbms;
    std::string_view driver;
    StoreKind want;
  } cases[] = {
      {"Microsoft SQL Server", "libtdsodbc.so", StoreKind::SqlServer},
      {"Microsoft SQL Server", "libmsodbcsql-18.3.so.2.1", StoreKind::SqlServer},
      {"", "libtdsodbc.so", StoreKind::SqlServer},
      {"PostgreSQL", "psqlodbcw.so", StoreKind::PostgreSql},
      {"SQLite", "sqlite3odbc.so", StoreKind::Sqlite},
      {"MySQL", "libmyodbc8w.so", StoreKind::Other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dbms);
    EXPECT_EQ(storeKindFromDriver(c.dbms, c.driver), c.want);
  }
}

odbc::ColumnDescription column(SQLSMALLINT type, SQLULEN size = 0, SQLSMALLINT digits = 0,
                               bool autoIncrement = false, std::string baseTable = "t") {
  odbc::ColumnDescription d;
  d.sqlType = type;
  d.columnSize = size;
  d.decimalDigits = digits;
  d.autoIncrement = autoIncrement;
  d.baseTable = std::move(baseTable);
  return d;
}

TEST(ColumnKind, ColumnTypesMapToFieldKinds) {
  struct {
    std::string_view label;
    odbc::ColumnDescription column;
    StoreKind store;
    ColumnKind want;
  } cases[] = {
      {"varchar(10)", column(SQL_VARCHAR, 10), StoreKind::SqlServer, {FieldKind::Text, 10}},
      {"char(3)", column(SQL_CHAR, 3), StoreKind::SqlServer, {FieldKind::FixedText, 3}},
      {"nvarchar(50)", column(SQL_WVARCHAR, 50), StoreKind::SqlServer, {FieldKind::WideText, 50}},
      {"nchar(2)", column(SQL_WCHAR, 2), StoreKind::SqlServer, {FieldKind::WideText, 2}},
      {"text", column(SQL_LONGVARCHAR, 2147483647), StoreKind::SqlServer, {FieldKind::Memo, 0}},
      {"ntext", column(SQL_WLONGVARCHAR, 1073741823), StoreKind::SqlServer, {FieldKind::Memo, 0}},
      {"int", column(SQL_INTEGER, 10), StoreKind::SqlServer, {FieldKind::Integer, 0}},
      {"int identity",
       column(SQL_INTEGER, 10, 0, true),
       StoreKind::SqlServer,
       {FieldKind::AutoInc, 0}},
      {"smallint", column(SQL_SMALLINT, 5), StoreKind::SqlServer, {FieldKind::SmallInt, 0}},
      {"tinyint", column(SQL_TINYINT, 3), StoreKind::SqlServer, {FieldKind::Word, 0}},
      {"bigint", column(SQL_BIGINT, 19), StoreKind::SqlServer, {FieldKind::LargeInt, 0}},
      {"bit", column(SQL_BIT, 1), StoreKind::SqlServer, {FieldKind::Boolean, 0}},
      {"float", column(SQL_FLOAT, 53), StoreKind::SqlServer, {FieldKind::Float, 0}},
      {"real", column(SQL_REAL, 24), StoreKind::SqlServer, {FieldKind::Float, 0}},
      {"decimal(15,4)", column(SQL_DECIMAL, 15, 4), StoreKind::SqlServer, {FieldKind::Bcd, 0}},
      {"numeric(9,0)", column(SQL_NUMERIC, 9, 0), StoreKind::SqlServer, {FieldKind::Integer, 0}},
      {"numeric(10,0)", column(SQL_NUMERIC, 10, 0), StoreKind::SqlServer, {FieldKind::Bcd, 0}},
      {"numeric(9,2)", column(SQL_NUMERIC, 9, 2), StoreKind::SqlServer, {FieldKind::Bcd, 0}},
      {"money", column(SQL_DECIMAL, 19, 4), StoreKind::SqlServer, {FieldKind::Bcd, 0}},
      {"datetime",
       column(SQL_TYPE_TIMESTAMP, 23, 3),
       StoreKind::SqlServer,
       {FieldKind::DateTime, 0}},
      {"date", column(SQL_TYPE_DATE, 10), StoreKind::SqlServer, {FieldKind::Date, 0}},
      {"uniqueidentifier", column(SQL_GUID, 36), StoreKind::SqlServer, {FieldKind::Guid, 38}},
      {"varbinary", column(SQL_VARBINARY, 16), StoreKind::SqlServer, {FieldKind::VarBytes, 0}},
      {"image", column(SQL_LONGVARBINARY, 0), StoreKind::SqlServer, {FieldKind::Blob, 0}},
      // SQL Server's other types as FreeTDS (TDS 7.2 and later) and Microsoft's driver report
      // them: the (max) types have no size; text and ntext have the driver's own.
      {"varchar(max)", column(SQL_VARCHAR, 0), StoreKind::SqlServer, {FieldKind::Memo, 0}},
      {"nvarchar(max)", column(SQL_WVARCHAR, 0), StoreKind::SqlServer, {FieldKind::Memo, 0}},
      {"varbinary(max)", column(SQL_VARBINARY, 0), StoreKind::SqlServer, {FieldKind::Blob, 0}},
      {"varchar(max), an older driver",
       column(SQL_VARCHAR, 2147483647),
       StoreKind::SqlServer,
       {FieldKind::Memo, 0}},
      {"varchar(8000)", column(SQL_VARCHAR, 8000), StoreKind::SqlServer, {FieldKind::Text, 8000}},
      {"nvarchar(4000)",
       column(SQL_WVARCHAR, 4000),
       StoreKind::SqlServer,
       {FieldKind::WideText, 4000}},
      {"text, FreeTDS", column(SQL_LONGVARCHAR, 4096), StoreKind::SqlServer, {FieldKind::Memo, 0}},
      {"xml", column(-152, 0), StoreKind::SqlServer, {FieldKind::Memo, 0}},
      {"datetimeoffset", column(-155, 34, 7), StoreKind::SqlServer, {FieldKind::DateTime, 0}},
      {"time(7)", column(-154, 16, 7), StoreKind::SqlServer, {FieldKind::Time, 0}},
      {"another store's unsized varchar",
       column(SQL_VARCHAR, 0),
       StoreKind::Other,
       {FieldKind::Memo, 0}},
      // PostgreSQL's Unicode driver reports every character column as wide.
      {"pg varchar(10)", column(SQL_WVARCHAR, 10), StoreKind::PostgreSql, {FieldKind::Text, 10}},
      {"pg char(3)", column(SQL_WCHAR, 3), StoreKind::PostgreSql, {FieldKind::FixedText, 3}},
      {"pg text column",
       column(SQL_WLONGVARCHAR, 8190),
       StoreKind::PostgreSql,
       {FieldKind::Memo, 0}},
      {"pg upper(text)",
       column(SQL_WLONGVARCHAR, 8190, 0, false, ""),
       StoreKind::PostgreSql,
       {FieldKind::Text, 8190}},
      {"pg serial",
       column(SQL_INTEGER, 10, 0, true),
       StoreKind::PostgreSql,
       {FieldKind::AutoInc, 0}},
      {"pg unsized varchar", column(SQL_WVARCHAR, 0), StoreKind::PostgreSql, {FieldKind::Text, 0}},
      {"sqlite text",
       column(SQL_LONGVARCHAR, 65536, 0, false, ""),
       StoreKind::Sqlite,
       {FieldKind::Memo, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(columnKind(c.column, c.store), c.want);
  }
}

TEST(Identifiers, QuotedWithTheDriversQuoteAndCheckedWhenPlain) {
  EXPECT_EQ(quoteIdentifier("IdReferencia", "\""), "\"IdReferencia\"");
  EXPECT_EQ(quoteIdentifier("a\"b", "\""), "\"a\"\"b\"");
  EXPECT_EQ(quoteIdentifier("plain", " "), "plain");
  EXPECT_EQ(quoteIdentifier("x`y", "`"), "`x``y`");
  struct {
    std::string_view name;
    bool plain;
  } cases[] = {{"lj_referBar", true}, {"dbo.clientes", true}, {"_x1$#@", true}, {"1abc", false},
               {"a b", false},        {"a;drop", false},      {"a.", false},    {".a", false},
               {"", false},           {"t\"x", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isPlainIdentifier(c.name), c.plain);
  }
}

TEST(NameFromDriver, SqlitesWidenedUtf8NamesAreRepaired) {
  struct {
    std::string_view reported;
    StoreKind store;
    std::string_view want;
  } cases[] = {
      {"descri\xC3\x83\xC2\xA7\xC3\x83\xC2\xA3o", StoreKind::Sqlite, "descri\xC3\xA7\xC3\xA3o"},
      {"descri\xC3\xA7\xC3\xA3o", StoreKind::Sqlite,
       "descri\xC3\xA7\xC3\xA3o"},  // "ção" is no UTF-8 widened
      {"IdReferencia", StoreKind::Sqlite, "IdReferencia"},
      {"\xE6\x97\xA5", StoreKind::Sqlite, "\xE6\x97\xA5"},
      {"descri\xC3\x83\xC2\xA7\xC3\x83\xC2\xA3o", StoreKind::PostgreSql,
       "descri\xC3\x83\xC2\xA7\xC3\x83\xC2\xA3o"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reported);
    EXPECT_EQ(nameFromDriver(c.reported, c.store), c.want);
  }
}

TEST(TableOfSelect, OnlyASingleTableSelectIsWritable) {
  struct {
    std::string_view statement;
    std::optional<std::string> want;
  } cases[] = {
      {"select * from lj_produtos\r\n where idreferencia = ?\r\n", "lj_produtos"},
      {"SELECT * FROM clientes\r\n where idcliente = ?\r\n\r\n", "clientes"},
      {"select * from dbo.clientes", "dbo.clientes"},
      {"select a, (select max(b) from x) from t where c = ?", "t"},
      {"select 'from x' as a from \"Tabela\" order by 1", "Tabela"},
      {"SELECT     Estado.Estado, upper( Municipio.NOME) as Cidade,Estado.CODIGO, codmun\r\n"
       "FROM         Municipio INNER JOIN\r\n"
       "                      Estado ON Municipio.IDSIGLA = Estado.Estado\r\n",
       std::nullopt},
      {"select * from a, b", std::nullopt},
      {"select * from a x where x.b = 1", std::nullopt},
      {"insert into estoqueinicial (data) values (?)", std::nullopt},
      {"select 1", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(tableOfSelect(c.statement), c.want);
  }
}

ParameterList stockProcedureParameters() {
  ParameterList list("sp_Estoque");
  list.add(
      Parameter("@RETURN_VALUE", FieldKind::Integer, 0, 10, 0, ParameterDirection::ReturnValue));
  list.add(Parameter("@refer", FieldKind::Text, 10));
  list.add(Parameter("@idcor", FieldKind::Integer, 0, 10));
  list.add(Parameter("@tam", FieldKind::Text, 3));
  list.add(Parameter("@idempresa", FieldKind::Integer, 0, 10));
  list.add(Parameter("@idfilial", FieldKind::Integer, 0, 10));
  return list;
}

TEST(ProcedureCall, EachStoreHasItsForm) {
  const ParameterList parameters = stockProcedureParameters();
  struct {
    StoreKind store;
    std::string_view text;
    std::vector<std::size_t> bound;
  } cases[] = {
      {StoreKind::SqlServer, "{? = call Sp_EstoqueInicial(?,?,?,?,?)}", {0, 1, 2, 3, 4, 5}},
      {StoreKind::Other, "{? = call Sp_EstoqueInicial(?,?,?,?,?)}", {0, 1, 2, 3, 4, 5}},
      {StoreKind::PostgreSql, "select Sp_EstoqueInicial(?,?,?,?,?)", {1, 2, 3, 4, 5}},
      {StoreKind::Sqlite,
       "insert into Sp_EstoqueInicial (\"refer\", \"idcor\", \"tam\", \"idempresa\", \"idfilial\") "
       "values (?,?,?,?,?)",
       {1, 2, 3, 4, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(storeKindName(c.store));
    const ProcedureCall call = procedureCall(c.store, "Sp_EstoqueInicial;1", parameters, "\"");
    EXPECT_EQ(call.text, c.text);
    EXPECT_EQ(call.boundParameters, c.bound);
  }
}

TEST(ProcedureCall, GroupNumbersAndBadNames) {
  EXPECT_EQ(procedureBaseName("Sp_EstoqueInicial;1", StoreKind::SqlServer), "Sp_EstoqueInicial");
  EXPECT_EQ(procedureBaseName("Proc;2", StoreKind::SqlServer), "Proc;2");
  EXPECT_EQ(procedureBaseName("Proc;2", StoreKind::PostgreSql), "Proc");
  EXPECT_EQ(procedureBaseName("Proc", StoreKind::SqlServer), "Proc");
  ParameterList none("p");
  EXPECT_EQ(procedureCall(StoreKind::SqlServer, "dbo.Limpa", none, "\"").text, "{call dbo.Limpa}");
  EXPECT_THAT([&] { procedureCall(StoreKind::SqlServer, "x;drop table y", none, "\""); },
              ThrowsMessage<DataError>(HasSubstr("is not a procedure name")));
}

TEST(PostStatements, InsertAndUpdateNameExactlyTheirColumns) {
  EXPECT_EQ(insertText("lj_referBar", {"IdReferencia", "Tam"}, "\""),
            "insert into lj_referBar (\"IdReferencia\", \"Tam\") values (?, ?)");
  EXPECT_EQ(insertText("\"t\"", {}, "\""), "insert into \"t\" default values");
  EXPECT_EQ(
      updateText("clientes", {"NomeCliente", "DDD"},
                 {{"IdCliente", true, false}, {"NomeCliente", true, false}, {"DDD", true, true}},
                 "\""),
      "update clientes set \"NomeCliente\" = ?, \"DDD\" = ? where \"IdCliente\" = ? and "
      "\"NomeCliente\" = ? and \"DDD\" is null");
}

TEST(PostStatements, SqlServerComparesThroughTheColumnsOwnType) {
  EXPECT_EQ(updateText("dbo.lj_referPrc", {"PrecoVenda", "DataAlteracao"},
                       {{"IdReferencia", true, false, Comparison::Exact, ""},
                        {"PrecoVenda", true, false, Comparison::Exact, "money"},
                        {"DataAlteracao", true, false, Comparison::Exact, "datetime"},
                        {"DataInclusao", true, true, Comparison::Exact, "datetime"}},
                       "\""),
            "update dbo.lj_referPrc set \"PrecoVenda\" = ?, \"DataAlteracao\" = ? where "
            "\"IdReferencia\" = ? and "
            "\"PrecoVenda\" = CAST(? AS money) and \"DataAlteracao\" = CAST(? AS datetime) and "
            "\"DataInclusao\" is null");
  struct {
    std::string_view typeName;
    std::string_view sqlServer;
  } cases[] = {
      {"datetime", "datetime"},
      {"DATETIME", "datetime"},
      {"smalldatetime", "smalldatetime"},
      {"real", "real"},
      {"money", "money"},
      {"smallmoney", "smallmoney"},
      {"datetime2", ""},
      {"float", ""},
      {"decimal", ""},
      {"varchar", ""},
      {"int identity", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typeName);
    EXPECT_EQ(comparisonCast(StoreKind::SqlServer, c.typeName), c.sqlServer);
    for (StoreKind other : {StoreKind::PostgreSql, StoreKind::Sqlite, StoreKind::Other}) {
      EXPECT_EQ(comparisonCast(other, c.typeName), "");
    }
  }
}

TEST(PostStatements, SqliteComparesDateTimesFloatsAndDecimalsInOneForm) {
  EXPECT_EQ(updateText("t", {"a"},
                       {{"id", true, false, Comparison::Exact},
                        {"quando", true, false, Comparison::Instant},
                        {"qtd", true, false, Comparison::Digits15},
                        {"preco", true, false, Comparison::FourPlaces},
                        {"vazio", true, true, Comparison::Instant}},
                       "\""),
            "update t set \"a\" = ? where \"id\" = ? and julianday(\"quando\") = julianday(?) and "
            "printf('%.15g', \"qtd\") = printf('%.15g', ?) and printf('%.4f', \"preco\") = "
            "printf('%.4f', ?) "
            "and \"vazio\" is null");
  struct {
    FieldKind kind;
    Comparison sqlite;
  } cases[] = {
      {FieldKind::DateTime, Comparison::Instant}, {FieldKind::Date, Comparison::Instant},
      {FieldKind::Time, Comparison::Instant},     {FieldKind::Float, Comparison::Digits15},
      {FieldKind::Bcd, Comparison::FourPlaces},   {FieldKind::Text, Comparison::Exact},
      {FieldKind::FixedText, Comparison::Exact},  {FieldKind::Integer, Comparison::Exact},
      {FieldKind::LargeInt, Comparison::Exact},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    EXPECT_EQ(originalComparison(StoreKind::Sqlite, c.kind), c.sqlite);
    for (StoreKind other : {StoreKind::PostgreSql, StoreKind::SqlServer, StoreKind::Other}) {
      EXPECT_EQ(originalComparison(other, c.kind), Comparison::Exact);
    }
  }
}

}  // namespace
}  // namespace importacao
