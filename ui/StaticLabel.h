#pragma once

#include <QLabel>

namespace tv2 {

// A static text control as the form templates describe it: plain text drawn
// from the top of the control, words wrapped, tabs expanded to stops eight
// average characters apart, and no background of its own, so the view's white
// shows through. The text colour is the palette's window-text colour.
class StaticLabel : public QLabel {
  Q_OBJECT

 public:
  StaticLabel(const QString& text, Qt::Alignment horizontal, QWidget* parent);

  // Rows of "caption\tvalue" (a run of tabs counts as one): with a value
  // column set, the caption is drawn at the left and the value from x on,
  // on one line, so rows given the same x line up whatever their captions'
  // widths. What does not fit is cut with "…" instead of wrapping onto the
  // row below. A text without a tab, or a column of -1 (the default), is
  // drawn as above.
  void setValueColumn(int x);
  int valueColumn() const { return m_valueColumn; }
  // The width of the text before the first tab in the label's font.
  int captionWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void paintColumns(QPainter& painter, qsizetype tab);

  int m_valueColumn = -1;
};

}  // namespace tv2
