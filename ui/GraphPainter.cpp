#include "ui/GraphPainter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ui/GraphDataWalk.h"

namespace tv2 {
namespace {

// Label font: the program's light 12-pixel Arial cell, i.e. about 11 pixels
// of em. fontconfig substitutes a metric-compatible sans-serif face where
// Arial is missing.
constexpr int kLabelFontPixels = 11;
constexpr int kLabelOffsetX = 2;
// A label's bottom edge sits this far below the grid line it names.
constexpr int kLabelDrop = 6;

// Truncation toward zero that stays defined for NaN and out-of-range values.
int truncToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(v);
}

bool isDirectFormat(QImage::Format format) {
  return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
         format == QImage::Format_ARGB32_Premultiplied;
}

// A grid offset the owner left out of range still draws lines inside the plot.
int wrapOffset(int offset, int spacing) {
  int wrapped = offset % spacing;
  return wrapped < 0 ? wrapped + spacing : wrapped;
}

}  // namespace

GraphPainter::Edges GraphPainter::plotEdges(const GraphFields& fields, int width, int height) {
  Edges plot;
  plot.left = kMarginLeft;
  plot.top = kMarginTop;
  plot.right = width - (fields.showScale != 0 ? kMarginRightWithScale : kMarginRight);
  plot.bottom = height - kMarginBottom;
  return plot;
}

GraphPainter::GraphPainter(QImage& image, const QRect& client) : m_image(image) {
  m_bits = image.bits();
  m_stride = image.bytesPerLine();
  m_originX = client.x();
  m_originY = client.y();
  QRect visible = client.intersected(image.rect());
  m_clip.left = visible.left() - m_originX;
  m_clip.top = visible.top() - m_originY;
  m_clip.right = m_clip.left + visible.width();
  m_clip.bottom = m_clip.top + visible.height();
}

void GraphPainter::fill(int left, int top, int right, int bottom, QRgb colour) {
  left = std::max(left, m_clip.left);
  top = std::max(top, m_clip.top);
  right = std::min(right, m_clip.right);
  bottom = std::min(bottom, m_clip.bottom);
  if (left >= right || top >= bottom) return;
  for (int y = top; y < bottom; ++y) {
    auto* row = reinterpret_cast<QRgb*>(m_bits + static_cast<qsizetype>(y + m_originY) * m_stride);
    std::fill(row + left + m_originX, row + right + m_originX, colour);
  }
}

void GraphPainter::moveTo(int x, int y) {
  m_penX = x;
  m_penY = y;
}

// Only horizontal and vertical lines occur. The start pixel is covered and
// the end pixel is not, in whichever direction the line runs.
GraphPainter::Edges GraphPainter::lineCover(int penX, int penY, int x, int y) {
  Edges cover;  // empty unless one of the cases below applies
  if (y == penY) {
    if (x > penX) cover = {penX, y, x, y + 1};
    if (x < penX) cover = {x + 1, y, penX + 1, y + 1};
  } else if (x == penX) {
    if (y > penY) cover = {x, penY, x + 1, y};
    if (y < penY) cover = {x, y + 1, x + 1, penY + 1};
  }
  return cover;
}

void GraphPainter::lineTo(int x, int y, QRgb colour) {
  const Edges cover = lineCover(m_penX, m_penY, x, y);
  fill(cover.left, cover.top, cover.right, cover.bottom, colour);
  m_penX = x;
  m_penY = y;
}

// Paints what the data walk asks for: the area under the curve in the fill
// colour, the outline with the outline pen.
struct GraphPainter::PixelSink {
  GraphPainter& painter;
  QRgb fillColour;
  void fill(int left, int top, int right, int bottom) {
    painter.fill(left, top, right, bottom, fillColour);
  }
  void moveTo(int x, int y) { painter.moveTo(x, y); }
  void lineTo(int x, int y) { painter.lineTo(x, y, kOutlineColour); }
};

void GraphPainter::paintGrid(const Edges& plot, const GraphFields& fields) {
  if (plot.width() <= 0 || plot.height() <= 0) return;
  // A spacing of 0 or less would never advance; such a grid has no lines.
  if (fields.gridSpacingY > 0) {
    for (int64_t y = int64_t{plot.top} + fields.gridSpacingY; y < plot.bottom;
         y += fields.gridSpacingY) {
      moveTo(plot.left, static_cast<int>(y));
      lineTo(plot.right, static_cast<int>(y), kGridColour);
    }
  }
  if (fields.gridSpacingX > 0) {
    const int offset = wrapOffset(fields.scrollOffset, fields.gridSpacingX);
    int64_t x = int64_t{plot.right} - offset;
    // Only the lines that reach the visible part are drawn.
    if (x >= m_clip.right) x -= (x - m_clip.right) / fields.gridSpacingX * fields.gridSpacingX;
    for (; x > plot.left && x >= m_clip.left; x -= fields.gridSpacingX) {
      moveTo(static_cast<int>(x), plot.top);
      lineTo(static_cast<int>(x), plot.bottom, kGridColour);
    }
  }
}

bool GraphPainter::isGridColumn(const Edges& plot, const GraphFields& fields, int x) {
  if (fields.showGrid == 0 || fields.gridSpacingX <= 0) return false;
  if (plot.width() <= 0 || plot.height() <= 0) return false;
  const int64_t rightmost =
      int64_t{plot.right} - wrapOffset(fields.scrollOffset, fields.gridSpacingX);
  return x > plot.left && x <= rightmost && (rightmost - x) % fields.gridSpacingX == 0;
}

float GraphPainter::scaleLabelValue(int distance, int32_t maxValue, int plotHeight) {
  if (plotHeight <= 0) return 0.0f;
  return static_cast<float>(distance) * static_cast<float>(maxValue) /
         static_cast<float>(plotHeight);
}

QString GraphPainter::scaleLabelText(float value, int rows, int32_t maxValue) {
  char text[64];
  if (rows > maxValue) {
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(value));
  } else {
    std::snprintf(text, sizeof text, "%d", truncToInt(static_cast<double>(value)));
  }
  return QString::fromLatin1(text);
}

void GraphPainter::paintLabels(const Edges& plot, const GraphFields& fields, int32_t maxValue) {
  const int plotHeight = plot.height();
  if (plot.width() <= 0 || plotHeight <= 0 || fields.gridSpacingY <= 0) return;
  const int rows = plotHeight / fields.gridSpacingY;
  const int x = plot.right + kLabelOffsetX;
  if (x >= m_clip.right) return;
  // The labels live in the margin right of the plot; the plot's columns are
  // never theirs, so that the plot can be redrawn without them.
  const int marginLeft = std::max(plot.right + 1, m_clip.left);
  if (marginLeft >= m_clip.right) return;

  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kLabelFontPixels);
  font.setWeight(QFont::Light);
  const QFontMetrics metrics(font);

  // The opaque backgrounds go in first, written like every other fill; the
  // text is then drawn over them by one painter. Each label is anchored at
  // its bottom-left corner.
  const int64_t end = int64_t{plot.bottom} + kLabelDrop;
  for (int64_t y = int64_t{plot.top} + kLabelDrop; y < end; y += fields.gridSpacingY) {
    const int yi = static_cast<int>(y);
    const QString text =
        scaleLabelText(scaleLabelValue(plot.bottom - yi + kLabelDrop, maxValue, plotHeight), rows,
                       maxValue);
    fill(x, yi - metrics.height(), x + metrics.horizontalAdvance(text), yi,
         kLabelBackgroundColour);
  }

  QPainter painter(&m_image);
  painter.setClipRect(QRect(m_originX + marginLeft, m_originY + m_clip.top,
                            m_clip.right - marginLeft, m_clip.height()));
  painter.setFont(font);
  painter.setPen(QColor::fromRgb(kLabelTextColour));
  for (int64_t y = int64_t{plot.top} + kLabelDrop; y < end; y += fields.gridSpacingY) {
    const int yi = static_cast<int>(y);
    const QString text =
        scaleLabelText(scaleLabelValue(plot.bottom - yi + kLabelDrop, maxValue, plotHeight), rows,
                       maxValue);
    painter.drawText(m_originX + x, m_originY + yi - metrics.descent(), text);
  }
}

void GraphPainter::paint(QImage& image, const QRect& client, const GraphFields& fields,
                         const GraphSnapshot& data, uint32_t sampleClock) {
  paintClipped(image, client, fields, data, sampleClock, nullptr);
}

void GraphPainter::paint(QImage& image, const QRect& client, const GraphFields& fields,
                         const GraphSnapshot& data, uint32_t sampleClock, const QRect& region) {
  paintClipped(image, client, fields, data, sampleClock, &region);
}

void GraphPainter::paintClipped(QImage& image, const QRect& client, const GraphFields& fields,
                                const GraphSnapshot& data, uint32_t sampleClock,
                                const QRect* region) {
  if (image.isNull() || !isDirectFormat(image.format())) return;
  if (client.width() <= 0 || client.height() <= 0) return;
  GraphPainter painter(image, client);
  if (region != nullptr) {
    Edges& clip = painter.m_clip;
    clip.left = std::max(clip.left, region->left());
    clip.top = std::max(clip.top, region->top());
    clip.right = std::min(clip.right, region->left() + region->width());
    clip.bottom = std::min(clip.bottom, region->top() + region->height());
  }
  if (painter.m_clip.width() <= 0 || painter.m_clip.height() <= 0) return;

  const int width = client.width();
  const int height = client.height();
  painter.fill(0, 0, width, height,
               fields.selected != 0 ? kSurroundSelectedColour : kSurroundColour);
  const Edges plot = plotEdges(fields, width, height);
  painter.fill(plot.left, plot.top, plot.right, plot.bottom, kPlotColour);
  PixelSink sink{painter, fields.fillColour.rgb()};
  walkData(plot, data, sampleClock, sink);
  if (fields.showGrid != 0) {
    // The grid goes over the data.
    painter.paintGrid(plot, fields);
    if (fields.showScale != 0) painter.paintLabels(plot, fields, data.fullScale());
  }
}

void GraphPainter::paintFramed(QImage& image, const GraphFields& fields,
                               const GraphSnapshot& data, uint32_t sampleClock) {
  if (image.isNull() || !isDirectFormat(image.format())) return;
  const int width = image.width();
  const int height = image.height();
  GraphPainter frame(image, image.rect());
  const int b = kBorderWidth;
  frame.fill(0, 0, width, b, kBorderColour);
  frame.fill(0, height - b, width, height, kBorderColour);
  frame.fill(0, b, b, height - b, kBorderColour);
  frame.fill(width - b, b, width, height - b, kBorderColour);
  const QRect client(kBorderWidth, kBorderWidth, width - 2 * kBorderWidth,
                     height - 2 * kBorderWidth);
  paint(image, client, fields, data, sampleClock);
}

}  // namespace tv2
