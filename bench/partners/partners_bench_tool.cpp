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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/odbc_floor.h"
#include "normalise/normalise.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/written_columns.h"

namespace {

struct City {
  const char* state;
  const char* name;  // code page 1252
};
// Four the municipality table knows, one it does not.
constexpr City kCities[] = {{"SP", "CAMPINAS"},
                            {"SP", "S\xC3O PAULO"},
                            {"RJ", "NITER\xD3I"},
                            {"MG", "BELO HORIZONTE"},
                            {"SP", "VILA NOVA"}};
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
    std::snprintf(number, sizeof number, "%02d.%03d.%03d/0001-%02d", n % 100, n % 1000, n % 997,
                  n % 89);
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

int generate(const std::filesystem::path& folder, int count) {
  std::filesystem::create_directories(folder);
  auto customers = importacao::test_support::DbfBuilder::customers().languageByte(0x03);
  auto suppliers = importacao::test_support::DbfBuilder::suppliers().languageByte(0x03);
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
                          {"LIMICRE", importacao::bench::fixed(p.credit, 2)},
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

using importacao::bench::Param;
using importacao::bench::Prepared;
using importacao::bench::stamp;

SQL_TIMESTAMP_STRUCT dateOf(const std::string& yyyymmdd) {
  if (yyyymmdd.empty()) return stamp(true);
  SQL_TIMESTAMP_STRUCT t{};
  t.year = static_cast<SQLSMALLINT>(std::stoi(yyyymmdd.substr(0, 4)));
  t.month = static_cast<SQLUSMALLINT>(std::stoi(yyyymmdd.substr(4, 2)));
  t.day = static_cast<SQLUSMALLINT>(std::stoi(yyyymmdd.substr(6, 2)));
  return t;
}

using importacao::test_support::kCustomerStoreColumns;

using importacao::test_support::kSupplierStoreColumns;

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
  using importacao::bench::insertText;
  using importacao::bench::updateText;
  const importacao::bench::FloorConnection connection(connectionString);
  const SQLHDBC dbc = connection.get();
  const importacao::bench::Stopwatch clock;
  {
    using L = long long;
    using importacao::ProperCaseName;
    using importacao::RemoveAccents;
    using importacao::StripCodePunctuation;
    const std::string s = "";
    Prepared findCustomer(dbc, "select * from clientes where idcliente = ?", "find customer");
    Prepared insertCustomer(dbc, insertText("clientes", kCustomerStoreColumns), "insert customer");
    Prepared updateCustomer(dbc, updateText("clientes", kCustomerStoreColumns, "IdCliente = ?"),
                            "update customer");
    Prepared findSupplier(dbc, "select * from fornecedores where idfornecedor = ?",
                          "find supplier");
    Prepared insertSupplier(dbc, insertText("fornecedores", kSupplierStoreColumns),
                            "insert supplier");
    Prepared updateSupplier(dbc,
                            updateText("fornecedores", kSupplierStoreColumns, "Idfornecedor = ?"),
                            "update supplier");
    Prepared municipality(
        dbc,
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
      std::vector<Param> values{key,
                                L{1},
                                utf8(RemoveAccents(ProperCaseName(p.name))),
                                utf8(p.name),
                                std::string("0"),
                                L{0},
                                p.phone,
                                std::string("1058"),
                                L{1},
                                std::string(legal ? "J" : "F"),
                                StripCodePunctuation(legal ? p.cgc : p.cpf),
                                std::string(legal ? "1" : "2"),
                                p.cgf,
                                p.credit,
                                "Cliente Importado do Sistema Antigo\r" + p.remark,
                                p.contact,
                                dateOf(p.registered),
                                stamp(false),
                                p.address,
                                L{0},
                                s,
                                p.district,
                                utf8(p.city.name),
                                std::string(p.city.state),
                                p.address,
                                L{0},
                                s,
                                p.district,
                                utf8(p.billing.name),
                                std::string(p.billing.state),
                                s,
                                L{1},
                                0.0,
                                L{1},
                                std::string("N"),
                                std::string("A"),
                                0.0,
                                L{1},
                                0.0,
                                codmun,
                                billing};
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
      std::vector<Param> values{key,
                                L{1},
                                name,
                                name,
                                StripCodePunctuation(p.postcode),
                                L{0},
                                p.phone,
                                std::string("J"),
                                StripCodePunctuation(p.cgc.substr(0, 14)),
                                p.cgf,
                                std::string("Fornecedor Importado do Sistema Antigo"),
                                s,
                                stamp(false),
                                p.address,
                                L{0},
                                p.district,
                                utf8(p.city.name),
                                std::string(p.city.state),
                                std::string("A"),
                                std::string("1"),
                                std::string("1"),
                                std::string("1058"),
                                codmun};
      if (found) {
        values.push_back(key);
        updateSupplier.run(std::move(values));
      } else {
        insertSupplier.run(std::move(values));
      }
    }
    // PARTNERS_FLOOR_PROFILE=1: where the floor's time goes, statement by statement.
    if (std::getenv("PARTNERS_FLOOR_PROFILE") != nullptr) {
      for (const Prepared* p : {&municipality, &updateSupplier, &insertSupplier, &findSupplier,
                                &updateCustomer, &insertCustomer, &findCustomer}) {
        if (const std::string line = p->profile(); !line.empty()) {
          std::fprintf(stderr, "%s\n", line.c_str());
        }
      }
    }
  }
  const double seconds = clock.seconds();
  std::printf("floor: %d customers and %d suppliers in %.2f s, %.0f records/s\n", count, count,
              seconds, 2 * count / seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return importacao::bench::toolMain(argc, argv, "partners_bench_tool", generate, floor);
}
