// How fast the window's log takes lines, and what each line costs in memory.
//
// A whole run through the main window over stand-in tables: one products section of N records,
// each logging "Importando Produto - <n>" through AddLogLine (which processes the window's
// events at every line), every 100th record failing with an error line that holds a carriage
// return. Prints lines per second and heap bytes per line; for comparison, the same appends
// into a QPlainTextEdit for a smaller number of lines.
//
//   log_bench [lines=500000] [reference-lines=20000]   (QT_QPA_PLATFORM defaults to offscreen)
#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "app/qt/log_view.h"
#include "app/qt/unit1.h"
#include "app/qt/window_test_backend.h"

namespace {

using WallClock = std::chrono::steady_clock;

// Bytes the allocator has handed out: the arena's and the large blocks it maps on its own.
long long heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long long>(info.uordblks + info.hblkhd);
}

long long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

double seconds(WallClock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long long lines = argc > 1 ? std::atoll(argv[1]) : 500000;
  const long long referenceLines = argc > 2 ? std::atoll(argv[2]) : 20000;

  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

  using namespace importacao;
  auto owned = std::make_unique<FakeBackend>();
  FakeBackend& backend = *owned;
  const long long failing = lines / 100;
  const long long records = lines - 1 - failing;  // + "Lendo Tabela..." + the error lines
  backend.produtos.reset(records);
  backend.productsSection.failEvery = 100;
  TForm1 form(std::move(owned), defaultSettingsPath());
  form.setErrorBox([](QWidget*, const QString&, const QString& text) {
    std::fprintf(stderr, "error: %s\n", qPrintable(text));
  });
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) std::fprintf(stderr, "window not exposed\n");
  form.CheckBox1->setChecked(true);
  QCoreApplication::processEvents();

  malloc_trim(0);
  const long long heapBefore = heapInUse();
  const long long rssBefore = residentBytes();
  const auto start = WallClock::now();
  form.BitBtn1Click();
  const double elapsed = seconds(WallClock::now() - start);
  const long long heapAfter = heapInUse();
  const long long rssAfter = residentBytes();
  const auto held = static_cast<long long>(form.Memo1->lineCount());

  std::printf("log through AddLogLine, events processed at each line (offscreen, window shown)\n");
  std::printf("  lines              %lld (%lld with a carriage return)\n", held,
              backend.productsSection.failEvery ? held / 100 : 0);
  std::printf("  time               %.3f s\n", elapsed);
  std::printf("  rate               %.0f lines/s\n", static_cast<double>(held) / elapsed);
  std::printf("  heap growth        %.1f bytes/line\n",
              static_cast<double>(heapAfter - heapBefore) / static_cast<double>(held));
  std::printf("  resident growth    %.1f bytes/line\n",
              static_cast<double>(rssAfter - rssBefore) / static_cast<double>(held));
  std::printf("  log store          %.1f bytes/line\n",
              static_cast<double>(form.Memo1->store().memoryUsed()) / static_cast<double>(held));

  if (referenceLines > 0) {
    // The same kind of appends into the toolkit's plain text editor, for scale.
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    edit.resize(497, 225);
    edit.show();
    (void)QTest::qWaitForWindowExposed(&edit);
    malloc_trim(0);
    const long long editHeapBefore = heapInUse();
    const auto editStart = WallClock::now();
    for (long long i = 1; i <= referenceLines; ++i) {
      edit.appendPlainText(QStringLiteral("Importando Produto - %1").arg(i));
      QCoreApplication::processEvents();
    }
    const double editElapsed = seconds(WallClock::now() - editStart);
    std::printf("QPlainTextEdit::appendPlainText, events processed at each line (reference)\n");
    std::printf("  lines              %lld\n", referenceLines);
    std::printf("  rate               %.0f lines/s\n",
                static_cast<double>(referenceLines) / editElapsed);
    std::printf(
        "  heap growth        %.1f bytes/line\n",
        static_cast<double>(heapInUse() - editHeapBefore) / static_cast<double>(referenceLines));
  }
  return 0;
}
