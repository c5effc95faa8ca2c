// The window program: no arguments; everything is driven from the main window.
#include <QApplication>

#include <memory>

#include "app/import_objects.h"
#include "app/settings.h"
#include "app/unit1.h"

namespace importacao {
namespace {

// The real ConDb, Tendaro, tables, queries and sections.
class StoreBackend final : public RunBackend {
 public:
  explicit StoreBackend(const std::filesystem::path& settingsPath)
      : objects_(builtInConnectionString(settingsPath)) {}
  RunParts parts(SettingsWriter& settings) override { return objects_.runParts(settings); }

 private:
  ImportObjects objects_;
};

}  // namespace
}  // namespace importacao

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Importacao"));
  const std::filesystem::path settingsPath = importacao::defaultSettingsPath();
  importacao::TForm1 form(std::make_unique<importacao::StoreBackend>(settingsPath), settingsPath);
  form.show();
  return QApplication::exec();
}
