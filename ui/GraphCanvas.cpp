#include "ui/GraphCanvas.h"

#include <QRect>
#include <QRegion>

#include <algorithm>
#include <cstring>
#include <utility>

#include "ui/GraphDataWalk.h"

namespace tv2 {
namespace {

using Edges = GraphPainter::Edges;
using ColumnInk = GraphCanvas::ColumnInk;

// Sample-clock milliseconds per plot pixel, as an integer for the shift.
constexpr uint32_t kPixelMilliseconds = static_cast<uint32_t>(GraphPainter::kMillisecondsPerPixel);
// Dirty runs closer than this are painted as one: each run walks the data
// once, which costs more than a few extra columns.
constexpr int kRunMergeGap = 8;
// Columns of room beside the band: at one pixel a tick its pixels are
// copied back once every 6.4 seconds, and the room costs little memory.
constexpr int kBandSlack = 64;

// Receives the data walk and notes, per column, what it would have painted.
struct ColumnRecorder {
  const Edges& plot;
  std::vector<ColumnInk>& columns;
  bool inside = true;
  int penX = 0;
  int penY = 0;

  ColumnInk* column(int x) {
    if (x < plot.left || x > plot.right) {
      inside = false;
      return nullptr;
    }
    return &columns[static_cast<size_t>(x - plot.left)];
  }
  // Rows outside the plot band (one row above the plot for a full-scale
  // level, down to the plot's bottom) are not shifted by a partial paint.
  bool inBand(int top, int bottom) {
    if (top < plot.top - 1 || bottom > plot.bottom) inside = false;
    return inside;
  }

  void fill(int left, int top, int right, int bottom) {
    if (left >= right || top >= bottom || !inBand(top, bottom)) return;
    for (int x = left; x < right; ++x) {
      ColumnInk* ink = column(x);
      if (ink == nullptr) return;
      // Only a single fill reaching the bottom, before any outline, reduces
      // to fillTop.
      if (bottom != plot.bottom || ink->fillTop != ColumnInk::kNoRow ||
          ink->outlineTop != ColumnInk::kNoRow) {
        ink->mixed = true;
      }
      ink->fillTop = top;
    }
  }
  void moveTo(int x, int y) {
    penX = x;
    penY = y;
  }
  void lineTo(int x, int y) {
    const Edges cover = GraphPainter::lineCover(penX, penY, x, y);
    penX = x;
    penY = y;
    if (cover.width() <= 0 || cover.height() <= 0 || !inBand(cover.top, cover.bottom)) return;
    const int last = cover.bottom - 1;
    for (int cx = cover.left; cx < cover.right; ++cx) {
      ColumnInk* ink = column(cx);
      if (ink == nullptr) return;
      if (ink->outlineTop == ColumnInk::kNoRow) {
        ink->outlineTop = cover.top;
        ink->outlineBottom = last;
      } else if (cover.top <= ink->outlineBottom + 1 && last >= ink->outlineTop - 1) {
        // One colour: touching or overlapping runs are one run.
        ink->outlineTop = std::min(ink->outlineTop, cover.top);
        ink->outlineBottom = std::max(ink->outlineBottom, last);
      } else {
        ink->mixed = true;
      }
    }
  }
};

}  // namespace

bool GraphCanvas::recordColumns(const Edges& plot, const GraphSnapshot& data, uint32_t sampleClock,
                                std::vector<ColumnInk>& columns) {
  columns.assign(static_cast<size_t>(std::max(plot.width() + 1, 0)), ColumnInk{});
  if (plot.width() <= 0 || plot.height() <= 0) return false;
  ColumnRecorder recorder{plot, columns};
  GraphPainter::walkData(plot, data, sampleClock, recorder);
  return recorder.inside;
}

void GraphCanvas::paint(QSize size, const GraphFields& fields, const GraphSnapshot& data,
                        uint32_t sampleClock) {
  m_lastShift = 0;
  m_paintedRects.clear();
  if (size.isEmpty()) {
    m_image = QImage();
    m_band = QImage();
    m_valid = false;
    m_lastPaint = Paint::kNone;
    m_lastColumns = 0;
    return;
  }
  if (m_image.size() != size) {
    m_image = QImage(size, QImage::Format_RGB32);
    m_valid = false;
  }
  const Key key{size,
                fields.selected,
                fields.showGrid,
                fields.showScale,
                fields.fillColour.rgb(),
                fields.gridSpacingX,
                fields.gridSpacingY,
                data.fullScale()};
  if (!(key == m_key)) m_valid = false;
  m_key = key;

  const int border = GraphPainter::kBorderWidth;
  const Edges plot = GraphPainter::plotEdges(fields, size.width() - 2 * border,
                                             size.height() - 2 * border);
  const bool recorded = recordColumns(plot, data, sampleClock, m_nextColumns);
  if (!recorded || !m_valid || m_band.isNull() ||
      !paintPartial(fields, data, sampleClock, plot)) {
    paintFull(fields, data, sampleClock, recorded ? &plot : nullptr);
    m_lastColumns = std::max(plot.width() + 1, 0);
    m_lastShift = 0;
    m_paintedRects.assign(1, m_image.rect());
  }
  m_valid = recorded;
  std::swap(m_columns, m_nextColumns);
  m_clock = sampleClock;
  m_scrollOffset = fields.scrollOffset;
}

void GraphCanvas::release() {
  m_image = QImage();
  m_band = QImage();
  m_valid = false;
  for (std::vector<ColumnInk>* columns : {&m_columns, &m_nextColumns}) {
    columns->clear();
    columns->shrink_to_fit();
  }
  m_dirty.clear();
  m_dirty.shrink_to_fit();
  m_paintedRects.clear();
  m_paintedRects.shrink_to_fit();
  m_lastPaint = Paint::kNone;
  m_lastColumns = 0;
  m_lastShift = 0;
}

void GraphCanvas::paintFull(const GraphFields& fields, const GraphSnapshot& data,
                            uint32_t sampleClock, const Edges* plot) {
  GraphPainter::paintFramed(m_image, fields, data, sampleClock);
  m_lastPaint = Paint::kFull;
  if (plot == nullptr) {
    m_band = QImage();
    return;
  }
  // The band: the plot's columns and the right edge's, from the row above
  // the plot (a full-scale level) to the plot's bottom.
  const int border = GraphPainter::kBorderWidth;
  const int top = std::max(plot->top - 1, 0);
  const int bottom = std::min(plot->bottom, m_image.height() - 2 * border);
  m_bandRect = QRect(border + plot->left, border + top, plot->width() + 1, bottom - top);
  const QSize bandSize(m_bandRect.width() + kBandSlack, m_bandRect.height());
  if (m_band.size() != bandSize) m_band = QImage(bandSize, QImage::Format_RGB32);
  m_bandStart = 0;
  const size_t bytes = static_cast<size_t>(m_bandRect.width()) * sizeof(QRgb);
  for (int y = 0; y < m_bandRect.height(); ++y) {
    std::memcpy(m_band.scanLine(y),
                m_image.constScanLine(m_bandRect.y() + y) + m_bandRect.x() * sizeof(QRgb), bytes);
  }
}

bool GraphCanvas::paintPartial(const GraphFields& fields, const GraphSnapshot& data,
                               uint32_t sampleClock, const Edges& plot) {
  // Unsigned: a clock that went back gives a huge interval and a full paint.
  const uint32_t elapsed = sampleClock - m_clock;
  if (elapsed / kPixelMilliseconds >= static_cast<uint32_t>(plot.width())) return false;
  const int shift = static_cast<int>(elapsed / kPixelMilliseconds);

  // Column x shows what old column x + shift showed, unless that lay beyond
  // the right edge's column, only one of them is that column (it has no plot
  // background), or their ink or grid line differs.
  GraphFields before = fields;
  before.scrollOffset = m_scrollOffset;
  const int span = plot.width() + 1;
  m_dirty.assign(static_cast<size_t>(span), 0);
  bool anyDirty = false;
  for (int i = 0; i < span; ++i) {
    const int x = plot.left + i;
    const int from = x + shift;
    bool dirty = from > plot.right || (from == plot.right) != (x == plot.right);
    if (!dirty) {
      const ColumnInk& now = m_nextColumns[static_cast<size_t>(i)];
      const ColumnInk& was = m_columns[static_cast<size_t>(i + shift)];
      dirty = now.mixed || was.mixed || !(now == was) ||
              GraphPainter::isGridColumn(plot, fields, x) !=
                  GraphPainter::isGridColumn(plot, before, from);
    }
    m_dirty[static_cast<size_t>(i)] = dirty ? 1 : 0;
    anyDirty = anyDirty || dirty;
  }
  if (!anyDirty && shift == 0) {
    m_lastPaint = Paint::kUnchanged;
    m_lastColumns = 0;
    return true;
  }
  if (shift > 0) slideBand(shift);
  m_lastShift = shift;

  // The painter works in client coordinates; placed so that plot column x
  // lands on band column m_bandStart + x - plot.left and client row y on band
  // row y - (top of the band).
  const int border = GraphPainter::kBorderWidth;
  const int bandTop = m_bandRect.y() - border;
  const QRect client(m_bandStart - plot.left, -bandTop, m_image.width() - 2 * border,
                     m_image.height() - 2 * border);
  m_lastColumns = 0;
  int i = 0;
  while (i < span) {
    if (m_dirty[static_cast<size_t>(i)] == 0) {
      ++i;
      continue;
    }
    // A run of dirty columns, with short clean gaps taken along.
    int end = i + 1;
    int gap = 0;
    for (int j = end; j < span && gap <= kRunMergeGap; ++j) {
      if (m_dirty[static_cast<size_t>(j)] != 0) {
        end = j + 1;
        gap = 0;
      } else {
        ++gap;
      }
    }
    GraphPainter::paint(m_band, client, fields, data, sampleClock,
                        QRect(plot.left + i, bandTop, end - i, m_bandRect.height()));
    m_paintedRects.emplace_back(border + plot.left + i, m_bandRect.y(), end - i, m_bandRect.height());
    m_lastColumns += end - i;
    i = end;
  }
  m_lastPaint = Paint::kPartial;
  return true;
}

// Moves the band left by `pixels`: its start moves right, and when the slack
// is used up the columns still shown are copied back to the image's start.
// The uncovered columns on the right are dirty and painted afterwards.
void GraphCanvas::slideBand(int pixels) {
  const int span = m_bandRect.width();
  const int start = m_bandStart + pixels;
  if (start + span <= m_band.width()) {
    m_bandStart = start;
    return;
  }
  const size_t bytes = static_cast<size_t>(span - pixels) * sizeof(QRgb);
  for (int y = 0; y < m_band.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(m_band.scanLine(y));
    std::memmove(row, row + start, bytes);
  }
  m_bandStart = 0;
}

void GraphCanvas::draw(QPainter& painter, const QRect& rect) const {
  if (m_image.isNull()) return;
  if (m_band.isNull() || !rect.intersects(m_bandRect)) {
    painter.drawImage(rect.topLeft(), m_image, rect);
    return;
  }
  // A tick's columns lie inside the band: no region to work out.
  if (!m_bandRect.contains(rect)) {
    for (const QRect& part : QRegion(rect).subtracted(m_bandRect)) {
      painter.drawImage(part.topLeft(), m_image, part);
    }
  }
  const QRect inner = rect.intersected(m_bandRect);
  if (!inner.isEmpty()) {
    painter.drawImage(inner.topLeft(), m_band,
                      inner.translated(m_bandStart - m_bandRect.x(), -m_bandRect.y()));
  }
}

QImage GraphCanvas::composed() const {
  QImage whole = m_image.copy();
  if (whole.isNull() || m_band.isNull()) return whole;
  const size_t bytes = static_cast<size_t>(m_bandRect.width()) * sizeof(QRgb);
  for (int y = 0; y < m_bandRect.height(); ++y) {
    std::memcpy(whole.scanLine(m_bandRect.y() + y) + m_bandRect.x() * sizeof(QRgb),
                m_band.constScanLine(y) + m_bandStart * sizeof(QRgb), bytes);
  }
  return whole;
}

}  // namespace tv2
