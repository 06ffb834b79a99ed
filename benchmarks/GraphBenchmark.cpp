// The cost of one graph's paint with a full 512-point history: a repaint from
// scratch (copying the history, painting surround, plot, step chart, grid
// and labels off screen), a display tick on the kept image, and the paint
// event that also copies the image to its target. Two sizes: a
// left-view slot, and a plot wide enough that all 512 points are visited
// (points 300 ms apart, 3 pixels each). Only the paint on the user-interface
// thread is measured; no sampler runs meanwhile.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QtGlobal>

#include <cmath>
#include <cstdint>

#include "counters/model/CCounter.h"
#include "counters/model/SampleClock.h"
#include "ui/CGraphControl.h"
#include "ui/GraphCanvas.h"
#include "ui/GraphFields.h"
#include "ui/GraphPainter.h"
#include "ui/GraphSnapshot.h"

namespace tv2 {
namespace {

constexpr uint32_t kSamplePeriodMs = 300;

// Fonts need a GUI application. It is created once and left to the process's
// end: tearing it down between benchmarks would only measure Qt's start-up.
void ensureApplication() {
  if (QApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "tv2_benchmarks";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

void fillHistory(CCounter& counter) {
  for (int32_t i = 0; i < CDataTable::kCapacity; ++i) {
    const uint32_t clock = static_cast<uint32_t>(i) * kSamplePeriodMs;
    counter.history->Push(clock, 50.0f + 45.0f * std::sin(static_cast<float>(i) * 0.05f));
  }
  SampleClock::reset(static_cast<uint32_t>(CDataTable::kCapacity - 1) * kSamplePeriodMs);
}

// A full repaint from scratch (what every paint cost before the kept image):
// snapshot plus painting every pixel. The third argument 0 paints like a
// left-view slot, without grid and labels.
void BM_GraphRepaint(benchmark::State& state) {
  ensureApplication();
  CCounter counter(0);
  fillHistory(counter);
  GraphFields fields;
  fields.showGrid = static_cast<int32_t>(state.range(2));
  fields.showScale = static_cast<int32_t>(state.range(2));
  QImage image(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
               QImage::Format_RGB32);
  GraphSnapshot snapshot;
  for (auto _ : state) {
    snapshot.capture(&counter);
    GraphPainter::paintFramed(image, fields, snapshot, SampleClock::now());
    benchmark::DoNotOptimize(image.constBits());
  }
  SampleClock::reset();
}
BENCHMARK(BM_GraphRepaint)
    ->Args({402, 202, 1})
    ->Args({1602, 202, 1})
    ->Args({402, 202, 0})
    ->Unit(benchmark::kMicrosecond);

// One display tick as the running program paints it: the clock moves one
// pixel, every third tick stores a point, the grid moves, and the kept image
// is brought up to date (shifted, new columns painted).
void BM_GraphTick(benchmark::State& state) {
  ensureApplication();
  CCounter counter(0);
  fillHistory(counter);
  GraphFields fields;
  fields.showGrid = static_cast<int32_t>(state.range(2));
  fields.showScale = static_cast<int32_t>(state.range(2));
  const QSize size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  GraphCanvas canvas;
  GraphSnapshot snapshot;
  int tick = 0;
  for (auto _ : state) {
    const uint32_t clock = SampleClock::advance(100);
    if (++tick % 3 == 0) {
      counter.history->Push(clock, 50.0f + 45.0f * std::sin(static_cast<float>(tick) * 0.02f));
    }
    fields.scrollOffset = (fields.scrollOffset + fields.scrollStep) % fields.gridSpacingX;
    snapshot.capture(&counter);
    canvas.paint(size, fields, snapshot, clock);
    benchmark::DoNotOptimize(&canvas);
  }
  SampleClock::reset();
}
BENCHMARK(BM_GraphTick)
    ->Args({402, 202, 1})
    ->Args({1602, 202, 1})
    ->Args({402, 202, 0})
    ->Unit(benchmark::kMicrosecond);

// The whole paint event of a tick, including the copy of the image into a
// backing-store-like target.
void BM_GraphPaintEvent(benchmark::State& state) {
  ensureApplication();
  CCounter counter(0);
  fillHistory(counter);
  CGraphControl control;
  control.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  control.source = &counter;
  QImage target(control.size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    SampleClock::advance(100);
    control.AdvanceGrid();
    control.render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
  SampleClock::reset();
}
BENCHMARK(BM_GraphPaintEvent)->Args({402, 202})->Args({1602, 202})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tv2
