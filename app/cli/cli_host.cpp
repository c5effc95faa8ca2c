#include "app/cli/cli_host.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "app/cli/cli.h"
#include "app/run/log_store.h"
#include "app/run/utf8.h"
#include "data/errors.h"
#include "normalise/codepage.h"
#include "platform/file.h"
#include "platform/path.h"

namespace importacao {
namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::string_view kEraseLine = "\r\x1b[K";
constexpr std::string_view kErrorIndent = "    ";

double seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }

std::string clockText(double totalSeconds) {
  const long long whole = static_cast<long long>(totalSeconds + 0.5);
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

std::string secondsText(Steady::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds(d));
  return text;
}

}  // namespace

LogFile::LogFile(const std::filesystem::path& path) : path_(path) {
  std::error_code error;
  file_ = OpenFile::createForAppending(path, error);
  if (error)
    throw std::runtime_error("Unable to open the log file " + utf8Path(path) + ": " +
                             errorText(error));
}

void LogFile::append(std::string_view line) {
  std::string record(line);
  record += kLogFileLineEnd;
  std::error_code error;
  file_.append(record, error);
  if (error)
    throw std::runtime_error("Unable to write the log file " + utf8Path(path_) + ": " +
                             errorText(error));
}

void LogFile::clear() {
  std::error_code error;
  file_.truncate(error);
  if (error)
    throw std::runtime_error("Unable to write the log file " + utf8Path(path_) + ": " +
                             errorText(error));
}

std::string displayLine(std::string_view line, bool terminal) {
  if (!terminal) return cp1252ToUtf8(line);
  // Legacy names are free text: an escape byte in one must not drive the operator's terminal.
  // 0x81, 0x8D, 0x8F, 0x90 and 0x9D become C1 controls in Unicode, which some terminals obey.
  std::string safe;
  safe.reserve(line.size());
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    const bool control = byte < 0x20 || byte == 0x7F || byte == 0x81 || byte == 0x8D ||
                         byte == 0x8F || byte == 0x90 || byte == 0x9D;
    safe += (control && byte != '\r') ? '?' : c;
  }
  std::string text = cp1252ToUtf8(safe);
  std::string shown;
  shown.reserve(text.size() + 8);
  for (const char c : text) {
    if (c == '\r') {
      shown += '\n';
      shown += kErrorIndent;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string progressText(const SectionStats& stats) {
  std::string text(sectionCaption(stats.id));
  text += "  " + std::to_string(stats.read) + "/" + std::to_string(stats.recordCount);
  if (stats.recordCount > 0)
    text += "  " + std::to_string(stats.read * 100 / stats.recordCount) + "%";
  const double elapsed = seconds(stats.elapsed);
  if (elapsed > 0.0 && stats.read > 0) {
    const double rate = static_cast<double>(stats.read) / elapsed;
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, "  %.0f/s", rate);
    text += rateText;
    const std::int64_t left = stats.recordCount - stats.read;
    if (left > 0) text += "  " + clockText(static_cast<double>(left) / rate) + " left";
  }
  return text;
}

void writeSummary(std::ostream& err, const RunSummary& summary, const RunReport& report) {
  char row[160];
  err << "Summary\n";
  if (!summary.sections.empty()) {
    std::snprintf(row, sizeof row, "  %-10s %10s %10s %10s %10s %10s %10s\n", "Section", "Read",
                  "Inserted", "Updated", "Skipped", "Failed", "Time");
    err << row;
  }
  for (const SectionStats& s : summary.sections) {
    const std::string caption(sectionCaption(s.id));
    std::snprintf(row, sizeof row, "  %-10s %10lld %10lld %10lld %10lld %10lld %10s\n",
                  caption.c_str(), static_cast<long long>(s.read),
                  static_cast<long long>(s.inserted), static_cast<long long>(s.updated),
                  static_cast<long long>(s.skipped), static_cast<long long>(s.failed),
                  secondsText(s.elapsed).c_str());
    err << row;
  }
  const std::string why = report.failure ? messageText(*report.failure) : std::string();
  if (summary.sections.empty() && !report.sectionsChosen) err << "  No section was chosen.\n";
  if (report.failure && summary.sections.empty() && report.sectionsChosen)
    err << "  The run ended before its first section: " << why << "\n";
  else if (report.failure)
    err << "  The run ended with an error; the sections after it did not run: " << why << "\n";
  else if (summary.stopped)
    err << "  Stopped: the run ended after the record in hand.\n";
  else if (summary.completed)
    err << "  The run reached its end.\n";
  if (report.dryRun && report.rollbackFailure)
    err << "  Dry run: the rollback failed (" << messageText(*report.rollbackFailure)
        << "); what the run wrote may have been kept in the store.\n";
  else if (report.dryRun)
    err << "  Dry run: every change was rolled back; nothing was kept in the store.\n";
  err << "  Total time " << secondsText(report.total) << "\n";
  err.flush();
}

int exitStatus(const RunSummary& summary, const RunReport& report) noexcept {
  if (report.failure || report.rollbackFailure) return kExitFailed;
  if (summary.stopped) return kExitInterrupted;
  for (const SectionStats& s : summary.sections)
    if (s.failed > 0) return kExitRecordsFailed;
  return kExitCompleted;
}

bool isConnectionLost(const DataError& error) noexcept {
  const auto* store = dynamic_cast<const StoreError*>(&error);
  return store != nullptr && store->sqlState.starts_with("08");
}

std::string storeLossText(const StoreLoss& loss) {
  const std::string_view line =
      std::string_view(loss.errorLine).substr(0, loss.errorLine.find('\r'));
  std::string text = "The store connection was lost during " +
                     std::string(sectionCaption(loss.section)) + ", at its record " +
                     std::to_string(loss.record) + " (" + cp1252ToUtf8(line) + "); ";
  text += loss.failedAfter == 1 ? std::string("1 record after it failed")
                                : std::to_string(loss.failedAfter) + " records after it failed";
  text +=
      " as well. Run the import again once the store is back: every record is found by its "
      "key, so the new run writes what this one could not and leaves the store as one run "
      "without the outage would have.";
  return text;
}

CliHost::CliHost(std::ostream& out, bool outIsTerminal, std::ostream& err, bool errIsTerminal,
                 LogFile* logFile, const volatile std::sig_atomic_t* interrupts)
    : out_(out),
      err_(err),
      outIsTerminal_(outIsTerminal),
      progress_(errIsTerminal),
      logFile_(logFile),
      interrupts_(interrupts) {}

void CliHost::clearLog() {
  // What was printed stays printed; the file follows the window's log.
  if (logFile_ != nullptr) logFile_->clear();
}

void CliHost::appendLogLine(std::string_view line) {
  if (logFile_ != nullptr) logFile_->append(line);
  // A closed standard output (the reader of a pipe gone) takes no more lines, and the run goes
  // on without printing them: the stream stays failed and writes to it do nothing.
  if (outputClosedAfter_) return;
  // Both on one terminal: the bar gives way to the line and comes back under it.
  const bool sharesTerminal = progress_ && outIsTerminal_;
  if (sharesTerminal) eraseProgress();
  out_ << displayLine(line, outIsTerminal_) << '\n';
  out_.flush();
  if (!out_) {
    outputClosedAfter_ = linesShown_;
    return;
  }
  ++linesShown_;
  if (sharesTerminal) drawProgress(false);
}

void CliHost::dataLinkMissing(const DataLinkNotice& notice) { warn(dataLinkNoticeText(notice)); }

void CliHost::warn(std::string_view text) {
  const bool barWasShown = barShown_;
  eraseProgress();
  err_ << "warning: " << messageText(text) << '\n';
  err_.flush();
  if (barWasShown) drawProgress(true);
}

void CliHost::setGaugeMaximum(int) { drawProgress(true); }

void CliHost::setGaugePosition(int) { drawProgress(false); }

void CliHost::processPendingEvents() {
  if (interrupts_ == nullptr) return;
  const std::sig_atomic_t count = *interrupts_;
  if (count != seenInterrupts_) {
    seenInterrupts_ = count;
    if (core_ != nullptr) core_->BitBtn2Click();
  }
}

void CliHost::drawProgress(bool force) {
  if (!progress_ || core_ == nullptr) return;
  const SectionStats* stats = core_->currentSection();
  if (stats == nullptr) return;
  const auto now = Steady::now();
  if (force || barText_.empty() || now - lastDraw_ >= kRedrawInterval) {
    barText_ = progressText(*stats);
    lastDraw_ = now;
  } else if (barShown_) {
    return;  // nothing new to show yet
  }
  err_ << kEraseLine << barText_;
  err_.flush();
  barShown_ = true;
}

void CliHost::eraseProgress() {
  if (!barShown_) return;
  err_ << kEraseLine;
  err_.flush();
  barShown_ = false;
}

void CliHost::finishProgress() { eraseProgress(); }

}  // namespace importacao
