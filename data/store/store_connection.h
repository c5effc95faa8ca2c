// The store connection (the object the window knows as Tendaro): one ODBC connection to the new
// system's database, reached through a data-link file, with the query and procedure objects
// that run on it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/store/dialect.h"
#include "data/store/odbc.h"

namespace importacao {

class StoreCommand;

// Connect and disconnect do nothing when the connection is already in the asked state.
// Statements run in autocommit: every post, execute and call is committed as it completes.
// A rehearsal (beginTransaction ... rollback) holds everything in one transaction instead.
//
// Not copyable or movable: the commands on it keep its address.
class StoreConnection {
 public:
  explicit StoreConnection(std::string name = "Tendaro");
  ~StoreConnection();
  StoreConnection(const StoreConnection&) = delete;
  StoreConnection& operator=(const StoreConnection&) = delete;

  const std::string& name() const noexcept { return name_; }

  // The OLE DB connection string, UTF-8: "FILE NAME=<path of a data-link file>", or an
  // initialisation string itself ("Provider=MSDASQL.1;Extended Properties=..."). Takes effect
  // at the next connect.
  const std::string& connectionString() const noexcept { return connectionString_; }
  void setConnectionString(std::string text) { connectionString_ = std::move(text); }

  // Runs first in every connect that opens the connection; it may change the connection string
  // (the window's TendaroBeforeConnect). An error it raises ends the connect.
  void setBeforeConnect(std::function<void()> handler) { beforeConnect_ = std::move(handler); }

  // Runs the before-connect handler, resolves the connection string (reading the data-link
  // file) and opens the connection. Nothing when connected. Throws DataError for a connection
  // string or data-link file that cannot be used (the message names the file) and StoreError
  // with the driver's text when the store refuses; no message holds the password. Never falls
  // back to any other database. Makes the process's character type (LC_CTYPE) UTF-8 when it is
  // not, as the drivers convert text with it.
  void connect();

  // Closes every command on the connection (discarding unposted rows), rolls back an open
  // transaction and disconnects. Nothing when not connected. Never throws.
  void disconnect() noexcept;

  bool connected() const noexcept { return connection_ != nullptr && connection_->isOpen(); }

  // What the store is, from the driver (valid while connected).
  StoreKind storeKind() const noexcept { return kind_; }
  // SQL_DBMS_NAME and SQL_DRIVER_NAME as the driver gives them.
  const std::string& dbmsName() const noexcept { return dbmsName_; }
  const std::string& driverName() const noexcept { return driverName_; }
  // The driver's identifier quote (SQL_IDENTIFIER_QUOTE_CHAR); " " when it has none.
  const std::string& identifierQuote() const noexcept { return quote_; }

  // Whether each command keeps its statements prepared across records (one prepared handle per
  // statement text, executed again with new values) or prepares them anew for every execution.
  bool reusePreparedStatements() const noexcept { return reusePrepared_; }
  void setReusePreparedStatements(bool reuse) noexcept { reusePrepared_ = reuse; }

  // --- Rehearsal ---------------------------------------------------------------------------------
  // A rehearsal runs the whole import inside one transaction and rolls it back. Each statement
  // then runs under its own savepoint where one failed statement would spoil the transaction
  // (PostgreSQL), so a failed record leaves the rest of the rehearsal as a real run would.

  // Turns autocommit off. Throws DataError when not connected or already in a transaction.
  void beginTransaction();
  // Rolls the transaction back and turns autocommit on again. Nothing outside a transaction.
  void rollback();
  // Commits the transaction and turns autocommit on again. Nothing outside a transaction.
  void commit();
  bool inTransaction() const noexcept { return inTransaction_; }

  // Named savepoints inside a transaction (the name must be a plain identifier).
  void savepoint(std::string_view name);
  void rollbackToSavepoint(std::string_view name);
  void releaseSavepoint(std::string_view name);

  // --- For the commands on this connection ---------------------------------------------------

  // Connects when not connected (a command opened on a closed connection opens it first).
  void ensureConnected();
  odbc::Connection& odbcConnection();

  // Runs `work` (one statement) under the rehearsal's statement savepoint where one is needed;
  // otherwise runs it as it is.
  void runStatement(const std::function<void()>& work);

  // The primary-key columns of a table, in key order (SQLPrimaryKeys; when the table has none,
  // the columns of its first unique index). Empty when there is neither. Kept for the
  // connection's lifetime: a table's key does not change while an import runs.
  const std::vector<std::string>& keyColumns(const std::string& table, const std::string& schema);

  // The input parameters of the stored procedure (on PostgreSQL: the function) `name`, in order,
  // as the catalog gives them (SQLProcedures, SQLProcedureColumns; on PostgreSQL in the current
  // schema, where the connection finds it). nullopt when the store has no procedure of that
  // name.
  std::optional<std::vector<std::string>> procedureInputs(const std::string& name);

  void attach(StoreCommand* command);
  void detach(StoreCommand* command) noexcept;

 private:
  void executeSimple(const std::string& text);

  std::string name_;
  std::string connectionString_;
  std::function<void()> beforeConnect_;
  std::unique_ptr<odbc::Environment> environment_;
  std::unique_ptr<odbc::Connection> connection_;
  StoreKind kind_ = StoreKind::Other;
  std::string dbmsName_;
  std::string driverName_;
  std::string quote_ = "\"";
  bool inTransaction_ = false;
  bool reusePrepared_ = true;
  std::vector<StoreCommand*> commands_;
  std::map<std::string, std::vector<std::string>> keys_;
};

// Something that runs statements on a StoreConnection and holds ODBC handles on it: they are
// released when the connection disconnects. The connection must outlive the command.
class StoreCommand {
 public:
  explicit StoreCommand(StoreConnection& connection) : connection_(connection) {
    connection_.attach(this);
  }
  virtual ~StoreCommand() { connection_.detach(this); }
  StoreCommand(const StoreCommand&) = delete;
  StoreCommand& operator=(const StoreCommand&) = delete;

  StoreConnection& connection() const noexcept { return connection_; }

  // Called by the connection before it disconnects: close, free every handle. Never throws.
  virtual void connectionClosing() noexcept = 0;

 private:
  StoreConnection& connection_;
};

}  // namespace importacao
