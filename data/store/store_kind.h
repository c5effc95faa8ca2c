// Which database engine a store is: what the dialect (dialect.h) decides by, and what the test
// stores are made of.
#pragma once

#include <string_view>

namespace importacao {

enum class StoreKind { SqlServer, PostgreSql, Sqlite, Other };

// "SQL Server", "PostgreSQL", "SQLite", "other".
std::string_view storeKindName(StoreKind kind) noexcept;

}  // namespace importacao
