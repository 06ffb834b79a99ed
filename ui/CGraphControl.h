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
// samples and runs no timer: the owning view calls AdvanceGrid and refresh()
// once per display tick, which copies the bound counter's history, reads the
// sample clock and brings the kept image up to date.
//
// What the window shows of the control always equals the kept image once the
// window system has repainted what it was asked to: a tick scrolls the plot's
// band on screen by the pixels the clock moved (the window's backing store
// moves them, nobody copies them) and asks for a repaint of only the columns
// the tick changed, which the paint event then copies from the kept image.
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

  // Brings the kept image to the current clock, history and fields and asks
  // for a repaint of what changed on screen. A hidden control does nothing:
  // being shown repaints it whole, which brings it up to date.
  void refresh();

  // The control as its next repaint shows it, border included, at the
  // widget's size and the current sample clock (a refresh() that returns the
  // kept image).
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
  // Hidden by its view, the control frees its kept image; shown again it is
  // painted whole anyway.
  void hideEvent(QHideEvent* event) override;

 private:
  // Brings the kept image up to date, and asks for a repaint of what changed
  // on screen when the control is shown.
  void bringUpToDate();
  // Brings the kept image up to date without telling the window system.
  void paintBuffer();

  // The off-screen image, kept between paints so that a tick redraws only
  // what it changed.
  GraphCanvas m_canvas;
  GraphSnapshot m_snapshot;
};

}  // namespace tv2
