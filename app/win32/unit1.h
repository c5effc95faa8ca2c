// The main window on Windows: the same window as the Qt one (the layout of app/run/
// window_layout.h), drawn with the system's common controls. A thin host of the run core like the
// Qt window: it hands the core the controls' texts and shows what the core reports.
//
// The log is an owner-data list view over a LogStore: the list holds no text of its own, so a run
// of half a million lines stays responsive. processPendingEvents (inside AddLogLine) pumps the
// message queue, which is where a click on "Parar" is seen.
#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/run/gauge.h"
#include "app/run/log_store.h"
#include "app/run/run_core.h"
#include "app/run/run_host.h"
#include "app/run/settings.h"
#include "app/run/window_layout.h"

namespace importacao {

class TForm1 final : private RunHost, private RunControls {
 public:
  // `parts` makes the run's parts once the settings writer exists (the real objects or fakes).
  using PartsMaker = std::function<RunParts(SettingsWriter&)>;

  // Creates the window, hidden, and runs FormCreate: the log is cleared and the settings are
  // loaded from `settingsPath` into the configuration page.
  TForm1(HINSTANCE instance, PartsMaker parts, std::filesystem::path settingsPath);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND handle() const noexcept { return form_; }
  void show(int how);
  // Handles the dialog keys (Tab, Enter, Esc, Alt+letter) of a message meant for the window.
  bool dialogMessage(MSG& message);
  // A control of the layout, by its name there ("BitBtn1", "Memo1"); null for another name.
  HWND control(std::string_view name) const;

 private:
  static LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK pageProc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK gaugeProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT handle(UINT message, WPARAM w, LPARAM l);
  LRESULT command(HWND control, int code);
  LRESULT notify(const NMHDR& header);

  void createControls();
  HWND create(const wchar_t* windowClass, const layout::Control& spec, DWORD style,
              DWORD exStyle = 0);
  void placeAll();  // every control at its layout position, scaled to the window's DPI
  void showPage(int page);
  void FormCreate();
  void BitBtn1Click();
  void browse();
  bool flushLog(bool force);  // true when the list was told of new rows
  void copySelectedLog();
  void logMenu(int x, int y);  // the log's context menu, at screen point x, y
  void saveLog();              // "Salvar log..."
  void nextError();            // "Próximo erro" (F3)
  void paintGauge(HDC dc, const RECT& area);
  void repaintGaugeIfChanged();

  // RunHost
  void clearLog() override;
  void appendLogLine(std::string_view line) override;
  void dataLinkMissing(const DataLinkNotice& notice) override;
  void setGaugeMaximum(int maximum) override;
  void setGaugePosition(int position) override;
  void processPendingEvents() override;
  // RunControls
  SettingsValues settingsFromControls() const override;
  bool sectionTicked(SectionId section) const override;

  HINSTANCE instance_;
  ProfileFile settingsFile_;
  ProfileSettingsWriter settingsWriter_;
  std::unique_ptr<RunCore> core_;
  LogStore log_;
  GaugeModel gauge_;
  std::pair<int, int> gaugeShown_{-1, -1};  // the percentage and filled width last painted
  std::size_t shownRows_ = 0;               // rows the list view was last told of
  ULONGLONG lastLogFlush_ = 0;              // when it was told, in milliseconds
  ULONGLONG logFlushGap_ = 50;              // the least time to the next telling
  bool closeAfterRun_ = false;
  UINT dpi_ = 96;
  HFONT font_ = nullptr;

  std::vector<std::pair<std::string_view, HWND>> named_;  // the layout's controls, by name
  HWND form_ = nullptr;
  HWND BitBtn1 = nullptr, BitBtn2 = nullptr, PageControl1 = nullptr;
  HWND TabSheet1 = nullptr, TabSheet2 = nullptr;
  HWND CheckBox1 = nullptr, CheckBox2 = nullptr, CheckBox3 = nullptr;
  HWND GroupBox1 = nullptr, Gauge1 = nullptr, Memo1 = nullptr;
  HWND Label1 = nullptr, edtconexao = nullptr, Label2 = nullptr, edtConexatSql = nullptr;
  HWND browseButton_ = nullptr;
  HWND Label3 = nullptr, Label4 = nullptr, Label5 = nullptr, Label6 = nullptr, Label7 = nullptr;
  HWND Label8 = nullptr;
  HWND Edit1 = nullptr, Edit2 = nullptr, Edit3 = nullptr, Edit4 = nullptr, Edit5 = nullptr;
  HWND Edit6 = nullptr;
};

}  // namespace importacao
