// The progress gauge of the run page: a horizontal bar filled in proportion to position over
// maximum, with the whole percentage written across it.
#pragma once

#include <QWidget>

#include "app/run/gauge.h"

namespace importacao {

class GaugeWidget : public QWidget {
  Q_OBJECT

 public:
  explicit GaugeWidget(QWidget* parent = nullptr);

  // The rules are GaugeModel's: a position outside 0..maximum is taken as the nearer bound;
  // lowering the maximum below the position lowers the position with it. A negative maximum is
  // taken as 0 (the run refuses one before it gets here). Each repaints.
  void setMaxValue(int value);
  void setProgress(int value);
  int maxValue() const noexcept { return model_.maximum(); }
  int progress() const noexcept { return model_.position(); }
  // Whole percent of position over maximum, rounded down; 0 when the maximum is 0.
  int percentDone() const noexcept { return model_.percent(); }
  // The text drawn on the bar, e.g. "42%".
  QString text() const;

  QSize sizeHint() const override { return {100, 25}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Look {  // what the operator sees: the percentage and the bar's length in pixels
    int percent;
    int filled;
    friend bool operator==(const Look&, const Look&) = default;
  };
  Look look() const noexcept;
  int filledWidth(int innerWidth) const noexcept;  // innerWidth: inside the frame

  GaugeModel model_;
};

}  // namespace importacao
