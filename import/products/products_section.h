// The "Produtos" section: every legacy product of cfa1010.DBF becomes its master row of
// lj_produtos, its EAN-13 barcode row of lj_referBar, its price row of table 1 in lj_referPrc, a
// call of the store's initial-stock procedure, a new estoqueinicial entry and, when the store
// holds the product's stock row, its physical stock.
//
// Per legacy record, as the run's section frame drives it:
//   beforeRecord  (outside the capture) reads pd_cod as text, drops its '-', '.' and '/' to make
//                 the key, and logs "Importando Produto - " and the key;
//   importRecord  (inside the capture) refuses a key longer than 10 characters, then writes the
//                 master row, the barcode row, the price row, calls the procedure, inserts the
//                 initial-stock entry and sets the physical stock, logging each step;
//   errorLine     "Erro gravando o Produto - ", the key, a carriage return, the message.
// Nothing is undone when a step fails: the rows posted before it stay in the store.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "data/record/parameter.h"
#include "data/record/record_source.h"
#include "import/keyed_query.h"
#include "import/section.h"

namespace importacao {

// The log texts of the section (code page 1252 bytes; 0xF3 is the ó).
inline constexpr std::string_view kLineImportingProduct = "Importando Produto - ";
inline constexpr std::string_view kLineImportingBarcode =
    "Importando C\xF3"
    "digo de Barras do Produto - ";
inline constexpr std::string_view kLineWritingPrice = "Gravando Preco do Produto - ";
inline constexpr std::string_view kLineStockProcedure = "Gerando Estoque do Produto - ";
inline constexpr std::string_view kLineInitialStock = "Gerando Estoque inicial - ";
inline constexpr std::string_view kLineProductError = "Erro gravando o Produto - ";

// The store's idreferencia columns hold 10 characters. A longer key would be looked up whole
// but stored cut, so a later run could never find the row again: such a product is refused
// with this message and nothing is written for it.
inline constexpr std::size_t kMaxProductKeyLength = 10;
inline constexpr std::string_view kMessageKeyTooLong =
    "C\xF3"
    "digo do produto excede 10 caracteres";

// A statement that is only run, never read: its parameter list and the call that runs it once
// with the parameters' current values (raising DataError when the store refuses).
struct ProductCommand {
  ParameterList* parameters = nullptr;
  std::function<void()> run;
};

// The store objects the section works with (app/run/import_objects.cpp hands over the run's).
struct ProductStore {
  KeyedQuery aProdutos;       // lj_produtos by idreferencia; fields derived from the columns
  KeyedQuery aBarras;         // lj_referBar by idreferencia, idcor, tam, codbarra
  KeyedQuery aPreco;          // lj_referPrc by idreferencia, idtabela
  KeyedQuery aEstoque;        // lj_referEst by idreferencia, idcor, tam, idestoque
  ProductCommand sp_Estoque;  // Sp_EstoqueInicial: parameters 1 to 5 by position
  ProductCommand EstInicial;  // the estoqueinicial insert: parameters 0 to 3 by position
};

class ProductsSection final : public Section {
 public:
  // Works on `tProduto`, the store objects and `clock`, which must outlive the section.
  ProductsSection(RecordSource& tProduto, ProductStore store, const Clock& clock);

  ProductsSection(const ProductsSection&) = delete;
  ProductsSection& operator=(const ProductsSection&) = delete;

  std::string_view caption() const override { return "Produtos"; }

  // Reads pd_cod of the current record as text, makes the key and logs "Importando Produto - "
  // with it. Throws whatever the legacy table raises (no pd_cod field: "tProduto: Field 'pd_cod'
  // not found") or what the log raises; either ends the run.
  void beforeRecord(RunLog& log) override;

  // Writes the product under the key that beforeRecord made. Returns Inserted when lj_produtos
  // had no row for the key, Updated when it had one. Throws DataError: kMessageKeyTooLong for a
  // key of more than 10 characters (before anything is written), or the first error of the
  // data-access layer or the store; the steps after it are skipped and what was posted stays.
  RecordOutcome importRecord(RunLog& log) override;

  // "Erro gravando o Produto - " + key + "\r" + error.what().
  std::string errorLine(const DataError& error) override;

  // The key of the record in hand (valid after beforeRecord).
  const std::string& key() const noexcept { return key_; }

 private:
  RecordOutcome writeMaster();
  void writeBarcode(RunLog& log);
  void writePrice(RunLog& log);
  void runStockProcedure(RunLog& log);
  void insertInitialStock(RunLog& log);
  void setPhysicalStock();
  // Logs `step` followed by the key.
  void logStep(RunLog& log, std::string_view step);

  RecordSource& tProduto_;
  const ProductStore store_;
  const Clock& clock_;
  std::string key_;
  std::string line_;  // a log line being built, reused
};

}  // namespace importacao
