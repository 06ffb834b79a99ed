#include "ui/StaticLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextOption>

namespace tv2 {

StaticLabel::StaticLabel(const QString& text, Qt::Alignment horizontal, QWidget* parent)
    : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(horizontal | Qt::AlignTop);
  setAutoFillBackground(false);
  setAttribute(Qt::WA_TranslucentBackground, false);
}

void StaticLabel::paintEvent(QPaintEvent* /*event*/) {
  if (text().isEmpty()) return;
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  QTextOption option(alignment());
  option.setWrapMode(QTextOption::WordWrap);
  option.setTabStopDistance(8.0 * QFontMetrics(font()).averageCharWidth());
  // Whatever does not fit is cut at the control's edge, as a static control does.
  painter.setClipRect(rect());
  painter.drawText(QRectF(rect()), text(), option);
}

}  // namespace tv2
