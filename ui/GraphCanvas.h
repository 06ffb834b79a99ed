#pragma once

#include <QImage>
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
// whole pixels: the plot's rows are shifted by that many pixels and only the
// columns whose content differs from their shifted old content are painted
// again, by the same painter, clipped to them. Every pixel comes out exactly
// as a full repaint would leave it; anything else (a new size, other
// settings, a new full scale, the clock going back) paints the whole image.
class GraphCanvas {
 public:
  enum class Paint { kNone, kFull, kPartial, kUnchanged };

  // Brings the image to the state given and returns it. An empty size gives
  // a null image.
  const QImage& paint(QSize size, const GraphFields& fields, const GraphSnapshot& data,
                      uint32_t sampleClock);

  const QImage& image() const { return m_image; }
  // What the last paint did, and how many plot columns it painted again
  // (every column for a full paint).
  Paint lastPaint() const { return m_lastPaint; }
  int lastPaintedColumns() const { return m_lastColumns; }
  // The next paint is a full one.
  void invalidate() { m_valid = false; }

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

  void paintFull(const GraphFields& fields, const GraphSnapshot& data, uint32_t sampleClock);
  bool paintPartial(const GraphFields& fields, const GraphSnapshot& data, uint32_t sampleClock,
                    const GraphPainter::Edges& plot);
  void shiftPlot(const GraphPainter::Edges& plot, int top, int bottom, int pixels);

  QImage m_image;
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
};

}  // namespace tv2
