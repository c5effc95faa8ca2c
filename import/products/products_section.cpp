#include "import/products/products_section.h"

#include <cstdint>
#include <utility>

#include "data/errors.h"
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

}  // namespace

ProductsSection::ProductsSection(RecordSource& tProduto, ProductStore store, const Clock& clock)
    : tProduto_(tProduto), store_(std::move(store)), clock_(clock) {}

void ProductsSection::logStep(RunLog& log, std::string_view step) {
  line_.assign(step);
  line_ += key_;
  log.AddLogLine(line_);
}

void ProductsSection::beforeRecord(RunLog& log) {
  key_ = StripCodePunctuation(tProduto_.fieldByName("pd_cod").asTextRef());
  logStep(log, kLineImportingProduct);
}

RecordOutcome ProductsSection::importRecord(RunLog& log) {
  if (key_.size() > kMaxProductKeyLength) throw DataError(std::string(kMessageKeyTooLong));
  const RecordOutcome outcome = writeMaster();
  writeBarcode(log);
  writePrice(log);
  runStockProcedure(log);
  insertInitialStock(log);
  setPhysicalStock();
  return outcome;
}

std::string ProductsSection::errorLine(const DataError& error) {
  std::string line(kLineProductError);
  line += key_;
  line += '\r';
  line += error.what();
  return line;
}

RecordOutcome ProductsSection::writeMaster() {
  RecordSource& aProdutos = store_.aProdutos.source;
  const bool inserting = findForWriting(store_.aProdutos, {{"idreferencia", text(key_)}});

  // Each value is read from the legacy record when its column is assigned, so a missing field
  // or column fails at its own place in this order.
  auto column = [&](std::string_view name) -> Field& { return aProdutos.fieldByName(name); };
  // A view of the legacy text, used at once: assignText copies it into the column.
  auto legacyText = [&](std::string_view name) -> std::string_view {
    return tProduto_.fieldByName(name).asTextRef();
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
  column("DataCadastro").assignDateTime(clock_.today());
  column("DataAlteracao").assignDateTime(clock_.now());
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
  column("IdFornecedor").assignFloat(tProduto_.fieldByName("pd_frn").asFloat());
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

void ProductsSection::writeBarcode(RunLog& log) {
  logStep(log, kLineImportingBarcode);

  const std::string barcode = MakeEan13(key_, kBarcodePrefix);
  RecordSource& aBarras = store_.aBarras.source;
  findForWriting(store_.aBarras, {{"idreferencia", text(key_)},
                                  {"idcor", integer(kColour)},
                                  {"tam", text(kSize)},
                                  {"codbarra", text(barcode)}});
  aBarras.fieldByName("IdReferencia").assignText(key_);
  aBarras.fieldByName("IdCor").assignInteger(kColour);
  aBarras.fieldByName("Tam").assignText(kSize);
  aBarras.fieldByName("DataAlteracao").assignDateTime(clock_.now());
  aBarras.fieldByName("CodBarra").assignText(barcode);
  aBarras.fieldByName("Est_Minimo").assignFloat(tProduto_.fieldByName("pd_qtd_mn").asFloat());
  aBarras.fieldByName("Est_Maximo").assignFloat(kMaximumStock);
  aBarras.post();
}

void ProductsSection::writePrice(RunLog& log) {
  logStep(log, kLineWritingPrice);

  RecordSource& aPreco = store_.aPreco.source;
  findForWriting(store_.aPreco, {{"idreferencia", text(key_)}, {"idtabela", integer(kPriceTable)}});
  aPreco.fieldByName("IdReferencia").assignText(key_);
  aPreco.fieldByName("IdTabela").assignInteger(kPriceTable);
  aPreco.fieldByName("PrecoVenda").assignFloat(tProduto_.fieldByName("pd_vlr_rf").asFloat());
  // Two readings of the clock: an update overwrites DataInclusao as well.
  aPreco.fieldByName("DataAlteracao").assignDateTime(clock_.now());
  aPreco.fieldByName("DataInclusao").assignDateTime(clock_.now());
  aPreco.post();
}

void ProductsSection::runStockProcedure(RunLog& log) {
  logStep(log, kLineStockProcedure);

  // By position; position 0 is the procedure's return value, never set nor read.
  ParameterList& params = *store_.sp_Estoque.parameters;
  params.at(1).setValue(text(key_));
  params.at(2).setValue(integer(kColour));
  params.at(3).setValue(text(kSize));
  params.at(4).setValue(integer(kCompany));
  params.at(5).setValue(integer(kBranch));
  store_.sp_Estoque.run();
}

void ProductsSection::insertInitialStock(RunLog& log) {
  logStep(log, kLineInitialStock);

  // data, idreferencia, estoque, idestoque: sequencia 0, colour 1 and size '0' are in the text.
  ParameterList& params = *store_.EstInicial.parameters;
  params.at(0).setValue(Value{clock_.now()});
  params.at(1).setValue(text(key_));
  params.at(2).setValue(Value{tProduto_.fieldByName("pd_qtd").asFloat()});
  params.at(3).setValue(integer(kStock));
  store_.EstInicial.run();
}

void ProductsSection::setPhysicalStock() {
  RecordSource& aEstoque = store_.aEstoque.source;
  reopen(store_.aEstoque, {{"idreferencia", text(key_)},
                           {"idcor", integer(kColour)},
                           {"tam", text(kSize)},
                           {"idestoque", integer(kStock)}});
  // No stock row for the product: nothing to set, and nothing is created.
  if (aEstoque.isEmpty()) return;
  aEstoque.edit();
  aEstoque.fieldByName("Est_Fisico").assignFloat(tProduto_.fieldByName("pd_qtd").asFloat());
  aEstoque.post();
}

}  // namespace importacao
