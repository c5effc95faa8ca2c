// How the sections find the store row of a legacy record: a query selecting by a key is closed,
// given the key's values and opened again, and then either read (a lookup) or written (a found
// row is edited, an empty result gets a new row).
#pragma once

#include <initializer_list>
#include <string_view>
#include <utility>

#include "data/record/parameter.h"
#include "data/record/record_source.h"
#include "data/value.h"

namespace importacao {

// A store query seen through the record layer: the record source and its parameter list (a
// StoreQuery, or an in-memory source in tests). Neither reference owns.
struct KeyedQuery {
  RecordSource& source;
  ParameterList& parameters;
};

// Any object with a parameters() list that is also a record source.
template <class Query>
KeyedQuery keyedQuery(Query& query) {
  return KeyedQuery{query, query.parameters()};
}

// A parameter's name and the value it gets.
using KeyValue = std::pair<std::string_view, Value>;

// Closes the query, sets the parameters by name (in the order given) and opens it again. Throws
// DataError for a parameter the query lacks ("<query>: Parameter '<name>' not found"), what the
// parameter raises for its value, and what the open raises; the query is then left closed.
void reopen(KeyedQuery query, std::initializer_list<KeyValue> key);

// reopen, then gets the row ready for writing: the first row found enters edit, an empty result
// gets a new row (append). Returns true when the row is new. Throws as reopen, and what append
// or edit raise (a read-only source: "<query>: Cannot modify a read-only dataset").
bool findForWriting(KeyedQuery query, std::initializer_list<KeyValue> key);

}  // namespace importacao
