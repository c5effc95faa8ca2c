// The Win32 window's log at half a million lines: how fast it takes lines, what a scroll and
// repaint costs once it holds them, and what each line costs in memory. The Windows counterpart of
// log_bench (the Qt window), with the same run: one products section over stand-in tables, each
// record logging "Importando Produto - <n>" through AddLogLine (which pumps the window's messages
// at every line), every 100th record failing with an error line that holds a carriage return.
// For comparison, the same appends into a plain multi-line edit control, for fewer lines.
//
//   log_bench_win32.exe [lines=500000] [reference-lines=20000]
//
// Under Wine here it needs a display (xvfb-run); scripts/bench-log runs it beside log_bench.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/run/fake_run_parts.h"
#include "app/win32/unit1.h"

namespace {

using WallClock = std::chrono::steady_clock;

double seconds(WallClock::duration d) { return std::chrono::duration<double>(d).count(); }

long long workingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long long>(counters.WorkingSetSize);
}

void pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Milliseconds for `moves` scrolls of `list`, each followed by a full repaint.
template <typename Move>
double scrollAndPaint(HWND list, int moves, Move move) {
  const auto start = WallClock::now();
  for (int i = 0; i < moves; ++i) {
    move(i);
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  return seconds(WallClock::now() - start) * 1000.0 / moves;
}

}  // namespace

int main(int argc, char* argv[]) {
  const long long lines = argc > 1 ? std::atoll(argv[1]) : 500000;
  const long long referenceLines = argc > 2 ? std::atoll(argv[2]) : 20000;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  using namespace importacao;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::filesystem::path settings = std::filesystem::path(temp) / L"log_bench_win32.ini";
  FakeRunParts fakes;
  const long long failing = lines / 100;
  fakes.produtos.reset(lines - 1 - failing);  // + "Lendo Tabela..." + the error lines
  fakes.productsSection.failEvery = 100;
  TForm1 form(
      instance, [&fakes](SettingsWriter& writer) { return fakes.parts(writer); }, settings);
  form.show(SW_SHOWNORMAL);
  pump();
  HWND list = form.control("Memo1");
  SendMessageW(form.control("CheckBox1"), BM_SETCHECK, BST_CHECKED, 0);

  const long long memoryBefore = workingSet();
  const auto start = WallClock::now();
  SendMessageW(form.control("BitBtn1"), BM_CLICK, 0, 0);  // the whole run, inside the click
  const double elapsed = seconds(WallClock::now() - start);
  pump();
  const long long memoryAfter = workingSet();
  const long long rows = ListView_GetItemCount(list);
  const long long held = lines;

  std::printf("log through AddLogLine, messages pumped at each line (Win32 window, shown)\n");
  std::printf("  lines              %lld (%lld with a carriage return; %lld list rows)\n", held,
              failing, rows);
  std::printf("  time               %.3f s\n", elapsed);
  std::printf("  rate               %.0f lines/s\n", static_cast<double>(held) / elapsed);
  std::printf("  working set growth %.1f bytes/line\n",
              static_cast<double>(memoryAfter - memoryBefore) / static_cast<double>(held));

  // The floor: what pumping the message queue alone costs a line (an empty queue, no list).
  const auto pumpStart = WallClock::now();
  for (long long i = 0; i < held; ++i) pump();
  const double pumpElapsed = seconds(WallClock::now() - pumpStart);
  std::printf("  pump alone         %.0f lines/s (the floor: an empty queue pumped once a line)\n",
              static_cast<double>(held) / pumpElapsed);

  // Once it holds every line: scroll by a page, jump about, and repaint after each move.
  const int pageRows = std::max(1, static_cast<int>(ListView_GetCountPerPage(list)));
  const double top = scrollAndPaint(list, 20, [&](int i) {
    ListView_EnsureVisible(list, i % 2 == 0 ? 0 : static_cast<int>(rows - 1), FALSE);
  });
  const double page = scrollAndPaint(
      list, 200, [&](int) { SendMessageW(list, WM_VSCROLL, MAKEWPARAM(SB_PAGEUP, 0), 0); });
  const double jump = scrollAndPaint(list, 200, [&](int i) {
    ListView_EnsureVisible(list, static_cast<int>((i * 7919LL * pageRows) % rows), FALSE);
  });
  const auto paintStart = WallClock::now();
  for (int i = 0; i < 100; ++i)
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  const double paint = seconds(WallClock::now() - paintStart) * 10.0;
  std::printf("  top <-> bottom     %.2f ms a move and repaint\n", top);
  std::printf("  page up            %.2f ms a move and repaint (%d rows a page)\n", page, pageRows);
  std::printf("  jump anywhere      %.2f ms a move and repaint\n", jump);
  std::printf("  repaint only       %.2f ms\n", paint);

  if (referenceLines > 0) {
    // The same kind of appends into a plain multi-line edit control, for scale.
    HWND edit = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"",
        WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
        0, 0, 497, 225, nullptr, nullptr, instance, nullptr);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    pump();
    const long long editBefore = workingSet();
    const auto editStart = WallClock::now();
    for (long long i = 1; i <= referenceLines; ++i) {
      const std::wstring line = L"Importando Produto - " + std::to_wstring(i) + L"\r\n";
      const LRESULT end = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
      SendMessageW(edit, EM_SETSEL, end, end);
      SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
      pump();
    }
    const double editElapsed = seconds(WallClock::now() - editStart);
    const double editPage = scrollAndPaint(
        edit, 200, [&](int) { SendMessageW(edit, WM_VSCROLL, MAKEWPARAM(SB_PAGEUP, 0), 0); });
    std::printf(
        "plain edit control, EM_REPLACESEL at the end, messages pumped at each line (reference)\n");
    std::printf("  lines              %lld\n", referenceLines);
    std::printf("  rate               %.0f lines/s\n",
                static_cast<double>(referenceLines) / editElapsed);
    std::printf(
        "  working set growth %.1f bytes/line\n",
        static_cast<double>(workingSet() - editBefore) / static_cast<double>(referenceLines));
    std::printf("  page up            %.2f ms a move and repaint\n", editPage);
    DestroyWindow(edit);
  }
  std::fflush(stdout);
  std::filesystem::remove(settings);
  return 0;
}
