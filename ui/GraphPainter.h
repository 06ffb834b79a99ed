#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QtGui/qrgb.h>

#include <cstdint>

#include "ui/GraphFields.h"
#include "ui/GraphSnapshot.h"

namespace tv2 {

// Paints a graph into a 32-bit image. Every line is horizontal or vertical and
// is written as a fill straight into the image, so the pixel rules hold
// exactly: a rectangle covers its left and top edges but not its right and
// bottom ones, and a line from a to b covers a but not b.
class GraphPainter {
 public:
  // Edges of a rectangle in client coordinates, right and bottom excluded.
  // A plot squeezed by its margins may have zero or negative width or height.
  struct Edges {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
  };

  static constexpr int kMarginLeft = 8;
  static constexpr int kMarginTop = 10;
  static constexpr int kMarginBottom = 8;
  static constexpr int kMarginRight = 8;
  static constexpr int kMarginRightWithScale = 30;
  // One pixel of the plot per 100 ms of the sample clock.
  static constexpr double kMillisecondsPerPixel = 100.0;

  static constexpr QRgb kSurroundColour = 0xFFFFFFFFu;
  static constexpr QRgb kSurroundSelectedColour = 0xFFE6E6E6u;
  static constexpr QRgb kPlotColour = 0xFFE0F7FEu;
  static constexpr QRgb kOutlineColour = 0xFF69B6CEu;
  static constexpr QRgb kGridColour = 0xFFABC6E8u;
  static constexpr QRgb kLabelTextColour = 0xFF6273C3u;
  static constexpr QRgb kLabelBackgroundColour = 0xFFFFFFFFu;
  // The one-pixel frame a bordered child window gets on the desktop the
  // program comes from (its window-frame system colour).
  static constexpr QRgb kBorderColour = 0xFF646464u;
  static constexpr int kBorderWidth = 1;

  // The plot rectangle inside a client area of width x height at 0, 0.
  static Edges plotEdges(const GraphFields& fields, int width, int height);

  // Paints the client area `client` of `image` (32-bit formats only; others
  // are left alone). Nothing outside `client` is touched.
  static void paint(QImage& image, const QRect& client, const GraphFields& fields,
                    const GraphSnapshot& data, uint32_t sampleClock);

  // The same, writing only the pixels inside `region` (client coordinates).
  // Every pixel there comes out exactly as a whole paint leaves it.
  static void paint(QImage& image, const QRect& client, const GraphFields& fields,
                    const GraphSnapshot& data, uint32_t sampleClock, const QRect& region);

  // The pixels a line from the pen (penX, penY) to (x, y) covers: the start
  // pixel but not the end one. Only horizontal and vertical lines draw.
  static Edges lineCover(int penX, int penY, int x, int y);

  // Walks the newest-first step chart of `data` in `plot`, telling `sink`
  // what to draw: sink.fill(left, top, right, bottom) for the area under a
  // level, sink.moveTo(x, y) and sink.lineTo(x, y) for the outline. Defined
  // in GraphDataWalk.h.
  template <class Sink>
  static void walkData(const Edges& plot, const GraphSnapshot& data, uint32_t sampleClock,
                       Sink& sink);

  // Whether column x carries a vertical grid line.
  static bool isGridColumn(const Edges& plot, const GraphFields& fields, int x);

  // Paints the whole image as the control shows it: a one-pixel border and
  // the client area inside it.
  static void paintFramed(QImage& image, const GraphFields& fields, const GraphSnapshot& data,
                          uint32_t sampleClock);

  // The level a scale label gives for the grid line `distance` pixels above
  // the plot's bottom edge; 0 for a plot without height.
  static float scaleLabelValue(int distance, int32_t maxValue, int plotHeight);

  // One decimal when there are more grid rows than units of full scale (the
  // integers would repeat), else the value truncated toward zero.
  static QString scaleLabelText(float value, int rows, int32_t maxValue);

 private:
  struct PixelSink;

  GraphPainter(QImage& image, const QRect& client);
  static void paintClipped(QImage& image, const QRect& client, const GraphFields& fields,
                           const GraphSnapshot& data, uint32_t sampleClock, const QRect* region);

  void fill(int left, int top, int right, int bottom, QRgb colour);
  void moveTo(int x, int y);
  void lineTo(int x, int y, QRgb colour);

  void paintGrid(const Edges& plot, const GraphFields& fields);
  void paintLabels(const Edges& plot, const GraphFields& fields, int32_t maxValue);

  QImage& m_image;
  uchar* m_bits = nullptr;
  qsizetype m_stride = 0;
  // The client area's origin in the image and its visible part, in client
  // coordinates (left, top included; right, bottom excluded).
  int m_originX = 0;
  int m_originY = 0;
  Edges m_clip;
  int m_penX = 0;
  int m_penY = 0;
};

}  // namespace tv2
