// importacao-cli: the import run without a window.
//
//   importacao-cli [--settings FILE] [--dbf-folder DIR] [--data-link FILE] [--products]
//                  [--customers] [--suppliers] [--log FILE] [--dry-run] [--dbf-code-page N]
//   importacao-cli --dump-dbf FILE [--dbf-code-page N]
//   importacao-cli --check-store [--settings FILE] [--data-link FILE]
//
// Exit status: 0 when the run reached "Processo concluido" and every record read was written;
// 1 when an error outside a record ended it (its message on standard error) or a dry run's
// rollback failed; 2 for a usage error; 3 when the run reached its end but records failed (the
// store connection lost on the way among them); 130 when an interrupt (SIGINT, acting as
// "Parar") stopped it. A second interrupt ends the program at once. --check-store:
// 0 when every check passed, 1 when any failed, 2 for a usage error.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

namespace importacao {

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRecordsFailed = 3;
inline constexpr int kExitInterrupted = 130;

struct CliOptions {
  std::filesystem::path settings;        // the settings file read (default: the window's)
  std::optional<std::string> dbfFolder;  // overrides ConexaoDBF
  std::optional<std::string> dataLink;   // overrides ConexaoSQL
  bool products = false;
  bool customers = false;
  bool suppliers = false;
  std::optional<std::filesystem::path> logFile;
  bool dryRun = false;
  std::optional<int> dbfCodePage;
  std::optional<std::string> dumpDbf;  // --dump-dbf FILE: print the table, import nothing
  bool checkStore = false;             // --check-store: check the store, import nothing
};

// Parses the command line. Returns the options, or the exit status to end with after the help
// (0, written to `out`) or a usage error (2, its message written to `err`).
std::variant<CliOptions, int> parseCliOptions(int argc, const char* const* argv, std::ostream& out,
                                              std::ostream& err);

// The whole program: parses, runs, reports. Installs the SIGINT handler.
int runCli(int argc, const char* const* argv);

}  // namespace importacao
