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

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tv2
