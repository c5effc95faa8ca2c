// What the store layer costs on top of the store's own work: a keyed open + edit + post of a
// 55-column lj_produtos row through StoreQuery (aProdutos as declared), beside the floor, the
// same two statements (the keyed select and an update of the same columns, autocommit) issued
// by a minimal loop straight on the ODBC API with prepared handles. Two floors: one updates by the
// key alone; the other sends the layer's own statements, byte for byte (its select text, and the
// optimistic update that also compares each assigned column with its value as read), with the
// same parameters bound with the same types, so the ratio to it is what the layer itself costs.
// Also: inserts into an empty table through the layer, with prepared statements kept and
// prepared anew, to see how plans made while the table was empty hold up as it fills.
//
//   store_bench [--rows N] [--rounds R] [--ops K]
//
// Needs a PostgreSQL server: IMP_TEST_PG_CONN (scripts/pg-test-server start DIR; source DIR/env).
// Works in a schema of its own, dropped at the end. Prints figures; checks nothing.
// bench/store_access/run.sh does it all: Release build, a server of its own, several runs.
#include <sql.h>
#include <sqlext.h>
#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/common/odbc_floor.h"
#include "data/store/declarations.h"
#include "data/store/odbc.h"
#include "normalise/codepage.h"

namespace {

using namespace importacao;
using Clock = std::chrono::steady_clock;

// The 55 columns the products section assigns, in its order, with the form of each value.
enum class Form { Text, Integer, Float, DateTime };
struct Assigned {
  const char* column;
  Form form;
  const char* text;  // the text value; integers and floats use `number`
  double number;
};
const Assigned kAssigned[] = {
    {"IdReferencia", Form::Text, "", 0},  // the key, set per row
    {"Descricao", Form::Text, "CAMISA POLO MALHA PIQUET AZUL MARINHO", 0},
    {"ApelidoProduto", Form::Text, "POLO AZUL", 0},
    {"DenominacaoFiscal", Form::Text, "CAMISA POLO MALHA PIQUET AZUL MARINHO", 0},
    {"IdGrupo", Form::Integer, nullptr, 1},
    {"IdTamanho", Form::Integer, nullptr, 1},
    {"IdColecao", Form::Integer, nullptr, 1},
    {"Tam_Ini", Form::Integer, nullptr, 1},
    {"Tam_Fim", Form::Integer, nullptr, 1},
    {"DataCadastro", Form::DateTime, nullptr, 45351.0},
    {"DataAlteracao", Form::DateTime, nullptr, 45351.5},
    {"Status", Form::Text, "A", 0},
    {"PrcCompra", Form::Integer, nullptr, 0},
    {"PrcUltCusto", Form::Integer, nullptr, 0},
    {"PrcMedio", Form::Integer, nullptr, 0},
    {"PercMargem", Form::Integer, nullptr, 0},
    {"Promocao", Form::Text, "N", 0},
    {"Localizacao", Form::Text, "", 0},
    {"RefAnterior", Form::Text, "", 0},
    {"UndVenda", Form::Text, "UN", 0},
    {"UndCompra", Form::Text, "UN", 0},
    {"IdFornecedor", Form::Float, nullptr, 12},
    {"TipoProduto", Form::Text, "P", 0},
    {"VlrPromocao", Form::Integer, nullptr, 0},
    {"Icms", Form::Integer, nullptr, 0},
    {"Consignado", Form::Text, "N", 0},
    {"Qtd1", Form::Integer, nullptr, 0},
    {"Qtd2", Form::Integer, nullptr, 0},
    {"Qtd3", Form::Integer, nullptr, 0},
    {"Qtd4", Form::Integer, nullptr, 0},
    {"Qtd5", Form::Integer, nullptr, 0},
    {"Qtd6", Form::Integer, nullptr, 0},
    {"FatorConversao", Form::Integer, nullptr, 1},
    {"Prc1", Form::Integer, nullptr, 0},
    {"Prc2", Form::Integer, nullptr, 0},
    {"Prc3", Form::Integer, nullptr, 0},
    {"IdTecido", Form::Integer, nullptr, 1},
    {"IdAliquota", Form::Text, "T18", 0},
    {"IdMarca", Form::Integer, nullptr, 1},
    {"UndVendaQtde", Form::Integer, nullptr, 1},
    {"UndCompraQtde", Form::Integer, nullptr, 1},
    {"SubTributaria", Form::Text, "N", 0},
    {"TipoSped", Form::Text, "00", 0},
    {"PercPis", Form::Integer, nullptr, 0},
    {"PercCofins", Form::Integer, nullptr, 0},
    {"CSTPis", Form::Text, "99", 0},
    {"CSTCofins", Form::Text, "99", 0},
    {"CSTIpiEntrada", Form::Text, "049", 0},
    {"CSTIPI", Form::Text, "99", 0},
    {"CSOSN", Form::Text, "102", 0},
    {"DescPromocao", Form::Integer, nullptr, 0},
    {"Origem_Mercadoria", Form::Text, "0", 0},
    {"ListaPrecoVenda", Form::Text, "N", 0},
    {"NCM", Form::Text, "", 0},
    {"CST", Form::Text, "000", 0},
};
static_assert(std::size(kAssigned) == 55);

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string key(int i) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "P%07d", i);
  return buffer;
}

// Stricter than the floors' shared check: SQL_NO_DATA is a failure here too.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (!SQL_SUCCEEDED(rc)) bench::fail(type, handle, what);
}

// --- The floor: a minimal program on the ODBC API ---------------------------------------------

class Floor {
 public:
  explicit Floor(const std::string& connection) : connection_(connection) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &select_);
    check(
        SQLPrepareA(select_, (SQLCHAR*)"select * from lj_produtos where idreferencia = ?", SQL_NTS),
        SQL_HANDLE_STMT, select_, "prepare select");
    check(SQLBindParameter(select_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, key_,
                           sizeof key_, &keyLength_),
          SQL_HANDLE_STMT, select_, "bind key");

    std::string update = "update lj_produtos set ";
    for (std::size_t i = 0; i < std::size(kAssigned); ++i) {
      update += std::string(i == 0 ? "" : ", ") + kAssigned[i].column + " = ?";
    }
    update += " where idreferencia = ?";
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &update_);
    check(SQLPrepareA(update_, (SQLCHAR*)update.c_str(), SQL_NTS), SQL_HANDLE_STMT, update_,
          "prepare update");
    values_.resize(std::size(kAssigned));
    SQLUSMALLINT n = 1;
    for (std::size_t i = 0; i < std::size(kAssigned); ++i, ++n) {
      Value& v = values_[i];
      const Assigned& a = kAssigned[i];
      switch (a.form) {
        case Form::Text:
          std::snprintf(v.text, sizeof v.text, "%s", a.text);
          v.length = static_cast<SQLLEN>(std::strlen(v.text));
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 120, 0,
                                 v.text, sizeof v.text, &v.length),
                SQL_HANDLE_STMT, update_, "bind");
          break;
        case Form::Integer:
          v.integer = static_cast<long long>(a.number);
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_INTEGER, 10, 0,
                                 &v.integer, 0, nullptr),
                SQL_HANDLE_STMT, update_, "bind");
          break;
        case Form::Float:
          v.real = a.number;
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0,
                                 &v.real, 0, nullptr),
                SQL_HANDLE_STMT, update_, "bind");
          break;
        case Form::DateTime:
          v.timestamp = odbc::timestampFromDays(DateTime{a.number});
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                 SQL_TYPE_TIMESTAMP, 23, 3, &v.timestamp, 0, nullptr),
                SQL_HANDLE_STMT, update_, "bind");
          break;
      }
    }
    check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, key_,
                           sizeof key_, &keyLength_),
          SQL_HANDLE_STMT, update_, "bind key");
  }
  ~Floor() {
    SQLFreeHandle(SQL_HANDLE_STMT, select_);
    SQLFreeHandle(SQL_HANDLE_STMT, update_);
  }

  // One keyed select (every column read) and one update of the 55 columns.
  void operation(const std::string& k) {
    std::snprintf(key_, sizeof key_, "%s", k.c_str());
    keyLength_ = static_cast<SQLLEN>(k.size());
    std::snprintf(values_[0].text, sizeof values_[0].text, "%s", k.c_str());
    values_[0].length = keyLength_;
    check(SQLExecute(select_), SQL_HANDLE_STMT, select_, "select");
    SQLSMALLINT columns = 0;
    SQLNumResultCols(select_, &columns);
    while (SQLFetch(select_) == SQL_SUCCESS) {
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        SQLLEN length = 0;
        SQLGetData(select_, c, SQL_C_WCHAR, buffer_, sizeof buffer_, &length);
      }
    }
    SQLFreeStmt(select_, SQL_CLOSE);
    check(SQLExecute(update_), SQL_HANDLE_STMT, update_, "update");
    SQLFreeStmt(update_, SQL_CLOSE);
  }

 private:
  struct Value {
    char text[128] = {};
    SQLLEN length = 0;
    long long integer = 0;
    double real = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
  };
  bench::FloorConnection connection_;  // first: disconnects after the statements are freed
  SQLHDBC dbc_ = connection_.get();
  SQLHSTMT select_ = SQL_NULL_HSTMT;
  SQLHSTMT update_ = SQL_NULL_HSTMT;
  char key_[16] = {};
  SQLLEN keyLength_ = 0;
  std::vector<Value> values_;
  SQLWCHAR buffer_[1024];
};

// --- The second floor: the layer's own statements on the ODBC API ---------------------------
//
// The same keyed select our layer sends and the same optimistic update: every assigned column
// set, the row found by its key and each assigned column compared with its value as read ("is
// null" for a null one). Parameters bound as the layer binds them: the C type of the column's
// kind (texts as wide characters, numerics as decimal text to four places), the column's own SQL
// type, size and digits as the driver describes it. Prepared once per pattern of null originals.

// How the layer holds a column's values, from the SQL type the driver reports.
enum class Kind { Text, Integer, Float, Decimal, Timestamp, Other };

Kind columnKind(SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT digits) {
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR: return Kind::Text;
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT: return Kind::Integer;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return Kind::Float;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return digits == 0 && columnSize < 10 ? Kind::Integer : Kind::Decimal;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return Kind::Timestamp;
    default: return Kind::Other;
  }
}

std::u16string widened(std::string_view text) { return std::u16string(text.begin(), text.end()); }

class OptimisticFloor {
 public:
  OptimisticFloor(const std::string& connection, const std::string& selectText)
      : connection_(connection) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &select_);
    std::u16string text = widened(selectText);
    check(SQLPrepareW(select_, (SQLWCHAR*)text.data(), static_cast<SQLINTEGER>(text.size())),
          SQL_HANDLE_STMT, select_, "prepare select");
    check(SQLBindParameter(select_, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_VARCHAR, 10, 0, key_,
                           sizeof key_, &keyLength_),
          SQL_HANDLE_STMT, select_, "bind key");
  }
  ~OptimisticFloor() {
    for (auto& [pattern, statement] : updates_) SQLFreeHandle(SQL_HANDLE_STMT, statement);
    SQLFreeHandle(SQL_HANDLE_STMT, select_);
  }

  void operation(const std::string& k) {
    keyLength_ = static_cast<SQLLEN>(k.size() * sizeof(SQLWCHAR));
    for (std::size_t i = 0; i < k.size(); ++i) key_[i] = static_cast<SQLWCHAR>(k[i]);
    check(SQLExecute(select_), SQL_HANDLE_STMT, select_, "select");
    if (columns_.empty()) describe();
    while (SQLFetch(select_) == SQL_SUCCESS) {
      for (std::size_t c = 0; c < columns_.size(); ++c) {
        Column& column = columns_[c];
        const auto n = static_cast<SQLUSMALLINT>(c + 1);
        switch (column.assigned < 0 ? Kind::Other : column.kind) {
          case Kind::Text:
            SQLGetData(select_, n, SQL_C_WCHAR, column.read.text, sizeof column.read.text,
                       &column.read.length);
            break;
          case Kind::Integer:
            SQLGetData(select_, n, SQL_C_SBIGINT, &column.read.integer, 0, &column.read.length);
            break;
          case Kind::Float:
            SQLGetData(select_, n, SQL_C_DOUBLE, &column.read.real, 0, &column.read.length);
            break;
          case Kind::Decimal:
            SQLGetData(select_, n, SQL_C_CHAR, column.read.text, sizeof column.read.text,
                       &column.read.length);
            break;
          case Kind::Timestamp:
            SQLGetData(select_, n, SQL_C_TYPE_TIMESTAMP, &column.read.timestamp, 0,
                       &column.read.length);
            break;
          case Kind::Other: {
            SQLLEN length = 0;
            SQLGetData(select_, n, SQL_C_WCHAR, scratch_, sizeof scratch_, &length);
            break;
          }
        }
      }
    }
    SQLFreeStmt(select_, SQL_CLOSE);
    // The key assigned; every other assigned column keeps the value set once.
    Parameter& keyValue = set_[0];
    for (std::size_t i = 0; i < k.size(); ++i) keyValue.text[i] = static_cast<SQLWCHAR>(k[i]);
    keyValue.length = static_cast<SQLLEN>(k.size() * sizeof(SQLWCHAR));
    pattern_.clear();
    for (std::size_t c : where_) pattern_.push_back(columns_[c].read.length == SQL_NULL_DATA);
    SQLHSTMT update = updateFor(pattern_);
    check(SQLExecute(update), SQL_HANDLE_STMT, update, "update");
    SQLFreeStmt(update, SQL_CLOSE);
  }

 private:
  struct Parameter {
    SQLWCHAR text[128] = {};  // texts (wide) and decimals (narrow, as char)
    SQLLEN length = 0;
    long long integer = 0;
    double real = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
  };
  struct Column {
    std::string name;  // as the driver reports it
    SQLSMALLINT sqlType = 0;
    SQLULEN columnSize = 0;
    SQLSMALLINT digits = 0;
    Kind kind = Kind::Other;
    int assigned = -1;  // index in kAssigned, or -1
    Parameter read;
  };

  void describe() {
    SQLSMALLINT count = 0;
    SQLNumResultCols(select_, &count);
    columns_.resize(static_cast<std::size_t>(count));
    for (SQLUSMALLINT c = 1; c <= count; ++c) {
      Column& column = columns_[c - 1];
      SQLCHAR name[256] = {};
      SQLSMALLINT nameLength = 0, nullable = 0;
      check(SQLDescribeColA(select_, c, name, sizeof name, &nameLength, &column.sqlType,
                            &column.columnSize, &column.digits, &nullable),
            SQL_HANDLE_STMT, select_, "describe");
      column.name = reinterpret_cast<char*>(name);
      column.kind = columnKind(column.sqlType, column.columnSize, column.digits);
    }
    // The assigned columns in the order the products section assigns them; the key first among
    // the compared ones, then every assigned column the layer can compare.
    for (std::size_t a = 0; a < std::size(kAssigned); ++a) {
      std::size_t c = 0;
      while (c < columns_.size() && strcasecmp(columns_[c].name.c_str(), kAssigned[a].column) != 0)
        ++c;
      if (c == columns_.size())
        throw std::runtime_error(std::string("no column ") + kAssigned[a].column);
      if (columns_[c].kind == Kind::Other)
        throw std::runtime_error("a column of an unforeseen type: " + columns_[c].name);
      columns_[c].assigned = static_cast<int>(a);
      setColumns_.push_back(c);
    }
    where_.push_back(setColumns_[0]);  // the key, IdReferencia
    for (std::size_t i = 1; i < setColumns_.size(); ++i) where_.push_back(setColumns_[i]);
    // The new values, converted as the layer converts what the section assigns.
    set_.resize(setColumns_.size());
    for (std::size_t i = 0; i < setColumns_.size(); ++i) {
      const Assigned& a = kAssigned[i];
      const Column& column = columns_[setColumns_[i]];
      Parameter& p = set_[i];
      const double number = a.form == Form::Text ? std::atof(a.text) : a.number;
      switch (column.kind) {
        case Kind::Text: {
          const std::size_t n = std::strlen(a.text);
          for (std::size_t j = 0; j < n; ++j) p.text[j] = static_cast<SQLWCHAR>(a.text[j]);
          p.length = static_cast<SQLLEN>(n * sizeof(SQLWCHAR));
          break;
        }
        case Kind::Integer: p.integer = std::llround(number); break;
        case Kind::Float: p.real = number; break;
        case Kind::Decimal: {
          char* out = reinterpret_cast<char*>(p.text);
          const auto end =
              std::to_chars(out, out + sizeof p.text, number, std::chars_format::fixed, 4).ptr;
          p.length = end - out;
          break;
        }
        case Kind::Timestamp: p.timestamp = odbc::timestampFromDays(DateTime{number}); break;
        case Kind::Other: break;
      }
    }
  }

  // Binds `p` as the layer binds a value of `column`.
  void bind(SQLHSTMT statement, SQLUSMALLINT n, const Column& column, Parameter& p) {
    SQLRETURN rc = SQL_SUCCESS;
    switch (column.kind) {
      case Kind::Text:
        rc = SQLBindParameter(
            statement, n, SQL_PARAM_INPUT, SQL_C_WCHAR, column.sqlType,
            std::max<SQLULEN>({column.columnSize, static_cast<SQLULEN>(p.length / 2), 1}), 0,
            p.text, sizeof p.text, &p.length);
        break;
      case Kind::Integer:
        rc = SQLBindParameter(statement, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, column.sqlType,
                              column.columnSize, column.digits, &p.integer, 0, &p.length);
        break;
      case Kind::Float:
        rc = SQLBindParameter(statement, n, SQL_PARAM_INPUT, SQL_C_DOUBLE, column.sqlType,
                              column.columnSize, column.digits, &p.real, 0, &p.length);
        break;
      case Kind::Decimal:
        rc = SQLBindParameter(statement, n, SQL_PARAM_INPUT, SQL_C_CHAR, column.sqlType,
                              column.columnSize, column.digits, p.text, sizeof p.text, &p.length);
        break;
      case Kind::Timestamp: {
        const SQLSMALLINT digits = std::clamp<SQLSMALLINT>(column.digits, 3, 9);
        rc =
            SQLBindParameter(statement, n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, column.sqlType,
                             static_cast<SQLULEN>(20 + digits), digits, &p.timestamp, 0, &p.length);
        break;
      }
      case Kind::Other: break;
    }
    check(rc, SQL_HANDLE_STMT, statement, "bind");
  }

  // The update for this pattern of null originals, prepared and bound the first time it is met.
  SQLHSTMT updateFor(const std::vector<bool>& nulls) {
    for (auto& [pattern, statement] : updates_) {
      if (pattern == nulls) return statement;
    }
    auto quoted = [](const std::string& name) { return "\"" + name + "\""; };
    std::string text = "update \"lj_produtos\" set ";
    for (std::size_t i = 0; i < setColumns_.size(); ++i) {
      text += (i == 0 ? "" : ", ") + quoted(columns_[setColumns_[i]].name) + " = ?";
    }
    for (std::size_t i = 0; i < where_.size(); ++i) {
      text += (i == 0 ? " where " : " and ") + quoted(columns_[where_[i]].name) +
              (nulls[i] ? " is null" : " = ?");
    }
    SQLHSTMT statement = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &statement);
    const std::u16string wideText = widened(text);
    check(SQLPrepareW(statement, (SQLWCHAR*)wideText.data(),
                      static_cast<SQLINTEGER>(wideText.size())),
          SQL_HANDLE_STMT, statement, "prepare update");
    SQLUSMALLINT n = 1;
    for (std::size_t i = 0; i < setColumns_.size(); ++i)
      bind(statement, n++, columns_[setColumns_[i]], set_[i]);
    for (std::size_t i = 0; i < where_.size(); ++i) {
      Column& column = columns_[where_[i]];
      if (!nulls[i]) bind(statement, n++, column, column.read);
    }
    updates_.emplace_back(nulls, statement);
    return statement;
  }

  bench::FloorConnection connection_;  // first: disconnects after the statements are freed
  SQLHDBC dbc_ = connection_.get();
  SQLHSTMT select_ = SQL_NULL_HSTMT;
  SQLWCHAR key_[16] = {};
  SQLLEN keyLength_ = 0;
  std::vector<Column> columns_;
  std::vector<std::size_t> setColumns_;  // indexes in columns_, in the order assigned
  std::vector<std::size_t> where_;       // compared columns, the key first
  std::vector<Parameter> set_;           // the new values, one per assigned column
  std::vector<bool> pattern_;
  std::vector<std::pair<std::vector<bool>, SQLHSTMT>> updates_;
  SQLWCHAR scratch_[1024];
};

// The keyed select as our layer sends it: the declared text with its marker for the key.
std::string layerSelectText() {
  StoreObjects declared;
  std::string text = declared.aProdutos.statementText();
  const std::string marker = ":idreferencia";
  const std::size_t at = text.find(marker);
  if (at == std::string::npos) throw std::runtime_error("aProdutos selects by no :idreferencia");
  return text.replace(at, marker.size(), "?");
}

// --- Our layer ---------------------------------------------------------------------------------

void assignRow(StoreQuery& q, const std::string& k) {
  for (const Assigned& a : kAssigned) {
    Field& f = q.fieldByName(a.column);
    switch (a.form) {
      case Form::Text:
        f.assignText(a.text[0] == '\0' && std::strcmp(a.column, "IdReferencia") == 0 ? k : a.text);
        break;
      case Form::Integer: f.assignInteger(static_cast<long long>(a.number)); break;
      case Form::Float: f.assignFloat(a.number); break;
      case Form::DateTime: f.assignDateTime(DateTime{a.number}); break;
    }
  }
}

// Finds the product by key, edits or appends it, assigns the 55 columns and posts.
void layerOperation(StoreObjects& objects, const std::string& k) {
  StoreQuery& q = objects.aProdutos;
  q.close();
  q.parameterByName("idreferencia").setValue(k);
  q.open();
  q.edit();  // appends when the key is missing
  assignRow(q, k);
  q.post();
}

struct Figures {
  double wallPerOp = 0;  // microseconds
  double cpuPerOp = 0;
};

template <class Operation>
Figures measure(int ops, int start, int rows, Operation&& operation) {
  const double cpu0 = cpuSeconds();
  const auto t0 = Clock::now();
  for (int i = 0; i < ops; ++i) operation(key((start + i) % rows));
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = cpuSeconds() - cpu0;
  return {wall * 1e6 / ops, cpu * 1e6 / ops};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Sequential and index scans of lj_produtos so far, from the server's statistics.
std::string scans(const std::string& init, const std::string& schema) {
  StoreObjects objects;
  objects.Tendaro.setConnectionString(init);
  StoreQuery q("qScans", objects.Tendaro);
  q.setStatementText(
      "select seq_scan, idx_scan from pg_stat_user_tables where schemaname = :s and relname = "
      "'lj_produtos'");
  q.parameterByName("s").setValue(schema);
  q.open();
  if (q.isEmpty()) return "(no statistics)";
  static long long lastSeq = 0, lastIdx = 0;
  const long long seq = q.fieldByName("seq_scan").asInteger();
  const long long idx = q.fieldByName("idx_scan").asInteger();
  std::string text =
      std::to_string(seq - lastSeq) + " sequential, " + std::to_string(idx - lastIdx) + " by index";
  lastSeq = seq;
  lastIdx = idx;
  return text;
}

std::string readSchemaTable(const std::string& table) {
  std::ifstream in(std::string(IMP_SOURCE_ROOT) + "/schema/postgresql.sql");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t start = text.find("create table " + table + " (");
  if (start == std::string::npos)
    throw std::runtime_error("no " + table + " in the PostgreSQL schema");
  const std::size_t end = text.find(");", start);
  return text.substr(start, end + 1 - start);
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 2000;
  int rounds = 7;
  int ops = 300;
  int profile = 0;  // only this many layer operations, for a profiler
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--profile") profile = std::atoi(argv[i + 1]);
    if (option == "--profile-floor") profile = -std::atoi(argv[i + 1]);
    if (option == "--rows") rows = std::atoi(argv[i + 1]);
    if (option == "--rounds") rounds = std::atoi(argv[i + 1]);
    if (option == "--ops") ops = std::atoi(argv[i + 1]);
  }
  const char* base = std::getenv("IMP_TEST_PG_CONN");
  if (base == nullptr) {
    std::fprintf(stderr,
                 "store_bench: IMP_TEST_PG_CONN is not set (scripts/pg-test-server start DIR)\n");
    return 2;
  }
  const std::string schema = "bench_" + std::to_string(getpid());
  const std::string connection =
      std::string(base) + ";pqopt={options='-c search_path=" + schema + "'}";
  const std::string init = "Provider=MSDASQL.1;Extended Properties=\"" + connection + "\"";

  try {
    {
      StoreObjects admin;
      admin.Tendaro.setConnectionString(init);
      admin.Tendaro.connect();
      odbc::Statement s(admin.Tendaro.odbcConnection());
      s.executeDirect(utf8ToUtf16("create schema " + schema));
      odbc::Statement t(admin.Tendaro.odbcConnection());
      t.executeDirect(
          utf8ToUtf16("set search_path to " + schema + "; " + readSchemaTable("lj_produtos")));
    }

    std::printf(
        "store_bench: PostgreSQL, lj_produtos of %d rows, %d rounds of %d operations each way\n\n",
        rows, rounds, ops);

    if (profile < 0) {  // the floor only, over rows the layer inserts first
      {
        StoreObjects objects;
        objects.Tendaro.setConnectionString(init);
        measure(rows, 0, rows, [&](const std::string& k) { layerOperation(objects, k); });
      }
      Floor floor(connection);
      const Figures f =
          measure(-profile, 0, rows, [&](const std::string& k) { floor.operation(k); });
      std::printf("floor only: %.0f us wall, %.1f us cpu per operation\n", f.wallPerOp, f.cpuPerOp);
      StoreObjects objects;
      objects.Tendaro.setConnectionString(init);
      odbc::Statement s(objects.Tendaro.odbcConnection());
      s.executeDirect(utf8ToUtf16("drop schema " + schema + " cascade"));
      return 0;
    }
    if (profile > 0) {
      StoreObjects objects;
      objects.Tendaro.setConnectionString(init);
      objects.Tendaro.connect();
      measure(rows, 0, rows, [&](const std::string& k) { layerOperation(objects, k); });  // fill
      const Figures f =
          measure(profile, 0, rows, [&](const std::string& k) { layerOperation(objects, k); });
      std::printf("layer only: %.0f us wall, %.1f us cpu per operation\n", f.wallPerOp, f.cpuPerOp);
      odbc::Statement s(objects.Tendaro.odbcConnection());
      s.executeDirect(utf8ToUtf16("drop schema " + schema + " cascade"));
      return 0;
    }

    // Phase 1: an empty table filled through the layer, prepared statements kept or not.
    for (bool reuse : {true, false}) {
      StoreObjects objects;
      objects.Tendaro.setConnectionString(init);
      objects.Tendaro.setReusePreparedStatements(reuse);
      objects.Tendaro.connect();
      {
        odbc::Statement s(objects.Tendaro.odbcConnection());
        s.executeDirect(u"truncate lj_produtos");
      }
      const int slice = std::max(1, rows / 10);
      std::printf(
          "insert into an empty table, prepared statements %s (us per product, by tenth of the "
          "fill):\n ",
          reuse ? "kept" : "prepared anew");
      for (int part = 0; part < 10; ++part) {
        const Figures f = measure(slice, part * slice, rows,
                                  [&](const std::string& k) { layerOperation(objects, k); });
        std::printf(" %.0f", f.wallPerOp);
      }
      std::printf("\n");
      objects.Tendaro.disconnect();  // its statistics reach the server
      sleep(2);
      std::printf("  lj_produtos scans: %s\n", scans(init, schema).c_str());
    }
    {
      StoreObjects objects;
      objects.Tendaro.setConnectionString(init);
      objects.Tendaro.connect();
      odbc::Statement s(objects.Tendaro.odbcConnection());
      s.executeDirect(u"analyze lj_produtos");
    }

    // Phase 2: updates of existing rows, our layer beside the floor, rounds interleaved.
    StoreObjects objects;
    objects.Tendaro.setConnectionString(init);
    objects.Tendaro.connect();
    Floor floor(connection);
    OptimisticFloor sameFloor(connection, layerSelectText());
    // Warm all three up.
    measure(50, 0, rows, [&](const std::string& k) { layerOperation(objects, k); });
    measure(50, 0, rows, [&](const std::string& k) { floor.operation(k); });
    measure(50, 0, rows, [&](const std::string& k) { sameFloor.operation(k); });
    std::vector<double> layerWall, layerCpu, floorWall, floorCpu, ratios;
    std::vector<double> sameWall, sameCpu, sameRatios;
    int start = 100;
    for (int round = 0; round < rounds; ++round) {
      const Figures a =
          measure(ops, start, rows, [&](const std::string& k) { layerOperation(objects, k); });
      const Figures b =
          measure(ops, start, rows, [&](const std::string& k) { floor.operation(k); });
      const Figures c =
          measure(ops, start, rows, [&](const std::string& k) { sameFloor.operation(k); });
      start += ops;
      layerWall.push_back(a.wallPerOp);
      layerCpu.push_back(a.cpuPerOp);
      floorWall.push_back(b.wallPerOp);
      floorCpu.push_back(b.cpuPerOp);
      ratios.push_back(a.wallPerOp / b.wallPerOp);
      sameWall.push_back(c.wallPerOp);
      sameCpu.push_back(c.cpuPerOp);
      sameRatios.push_back(a.wallPerOp / c.wallPerOp);
      std::printf(
          "round %d: layer %.0f us (cpu %.1f us), floor %.0f us (cpu %.1f us), ratio %.3f; "
          "same-statement floor %.0f us (cpu %.1f us), ratio %.3f\n",
          round + 1, a.wallPerOp, a.cpuPerOp, b.wallPerOp, b.cpuPerOp, a.wallPerOp / b.wallPerOp,
          c.wallPerOp, c.cpuPerOp, a.wallPerOp / c.wallPerOp);
    }
    const double lw = median(layerWall);
    const double lc = median(layerCpu);
    const double fw = median(floorWall);
    const double fc = median(floorCpu);
    const double sw = median(sameWall);
    const double sc = median(sameCpu);
    std::printf("\nkeyed open + edit + post of a 55-column row (medians of %d rounds):\n", rounds);
    std::printf("  our layer      %8.1f us wall  %7.1f us client cpu (%.1f%% of wall)\n", lw, lc,
                100 * lc / lw);
    std::printf(
        "  ODBC floor     %8.1f us wall  %7.1f us client cpu (%.1f%% of wall)  update by key "
        "only\n",
        fw, fc, 100 * fc / fw);
    std::printf(
        "  same-statement %8.1f us wall  %7.1f us client cpu (%.1f%% of wall)  the layer's own "
        "select and "
        "optimistic update\n",
        sw, sc, 100 * sc / sw);
    std::printf(
        "  wall ratio     %8.3f (median of the per-round ratios %.3f; target <= 1.2) to the "
        "key-only floor\n",
        lw / fw, median(ratios));
    std::printf(
        "  wall ratio     %8.3f (median of the per-round ratios %.3f) to the same-statement "
        "floor\n",
        lw / sw, median(sameRatios));
    std::printf(
        "  layer cpu over the floor's: %.1f us per operation (key-only), %.1f us (same "
        "statements)\n",
        lc - fc, lc - sc);

    {
      odbc::Statement s(objects.Tendaro.odbcConnection());
      s.executeDirect(utf8ToUtf16("drop schema " + schema + " cascade"));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "store_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
