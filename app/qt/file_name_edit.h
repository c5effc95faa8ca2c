// The file-name box of the settings page: a one-line edit box with a browse button at its
// right end that opens the system's file-open dialog.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLineEdit;
class QToolButton;

namespace importacao {

class FileNameEdit : public QWidget {
  Q_OBJECT

 public:
  // The dialog's filter; the caption and the patterns are the same text.
  static const QString kFilter;

  // Asks the operator for a file; returns the chosen path, or an empty string when cancelled.
  // Tests replace it to stand in for the system's dialog.
  using Chooser = std::function<QString(QWidget* parent, const QString& start)>;

  explicit FileNameEdit(QWidget* parent = nullptr);

  // The box's raw text, as typed or as the browse button put it there.
  QString text() const;
  void setText(const QString& text);

  QLineEdit* lineEdit() const noexcept { return edit_; }
  QToolButton* button() const noexcept { return button_; }

  void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }

  // Puts a chosen path into the box: in double quotes when it holds a blank, so that the
  // text still reads as one file name when it is split like a command line.
  void acceptChosen(const QString& path);

 public slots:
  void browse();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* edit_;
  QToolButton* button_;
  Chooser chooser_;
};

}  // namespace importacao
