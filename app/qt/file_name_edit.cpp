#include "app/qt/file_name_edit.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

#include "app/run/window_common.h"
#include "app/run/window_layout.h"

namespace importacao {

const QString FileNameEdit::kFilter =
    QString::fromUtf8(layout::kFileFilterName.data(), qsizetype(layout::kFileFilterName.size()));

namespace {

QString askForFile(QWidget* parent, const QString& start) {
  return QFileDialog::getOpenFileName(parent, QString(), start, FileNameEdit::kFilter);
}

}  // namespace

FileNameEdit::FileNameEdit(QWidget* parent)
    : QWidget(parent),
      edit_(new QLineEdit(this)),
      button_(new QToolButton(this)),
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
  edit_->setText(QString::fromStdString(fileBoxText(QDir::toNativeSeparators(path).toStdString())));
}

void FileNameEdit::browse() {
  // Start in the folder of the file the box names (quotes removed), when that folder exists;
  // otherwise wherever the dialog likes.
  const QString start = QString::fromStdString(browseStartFolder(edit_->text().toStdString()));
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
