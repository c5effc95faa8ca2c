// The store columns a section writes, in the order it assigns them. The section tests check a
// post against these; the benchmarks' raw ODBC floor writes the same columns.
#pragma once

#include <string>
#include <vector>

namespace importacao::test_support {

// lj_produtos, the product master (the other product tables have a handful of columns each).
inline const std::vector<std::string> kProductMasterColumns = {"IdReferencia",
                                                               "Descricao",
                                                               "ApelidoProduto",
                                                               "DenominacaoFiscal",
                                                               "IdGrupo",
                                                               "IdTamanho",
                                                               "IdColecao",
                                                               "Tam_Ini",
                                                               "Tam_Fim",
                                                               "DataCadastro",
                                                               "DataAlteracao",
                                                               "Status",
                                                               "PrcCompra",
                                                               "PrcUltCusto",
                                                               "PrcMedio",
                                                               "PercMargem",
                                                               "Promocao",
                                                               "Localizacao",
                                                               "RefAnterior",
                                                               "UndVenda",
                                                               "UndCompra",
                                                               "IdFornecedor",
                                                               "TipoProduto",
                                                               "VlrPromocao",
                                                               "Icms",
                                                               "Consignado",
                                                               "Qtd1",
                                                               "Qtd2",
                                                               "Qtd3",
                                                               "Qtd4",
                                                               "Qtd5",
                                                               "Qtd6",
                                                               "FatorConversao",
                                                               "Prc1",
                                                               "Prc2",
                                                               "Prc3",
                                                               "IdTecido",
                                                               "IdAliquota",
                                                               "IdMarca",
                                                               "UndVendaQtde",
                                                               "UndCompraQtde",
                                                               "SubTributaria",
                                                               "TipoSped",
                                                               "PercPis",
                                                               "PercCofins",
                                                               "CSTPis",
                                                               "CSTCofins",
                                                               "CSTIpiEntrada",
                                                               "CSTIPI",
                                                               "CSOSN",
                                                               "DescPromocao",
                                                               "Origem_Mercadoria",
                                                               "ListaPrecoVenda",
                                                               "NCM",
                                                               "CST"};

// clientes; the columns the customers section never assigns keep what the store has.
inline const std::vector<std::string> kCustomerStoreColumns = {
    "IdCliente",   "Idempresa",        "NomeCliente",     "NomeFantasia",     "Cep",
    "DDD",         "Telefone",         "IdPais",          "IdClassificacao",  "TipoPessoa",
    "Cnpj",        "TipoContribuinte", "InscEst",         "LimiteCredito",    "Observacao",
    "Contato",     "DataCadastro",     "DataAtualizacao", "Endereco",         "Numero",
    "Complemento", "Bairro",           "Cidade",          "Estado",           "End_Cob",
    "Num_Cob",     "Compl_Cob",        "Bai_Cob",         "Cid_Cob",          "Est_Cob",
    "PontoRefer",  "IdCorretor",       "ComissaoRep",     "IdLoja",           "LiberaConsignacao",
    "Status",      "DescontoVenda",    "IdVendedor",      "ComissaoVendedor", "CodMun",
    "CodMun_Cob"};

// fornecedores.
inline const std::vector<std::string> kSupplierStoreColumns = {
    "Idfornecedor",    "Idempresa",  "NomeFornecedor",
    "NomeFantasia",    "Cep",        "DDD",
    "Telefone",        "TipoPessoa", "cnpj",
    "inscest",         "Observacao", "Contato",
    "DataAtualizacao", "Endereco",   "Numero",
    "Bairro",          "Cidade",     "Estado",
    "Status",          "Fornecedor", "TipoContribuinte",
    "idpais",          "codmun"};

}  // namespace importacao::test_support
