#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ui/GraphPainter.h"

namespace tv2 {

// The newest-first step chart. Each point's level runs from its own time to
// the time of the next newer point (the newest one to the right edge), and
// the area below it is filled. Shared by the painter and by the incremental
// canvas, which records what each column receives instead of painting it.
template <class Sink>
void GraphPainter::walkData(const Edges& plot, const GraphSnapshot& data, uint32_t sampleClock,
                            Sink& sink) {
  // Ages beyond this many pixels are all simply "left of the plot"; the cap
  // keeps the float-to-integer conversion defined for any stored time.
  constexpr double kMaxAgePixels = 1e9;
  const int plotHeight = plot.height();
  // With no plot area there is nowhere to put a level.
  if (!data.hasData() || plot.width() <= 0 || plotHeight <= 0) return;
  const int32_t maxValue = data.fullScale();
  const float clock = static_cast<float>(sampleClock);

  int xPrev = plot.right;
  float timePrev = clock;  // the newest point may be no later than the clock
  bool first = true;
  for (int32_t i = 0; i < data.count(); ++i) {
    const float t = data.time(i);
    const float v = data.value(i);
    if (std::isnan(t)) continue;  // cannot be placed; the newer level simply extends
    // A point stamped after the clock, or after the newer point beside it,
    // comes from before a reset or wrap of the clock: it and everything
    // older no longer line up with the time axis.
    if (t > timePrev) break;
    timePrev = t;

    // A full scale of 0 or less, a negative or NaN value: height 0; above
    // full scale: full height.
    int h = 0;
    if (maxValue > 0) {
      float level = static_cast<float>(plotHeight) * v / static_cast<float>(maxValue);
      if (level >= static_cast<float>(plotHeight)) {
        h = plotHeight;
      } else if (level > 0.0f) {
        h = static_cast<int>(level);
      }
    }
    const int y = plot.bottom - h - 1;

    const double age = static_cast<double>(clock - t) / kMillisecondsPerPixel;
    const int64_t steps = static_cast<int64_t>(std::min(age, kMaxAgePixels));
    const int64_t x = static_cast<int64_t>(plot.right) - steps - 1;
    // A point reaching past the left edge fills the rest of the plot at its
    // level and ends the walk.
    const bool pastLeft = x < plot.left;
    const int xi = pastLeft ? plot.left : static_cast<int>(x);

    sink.fill(xi, y, xPrev, plot.bottom);
    if (first) {
      sink.moveTo(xPrev, y);
    } else {
      sink.lineTo(xPrev, y);
    }
    sink.lineTo(xi, y);
    if (pastLeft) return;
    xPrev = xi;
    first = false;
  }
}

}  // namespace tv2
