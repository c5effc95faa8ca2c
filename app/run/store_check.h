// The store check an operator runs before the first import: whether the store can take what the
// sections write, found by reading only.
#pragma once

#include <string>
#include <vector>

namespace importacao {

class StoreObjects;  // data/store

// One check: passed, or the problem in words an operator can act on. Code page 1252, one line.
struct StoreCheckLine {
  bool passed = false;
  std::string text;
};

// Connects `store.Tendaro` (its connection string and before-connect handler set as for a run)
// and checks, inside a transaction that is rolled back and with nothing but reads:
//   - the connection itself (a failure is the only line);
//   - every table the sections read or write, through the statement of the object that reads
//     it: each column they assign or read is there with a kind that fits (the declared fields by
//     the rule and with the messages of a run's open, "aClientes: Type mismatch for field
//     'Observacao', expecting: Memo actual: String"; the columns of lj_produtos, fornecedores
//     and estoqueinicial by what the sections assign), can be written, and holds what the
//     sections write into it (a product key of 10 characters, names of 40, ...);
//   - each table the sections update has a primary key (or a unique index, which an update also
//     takes) holding the columns its section finds rows by;
//   - the stock procedure Sp_EstoqueInicial is there in the store's form and takes its five
//     inputs;
//   - Estado and Municipio hold rows.
// A table that cannot be read gives that one line (the store's message); its other checks are
// not made. Returns the lines in that order. Never throws.
std::vector<StoreCheckLine> checkStore(StoreObjects& store);

}  // namespace importacao
