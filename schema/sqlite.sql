-- Store schema of the new store system, SQLite dialect: the tables the importer writes and reads,
-- and the initial-stock routine it calls. Load it with scripts/make-store, which also loads the
-- states and municipalities (schema/seed/).
--
-- Identifiers keep the store system's mixed case; SQLite matches them without regard to case.
-- Column kinds are declared so that the SQLite3 ODBC driver reports what a SQL Server store
-- would: varchar(n) for sized texts, text only for the memo columns, datetime for dates (held
-- as 'YYYY-MM-DD HH:MM:SS.SSS' text, milliseconds kept), numeric(p,s) for prices and rates,
-- float for quantities. Every key column is declared not null: SQLite would otherwise accept
-- null in a primary key.

create table Estado (
  Estado varchar(2) not null primary key,   -- state abbreviation: SP
  CODIGO varchar(2) not null unique,        -- two-digit state code: 35
  NOME   varchar(30) not null               -- in capitals: SÃO PAULO
);

create table Municipio (
  IdMunicipio integer not null primary key,  -- the seven-digit municipality code
  IDSIGLA varchar(2) not null references Estado (Estado),
  NOME    varchar(60) not null,               -- in capitals, accents kept: SÃO PAULO
  codmun  varchar(5) not null                 -- the last five digits of IdMunicipio
);
create index ix_Municipio_IDSIGLA_NOME on Municipio (IDSIGLA, upper(NOME));

create table lj_produtos (
  IdReferencia      varchar(10) not null primary key,
  Descricao         varchar(60),
  ApelidoProduto    varchar(30),
  DenominacaoFiscal varchar(120),
  IdGrupo           integer,
  IdTamanho         integer,
  IdColecao         integer,
  Tam_Ini           integer,
  Tam_Fim           integer,
  DataCadastro      datetime,
  DataAlteracao     datetime,
  Status            varchar(1),
  PrcCompra         numeric(15,4),
  PrcUltCusto       numeric(15,4),
  PrcMedio          numeric(15,4),
  PercMargem        numeric(9,4),
  Promocao          varchar(1),
  Localizacao       varchar(20),
  RefAnterior       varchar(20),
  UndVenda          varchar(6),
  UndCompra         varchar(6),
  IdFornecedor      integer,
  TipoProduto       varchar(1),
  VlrPromocao       numeric(15,4),
  Icms              numeric(9,4),
  Consignado        varchar(1),
  Qtd1              float,
  Qtd2              float,
  Qtd3              float,
  Qtd4              float,
  Qtd5              float,
  Qtd6              float,
  FatorConversao    numeric(15,4),
  Prc1              numeric(15,4),
  Prc2              numeric(15,4),
  Prc3              numeric(15,4),
  IdTecido          integer,
  IdAliquota        varchar(5),
  IdMarca           integer,
  UndVendaQtde      float,
  UndCompraQtde     float,
  SubTributaria     varchar(1),
  TipoSped          varchar(2),
  PercPis           numeric(9,4),
  PercCofins        numeric(9,4),
  CSTPis            varchar(2),
  CSTCofins         varchar(2),
  CSTIpiEntrada     varchar(3),
  CSTIPI            varchar(2),
  CSOSN             varchar(3),
  DescPromocao      numeric(9,4),
  Origem_Mercadoria varchar(1),
  ListaPrecoVenda   varchar(1),
  NCM               varchar(10),
  CST               varchar(3),
  -- kept by the store system itself; the importer never sets them
  PesoBruto         numeric(15,4) not null default 0,
  Garantia          integer not null default 0,
  ExpLoja           varchar(1) not null default 'N',
  Observacao        text
);

create table lj_referBar (
  IdReferencia  varchar(10) not null,
  IdCor         integer not null,
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
  IdTabela      integer not null,
  PrecoVenda    numeric(15,4),
  DataAlteracao datetime,
  DataInclusao  datetime,
  primary key (IdReferencia, IdTabela)
);

-- One row per company, place, stock, product, colour and size.
create table lj_referEst (
  IdEmpresa     integer not null,
  IdLocal       integer not null,
  IdEstoque     integer not null,
  IdReferencia  varchar(10) not null,
  IdCor         integer not null,
  Tam           varchar(3) not null,
  Est_Fiscal    float not null default 0,
  Est_Fisico    float not null default 0,
  DataAlteracao datetime,
  DataInclusao  datetime,
  ExpLoja       varchar(1) default 'N',
  Est_Unidade   integer default 1,
  Sincronizado  varchar(1) default 'N',
  primary key (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam)
);
-- The products section finds a product's stock without company or place.
create index ix_lj_referEst_IdReferencia_IdCor_Tam_IdEstoque
  on lj_referEst (IdReferencia, IdCor, Tam, IdEstoque);

-- Initial-stock entries: a journal, so the same product may have any number of them.
create table estoqueinicial (
  IdEstoqueInicial integer not null primary key autoincrement,
  data             datetime not null,
  sequencia        integer not null,
  idreferencia     varchar(10) not null,
  idcor            integer not null,
  tam              varchar(3) not null,
  est_atual        float,
  idestoque        integer
);
create index ix_estoqueinicial_idreferencia on estoqueinicial (idreferencia);

create table clientes (
  IdCliente         integer not null primary key,
  Idempresa         integer,
  NomeCliente       varchar(50),
  Cnpj              varchar(15),
  InscEst           varchar(20),
  Cep               varchar(8),
  DDD               integer,
  Telefone          varchar(50),
  DDD_Cel           integer,
  Celular           varchar(8),
  TipoPessoa        varchar(1),
  Fax               varchar(50),
  RG                varchar(20),
  Observacao        text,
  Contato           varchar(50),
  DataCadastro      datetime,
  DataAtualizacao   datetime,
  Email             varchar(255),
  Endereco          varchar(50),
  Numero            integer,
  Complemento       varchar(50),
  Bairro            varchar(50),
  Cidade            varchar(50),
  Estado            varchar(2),
  EnderecoEntr      text,
  PontoRefer        text,
  ddd2              integer,
  fone2             varchar(8),
  ddd3              integer,
  fone3             varchar(8),
  ddd4              integer,
  fone4             varchar(8),
  LimiteCredito     float,
  NumeroCartao      varchar(20),
  IdCorretor        integer,
  TipoCliente       varchar(1) default 'N',
  IdClassificacao   integer,
  DataSerasa        datetime,
  CodMun            varchar(5),
  ComissaoRep       float,
  IdLoja            integer,
  Representante     varchar(1) default 'N',
  LiberaConsignacao varchar(50),
  Status            varchar(1),
  IdPais            varchar(4),
  DataNascto        datetime,
  DescontoVenda     float,
  NaoMostraContas   varchar(1) default 'N',
  IdVendedor        integer,
  ComissaoVendedor  float,
  NomeFantasia      varchar(50),
  TipoContribuinte  varchar(1),
  Bai_Cob           varchar(50),
  Cep_Cob           varchar(8),
  Cid_Cob           varchar(50),
  CodMun_Cob        varchar(5),
  Compl_Cob         varchar(50),
  Cont_Cob          varchar(50),
  End_Cob           varchar(50),
  Est_Cob           varchar(2),
  Num_Cob           integer,
  -- kept by the store system itself
  Sincronizado      varchar(1) not null default 'N'
);

create table fornecedores (
  Idfornecedor     integer not null primary key,
  Idempresa        integer,
  NomeFornecedor   varchar(50),
  NomeFantasia     varchar(50),
  Cep              varchar(8),
  DDD              integer,
  Telefone         varchar(50),
  TipoPessoa       varchar(1),
  cnpj             varchar(18),
  inscest          varchar(20),
  Observacao       text,
  Contato          varchar(50),
  DataAtualizacao  datetime,
  Endereco         varchar(50),
  Numero           integer,
  Bairro           varchar(50),
  Cidade           varchar(50),
  Estado           varchar(2),
  Status           varchar(1),
  Fornecedor       varchar(1),
  TipoContribuinte varchar(1),
  idpais           varchar(4),
  codmun           varchar(5),
  -- kept by the store system itself
  DataCadastro     datetime default (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')),
  Email            varchar(255),
  Fax              varchar(50),
  PrazoEntrega     integer not null default 0
);

-- The initial-stock routine. SQLite has no stored procedures, so it is a view of the five inputs
-- whose INSTEAD OF INSERT trigger does the work; it is called by inserting one row:
--   insert into Sp_EstoqueInicial (refer, idcor, tam, idempresa, idfilial) values (?, ?, ?, ?, ?)
-- It creates the stock row of a product (stock 1, for the given colour, size, company and place)
-- unless it is there already. A new row holds no stock yet: Est_Fiscal and Est_Fisico 0,
-- Est_Unidade 1, ExpLoja and Sincronizado 'N', both dates now. The view itself never holds rows
-- and gives no return value.
create view Sp_EstoqueInicial (refer, idcor, tam, idempresa, idfilial) as
  select cast(null as varchar(10)), cast(null as integer), cast(null as varchar(3)),
         cast(null as integer), cast(null as integer)
   where 0;

create trigger Sp_EstoqueInicial_call instead of insert on Sp_EstoqueInicial
begin
  insert into lj_referEst (IdEmpresa, IdLocal, IdEstoque, IdReferencia, IdCor, Tam,
                           Est_Fiscal, Est_Fisico, DataAlteracao, DataInclusao,
                           ExpLoja, Est_Unidade, Sincronizado)
  select new.idempresa, new.idfilial, 1, new.refer, new.idcor, new.tam,
         0, 0, strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'),
         strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), 'N', 1, 'N'
   where not exists (
     select 1 from lj_referEst e
      where e.IdEmpresa = new.idempresa
        and e.IdLocal = new.idfilial
        and e.IdEstoque = 1
        and e.IdReferencia = new.refer
        and e.IdCor = new.idcor
        and e.Tam = new.tam);
end;
