#include "app/cli.h"

int main(int argc, char** argv) { return importacao::runCli(argc, argv); }
