#include "app/win32/unit1.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "app/run/window_common.h"
#include "normalise/codepage.h"
#include "platform/win32_text.h"

namespace importacao {
namespace {

constexpr wchar_t kFormClass[] = L"ImportacaoForm1";
constexpr wchar_t kPageClass[] = L"ImportacaoTabSheet";
constexpr wchar_t kGaugeClass[] = L"ImportacaoGauge";
constexpr wchar_t kErrorTitle[] = L"Importacao";
constexpr ULONGLONG kLogFlushMs = 50;    // how often a run's new lines reach the screen, at most
constexpr ULONGLONG kLogFlushShare = 5;  // ... and no sooner than 5 times what showing them took
constexpr int kBrowseWidth = 21;         // the browse button inside the file-name box's width

enum ControlId : int {
  kBitBtn1 = 101,
  kBitBtn2,
  kPageControl1,
  kCheckBox1,
  kCheckBox2,
  kCheckBox3,
  kMemo1,
  kEdtconexao,
  kEdtConexatSql,
  kBrowse,
  kEdit1,
  kEdit2,
  kEdit3,
  kEdit4,
  kEdit5,
  kEdit6,
  kGauge1,
  kGroupBox1,
  kLabel
};

std::wstring wide(std::string_view utf8) { return wideFromUtf8(utf8); }

// A row of the log as the list shows it: a continuation row (the message after an error line's
// carriage return) indented.
std::u16string rowText(const LogStore::Row& row) {
  std::u16string text = cp1252ToUtf16(row.bytes);
  if (row.continuation) text.insert(0, u"    ");
  return text;
}

std::string windowText(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return utf8FromWide(text);
}

void setWindowText(HWND control, std::string_view utf8) {
  SetWindowTextW(control, wide(utf8).c_str());
}

}  // namespace

TForm1::TForm1(HINSTANCE instance, PartsMaker parts, std::filesystem::path settingsPath)
    : instance_(instance), settingsFile_(std::move(settingsPath)), settingsWriter_(settingsFile_) {
  WNDCLASSEXW form{};
  form.cbSize = sizeof form;
  form.lpfnWndProc = formProc;
  form.hInstance = instance;
  form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  form.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  form.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  form.lpszClassName = kFormClass;
  RegisterClassExW(&form);
  WNDCLASSEXW page = form;
  page.lpfnWndProc = pageProc;
  page.hIcon = nullptr;
  page.lpszClassName = kPageClass;
  RegisterClassExW(&page);
  WNDCLASSEXW gauge = page;
  gauge.lpfnWndProc = gaugeProc;
  gauge.lpszClassName = kGaugeClass;
  RegisterClassExW(&gauge);

  // A single-line border that cannot be dragged, no maximize; the client area has one size.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  form_ = CreateWindowExW(WS_EX_CONTROLPARENT, kFormClass, wide(layout::kCaption).c_str(), style,
                          layout::kLeft, layout::kTop, 0, 0, nullptr, nullptr, instance, this);
  dpi_ = GetDpiForWindow(form_);
  if (dpi_ == 0) dpi_ = 96;
  createControls();
  placeAll();
  core_ = std::make_unique<RunCore>(static_cast<RunHost&>(*this), parts(settingsWriter_));
  // The legacy code page override is read anew by each run once it saved the settings.
  core_->setLegacyCodePageSource([this] { return legacyCodePageOverride(settingsFile_); });
  FormCreate();
}

TForm1::~TForm1() {
  if (form_ != nullptr) DestroyWindow(form_);
  if (font_ != nullptr) DeleteObject(font_);
}

void TForm1::show(int how) {
  ShowWindow(form_, how);
  UpdateWindow(form_);
  SetFocus(BitBtn1);
}

bool TForm1::dialogMessage(MSG& message) {
  if (form_ == nullptr) return false;
  // F3 is "Próximo erro" anywhere in the window.
  if (message.message == WM_KEYDOWN && message.wParam == VK_F3 && IsChild(form_, message.hwnd)) {
    nextError();
    return true;
  }
  return IsDialogMessageW(form_, &message);
}

HWND TForm1::create(const wchar_t* windowClass, const layout::Control& spec, DWORD style,
                    DWORD exStyle) {
  HWND parent = form_;
  // The gauge sits on the run page over its group box (a group box is no parent for controls).
  if (spec.parent == layout::Parent::RunPage || spec.parent == layout::Parent::GroupBox)
    parent = TabSheet1;
  if (spec.parent == layout::Parent::SettingsPage) parent = TabSheet2;
  HWND control = CreateWindowExW(exStyle, windowClass, wide(spec.caption).c_str(),
                                 WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent, nullptr,
                                 instance_, nullptr);
  named_.emplace_back(spec.name, control);
  return control;
}

HWND TForm1::control(std::string_view name) const {
  for (const auto& [controlName, control] : named_)
    if (controlName == name) return control;
  return nullptr;
}

void TForm1::createControls() {
  // Created in tab order: the buttons, the page control, the run page's controls, the settings
  // page's controls (a hidden page's controls take no tab stop).
  BitBtn1 = create(WC_BUTTONW, layout::BitBtn1, WS_TABSTOP | BS_PUSHBUTTON);
  BitBtn2 = create(WC_BUTTONW, layout::BitBtn2, WS_TABSTOP | BS_PUSHBUTTON);
  PageControl1 = create(WC_TABCONTROLW, layout::PageControl1, WS_TABSTOP | WS_CLIPSIBLINGS);
  for (const std::string_view caption : {layout::TabSheet1, layout::TabSheet2}) {
    std::wstring text = wide(caption);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    TabCtrl_InsertItem(PageControl1, TabCtrl_GetItemCount(PageControl1), &item);
  }
  TabSheet1 = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD, 0, 0, 0, 0, form_,
                              nullptr, instance_, this);
  TabSheet2 = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD, 0, 0, 0, 0, form_,
                              nullptr, instance_, this);

  CheckBox1 = create(WC_BUTTONW, layout::CheckBox1, WS_TABSTOP | BS_AUTOCHECKBOX);
  CheckBox2 = create(WC_BUTTONW, layout::CheckBox2, WS_TABSTOP | BS_AUTOCHECKBOX);
  CheckBox3 = create(WC_BUTTONW, layout::CheckBox3, WS_TABSTOP | BS_AUTOCHECKBOX);
  GroupBox1 = create(WC_BUTTONW, layout::GroupBox1, BS_GROUPBOX | WS_CLIPSIBLINGS);
  Gauge1 = create(kGaugeClass, layout::Gauge1, WS_CLIPSIBLINGS);
  SetWindowPos(Gauge1, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowLongPtrW(Gauge1, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  Memo1 = create(
      WC_LISTVIEWW, layout::Memo1,
      WS_TABSTOP | WS_VSCROLL | LVS_REPORT | LVS_OWNERDATA | LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS,
      WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(Memo1, LVS_EX_DOUBLEBUFFER | LVS_EX_FULLROWSELECT);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 4000;  // wide enough for the longest line; the list scrolls sideways
  ListView_InsertColumn(Memo1, 0, &column);

  Label1 = create(WC_STATICW, layout::Label1, SS_LEFT | SS_NOPREFIX);
  edtconexao = create(WC_EDITW, layout::edtconexao, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
  Label2 = create(WC_STATICW, layout::Label2, SS_LEFT | SS_NOPREFIX);
  edtConexatSql =
      create(WC_EDITW, layout::edtConexatSql, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
  browseButton_ =
      CreateWindowExW(0, WC_BUTTONW, L"...", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 0, 0,
                      TabSheet2, reinterpret_cast<HMENU>(kBrowse), instance_, nullptr);
  Label3 = create(WC_STATICW, layout::Label3, SS_LEFT | SS_NOPREFIX);
  Label4 = create(WC_STATICW, layout::Label4, SS_LEFT | SS_NOPREFIX);
  Label5 = create(WC_STATICW, layout::Label5, SS_LEFT | SS_NOPREFIX);
  Label6 = create(WC_STATICW, layout::Label6, SS_LEFT | SS_NOPREFIX);
  Label7 = create(WC_STATICW, layout::Label7, SS_LEFT | SS_NOPREFIX);
  Edit1 = create(WC_EDITW, layout::Edit1, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
  Edit2 = create(WC_EDITW, layout::Edit2, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
  Edit3 = create(WC_EDITW, layout::Edit3, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
  Edit4 = create(WC_EDITW, layout::Edit4, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
  Edit5 = create(WC_EDITW, layout::Edit5, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
  Label8 = create(WC_STATICW, layout::Label8, SS_LEFT | SS_NOPREFIX);
  Edit6 = create(WC_EDITW, layout::Edit6, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);

  const std::pair<HWND, int> ids[] = {
      {BitBtn1, kBitBtn1},     {BitBtn2, kBitBtn2},       {PageControl1, kPageControl1},
      {CheckBox1, kCheckBox1}, {CheckBox2, kCheckBox2},   {CheckBox3, kCheckBox3},
      {Memo1, kMemo1},         {edtconexao, kEdtconexao}, {edtConexatSql, kEdtConexatSql},
      {Edit1, kEdit1},         {Edit2, kEdit2},           {Edit3, kEdit3},
      {Edit4, kEdit4},         {Edit5, kEdit5},           {Edit6, kEdit6},
      {Gauge1, kGauge1},       {GroupBox1, kGroupBox1}};
  for (const auto& [control, id] : ids) SetWindowLongPtrW(control, GWLP_ID, id);
  showPage(0);
}

void TForm1::placeAll() {
  const auto scale = [this](int pixels) { return MulDiv(pixels, static_cast<int>(dpi_), 96); };
  // The window's font, MS Sans Serif 8 pt at the window's DPI (Wine and Windows substitute
  // their nearest face where it is missing).
  if (font_ != nullptr) DeleteObject(font_);
  font_ = CreateFontW(-MulDiv(layout::kFontPoints, static_cast<int>(dpi_), 72), 0, 0, 0, FW_NORMAL,
                      FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, wide(layout::kFontFamily).c_str());

  RECT frame{0, 0, scale(layout::kClientWidth), scale(layout::kClientHeight)};
  AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(form_, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(form_, GWL_EXSTYLE)), dpi_);
  SetWindowPos(form_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  const auto place = [&](HWND control, const layout::Control& spec, int dx = 0, int dy = 0) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    int width = scale(spec.width), height = scale(spec.height);
    if (spec.width == 0) {  // a label: as large as its caption
      HDC dc = GetDC(control);
      HGDIOBJ old = SelectObject(dc, font_);
      const std::wstring text = wide(spec.caption);
      SIZE size{};
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
      SelectObject(dc, old);
      ReleaseDC(control, dc);
      width = size.cx;
      height = size.cy;
    }
    SetWindowPos(control, nullptr, scale(spec.left + dx), scale(spec.top + dy), width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(BitBtn1, layout::BitBtn1);
  place(BitBtn2, layout::BitBtn2);
  place(PageControl1, layout::PageControl1);
  // The pages fill the page control's display area.
  RECT display{};
  GetWindowRect(PageControl1, &display);
  MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&display), 2);
  TabCtrl_AdjustRect(PageControl1, FALSE, &display);
  for (HWND page : {TabSheet1, TabSheet2})
    SetWindowPos(page, HWND_TOP, display.left, display.top, display.right - display.left,
                 display.bottom - display.top, SWP_NOACTIVATE);

  place(CheckBox1, layout::CheckBox1);
  place(CheckBox2, layout::CheckBox2);
  place(CheckBox3, layout::CheckBox3);
  place(GroupBox1, layout::GroupBox1);
  place(Gauge1, layout::Gauge1, layout::GroupBox1.left, layout::GroupBox1.top);
  place(Memo1, layout::Memo1);
  place(Label1, layout::Label1);
  place(edtconexao, layout::edtconexao);
  place(Label2, layout::Label2);
  // The file-name box: the edit box and its browse button share the box's width.
  layout::Control box = layout::edtConexatSql;
  box.width -= kBrowseWidth;
  place(edtConexatSql, box);
  layout::Control button{"",      "",           box.parent, box.left + box.width,
                         box.top, kBrowseWidth, box.height};
  place(browseButton_, button);
  place(Label3, layout::Label3);
  place(Label4, layout::Label4);
  place(Label5, layout::Label5);
  place(Label6, layout::Label6);
  place(Label7, layout::Label7);
  place(Edit1, layout::Edit1);
  place(Edit2, layout::Edit2);
  place(Edit3, layout::Edit3);
  place(Edit4, layout::Edit4);
  place(Edit5, layout::Edit5);
  place(Label8, layout::Label8);
  place(Edit6, layout::Edit6);
  InvalidateRect(form_, nullptr, TRUE);
}

void TForm1::showPage(int page) {
  TabCtrl_SetCurSel(PageControl1, page);
  ShowWindow(TabSheet1, page == 0 ? SW_SHOW : SW_HIDE);
  ShowWindow(TabSheet2, page == 1 ? SW_SHOW : SW_HIDE);
}

void TForm1::FormCreate() {
  clearLog();
  const SettingsValues values = loadSettings(settingsFile_);
  for (const SettingKey& setting : kSettingKeys)
    setWindowText(control(setting.control), values.*setting.value);
}

SettingsValues TForm1::settingsFromControls() const {
  SettingsValues values;
  for (const SettingKey& setting : kSettingKeys)
    values.*setting.value = windowText(control(setting.control));
  return values;
}

bool TForm1::sectionTicked(SectionId section) const {
  const HWND box = section == SectionId::Products    ? CheckBox1
                   : section == SectionId::Customers ? CheckBox2
                                                     : CheckBox3;
  return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm1::BitBtn1Click() {
  const std::optional<std::string> error = runFromWindow(*core_, *this);
  flushLog(true);
  if (error) MessageBoxW(form_, wide(*error).c_str(), kErrorTitle, MB_OK | MB_ICONERROR);
  // A close asked for during the run ends the program now that the run has stopped.
  if (closeAfterRun_ && !core_->running()) DestroyWindow(form_);
}

void TForm1::browse() {
  std::wstring start = wide(browseStartFolder(windowText(edtConexatSql)));
  std::wstring filter = wide(layout::kFileFilterName);
  filter.push_back(L'\0');
  filter += wide(layout::kFileFilterPattern);
  filter.push_back(L'\0');
  wchar_t chosen[32768] = {};
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = form_;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = chosen;
  dialog.nMaxFile = static_cast<DWORD>(std::size(chosen));
  dialog.lpstrInitialDir = start.empty() ? nullptr : start.c_str();
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (GetOpenFileNameW(&dialog)) setWindowText(edtConexatSql, fileBoxText(utf8FromWide(chosen)));
  SetFocus(edtConexatSql);
}

void TForm1::clearLog() {
  log_.clear();
  flushLog(true);
}

void TForm1::appendLogLine(std::string_view line) { log_.append(line); }

void TForm1::dataLinkMissing(const DataLinkNotice& notice) {
  MessageBoxW(form_, wide(dataLinkNoticeText(notice)).c_str(), kErrorTitle, MB_OK | MB_ICONWARNING);
}

bool TForm1::flushLog(bool force) {
  const ULONGLONG now = GetTickCount64();
  if (!force && now - lastLogFlush_ < logFlushGap_) return false;
  lastLogFlush_ = now;
  if (log_.rowCount() == shownRows_ && !force) return false;
  shownRows_ = log_.rowCount();
  ListView_SetItemCountEx(Memo1, static_cast<int>(shownRows_), LVSICF_NOINVALIDATEALL);
  if (shownRows_ > 0) ListView_EnsureVisible(Memo1, static_cast<int>(shownRows_ - 1), FALSE);
  InvalidateRect(Memo1, nullptr, FALSE);
  return true;
}

void TForm1::setGaugeMaximum(int maximum) {
  gauge_.setMaximum(maximum);
  repaintGaugeIfChanged();
}

void TForm1::setGaugePosition(int position) {
  gauge_.setPosition(position);
  repaintGaugeIfChanged();
}

void TForm1::repaintGaugeIfChanged() {
  // A record moves the position by one; the picture (the bar's filled pixels and the whole
  // percentage) changes far less often, and a repaint at every record would cost a run dearly.
  RECT area;
  GetClientRect(Gauge1, &area);
  InflateRect(&area, -1, -1);
  const std::pair<int, int> shown{gauge_.percent(), gauge_.filledWidth(area.right - area.left)};
  if (shown == gaugeShown_) return;
  gaugeShown_ = shown;
  InvalidateRect(Gauge1, nullptr, FALSE);
}

void TForm1::processPendingEvents() {
  // Telling the list of new rows and repainting it costs more the longer the log grows (under
  // Wine markedly so): the gap to the next time is at least five times what this one took.
  const bool flushed = flushLog(false);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {  // for the program's own loop, after the run
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (!dialogMessage(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (flushed)
    logFlushGap_ = std::max(kLogFlushMs, kLogFlushShare * (GetTickCount64() - lastLogFlush_));
}

void TForm1::paintGauge(HDC dc, const RECT& area) {
  // A sunken frame around a white field, filled from the left; the percentage reads in the text
  // colour over the empty part and in the highlighted text colour over the bar.
  FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
  FrameRect(dc, &area, GetSysColorBrush(COLOR_BTNSHADOW));
  RECT inner = area;
  InflateRect(&inner, -1, -1);
  RECT bar = inner;
  bar.right = inner.left + gauge_.filledWidth(inner.right - inner.left);
  FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
  const std::wstring text = std::to_wstring(gauge_.percent()) + L"%";
  HGDIOBJ old = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  RECT rest = inner;
  rest.left = bar.right;
  for (const auto& [clip, colour] :
       {std::pair{rest, COLOR_WINDOWTEXT}, {bar, COLOR_HIGHLIGHTTEXT}}) {
    SaveDC(dc);
    IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    SetTextColor(dc, GetSysColor(colour));
    RECT whole = inner;
    DrawTextW(dc, text.c_str(), -1, &whole, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    RestoreDC(dc, -1);
  }
  SelectObject(dc, old);
}

void TForm1::logMenu(int x, int y) {
  enum : UINT { kCopy = 1, kSelectAll, kSave, kNextError };
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kCopy, L"&Copy\tCtrl+C");
  AppendMenuW(menu, MF_STRING, kSelectAll, L"Select All\tCtrl+A");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kSave, L"Salvar log...");
  AppendMenuW(menu, MF_STRING, kNextError, L"Pr\u00F3ximo erro\tF3");
  if (x == -1 && y == -1) {  // from the keyboard: at the list's corner
    RECT area;
    GetWindowRect(Memo1, &area);
    x = area.left;
    y = area.top;
  }
  const UINT chosen =
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, form_, nullptr);
  DestroyMenu(menu);
  if (chosen == kCopy) copySelectedLog();
  if (chosen == kSelectAll) ListView_SetItemState(Memo1, -1, LVIS_SELECTED, LVIS_SELECTED);
  if (chosen == kSave) saveLog();
  if (chosen == kNextError) nextError();
}

void TForm1::saveLog() {
  // "Salvar log...": every line, as the runner's --log writes them.
  wchar_t chosen[32768] = {};
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = form_;
  dialog.lpstrFilter = L"Log (*.log)\0*.log\0All files (*.*)\0*.*\0";
  dialog.lpstrFile = chosen;
  dialog.nMaxFile = static_cast<DWORD>(std::size(chosen));
  dialog.lpstrTitle = L"Salvar log";
  dialog.lpstrDefExt = L"log";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!GetSaveFileNameW(&dialog)) return;
  try {
    saveLogFile(log_, std::filesystem::path(chosen));
  } catch (const std::exception& error) {
    MessageBoxW(form_, wide(errorBoxText(error.what())).c_str(), kErrorTitle, MB_OK | MB_ICONERROR);
  }
}

void TForm1::nextError() {
  // The first error line after the selection (from the top without one, round after the last).
  std::optional<std::size_t> after;
  const int selected = ListView_GetNextItem(Memo1, -1, LVNI_SELECTED);
  if (selected >= 0) after = log_.row(static_cast<std::size_t>(selected)).line;
  const std::optional<std::size_t> line = nextErrorLine(log_, after);
  if (!line) {
    MessageBeep(MB_OK);
    return;
  }
  const int row = static_cast<int>(log_.firstRowOf(*line));
  ListView_SetItemState(Memo1, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetItemState(Memo1, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(Memo1, row, FALSE);
}

void TForm1::copySelectedLog() {
  std::u16string text;
  for (int i = ListView_GetNextItem(Memo1, -1, LVNI_SELECTED); i >= 0;
       i = ListView_GetNextItem(Memo1, i, LVNI_SELECTED)) {
    text += rowText(log_.row(static_cast<std::size_t>(i)));
    text += u"\r\n";
  }
  if (text.empty() || !OpenClipboard(form_)) return;
  EmptyClipboard();
  const std::size_t bytes = (text.size() + 1) * sizeof(char16_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    std::memcpy(GlobalLock(memory), text.c_str(), bytes);
    GlobalUnlock(memory);
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  }
  CloseClipboard();
}

LRESULT CALLBACK TForm1::formProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    form->form_ = window;
  }
  auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(window, message, w, l);
  return form->handle(message, w, l);
}

LRESULT CALLBACK TForm1::pageProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  // A page hands what its controls report to the window.
  if (message == WM_COMMAND || message == WM_NOTIFY || message == WM_CONTEXTMENU)
    return SendMessageW(GetParent(window), message, w, l);
  return DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK TForm1::gaugeProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    RECT area;
    GetClientRect(window, &area);
    if (form != nullptr) form->paintGauge(dc, area);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_NCCALCSIZE) return 0;  // no frame of the system's: the gauge draws its own
  return DefWindowProcW(window, message, w, l);
}

LRESULT TForm1::handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      // Enter presses the focused button, "Importar" from anywhere else; Esc is "Parar" during
      // a run (the dialog keys arrive as IDOK and IDCANCEL, with no control).
      if (l == 0 && LOWORD(w) == IDOK) {
        if (GetFocus() == BitBtn2)
          core_->BitBtn2Click();
        else
          BitBtn1Click();
        return 0;
      }
      if (l == 0 && LOWORD(w) == IDCANCEL) {
        if (core_->running()) core_->BitBtn2Click();
        return 0;
      }
      return command(reinterpret_cast<HWND>(l), HIWORD(w));
    case WM_NOTIFY: return notify(*reinterpret_cast<const NMHDR*>(l));
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(w) == Memo1) logMenu(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(w);
      const RECT* suggested = reinterpret_cast<const RECT*>(l);
      SetWindowPos(form_, nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      placeAll();
      return 0;
    }
    case WM_CLOSE:
      // The run cannot be left in the middle of a record: a close during a run asks it to stop,
      // and the window goes once the click handler has returned.
      if (core_ != nullptr && core_->running()) {
        core_->BitBtn2Click();
        closeAfterRun_ = true;
        return 0;
      }
      DestroyWindow(form_);
      return 0;
    case WM_DESTROY:
      form_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcW(form_, message, w, l);
  }
}

LRESULT TForm1::command(HWND control, int code) {
  if (code != BN_CLICKED) return 0;
  if (control == BitBtn1)
    BitBtn1Click();
  else if (control == BitBtn2)
    core_->BitBtn2Click();
  else if (control == browseButton_)
    browse();
  return 0;
}

LRESULT TForm1::notify(const NMHDR& header) {
  if (header.hwndFrom == PageControl1 && header.code == TCN_SELCHANGE) {
    showPage(TabCtrl_GetCurSel(PageControl1));
    return 0;
  }
  if (header.hwndFrom == Memo1 && header.code == LVN_KEYDOWN &&
      (GetKeyState(VK_CONTROL) & 0x8000) != 0) {
    // The log reads like a text box: Ctrl+A selects every line, Ctrl+C copies the selected ones.
    const WORD key = reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey;
    if (key == 'A') ListView_SetItemState(Memo1, -1, LVIS_SELECTED, LVIS_SELECTED);
    if (key == 'C') copySelectedLog();
    return 0;
  }
  if (header.hwndFrom == Memo1 && header.code == LVN_GETDISPINFOW) {
    auto& info = *reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header));
    if ((info.item.mask & LVIF_TEXT) == 0 || info.item.iItem < 0 ||
        static_cast<std::size_t>(info.item.iItem) >= log_.rowCount())
      return 0;
    std::u16string text = rowText(log_.row(static_cast<std::size_t>(info.item.iItem)));
    const std::size_t room = static_cast<std::size_t>(std::max(info.item.cchTextMax, 1)) - 1;
    if (text.size() > room) text.resize(room);
    std::copy(text.begin(), text.end(), info.item.pszText);
    info.item.pszText[text.size()] = L'\0';
    return 0;
  }
  return 0;
}

}  // namespace importacao
