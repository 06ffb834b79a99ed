#pragma once

#include <QColor>

#include <cstdint>

namespace tv2 {

// The settings of one graph that its owning view reads and writes directly
// before asking for a repaint. Kept apart from the widget so that the painting
// code (and its tests and benchmark) can work without a QWidget.
struct GraphFields {
  // Non-zero: the area around the plot is light grey (the selected slot).
  int32_t selected = 0;
  // Draw the grid, and with showScale the scale labels.
  int32_t showGrid = 1;
  // Reserve a 30-pixel margin right of the plot for the scale labels.
  int32_t showScale = 1;
  QColor fillColour{125, 204, 227};
  int32_t gridSpacingX = 50;
  int32_t gridSpacingY = 15;
  // Added to scrollOffset on every display tick.
  int32_t scrollStep = 1;
  // Distance of the rightmost vertical grid line from the plot's right edge,
  // 0 .. gridSpacingX - 1.
  int32_t scrollOffset = 0;
};

}  // namespace tv2
