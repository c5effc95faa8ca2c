#include "app/run/store_check.h"

#include <memory>
#include <span>
#include <string_view>

#include "data/errors.h"
#include "data/store/declarations.h"
#include "import/partners/partners_section.h"
#include "import/products/products_section.h"
#include "normalise/ascii.h"
#include "normalise/codepage.h"

namespace importacao {
namespace {

// How a section assigns a column: a text of at most `width` characters (0: no limit worth
// checking, such as the empty text), an integer, a float or a date-time. A column only compared
// with what the section writes elsewhere is not written.
struct ColumnUse {
  std::string_view column;
  FieldKind kind;
  int width = 0;
  std::string_view source = {};  // where a text comes from, for the message
  bool writes = true;
};

constexpr FieldKind T = FieldKind::Text;
constexpr FieldKind I = FieldKind::Integer;
constexpr FieldKind F = FieldKind::Float;
constexpr FieldKind D = FieldKind::DateTime;
constexpr int kProductKey = static_cast<int>(kMaxProductKeyLength);

// The widths of the legacy product table's fields (cfa1010.DBF declares no list of its own).
constexpr ColumnUse kProductColumns[] = {
    {"IdReferencia", T, kProductKey, "the product key"},
    {"Descricao", T, 40, "pd_dsc"},
    {"ApelidoProduto", T, 20, "pd_apl"},
    {"DenominacaoFiscal", T, 40, "pd_dsc"},
    {"IdGrupo", I},
    {"IdTamanho", I},
    {"IdColecao", I},
    {"Tam_Ini", I},
    {"Tam_Fim", I},
    {"DataCadastro", D},
    {"DataAlteracao", D},
    {"Status", T, 1, "A"},
    {"PrcCompra", I},
    {"PrcUltCusto", I},
    {"PrcMedio", I},
    {"PercMargem", I},
    {"Promocao", T, 1, "N"},
    {"Localizacao", T},
    {"RefAnterior", T},
    {"UndVenda", T, 3, "pd_und"},
    {"UndCompra", T, 3, "pd_und"},
    {"IdFornecedor", F},
    {"TipoProduto", T, 1, "P"},
    {"VlrPromocao", I},
    {"Icms", I},
    {"Consignado", T, 1, "N"},
    {"Qtd1", I},
    {"Qtd2", I},
    {"Qtd3", I},
    {"Qtd4", I},
    {"Qtd5", I},
    {"Qtd6", I},
    {"FatorConversao", I},
    {"Prc1", I},
    {"Prc2", I},
    {"Prc3", I},
    {"IdTecido", I},
    {"IdAliquota", T, 3, "T18"},
    {"IdMarca", I},
    {"UndVendaQtde", I},
    {"UndCompraQtde", I},
    {"SubTributaria", T, 1, "N"},
    {"TipoSped", T, 2, "00"},
    {"PercPis", I},
    {"PercCofins", I},
    {"CSTPis", T, 2, "99"},
    {"CSTCofins", T, 2, "99"},
    {"CSTIpiEntrada", T, 3, "049"},
    {"CSTIPI", T, 2, "99"},
    {"CSOSN", T, 3, "102"},
    {"DescPromocao", I},
    {"Origem_Mercadoria", T, 1, "0"},
    {"ListaPrecoVenda", T, 1, "N"},
    {"NCM", T},
    {"CST", T, 3, "000"},
};

constexpr ColumnUse kBarcodeColumns[] = {
    {"IdReferencia", T, kProductKey, "the product key"},
    {"IdCor", I},
    {"Tam", T, 1, "0"},
    {"CodBarra", T, 13, "the EAN-13 barcode"},
    {"DataAlteracao", D},
    {"Est_Minimo", F},
    {"Est_Maximo", F},
};

constexpr ColumnUse kPriceColumns[] = {
    {"IdReferencia", T, kProductKey, "the product key"},
    {"IdTabela", I},
    {"PrecoVenda", F},
    {"DataAlteracao", D},
    {"DataInclusao", D},
};

// Only the physical stock is written; the key columns are compared with what the others write.
constexpr ColumnUse kStockColumns[] = {
    {"IdReferencia", T, kProductKey, "the product key", false},
    {"Tam", T, 1, "0", false},
    {"Est_Fisico", F},
};

constexpr ColumnUse kInitialStockColumns[] = {
    {"data", D},      {"sequencia", I},   {"idreferencia", T, kProductKey, "the product key"},
    {"idcor", I},     {"tam", T, 1, "0"}, {"est_atual", F},
    {"idestoque", I},
};

constexpr ColumnUse kCustomerColumns[] = {
    {"IdCliente", I},
    {"Idempresa", I},
    {"NomeCliente", T, 40, "CL_NOM"},
    {"NomeFantasia", T, 40, "CL_NOM"},
    {"Cep", T, 1, "0"},
    {"DDD", I},
    {"Telefone", T, 11, "CL_TEL_01"},
    {"IdPais", T, 4, "1058"},
    {"IdClassificacao", I},
    {"TipoPessoa", T, 1, "J or F"},
    {"Cnpj", T, 14, "the digits of CL_CGC"},
    {"TipoContribuinte", T, 1, "1 or 2"},
    {"InscEst", T, 20, "CL_CGF"},
    {"LimiteCredito", F},
    {"Observacao", T},
    {"Contato", T, 23, "CL_PROEMP"},
    {"DataCadastro", D},
    {"DataAtualizacao", D},
    {"Endereco", T, 40, "CL_END"},
    {"Numero", I},
    {"Complemento", T},
    {"Bairro", T, 15, "CL_BAI"},
    {"Cidade", T, 15, "CL_CID"},
    {"Estado", T, 2, "CL_EST"},
    {"End_Cob", T, 40, "CL_ENDCOB"},
    {"Num_Cob", I},
    {"Compl_Cob", T},
    {"Bai_Cob", T, 15, "CL_BAICOB"},
    {"Cid_Cob", T, 15, "CL_CIDCOB"},
    {"Est_Cob", T, 2, "CL_ESTCOB"},
    {"PontoRefer", T},
    {"IdCorretor", I},
    {"ComissaoRep", I},
    {"IdLoja", I},
    {"LiberaConsignacao", T, 1, "N"},
    {"Status", T, 1, "A"},
    {"DescontoVenda", I},
    {"IdVendedor", I},
    {"ComissaoVendedor", I},
    {"CodMun", T, 5, "the municipality code"},
    {"CodMun_Cob", T, 5, "the municipality code"},
};

constexpr ColumnUse kSupplierColumns[] = {
    {"Idfornecedor", I},
    {"Idempresa", I},
    {"NomeFornecedor", T, 40, "FN_NOM"},
    {"NomeFantasia", T, 40, "FN_NOM"},
    {"Cep", T, 8, "FN_CEP"},
    {"DDD", I},
    {"Telefone", T, 11, "FN_TEL_01"},
    {"TipoPessoa", T, 1, "J"},
    {"cnpj", T, 14, "FN_CGC"},
    {"inscest", T, 14, "FN_CGF"},
    {"Observacao", T, static_cast<int>(kSupplierRemark.size()), kSupplierRemark},
    {"Contato", T},
    {"DataAtualizacao", D},
    {"Endereco", T, 40, "FN_END"},
    {"Numero", I},
    {"Bairro", T, 20, "FN_BAI"},
    {"Cidade", T, 20, "FN_CID"},
    {"Estado", T, 2, "FN_EST"},
    {"Status", T, 1, "A"},
    {"Fornecedor", T, 1, "1"},
    {"TipoContribuinte", T, 1, "1"},
    {"idpais", T, 4, "1058"},
    {"codmun", T, 5, "the municipality code"},
};

// A table the sections use, through the object that reads it.
struct TableUse {
  std::string_view table;
  StoreQuery StoreObjects::*object;
  std::string_view users;                      // "the Produtos section", for messages
  std::span<const FieldDeclaration> declared;  // the object's fields; empty: derived
  std::span<const ColumnUse> columns;          // what the section writes (or compares)
  std::vector<std::string_view> lookup;  // the columns rows are found by; empty: never updated
  std::string_view statement = {};       // read through this instead of the object's own
};

std::vector<TableUse> tableUses() {
  return {
      {"lj_produtos",
       &StoreObjects::aProdutos,
       "the Produtos section",
       {},
       kProductColumns,
       {"IdReferencia"}},
      {"lj_referBar",
       &StoreObjects::aBarras,
       "the Produtos section",
       aBarrasFields(),
       kBarcodeColumns,
       {"IdReferencia", "IdCor", "Tam", "CodBarra"}},
      {"lj_referPrc",
       &StoreObjects::aPreco,
       "the Produtos section",
       aPrecoFields(),
       kPriceColumns,
       {"IdReferencia", "IdTabela"}},
      {"lj_referEst",
       &StoreObjects::aEstoque,
       "the Produtos section",
       aEstoqueFields(),
       kStockColumns,
       {"IdReferencia", "IdCor", "Tam", "IdEstoque"}},
      // Only ever inserted into: its declared fields are never bound, so the table itself is read.
      {"estoqueinicial",
       &StoreObjects::EstInicial,
       "the Produtos section",
       {},
       kInitialStockColumns,
       {},
       "select * from estoqueinicial where 1 = 0"},
      {"clientes",
       &StoreObjects::aClientes,
       "the Clientes section",
       aClientesFields(),
       kCustomerColumns,
       {"IdCliente"}},
      {"fornecedores",
       &StoreObjects::aFornecedor,
       "the Fornecedor section",
       {},
       kSupplierColumns,
       {"Idfornecedor"}},
      {"Municipio, Estado",
       &StoreObjects::ADOQuery1,
       "the Clientes and Fornecedor sections",
       ADOQuery1Fields(),
       {},
       {}},
  };
}

// Whether a column of kind `actual` takes what a section assigns as `assigned`.
bool takes(FieldKind assigned, FieldKind actual) {
  switch (assigned) {
    case FieldKind::Text:
      return actual == FieldKind::Text || actual == FieldKind::FixedText ||
             actual == FieldKind::WideText || actual == FieldKind::Memo;
    case FieldKind::DateTime: return isDateTimeKind(actual);
    default:  // numbers
      return (isIntegerKind(actual) && actual != FieldKind::AutoInc) ||
             actual == FieldKind::Float || actual == FieldKind::Bcd;
  }
}

std::string joined(const std::vector<std::string>& names, std::string_view separator = ", ") {
  std::string out;
  for (const std::string& name : names) {
    if (!out.empty()) out += separator;
    out += name;
  }
  return out;
}

// The store's messages may hold line breaks (psqlODBC's ERROR and DETAIL): one line each.
std::string oneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

class Checker {
 public:
  explicit Checker(StoreObjects& objects) : objects_(objects) {}

  std::vector<StoreCheckLine> run() {
    StoreConnection& store = objects_.Tendaro;
    try {
      store.disconnect();
      store.connect();
    } catch (const std::exception& error) {
      add(false, "store connection: " + oneLine(error.what()));
      return std::move(lines_);
    }
    add(true, "store connection: " + std::string(storeKindName(store.storeKind())) + " through " +
                  utf8ToCp1252(store.driverName()));
    try {
      // Nothing here writes; should anything ever, the transaction takes it back.
      store.beginTransaction();
      for (const TableUse& use : tableUses()) table(use);
      procedure();
      rows("Estado");
      rows("Municipio");
    } catch (const std::exception& error) {
      add(false, "store check: " + oneLine(error.what()));
    }
    try {
      store.rollback();
    } catch (const std::exception& error) {
      add(false, "store check: " + oneLine(error.what()));
    }
    store.disconnect();
    return std::move(lines_);
  }

 private:
  void add(bool passed, std::string text) {
    lines_.push_back(StoreCheckLine{passed, std::move(text)});
  }

  // A query of the connection with the statement and parameters of `object` (or `statement`)
  // and no declared fields, its parameters given values no row has: it reads the columns as the
  // run's object reads them.
  std::unique_ptr<StoreQuery> probe(StoreQuery& object, std::string_view statement) {
    auto query = std::make_unique<StoreQuery>(object.name(), objects_.Tendaro);
    if (statement.empty()) {
      for (const Parameter& parameter : object.parameters()) query->declareParameter(parameter);
      query->setStatementText(object.statementText());
    } else {
      query->setStatementText(std::string(statement));
    }
    for (Parameter& parameter : query->parameters()) {
      const FieldKind type = parameter.type();
      if (isIntegerKind(type) || type == FieldKind::Float || type == FieldKind::Bcd) {
        parameter.setValue(Value{std::int64_t{-1}});
      } else {
        parameter.setValue(Value{std::string()});
      }
    }
    return query;
  }

  void table(const TableUse& use) {
    const std::string table(use.table);
    StoreQuery& object = objects_.*use.object;
    std::unique_ptr<StoreQuery> query = probe(object, use.statement);
    try {
      query->open();
    } catch (const std::exception& error) {
      add(false, table + ": cannot be read: " + oneLine(error.what()));
      return;
    }
    const std::string prefix = table + ": " + object.name() + ": ";
    const std::size_t before = failures();
    for (const FieldDeclaration& field : use.declared) {
      const Field* column = query->findField(field.name);
      if (column == nullptr) {
        add(false, prefix + fieldNotFoundMessage(field.name));
      } else if (!kindsFit(field.kind, column->kind(), true)) {
        add(false, prefix + typeMismatchMessage(field.name, field.kind, column->kind()));
      }
    }
    for (const ColumnUse& written : use.columns) {
      const Field* column = query->findField(written.column);
      if (!use.declared.empty()) {
        // Already told when it is missing or does not fit.
        const FieldDeclaration* field = declaration(use.declared, written.column);
        if (column == nullptr || (field != nullptr && !kindsFit(field->kind, column->kind(), true)))
          continue;
      } else if (column == nullptr) {
        add(false, prefix + fieldNotFoundMessage(written.column));
        continue;
      } else if (!takes(written.kind, column->kind())) {
        add(false, prefix + typeMismatchMessage(written.column, written.kind, column->kind()));
        continue;
      }
      if (written.writes && column->readOnly()) {
        add(false, table + ": Field '" + std::string(written.column) +
                       "' cannot be modified, and " + std::string(use.users) + " writes it");
      } else if (written.width > 0 && column->kind() != FieldKind::Memo &&
                 column->size() < written.width) {
        add(false, table + ": column '" + std::string(written.column) + "' holds " +
                       std::to_string(column->size()) + " characters; " + std::string(use.users) +
                       " writes up to " + std::to_string(written.width) + " into it (" +
                       std::string(written.source) + ")");
      }
    }
    if (failures() == before) {
      const std::size_t count = use.declared.empty() ? use.columns.size() : use.declared.size();
      add(true, table + ": " + std::to_string(count) +
                    " columns, each there, of a kind that fits and wide enough for " +
                    std::string(use.users));
    }
    if (!use.lookup.empty()) key(table, use, *query);
  }

  static const FieldDeclaration* declaration(std::span<const FieldDeclaration> fields,
                                             std::string_view name) {
    for (const FieldDeclaration& field : fields) {
      if (namesEqual(field.name, name)) return &field;
    }
    return nullptr;
  }

  void key(const std::string& table, const TableUse& use, const StoreQuery& query) {
    std::vector<std::string> key;
    try {
      key = query.updateKey();
    } catch (const std::exception& error) {
      add(false, table + ": " + oneLine(error.what()));
      return;
    }
    for (std::string& column : key) column = utf8ToCp1252(column);
    std::vector<std::string> missing;
    for (std::string_view column : use.lookup) {
      bool held = false;
      for (const std::string& part : key) held = held || namesEqual(part, column);
      if (!held) missing.emplace_back(column);
    }
    if (!missing.empty()) {
      add(false, table + ": its primary key (" + joined(key) + ") does not hold " +
                     joined(missing, " and ") + ", by which " + std::string(use.users) +
                     " finds its rows");
    } else {
      add(true, table + ": primary key (" + joined(key) + ")");
    }
  }

  void procedure() {
    StoredProc& call = objects_.sp_Estoque;
    const std::string name = procedureBaseName(call.procedureName(), objects_.Tendaro.storeKind());
    std::vector<std::string> declared;
    for (const Parameter& parameter : call.parameters()) {
      if (parameter.direction() != ParameterDirection::ReturnValue)
        declared.push_back(parameter.name());
    }
    const std::string given =
        std::to_string(declared.size()) + " inputs (" + joined(declared) + ")";
    if (objects_.Tendaro.storeKind() == StoreKind::Sqlite) {
      sqliteProcedure(name, declared, given);
      return;
    }
    const std::optional<std::vector<std::string>> inputs = objects_.Tendaro.procedureInputs(name);
    if (!inputs) {
      add(false,
          name + ": no such procedure in the store; the Produtos section calls it with " + given);
    } else if (inputs->size() != declared.size()) {
      add(false, name + ": takes " + std::to_string(inputs->size()) + " inputs (" +
                     utf8ToCp1252(joined(*inputs)) + "); the Produtos section calls it with " +
                     given);
    } else {
      add(true, name + ": a procedure taking " + given);
    }
  }

  // On SQLite the procedure is a view of its inputs whose INSTEAD OF INSERT trigger does the
  // work: the call inserts into the view by column name.
  void sqliteProcedure(const std::string& name, const std::vector<std::string>& declared,
                       const std::string& given) {
    StoreQuery view("sp_Estoque", objects_.Tendaro);
    view.setStatementText("select * from " + name + " where 1 = 0");
    try {
      view.open();
    } catch (const std::exception& error) {
      add(false, name + ": no such view in the store (" + oneLine(error.what()) +
                     "); the Produtos section inserts " + given + " into it");
      return;
    }
    std::vector<std::string> missing;
    for (std::string_view parameter : declared) {
      if (!parameter.empty() && parameter.front() == '@') parameter.remove_prefix(1);
      if (view.findField(parameter) == nullptr) missing.emplace_back(parameter);
    }
    StoreQuery trigger("sp_Estoque", objects_.Tendaro);
    trigger.setStatementText(
        "select count(*) as n from sqlite_master where type = 'trigger' and lower(tbl_name) = '" +
        lowerAscii(name) + "' and lower(sql) like '%instead of insert%'");
    trigger.open();
    if (!missing.empty()) {
      add(false, name + ": the view has no column " + joined(missing, " or ") +
                     "; the Produtos section inserts " + given + " into it");
    } else if (trigger.fieldByName("n").asInteger() == 0) {
      add(false, name + ": the view has no INSTEAD OF INSERT trigger to do the work");
    } else {
      add(true, name + ": a view taking " + given + " with its INSTEAD OF INSERT trigger");
    }
  }

  void rows(const std::string& table) {
    StoreQuery count("ADOQuery1", objects_.Tendaro);
    count.setStatementText("select count(*) as n from " + table);
    try {
      count.open();
    } catch (const std::exception& error) {
      add(false, table + ": cannot be read: " + oneLine(error.what()));
      return;
    }
    const long long n = count.fieldByName("n").asInteger();
    if (n == 0) {
      add(false,
          table +
              ": holds no rows, so every customer's and supplier's municipality lookup would miss "
              "(load the states and municipalities)");
    } else {
      add(true, table + ": " + std::to_string(n) + " rows");
    }
  }

  std::size_t failures() const {
    std::size_t n = 0;
    for (const StoreCheckLine& line : lines_) n += line.passed ? 0 : 1;
    return n;
  }

  StoreObjects& objects_;
  std::vector<StoreCheckLine> lines_;
};

}  // namespace

std::vector<StoreCheckLine> checkStore(StoreObjects& store) { return Checker(store).run(); }

}  // namespace importacao
