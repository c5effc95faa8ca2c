// The read-only log box of the run page.
//
// A text editor widget re-lays out its document on every appended line and slows to a crawl
// after a few hundred thousand lines; this view keeps the lines in a LogStore and paints only
// the rows on screen. Appending is cheap: it stores the bytes and asks for a repaint, and the
// repaints of a burst of lines are folded into one at most every kRepaintIntervalMs.
//
// A carriage return inside a line shows as a break: the rest of the line goes on in the next
// row, indented. Whole lines can be selected with the mouse (click, drag, Shift+click) or the
// keyboard (Ctrl+A), and copied (Ctrl+C or the context menu) as UTF-8 text, one line per line.
// The context menu also saves the whole log to a file ("Salvar log...", the bytes of the
// runner's --log) and selects the next error line ("Próximo erro", also F3 anywhere in the
// window).
#pragma once

#include <QAbstractScrollArea>
#include <QRect>
#include <QScrollBar>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/run/log_store.h"

class QAction;
class QMenu;

namespace importacao {

// The log's scroll bars. A growing log moves the range at every refresh, but once the log holds
// a few hundred lines the slider keeps its size and place in pixels for many refreshes, and a
// scroll bar repaint is the dearest part of a refresh: the style's gradient fills of a bar this
// tall are handed by the raster engine to worker threads and waited for, which on a busy machine
// costs a wait for a processor each time. So a change of range, value or steps repaints the bar
// only when what it shows moves: the slider's rectangle, or an end reached or left (the arrows).
// Everything else (hover, press, resize, style, palette) repaints as before.
class LogScrollBar final : public QScrollBar {
 public:
  explicit LogScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr)
      : QScrollBar(orientation, parent) {}

  // Changes made between beginChanges() and endChanges() are judged together at the end, so a
  // new range followed by the value that keeps the slider at the end repaints nothing. Calls
  // do not nest.
  void beginChanges() noexcept { batching_ = true; }
  void endChanges();

 protected:
  void sliderChange(SliderChange change) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Look {
    QRect slider;
    bool atMinimum = false;
    bool atMaximum = false;
    friend bool operator==(const Look&, const Look&) = default;
  };
  Look look() const;
  void repaintIfMoved();

  bool painted_ = false;  // shown_ holds what the last paint drew
  Look shown_;
  bool batching_ = false;
  bool changed_ = false;  // a change arrived during the batch
};

class LogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kRepaintIntervalMs = 33;

  explicit LogView(QWidget* parent = nullptr);
  LogView(const LogView&) = delete;
  LogView& operator=(const LogView&) = delete;

  // Appends one line of code-page-1252 bytes at the end. The view follows the end when it was
  // scrolled to the end before. Throws what LogStore::append throws; the log is unchanged then.
  void appendLine(std::string_view cp1252);
  // Empties the log.
  void clear();

  // How long appended lines wait before they are painted (default kRepaintIntervalMs).
  void setRepaintInterval(int milliseconds) { refreshTimer_.setInterval(milliseconds); }

  std::size_t lineCount() const noexcept { return store_.lineCount(); }
  // The line's bytes as appended; index < lineCount().
  std::string line(std::size_t index) const;
  const LogStore& store() const noexcept { return store_; }

  // The selected lines as text (UTF-8 in the clipboard's sense: a QString), one per line,
  // a carriage return inside a line turned into a line break. Empty without a selection.
  QString selectedText() const;
  bool hasSelection() const noexcept { return anchor_ >= 0; }
  // The selected lines, first and last (equal for one line); only with a selection.
  std::size_t selectionFirst() const noexcept;
  std::size_t selectionLast() const noexcept;

  // Asks where "Salvar log..." writes: a file name, or empty to cancel. The default is the
  // system's save dialog; tests put a stand-in in its place.
  using SaveChooser = std::function<QString(QWidget* parent)>;
  void setSaveChooser(SaveChooser chooser) { chooseSaveFile_ = std::move(chooser); }

 public slots:
  void selectAll();
  void copy();
  // "Salvar log...": writes every line to the file the chooser names, as the runner's --log
  // writes them; a file that cannot be written is named in an error box.
  void saveLog();
  // "Próximo erro" (F3): selects the first error line after the selection (from the top without
  // one, round to the top after the last) and scrolls it into view; a beep when there is none.
  void nextError();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void scheduleRefresh();
  void refresh();             // scroll ranges, then repaint
  void updateScrollRanges();  // scroll ranges; follows the end when it was there
  int rowHeight() const;
  long long rowAt(int y) const;  // -1 above the first row; may be past the last
  void selectLines(long long from, long long to);
  void showLine(std::size_t line);  // scrolls the line's rows into view

  LogScrollBar* vertical_;
  LogScrollBar* horizontal_;
  LogStore store_;
  QTimer refreshTimer_;
  bool followEnd_ = true;
  int widestRow_ = 0;  // pixels, the widest row measured so far
  std::size_t measuredLongest_ = 0;
  long long anchor_ = -1;  // selected lines: anchor_..cursor_, either order; -1: none
  long long cursor_ = -1;
  QAction* copyAction_;
  QAction* selectAllAction_;
  QAction* saveAction_;
  QAction* nextErrorAction_;
  SaveChooser chooseSaveFile_;
};

}  // namespace importacao
