#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRgb>
#include <QSize>

#include <cstdint>
#include <vector>

#include "ui/GraphFields.h"
#include "ui/GraphPainter.h"
#include "ui/GraphSnapshot.h"

namespace tv2 {

// A graph's off-screen image, border included, kept from paint to paint so
// that a display tick redraws only what it changed. Between two paints with
// the same settings and size the clock moves the curve and the grid left by
// whole pixels: the plot's columns are moved by that many pixels and only the
// columns whose content differs from their moved old content are painted
// again, by the same painter, clipped to them. Every pixel comes out exactly
// as a full repaint would leave it; anything else (a new size, other
// settings, a new full scale, the clock going back) paints the whole image.
//
// The plot's band (its columns, from one row above it to its bottom) lives in
// an image wider than the band: moving it left is moving the band's start
// to the right, and its pixels are copied back to the start only when the
// slack runs out, once every 64 pixels. The rest of the graph
// (border, margins, labels) stays in a second image that only a full paint
// changes.
class GraphCanvas {
 public:
  enum class Paint { kNone, kFull, kPartial, kUnchanged };

  // Brings the graph to the state given. An empty size leaves no image.
  void paint(QSize size, const GraphFields& fields, const GraphSnapshot& data,
             uint32_t sampleClock);

  // Draws the part `rect` of the graph (graph coordinates) at its place.
  void draw(QPainter& painter, const QRect& rect) const;
  // The whole graph as one image (a copy); null before the first paint.
  QImage composed() const;
  QSize size() const { return m_image.size(); }
  // What the last paint did, and how many plot columns it painted again
  // (every column for a full paint).
  Paint lastPaint() const { return m_lastPaint; }
  int lastPaintedColumns() const { return m_lastColumns; }
  // Where the last paint changed the graph (graph coordinates), after the
  // band moved left by lastShift() pixels: the whole image for a full paint,
  // the repainted column runs for a partial one, nothing when unchanged. A
  // copy of the graph shifted in step and repainted there equals the image.
  int lastShift() const { return m_lastShift; }
  const std::vector<QRect>& lastPaintedRects() const { return m_paintedRects; }
  // The band the clock moves (graph coordinates); empty when none is kept.
  QRect bandRect() const { return m_band.isNull() ? QRect() : m_bandRect; }
  // The next paint is a full one.
  void invalidate() { m_valid = false; }
  // Frees the images and column records; the next paint is a full one.
  void release();

  // What the data walk leaves in one plot column: the area under the curve
  // from fillTop down to the plot's bottom and the outline over rows
  // outlineTop .. outlineBottom (inclusive). A column whose drawing does not
  // reduce to that ("mixed") never counts as unchanged.
  struct ColumnInk {
    int32_t fillTop = kNoRow;
    int32_t outlineTop = kNoRow;
    int32_t outlineBottom = kNoRow;
    bool mixed = false;
    bool operator==(const ColumnInk&) const = default;
    static constexpr int32_t kNoRow = INT32_MIN;
  };

  // Records the ink of every column from plot.left to plot.right inclusive
  // (the outline may reach the right edge's column). False when the walk
  // drew outside those columns, which the partial paint does not handle.
  static bool recordColumns(const GraphPainter::Edges& plot, const GraphSnapshot& data,
                            uint32_t sampleClock, std::vector<ColumnInk>& columns);

 private:
  // Settings that change pixels outside the plot's columns (surround,
  // labels, border) or all of them; any change repaints everything.
  struct Key {
    QSize size;
    int32_t selected = 0;
    int32_t showGrid = 0;
    int32_t showScale = 0;
    QRgb fill = 0;
    int32_t gridSpacingX = 0;
    int32_t gridSpacingY = 0;
    int32_t fullScale = 0;
    bool operator==(const Key&) const = default;
  };

  // Paints everything; with `plot` given, also takes the band from it.
  void paintFull(const GraphFields& fields, const GraphSnapshot& data, uint32_t sampleClock,
                 const GraphPainter::Edges* plot);
  bool paintPartial(const GraphFields& fields, const GraphSnapshot& data, uint32_t sampleClock,
                    const GraphPainter::Edges& plot);
  void slideBand(int pixels);

  // Everything but the live band; the band's area in it is stale.
  QImage m_image;
  // The band at columns m_bandStart .. m_bandStart + span - 1, and where it
  // goes in the graph. Null when the band is not kept (a degenerate plot).
  QImage m_band;
  int m_bandStart = 0;
  QRect m_bandRect;
  bool m_valid = false;
  Key m_key;
  uint32_t m_clock = 0;
  int32_t m_scrollOffset = 0;
  // The ink of the image's columns as last painted, and the next paint's.
  std::vector<ColumnInk> m_columns;
  std::vector<ColumnInk> m_nextColumns;
  std::vector<uint8_t> m_dirty;
  Paint m_lastPaint = Paint::kNone;
  int m_lastColumns = 0;
  int m_lastShift = 0;
  std::vector<QRect> m_paintedRects;
};

}  // namespace tv2
