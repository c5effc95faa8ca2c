// The window program: no arguments; everything is driven from the main window.
#include <QApplication>

#include "app/unit1.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Importacao"));
  importacao::TForm1 form;
  form.show();
  return QApplication::exec();
}
