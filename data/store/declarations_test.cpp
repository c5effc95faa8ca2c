#include "data/store/declarations.h"

#include <gtest/gtest.h>

namespace importacao {
namespace {

struct ParameterWant {
  std::string_view name;
  FieldKind type;
  int size;
  int precision;
  int scale;
  bool isSigned;
  bool nullable;
};

void expectParameters(const ParameterList& list, std::initializer_list<ParameterWant> want) {
  ASSERT_EQ(list.size(), want.size());
  std::size_t i = 0;
  for (const ParameterWant& w : want) {
    SCOPED_TRACE(w.name);
    const Parameter& p = list.at(static_cast<long long>(i++));
    EXPECT_EQ(p.name(), w.name);
    EXPECT_EQ(p.type(), w.type);
    EXPECT_EQ(p.size(), w.size);
    EXPECT_EQ(p.precision(), w.precision);
    EXPECT_EQ(p.scale(), w.scale);
    EXPECT_EQ(p.attributes().isSigned, w.isSigned);
    EXPECT_EQ(p.attributes().nullable, w.nullable);
    EXPECT_TRUE(p.isNull());
  }
}

TEST(Declarations, StatementTextsEndEveryLineWithCrLf) {
  StoreObjects store;
  struct {
    StoreQuery* query;
    std::string_view text;
    std::vector<std::string> markers;
  } cases[] = {
      {&store.aProdutos,
       "select * from lj_produtos\r\n where idreferencia = :idreferencia\r\n",
       {"idreferencia"}},
      {&store.aBarras,
       "select * from lj_referBar\r\n  where idreferencia = :idreferencia\r\n     and idcor = "
       ":idcor\r\n"
       "     and tam = :tam\r\n     and codbarra = :codbarra\r\n",
       {"idreferencia", "idcor", "tam", "codbarra"}},
      {&store.aEstoque,
       "select * from lj_referEst\r\n  where idreferencia = :idreferencia\r\n     and idcor = "
       ":idcor\r\n"
       "     and tam = :tam\r\n     and idestoque = :idestoque\r\n",
       {"idreferencia", "idcor", "tam", "idestoque"}},
      {&store.aPreco,
       "select * from lj_referPrc\r\n  where idreferencia = :idreferencia\r\n     and idtabela = "
       ":idtabela\r\n",
       {"idreferencia", "idtabela"}},
      {&store.aClientes,
       "select * from clientes\r\n where idcliente = :idcliente\r\n\r\n",
       {"idcliente"}},
      {&store.aFornecedor,
       "select * from fornecedores\r\n where idfornecedor = :idfornecedor\r\n\r\n",
       {"idfornecedor"}},
      {&store.ADOQuery1,
       "SELECT     Estado.Estado, upper( Municipio.NOME) as Cidade,Estado.CODIGO, codmun\r\n"
       "FROM         Municipio INNER JOIN\r\n"
       "                      Estado ON Municipio.IDSIGLA = Estado.Estado\r\n"
       " where Estado.Estado = :uf\r\n"
       "   and upper( Municipio.NOME) = :cidade\r\n\r\n",
       {"uf", "cidade"}},
      {&store.EstInicial,
       "insert into estoqueinicial (data,sequencia, idreferencia, idcor, tam, "
       "est_atual,idestoque)\r\n"
       " values (:data , 0, :idreferencia, 1, '0', :estoque, :idestoque)\r\n",
       {"data", "idreferencia", "estoque", "idestoque"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query->name());
    EXPECT_EQ(c.query->statementText(), c.text);
    EXPECT_EQ(c.query->scannedStatement().names, c.markers);
    // Every marker has its declared parameter: scanning added none of its own.
    EXPECT_EQ(c.query->parameters().size(), c.markers.size());
    EXPECT_EQ(&c.query->connection(), &store.Tendaro);
  }
}

TEST(Declarations, ParametersKeepTheirDeclaredTypes) {
  StoreObjects s;
  const FieldKind T = FieldKind::Text;
  const FieldKind I = FieldKind::Integer;
  expectParameters(s.aProdutos.parameters(), {{"idreferencia", T, 10, 255, 255, false, false}});
  expectParameters(s.aBarras.parameters(), {{"idreferencia", T, 10, 255, 255, false, false},
                                            {"idcor", I, 4, 10, 0, true, false},
                                            {"tam", T, 3, 255, 255, false, false},
                                            {"codbarra", T, 15, 255, 255, false, false}});
  expectParameters(s.aEstoque.parameters(), {{"idreferencia", T, 10, 255, 255, false, false},
                                             {"idcor", I, 4, 10, 0, true, false},
                                             {"tam", T, 3, 255, 255, false, false},
                                             {"idestoque", I, 4, 10, 0, true, false}});
  expectParameters(s.aPreco.parameters(), {{"idreferencia", T, 10, 255, 255, false, false},
                                           {"idtabela", I, 4, 10, 0, true, false}});
  expectParameters(s.aClientes.parameters(), {{"idcliente", I, 4, 10, 0, true, false}});
  expectParameters(s.aFornecedor.parameters(), {{"idfornecedor", I, 4, 10, 0, true, false}});
  expectParameters(s.ADOQuery1.parameters(), {{"uf", T, 2, 255, 255, false, false},
                                              {"cidade", T, 30, 255, 255, false, true}});
  expectParameters(s.EstInicial.parameters(),
                   {{"data", FieldKind::DateTime, 16, 23, 3, false, false},
                    {"idreferencia", T, 10, 255, 255, false, false},
                    {"estoque", FieldKind::Float, 8, 15, 255, true, true},
                    {"idestoque", I, 4, 10, 0, true, true}});
  expectParameters(s.sp_Estoque.parameters(), {{"@RETURN_VALUE", I, 0, 10, 0, false, false},
                                               {"@refer", T, 10, 0, 0, false, true},
                                               {"@idcor", I, 0, 10, 0, false, true},
                                               {"@tam", T, 3, 0, 0, false, true},
                                               {"@idempresa", I, 0, 10, 0, false, true},
                                               {"@idfilial", I, 0, 10, 0, false, true}});
  EXPECT_EQ(s.sp_Estoque.parameter(0).direction(), ParameterDirection::ReturnValue);
  for (long long i = 1; i <= 5; ++i)
    EXPECT_EQ(s.sp_Estoque.parameter(i).direction(), ParameterDirection::Input);
  EXPECT_EQ(s.sp_Estoque.procedureName(), "Sp_EstoqueInicial;1");
}

TEST(Declarations, FieldListsAreDeclaredWhereTheWindowDeclaresThem) {
  StoreObjects s;
  struct {
    StoreQuery* query;
    std::size_t fields;
  } cases[] = {{&s.aProdutos, 0},  {&s.aBarras, 7},     {&s.aEstoque, 13}, {&s.aPreco, 5},
               {&s.aClientes, 61}, {&s.aFornecedor, 0}, {&s.ADOQuery1, 4}, {&s.EstInicial, 13}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query->name());
    EXPECT_EQ(c.query->fieldCount(), c.fields);
    EXPECT_EQ(c.query->hasDeclaredFields(), c.fields > 0);
  }
  const Field& cidade = s.ADOQuery1.fieldByName("cidade");
  EXPECT_EQ(cidade.kind(), FieldKind::Text);
  EXPECT_EQ(cidade.size(), 30);
  EXPECT_TRUE(cidade.readOnly());
  EXPECT_EQ(s.aEstoque.fieldByName("est_fisico").name(), "Est_Fisico");
  EXPECT_EQ(s.aClientes.fieldByName("cnpj").kind(), FieldKind::WideText);
  EXPECT_EQ(s.aClientes.fieldByName("Observacao").kind(), FieldKind::Memo);
  EXPECT_EQ(s.aClientes.field(60).name(), "Num_Cob");
  EXPECT_EQ(s.aClientes.field(27).name(), "fone2");
}

}  // namespace
}  // namespace importacao
