#include "ui/CGraphControl.h"

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

QImage CGraphControl::renderImage() {
  paintBuffer();
  return m_canvas.composed();
}

void CGraphControl::paintEvent(QPaintEvent* event) {
  paintBuffer();
  if (m_canvas.size().isEmpty()) return;
  QPainter painter(this);
  // Only what the window system asks for: an exposed part, or the whole
  // control after update().
  for (const QRect& rect : event->region()) m_canvas.draw(painter, rect);
  painter.end();
  if (m_snapshot.count() > 0 && firstPointObserver()) {
    std::function<void()> observer = std::move(firstPointObserver());
    firstPointObserver() = nullptr;
    observer();
  }
}

}  // namespace tv2
