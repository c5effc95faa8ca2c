#include "app/store_backend.h"

#include "app/settings.h"

namespace importacao {

StoreBackend::StoreBackend(const std::filesystem::path& settingsPath)
    : objects_(builtInConnectionString(settingsPath)) {}

}  // namespace importacao
