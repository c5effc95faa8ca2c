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
#include "tests/support/cli_runner.h"

namespace importacao::faults {

namespace fs = std::filesystem;

using test_support::CliOutcome;
using test_support::readFile;
using test_support::runCli;
using test_support::split;
using test_support::writeFile;

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
      text +=
          name + " " + std::to_string(e.size) + " bytes, checksum " + std::to_string(e.sum) + "\n";
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

// Whether a log holds an error line (a record's line with the carriage return before the
// message): a run with one ends with status 3.
inline bool hasErrorLine(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    if (line.find('\r') != std::string::npos) return true;
  return false;
}

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
