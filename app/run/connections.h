// What a run needs of its two connections: the legacy database object ConDb and the store
// connection Tendaro. The real objects (data/dbf, data/store) are adapted to these; tests use
// fakes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace importacao {

// The legacy database object, as the run reconnects it.
class LegacyDbControl {
 public:
  virtual ~LegacyDbControl() = default;
  // Closes the database and every table open on it; nothing when not connected.
  virtual void disconnect() = 0;
  // Sets the PATH entry of the parameter list: replaced in place, appended when absent, removed
  // when `folder` is empty. Only while disconnected.
  virtual void setPath(std::string_view folder) = 0;
  // The code page override for every legacy table (nullopt: each table's own). Only while
  // disconnected.
  virtual void setCodePageOverride(std::optional<int> codePage) = 0;
  virtual void connect() = 0;
};

// The store connection, as the run reconnects it.
class StoreConnectionControl {
 public:
  virtual ~StoreConnectionControl() = default;
  virtual std::string connectionString() const = 0;
  virtual void setConnectionString(std::string text) = 0;
  // Installs the handler that connect() runs first, before it opens the connection.
  virtual void setBeforeConnect(std::function<void()> handler) = 0;
  // Rolls back an open transaction and closes every query; nothing when not connected.
  virtual void disconnect() = 0;
  // Runs the before-connect handler, then opens; nothing when already connected.
  virtual void connect() = 0;
};

// The store connection's before-connect handler: when the file-name box's file name
// (dataLinkFileName of `fileBoxText`) names an existing file, sets the connection string to
// "FILE NAME=" and that name; otherwise leaves it as it is (an earlier run's, or the built-in
// one). Returns whether it set the string.
bool TendaroBeforeConnect(StoreConnectionControl& Tendaro, std::string_view fileBoxText);

}  // namespace importacao
