#include "ui/CGraphControl.h"

#include <QBackingStore>
#include <QPaintEngine>
#include <QHideEvent>
#include <QPaintEvent>
#include <QPainter>

#include <cstdint>

#include "counters/model/SampleClock.h"

namespace tv2 {
namespace {

// User-interface thread only: set before the window shows, taken by the first
// paint with a point.
std::function<void()>& firstPointObserver() {
  static std::function<void()> observer;
  return observer;
}

}  // namespace

void CGraphControl::setFirstPointObserver(std::function<void()> observer) {
  firstPointObserver() = std::move(observer);
}

CGraphControl::CGraphControl(QWidget* parent) : QWidget(parent) {
  // The paint covers every pixel; erasing first would only flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
}

void CGraphControl::AdvanceGrid() {
  if (gridSpacingX <= 0) {
    scrollOffset = 0;
    return;
  }
  // Widened so that an odd step set by the owner cannot overflow.
  int64_t next = int64_t{scrollOffset} + scrollStep;
  if (next >= gridSpacingX) {
    next = 0;
  } else if (next < 0) {
    next %= gridSpacingX;
    if (next < 0) next += gridSpacingX;
  }
  scrollOffset = static_cast<int32_t>(next);
}

void CGraphControl::paintBuffer() {
  m_snapshot.capture(source);
  // Read after the copy: the clock only moves forward, so no copied point can
  // be stamped later than this.
  const uint32_t clock = SampleClock::now();
  m_canvas.paint(size(), *this, m_snapshot, clock);
}

void CGraphControl::refresh() {
  // A hidden control is painted whole when it is shown, which brings its
  // image up to date then. In a minimised window nothing is seen: the image
  // and the window's pixels stay as they are, together, and the first tick
  // after the window comes back moves both by the whole time gone.
  if (isVisible() && !window()->isMinimized()) bringUpToDate();
}

void CGraphControl::bringUpToDate() {
  paintBuffer();
  // Scrolling and update() do nothing for a hidden control.
  if (!isVisible()) return;
  switch (m_canvas.lastPaint()) {
    case GraphCanvas::Paint::kNone:
    case GraphCanvas::Paint::kUnchanged:
      return;
    case GraphCanvas::Paint::kFull:
      update();
      return;
    case GraphCanvas::Paint::kPartial:
      break;
  }
  // The band on screen moves as the kept band moved; Qt carries along any
  // part still waiting for a repaint and repaints the uncovered columns, or
  // the whole band where it cannot move the pixels.
  if (m_canvas.lastShift() > 0) scroll(-m_canvas.lastShift(), 0, m_canvas.bandRect());
  for (const QRect& rect : m_canvas.lastPaintedRects()) update(rect);
}

QImage CGraphControl::renderImage() {
  bringUpToDate();
  return m_canvas.composed();
}

void CGraphControl::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  // A repaint of the whole control brings the kept image up to date. A part
  // is copied from the image as the last refresh left it, because the rest of
  // the control on screen shows that state: bringing the image further here
  // would move it away from the pixels around the part.
  const QRegion& region = event->region();
  const bool whole = region.rectCount() == 1 && region.boundingRect().contains(rect());
  if (whole || m_canvas.size() != size()) {
    paintBuffer();
    const GraphCanvas::Paint paint = m_canvas.lastPaint();
    const bool changed = paint == GraphCanvas::Paint::kFull || paint == GraphCanvas::Paint::kPartial;
    // Painted only in part, or painted somewhere other than the window
    // (grab(), render()), the change must still reach the window.
    QBackingStore* store = backingStore();
    const bool toWindow = store != nullptr && painter.paintEngine() != nullptr &&
                          painter.paintEngine()->paintDevice() == store->paintDevice();
    if (changed && isVisible() && (!whole || !toWindow)) update();
  }
  if (m_canvas.size().isEmpty()) return;
  // Only what the window system asks for: the columns a tick changed, an
  // exposed part, or the whole control. Each rectangle of a region is drawn
  // through its own clip rectangle: Qt copies an image through one clip
  // rectangle row by row, but through a clip region of several it takes its
  // general blending, which hands the rows to a thread pool and waits for it.
  const bool several = region.rectCount() > 1;
  for (const QRect& rect : region) {
    if (several) painter.setClipRect(rect);
    m_canvas.draw(painter, rect);
  }
  painter.end();
  if (m_snapshot.count() > 0 && firstPointObserver()) {
    std::function<void()> observer = std::move(firstPointObserver());
    firstPointObserver() = nullptr;
    observer();
  }
}

void CGraphControl::hideEvent(QHideEvent* event) {
  // Not when the window system hides the window (minimised): the backing
  // store keeps the window's pixels, and the image must stay what they show.
  if (!event->spontaneous()) m_canvas.release();
  QWidget::hideEvent(event);
}

}  // namespace tv2
