// The window program: no arguments; everything is driven from the main window.
#include <QApplication>

#include <memory>

#include "app/run/settings.h"
#include "app/qt/store_backend.h"
#include "app/qt/unit1.h"
#include "data/record/number_text.h"

int main(int argc, char* argv[]) {
  // Before anything reads or writes a number: the user's decimal separator (pt_BR writes 12,50).
  importacao::initDecimalSeparatorFromEnvironment();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Importacao"));
  const std::filesystem::path settingsPath = importacao::defaultSettingsPath();
  importacao::TForm1 form(std::make_unique<importacao::StoreBackend>(settingsPath), settingsPath);
  form.show();
  return QApplication::exec();
}
