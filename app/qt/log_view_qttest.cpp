// The log box: what it holds, what it shows after the repaint timer, selection and copy, the
// next error line and saving the log from its context menu.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <string>

#include "app/qt/log_view.h"

namespace importacao {

class LogViewTest : public QObject {
  Q_OBJECT

 private:
  // Lets the repaint timer fire, as the run's event processing would.
  static void settle() { QTest::qWait(LogView::kRepaintIntervalMs * 3); }

  // Counts the paint events a widget receives.
  struct PaintCounter : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++count;
      return false;
    }
  };

 private slots:
  void keepsTheBytesOfEveryLineAndClearsThemAll() {
    LogView view;
    view.appendLine("Lendo Tabela de Produtos");
    view.appendLine("Erro gravando o Produto - 7\rduplicate key value");
    view.appendLine("Importando Cliente - 12 Jo\xe3o");
    QCOMPARE(view.lineCount(), std::size_t{3});
    QCOMPARE(view.line(1), std::string("Erro gravando o Produto - 7\rduplicate key value"));
    QCOMPARE(view.line(2), std::string("Importando Cliente - 12 Jo\xe3o"));
    QCOMPARE(view.store().rowCount(), std::size_t{4});  // the lone CR shows as a break
    view.clear();
    QCOMPARE(view.lineCount(), std::size_t{0});
    QVERIFY(!view.hasSelection());
  }

  void followsTheEndUnlessScrolledBack() {
    LogView view;
    view.resize(497, 225);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < 500; ++i) view.appendLine("Importando Produto - " + std::to_string(i));
    settle();
    QScrollBar* bar = view.verticalScrollBar();
    QVERIFY(bar->maximum() > 400);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(10);  // the operator reads back
    for (int i = 0; i < 50; ++i) view.appendLine("more");
    settle();
    QCOMPARE(bar->value(), 10);

    bar->setValue(bar->maximum());  // and returns to the end: it follows again
    view.appendLine("last");
    settle();
    QCOMPARE(bar->value(), bar->maximum());
  }

  // Appending never paints by itself, however often events are processed; the timer paints.
  void repaintsWaitForTheTimer() {
    LogView view;
    view.resize(200, 100);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    settle();
    int paints = 0;
    struct Counter : QObject {
      int* count;
      explicit Counter(int* c) : count(c) {}
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++*count;
        return false;
      }
    } counter(&paints);
    view.viewport()->installEventFilter(&counter);
    view.setRepaintInterval(60 * 60 * 1000);  // no tick during the appends, however slow
    for (int i = 0; i < 2000; ++i) {
      view.appendLine("Importando Produto - " + std::to_string(i));
      QCoreApplication::processEvents();
    }
    QCOMPARE(paints, 0);

    // A paint for some other reason (an expose) in the middle of a burst is one paint: it must
    // not set off a paint per line from then on.
    view.viewport()->update();
    for (int i = 0; i < 2000; ++i) {
      view.appendLine("Importando Cliente - " + std::to_string(i));
      QCoreApplication::processEvents();
    }
    QVERIFY2(paints <= 2, qPrintable(QString::number(paints)));

    view.setRepaintInterval(1);
    view.appendLine("last");
    QTRY_VERIFY(paints >= 1);
    QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
  }

  // The scroll bar repaints when its slider moves on screen, and not for a new range that leaves
  // the slider where it was (a long log followed at its end): each repaint of it is dear.
  void scrollBarRepaintsOnlyWhenItsSliderMoves() {
    struct {
      const char* name;
      int before;    // lines in the log before the counted appends
      int scrollTo;  // the bar's value before them; -1: at the end
      int appended;
      bool repaints;
    } cases[] = {
        {"the first lines give the bar a slider", 0, -1, 30, true},
        {"a long log followed at its end", 5000, -1, 10, false},
        {"a long log followed at its end, many more lines", 5000, -1, 5000, false},
        {"read back in a long log: the slider climbs", 5000, 1000, 5000, true},
    };
    for (const auto& c : cases) {
      LogView view;
      view.resize(497, 225);
      view.show();
      QVERIFY(QTest::qWaitForWindowExposed(&view));
      for (int i = 0; i < c.before; ++i)
        view.appendLine("Importando Produto - " + std::to_string(i));
      settle();
      QScrollBar* bar = view.verticalScrollBar();
      if (c.scrollTo >= 0) bar->setValue(c.scrollTo);
      settle();
      PaintCounter paints;
      bar->installEventFilter(&paints);
      for (int i = 0; i < c.appended; ++i) {
        view.appendLine("Importando Produto - " + std::to_string(i));
        QCoreApplication::processEvents();
      }
      settle();
      QVERIFY2((paints.count > 0) == c.repaints, c.name);
      // Whether it repainted or not, the bar's state is the log's.
      QVERIFY2(bar->maximum() > 0, c.name);
      QCOMPARE(bar->value(), c.scrollTo >= 0 ? c.scrollTo : bar->maximum());
    }
  }

  // Copied, the lines are text; saved from the context menu (which offers copy, select all,
  // "Salvar log..." and "Próximo erro"), they are what the runner's --log writes: each line's
  // 1252 bytes and CR LF.
  void selectAllCopyAndSaveGiveTheLinesAsTextAndAsTheRunnersLog() {
    LogView view;
    view.resize(300, 100);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.appendLine("Lendo Tabela de Produtos");
    view.appendLine("Erro gravando o Produto - 7\rduplicate key value");
    view.appendLine("Cart\xe3o");
    settle();
    QCOMPARE(view.selectedText(), QString());
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    const QString all = QString::fromUtf8(
        "Lendo Tabela de Produtos\nErro gravando o Produto - 7\nduplicate key value\nCartão\n");
    QCOMPARE(view.selectedText(), all);
    QCOMPARE(QApplication::clipboard()->text(), all);

    view.appendLine("");
    QTemporaryDir dir;
    const QString file = dir.filePath("importacao.log");
    view.setSaveChooser([&](QWidget*) { return file; });
    QStringList items;
    QTimer::singleShot(0, &view, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      QVERIFY(menu != nullptr);
      for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        items << action->text();
        if (action->text() == "Salvar log...") action->trigger();
      }
      menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            view.viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view.viewport(), &event);
    QCOMPARE(items, QStringList({"&Copy", "Select All", "Salvar log...",
                                 QString::fromUtf8("Próximo erro")}));
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(),
             QByteArray("Lendo Tabela de Produtos\r\nErro gravando o Produto - 7\rduplicate key "
                        "value\r\nCart\xe3o\r\n\r\n"));
  }

  // Clicking a row selects its whole line; Shift+click extends to another line.
  void mouseSelectsWholeLines() {
    LogView view;
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.appendLine("one");
    view.appendLine("two\rtwo, continued");
    view.appendLine("three");
    settle();
    const int row = view.fontMetrics().lineSpacing();
    const QPoint secondRowOfLine2(20, 2 + row * 2 + row / 2);  // rows: one, two, continued
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, secondRowOfLine2);
    QCOMPARE(view.selectedText(), QString("two\ntwo, continued\n"));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(20, 2 + row * 3 + row / 2));
    QCOMPARE(view.selectedText(), QString("two\ntwo, continued\nthree\n"));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, 190));  // below the end
    QVERIFY(!view.hasSelection());
  }

  // "Próximo erro" (F3) takes the error lines in turn, round to the top after the last, each
  // selected and scrolled into view; from a selection it goes on below it.
  void nextErrorSelectsEachErrorLineInTurnAndShowsIt() {
    LogView view;
    view.resize(497, 225);
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    for (int i = 0; i < 400; ++i) {
      const bool error = i == 40 || i == 300 || i == 399;
      view.appendLine(error ? "Erro gravando o Produto - " + std::to_string(i) +
                                  "\rduplicate key value"
                            : "Importando Produto - " + std::to_string(i));
    }
    view.appendLine("Erro gravando sem mensagem");  // no carriage return: not a record's error line
    settle();
    QScrollBar* bar = view.verticalScrollBar();
    auto shown = [&](std::size_t line) {
      const auto row = static_cast<int>(view.store().firstRowOf(line));
      return bar->value() <= row && row + 1 < bar->value() + bar->pageStep();
    };
    for (const std::size_t expected : {40, 300, 399, 40}) {
      QTest::keyClick(&view, Qt::Key_F3);
      QVERIFY(view.hasSelection());
      QCOMPARE(view.selectionFirst(), expected);
      QCOMPARE(view.selectionLast(), expected);
      QVERIFY2(shown(expected), qPrintable(QString::number(bar->value())));
    }
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      QPoint(20, 2 + view.fontMetrics().lineSpacing() / 2));
    const std::size_t clicked = view.selectionFirst();
    view.nextError();
    QCOMPARE(view.selectionFirst(), clicked < 300 ? std::size_t{300} : std::size_t{399});
  }

  // Very long rows widen the horizontal range; painting odd bytes never fails.
  void longAndOddLinesPaint() {
    LogView view;
    view.resize(300, 100);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.appendLine(std::string(5000, 'W'));
    view.appendLine(std::string("\0\x01\x81\x8d\x8f\x90\x9d\xff\t", 9));
    view.appendLine("");
    settle();
    QVERIFY(view.horizontalScrollBar()->maximum() > 1000);
    QVERIFY(!view.grab().isNull());
  }
};

}  // namespace importacao

QTEST_MAIN(importacao::LogViewTest)
#include "log_view_qttest.moc"
