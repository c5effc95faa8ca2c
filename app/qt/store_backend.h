// The window's run on the real objects: ConDb and its legacy tables, Tendaro and its queries,
// and the three sections.
#pragma once

#include <filesystem>

#include "app/run/import_objects.h"
#include "app/qt/unit1.h"

namespace importacao {

class StoreBackend final : public RunBackend {
 public:
  // The store connection starts with the built-in connection string of `settingsPath`: the
  // data-link file Importacao.udl beside the settings file.
  explicit StoreBackend(const std::filesystem::path& settingsPath);
  RunParts parts(SettingsWriter& settings) override { return objects_.runParts(settings); }
  ImportObjects& objects() noexcept { return objects_; }

 private:
  ImportObjects objects_;
};

}  // namespace importacao
