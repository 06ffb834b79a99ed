#pragma once

// Small pixel helpers shared by the graph tests.

#include <QImage>
#include <QRect>
#include <QtGui/qrgb.h>

#include <utility>
#include <vector>

#include "ui/GraphFields.h"
#include "ui/GraphPainter.h"
#include "ui/GraphSnapshot.h"

namespace tv2::test {

inline QRgb at(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }

inline int countColour(const QImage& image, const QRect& area, QRgb colour) {
  int n = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) n += at(image, x, y) == (colour | 0xFF000000u);
  }
  return n;
}

inline int countColour(const QImage& image, QRgb colour) {
  return countColour(image, image.rect(), colour);
}

// A graph painted straight into a fresh image of the client size.
inline QImage paintGraph(int width, int height, const GraphFields& fields,
                         const GraphSnapshot& data, uint32_t clock) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(0xFF000000u);  // black: anything left unpainted shows
  GraphPainter::paint(image, image.rect(), fields, data, clock);
  return image;
}

// Newest-first points with one full scale.
inline GraphSnapshot snapshotOf(const std::vector<std::pair<float, float>>& timeValues,
                                int32_t fullScale = 100) {
  std::vector<float> times;
  std::vector<float> values;
  for (const auto& [t, v] : timeValues) {
    times.push_back(t);
    values.push_back(v);
  }
  GraphSnapshot snapshot;
  snapshot.assign(times.data(), values.data(), static_cast<int32_t>(times.size()), fullScale);
  return snapshot;
}

inline GraphFields noGrid() {
  GraphFields fields;
  fields.showGrid = 0;
  return fields;
}

}  // namespace tv2::test
