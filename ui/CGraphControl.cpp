#include "ui/CGraphControl.h"

#include <QPainter>

#include <cstdint>

#include "counters/model/SampleClock.h"
#include "ui/GraphPainter.h"

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
  const QSize size = this->size();
  if (m_buffer.size() != size) {
    m_buffer = size.isEmpty() ? QImage() : QImage(size, QImage::Format_RGB32);
  }
  if (m_buffer.isNull()) return;
  m_snapshot.capture(source);
  // Read after the copy: the clock only moves forward, so no copied point can
  // be stamped later than this.
  const uint32_t clock = SampleClock::now();
  GraphPainter::paintFramed(m_buffer, *this, m_snapshot, clock);
}

QImage CGraphControl::renderImage() {
  paintBuffer();
  return m_buffer;
}

void CGraphControl::paintEvent(QPaintEvent* /*event*/) {
  paintBuffer();
  if (m_buffer.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, m_buffer);
  if (m_snapshot.count() > 0 && firstPointObserver()) {
    std::function<void()> observer = std::move(firstPointObserver());
    firstPointObserver() = nullptr;
    observer();
  }
}

}  // namespace tv2
