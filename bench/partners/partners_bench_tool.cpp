// The customers and suppliers benchmark's two helpers (run_bench.py drives them):
//
//   partners_bench_tool generate FOLDER N
//       writes FOLDER/CFA2010.DBF with N generated customers and FOLDER/CFA3010.DBF with N
//       generated suppliers (code page 1252)
//   partners_bench_tool floor CONNECTION N
//       the floor: the same per-record statements the two sections send (keyed select, the
//       municipality lookups, insert or update), straight on the ODBC API with prepared handles,
//       autocommit and no record layer, for the same N customers and N suppliers; run it on an
//       empty store (inserts) and again (updates). Prints its own records/s.
//
// Record i (0-based) of both tables: code i+1; a name with the number; every third a company
// number (the others a CPF, every seventh of them with the empty company-number mask); cities
// cycling over four the store knows and one it does not; every other customer registered on a
// date of its own.
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

struct City {
  const char* state;
  const char* name;  // code page 1252
};
// Four the municipality table knows, one it does not.
constexpr City kCities[] = {{"SP", "CAMPINAS"}, {"SP", "S\xC3O PAULO"}, {"RJ", "NITER\xD3I"},
                            {"MG", "BELO HORIZONTE"}, {"SP", "VILA NOVA"}};
constexpr int kCityCount = sizeof kCities / sizeof kCities[0];

struct Partner {
  std::string code, name, address, district, phone, cgc, cpf, cgf, remark, contact, registered,
      postcode;
  City city, billing;
  double credit = 0;
};

Partner partner(int i) {
  Partner p;
  const int n = i + 1;
  p.code = std::to_string(n);
  p.name = (i % 2 ? "CLIENTE DE TESTE " : "JO\xC3O DA SILVA E FILHOS ") + std::to_string(n);
  p.address = "RUA DAS FLORES " + std::to_string(n % 900);
  p.district = "CENTRO";
  char phone[16];
  std::snprintf(phone, sizeof phone, "19%08d", n);
  p.phone = phone;
  char number[32];
  if (i % 3 == 0) {
    std::snprintf(number, sizeof number, "%02d.%03d.%03d/0001-%02d", n % 100, n % 1000, n % 997, n % 89);
    p.cgc = number;
  } else if (i % 7 == 1) {
    p.cgc = "  .   .   /    -";
  }
  std::snprintf(number, sizeof number, "%03d.%03d.%03d-%02d", n % 1000, n % 991, n % 983, n % 97);
  p.cpf = number;
  p.cgf = i % 3 == 0 ? "ISENTO" : "";
  p.remark = i % 4 ? "CLIENTE ANTIGO " + std::to_string(n) : "";
  p.contact = "CONTATO " + std::to_string(n % 50);
  if (i % 2 == 0) {
    std::snprintf(number, sizeof number, "%04d%02d%02d", 1995 + n % 25, 1 + n % 12, 1 + n % 28);
    p.registered = number;
  }
  std::snprintf(number, sizeof number, "%05d-%03d", n % 100000, n % 1000);
  p.postcode = std::string(number).substr(0, 8);
  p.city = kCities[i % kCityCount];
  p.billing = kCities[(i + 2) % kCityCount];
  p.credit = (n % 100) * 25.5;
  return p;
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

int generate(const std::filesystem::path& folder, int count) {
  std::filesystem::create_directories(folder);
  auto customers = importacao::testing::DbfBuilder::customers().languageByte(0x03);
  auto suppliers = importacao::testing::DbfBuilder::suppliers().languageByte(0x03);
  for (int i = 0; i < count; ++i) {
    const Partner p = partner(i);
    customers.recordWith({{"CL_COD", p.code},
                          {"CL_NOM", p.name},
                          {"CL_END", p.address},
                          {"CL_BAI", p.district},
                          {"CL_CID", p.city.name},
                          {"CL_EST", p.city.state},
                          {"CL_TEL_01", p.phone},
                          {"CL_CGC", p.cgc},
                          {"CL_CGF", p.cgf},
                          {"CL_CPF", p.cpf},
                          {"LIMICRE", fixed(p.credit, 2)},
                          {"CL_OBS1", p.remark},
                          {"CL_PROEMP", p.contact},
                          {"CL_ENDCOB", p.address},
                          {"CL_BAICOB", p.district},
                          {"CL_CIDCOB", p.billing.name},
                          {"CL_ESTCOB", p.billing.state},
                          {"CL_EMAIL", "cliente@example.com"},
                          {"CL_DTACAD", p.registered}});
    suppliers.recordWith({{"FN_COD", p.code},
                          {"FN_NOM", p.name},
                          {"FN_END", p.address},
                          {"FN_BAI", p.district},
                          {"FN_CID", p.city.name},
                          {"FN_EST", p.city.state},
                          {"FN_CEP", p.postcode},
                          {"FN_TEL_01", p.phone},
                          {"FN_CGC", p.cgc.substr(0, 14)},
                          {"FN_CGF", p.cgf}});
  }
  customers.writeTo(folder / "CFA2010.DBF");
  suppliers.writeTo(folder / "CFA3010.DBF");
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

SQL_TIMESTAMP_STRUCT dateOf(const std::string& yyyymmdd) {
  if (yyyymmdd.empty()) return stamp(true);
  SQL_TIMESTAMP_STRUCT t{};
  t.year = static_cast<SQLSMALLINT>(std::stoi(yyyymmdd.substr(0, 4)));
  t.month = static_cast<SQLUSMALLINT>(std::stoi(yyyymmdd.substr(4, 2)));
  t.day = static_cast<SQLUSMALLINT>(std::stoi(yyyymmdd.substr(6, 2)));
  return t;
}

// One prepared statement, reused for every record.
class Prepared {
 public:
  Prepared(SQLHDBC connection, const std::string& text, const char* label) : label_(label) {
    check(SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle_), SQL_HANDLE_DBC, connection, "alloc");
    check(SQLPrepare(handle_, (SQLCHAR*)text.c_str(), SQL_NTS), SQL_HANDLE_STMT, handle_,
          text.c_str());
  }
  ~Prepared() {
    SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    // PARTNERS_FLOOR_PROFILE=1: where the floor's time goes, statement by statement.
    if (std::getenv("PARTNERS_FLOOR_PROFILE") != nullptr && runs_ > 0) {
      std::fprintf(stderr, "%-18s %7d runs %8.1f us each\n", label_, runs_, 1e6 * seconds_ / runs_);
    }
  }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  // Executes with `params`; returns the number of rows fetched (every column read as text) and
  // leaves the last row's last column in lastText().
  int run(std::vector<Param> params) {
    const auto started = std::chrono::steady_clock::now();
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
    ++runs_;
    seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return rows;
  }
  std::string lastText() const { return buffer_; }

 private:
  const char* label_;
  int runs_ = 0;
  double seconds_ = 0;
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
  std::vector<Param> params_;
  std::vector<SQLLEN> lengths_;
  char buffer_[512];
};

const std::vector<std::string> kCustomerColumns = {
    "IdCliente", "Idempresa", "NomeCliente", "NomeFantasia", "Cep", "DDD", "Telefone", "IdPais",
    "IdClassificacao", "TipoPessoa", "Cnpj", "TipoContribuinte", "InscEst", "LimiteCredito",
    "Observacao", "Contato", "DataCadastro", "DataAtualizacao", "Endereco", "Numero",
    "Complemento", "Bairro", "Cidade", "Estado", "End_Cob", "Num_Cob", "Compl_Cob", "Bai_Cob",
    "Cid_Cob", "Est_Cob", "PontoRefer", "IdCorretor", "ComissaoRep", "IdLoja",
    "LiberaConsignacao", "Status", "DescontoVenda", "IdVendedor", "ComissaoVendedor", "CodMun",
    "CodMun_Cob"};

const std::vector<std::string> kSupplierColumns = {
    "Idfornecedor", "Idempresa", "NomeFornecedor", "NomeFantasia", "Cep", "DDD", "Telefone",
    "TipoPessoa", "cnpj", "inscest", "Observacao", "Contato", "DataAtualizacao", "Endereco",
    "Numero", "Bairro", "Cidade", "Estado", "Status", "Fornecedor", "TipoContribuinte", "idpais",
    "codmun"};

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

// The text is sent as the sections send it: code page 1252 turned into UTF-8 for the driver.
std::string utf8(const std::string& cp1252) {
  std::string out;
  for (unsigned char c : cp1252) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {  // the letters used here are all in Latin-1
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
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
    using L = long long;
    using importacao::ProperCaseName;
    using importacao::RemoveAccents;
    using importacao::StripCodePunctuation;
    const std::string s = "";
    Prepared findCustomer(dbc, "select * from clientes where idcliente = ?", "find customer");
    Prepared insertCustomer(dbc, insertText("clientes", kCustomerColumns), "insert customer");
    Prepared updateCustomer(dbc, updateText("clientes", kCustomerColumns, "IdCliente = ?"),
                            "update customer");
    Prepared findSupplier(dbc, "select * from fornecedores where idfornecedor = ?", "find supplier");
    Prepared insertSupplier(dbc, insertText("fornecedores", kSupplierColumns), "insert supplier");
    Prepared updateSupplier(dbc, updateText("fornecedores", kSupplierColumns, "Idfornecedor = ?"),
                            "update supplier");
    Prepared municipality(dbc,
                          "SELECT     Estado.Estado, upper( Municipio.NOME) as Cidade,Estado.CODIGO, codmun\r\n"
                          "FROM         Municipio INNER JOIN\r\n"
                          "                      Estado ON Municipio.IDSIGLA = Estado.Estado\r\n"
                          " where Estado.Estado = ?\r\n"
                          "   and upper( Municipio.NOME) = ?\r\n",
                          "municipality");
    auto lookup = [&](const City& city) -> std::string {
      if (municipality.run({std::string(city.state), utf8(city.name)}) == 0) return "0";
      return municipality.lastText();
    };

    for (int i = 0; i < count; ++i) {
      const Partner p = partner(i);
      const L key = i + 1;
      const bool legal = StripCodePunctuation(p.cgc).find_first_not_of(' ') != std::string::npos;
      const bool found = findCustomer.run({key}) > 0;
      const std::string codmun = lookup(p.city);
      const std::string billing = lookup(p.billing);
      std::vector<Param> values{
          key, L{1}, utf8(RemoveAccents(ProperCaseName(p.name))), utf8(p.name), std::string("0"),
          L{0}, p.phone, std::string("1058"), L{1}, std::string(legal ? "J" : "F"),
          StripCodePunctuation(legal ? p.cgc : p.cpf), std::string(legal ? "1" : "2"), p.cgf,
          p.credit, "Cliente Importado do Sistema Antigo\r" + p.remark, p.contact,
          dateOf(p.registered), stamp(false), p.address, L{0}, s, p.district, utf8(p.city.name),
          std::string(p.city.state), p.address, L{0}, s, p.district, utf8(p.billing.name),
          std::string(p.billing.state), s, L{1}, 0.0, L{1}, std::string("N"), std::string("A"),
          0.0, L{1}, 0.0, codmun, billing};
      if (found) {
        values.push_back(key);
        updateCustomer.run(std::move(values));
      } else {
        insertCustomer.run(std::move(values));
      }
    }
    for (int i = 0; i < count; ++i) {
      const Partner p = partner(i);
      const L key = i + 1;
      const std::string name = utf8(RemoveAccents(ProperCaseName(p.name)));
      const bool found = findSupplier.run({key}) > 0;
      const std::string codmun = lookup(p.city);
      std::vector<Param> values{
          key, L{1}, name, name, StripCodePunctuation(p.postcode), L{0}, p.phone, std::string("J"),
          StripCodePunctuation(p.cgc.substr(0, 14)), p.cgf,
          std::string("Fornecedor Importado do Sistema Antigo"), s, stamp(false), p.address, L{0},
          p.district, utf8(p.city.name), std::string(p.city.state), std::string("A"),
          std::string("1"), std::string("1"), std::string("1058"), codmun};
      if (found) {
        values.push_back(key);
        updateSupplier.run(std::move(values));
      } else {
        insertSupplier.run(std::move(values));
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("floor: %d customers and %d suppliers in %.2f s, %.0f records/s\n", count, count,
              seconds, 2 * count / seconds);
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
    std::cerr << "usage: partners_bench_tool generate FOLDER N | floor CONNECTION N\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "partners_bench_tool: " << error.what() << '\n';
    return 1;
  }
}
