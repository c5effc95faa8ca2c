// What the fault tests share: importacao-cli run as a child process (its output watched line by
// line, so a test can act in the middle of a run), a look at every legacy file before and after a
// run, a PostgreSQL server of the test's own that it may stop and start again, and text in code
// page 850 as the legacy tables hold it. Header-only; for the tests under tests/faults.
#pragma once

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "normalise/codepage.h"

namespace importacao::faults {

namespace fs = std::filesystem;

struct CliOutcome {
  int status = -1;  // exit status; 128 + signal when the program was killed by one
  std::string out, err;
};

// Runs importacao-cli with `args`. `onOutput` is called with all standard output so far after
// each new piece of it, and the child's pid (to pause it or send it signals). Gives up and kills
// the child after three minutes.
inline CliOutcome runCli(const std::vector<std::string>& args,
                         const std::function<void(const std::string& outSoFar, pid_t child)>& onOutput = {}) {
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

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos;
       start = at + separator.size())
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// FNV-1a, 64 bits: enough to tell two versions of a file apart in a failure message.
inline std::uint64_t checksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// Every file of a folder (not its subfolders) with its checksum, size and modification time.
// Two snapshots of a folder the program only reads must be equal.
struct FolderSnapshot {
  struct Entry {
    std::uint64_t sum = 0;
    std::uintmax_t size = 0;
    fs::file_time_type modified{};
    friend bool operator==(const Entry&, const Entry&) = default;
  };
  std::map<std::string, Entry> files;

  static FolderSnapshot of(const fs::path& folder) {
    FolderSnapshot snapshot;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      const std::string bytes = readFile(entry.path());
      snapshot.files[entry.path().filename().string()] = {checksum(bytes), bytes.size(),
                                                          fs::last_write_time(entry.path())};
    }
    return snapshot;
  }
  friend bool operator==(const FolderSnapshot&, const FolderSnapshot&) = default;

  std::string describe() const {
    std::string text;
    for (const auto& [name, e] : files)
      text += name + " " + std::to_string(e.size) + " bytes, checksum " + std::to_string(e.sum) + "\n";
    return text;
  }
};

inline std::string shellQuoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A PostgreSQL server of the test's own (scripts/pg-test-server in a fresh folder), so that the
// test may stop it and start it again without disturbing the shared test server. Destroyed with
// the object.
class PrivateServer {
 public:
  PrivateServer() {
    char pattern[] = "/tmp/imp-faults-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    if (!script("start"))
      throw std::runtime_error("cannot start a PostgreSQL server in " + dir_.string());
    port_ = readFile(dir_ / "port");
    while (!port_.empty() && (port_.back() == '\n' || port_.back() == '\r')) port_.pop_back();
  }
  ~PrivateServer() { script("destroy"); }
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // The ODBC connection string of the server's database "loja" for the superuser "loja".
  std::string connectionString() const {
    return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port_ +
           ";Database=loja;Uid=loja;Pwd=" + std::string(kPassword);
  }
  const std::string& port() const noexcept { return port_; }
  const fs::path& directory() const noexcept { return dir_; }

  // Stops the server (fast shutdown: open sessions are ended) and starts it again on its port.
  bool stop() { return script("stop"); }
  bool restart() { return script("restart"); }

  // Runs one statement as the server's owner through its socket (psql). True when it succeeded.
  bool psql(const std::string& statement) const {
    return run(asOwner() + "psql -h " + shellQuoted(dir_.string()) + " -p " + port_ +
               " -U postgres -d loja -q -v ON_ERROR_STOP=1 -c " + shellQuoted(statement));
  }

  // From now on every connection over TCP must give its password (scram-sha-256); the socket
  // stays trusted for psql(). Restarts the server.
  bool requirePasswords() {
    const fs::path hba = dir_ / "data" / "pg_hba.conf";
    std::string changed;
    for (std::string line : split(readFile(hba), "\n")) {
      if (line.rfind("host", 0) == 0 && line.size() >= 5 && line.substr(line.size() - 5) == "trust")
        line = line.substr(0, line.size() - 5) + "scram-sha-256";
      changed += line + "\n";
    }
    writeFile(hba, changed);
    return stop() && restart();
  }

  static constexpr std::string_view kPassword = "loja-test";

 private:
  static bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  static std::string asOwner() { return ::geteuid() == 0 ? "runuser -u postgres -- " : ""; }
  bool script(const char* command) const {
    return run(shellQuoted(IMP_SOURCE_ROOT "/scripts/pg-test-server") + " " + command + " " +
               shellQuoted(dir_.string()));
  }

  fs::path dir_;
  std::string port_;
};

// Code page 1252 text (e.g. from utf8ToCp1252) as code page 850 bytes, the way the legacy
// system wrote its tables. Throws std::invalid_argument for a character 850 cannot hold.
inline std::string toCp850(std::string_view cp1252) {
  const auto& table = tableTo1252(850);
  std::string out;
  for (char c : cp1252) {
    if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
      continue;
    }
    int found = -1;
    for (int b = 0x80; b < 0x100 && found < 0; ++b)
      if (table[static_cast<std::size_t>(b)] == c) found = b;
    if (found < 0) throw std::invalid_argument("code page 850 cannot hold this character");
    out += static_cast<char>(found);
  }
  return out;
}

}  // namespace importacao::faults
