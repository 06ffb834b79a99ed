// Data the graph must survive: odd scales, non-finite values and times, a
// clock that moved backwards, empty and cleared histories, windows too small
// for their margins, grid settings that would never advance, and a sampler
// thread pushing while the graph paints.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "counters/model/CCounter.h"
#include "counters/model/SampleClock.h"
#include "tests/ui/GraphImage.h"
#include "ui/CGraphControl.h"

namespace tv2 {
namespace {

using test::at;
using test::countColour;
using test::noGrid;
using test::paintGraph;
using test::snapshotOf;

constexpr QRgb kFill = 0xFF7DCCE3u;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
const QRect kPlot(8, 10, 162, 82);  // on a 200 x 100 client with the scale margin

int curvePixels(const QImage& image) {
  return countColour(image, kFill) + countColour(image, GraphPainter::kOutlineColour);
}

TEST(GraphBadScale, ZeroOrNegativeFullScaleDrawsEverySampleAtHeightZero) {
  for (int32_t fullScale : {0, -1, std::numeric_limits<int32_t>::min()}) {
    const QImage image = paintGraph(
        200, 100, noGrid(), snapshotOf({{10000.0f, 50.0f}, {9000.0f, 0.0f}}, fullScale), 10000);
    EXPECT_EQ(countColour(image, QRect(8, 10, 162, 81), GraphPainter::kPlotColour), 162 * 81)
        << fullScale;
    EXPECT_EQ(countColour(image, QRect(159, 91, 11, 1), kFill) +
                  countColour(image, QRect(159, 91, 12, 1), GraphPainter::kOutlineColour),
              12)
        << fullScale;
  }
}

TEST(GraphBadValues, NaNDrawsAtHeightZeroAndInfinitiesClamp) {
  const QImage image = paintGraph(
      200, 100, noGrid(),
      snapshotOf({{10000.0f, kNaN}, {9000.0f, kInf}, {8000.0f, -kInf}, {7000.0f, 50.0f}}), 10000);
  // NaN: the newest level lies on the bottom row (its outline starts at the
  // plot's right edge).
  EXPECT_EQ(at(image, 170, 91), GraphPainter::kOutlineColour);
  EXPECT_EQ(at(image, 170, 90), GraphPainter::kSurroundColour);
  EXPECT_EQ(at(image, 165, 9), GraphPainter::kOutlineColour);  // +inf: full height
  EXPECT_EQ(at(image, 165, 10), kFill);
  EXPECT_EQ(at(image, 165, 8), GraphPainter::kSurroundColour);
  EXPECT_EQ(at(image, 152, 91), GraphPainter::kOutlineColour);  // -inf: height 0
  EXPECT_EQ(at(image, 152, 90), GraphPainter::kPlotColour);
  EXPECT_EQ(at(image, 139, 51), kFill);  // and the walk goes on
}

TEST(GraphBadTimes, UnplaceableTimeIsSkippedAndTheNewerLevelExtends) {
  const GraphSnapshot clean = snapshotOf({{10000.0f, 50.0f}, {9000.0f, 25.0f}});
  const GraphSnapshot withNaN = snapshotOf({{10000.0f, 50.0f}, {kNaN, 90.0f}, {9000.0f, 25.0f}});
  EXPECT_EQ(paintGraph(200, 100, noGrid(), withNaN, 10000),
            paintGraph(200, 100, noGrid(), clean, 10000));
}

TEST(GraphBadTimes, PointsNewerThanTheClockEndTheCurve) {
  // Newest point ahead of the clock (the clock was reset or wrapped): no
  // curve at all rather than one drawn over the margin.
  for (float future : {10100.0f, 4.0e9f, kInf}) {
    const QImage image =
        paintGraph(200, 100, noGrid(), snapshotOf({{future, 50.0f}, {9000.0f, 25.0f}}), 10000);
    EXPECT_EQ(curvePixels(image), 0) << future;
    EXPECT_EQ(countColour(image, kPlot, GraphPainter::kPlotColour), 162 * 82);
  }
  // An older point stamped later than its newer neighbour belongs to the
  // clock before a reset: the curve stops there.
  const QImage mixed = paintGraph(
      200, 100, noGrid(),
      snapshotOf({{10000.0f, 50.0f}, {9000.0f, 25.0f}, {9500.0f, 100.0f}, {1000.0f, 100.0f}}),
      10000);
  EXPECT_EQ(mixed, paintGraph(200, 100, noGrid(),
                              snapshotOf({{10000.0f, 50.0f}, {9000.0f, 25.0f}}), 10000));
}

TEST(GraphBadTimes, FarPastPointsFillToTheLeftEdgeWithoutOverflow) {
  for (float past : {-kInf, -3.0e38f, 0.0f}) {
    const QImage image =
        paintGraph(200, 100, noGrid(), snapshotOf({{past, 50.0f}, {0.0f, 100.0f}}), 4000000000u);
    EXPECT_EQ(countColour(image, QRect(8, 51, 162, 41), kFill), 162 * 41) << past;
    EXPECT_EQ(countColour(image, QRect(0, 0, 200, 50), kFill), 0) << past;
  }
}

TEST(GraphBadHistory, EmptyClearedAndMissingHistoriesDrawNoCurve) {
  SampleClock::reset(5000);
  CCounter counter(3);
  CGraphControl control;
  control.resize(202, 102);
  control.source = &counter;
  const QImage empty = control.renderImage().copy();
  EXPECT_EQ(curvePixels(empty), 0);

  counter.Push(60.0f);
  EXPECT_GT(curvePixels(control.renderImage()), 0);
  counter.ClearReadings();
  EXPECT_EQ(control.renderImage(), empty);

  // A counter without a history table, or none at all: labels use 100.
  counter.fullScale = 7;
  counter.history.reset();
  EXPECT_EQ(control.renderImage(), empty);
  control.source = nullptr;
  EXPECT_EQ(control.renderImage(), empty);
  SampleClock::reset();
}

TEST(GraphTinyWindow, PlotWithoutAreaDrawsOnlyTheSurround) {
  const GraphSnapshot data = snapshotOf({{10000.0f, 100.0f}, {5000.0f, 20.0f}});
  for (QSize size : {QSize(1, 1), QSize(5, 5), QSize(38, 18), QSize(39, 17), QSize(20, 200),
                     QSize(200, 18), QSize(38, 300)}) {
    GraphFields fields;
    fields.selected = 1;
    fields.gridSpacingY = 1;
    const QImage image = paintGraph(size.width(), size.height(), fields, data, 10000);
    EXPECT_EQ(countColour(image, GraphPainter::kSurroundSelectedColour),
              size.width() * size.height())
        << size.width() << "x" << size.height();
  }
}

TEST(GraphTinyWindow, ControlSmallerThanItsBorderPaintsWithoutFault) {
  CGraphControl control;
  for (QSize size : {QSize(0, 0), QSize(1, 1), QSize(2, 2), QSize(3, 40), QSize(40, 3)}) {
    control.resize(size);
    const QImage image = control.renderImage();
    EXPECT_EQ(image.size(), size);
    if (size.width() <= 2 || size.height() <= 2) {
      EXPECT_EQ(countColour(image, GraphPainter::kBorderColour), size.width() * size.height());
    }
  }
}

TEST(GraphBadGrid, SpacingsThatNeverAdvanceDrawNoLinesAndNoLabels) {
  GraphFields fields;
  fields.selected = 1;
  for (int32_t spacing : {0, -15}) {
    fields.gridSpacingX = spacing;
    fields.gridSpacingY = spacing;
    const QImage image = paintGraph(200, 100, fields, GraphSnapshot(), 0);
    EXPECT_EQ(countColour(image, GraphPainter::kGridColour), 0);
    EXPECT_EQ(countColour(image, GraphPainter::kLabelBackgroundColour), 0);
  }
  CGraphControl control;
  control.gridSpacingX = 0;
  control.scrollOffset = 9;
  control.AdvanceGrid();
  EXPECT_EQ(control.scrollOffset, 0);
}

TEST(GraphBadGrid, OffsetsOutOfRangeStillDrawInsideThePlot) {
  GraphFields fields = noGrid();
  fields.showGrid = 1;
  fields.showScale = 0;
  fields.gridSpacingY = 1000;
  for (int32_t offset : {-7, 57, 1234567}) {
    fields.scrollOffset = offset;
    const QImage image = paintGraph(200, 100, fields, GraphSnapshot(), 0);
    const int wrapped = ((offset % 50) + 50) % 50;
    EXPECT_EQ(countColour(image, QRect(192 - wrapped, 10, 1, 82), GraphPainter::kGridColour), 82)
        << offset;
    EXPECT_EQ(countColour(image, QRect(193, 0, 7, 100), GraphPainter::kGridColour), 0);
  }
  CGraphControl control;
  control.scrollStep = -3;
  control.AdvanceGrid();
  EXPECT_EQ(control.scrollOffset, 47);
  control.scrollStep = std::numeric_limits<int32_t>::max();
  control.scrollOffset = 10;
  control.AdvanceGrid();
  EXPECT_EQ(control.scrollOffset, 0);
}

TEST(GraphBadTarget, UnsupportedImagesAndClientsOutsideTheImageAreLeftAlone) {
  QImage grey(50, 50, QImage::Format_Grayscale8);
  grey.fill(0);
  GraphPainter::paintFramed(grey, GraphFields(), GraphSnapshot(), 0);
  EXPECT_EQ(grey.pixel(25, 25), 0xFF000000u);
  QImage image(50, 50, QImage::Format_RGB32);
  image.fill(0xFF000000u);
  GraphPainter::paint(image, QRect(60, 60, 40, 40), GraphFields(), GraphSnapshot(), 0);
  GraphPainter::paint(image, QRect(10, 10, -5, 40), GraphFields(), GraphSnapshot(), 0);
  EXPECT_EQ(countColour(image, 0xFF000000u), 50 * 50);
}

// The sampler thread pushes and clears while the user-interface thread paints;
// ThreadSanitizer checks that the graph's reads are race-free.
TEST(GraphConcurrency, PaintsWhileASamplerPushes) {
  SampleClock::reset(100000);
  CCounter counter(1);
  CGraphControl control;
  control.resize(300, 120);
  control.source = &counter;
  std::atomic<bool> stop{false};
  std::thread sampler([&] {
    for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
      counter.Push(static_cast<float>(i % 150));
      if (i % 997 == 0) counter.ClearReadings();
    }
  });
  int curves = 0;
  for (int frame = 0; frame < 200; ++frame) {
    SampleClock::advance(100);
    curves += curvePixels(control.renderImage()) > 0;
  }
  stop = true;
  sampler.join();
  EXPECT_GT(curves, 0);
  SampleClock::reset();
}

}  // namespace
}  // namespace tv2
