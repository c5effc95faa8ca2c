#include "app/qt/file_name_edit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

namespace importacao {

const QString FileNameEdit::kFilter = QStringLiteral("All files (*.*)");

namespace {

QString askForFile(QWidget* parent, const QString& start) {
  return QFileDialog::getOpenFileName(parent, QString(), start, FileNameEdit::kFilter);
}

}  // namespace

FileNameEdit::FileNameEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)),
      chooser_(askForFile) {
  button_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  button_->setFocusPolicy(Qt::NoFocus);  // the box takes one tab stop, as one control
  button_->setCursor(Qt::ArrowCursor);
  // The tab stop is the edit box's. (A focus proxy on the box would put the box itself in the
  // tab chain at its place among the page's children, ahead of the tab order set for the page.)
  connect(button_, &QToolButton::clicked, this, &FileNameEdit::browse);
}

QString FileNameEdit::text() const { return edit_->text(); }

void FileNameEdit::setText(const QString& text) { edit_->setText(text); }

void FileNameEdit::acceptChosen(const QString& path) {
  if (path.isEmpty()) return;
  const QString native = QDir::toNativeSeparators(path);
  edit_->setText(native.contains(QLatin1Char(' ')) ? QLatin1Char('"') + native + QLatin1Char('"')
                                                   : native);
}

void FileNameEdit::browse() {
  // Start in the folder of the file the box names (quotes removed), when that folder exists;
  // otherwise wherever the dialog likes.
  QString current = edit_->text().trimmed();
  if (current.size() >= 2 && current.startsWith(QLatin1Char('"'))) {
    current = current.mid(1, current.indexOf(QLatin1Char('"'), 1) - 1);
  }
  QString start;
  const QFileInfo info(current);
  if (!current.isEmpty() && info.isAbsolute()) {
    start = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    if (!QFileInfo(start).isDir()) start.clear();
  }
  acceptChosen(chooser_(this, start));
  edit_->setFocus();
}

void FileNameEdit::resizeEvent(QResizeEvent*) {
  // The button sits inside the box's width, square, at the right end.
  const int side = height();
  edit_->setGeometry(0, 0, width() - side, height());
  button_->setGeometry(width() - side, 0, side, height());
}

}  // namespace importacao
