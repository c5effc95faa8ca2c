// The objects a run works on, as the main window owns them: the legacy database ConDb with its
// table objects tProduto, tClientes and tFornecedor, the store connection Tendaro with its query
// and procedure objects, and the three sections. The window and the headless runner each own
// one and hand its parts to their RunCore.
#pragma once

#include <memory>
#include <string>

#include "app/run/run_core.h"

namespace importacao {

struct LegacyObjects;  // data/dbf
class StoreObjects;    // data/store

class ImportObjects {
 public:
  // `builtInConnectionString` is the store connection's string until a run finds the configured
  // data-link file (builtInConnectionString() of the settings file's path).
  explicit ImportObjects(std::string builtInConnectionString);
  ~ImportObjects();
  ImportObjects(const ImportObjects&) = delete;
  ImportObjects& operator=(const ImportObjects&) = delete;

  // The parts of a run over these objects. The result points into this object (and at
  // `settings` and `observer`), which must outlive every RunCore made from it.
  RunParts runParts(SettingsWriter& settings, RunObserver* observer = nullptr);

  // A rehearsal: after the run has connected the store, everything happens in one transaction
  // (with a savepoint per statement where the store needs it); endRehearsal rolls it back.
  // beginRehearsal throws DataError when the store is not connected.
  void beginRehearsal();
  // Rolls back; nothing outside a rehearsal. Never throws; returns the rollback's error text
  // ("" when it went well).
  std::string endRehearsal() noexcept;

  LegacyObjects& legacy() noexcept;
  StoreObjects& store() noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace importacao
