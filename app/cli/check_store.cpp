#include "app/cli/check_store.h"

#include <memory>

#include "app/cli/cli.h"
#include "app/run/import_objects.h"
#include "app/run/settings.h"
#include "app/run/store_check.h"
#include "app/run/utf8.h"
#include "normalise/codepage.h"

namespace importacao {

int runStoreCheck(const std::filesystem::path& settings, const std::optional<std::string>& dataLink,
                  std::ostream& out, std::ostream& err) {
  SettingsValues values;
  std::unique_ptr<ImportObjects> objects;
  try {
    values = loadSettings(ProfileFile(settings));
    if (dataLink) values.ConexaoSQL = *dataLink;
    objects = std::make_unique<ImportObjects>(builtInConnectionString(settings));
  } catch (const std::exception& error) {
    err << messageText(error.what()) << '\n';
    return kExitFailed;
  }
  // The store connection as a run makes it: the data-link file the settings name when it is
  // there, else the built-in one.
  NoSettingsWriter noWriter;
  RunParts parts = objects->runParts(noWriter);
  StoreConnectionControl& tendaro = parts.Tendaro;
  tendaro.setBeforeConnect([&] { TendaroBeforeConnect(tendaro, values.ConexaoSQL); });

  const std::vector<StoreCheckLine> lines = checkStore(objects->store());
  std::size_t failed = 0;
  for (const StoreCheckLine& line : lines) {
    out << (line.passed ? "OK    " : "FAIL  ") << cp1252ToUtf8(line.text) << '\n';
    if (!line.passed) ++failed;
  }
  out << lines.size() << " checks: " << lines.size() - failed << " passed, " << failed << " failed"
      << std::endl;
  return failed == 0 ? kExitCompleted : kExitFailed;
}

}  // namespace importacao
