// The products benchmark's two helpers (run_bench.py drives them):
//
//   products_bench_tool generate FOLDER N
//       writes FOLDER/cfa1010.DBF with N generated products
//   products_bench_tool floor CONNECTION N
//       the floor: the same per-product statements the products section sends, straight on the
//       ODBC API with prepared handles, autocommit and no record layer, for the same N products;
//       run it on an empty store (inserts) and again (updates). Prints its own products/s.
//
// Product i (0-based) of both: pd_cod "%06d-%d" of i+1 and its last digit (key without the
// '-'), description and nickname with the number, unit "UN", supplier i % 500, minimum stock,
// price and stock on hand from i (some stocks negative).
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "normalise/normalise.h"
#include "tests/support/dbf_builder.h"

namespace {

struct Product {
  std::string code, description, nickname, unit;
  double supplier, minimum, price, stock;
};

Product product(int i) {
  char code[32];
  std::snprintf(code, sizeof code, "%06d-%d", i + 1, (i + 1) % 10);
  return Product{code,
                 "PRODUTO " + std::to_string(i + 1) + " DESCRICAO DE TESTE",
                 "APL" + std::to_string(i + 1),
                 "UN",
                 static_cast<double>(i % 500),
                 (i % 7) + 0.5,
                 10 + (i % 1000) / 100.0,
                 static_cast<double>(i % 50 - 5)};
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

int generate(const std::filesystem::path& folder, int count) {
  std::filesystem::create_directories(folder);
  auto table = importacao::testing::DbfBuilder::products().languageByte(0x03);
  for (int i = 0; i < count; ++i) {
    const Product p = product(i);
    // pd_cod pd_dsc pd_apl pd_und pd_frn pd_grp pd_qtd_mn pd_vlr_rf pd_qtd pd_bar
    table.record(std::vector<std::string>{p.code, p.description, p.nickname, p.unit,
                                          fixed(p.supplier, 0), "1", fixed(p.minimum, 3),
                                          fixed(p.price, 2), fixed(p.stock, 3), ""});
  }
  table.writeTo(folder / "cfa1010.DBF");
  return 0;
}

// ---- The floor: raw ODBC ----------------------------------------------------------------------

[[noreturn]] void fail(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  std::string text = what;
  SQLCHAR state[6];
  SQLCHAR message[1024];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLSMALLINT n = 1;
       SQL_SUCCEEDED(SQLGetDiagRec(type, handle, n, state, &native, message, sizeof message, &length));
       ++n) {
    text += ": ";
    text += reinterpret_cast<const char*>(message);
  }
  throw std::runtime_error(text);
}

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) fail(type, handle, what);
}

using Param = std::variant<std::string, long long, double, SQL_TIMESTAMP_STRUCT>;

SQL_TIMESTAMP_STRUCT stamp(bool midnight) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  SQL_TIMESTAMP_STRUCT t{};
  t.year = static_cast<SQLSMALLINT>(local.tm_year + 1900);
  t.month = static_cast<SQLUSMALLINT>(local.tm_mon + 1);
  t.day = static_cast<SQLUSMALLINT>(local.tm_mday);
  if (!midnight) {
    t.hour = static_cast<SQLUSMALLINT>(local.tm_hour);
    t.minute = static_cast<SQLUSMALLINT>(local.tm_min);
    t.second = static_cast<SQLUSMALLINT>(local.tm_sec);
    t.fraction = static_cast<SQLUINTEGER>(
        duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000 * 1000000);
  }
  return t;
}

// One prepared statement, reused for every product.
class Prepared {
 public:
  Prepared(SQLHDBC connection, const std::string& text) {
    check(SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle_), SQL_HANDLE_DBC, connection, "alloc");
    check(SQLPrepare(handle_, (SQLCHAR*)text.c_str(), SQL_NTS), SQL_HANDLE_STMT, handle_,
          text.c_str());
  }
  ~Prepared() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  // Executes with `params`; returns the number of rows fetched (every column read as text).
  int run(std::vector<Param> params) {
    params_ = std::move(params);
    lengths_.assign(params_.size(), 0);
    for (std::size_t i = 0; i < params_.size(); ++i) {
      const auto n = static_cast<SQLUSMALLINT>(i + 1);
      SQLRETURN rc = SQL_SUCCESS;
      if (auto* s = std::get_if<std::string>(&params_[i])) {
        lengths_[i] = static_cast<SQLLEN>(s->size());
        rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                              s->empty() ? 1 : s->size(), 0, s->data(), 0, &lengths_[i]);
      } else if (auto* l = std::get_if<long long>(&params_[i])) {
        rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_INTEGER, 0, 0, l, 0,
                              nullptr);
      } else if (auto* d = std::get_if<double>(&params_[i])) {
        rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, d, 0,
                              nullptr);
      } else {
        auto* t = std::get_if<SQL_TIMESTAMP_STRUCT>(&params_[i]);
        rc = SQLBindParameter(handle_, n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                              SQL_TYPE_TIMESTAMP, 23, 3, t, 0, nullptr);
      }
      check(rc, SQL_HANDLE_STMT, handle_, "bind");
    }
    check(SQLExecute(handle_), SQL_HANDLE_STMT, handle_, "execute");
    int rows = 0;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(handle_, &columns);
    if (columns > 0) {
      while (SQLFetch(handle_) == SQL_SUCCESS) {
        ++rows;
        for (SQLUSMALLINT c = 1; c <= columns; ++c) {
          SQLLEN length = 0;
          SQLGetData(handle_, c, SQL_C_CHAR, buffer_, sizeof buffer_, &length);
        }
      }
    }
    SQLFreeStmt(handle_, SQL_CLOSE);
    return rows;
  }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
  std::vector<Param> params_;
  std::vector<SQLLEN> lengths_;
  char buffer_[512];
};

const char* const kMasterColumns[] = {
    "IdReferencia", "Descricao", "ApelidoProduto", "DenominacaoFiscal", "IdGrupo", "IdTamanho",
    "IdColecao", "Tam_Ini", "Tam_Fim", "DataCadastro", "DataAlteracao", "Status", "PrcCompra",
    "PrcUltCusto", "PrcMedio", "PercMargem", "Promocao", "Localizacao", "RefAnterior",
    "UndVenda", "UndCompra", "IdFornecedor", "TipoProduto", "VlrPromocao", "Icms", "Consignado",
    "Qtd1", "Qtd2", "Qtd3", "Qtd4", "Qtd5", "Qtd6", "FatorConversao", "Prc1", "Prc2", "Prc3",
    "IdTecido", "IdAliquota", "IdMarca", "UndVendaQtde", "UndCompraQtde", "SubTributaria",
    "TipoSped", "PercPis", "PercCofins", "CSTPis", "CSTCofins", "CSTIpiEntrada", "CSTIPI",
    "CSOSN", "DescPromocao", "Origem_Mercadoria", "ListaPrecoVenda", "NCM", "CST"};

std::string insertText(const std::string& table, const std::vector<std::string>& columns) {
  std::string names, marks;
  for (const auto& c : columns) {
    names += (names.empty() ? "" : ", ") + c;
    marks += marks.empty() ? "?" : ", ?";
  }
  return "insert into " + table + " (" + names + ") values (" + marks + ")";
}

std::string updateText(const std::string& table, const std::vector<std::string>& columns,
                       const std::string& where) {
  std::string sets;
  for (const auto& c : columns) sets += (sets.empty() ? "" : ", ") + c + " = ?";
  return "update " + table + " set " + sets + " where " + where;
}

std::vector<Param> masterValues(const std::string& key, const Product& p) {
  using L = long long;
  return {key, p.description, p.nickname, p.description, L{1}, L{1}, L{1}, L{1}, L{1},
          stamp(true), stamp(false), std::string("A"), L{0}, L{0}, L{0}, L{0},
          std::string("N"), std::string(""), std::string(""), p.unit, p.unit, p.supplier,
          std::string("P"), L{0}, L{0}, std::string("N"), L{0}, L{0}, L{0}, L{0}, L{0}, L{0},
          L{1}, L{0}, L{0}, L{0}, L{1}, std::string("T18"), L{1}, L{1}, L{1},
          std::string("N"), std::string("00"), L{0}, L{0}, std::string("99"),
          std::string("99"), std::string("049"), std::string("99"), std::string("102"), L{0},
          std::string("0"), std::string("N"), std::string(""), std::string("000")};
}

int floor(const std::string& connectionString, int count) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  check(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connectionString.c_str(), SQL_NTS, nullptr, 0,
                         nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "connect");
  const auto started = std::chrono::steady_clock::now();
  {
    const std::vector<std::string> master(std::begin(kMasterColumns), std::end(kMasterColumns));
    const std::vector<std::string> barcode{"IdReferencia", "IdCor", "Tam", "DataAlteracao",
                                           "CodBarra", "Est_Minimo", "Est_Maximo"};
    const std::vector<std::string> price{"IdReferencia", "IdTabela", "PrecoVenda",
                                         "DataAlteracao", "DataInclusao"};
    Prepared findMaster(dbc, "select * from lj_produtos where idreferencia = ?");
    Prepared insertMaster(dbc, insertText("lj_produtos", master));
    Prepared updateMaster(dbc, updateText("lj_produtos", master, "IdReferencia = ?"));
    Prepared findBarcode(dbc, "select * from lj_referBar where idreferencia = ? and idcor = ?"
                              " and tam = ? and codbarra = ?");
    Prepared insertBarcode(dbc, insertText("lj_referBar", barcode));
    Prepared updateBarcode(dbc, updateText("lj_referBar", barcode,
                                           "IdReferencia = ? and IdCor = ? and Tam = ? and CodBarra = ?"));
    Prepared findPrice(dbc, "select * from lj_referPrc where idreferencia = ? and idtabela = ?");
    Prepared insertPrice(dbc, insertText("lj_referPrc", price));
    Prepared updatePrice(dbc, updateText("lj_referPrc", price, "IdReferencia = ? and IdTabela = ?"));
    Prepared procedure(dbc, "select sp_EstoqueInicial(?, ?, ?, ?, ?)");
    Prepared entry(dbc, "insert into estoqueinicial (data,sequencia, idreferencia, idcor, tam,"
                        " est_atual,idestoque) values (? , 0, ?, 1, '0', ?, ?)");
    Prepared findStock(dbc, "select * from lj_referEst where idreferencia = ? and idcor = ?"
                            " and tam = ? and idestoque = ?");
    Prepared updateStock(dbc, "update lj_referEst set Est_Fisico = ? where IdEmpresa = ? and"
                              " IdLocal = ? and IdEstoque = ? and IdReferencia = ? and IdCor = ?"
                              " and Tam = ?");
    using L = long long;
    const std::string size = "0";
    for (int i = 0; i < count; ++i) {
      const Product p = product(i);
      const std::string key = importacao::StripCodePunctuation(p.code);
      const std::string bar = importacao::MakeEan13(key, 1);

      std::vector<Param> values = masterValues(key, p);
      if (findMaster.run({key}) == 0) {
        insertMaster.run(values);
      } else {
        values.push_back(key);
        updateMaster.run(values);
      }
      std::vector<Param> b{key, L{1}, size, stamp(false), bar, p.minimum, 1.0};
      if (findBarcode.run({key, L{1}, size, bar}) == 0) {
        insertBarcode.run(b);
      } else {
        b.insert(b.end(), {key, L{1}, size, bar});
        updateBarcode.run(b);
      }
      std::vector<Param> pr{key, L{1}, p.price, stamp(false), stamp(false)};
      if (findPrice.run({key, L{1}}) == 0) {
        insertPrice.run(pr);
      } else {
        pr.insert(pr.end(), {key, L{1}});
        updatePrice.run(pr);
      }
      procedure.run({key, L{1}, size, L{1}, L{1}});
      entry.run({stamp(false), key, p.stock, L{1}});
      if (findStock.run({key, L{1}, size, L{1}}) > 0) {
        updateStock.run({p.stock, L{1}, L{1}, L{1}, key, L{1}, size});
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("floor: %d products in %.2f s, %.0f products/s\n", count, seconds, count / seconds);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "generate" && argc == 4) return generate(argv[2], std::atoi(argv[3]));
    if (command == "floor" && argc == 4) return floor(argv[2], std::atoi(argv[3]));
    std::cerr << "usage: products_bench_tool generate FOLDER N | floor CONNECTION N\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "products_bench_tool: " << error.what() << '\n';
    return 1;
  }
}
