// What drives a run and what shows it: the window implements these, and so does the headless
// runner. Neither interface knows Qt.
#pragma once

#include <string_view>

#include "app/run/connections.h"
#include "app/run/settings.h"

namespace importacao {

enum class SectionId { Products, Customers, Suppliers };

// Where a run shows itself: the log box, the gauge, and the event loop.
class RunHost {
 public:
  virtual ~RunHost() = default;

  // Removes every line of the log.
  virtual void clearLog() = 0;

  // Appends one line at the end of the log: code page 1252 bytes, no line terminator; an error
  // line holds a lone carriage return (byte 13) between the record and the message. May throw
  // (the run then ends with that error).
  virtual void appendLogLine(std::string_view line) = 0;

  // The gauge's maximum and position after the run's gauge rules were applied (the values are
  // already within range: 0 <= position <= maximum).
  virtual void setGaugeMaximum(int maximum) = 0;
  virtual void setGaugePosition(int position) = 0;

  // Processes every pending event (repaints, a click on "Parar", typing). Called only from
  // AddLogLine, after the line was appended. A "Parar" seen here calls RunCore::BitBtn2Click.
  virtual void processPendingEvents() = 0;

  // Step 3 found that the data-link file named does not exist and connects with `notice.instead`.
  // Called before the store connection opens, so before any record is written; the host must
  // make it plain to the operator (the log's lines stay as they are). Does nothing by default.
  virtual void dataLinkMissing(const DataLinkNotice& notice) { (void)notice; }
};

// The controls a run reads, each when its step is reached.
class RunControls {
 public:
  virtual ~RunControls() = default;
  // The eight settings' current texts (step 1: saved, then used to reconnect).
  virtual SettingsValues settingsFromControls() const = 0;
  // CheckBox1 "Produtos", CheckBox2 "Clientes", CheckBox3 "Fornecedor": read when the section's
  // step is reached, not when the run starts.
  virtual bool sectionTicked(SectionId section) const = 0;
};

// Where step 1 of a run saves the settings. The window writes Importacao.ini; the headless
// runner never writes the settings file.
class SettingsWriter {
 public:
  virtual ~SettingsWriter() = default;
  // Throws DataError "Unable to write to Importacao.ini" when the write is refused.
  virtual void save(const SettingsValues& values) = 0;
};

// Saves to a private-profile file with saveSettings. Keeps a reference: `file` must outlive it.
class ProfileSettingsWriter final : public SettingsWriter {
 public:
  explicit ProfileSettingsWriter(ProfileFile& file) : file_(file) {}
  void save(const SettingsValues& values) override { saveSettings(file_, values); }

 private:
  ProfileFile& file_;
};

// Saves nothing (the headless runner).
class NoSettingsWriter final : public SettingsWriter {
 public:
  void save(const SettingsValues&) override {}
};

}  // namespace importacao
