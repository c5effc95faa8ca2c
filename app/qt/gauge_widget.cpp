#include "app/qt/gauge_widget.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace importacao {

namespace {
constexpr int kFrame = 2;  // pixels of frame on each side of the bar
}  // namespace

GaugeWidget::GaugeWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

// A run moves the gauge after every record; most moves change neither the bar's length in
// pixels nor the percentage, and repainting for those would cost more than the record's log.
void GaugeWidget::setMaxValue(int value) {
  const Look before = look();
  model_.setMaximum(std::max(0, value));
  if (look() != before) update();
}

void GaugeWidget::setProgress(int value) {
  const Look before = look();
  model_.setPosition(value);
  if (look() != before) update();
}

GaugeWidget::Look GaugeWidget::look() const noexcept {
  return Look{percentDone(), filledWidth(width() - 2 * kFrame)};
}

int GaugeWidget::filledWidth(int innerWidth) const noexcept {
  return model_.filledWidth(innerWidth);
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

  const QRect inner = outer.adjusted(kFrame, kFrame, -kFrame, -kFrame);
  const int filled = filledWidth(inner.width());
  const QRect bar(inner.left(), inner.top(), filled, inner.height());
  painter.fillRect(bar, pal.color(QPalette::Highlight));

  // The percentage reads in the text colour over the empty part and in the highlighted text
  // colour over the bar, so it stays legible wherever the bar's edge cuts it.
  const QString label = text();
  painter.save();
  painter.setClipRect(inner.adjusted(filled, 0, 0, 0));
  painter.setPen(pal.color(QPalette::Text));
  painter.drawText(inner, Qt::AlignCenter, label);
  painter.restore();
  painter.setClipRect(bar);
  painter.setPen(pal.color(QPalette::HighlightedText));
  painter.drawText(inner, Qt::AlignCenter, label);
}

}  // namespace importacao
