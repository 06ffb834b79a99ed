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

void StaticLabel::setValueColumn(int x) {
  if (x == m_valueColumn) return;
  m_valueColumn = x;
  update();
}

int StaticLabel::captionWidth() const {
  const QString all = text();
  const qsizetype tab = all.indexOf(QLatin1Char('\t'));
  return QFontMetrics(font()).horizontalAdvance(tab < 0 ? all : all.left(tab));
}

void StaticLabel::paintEvent(QPaintEvent* /*event*/) {
  if (text().isEmpty()) return;
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const qsizetype tab = text().indexOf(QLatin1Char('\t'));
  if (m_valueColumn >= 0 && tab >= 0) {
    paintColumns(painter, tab);
    return;
  }
  QTextOption option(alignment());
  option.setWrapMode(QTextOption::WordWrap);
  option.setTabStopDistance(8.0 * QFontMetrics(font()).averageCharWidth());
  // Whatever does not fit is cut at the control's edge, as a static control does.
  painter.setClipRect(rect());
  painter.drawText(QRectF(rect()), text(), option);
}

}  // namespace tv2

namespace tv2 {

void StaticLabel::paintColumns(QPainter& painter, qsizetype tab) {
  const QString all = text();
  qsizetype valueStart = tab;
  while (valueStart < all.size() && all[valueStart] == QLatin1Char('\t')) ++valueStart;
  QString value = all.mid(valueStart);
  while (value.endsWith(QLatin1Char('\n'))) value.chop(1);

  const QFontMetrics metrics(font());
  const int baseline = metrics.ascent();
  painter.setClipRect(rect());
  painter.drawText(QPoint(0, baseline), metrics.elidedText(all.left(tab), Qt::ElideRight, width()));
  const int room = width() - m_valueColumn;
  if (room > 0 && !value.isEmpty()) {
    painter.drawText(QPoint(m_valueColumn, baseline), metrics.elidedText(value, Qt::ElideRight, room));
  }
}

}  // namespace tv2
