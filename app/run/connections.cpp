#include "app/run/connections.h"

#include <filesystem>
#include <system_error>

#include "app/run/settings.h"
#include "platform/path.h"

namespace importacao {

bool TendaroBeforeConnect(StoreConnectionControl& Tendaro, std::string_view fileBoxText) {
  const std::string fileName = dataLinkFileName(fileBoxText);
  if (fileName.empty()) return false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(pathFromUtf8(fileName), error)) return false;
  Tendaro.setConnectionString("FILE NAME=" + fileName);
  return true;
}

}  // namespace importacao
