#include "import/products/products_section.h"

#include <cstdint>
#include <stdexcept>
#include <utility>

#include "data/dbf/legacy_table.h"
#include "data/errors.h"
#include "data/store/declarations.h"
#include "normalise/normalise.h"

namespace importacao {
namespace {

// Every product gets one colour, one size, price table 1, company 1, branch 1 and stock 1.
constexpr std::int64_t kColour = 1;
constexpr std::string_view kSize = "0";
constexpr std::int64_t kPriceTable = 1;
constexpr std::int64_t kCompany = 1;
constexpr std::int64_t kBranch = 1;
constexpr std::int64_t kStock = 1;
constexpr double kMaximumStock = 1.0;
constexpr int kBarcodePrefix = 1;

Value integer(std::int64_t value) { return Value{value}; }
Value text(std::string_view value) { return Value{std::string(value)}; }

// Closes the query, sets its parameters by name and opens it again: the query looks up one key.
void reopen(ProductQuery query, std::initializer_list<std::pair<std::string_view, Value>> params) {
  query.source->close();
  for (const auto& [name, value] : params) query.parameters->byName(name).setValue(value);
  query.source->open();
}

// A found row is edited, an empty result gets a new row. Returns whether the row is new.
bool appendOrEdit(RecordSource& source) {
  if (source.isEmpty()) {
    source.append();
    return true;
  }
  source.edit();
  return false;
}

}  // namespace

ProductStore productStoreOf(StoreObjects& store) {
  ProductStore result;
  result.aProdutos = productQuery(store.aProdutos);
  result.aBarras = productQuery(store.aBarras);
  result.aPreco = productQuery(store.aPreco);
  result.aEstoque = productQuery(store.aEstoque);
  result.sp_Estoque = {&store.sp_Estoque.parameters(), [&store] { store.sp_Estoque.execProc(); }};
  result.EstInicial = {&store.EstInicial.parameters(), [&store] { store.EstInicial.execute(); }};
  return result;
}

ProductsSection::ProductsSection(RecordSource& tProduto, ProductStore store)
    : tProduto_(&tProduto), store_(std::move(store)), fromContext_(false) {}

void ProductsSection::bind(SectionContext& context) {
  if (!fromContext_) return;
  if (context.tProduto == nullptr || context.store == nullptr) {
    throw std::logic_error("ProductsSection: the run gave no products table or store objects");
  }
  tProduto_ = context.tProduto;
  if (boundTo_ != context.store) {
    store_ = productStoreOf(*context.store);
    boundTo_ = context.store;
  }
}

void ProductsSection::beforeRecord(SectionContext& context) {
  bind(context);
  key_ = StripCodePunctuation(tProduto_->fieldByName("pd_cod").asTextRef());
  line_.assign(kLineImportingProduct);
  line_ += key_;
  context.AddLogLine(line_);
}

RecordOutcome ProductsSection::importRecord(SectionContext& context) {
  if (key_.size() > kMaxProductKeyLength) throw DataError(std::string(kMessageKeyTooLong));
  const RecordOutcome outcome = writeMaster(context.clock);
  writeBarcode(context);
  writePrice(context);
  runStockProcedure(context);
  insertInitialStock(context);
  setPhysicalStock();
  return outcome;
}

std::string ProductsSection::errorLine(SectionContext&, const DataError& error) {
  std::string line(kLineProductError);
  line += key_;
  line += '\r';
  line += error.what();
  return line;
}

RecordOutcome ProductsSection::writeMaster(const Clock& clock) {
  RecordSource& aProdutos = *store_->aProdutos.source;
  RecordSource& tProduto = *tProduto_;
  reopen(store_->aProdutos, {{"idreferencia", text(key_)}});
  const bool inserting = appendOrEdit(aProdutos);

  // Each value is read from the legacy record when its column is assigned, so a missing field
  // or column fails at its own place in this order.
  auto column = [&](std::string_view name) -> Field& { return aProdutos.fieldByName(name); };
  // A view of the legacy text, used at once: assignText copies it into the column.
  auto legacyText = [&](std::string_view name) -> std::string_view {
    return tProduto.fieldByName(name).asTextRef();
  };

  column("IdReferencia").assignText(key_);
  column("Descricao").assignText(legacyText("pd_dsc"));
  column("ApelidoProduto").assignText(legacyText("pd_apl"));
  column("DenominacaoFiscal").assignText(legacyText("pd_dsc"));
  column("IdGrupo").assignInteger(1);
  column("IdTamanho").assignInteger(1);
  column("IdColecao").assignInteger(1);
  column("Tam_Ini").assignInteger(1);
  column("Tam_Fim").assignInteger(1);
  column("DataCadastro").assignDateTime(clock.today());
  column("DataAlteracao").assignDateTime(clock.now());
  column("Status").assignText("A");
  column("PrcCompra").assignInteger(0);
  column("PrcUltCusto").assignInteger(0);
  column("PrcMedio").assignInteger(0);
  column("PercMargem").assignInteger(0);
  column("Promocao").assignText("N");
  column("Localizacao").assignText("");
  column("RefAnterior").assignText("");
  column("UndVenda").assignText(legacyText("pd_und"));
  column("UndCompra").assignText(legacyText("pd_und"));
  // The supplier's legacy code as it stands: suppliers are stored under their legacy codes.
  column("IdFornecedor").assignFloat(tProduto.fieldByName("pd_frn").asFloat());
  column("TipoProduto").assignText("P");
  column("VlrPromocao").assignInteger(0);
  column("Icms").assignInteger(0);
  column("Consignado").assignText("N");
  column("Qtd1").assignInteger(0);
  column("Qtd2").assignInteger(0);
  column("Qtd3").assignInteger(0);
  column("Qtd4").assignInteger(0);
  column("Qtd5").assignInteger(0);
  column("Qtd6").assignInteger(0);
  column("FatorConversao").assignInteger(1);
  column("Prc1").assignInteger(0);
  column("Prc2").assignInteger(0);
  column("Prc3").assignInteger(0);
  column("IdTecido").assignInteger(1);
  column("IdAliquota").assignText("T18");
  column("IdMarca").assignInteger(1);
  column("UndVendaQtde").assignInteger(1);
  column("UndCompraQtde").assignInteger(1);
  column("SubTributaria").assignText("N");
  column("TipoSped").assignText("00");
  column("PercPis").assignInteger(0);
  column("PercCofins").assignInteger(0);
  column("CSTPis").assignText("99");
  column("CSTCofins").assignText("99");
  column("CSTIpiEntrada").assignText("049");
  column("CSTIPI").assignText("99");
  column("CSOSN").assignText("102");
  column("DescPromocao").assignInteger(0);
  column("Origem_Mercadoria").assignText("0");
  column("ListaPrecoVenda").assignText("N");
  column("NCM").assignText("");
  column("CST").assignText("000");

  aProdutos.post();
  return inserting ? RecordOutcome::Inserted : RecordOutcome::Updated;
}

void ProductsSection::writeBarcode(SectionContext& context) {
  line_.assign(kLineImportingBarcode);
  line_ += key_;
  context.AddLogLine(line_);

  const std::string barcode = MakeEan13(key_, kBarcodePrefix);
  RecordSource& aBarras = *store_->aBarras.source;
  reopen(store_->aBarras, {{"idreferencia", text(key_)},
                           {"idcor", integer(kColour)},
                           {"tam", text(kSize)},
                           {"codbarra", text(barcode)}});
  appendOrEdit(aBarras);
  aBarras.fieldByName("IdReferencia").assignText(key_);
  aBarras.fieldByName("IdCor").assignInteger(kColour);
  aBarras.fieldByName("Tam").assignText(kSize);
  aBarras.fieldByName("DataAlteracao").assignDateTime(context.clock.now());
  aBarras.fieldByName("CodBarra").assignText(barcode);
  aBarras.fieldByName("Est_Minimo").assignFloat(tProduto_->fieldByName("pd_qtd_mn").asFloat());
  aBarras.fieldByName("Est_Maximo").assignFloat(kMaximumStock);
  aBarras.post();
}

void ProductsSection::writePrice(SectionContext& context) {
  line_.assign(kLineWritingPrice);
  line_ += key_;
  context.AddLogLine(line_);

  RecordSource& aPreco = *store_->aPreco.source;
  reopen(store_->aPreco, {{"idreferencia", text(key_)}, {"idtabela", integer(kPriceTable)}});
  appendOrEdit(aPreco);
  aPreco.fieldByName("IdReferencia").assignText(key_);
  aPreco.fieldByName("IdTabela").assignInteger(kPriceTable);
  aPreco.fieldByName("PrecoVenda").assignFloat(tProduto_->fieldByName("pd_vlr_rf").asFloat());
  // Two readings of the clock: an update overwrites DataInclusao as well.
  aPreco.fieldByName("DataAlteracao").assignDateTime(context.clock.now());
  aPreco.fieldByName("DataInclusao").assignDateTime(context.clock.now());
  aPreco.post();
}

void ProductsSection::runStockProcedure(SectionContext& context) {
  line_.assign(kLineStockProcedure);
  line_ += key_;
  context.AddLogLine(line_);

  // By position; position 0 is the procedure's return value, never set nor read.
  ParameterList& params = *store_->sp_Estoque.parameters;
  params.at(1).setValue(text(key_));
  params.at(2).setValue(integer(kColour));
  params.at(3).setValue(text(kSize));
  params.at(4).setValue(integer(kCompany));
  params.at(5).setValue(integer(kBranch));
  store_->sp_Estoque.run();
}

void ProductsSection::insertInitialStock(SectionContext& context) {
  line_.assign(kLineInitialStock);
  line_ += key_;
  context.AddLogLine(line_);

  // data, idreferencia, estoque, idestoque: sequencia 0, colour 1 and size '0' are in the text.
  ParameterList& params = *store_->EstInicial.parameters;
  params.at(0).setValue(Value{context.clock.now()});
  params.at(1).setValue(text(key_));
  params.at(2).setValue(Value{tProduto_->fieldByName("pd_qtd").asFloat()});
  params.at(3).setValue(integer(kStock));
  store_->EstInicial.run();
}

void ProductsSection::setPhysicalStock() {
  RecordSource& aEstoque = *store_->aEstoque.source;
  reopen(store_->aEstoque, {{"idreferencia", text(key_)},
                            {"idcor", integer(kColour)},
                            {"tam", text(kSize)},
                            {"idestoque", integer(kStock)}});
  // No stock row for the product: nothing to set, and nothing is created.
  if (aEstoque.isEmpty()) return;
  aEstoque.edit();
  aEstoque.fieldByName("Est_Fisico").assignFloat(tProduto_->fieldByName("pd_qtd").asFloat());
  aEstoque.post();
}

}  // namespace importacao
