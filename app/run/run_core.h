// The import run without a window: the steps of "Importar" (BitBtn1Click), "Parar"
// (BitBtn2Click), the one logging operation AddLogLine, the gauge and the section frame that
// walks a legacy table record by record.
//
// A run, in this order:
//   1. save the settings from the controls;
//   2. reconnect the legacy database: disconnect, set PATH from the folder, connect;
//   3. reconnect the store: disconnect, connect (TendaroBeforeConnect runs first);
//   4. clear StopRequested;
//   5. "Produtos" ticked: clear the log, log "Lendo Tabela de Produtos", walk tProduto;
//   6. StopRequested now: the run ends here, nothing more is logged;
//   7. "Clientes" ticked: walk tClientes;
//   8. "Fornecedor" ticked: walk tFornecedor (no stop test before it);
//   9. log "Processo concluido".
// Each check box is read when its step is reached. An error outside a record's capture leaves
// BitBtn1Click at once; the caller shows it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run/connections.h"
#include "app/run/gauge.h"
#include "app/run/run_host.h"
#include "app/run/settings.h"
#include "import/section.h"

namespace importacao {

inline constexpr std::string_view kLineReadingProducts = "Lendo Tabela de Produtos";
inline constexpr std::string_view kLineRunFinished = "Processo concluido";

// The caption of a section's check box: "Produtos", "Clientes", "Fornecedor".
std::string_view sectionCaption(SectionId section);

// One section of the run: its check box, the legacy table the frame walks and the section's work.
struct SectionSlot {
  SectionId id = SectionId::Products;
  FrameTable* table = nullptr;  // never null in a run
  Section* section = nullptr;   // never null in a run
};

// Optional notifications around the run, for the headless runner: its rehearsal (--dry-run: one
// transaction, a savepoint per record, rolled back at the end) and the warnings of the legacy
// tables it opens. Every default does nothing. Errors raised here end the run.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void storeConnected() {}  // after step 3
  virtual void recordStarting() {}  // just before a record's capture opens
  virtual void recordFinished(bool failed) { (void)failed; }  // after the capture closed
  // A record's work failed: `errorLine` is the line about to be logged for it.
  virtual void recordFailed(const DataError& error, std::string_view errorLine) {
    (void)error;
    (void)errorLine;
  }
  // A section has just opened its legacy table (before its first record): the headless runner
  // prints what was odd about the file (FrameTable::warnings()) on its standard error.
  virtual void legacyTableOpened(const FrameTable& table) { (void)table; }
};

// Everything a run works on. The core keeps references and pointers only: the owner (the window,
// the headless runner, a test) keeps every object alive as long as the core. Each section was
// built with its own legacy table and store objects; the frame walks the same table through its
// slot.
struct RunParts {
  SettingsWriter& settings;
  LegacyDbControl& ConDb;
  StoreConnectionControl& Tendaro;
  std::array<SectionSlot, 3> sections;  // run order: products, customers, suppliers
  RunObserver* observer = nullptr;      // null: no notifications
};

// What one walk of a section did; the headless runner's progress and summary read it.
struct SectionStats {
  SectionId id = SectionId::Products;
  std::int64_t recordCount = 0;  // the table's count as the gauge's maximum got it
  std::int64_t read = 0;         // records visited
  std::int64_t inserted = 0;
  std::int64_t updated = 0;
  std::int64_t skipped = 0;
  std::int64_t failed = 0;  // records whose work raised and got an error line
  std::chrono::steady_clock::duration elapsed{};
  bool finished = false;  // the walk reached its end or a stop (not left by an error)
};

// How the last run went.
struct RunSummary {
  std::vector<SectionStats> sections;  // the sections walked, in order; the last may be running
  bool completed = false;              // "Processo concluido" was logged
  bool stopped = false;                // ended by StopRequested (products) or walked past a stop
};

class RunCore final : public RunLog {
 public:
  // Installs TendaroBeforeConnect as the store connection's before-connect handler. `host` and
  // every object of `parts` must outlive the core.
  RunCore(RunHost& host, RunParts parts);
  RunCore(const RunCore&) = delete;
  RunCore& operator=(const RunCore&) = delete;

  // The legacy code page override handed to ConDb at step 2 (runner option, else the settings
  // key PaginaCodigoDBF; nullopt: each table's own).
  void setLegacyCodePage(std::optional<int> codePage) {
    legacyCodePageSource_ = [codePage] { return codePage; };
  }
  // Or where step 2 asks for it, anew at each run once the settings are saved (the window reads
  // the settings key, so an edit of the file counts at the next run). What it throws ends the
  // run with the settings saved and ConDb not yet touched. Takes the place of setLegacyCodePage.
  void setLegacyCodePageSource(std::function<std::optional<int>()> source) {
    legacyCodePageSource_ = std::move(source);
  }

  // "Importar": the whole run. Returns when it is done or stopped; throws the error that ended
  // it otherwise (DataError or anything else raised outside a record's capture). A call made
  // while a run is going on (from an event processed inside AddLogLine) returns at once and does
  // nothing.
  void BitBtn1Click(const RunControls& controls);

  // "Parar": sets StopRequested. Nothing else; safe at any time.
  void BitBtn2Click() noexcept { StopRequested = true; }

  // Appends `line` to the log through the host, then lets the host process pending events.
  void AddLogLine(std::string_view line) override;

  // The connection's before-connect handler: uses the file-name box's text saved at step 1.
  // When that names a file that does not exist, the host hears of it (RunHost::dataLinkMissing)
  // before the connection opens; when the data-link file the connection would use instead is
  // missing too, throws DataError naming both (dataLinkMissingTooText), which ends the run.
  void TendaroBeforeConnect();

  // True from "Parar" until step 4 of the next run.
  bool StopRequested = false;

  bool running() const noexcept { return running_; }
  const GaugeModel& gauge() const noexcept { return gauge_; }
  const RunSummary& summary() const noexcept { return summary_; }
  // The section being walked, or null between sections.
  const SectionStats* currentSection() const noexcept;

 private:
  void runSection(const SectionSlot& slot);
  void setGaugeMaximum(std::int64_t maximum);
  void setGaugePosition(std::int64_t position);

  RunHost& host_;
  RunParts parts_;
  GaugeModel gauge_;
  RunSummary summary_;
  SettingsValues current_;         // the controls' texts as step 1 saved them
  std::string builtInConnection_;  // the store connection's string before any run set one
  std::function<std::optional<int>()> legacyCodePageSource_ = [] { return std::optional<int>(); };
  bool running_ = false;
  bool walking_ = false;
};

}  // namespace importacao
