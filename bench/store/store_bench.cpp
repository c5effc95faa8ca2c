// What the store layer costs on top of the store's own work: a keyed open + edit + post of a
// 55-column lj_produtos row through StoreQuery (aProdutos as declared), beside the floor, the
// same two statements (the keyed select and an update of the same columns, autocommit) issued
// by a minimal loop straight on the ODBC API with prepared handles. Also: inserts into an empty
// table through the layer, with prepared statements kept and prepared anew, to see how plans
// made while the table was empty hold up as it fills.
//
//   store_bench [--rows N] [--rounds R] [--ops K]
//
// Needs a PostgreSQL server: IMP_TEST_PG_CONN (scripts/pg-test-server start DIR; source DIR/env).
// Works in a schema of its own, dropped at the end. Prints figures; checks nothing.
// bench/store/run.sh does it all: Release build, a server of its own, several runs.
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

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

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (SQL_SUCCEEDED(rc)) return;
  SQLCHAR state[6] = {};
  SQLCHAR text[1024] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRecA(type, handle, 1, state, &native, text, sizeof text, &length);
  throw std::runtime_error(std::string(what) + ": " + reinterpret_cast<char*>(text));
}

// --- The floor: a minimal program on the ODBC API ---------------------------------------------

class Floor {
 public:
  explicit Floor(const std::string& connection) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    check(SQLDriverConnectA(dbc_, nullptr, (SQLCHAR*)connection.c_str(), SQL_NTS, nullptr, 0, nullptr,
                            SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc_, "connect");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &select_);
    check(SQLPrepareA(select_, (SQLCHAR*)"select * from lj_produtos where idreferencia = ?", SQL_NTS),
          SQL_HANDLE_STMT, select_, "prepare select");
    check(SQLBindParameter(select_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, key_, sizeof key_,
                           &keyLength_),
          SQL_HANDLE_STMT, select_, "bind key");

    std::string update = "update lj_produtos set ";
    for (std::size_t i = 0; i < std::size(kAssigned); ++i) {
      update += std::string(i == 0 ? "" : ", ") + kAssigned[i].column + " = ?";
    }
    update += " where idreferencia = ?";
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &update_);
    check(SQLPrepareA(update_, (SQLCHAR*)update.c_str(), SQL_NTS), SQL_HANDLE_STMT, update_, "prepare update");
    values_.resize(std::size(kAssigned));
    SQLUSMALLINT n = 1;
    for (std::size_t i = 0; i < std::size(kAssigned); ++i, ++n) {
      Value& v = values_[i];
      const Assigned& a = kAssigned[i];
      switch (a.form) {
        case Form::Text:
          std::snprintf(v.text, sizeof v.text, "%s", a.text);
          v.length = static_cast<SQLLEN>(std::strlen(v.text));
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 120, 0, v.text,
                                 sizeof v.text, &v.length),
                SQL_HANDLE_STMT, update_, "bind");
          break;
        case Form::Integer:
          v.integer = static_cast<long long>(a.number);
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_INTEGER, 10, 0, &v.integer, 0,
                                 nullptr),
                SQL_HANDLE_STMT, update_, "bind");
          break;
        case Form::Float:
          v.real = a.number;
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &v.real, 0, nullptr),
                SQL_HANDLE_STMT, update_, "bind");
          break;
        case Form::DateTime:
          v.timestamp = odbc::timestampFromDays(DateTime{a.number});
          check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3,
                                 &v.timestamp, 0, nullptr),
                SQL_HANDLE_STMT, update_, "bind");
          break;
      }
    }
    check(SQLBindParameter(update_, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, key_, sizeof key_,
                           &keyLength_),
          SQL_HANDLE_STMT, update_, "bind key");
  }
  ~Floor() {
    SQLFreeHandle(SQL_HANDLE_STMT, select_);
    SQLFreeHandle(SQL_HANDLE_STMT, update_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
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
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT select_ = SQL_NULL_HSTMT;
  SQLHSTMT update_ = SQL_NULL_HSTMT;
  char key_[16] = {};
  SQLLEN keyLength_ = 0;
  std::vector<Value> values_;
  SQLWCHAR buffer_[1024];
};

// --- Our layer ---------------------------------------------------------------------------------

void assignRow(StoreQuery& q, const std::string& k) {
  for (const Assigned& a : kAssigned) {
    Field& f = q.fieldByName(a.column);
    switch (a.form) {
      case Form::Text: f.assignText(a.text[0] == '\0' && std::strcmp(a.column, "IdReferencia") == 0 ? k : a.text); break;
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
  q.setStatementText("select seq_scan, idx_scan from pg_stat_user_tables where schemaname = :s and relname = 'lj_produtos'");
  q.parameterByName("s").setValue(schema);
  q.open();
  if (q.isEmpty()) return "(no statistics)";
  static long long lastSeq = 0, lastIdx = 0;
  const long long seq = q.fieldByName("seq_scan").asInteger();
  const long long idx = q.fieldByName("idx_scan").asInteger();
  std::string text = std::to_string(seq - lastSeq) + " sequential, " + std::to_string(idx - lastIdx) + " by index";
  lastSeq = seq;
  lastIdx = idx;
  return text;
}

std::string readSchemaTable(const std::string& table) {
  std::ifstream in(std::string(IMP_SOURCE_ROOT) + "/store/schema/postgresql.sql");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t start = text.find("create table " + table + " (");
  if (start == std::string::npos) throw std::runtime_error("no " + table + " in the PostgreSQL schema");
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
    std::fprintf(stderr, "store_bench: IMP_TEST_PG_CONN is not set (scripts/pg-test-server start DIR)\n");
    return 2;
  }
  const std::string schema = "bench_" + std::to_string(getpid());
  const std::string connection = std::string(base) + ";pqopt={options='-c search_path=" + schema + "'}";
  const std::string init = "Provider=MSDASQL.1;Extended Properties=\"" + connection + "\"";

  try {
    {
      StoreObjects admin;
      admin.Tendaro.setConnectionString(init);
      admin.Tendaro.connect();
      odbc::Statement s(admin.Tendaro.odbcConnection());
      s.executeDirect(utf8ToUtf16("create schema " + schema));
      odbc::Statement t(admin.Tendaro.odbcConnection());
      t.executeDirect(utf8ToUtf16("set search_path to " + schema + "; " + readSchemaTable("lj_produtos")));
    }

    std::printf("store_bench: PostgreSQL, lj_produtos of %d rows, %d rounds of %d operations each way\n\n", rows,
                rounds, ops);

    if (profile < 0) {  // the floor only, over rows the layer inserts first
      {
        StoreObjects objects;
        objects.Tendaro.setConnectionString(init);
        measure(rows, 0, rows, [&](const std::string& k) { layerOperation(objects, k); });
      }
      Floor floor(connection);
      const Figures f = measure(-profile, 0, rows, [&](const std::string& k) { floor.operation(k); });
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
      const Figures f = measure(profile, 0, rows, [&](const std::string& k) { layerOperation(objects, k); });
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
      std::printf("insert into an empty table, prepared statements %s (us per product, by tenth of the fill):\n ",
                  reuse ? "kept" : "prepared anew");
      for (int part = 0; part < 10; ++part) {
        const Figures f = measure(slice, part * slice, rows, [&](const std::string& k) { layerOperation(objects, k); });
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
    // Warm both up.
    measure(50, 0, rows, [&](const std::string& k) { layerOperation(objects, k); });
    measure(50, 0, rows, [&](const std::string& k) { floor.operation(k); });
    std::vector<double> layerWall, layerCpu, floorWall, floorCpu, ratios;
    int start = 100;
    for (int round = 0; round < rounds; ++round) {
      const Figures a = measure(ops, start, rows, [&](const std::string& k) { layerOperation(objects, k); });
      const Figures b = measure(ops, start, rows, [&](const std::string& k) { floor.operation(k); });
      start += ops;
      layerWall.push_back(a.wallPerOp);
      layerCpu.push_back(a.cpuPerOp);
      floorWall.push_back(b.wallPerOp);
      floorCpu.push_back(b.cpuPerOp);
      ratios.push_back(a.wallPerOp / b.wallPerOp);
      std::printf("round %d: layer %.0f us (cpu %.1f us), floor %.0f us (cpu %.1f us), ratio %.3f\n", round + 1,
                  a.wallPerOp, a.cpuPerOp, b.wallPerOp, b.cpuPerOp, a.wallPerOp / b.wallPerOp);
    }
    const double lw = median(layerWall);
    const double lc = median(layerCpu);
    const double fw = median(floorWall);
    const double fc = median(floorCpu);
    std::printf("\nkeyed open + edit + post of a 55-column row (medians of %d rounds):\n", rounds);
    std::printf("  our layer      %8.1f us wall  %7.1f us client cpu (%.1f%% of wall)\n", lw, lc, 100 * lc / lw);
    std::printf("  ODBC floor     %8.1f us wall  %7.1f us client cpu (%.1f%% of wall)\n", fw, fc, 100 * fc / fw);
    std::printf("  wall ratio     %8.3f (median of the per-round ratios %.3f; target <= 1.2)\n", lw / fw,
                median(ratios));
    std::printf("  layer cpu over the floor's: %.1f us per operation\n", lc - fc);

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
