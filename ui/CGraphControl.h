#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

#include "ui/GraphCanvas.h"
#include "ui/GraphFields.h"
#include "ui/GraphSnapshot.h"

namespace tv2 {

class CCounter;

// One counter's recent history as a scrolling, filled step chart. It keeps no
// samples and runs no timer: every paint copies the bound counter's history
// and reads the sample clock, and the owning view calls AdvanceGrid and
// update() once per display tick.
//
// The owner reads and writes the fields (GraphFields, source) directly and
// then asks for a repaint. The control takes the geometry of its placeholder,
// border included: it draws the one-pixel frame itself and the graph inside.
class CGraphControl : public QWidget, public GraphFields {
  Q_OBJECT

 public:
  explicit CGraphControl(QWidget* parent = nullptr);

  // Moves the vertical grid lines along with the data by one tick.
  void AdvanceGrid();

  // The control as its next repaint shows it, border included, at the
  // widget's size and the current sample clock.
  QImage renderImage();

  // What the last repaint did (full, partial, nothing changed).
  const GraphCanvas& canvas() const { return m_canvas; }

  // Called once, on the user-interface thread, by the first paint of any
  // graph that reaches the screen with at least one point (start-up timing).
  static void setFirstPointObserver(std::function<void()> observer);

  // The counter whose history is drawn; not owned. The owning view clears it
  // before the counter is deleted.
  CCounter* source = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void paintBuffer();

  // The off-screen image, kept between paints so that a tick redraws only
  // what it changed.
  GraphCanvas m_canvas;
  GraphSnapshot m_snapshot;
};

}  // namespace tv2
