#include "app/run/connections.h"

#include <filesystem>
#include <system_error>

#include "app/run/settings.h"
#include "platform/path.h"

namespace importacao {

namespace {
constexpr std::string_view kFileNamePrefix = "FILE NAME=";

std::string whatInstead(const DataLinkNotice& notice) {
  // A connection string of another kind may hold a password: it is never shown.
  if (notice.instead.empty())
    return notice.builtIn ? "its built-in connection string"
                          : "the connection string of an earlier run";
  return "'" + notice.instead + "' (" +
         (notice.builtIn ? "the built-in data-link file" : "the data-link file of an earlier run") +
         ")";
}

std::string whatNamed(const DataLinkNotice& notice) {
  std::string text = "The data-link file '" + notice.named + "'";
  if (notice.typed != notice.named) text += " (from '" + notice.typed + "')";
  return text;
}
}  // namespace

std::string dataLinkNoticeText(const DataLinkNotice& notice) {
  return whatNamed(notice) + " does not exist; the store connection uses " + whatInstead(notice) +
         " instead.";
}

std::string dataLinkMissingTooText(const DataLinkNotice& notice) {
  return whatNamed(notice) + " does not exist, and neither does " + whatInstead(notice) +
         ", which the store connection would use instead";
}

std::string dataLinkFileOf(std::string_view connectionString) {
  if (!connectionString.starts_with(kFileNamePrefix)) return {};
  return std::string(connectionString.substr(kFileNamePrefix.size()));
}

bool TendaroBeforeConnect(StoreConnectionControl& Tendaro, std::string_view fileBoxText) {
  const std::string fileName = dataLinkFileName(fileBoxText);
  if (fileName.empty()) return false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(pathFromUtf8(fileName), error)) return false;
  Tendaro.setConnectionString(std::string(kFileNamePrefix) + fileName);
  return true;
}

}  // namespace importacao
