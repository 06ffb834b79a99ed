// The cost of one graph repaint with a full 512-point history: copying the
// history, painting surround, plot, step chart, grid and labels off screen,
// and (through the paint event) copying the image to its target. Two sizes: a
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

// Off-screen paint only: snapshot plus painting into the reused buffer. The
// third argument 0 paints like a left-view slot, without grid and labels.
void BM_GraphRepaint(benchmark::State& state) {
  ensureApplication();
  CCounter counter(0);
  fillHistory(counter);
  CGraphControl control;
  control.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  control.showGrid = static_cast<int32_t>(state.range(2));
  control.showScale = static_cast<int32_t>(state.range(2));
  control.source = &counter;
  for (auto _ : state) {
    control.AdvanceGrid();
    QImage image = control.renderImage();
    benchmark::DoNotOptimize(image.constBits());
  }
  SampleClock::reset();
}
BENCHMARK(BM_GraphRepaint)
    ->Args({402, 202, 1})
    ->Args({1602, 202, 1})
    ->Args({402, 202, 0})
    ->Unit(benchmark::kMicrosecond);

// The whole paint event, including the copy into a backing-store-like image.
void BM_GraphPaintEvent(benchmark::State& state) {
  ensureApplication();
  CCounter counter(0);
  fillHistory(counter);
  CGraphControl control;
  control.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  control.source = &counter;
  QImage target(control.size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    control.AdvanceGrid();
    control.render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
  SampleClock::reset();
}
BENCHMARK(BM_GraphPaintEvent)->Args({402, 202})->Args({1602, 202})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tv2
