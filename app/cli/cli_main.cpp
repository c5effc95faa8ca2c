#include "app/cli/cli.h"
#include "data/record/number_text.h"

int main(int argc, char** argv) {
  // Numbers read and written in the user's decimal separator, as the window does.
  importacao::initDecimalSeparatorFromEnvironment();
  return importacao::runCli(argc, argv);
}
