#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "data/record/number_text.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  // Numbers read and written in the user's decimal separator, as the window does.
  importacao::initDecimalSeparatorFromEnvironment();
  importacao::prepareConsole();
  const std::vector<std::string> arguments = importacao::utf8Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  return importacao::runCli(static_cast<int>(pointers.size()), pointers.data());
}
