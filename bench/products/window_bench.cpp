// The products run through the window: TForm1 on the platform Qt is given (offscreen for the
// benchmark), its folder and data-link boxes filled in, "Produtos" ticked and "Importar" clicked.
// Every log line lets the window process its events, as in the program.
//
//   importacao-window-bench FOLDER DATA_LINK      (settings file: XDG_CONFIG_HOME/Importacao.ini)
//
// Prints the run's own time; exits 1 when the run ended in the error box.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/qt/file_name_edit.h"
#include "app/run/import_objects.h"
#include "app/run/settings.h"
#include "app/qt/unit1.h"

namespace {

class StoreBackend final : public importacao::RunBackend {
 public:
  explicit StoreBackend(const std::filesystem::path& settingsPath)
      : objects_(importacao::builtInConnectionString(settingsPath)) {}
  importacao::RunParts parts(importacao::SettingsWriter& settings) override {
    return objects_.runParts(settings);
  }

 private:
  importacao::ImportObjects objects_;
};

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: importacao-window-bench FOLDER DATA_LINK\n");
    return 2;
  }
  const std::filesystem::path settingsPath = importacao::defaultSettingsPath();
  importacao::TForm1 form(std::make_unique<StoreBackend>(settingsPath), settingsPath);
  QString error;
  form.setErrorBox([&](QWidget*, const QString&, const QString& text) { error = text; });
  form.show();
  form.edtconexao->setText(QString::fromLocal8Bit(argv[1]));
  form.edtConexatSql->setText(QString::fromLocal8Bit(argv[2]));
  form.CheckBox1->setChecked(true);

  const auto started = std::chrono::steady_clock::now();
  form.BitBtn1Click();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!error.isEmpty()) {
    std::fprintf(stderr, "window run failed: %s\n", error.toUtf8().constData());
    return 1;
  }
  std::printf("window: run took %.2f s\n", seconds);
  return 0;
}
