#include "app/run/run_core.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "data/errors.h"

namespace importacao {
namespace {

// Sets a flag for the lifetime of a scope, and clears it however the scope is left.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

std::string_view sectionCaption(SectionId section) {
  switch (section) {
    case SectionId::Products: return "Produtos";
    case SectionId::Customers: return "Clientes";
    case SectionId::Suppliers: return "Fornecedor";
  }
  return "";
}

RunCore::RunCore(RunHost& host, RunParts parts) : host_(host), parts_(std::move(parts)) {
  builtInConnection_ = parts_.Tendaro.connectionString();
  parts_.Tendaro.setBeforeConnect([this] { TendaroBeforeConnect(); });
}

void RunCore::TendaroBeforeConnect() {
  if (::importacao::TendaroBeforeConnect(parts_.Tendaro, current_.ConexaoSQL)) return;
  DataLinkNotice notice;
  notice.typed = current_.ConexaoSQL;
  notice.named = dataLinkFileName(current_.ConexaoSQL);
  if (notice.named.empty()) return;  // no file named: the connection's own string, as ever
  const std::string connection = parts_.Tendaro.connectionString();
  const std::filesystem::path instead = dataLinkFileOf(connection);
  notice.builtIn = connection == builtInConnection_;
  std::error_code error;
  // Shown as a whole path: a relative one means the working folder, which the operator may not
  // have in mind.
  const std::filesystem::path shown =
      instead.empty() ? instead : std::filesystem::absolute(instead, error);
  notice.instead = (error ? instead : shown).string();
  if (!instead.empty() && !std::filesystem::is_regular_file(instead, error))
    throw DataError(dataLinkMissingTooText(notice));
  host_.dataLinkMissing(notice);
}

void RunCore::AddLogLine(std::string_view line) {
  host_.appendLogLine(line);
  host_.processPendingEvents();
}

const SectionStats* RunCore::currentSection() const noexcept {
  return walking_ && !summary_.sections.empty() ? &summary_.sections.back() : nullptr;
}

void RunCore::setGaugeMaximum(std::int64_t maximum) {
  gauge_.setMaximum(maximum);
  host_.setGaugeMaximum(gauge_.maximum());
  host_.setGaugePosition(gauge_.position());
}

void RunCore::setGaugePosition(std::int64_t position) {
  gauge_.setPosition(position);
  host_.setGaugePosition(gauge_.position());
}

void RunCore::BitBtn1Click(const RunControls& controls) {
  // AddLogLine lets the host process events, and a click on "Importar" may be among them:
  // a run never starts inside another one.
  if (running_) return;
  FlagScope running(running_);
  summary_ = RunSummary{};

  current_ = controls.settingsFromControls();
  parts_.settings.save(current_);

  const std::optional<int> codePage = legacyCodePageSource_();
  parts_.ConDb.disconnect();
  parts_.ConDb.setPath(current_.ConexaoDBF);
  parts_.ConDb.setCodePageOverride(codePage);
  parts_.ConDb.connect();

  parts_.Tendaro.disconnect();
  parts_.Tendaro.connect();
  if (parts_.observer != nullptr) parts_.observer->storeConnected();

  StopRequested = false;

  if (controls.sectionTicked(SectionId::Products)) {
    host_.clearLog();
    AddLogLine(kLineReadingProducts);
    runSection(parts_.sections[0]);
  }
  // A stop during products ends the whole run; a stop during customers does not (see below).
  if (StopRequested) {
    summary_.stopped = true;
    return;
  }
  if (controls.sectionTicked(SectionId::Customers)) runSection(parts_.sections[1]);
  // No stop test here: after a stop during customers, a ticked suppliers section still rewinds
  // its table and resets the gauge, and ends at its first loop test.
  if (controls.sectionTicked(SectionId::Suppliers)) runSection(parts_.sections[2]);
  summary_.stopped = StopRequested;
  AddLogLine(kLineRunFinished);
  summary_.completed = true;
}

void RunCore::runSection(const SectionSlot& slot) {
  FrameTable& table = *slot.table;
  Section& section = *slot.section;
  summary_.sections.push_back(SectionStats{});
  const std::size_t index = summary_.sections.size() - 1;
  summary_.sections[index].id = slot.id;
  FlagScope walking(walking_);
  const auto started = std::chrono::steady_clock::now();
  auto stats = [&]() -> SectionStats& { return summary_.sections[index]; };

  table.close();
  table.open();
  if (parts_.observer != nullptr) parts_.observer->legacyTableOpened(table);
  table.first();

  setGaugePosition(0);
  const std::int64_t count = table.recordCount();
  stats().recordCount = count;
  setGaugeMaximum(count);

  // End of data is tested first, then the stop flag: a stop is acted on only between records.
  while (!table.eof() && !StopRequested) {
    ++stats().read;
    section.beforeRecord(*this);

    if (parts_.observer != nullptr) parts_.observer->recordStarting();
    std::string errorLine;
    bool failed = false;
    try {
      switch (section.importRecord(*this)) {
        case RecordOutcome::Inserted: ++stats().inserted; break;
        case RecordOutcome::Updated: ++stats().updated; break;
        case RecordOutcome::Skipped: ++stats().skipped; break;
      }
    } catch (const DataError& error) {
      failed = true;
      ++stats().failed;
      errorLine = section.errorLine(error);
      if (parts_.observer != nullptr) parts_.observer->recordFailed(error, errorLine);
    }
    if (parts_.observer != nullptr) parts_.observer->recordFinished(failed);
    if (failed) AddLogLine(errorLine);

    table.next();
    // The records done so far, not the table's record number: that counts deleted records
    // too, which the maximum (the record count) does not, and would fill the bar early.
    setGaugePosition(stats().read);
    stats().elapsed = std::chrono::steady_clock::now() - started;
  }
  stats().elapsed = std::chrono::steady_clock::now() - started;
  stats().finished = true;
}

}  // namespace importacao
