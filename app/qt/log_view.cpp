#include "app/qt/log_view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <climits>
#include <exception>
#include <optional>
#include <utility>

#include "normalise/codepage.h"

namespace importacao {

namespace {

constexpr int kMargin = 2;  // pixels between the frame and the text

QString toDisplay(std::string_view cp1252) {
  const std::u16string wide = cp1252ToUtf16(cp1252);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

QString chooseSaveFileInDialog(QWidget* parent) {
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Salvar log"), QString(),
                                      QStringLiteral("Log (*.log);;All files (*.*)"));
}

}  // namespace

LogScrollBar::Look LogScrollBar::look() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  return Look{
      style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
      option.sliderPosition <= option.minimum, option.sliderPosition >= option.maximum};
}

void LogScrollBar::repaintIfMoved() {
  if (!painted_ || look() != shown_) update();
}

void LogScrollBar::sliderChange(SliderChange) {
  if (batching_) {
    changed_ = true;
  } else {
    repaintIfMoved();
  }
}

void LogScrollBar::endChanges() {
  batching_ = false;
  if (std::exchange(changed_, false)) repaintIfMoved();
}

void LogScrollBar::paintEvent(QPaintEvent* event) {
  QScrollBar::paintEvent(event);
  shown_ = look();
  painted_ = true;
}

LogView::LogView(QWidget* parent)
    : QAbstractScrollArea(parent),
      vertical_(new LogScrollBar(Qt::Vertical)),
      horizontal_(new LogScrollBar(Qt::Horizontal)),
      copyAction_(new QAction(tr("&Copy"), this)),
      selectAllAction_(new QAction(tr("Select All"), this)),
      saveAction_(new QAction(QStringLiteral("Salvar log..."), this)),
      nextErrorAction_(new QAction(QString::fromUtf8("Próximo erro"), this)),
      chooseSaveFile_(chooseSaveFileInDialog) {
  copyAction_->setShortcut(QKeySequence::Copy);
  selectAllAction_->setShortcut(QKeySequence::SelectAll);
  connect(copyAction_, &QAction::triggered, this, &LogView::copy);
  connect(selectAllAction_, &QAction::triggered, this, &LogView::selectAll);
  connect(saveAction_, &QAction::triggered, this, &LogView::saveLog);
  connect(nextErrorAction_, &QAction::triggered, this, &LogView::nextError);
  // F3 finds the next error wherever the focus is in the window, while the log is on show.
  nextErrorAction_->setShortcut(QKeySequence(Qt::Key_F3));
  nextErrorAction_->setShortcutContext(Qt::WindowShortcut);
  addAction(nextErrorAction_);
  setVerticalScrollBar(vertical_);
  setHorizontalScrollBar(horizontal_);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(kRepaintIntervalMs);
  connect(&refreshTimer_, &QTimer::timeout, this, &LogView::refresh);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this](int value) { followEnd_ = value >= verticalScrollBar()->maximum(); });
}

void LogView::appendLine(std::string_view cp1252) {
  store_.append(cp1252);
  scheduleRefresh();
}

void LogView::clear() {
  store_.clear();
  anchor_ = cursor_ = -1;
  widestRow_ = 0;
  measuredLongest_ = 0;
  followEnd_ = true;
  scheduleRefresh();
}

std::string LogView::line(std::size_t index) const { return std::string(store_.line(index)); }

void LogView::scheduleRefresh() {
  if (!refreshTimer_.isActive()) refreshTimer_.start();
}

int LogView::rowHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

void LogView::refresh() {
  updateScrollRanges();
  viewport()->update();
}

void LogView::updateScrollRanges() {
  const int height = rowHeight();
  const int visibleRows = std::max(1, (viewport()->height() - 2 * kMargin) / height);
  const auto rows = static_cast<long long>(store_.rowCount());
  LogScrollBar* vertical = vertical_;
  const bool follow = followEnd_;
  // The new range and the value that keeps the view at the end are judged as one change.
  vertical->beginChanges();
  vertical->setPageStep(visibleRows);
  vertical->setSingleStep(1);
  vertical->setRange(0, static_cast<int>(std::min<long long>(
                            std::max<long long>(0, rows - visibleRows), INT_MAX)));
  if (follow) vertical->setValue(vertical->maximum());
  followEnd_ = follow || vertical->value() >= vertical->maximum();
  vertical->endChanges();

  // Only the longest row in bytes is measured here; painted rows widen the range as they show.
  if (store_.rowCount() > 0 && store_.longestRowBytes() != measuredLongest_) {
    measuredLongest_ = store_.longestRowBytes();
    const auto row = store_.row(store_.longestRowIndex());
    widestRow_ = std::max(widestRow_, fontMetrics().horizontalAdvance(toDisplay(row.bytes)));
  }
  LogScrollBar* horizontal = horizontal_;
  const int indent = fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4;
  horizontal->beginChanges();
  horizontal->setPageStep(viewport()->width());
  horizontal->setSingleStep(fontMetrics().averageCharWidth() * 4);
  horizontal->setRange(0, std::max(0, widestRow_ + indent + 2 * kMargin - viewport()->width()));
  horizontal->endChanges();
}

void LogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int height = rowHeight();
  const int ascent = fontMetrics().ascent();
  const int indent = fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4;
  const int x0 = kMargin - horizontalScrollBar()->value();
  const long long first = verticalScrollBar()->value();
  const auto rows = static_cast<long long>(store_.rowCount());
  const long long lo = std::min(anchor_, cursor_);
  const long long hi = std::max(anchor_, cursor_);
  const QPalette& pal = palette();
  int widest = widestRow_;
  for (long long r = first, y = kMargin; r < rows && y < viewport()->height(); ++r, y += height) {
    const LogStore::Row row = store_.row(static_cast<std::size_t>(r));
    const auto line = static_cast<long long>(row.line);
    const bool selected = anchor_ >= 0 && line >= lo && line <= hi;
    const QString text = toDisplay(row.bytes);
    const int x = x0 + (row.continuation ? indent : 0);
    if (selected) {
      painter.fillRect(
          QRect(0, static_cast<int>(y), viewport()->width(), height),
          pal.brush(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
      painter.setPen(pal.color(QPalette::HighlightedText));
    } else {
      painter.setPen(pal.color(QPalette::Text));
    }
    painter.drawText(x, static_cast<int>(y) + ascent, text);
    widest =
        std::max(widest, fontMetrics().horizontalAdvance(text) + (row.continuation ? indent : 0));
  }
  if (widest > widestRow_) {
    widestRow_ = widest;
    scheduleRefresh();
  }
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  refresh();
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    widestRow_ = 0;
    measuredLongest_ = 0;
    scheduleRefresh();
  }
}

long long LogView::rowAt(int y) const {
  if (y < kMargin) return verticalScrollBar()->value() - 1;
  return verticalScrollBar()->value() + (y - kMargin) / rowHeight();
}

void LogView::selectLines(long long from, long long to) {
  const auto lines = static_cast<long long>(store_.lineCount());
  if (lines == 0) {
    anchor_ = cursor_ = -1;
  } else {
    anchor_ = std::clamp(from, 0LL, lines - 1);
    cursor_ = std::clamp(to, 0LL, lines - 1);
  }
  viewport()->update();
}

void LogView::selectAll() { selectLines(0, static_cast<long long>(store_.lineCount()) - 1); }

QString LogView::selectedText() const {
  if (anchor_ < 0) return {};
  const auto lo = static_cast<std::size_t>(std::min(anchor_, cursor_));
  const auto hi = static_cast<std::size_t>(std::max(anchor_, cursor_));
  std::string bytes;
  for (std::size_t i = lo; i <= hi && i < store_.lineCount(); ++i) {
    bytes.append(store_.line(i));
    bytes.push_back('\n');
  }
  std::replace(bytes.begin(), bytes.end(), '\r', '\n');
  return toDisplay(bytes);
}

void LogView::copy() {
  if (hasSelection()) QApplication::clipboard()->setText(selectedText());
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::SelectAll)) {
    selectAll();
  } else if (event->matches(QKeySequence::Copy)) {
    copy();
  } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
    verticalScrollBar()->setValue(0);
  } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  } else {
    // Arrows and page keys scroll, as the scroll area does by default.
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const long long r = rowAt(event->position().toPoint().y());
  if (r < 0 || r >= static_cast<long long>(store_.rowCount())) {
    anchor_ = cursor_ = -1;
    viewport()->update();
    return;
  }
  const auto line = static_cast<long long>(store_.row(static_cast<std::size_t>(r)).line);
  if ((event->modifiers() & Qt::ShiftModifier) && anchor_ >= 0) {
    selectLines(anchor_, line);
  } else {
    selectLines(line, line);
  }
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || anchor_ < 0) return;
  const int y = event->position().toPoint().y();
  if (y < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (y > viewport()->height())
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  const auto rows = static_cast<long long>(store_.rowCount());
  const long long r =
      std::clamp(rowAt(std::clamp(y, 0, viewport()->height() - 1)), 0LL, std::max(0LL, rows - 1));
  if (rows == 0) return;
  selectLines(anchor_, static_cast<long long>(store_.row(static_cast<std::size_t>(r)).line));
}

void LogView::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  copyAction_->setEnabled(hasSelection());
  selectAllAction_->setEnabled(store_.lineCount() > 0);
  menu.addAction(copyAction_);
  menu.addSeparator();
  menu.addAction(selectAllAction_);
  menu.addSeparator();
  menu.addAction(saveAction_);
  menu.addAction(nextErrorAction_);
  menu.exec(event->globalPos());
}

std::size_t LogView::selectionFirst() const noexcept {
  return static_cast<std::size_t>(std::min(anchor_, cursor_));
}

std::size_t LogView::selectionLast() const noexcept {
  return static_cast<std::size_t>(std::max(anchor_, cursor_));
}

void LogView::saveLog() {
  const QString file = chooseSaveFile_(this);
  if (file.isEmpty()) return;
  try {
    saveLogFile(store_, std::filesystem::path(file.toStdString()));
  } catch (const std::exception& error) {
    QMessageBox::critical(this, QCoreApplication::applicationName(),
                          QString::fromUtf8(error.what()));
  }
}

void LogView::nextError() {
  const std::optional<std::size_t> after =
      hasSelection() ? std::optional<std::size_t>(selectionLast()) : std::nullopt;
  const std::optional<std::size_t> found = nextErrorLine(store_, after);
  if (!found) {
    QApplication::beep();
    return;
  }
  const auto line = static_cast<long long>(*found);
  selectLines(line, line);
  showLine(*found);
}

void LogView::showLine(std::size_t line) {
  updateScrollRanges();  // lines appended since the last refresh are in the range now
  const auto first = static_cast<long long>(store_.firstRowOf(line));
  const auto last =
      static_cast<long long>(line + 1 < store_.lineCount() ? store_.firstRowOf(line + 1)
                                                           : store_.rowCount()) -
      1;
  const long long visibleRows = std::max(1, (viewport()->height() - 2 * kMargin) / rowHeight());
  QScrollBar* bar = verticalScrollBar();
  if (first < bar->value())
    bar->setValue(static_cast<int>(first));
  else if (last >= bar->value() + visibleRows)
    bar->setValue(static_cast<int>(std::max(first, last - visibleRows + 1)));
}

}  // namespace importacao
