#include "app/cli/cli.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <iostream>
#include <memory>

#include "app/cli/check_store.h"
#include "app/cli/cli_host.h"
#include "app/run/import_objects.h"
#include "app/run/run_core.h"
#include "app/run/settings.h"
#include "app/run/utf8.h"
#include "data/dbf/dbf_dump.h"
#include "data/errors.h"
#include "normalise/ascii.h"
#include "platform/console.h"
#include "platform/path.h"

namespace importacao {
namespace {

volatile std::sig_atomic_t gInterrupts = 0;

// The first interrupt (Ctrl+C; on Windows Ctrl+Break too) is "Parar", seen at the next log line;
// the second ends the program at once (the log file holds every line written so far; the store
// keeps what it committed).
void onInterrupt() {
  if (gInterrupts > 0) {
    writeErrorNow("\n");
    exitNow(kExitInterrupted);
  }
  gInterrupts = gInterrupts + 1;
}

// A file option's check: the file must exist. The name is UTF-8 (a Windows path is UTF-16, so it
// is looked at through pathFromUtf8, not as a narrow string).
CLI::Validator existing(bool folder) {
  return CLI::Validator(
      [folder](std::string& name) -> std::string {
        std::error_code error;
        const std::filesystem::path path = pathFromUtf8(name);
        const bool found = folder ? std::filesystem::is_directory(path, error)
                                  : std::filesystem::is_regular_file(path, error);
        if (found) return {};
        if (!std::filesystem::exists(path, error))
          return (folder ? "Directory does not exist: " : "File does not exist: ") + name;
        return (folder ? "Directory is actually a file: " : "File is actually a directory: ") +
               name;
      },
      folder ? "DIR" : "FILE");
}

// The log file is created or emptied, so it must never be a file the run reads: a dBASE
// table (any, wherever it lies: a mistyped option must not empty a legacy table), the settings
// file or the data-link file (`dataLink` is the settings' text for it). Returns why it is
// refused, or nothing.
std::optional<std::string> logTargetRefusal(const std::filesystem::path& log,
                                            const std::filesystem::path& settings,
                                            const std::string& dataLink) {
  if (lowerAscii(utf8Path(log.extension())) == ".dbf") return "it names a dBASE table";
  auto same = [&](const std::filesystem::path& other) {
    std::error_code ignored;
    return !other.empty() && std::filesystem::equivalent(log, other, ignored);
  };
  if (same(settings)) return "it is the settings file";
  if (same(pathFromUtf8(dataLinkFileName(dataLink)))) return "it is the data-link file";
  return std::nullopt;
}

class CliControls final : public RunControls {
 public:
  CliControls(SettingsValues settings, const CliOptions& options)
      : settings_(std::move(settings)),
        ticked_{options.products, options.customers, options.suppliers} {}
  SettingsValues settingsFromControls() const override { return settings_; }
  bool sectionTicked(SectionId section) const override {
    return ticked_[static_cast<int>(section)];
  }

 private:
  SettingsValues settings_;
  bool ticked_[3];
};

// What the runner does around the run: prints the warnings of each legacy table a section opens,
// for a dry run opens the rehearsal's transaction once the store is connected, and notes where
// the store connection was lost, if it was.
class CliObserver final : public RunObserver {
 public:
  CliObserver(ImportObjects& objects, CliHost& host, bool rehearse)
      : objects_(objects), host_(host), rehearse_(rehearse) {}
  void attach(const RunCore& core) { core_ = &core; }

  void storeConnected() override {
    if (rehearse_) objects_.beginRehearsal();
  }
  void legacyTableOpened(const FrameTable& table) override {
    for (const std::string& warning : table.warnings()) host_.warn(warning);
  }
  void recordFailed(const DataError& error, std::string_view errorLine) override {
    if (storeLoss_) {
      ++storeLoss_->failedAfter;
      return;
    }
    const SectionStats* section = core_ != nullptr ? core_->currentSection() : nullptr;
    if (section == nullptr || !isConnectionLost(error)) return;
    storeLoss_ = StoreLoss{section->id, section->read, std::string(errorLine), 0};
  }
  const std::optional<StoreLoss>& storeLoss() const noexcept { return storeLoss_; }

 private:
  ImportObjects& objects_;
  CliHost& host_;
  bool rehearse_;
  const RunCore* core_ = nullptr;
  std::optional<StoreLoss> storeLoss_;
};

}  // namespace

std::variant<CliOptions, int> parseCliOptions(int argc, const char* const* argv, std::ostream& out,
                                              std::ostream& err) {
  CliOptions options;
  options.settings = defaultSettingsPath();
  std::string settings, logFile;
  CLI::App app{
      "Imports the legacy dBASE tables into the store, as the window's \"Importar\" does.\n"
      "The settings come from Importacao.ini (never written by this program).",
      "importacao-cli"};
  app.get_formatter()->column_width(28);
  app.footer(
      "Exit status:\n"
      "  0    the run reached its end and every record read was written\n"
      "  1    an error outside a record ended the run, or a dry run's rollback failed\n"
      "  2    the command line is wrong\n"
      "  3    the run reached its end, but records failed (their error lines say why; a\n"
      "       lost store connection is also told on standard error)\n"
      "  130  an interrupt (Ctrl-C) stopped the run after the record in hand");
  auto* settingsOption =
      app.add_option("--settings", settings,
                     "settings file to read (default " + utf8Path(options.settings) + ")")
          ->check(existing(false))
          ->option_text("FILE");
  auto* folderOption = app.add_option("--dbf-folder", options.dbfFolder,
                                      "folder of the legacy tables, instead of ConexaoDBF")
                           ->check(existing(true))
                           ->option_text("DIR");
  auto* linkOption = app.add_option("--data-link", options.dataLink,
                                    "data-link file of the store, instead of ConexaoSQL")
                         ->check(existing(false))
                         ->option_text("FILE");
  auto* productsFlag = app.add_flag("--products", options.products, "import products (Produtos)");
  auto* customersFlag =
      app.add_flag("--customers", options.customers, "import customers (Clientes)");
  auto* suppliersFlag =
      app.add_flag("--suppliers", options.suppliers, "import suppliers (Fornecedor)");
  auto* logOption =
      app.add_option("--log", logFile,
                     "also write the log to FILE as the window holds it (code "
                     "page 1252, CR LF); never a .dbf table, the settings or the data-link file")
          ->option_text("FILE");
  auto* dryFlag = app.add_flag("--dry-run", options.dryRun,
                               "rehearse: run everything in one transaction and roll it back");
  app.add_option("--dbf-code-page", options.dbfCodePage,
                 "code page of the legacy tables, over what they say")
      ->check(CLI::IsMember({437, 850, 852, 866, 1250, 1251, 1252}))
      ->option_text("N");
  auto* dumpOption = app.add_option("--dump-dbf", options.dumpDbf,
                                    "print a legacy table as JSON lines and import nothing")
                         ->option_text("FILE");
  auto* checkFlag =
      app.add_flag("--check-store", options.checkStore,
                   "check that the store can take an import (tables, columns, keys, the stock "
                   "procedure, municipalities), write nothing and import nothing");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    app.exit(e, out, err);
    return kExitCompleted;
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    return kExitUsage;
  }
  if (dumpOption->count() > 0) {
    for (const CLI::Option* runOption : {settingsOption, folderOption, linkOption, productsFlag,
                                         customersFlag, suppliersFlag, logOption, dryFlag}) {
      if (runOption->count() > 0) {
        err << "--dump-dbf prints a table and imports nothing; it takes only --dbf-code-page, "
               "not "
            << runOption->get_name() << "\n";
        return kExitUsage;
      }
    }
  }
  if (checkFlag->count() > 0) {
    for (const CLI::Option* runOption :
         {folderOption, productsFlag, customersFlag, suppliersFlag, logOption, dryFlag, dumpOption,
          app.get_option("--dbf-code-page")}) {
      if (runOption->count() > 0) {
        err << "--check-store checks the store and imports nothing; it takes only --settings and "
               "--data-link, not "
            << runOption->get_name() << "\n";
        return kExitUsage;
      }
    }
  }
  if (!settings.empty()) options.settings = pathFromUtf8(settings);
  if (!logFile.empty()) options.logFile = pathFromUtf8(logFile);
  return options;
}

int runCli(int argc, const char* const* argv) {
  auto parsed = parseCliOptions(argc, argv, std::cout, std::cerr);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const CliOptions& options = std::get<CliOptions>(parsed);

  if (options.dumpDbf) return dumpDbf(*options.dumpDbf, options.dbfCodePage, std::cout, std::cerr);
  if (options.checkStore)
    return runStoreCheck(options.settings, options.dataLink, std::cout, std::cerr);

  const auto started = std::chrono::steady_clock::now();
  const bool outIsTerminal = isTerminal(StandardStream::Output);
  const bool errIsTerminal = isTerminal(StandardStream::Error);

  std::optional<LogFile> logFile;
  std::optional<int> codePage;
  SettingsValues settings;
  try {
    const ProfileFile file(options.settings);
    settings = loadSettings(file);
    codePage = options.dbfCodePage ? options.dbfCodePage : legacyCodePageOverride(file);
    if (options.dbfFolder) settings.ConexaoDBF = *options.dbfFolder;
    if (options.dataLink) settings.ConexaoSQL = *options.dataLink;
    if (options.logFile) {
      if (const auto refusal =
              logTargetRefusal(*options.logFile, options.settings, settings.ConexaoSQL)) {
        std::cerr << "--log " << utf8Path(*options.logFile)
                  << ": the log is never written there: " << *refusal << '\n';
        return kExitUsage;
      }
      logFile.emplace(*options.logFile);
    }
  } catch (const std::exception& error) {
    std::cerr << messageText(error.what()) << '\n';
    return kExitFailed;
  }

  installInterruptHandler(onInterrupt);
  // Output nobody reads any more (`importacao-cli ... | head`) must not end the import: writes to
  // a closed pipe fail instead of killing the program, and the run goes on to its end.
  ignoreClosedPipes();
  std::unique_ptr<ImportObjects> owned;
  try {
    owned = std::make_unique<ImportObjects>(builtInConnectionString(options.settings));
  } catch (const std::exception& error) {
    std::cerr << messageText(error.what()) << '\n';
    return kExitFailed;
  }
  ImportObjects& objects = *owned;
  NoSettingsWriter noWriter;  // the runner never writes the settings file
  CliHost host(std::cout, outIsTerminal, std::cerr, errIsTerminal, logFile ? &*logFile : nullptr,
               &gInterrupts);
  CliObserver observer(objects, host, options.dryRun);
  RunCore core(host, objects.runParts(noWriter, &observer));
  host.attach(core);
  observer.attach(core);
  core.setLegacyCodePage(codePage);

  RunReport report;
  report.sectionsChosen = options.products || options.customers || options.suppliers;
  report.dryRun = options.dryRun;
  try {
    core.BitBtn1Click(CliControls(settings, options));
  } catch (const std::exception& error) {
    report.failure = error.what();
  }
  if (options.dryRun) {
    std::string rollbackError = objects.endRehearsal();
    if (!rollbackError.empty()) report.rollbackFailure = std::move(rollbackError);
  }

  host.finishProgress();
  report.total = std::chrono::steady_clock::now() - started;
  writeSummary(std::cerr, core.summary(), report);
  if (const auto& loss = observer.storeLoss()) std::cerr << storeLossText(*loss) << '\n';
  if (const auto closed = host.outputClosedAfter())
    std::cerr << "Standard output was closed after line " << *closed
              << " of the log; the run went on to its end without printing the rest"
              << (logFile ? " (the log file holds every line).\n" : ".\n");
  if (report.failure) std::cerr << messageText(*report.failure) << '\n';
  if (report.rollbackFailure)
    std::cerr << "The dry run's rollback failed: " << messageText(*report.rollbackFailure) << '\n';
  return exitStatus(core.summary(), report);
}

}  // namespace importacao
