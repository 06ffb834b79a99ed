#pragma once

#include <QWidget>

class QMouseEvent;

namespace tv2 {

// The bar between the splitter's two columns. It reports where the user drags
// it (in its parent's coordinates) and when the button is released; the
// splitter decides what the columns do.
class SplitterBar : public QWidget {
  Q_OBJECT

 public:
  explicit SplitterBar(QWidget* parent);

 signals:
  // x is where the bar's left edge would go: the pointer less where the bar
  // was grabbed.
  void dragged(int x);
  void released(int x);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int barLeft(QMouseEvent* event) const;

  bool m_dragging = false;
  int m_grabOffset = 0;  // pointer x within the bar at the press
};

}  // namespace tv2
