#include "import/keyed_query.h"

namespace importacao {

void reopen(KeyedQuery query, std::initializer_list<KeyValue> key) {
  query.source.close();
  for (const auto& [name, value] : key) query.parameters.byName(name).setValue(value);
  query.source.open();
}

bool findForWriting(KeyedQuery query, std::initializer_list<KeyValue> key) {
  reopen(query, key);
  if (query.source.isEmpty()) {
    query.source.append();
    return true;
  }
  query.source.edit();
  return false;
}

}  // namespace importacao
