#include "data/store/declarations.h"

namespace importacao {

namespace {

constexpr ParameterAttributes kSigned{true, false};
constexpr ParameterAttributes kNullable{false, true};
constexpr ParameterAttributes kSignedNullable{true, true};

// Text parameters are declared with precision and scale 255; integers with precision 10.
Parameter textParameter(std::string name, int size, ParameterAttributes attributes = {}) {
  return Parameter(std::move(name), FieldKind::Text, size, 255, 255, ParameterDirection::Input,
                   attributes);
}
Parameter integerParameter(std::string name, ParameterAttributes attributes = kSigned) {
  return Parameter(std::move(name), FieldKind::Integer, 4, 10, 0, ParameterDirection::Input,
                   attributes);
}

void declareFields(StoreQuery& query, std::span<const FieldDeclaration> fields) {
  for (const FieldDeclaration& f : fields) {
    query.declareField(std::string(f.name), f.kind, f.size, f.readOnly);
  }
}

constexpr FieldDeclaration kBarras[] = {
    {"IdReferencia", FieldKind::Text, 10},
    {"IdCor", FieldKind::Integer, std::nullopt},
    {"Tam", FieldKind::Text, 3},
    {"CodBarra", FieldKind::Text, 15},
    {"DataAlteracao", FieldKind::DateTime, std::nullopt},
    {"Est_Minimo", FieldKind::Float, std::nullopt},
    {"Est_Maximo", FieldKind::Float, std::nullopt},
};

constexpr FieldDeclaration kEstoque[] = {
    {"IdEmpresa", FieldKind::Integer, std::nullopt},
    {"IdLocal", FieldKind::Integer, std::nullopt},
    {"IdEstoque", FieldKind::Integer, std::nullopt},
    {"IdReferencia", FieldKind::Text, 10},
    {"IdCor", FieldKind::Integer, std::nullopt},
    {"Tam", FieldKind::Text, 3},
    {"Est_Fiscal", FieldKind::Float, std::nullopt},
    {"Est_Fisico", FieldKind::Float, std::nullopt},
    {"DataAlteracao", FieldKind::DateTime, std::nullopt},
    {"DataInclusao", FieldKind::DateTime, std::nullopt},
    {"ExpLoja", FieldKind::Text, 1},
    {"Est_Unidade", FieldKind::Integer, std::nullopt},
    {"Sincronizado", FieldKind::Text, 1},
};

constexpr FieldDeclaration kPreco[] = {
    {"IdReferencia", FieldKind::Text, 10},
    {"IdTabela", FieldKind::Integer, std::nullopt},
    {"PrecoVenda", FieldKind::Float, std::nullopt},
    {"DataAlteracao", FieldKind::DateTime, std::nullopt},
    {"DataInclusao", FieldKind::DateTime, std::nullopt},
};

constexpr FieldDeclaration kClientes[] = {
    {"IdCliente", FieldKind::Integer, std::nullopt},
    {"Idempresa", FieldKind::Integer, std::nullopt},
    {"NomeCliente", FieldKind::WideText, 50},
    {"Cnpj", FieldKind::WideText, 15},
    {"InscEst", FieldKind::WideText, 20},
    {"Cep", FieldKind::WideText, 8},
    {"DDD", FieldKind::Integer, std::nullopt},
    {"Telefone", FieldKind::WideText, 50},
    {"DDD_Cel", FieldKind::Integer, std::nullopt},
    {"Celular", FieldKind::WideText, 8},
    {"TipoPessoa", FieldKind::WideText, 1},
    {"Fax", FieldKind::WideText, 50},
    {"RG", FieldKind::WideText, 20},
    {"Observacao", FieldKind::Memo, std::nullopt},
    {"Contato", FieldKind::WideText, 50},
    {"DataCadastro", FieldKind::DateTime, std::nullopt},
    {"DataAtualizacao", FieldKind::DateTime, std::nullopt},
    {"Email", FieldKind::WideText, 255},
    {"Endereco", FieldKind::WideText, 50},
    {"Numero", FieldKind::Integer, std::nullopt},
    {"Complemento", FieldKind::WideText, 50},
    {"Bairro", FieldKind::WideText, 50},
    {"Cidade", FieldKind::WideText, 50},
    {"Estado", FieldKind::WideText, 2},
    {"EnderecoEntr", FieldKind::Memo, std::nullopt},
    {"PontoRefer", FieldKind::Memo, std::nullopt},
    {"ddd2", FieldKind::Integer, std::nullopt},
    {"fone2", FieldKind::WideText, 8},
    {"ddd3", FieldKind::Integer, std::nullopt},
    {"fone3", FieldKind::WideText, 8},
    {"ddd4", FieldKind::Integer, std::nullopt},
    {"fone4", FieldKind::WideText, 8},
    {"LimiteCredito", FieldKind::Float, std::nullopt},
    {"NumeroCartao", FieldKind::Text, 20},
    {"IdCorretor", FieldKind::Integer, std::nullopt},
    {"TipoCliente", FieldKind::Text, 1},
    {"IdClassificacao", FieldKind::Integer, std::nullopt},
    {"DataSerasa", FieldKind::DateTime, std::nullopt},
    {"CodMun", FieldKind::Text, 5},
    {"ComissaoRep", FieldKind::Float, std::nullopt},
    {"IdLoja", FieldKind::Integer, std::nullopt},
    {"Representante", FieldKind::Text, 1},
    {"LiberaConsignacao", FieldKind::Text, 50},
    {"Status", FieldKind::Text, 1},
    {"IdPais", FieldKind::Text, 4},
    {"DataNascto", FieldKind::DateTime, std::nullopt},
    {"DescontoVenda", FieldKind::Float, std::nullopt},
    {"NaoMostraContas", FieldKind::Text, 1},
    {"IdVendedor", FieldKind::Integer, std::nullopt},
    {"ComissaoVendedor", FieldKind::Float, std::nullopt},
    {"NomeFantasia", FieldKind::Text, 50},
    {"TipoContribuinte", FieldKind::Text, 1},
    {"Bai_Cob", FieldKind::WideText, 50},
    {"Cep_Cob", FieldKind::WideText, 8},
    {"Cid_Cob", FieldKind::WideText, 50},
    {"CodMun_Cob", FieldKind::Text, 5},
    {"Compl_Cob", FieldKind::WideText, 50},
    {"Cont_Cob", FieldKind::WideText, 50},
    {"End_Cob", FieldKind::WideText, 50},
    {"Est_Cob", FieldKind::WideText, 2},
    {"Num_Cob", FieldKind::Integer, std::nullopt},
};

constexpr FieldDeclaration kMunicipio[] = {
    {"Estado", FieldKind::Text, 2},
    {"Cidade", FieldKind::Text, 30, true},
    {"CODIGO", FieldKind::Text, 2},
    {"codmun", FieldKind::Text, 5},
};

}  // namespace

std::string statementText(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::span<const FieldDeclaration> aBarrasFields() noexcept { return kBarras; }
std::span<const FieldDeclaration> aEstoqueFields() noexcept { return kEstoque; }
std::span<const FieldDeclaration> aPrecoFields() noexcept { return kPreco; }
std::span<const FieldDeclaration> aClientesFields() noexcept { return kClientes; }
std::span<const FieldDeclaration> ADOQuery1Fields() noexcept { return kMunicipio; }

StoreObjects::StoreObjects()
    : Tendaro("Tendaro"),
      aProdutos("aProdutos", Tendaro),
      aBarras("aBarras", Tendaro),
      aEstoque("aEstoque", Tendaro),
      aPreco("aPreco", Tendaro),
      aClientes("aClientes", Tendaro),
      aFornecedor("aFornecedor", Tendaro),
      ADOQuery1("ADOQuery1", Tendaro),
      EstInicial("EstInicial", Tendaro),
      sp_Estoque("sp_Estoque", Tendaro) {
  aProdutos.declareParameter(textParameter("idreferencia", 10));
  aProdutos.setStatementText(statementText({
      "select * from lj_produtos",
      " where idreferencia = :idreferencia",
  }));

  aBarras.declareParameter(textParameter("idreferencia", 10));
  aBarras.declareParameter(integerParameter("idcor"));
  aBarras.declareParameter(textParameter("tam", 3));
  aBarras.declareParameter(textParameter("codbarra", 15));
  aBarras.setStatementText(statementText({
      "select * from lj_referBar",
      "  where idreferencia = :idreferencia",
      "     and idcor = :idcor",
      "     and tam = :tam",
      "     and codbarra = :codbarra",
  }));
  declareFields(aBarras, kBarras);

  aEstoque.declareParameter(textParameter("idreferencia", 10));
  aEstoque.declareParameter(integerParameter("idcor"));
  aEstoque.declareParameter(textParameter("tam", 3));
  aEstoque.declareParameter(integerParameter("idestoque"));
  aEstoque.setStatementText(statementText({
      "select * from lj_referEst",
      "  where idreferencia = :idreferencia",
      "     and idcor = :idcor",
      "     and tam = :tam",
      "     and idestoque = :idestoque",
  }));
  declareFields(aEstoque, kEstoque);

  aPreco.declareParameter(textParameter("idreferencia", 10));
  aPreco.declareParameter(integerParameter("idtabela"));
  aPreco.setStatementText(statementText({
      "select * from lj_referPrc",
      "  where idreferencia = :idreferencia",
      "     and idtabela = :idtabela",
  }));
  declareFields(aPreco, kPreco);

  aClientes.declareParameter(integerParameter("idcliente"));
  aClientes.setStatementText(statementText({
      "select * from clientes",
      " where idcliente = :idcliente",
      "",
  }));
  declareFields(aClientes, kClientes);

  aFornecedor.declareParameter(integerParameter("idfornecedor"));
  aFornecedor.setStatementText(statementText({
      "select * from fornecedores",
      " where idfornecedor = :idfornecedor",
      "",
  }));

  ADOQuery1.declareParameter(textParameter("uf", 2));
  ADOQuery1.declareParameter(textParameter("cidade", 30, kNullable));
  ADOQuery1.setStatementText(statementText({
      "SELECT     Estado.Estado, upper( Municipio.NOME) as Cidade,Estado.CODIGO, codmun",
      "FROM         Municipio INNER JOIN",
      "                      Estado ON Municipio.IDSIGLA = Estado.Estado",
      " where Estado.Estado = :uf",
      "   and upper( Municipio.NOME) = :cidade",
      "",
  }));
  declareFields(ADOQuery1, kMunicipio);

  EstInicial.declareParameter(
      Parameter("data", FieldKind::DateTime, 16, 23, 3, ParameterDirection::Input, {}));
  EstInicial.declareParameter(textParameter("idreferencia", 10));
  EstInicial.declareParameter(Parameter("estoque", FieldKind::Float, 8, 15, 255,
                                        ParameterDirection::Input, kSignedNullable));
  EstInicial.declareParameter(integerParameter("idestoque", kSignedNullable));
  EstInicial.setStatementText(statementText({
      "insert into estoqueinicial (data,sequencia, idreferencia, idcor, tam, est_atual,idestoque)",
      " values (:data , 0, :idreferencia, 1, '0', :estoque, :idestoque)",
  }));
  // Declared as aEstoque's; never bound, since the statement is only executed.
  declareFields(EstInicial, kEstoque);

  sp_Estoque.setProcedureName("Sp_EstoqueInicial;1");
  sp_Estoque.declareParameter(Parameter("@RETURN_VALUE", FieldKind::Integer, 0, 10, 0,
                                        ParameterDirection::ReturnValue, {}));
  sp_Estoque.declareParameter(
      Parameter("@refer", FieldKind::Text, 10, 0, 0, ParameterDirection::Input, kNullable));
  sp_Estoque.declareParameter(
      Parameter("@idcor", FieldKind::Integer, 0, 10, 0, ParameterDirection::Input, kNullable));
  sp_Estoque.declareParameter(
      Parameter("@tam", FieldKind::Text, 3, 0, 0, ParameterDirection::Input, kNullable));
  sp_Estoque.declareParameter(
      Parameter("@idempresa", FieldKind::Integer, 0, 10, 0, ParameterDirection::Input, kNullable));
  sp_Estoque.declareParameter(
      Parameter("@idfilial", FieldKind::Integer, 0, 10, 0, ParameterDirection::Input, kNullable));
}

}  // namespace importacao
