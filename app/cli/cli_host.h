// The headless runner's side of a run: log lines on standard output (UTF-8) and in an optional
// log file (exactly the window's log: code page 1252, each line ended by CR LF), a progress bar
// on standard error when it is a terminal, interrupts seen as "Parar", and the closing summary.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "app/run/run_core.h"
#include "app/run/run_host.h"
#include "platform/file.h"

namespace importacao {

// The log file of --log FILE: the log as the window holds it. Every line is written to the file
// as it is appended (one write per line, no buffering in the process), so a crash keeps every
// line logged before it. Not copyable.
class LogFile {
 public:
  // Creates or truncates the file. Throws std::runtime_error naming the file when it cannot.
  explicit LogFile(const std::filesystem::path& path);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Writes the line's bytes and CR LF. A carriage return inside the line stays byte 13.
  // Throws std::runtime_error (not a DataError: a failing log ends the run) when the write fails.
  void append(std::string_view line);
  // Empties the file (the window's log is cleared when a products section starts).
  void clear();

 private:
  std::filesystem::path path_;
  OpenFile file_;
};

// A log line as standard output shows it: UTF-8. On a terminal the carriage return inside an
// error line becomes a line break and an indent, and control characters that a terminal would
// act on become '?'; elsewhere the line's text is kept as it is.
std::string displayLine(std::string_view line, bool terminal);

// The progress bar's text: "Produtos  1234/10000  12%  310/s  0:28 left". Empty without stats.
std::string progressText(const SectionStats& stats);

// How a run of the runner ended, besides what the run core counted.
struct RunReport {
  bool sectionsChosen = false;  // any of --products, --customers, --suppliers
  bool dryRun = false;
  std::optional<std::string> failure;          // the error that ended the run
  std::optional<std::string> rollbackFailure;  // why a dry run's rollback failed
  std::chrono::steady_clock::duration total{};
};

// The closing summary: one row per section walked (read, inserted, updated, skipped, failed,
// time), how the run ended (and why, when an error ended it), and for a dry run whether its
// changes were rolled back.
void writeSummary(std::ostream& err, const RunSummary& summary, const RunReport& report);

// The exit status a run earned: 1 when an error ended it or a dry run's rollback failed, 130
// when stopped, 3 when it reached its end with records that failed, 0 when every record read
// was written.
int exitStatus(const RunSummary& summary, const RunReport& report) noexcept;

// Whether a record failed because the store connection itself is gone, not because the store
// refused the record: the drivers report that with an SQLSTATE of class 08 (connection
// exception; 08S01 is a broken link).
bool isConnectionLost(const DataError& error) noexcept;

// Where the store connection was lost during a run, and how many records failed after it.
struct StoreLoss {
  SectionId section = SectionId::Products;
  std::int64_t record = 0;       // the section's record in hand (the first read is 1)
  std::string errorLine;         // that record's error line up to its carriage return (1252)
  std::int64_t failedAfter = 0;  // records that failed after it, in every section
};

// The runner's one message about it, on standard error.
std::string storeLossText(const StoreLoss& loss);

class CliHost final : public RunHost {
 public:
  // `interrupts` counts the SIGINTs received (set by the signal handler); each new one is seen
  // at the next log line and acts as "Parar". `logFile` may be null. All must outlive the host.
  CliHost(std::ostream& out, bool outIsTerminal, std::ostream& err, bool errIsTerminal,
          LogFile* logFile, const volatile std::sig_atomic_t* interrupts);

  // The core whose "Parar" the interrupts press and whose section stats the bar shows.
  void attach(RunCore& core) { core_ = &core; }

  void clearLog() override;
  void appendLogLine(std::string_view line) override;
  void setGaugeMaximum(int maximum) override;
  void setGaugePosition(int position) override;
  void processPendingEvents() override;
  // Prints the notice on standard error as a warning.
  void dataLinkMissing(const DataLinkNotice& notice) override;

  // Prints "warning: <text>" on standard error (the text in UTF-8, see messageText), the progress
  // bar giving way to it: for what was odd about a legacy table the run opened.
  void warn(std::string_view text);

  // Removes the progress bar from the terminal (before the summary).
  void finishProgress();
  // Whether an interrupt was seen during the run.
  bool interrupted() const noexcept { return seenInterrupts_ > 0; }
  // The log lines standard output took before it could take no more (a closed pipe); nullopt
  // while it takes them all. The run goes on regardless: the log file and the store do not
  // depend on anyone reading standard output.
  std::optional<std::int64_t> outputClosedAfter() const noexcept { return outputClosedAfter_; }

 private:
  void drawProgress(bool force);
  void eraseProgress();

  std::ostream& out_;
  std::ostream& err_;
  bool outIsTerminal_;
  bool progress_;  // standard error is a terminal
  LogFile* logFile_;
  const volatile std::sig_atomic_t* interrupts_;
  std::sig_atomic_t seenInterrupts_ = 0;
  RunCore* core_ = nullptr;
  std::int64_t linesShown_ = 0;
  std::optional<std::int64_t> outputClosedAfter_;
  std::string barText_;
  bool barShown_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace importacao
