// The main window: the run page with its gauge, log and section switches, the settings page,
// and the two buttons that start and stop a run.
//
// The window is thin. The run itself lives in RunCore, which knows nothing of Qt: the window
// hands it the controls' texts when it asks for them and shows what it reports (log lines, the
// gauge). AddLogLine is the one place where the window processes events during a run.
#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/run/run_core.h"
#include "app/run/run_host.h"
#include "app/run/settings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace importacao {

class FileNameEdit;
class GaugeWidget;
class LogView;

// The objects a run works on, owned for the window's lifetime: ConDb, Tendaro, the legacy tables,
// the store objects and the three sections. The program uses the real ones; tests use fakes.
class RunBackend {
 public:
  virtual ~RunBackend() = default;
  // The run's parts; step 1 saves through `settings`. Every reference in them stays valid as
  // long as the backend. Called once, when the window is created.
  virtual RunParts parts(SettingsWriter& settings) = 0;
};

class TForm1 : public QWidget, private RunHost, private RunControls {
  Q_OBJECT

 public:
  // Shows an error that left a handler: the default puts up a modal error box. Tests put a
  // recorder in its place. A notice box (the default: a modal warning box) tells the operator
  // something the run goes on after, such as a data-link file that does not exist.
  using ErrorBox = std::function<void(QWidget* parent, const QString& title, const QString& text)>;

  // Creates the window and runs FormCreate: the log is cleared and the settings are loaded from
  // `settingsPath` into the configuration page.
  TForm1(std::unique_ptr<RunBackend> backend, std::filesystem::path settingsPath,
         QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The message as the error box shows it: a full stop is added when the last character sorts
  // after the full stop ("No such file" gets one; "Done." and "Failed)" do not).
  static QString withFullStop(const QString& message);
  // An error's what() as text: UTF-8 when it is valid UTF-8, else code page 1252 (store and
  // legacy texts are 1252; paths and settings are UTF-8).
  static QString errorText(std::string_view what);

  void setErrorBox(ErrorBox box) { errorBox_ = std::move(box); }
  void setNoticeBox(ErrorBox box) { noticeBox_ = std::move(box); }

  const RunCore& core() const noexcept { return *core_; }
  bool StopRequested() const noexcept { return core_->StopRequested; }

  // Controls, named as the window's layout names them.
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QGroupBox* GroupBox1;
  GaugeWidget* Gauge1;
  LogView* Memo1;
  QCheckBox* CheckBox1;
  QCheckBox* CheckBox2;
  QCheckBox* CheckBox3;
  QLabel* Label1;  // "Caminho DBF"
  QLineEdit* edtconexao;
  QLabel* Label2;  // "Banco SQL"
  FileNameEdit* edtConexatSql;
  QLabel* Label3;  // "Duplicata"
  QLabel* Label4;  // "Cheque"
  QLabel* Label5;  // "Avista"
  QLabel* Label6;  // "Cartão"
  QLabel* Label7;  // "Dep.Banc"
  QLabel* Label8;  // "Vendedor"
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  QLineEdit* Edit5;
  QLineEdit* Edit6;

 public slots:
  // "Importar": the whole run, in the window's thread. A click while a run is going on (seen
  // inside AddLogLine) returns at once; the button stays enabled. An error that ends the run
  // shows in the error box.
  void BitBtn1Click();
  // "Parar": sets StopRequested; the run stops after the record in hand.
  void BitBtn2Click();

 protected:
  // Closing the window during a run acts as "Parar", and the window stays until the run has
  // ended (the record in hand finishes in it); then it closes.
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  // Enter presses "Importar" (or the button that has the focus); Esc presses "Parar" during a
  // run.
  void addKeys();
  // The window's font: the faces it is laid out for, else one that fits (fitsTheLayout).
  void chooseFont();
  // Whether every caption with a fixed space fits it: each check box's beside its box, and each
  // label of the settings page that stands before an edit box, clear of that box.
  bool fitsTheLayout() const;
  void FormCreate();
  // The edit box of the settings page named `name` in the layout (the file-name box's own edit).
  QLineEdit* settingBox(std::string_view name) const;
  void showError(const QString& message);

  // RunHost
  void clearLog() override;
  void appendLogLine(std::string_view line) override;
  void setGaugeMaximum(int maximum) override;
  void setGaugePosition(int position) override;
  void processPendingEvents() override;
  void dataLinkMissing(const DataLinkNotice& notice) override;
  // RunControls
  SettingsValues settingsFromControls() const override;
  bool sectionTicked(SectionId section) const override;

  std::unique_ptr<RunBackend> backend_;
  ProfileFile settingsFile_;
  ProfileSettingsWriter settingsWriter_;
  std::unique_ptr<RunCore> core_;
  ErrorBox errorBox_;
  ErrorBox noticeBox_;
  bool closeAfterRun_ = false;  // the window was closed during the run
};

}  // namespace importacao
