#include "app/gauge_widget.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace importacao {

GaugeWidget::GaugeWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void GaugeWidget::setMaxValue(int value) {
  model_.setMaximum(std::max(0, value));
  update();
}

void GaugeWidget::setProgress(int value) {
  model_.setPosition(value);
  update();
}

QString GaugeWidget::text() const { return QStringLiteral("%1%").arg(percentDone()); }

void GaugeWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const QRect outer = rect();

  // A sunken frame around a white field, filled from the left.
  QStyleOptionFrame frame;
  frame.initFrom(this);
  frame.rect = outer;
  frame.lineWidth = 1;
  frame.state |= QStyle::State_Sunken;
  painter.fillRect(outer, pal.color(QPalette::Base));
  style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);

  const QRect inner = outer.adjusted(2, 2, -2, -2);
  const int filledWidth =
      model_.maximum() == 0
          ? 0
          : static_cast<int>(static_cast<long long>(inner.width()) * model_.position() /
                             model_.maximum());
  const QRect filled(inner.left(), inner.top(), filledWidth, inner.height());
  painter.fillRect(filled, pal.color(QPalette::Highlight));

  // The percentage reads in the text colour over the empty part and in the highlighted text
  // colour over the bar, so it stays legible wherever the bar's edge cuts it.
  const QString label = text();
  painter.save();
  painter.setClipRect(inner.adjusted(filledWidth, 0, 0, 0));
  painter.setPen(pal.color(QPalette::Text));
  painter.drawText(inner, Qt::AlignCenter, label);
  painter.restore();
  painter.setClipRect(filled);
  painter.setPen(pal.color(QPalette::HighlightedText));
  painter.drawText(inner, Qt::AlignCenter, label);
}

}  // namespace importacao
