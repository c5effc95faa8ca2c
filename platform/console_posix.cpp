#include <signal.h>
#include <unistd.h>

#include "platform/console.h"

namespace importacao {
namespace {

void (*gHandler)() = nullptr;

extern "C" void onSignal(int) {
  if (gHandler != nullptr) gHandler();
}

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void prepareConsole() {}

bool isTerminal(StandardStream stream) {
  return ::isatty(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void installInterruptHandler(void (*handler)()) {
  gHandler = handler;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
}

void ignoreClosedPipes() { ::signal(SIGPIPE, SIG_IGN); }

void writeErrorNow(std::string_view text) noexcept {
  (void)!::write(STDERR_FILENO, text.data(), text.size());
}

void exitNow(int status) noexcept { ::_exit(status); }

}  // namespace importacao
