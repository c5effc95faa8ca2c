#include "app/qt/store_backend.h"

#include "app/run/settings.h"

namespace importacao {

StoreBackend::StoreBackend(const std::filesystem::path& settingsPath)
    : objects_(builtInConnectionString(settingsPath)) {}

}  // namespace importacao
