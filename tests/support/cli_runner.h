// importacao-cli run as a child process for the tests that drive the real program: its output
// watched as it comes (so a test can act in the middle of a run) and how it ended. Header-only;
// the including test target defines IMP_CLI_PATH.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/files.h"

namespace importacao::test_support {

namespace fs = std::filesystem;

struct CliOutcome {
  int status = -1;  // exit status; 128 + signal when the program was killed by one
  std::string out, err;
};

// Runs importacao-cli with `args`. `onOutput` is called with all standard output so far after
// each new piece of it, and the child's pid (to pause it or send it signals). With
// `closeOutputAfterFirstLine` the reading end of standard output is closed once a line has come,
// as `importacao-cli ... | head -1` does. Gives up and kills the child after three minutes.
inline CliOutcome runCli(
    const std::vector<std::string>& args,
    const std::function<void(const std::string& outSoFar, pid_t child)>& onOutput = {},
    bool closeOutputAfterFirstLine = false) {
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0) throw std::runtime_error("pipe");
  if (::pipe(errPipe) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> all{IMP_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  CliOutcome outcome;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (::poll(fds, 2, 1000) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<std::size_t>(n));
      if (i == 0 && onOutput) onOutput(outcome.out, child);
      if (i == 0 && closeOutputAfterFirstLine && outcome.out.find('\n') != std::string::npos) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (open > 0) ::kill(child, SIGKILL);
  for (auto& fd : fds)
    if (fd.fd >= 0) ::close(fd.fd);
  int status = 0;
  ::waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

}  // namespace importacao::test_support
