// Pictures of the window as the operator sees it, for anyone reviewing the layout without a
// desktop: the run page at start, during a run and after it, and the settings page. The run
// goes over stand-in tables, so no database is needed.
//
//   importacao-screenshot OUTDIR     writes OUTDIR/*.png and prints each file's path
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/qt/log_view.h"
#include "app/qt/unit1.h"
#include "app/qt/window_test_backend.h"

namespace {

bool save(QWidget& window, const QDir& folder, const char* name) {
  QTest::qWait(importacao::LogView::kRepaintIntervalMs * 3);  // the log paints on its timer
  const QString path = folder.absoluteFilePath(QString::fromLatin1(name));
  if (!window.grab().save(path, "PNG")) {
    std::fprintf(stderr, "importacao-screenshot: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Importacao"));
  if (argc != 2) {
    std::fprintf(stderr, "usage: importacao-screenshot OUTDIR\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.exists() && !QDir().mkpath(folder.path())) {
    std::fprintf(stderr, "importacao-screenshot: cannot create %s\n", argv[1]);
    return 1;
  }

  // Settings as an operator might have left them.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  std::ofstream(QDir(config.path()).absoluteFilePath("Importacao.ini").toStdString())
      << "[Importacao]\nConexaoDBF=/dados/loja antiga\n"
         "ConexaoSQL=\"/dados/loja nova/Importacao.udl\"\n"
         "[FormaPgto]\nDuplicata=3\nCheque=2\nAvista=1\nCartao=4\nDepBanco=5\n"
         "[Vendas]\nVendedor=1\n";

  using namespace importacao;
  auto owned = std::make_unique<FakeBackend>();
  FakeBackend& backend = *owned;
  // The data-link file the settings name is not on this machine: the run goes on with the
  // built-in one, which must exist, and its notice goes to standard error instead of a box that
  // would wait for a click.
  const std::string builtIn = QDir(config.path()).absoluteFilePath("Importacao.udl").toStdString();
  std::ofstream(builtIn) << "[oledb]\r\n";
  backend.tendaro.setConnectionString("FILE NAME=" + builtIn);
  TForm1 form(std::move(owned), defaultSettingsPath());
  const auto toStandardError = [](QWidget*, const QString&, const QString& text) {
    std::fprintf(stderr, "importacao-screenshot: %s\n", qPrintable(text));
  };
  form.setNoticeBox(toStandardError);
  form.setErrorBox(toStandardError);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) std::fprintf(stderr, "window not exposed\n");

  bool ok = save(form, folder, "1-run-page-at-start.png");

  backend.produtos.reset(120);
  backend.clientes.reset(45);
  backend.fornecedores.reset(30);
  backend.productsSection.failEvery = 25;
  backend.customersSection.failEvery = 17;
  backend.productsSection.onRecord = [&](std::int64_t record) {
    if (record == 61) ok = save(form, folder, "2-run-page-during-a-run.png") && ok;
  };
  form.CheckBox1->setChecked(true);
  form.CheckBox2->setChecked(true);
  form.CheckBox3->setChecked(true);
  form.BitBtn1Click();
  ok = save(form, folder, "3-run-page-after-a-run.png") && ok;

  form.PageControl1->setCurrentWidget(form.TabSheet2);
  ok = save(form, folder, "4-settings-page.png") && ok;
  return ok ? 0 : 1;
}
