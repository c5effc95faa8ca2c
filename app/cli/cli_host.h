// The headless runner's side of a run: log lines on standard output (UTF-8) and in an optional
// log file (exactly the window's log: code page 1252, each line ended by CR LF), a progress bar
// on standard error when it is a terminal, interrupts seen as "Parar", and the closing summary.
#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
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

// The closing summary: one row per section walked (read, inserted, updated, skipped, failed,
// time), how the run ended, and for a dry run that nothing was kept.
void writeSummary(std::ostream& err, const RunSummary& summary, bool dryRun,
                  std::chrono::steady_clock::duration total, bool endedByError);

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

  // Prints "warning: <text>" on standard error (the text in UTF-8, see messageText), the progress
  // bar giving way to it: for what was odd about a legacy table the run opened.
  void warn(std::string_view text);

  // Removes the progress bar from the terminal (before the summary).
  void finishProgress();
  // Whether an interrupt was seen during the run.
  bool interrupted() const noexcept { return seenInterrupts_ > 0; }

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
  std::string barText_;
  bool barShown_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace importacao
