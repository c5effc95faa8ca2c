-- Store schema of the new store system, SQL Server dialect (T-SQL): the tables the importer
-- writes and reads, and the initial-stock procedure it calls. For operators setting up a store
-- to try the importer on; the project's own tests run on PostgreSQL and SQLite.
--
-- Run it in the store's database, schema and seed together:
--   scripts/make-store script sqlserver loja.sql
--   sqlcmd -S server -d loja -f 65001 -i loja.sql
--
-- Column kinds follow what the importer declares: the customer fields it declares as wide text
-- are nvarchar, the other sized texts varchar, the memo columns varchar(max); prices and rates
-- decimal(15,4) or decimal(9,4), quantities float. Dates are datetime, not datetime2: the older
-- OLE DB provider hands datetime2 over as text. State and municipality names are nvarchar, in
-- capitals with their accents (SÃO PAULO).

create table Estado (
  Estado varchar(2) not null primary key,   -- state abbreviation: SP
  CODIGO varchar(2) not null unique,        -- two-digit state code: 35
  NOME   nvarchar(30) not null              -- in capitals: SÃO PAULO
);

create table Municipio (
  IdMunicipio int not null primary key,      -- the seven-digit municipality code
  IDSIGLA varchar(2) not null references Estado (Estado),
  NOME    nvarchar(60) not null,              -- in capitals, accents kept: SÃO PAULO
  codmun  varchar(5) not null                 -- the last five digits of IdMunicipio
);
create index ix_Municipio_IDSIGLA_NOME on Municipio (IDSIGLA, NOME);

create table lj_produtos (
  IdReferencia      varchar(10) not null primary key,
  Descricao         varchar(60),
  ApelidoProduto    varchar(30),
  DenominacaoFiscal varchar(120),
  IdGrupo           int,
  IdTamanho         int,
  IdColecao         int,
  Tam_Ini           int,
  Tam_Fim           int,
  DataCadastro      datetime,
  DataAlteracao     datetime,
  Status            varchar(1),
  PrcCompra         decimal(15,4),
  PrcUltCusto       decimal(15,4),
  PrcMedio          decimal(15,4),
  PercMargem        decimal(9,4),
  Promocao          varchar(1),
  Localizacao       varchar(20),
  RefAnterior       varchar(20),
  UndVenda          varchar(6),
  UndCompra         varchar(6),
  IdFornecedor      int,
  TipoProduto       varchar(1),
  VlrPromocao       decimal(15,4),
  Icms              decimal(9,4),
  Consignado        varchar(1),
  Qtd1              float,
  Qtd2              float,
  Qtd3              float,
  Qtd4              float,
  Qtd5              float,
  Qtd6              float,
  FatorConversao    decimal(15,4),
  Prc1              decimal(15,4),
  Prc2              decimal(15,4),
  Prc3              decimal(15,4),
  IdTecido          int,
  IdAliquota        varchar(5),
  IdMarca           int,
  UndVendaQtde      float,
  UndCompraQtde     float,
  SubTributaria     varchar(1),
  TipoSped          varchar(2),
  PercPis           decimal(9,4),
  PercCofins        decimal(9,4),
  CSTPis            varchar(2),
  CSTCofins         varchar(2),
  CSTIpiEntrada     varchar(3),
  CSTIPI            varchar(2),
  CSOSN             varchar(3),
  DescPromocao      decimal(9,4),
  Origem_Mercadoria varchar(1),
  ListaPrecoVenda   varchar(1),
  NCM               varchar(10),
  CST               varchar(3),
  -- kept by the store system itself; the importer never sets them
  PesoBruto         decimal(15,4) not null default 0,
  Garantia          int not null default 0,
  ExpLoja           varchar(1) not null default 'N',
  Observacao        varchar(max)
);

create table lj_referBar (
  IdReferencia  varchar(10) not null,
  IdCor         int not null,
  Tam           varchar(3) not null,
  CodBarra      varchar(15) not null,
  DataAlteracao datetime,
  Est_Minimo    float,
  Est_Maximo    float,
  Sincronizado  varchar(1) not null default 'N',
  primary key (IdReferencia, IdCor, Tam, CodBarra)
);

create table lj_referPrc (
  IdReferencia  varchar(10) not null,
  IdTabela      int not null,
  PrecoVenda    decimal(15,4),
  DataAlteracao datetime,
  DataInclusao  datetime,
  primary key (IdReferencia, IdTabela)
);

-- One row per company, place, stock, product, colour and size.
create table lj_referEst (
  IdEmpresa     int not null,
  IdLocal       int not null,
  IdEstoque     int not null,
  IdReferencia  varchar(10) not null,
  IdCor         int not null,
  Tam           varchar(3) not null,
  Est_Fiscal    float not null default 0,
  Est_Fisico    float not null default 0,
  DataAlteracao datetime,
  DataInclusao  datetime,
  ExpLoja       varchar(1) default 'N',
  Est_Unidade   int default 1,
  Sincronizado  varchar(1) default 'N',
  primary key (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam)
);
-- The products section finds a product's stock without company or place.
create index ix_lj_referEst_IdReferencia_IdCor_Tam_IdEstoque
  on lj_referEst (IdReferencia, IdCor, Tam, IdEstoque);

-- Initial-stock entries: a journal, so the same product may have any number of them.
create table estoqueinicial (
  IdEstoqueInicial int identity(1,1) not null primary key,
  data             datetime not null,
  sequencia        int not null,
  idreferencia     varchar(10) not null,
  idcor            int not null,
  tam              varchar(3) not null,
  est_atual        float,
  idestoque        int
);
create index ix_estoqueinicial_idreferencia on estoqueinicial (idreferencia);

create table clientes (
  IdCliente         int not null primary key,
  Idempresa         int,
  NomeCliente       nvarchar(50),
  Cnpj              nvarchar(15),
  InscEst           nvarchar(20),
  Cep               nvarchar(8),
  DDD               int,
  Telefone          nvarchar(50),
  DDD_Cel           int,
  Celular           nvarchar(8),
  TipoPessoa        nvarchar(1),
  Fax               nvarchar(50),
  RG                nvarchar(20),
  Observacao        varchar(max),
  Contato           nvarchar(50),
  DataCadastro      datetime,
  DataAtualizacao   datetime,
  Email             nvarchar(255),
  Endereco          nvarchar(50),
  Numero            int,
  Complemento       nvarchar(50),
  Bairro            nvarchar(50),
  Cidade            nvarchar(50),
  Estado            nvarchar(2),
  EnderecoEntr      varchar(max),
  PontoRefer        varchar(max),
  ddd2              int,
  fone2             nvarchar(8),
  ddd3              int,
  fone3             nvarchar(8),
  ddd4              int,
  fone4             nvarchar(8),
  LimiteCredito     float,
  NumeroCartao      varchar(20),
  IdCorretor        int,
  TipoCliente       varchar(1) default 'N',
  IdClassificacao   int,
  DataSerasa        datetime,
  CodMun            varchar(5),
  ComissaoRep       float,
  IdLoja            int,
  Representante     varchar(1) default 'N',
  LiberaConsignacao varchar(50),
  Status            varchar(1),
  IdPais            varchar(4),
  DataNascto        datetime,
  DescontoVenda     float,
  NaoMostraContas   varchar(1) default 'N',
  IdVendedor        int,
  ComissaoVendedor  float,
  NomeFantasia      varchar(50),
  TipoContribuinte  varchar(1),
  Bai_Cob           nvarchar(50),
  Cep_Cob           nvarchar(8),
  Cid_Cob           nvarchar(50),
  CodMun_Cob        varchar(5),
  Compl_Cob         nvarchar(50),
  Cont_Cob          nvarchar(50),
  End_Cob           nvarchar(50),
  Est_Cob           nvarchar(2),
  Num_Cob           int,
  -- kept by the store system itself
  Sincronizado      varchar(1) not null default 'N'
);

create table fornecedores (
  Idfornecedor     int not null primary key,
  Idempresa        int,
  NomeFornecedor   varchar(50),
  NomeFantasia     varchar(50),
  Cep              varchar(8),
  DDD              int,
  Telefone         varchar(50),
  TipoPessoa       varchar(1),
  cnpj             varchar(18),
  inscest          varchar(20),
  Observacao       varchar(max),
  Contato          varchar(50),
  DataAtualizacao  datetime,
  Endereco         varchar(50),
  Numero           int,
  Bairro           varchar(50),
  Cidade           varchar(50),
  Estado           varchar(2),
  Status           varchar(1),
  Fornecedor       varchar(1),
  TipoContribuinte varchar(1),
  idpais           varchar(4),
  codmun           varchar(5),
  -- kept by the store system itself
  DataCadastro     datetime default getdate(),
  Email            varchar(255),
  Fax              varchar(50),
  PrazoEntrega     int not null default 0
);
GO

-- Creates the stock row of a product (stock 1, for the given colour, size, company and place)
-- unless it is there already. A new row holds no stock yet: Est_Fiscal and Est_Fisico 0,
-- Est_Unidade 1, ExpLoja and Sincronizado 'N', both dates now. Returns 1 when it created the
-- row, 0 when the row was there.
create procedure Sp_EstoqueInicial
  @refer varchar(10), @idcor int, @tam varchar(3), @idempresa int, @idfilial int
as
begin
  set nocount on;
  if exists (select 1 from lj_referEst
              where IdEmpresa = @idempresa and IdLocal = @idfilial and IdEstoque = 1
                and IdReferencia = @refer and IdCor = @idcor and Tam = @tam)
    return 0;
  insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam,
                           Est_Fiscal, Est_Fisico, DataAlteracao, DataInclusao,
                           ExpLoja, Est_Unidade, Sincronizado)
  values (@idempresa, @idfilial, 1, @refer, @idcor, @tam, 0, 0, getdate(), getdate(), 'N', 1, 'N');
  return 1;
end
GO
