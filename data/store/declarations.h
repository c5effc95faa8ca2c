// The store's query objects as the window declares them: statement texts, typed parameters and
// field lists, and the one object that owns them with their connection.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/record/field.h"
#include "data/store/store_connection.h"
#include "data/store/store_query.h"

namespace importacao {

// One declared field: name, kind and size (nullopt: the kind's default).
struct FieldDeclaration {
  std::string_view name;
  FieldKind kind;
  std::optional<int> size;
  bool readOnly = false;
};

// A statement text as declared: every line followed by a carriage return and a line feed.
std::string statementText(std::initializer_list<std::string_view> lines);

// The declared field lists.
std::span<const FieldDeclaration> aBarrasFields() noexcept;    // 7
std::span<const FieldDeclaration> aEstoqueFields() noexcept;   // 13, also EstInicial's
std::span<const FieldDeclaration> aPrecoFields() noexcept;     // 5
std::span<const FieldDeclaration> aClientesFields() noexcept;  // 61
std::span<const FieldDeclaration> ADOQuery1Fields() noexcept;  // 4

// The store connection Tendaro and every object on it, declared. The application owns one and
// hands it to the sections. Tendaro's connection string starts empty: the application sets its
// built-in one. Not copyable or movable.
class StoreObjects {
 public:
  StoreObjects();
  StoreObjects(const StoreObjects&) = delete;
  StoreObjects& operator=(const StoreObjects&) = delete;

  StoreConnection Tendaro;  // first: constructed before and destroyed after the objects on it
  StoreQuery aProdutos;     // lj_produtos by idreferencia; fields derived
  StoreQuery aBarras;       // lj_referBar by idreferencia, idcor, tam, codbarra
  StoreQuery aEstoque;      // lj_referEst by idreferencia, idcor, tam, idestoque
  StoreQuery aPreco;        // lj_referPrc by idreferencia, idtabela
  StoreQuery aClientes;     // clientes by idcliente
  StoreQuery aFornecedor;   // fornecedores by idfornecedor; fields derived
  StoreQuery ADOQuery1;     // municipality code by state and upper-cased city name
  StoreQuery EstInicial;    // the initial-stock insert, executed only
  StoredProc sp_Estoque;    // Sp_EstoqueInicial;1
};

}  // namespace importacao
