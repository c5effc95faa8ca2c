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

// The data-link file the settings name does not exist, so the store connection goes on with the
// data-link file it had: the built-in one, or the one an earlier run set. An operator who
// mistyped the name would otherwise import into another database without a word.
struct DataLinkNotice {
  std::string typed;    // the file-name box's text, as the settings hold it (UTF-8)
  std::string named;    // the file name the connection takes from it (dataLinkFileName)
  std::string instead;  // the data-link file the connection uses instead; empty when its
                        // connection string names none (it is not shown: it may hold a password)
  bool builtIn = true;  // `instead` is the built-in one (no earlier run set another)
};

// What the operator reads: "The data-link file '/srv/loja.udl' does not exist; the store
// connection uses '/home/ana/.config/Importacao.udl' (the built-in data-link file) instead."
// A text whose file name is its first word only ("/srv/loja nova.udl") is shown as well.
std::string dataLinkNoticeText(const DataLinkNotice& notice);

// The error that ends a run when the file the connection would use instead is missing too: it
// names the file the operator typed first, then the other one.
std::string dataLinkMissingTooText(const DataLinkNotice& notice);

// The data-link file of a connection string "FILE NAME=<path>"; empty for any other string.
std::string dataLinkFileOf(std::string_view connectionString);

// The store connection's before-connect handler: when the file-name box's file name
// (dataLinkFileName of `fileBoxText`) names an existing file, sets the connection string to
// "FILE NAME=" and that name; otherwise leaves it as it is (an earlier run's, or the built-in
// one). Returns whether it set the string.
bool TendaroBeforeConnect(StoreConnectionControl& Tendaro, std::string_view fileBoxText);

}  // namespace importacao
