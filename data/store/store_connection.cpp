#include "data/store/store_connection.h"

#include <algorithm>

#include "data/errors.h"
#include "data/store/data_link.h"
#include "normalise/ascii.h"
#include "normalise/codepage.h"
#include "platform/locale.h"

namespace importacao {

StoreConnection::StoreConnection(std::string name) : name_(std::move(name)) {}

StoreConnection::~StoreConnection() { disconnect(); }

void StoreConnection::connect() {
  if (connected()) return;
  if (beforeConnect_) beforeConnect_();
  useUtf8CharacterType();
  if (!environment_) environment_ = std::make_unique<odbc::Environment>();
  const OdbcTarget target = resolveConnectionString(connectionString_, environment_->driverNames());

  auto connection = std::make_unique<odbc::Connection>(*environment_);
  connection->open(target.connectionString, target.password, target.loginTimeoutSeconds);
  dbmsName_ = connection->infoText(SQL_DBMS_NAME);
  driverName_ = connection->infoText(SQL_DRIVER_NAME);
  kind_ = storeKindFromDriver(dbmsName_, driverName_);
  quote_ = connection->infoText(SQL_IDENTIFIER_QUOTE_CHAR);
  if (quote_.empty()) quote_.assign(1, ' ');
  connection_ = std::move(connection);
  inTransaction_ = false;
  keys_.clear();
}

void StoreConnection::disconnect() noexcept {
  for (StoreCommand* command : std::vector<StoreCommand*>(commands_)) command->connectionClosing();
  if (connection_) {
    connection_->close();  // rolls back what a rehearsal left open
    connection_.reset();
  }
  inTransaction_ = false;
  keys_.clear();
}

void StoreConnection::ensureConnected() {
  if (!connected()) connect();
}

odbc::Connection& StoreConnection::odbcConnection() {
  ensureConnected();
  return *connection_;
}

void StoreConnection::beginTransaction() {
  if (!connected()) throw DataError(name_ + ": Connection is not open");
  if (inTransaction_) throw DataError(name_ + ": A transaction is already open");
  connection_->setAutocommit(false);
  inTransaction_ = true;
}

void StoreConnection::rollback() {
  if (!inTransaction_ || !connected()) return;
  inTransaction_ = false;
  connection_->rollback();
  connection_->setAutocommit(true);
}

void StoreConnection::commit() {
  if (!inTransaction_ || !connected()) return;
  inTransaction_ = false;
  connection_->commit();
  connection_->setAutocommit(true);
}

void StoreConnection::executeSimple(const std::string& text) {
  odbc::Statement statement(odbcConnection());
  statement.executeDirect(utf8ToUtf16(text));
}

void StoreConnection::savepoint(std::string_view name) {
  if (!isPlainIdentifier(name))
    throw DataError("'" + std::string(name) + "' is not a savepoint name");
  executeSimple(kind_ == StoreKind::SqlServer ? "save transaction " + std::string(name)
                                              : "savepoint " + std::string(name));
}

void StoreConnection::rollbackToSavepoint(std::string_view name) {
  if (!isPlainIdentifier(name))
    throw DataError("'" + std::string(name) + "' is not a savepoint name");
  executeSimple(kind_ == StoreKind::SqlServer ? "rollback transaction " + std::string(name)
                                              : "rollback to savepoint " + std::string(name));
}

void StoreConnection::releaseSavepoint(std::string_view name) {
  if (!isPlainIdentifier(name))
    throw DataError("'" + std::string(name) + "' is not a savepoint name");
  // SQL Server has no release: its savepoints end with the transaction.
  if (kind_ != StoreKind::SqlServer) executeSimple("release savepoint " + std::string(name));
}

void StoreConnection::runStatement(const std::function<void()>& work) {
  // In a rehearsal on PostgreSQL one failed statement would abort the whole transaction; the
  // savepoint takes back only that statement, as autocommit would have.
  if (!inTransaction_ || kind_ != StoreKind::PostgreSql) {
    work();
    return;
  }
  static constexpr std::string_view kSavepoint = "imp_statement";
  savepoint(kSavepoint);
  try {
    work();
  } catch (...) {
    try {
      rollbackToSavepoint(kSavepoint);
      releaseSavepoint(kSavepoint);
    } catch (...) {
      // The statement's own error is the one to report.
    }
    throw;
  }
  releaseSavepoint(kSavepoint);
}

const std::vector<std::string>& StoreConnection::keyColumns(const std::string& table,
                                                            const std::string& schema) {
  const std::string cacheKey = schema + '\n' + table;
  if (auto found = keys_.find(cacheKey); found != keys_.end()) return found->second;

  odbc::Connection& connection = odbcConnection();
  std::u16string wideSchema = utf8ToUtf16(schema);
  auto query = [&](const std::string& name) {
    std::vector<std::pair<int, std::string>> columns;
    std::u16string wideTable = utf8ToUtf16(name);
    odbc::Statement statement(connection);
    odbc::check(
        SQLPrimaryKeysW(statement.get(), nullptr, 0,
                        schema.empty() ? nullptr : odbc::sqlText(wideSchema),
                        schema.empty() ? 0 : static_cast<SQLSMALLINT>(wideSchema.size()),
                        odbc::sqlText(wideTable), static_cast<SQLSMALLINT>(wideTable.size())),
        SQL_HANDLE_STMT, statement.get());
    while (statement.fetch()) {
      const auto column = statement.getText(4);
      const auto sequence = statement.getInteger(5);
      if (column) {
        columns.emplace_back(static_cast<int>(sequence.value_or(0)),
                             nameFromDriver(utf16ToUtf8(*column), kind_));
      }
    }
    if (columns.empty()) {
      // No primary key: the first unique index stands for it.
      odbc::Statement indexes(connection);
      odbc::check(
          SQLStatisticsW(indexes.get(), nullptr, 0,
                         schema.empty() ? nullptr : odbc::sqlText(wideSchema),
                         schema.empty() ? 0 : static_cast<SQLSMALLINT>(wideSchema.size()),
                         odbc::sqlText(wideTable), static_cast<SQLSMALLINT>(wideTable.size()),
                         SQL_INDEX_UNIQUE, SQL_QUICK),
          SQL_HANDLE_STMT, indexes.get());
      std::optional<std::u16string> chosen;
      while (indexes.fetch()) {
        const auto nonUnique = indexes.getInteger(4);
        const auto indexName = indexes.getText(6);
        const auto type = indexes.getInteger(7);
        const auto sequence = indexes.getInteger(8);
        const auto column = indexes.getText(9);
        if (!indexName || !column || type.value_or(SQL_TABLE_STAT) == SQL_TABLE_STAT ||
            nonUnique.value_or(1) != 0) {
          continue;
        }
        if (!chosen) chosen = *indexName;
        if (*indexName == *chosen) {
          columns.emplace_back(static_cast<int>(sequence.value_or(0)),
                               nameFromDriver(utf16ToUtf8(*column), kind_));
        }
      }
    }
    std::stable_sort(columns.begin(), columns.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& [sequence, column] : columns) names.push_back(std::move(column));
    return names;
  };

  std::vector<std::string> names = query(table);
  if (names.empty()) {
    // The driver may match the name exactly while the store folded it (PostgreSQL keeps
    // unquoted names in lower case).
    const std::string lower = lowerAscii(table);
    const std::string upper = upperAscii(table);
    if (lower != table) names = query(lower);
    if (names.empty() && upper != table) names = query(upper);
  }
  return keys_.emplace(cacheKey, std::move(names)).first->second;
}

std::optional<std::vector<std::string>> StoreConnection::procedureInputs(const std::string& name) {
  odbc::Connection& connection = odbcConnection();
  std::u16string schema;
  if (kind_ == StoreKind::PostgreSql) {
    // Every schema's functions are listed otherwise, not only those the connection calls.
    odbc::Statement current(connection);
    current.executeDirect(u"select current_schema()");
    if (current.fetch()) schema = current.getText(1).value_or(u"");
  }
  SQLWCHAR* schemaText = schema.empty() ? nullptr : odbc::sqlText(schema);
  const auto schemaLength = static_cast<SQLSMALLINT>(schema.size());
  auto inputsOf = [&](const std::string& spelling) -> std::optional<std::vector<std::string>> {
    std::u16string wideName = utf8ToUtf16(spelling);
    odbc::Statement procedures(connection);
    odbc::check(SQLProceduresW(procedures.get(), nullptr, 0, schemaText, schemaLength,
                               odbc::sqlText(wideName), static_cast<SQLSMALLINT>(wideName.size())),
                SQL_HANDLE_STMT, procedures.get());
    if (!procedures.fetch()) return std::nullopt;
    odbc::Statement columns(connection);
    odbc::check(SQLProcedureColumnsW(columns.get(), nullptr, 0, schemaText, schemaLength,
                                     odbc::sqlText(wideName),
                                     static_cast<SQLSMALLINT>(wideName.size()), nullptr, 0),
                SQL_HANDLE_STMT, columns.get());
    // In the order of the call (ODBC: the return value first, then the parameters in order).
    std::vector<std::string> names;
    while (columns.fetch()) {
      const auto parameter = columns.getText(4);
      const auto type = columns.getInteger(5);
      if (type == SQL_PARAM_INPUT || type == SQL_PARAM_INPUT_OUTPUT) {
        names.push_back(nameFromDriver(utf16ToUtf8(parameter.value_or(u"")), kind_));
      }
    }
    return names;
  };
  const std::string lower = lowerAscii(name);
  // PostgreSQL keeps an unquoted name in lower case.
  if (auto inputs = inputsOf(name)) return inputs;
  if (lower != name) return inputsOf(lower);
  return std::nullopt;
}

void StoreConnection::attach(StoreCommand* command) { commands_.push_back(command); }

void StoreConnection::detach(StoreCommand* command) noexcept {
  commands_.erase(std::remove(commands_.begin(), commands_.end(), command), commands_.end());
}

}  // namespace importacao
