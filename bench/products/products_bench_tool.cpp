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
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/odbc_floor.h"
#include "normalise/normalise.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/written_columns.h"

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

using importacao::bench::fixed;

int generate(const std::filesystem::path& folder, int count) {
  std::filesystem::create_directories(folder);
  auto table = importacao::test_support::DbfBuilder::products().languageByte(0x03);
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

using importacao::bench::insertText;
using importacao::bench::Param;
using importacao::bench::Prepared;
using importacao::bench::stamp;
using importacao::bench::updateText;

using importacao::test_support::kProductMasterColumns;

std::vector<Param> masterValues(const std::string& key, const Product& p) {
  using L = long long;
  return {key,
          p.description,
          p.nickname,
          p.description,
          L{1},
          L{1},
          L{1},
          L{1},
          L{1},
          stamp(true),
          stamp(false),
          std::string("A"),
          L{0},
          L{0},
          L{0},
          L{0},
          std::string("N"),
          std::string(""),
          std::string(""),
          p.unit,
          p.unit,
          p.supplier,
          std::string("P"),
          L{0},
          L{0},
          std::string("N"),
          L{0},
          L{0},
          L{0},
          L{0},
          L{0},
          L{0},
          L{1},
          L{0},
          L{0},
          L{0},
          L{1},
          std::string("T18"),
          L{1},
          L{1},
          L{1},
          std::string("N"),
          std::string("00"),
          L{0},
          L{0},
          std::string("99"),
          std::string("99"),
          std::string("049"),
          std::string("99"),
          std::string("102"),
          L{0},
          std::string("0"),
          std::string("N"),
          std::string(""),
          std::string("000")};
}

int floor(const std::string& connectionString, int count) {
  const importacao::bench::FloorConnection connection(connectionString);
  const SQLHDBC dbc = connection.get();
  const importacao::bench::Stopwatch clock;
  {
    const std::vector<std::string>& master = kProductMasterColumns;
    const std::vector<std::string> barcode{
        "IdReferencia", "IdCor", "Tam", "DataAlteracao", "CodBarra", "Est_Minimo", "Est_Maximo"};
    const std::vector<std::string> price{"IdReferencia", "IdTabela", "PrecoVenda", "DataAlteracao",
                                         "DataInclusao"};
    Prepared findMaster(dbc, "select * from lj_produtos where idreferencia = ?");
    Prepared insertMaster(dbc, insertText("lj_produtos", master));
    Prepared updateMaster(dbc, updateText("lj_produtos", master, "IdReferencia = ?"));
    Prepared findBarcode(dbc,
                         "select * from lj_referBar where idreferencia = ? and idcor = ?"
                         " and tam = ? and codbarra = ?");
    Prepared insertBarcode(dbc, insertText("lj_referBar", barcode));
    Prepared updateBarcode(
        dbc, updateText("lj_referBar", barcode,
                        "IdReferencia = ? and IdCor = ? and Tam = ? and CodBarra = ?"));
    Prepared findPrice(dbc, "select * from lj_referPrc where idreferencia = ? and idtabela = ?");
    Prepared insertPrice(dbc, insertText("lj_referPrc", price));
    Prepared updatePrice(dbc,
                         updateText("lj_referPrc", price, "IdReferencia = ? and IdTabela = ?"));
    Prepared procedure(dbc, "select sp_EstoqueInicial(?, ?, ?, ?, ?)");
    Prepared entry(dbc,
                   "insert into estoqueinicial (data,sequencia, idreferencia, idcor, tam,"
                   " est_atual,idestoque) values (? , 0, ?, 1, '0', ?, ?)");
    Prepared findStock(dbc,
                       "select * from lj_referEst where idreferencia = ? and idcor = ?"
                       " and tam = ? and idestoque = ?");
    Prepared updateStock(dbc,
                         "update lj_referEst set Est_Fisico = ? where IdEmpresa = ? and"
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
  const double seconds = clock.seconds();
  std::printf("floor: %d products in %.2f s, %.0f products/s\n", count, seconds, count / seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return importacao::bench::toolMain(argc, argv, "products_bench_tool", generate, floor);
}
