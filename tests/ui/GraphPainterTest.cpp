// Backgrounds, margins and the step chart, checked pixel by pixel on a 200 x 100
// client: with the scale margin the plot is (8, 10) - (170, 92), 162 x 82.

#include <gtest/gtest.h>

#include <QPoint>

#include <vector>

#include "tests/ui/GraphImage.h"

namespace tv2 {
namespace {

using test::at;
using test::countColour;
using test::noGrid;
using test::paintGraph;
using test::snapshotOf;

constexpr QRgb kFill = 0xFF7DCCE3u;  // the default fill colour, 125, 204, 227

TEST(GraphLayout, PlotRectangleAndMarginsFollowShowScale) {
  GraphFields fields;
  GraphPainter::Edges withScale = GraphPainter::plotEdges(fields, 200, 100);
  EXPECT_EQ(withScale.left, 8);
  EXPECT_EQ(withScale.top, 10);
  EXPECT_EQ(withScale.right, 170);
  EXPECT_EQ(withScale.bottom, 92);
  fields.showScale = 0;
  EXPECT_EQ(GraphPainter::plotEdges(fields, 200, 100).right, 192);
  // The margin is reserved by showScale alone, grid or not.
  fields.showScale = 1;
  fields.showGrid = 0;
  EXPECT_EQ(GraphPainter::plotEdges(fields, 200, 100).right, 170);
}

TEST(GraphLayout, SurroundAndPlotBackgroundCoverEveryPixelWithExactEdges) {
  GraphFields fields = noGrid();
  for (int32_t selected : {0, 1}) {
    fields.selected = selected;
    const QRgb surround =
        selected != 0 ? GraphPainter::kSurroundSelectedColour : GraphPainter::kSurroundColour;
    const QImage image = paintGraph(200, 100, fields, GraphSnapshot(), 0);
    EXPECT_EQ(countColour(image, QRect(8, 10, 162, 82), GraphPainter::kPlotColour), 162 * 82);
    EXPECT_EQ(countColour(image, surround), 200 * 100 - 162 * 82);
    // Left and top edges belong to the plot, right and bottom ones do not.
    EXPECT_EQ(at(image, 7, 10), surround);
    EXPECT_EQ(at(image, 8, 9), surround);
    EXPECT_EQ(at(image, 170, 91), surround);
    EXPECT_EQ(at(image, 169, 92), surround);
  }
  EXPECT_EQ(GraphPainter::kSurroundSelectedColour, qRgb(230, 230, 230));

  fields.selected = 0;
  fields.showScale = 0;
  const QImage narrowMargin = paintGraph(200, 100, fields, GraphSnapshot(), 0);
  EXPECT_EQ(at(narrowMargin, 191, 91), GraphPainter::kPlotColour);
  EXPECT_EQ(at(narrowMargin, 192, 91), GraphPainter::kSurroundColour);
}

TEST(GraphLayout, PaintsOnlyInsideItsClientArea) {
  QImage image(60, 50, QImage::Format_ARGB32_Premultiplied);
  image.fill(0xFF000000u);
  GraphPainter::paint(image, QRect(5, 7, 50, 40), noGrid(), GraphSnapshot(), 0);
  EXPECT_EQ(countColour(image, QRect(5, 7, 50, 40), 0xFF000000u), 0);
  EXPECT_EQ(countColour(image, 0xFF000000u), 60 * 50 - 50 * 40);
  EXPECT_EQ(at(image, 5 + 8, 7 + 10), GraphPainter::kPlotColour);
  EXPECT_EQ(at(image, 5 + 7, 7 + 10), GraphPainter::kSurroundColour);
}

// Newest first: 50 % now, 25 % one second ago, 100 % five seconds ago.
class StepChart : public ::testing::Test {
 protected:
  QImage paint() {
    return paintGraph(200, 100, noGrid(),
                      snapshotOf({{10000.0f, 50.0f}, {9000.0f, 25.0f}, {5000.0f, 100.0f}}),
                      10000);
  }
};

TEST_F(StepChart, FillCoversEachLevelFromItsTimeToTheNextNewerPoint) {
  const QImage image = paint();
  // Newest: height 41 (y 50) in the last column; 25 %: height 20 (y 71) over
  // columns 159..168; full scale: y 9, one row above the plot, over 119..158.
  EXPECT_EQ(at(image, 169, 80), kFill);
  EXPECT_EQ(at(image, 169, 49), GraphPainter::kPlotColour);
  EXPECT_EQ(at(image, 165, 72), kFill);
  EXPECT_EQ(at(image, 165, 70), GraphPainter::kPlotColour);
  EXPECT_EQ(at(image, 158, 40), kFill);
  EXPECT_EQ(at(image, 119, 9), kFill);
  EXPECT_EQ(at(image, 119, 91), kFill);
  EXPECT_EQ(at(image, 118, 50), GraphPainter::kPlotColour);
  EXPECT_EQ(at(image, 119, 92), GraphPainter::kSurroundColour);
  EXPECT_EQ(at(image, 119, 8), GraphPainter::kSurroundColour);
  // Fill left uncovered by the outline: 20 + 9 x 20 + 20 + 39 x 82 + 83.
  EXPECT_EQ(countColour(image, kFill), 3501);
}

TEST_F(StepChart, OutlineRunsOneColumnRightOfEachLevelWithVerticalJoins) {
  const QImage image = paint();
  std::vector<QPoint> expected;
  auto add = [&](int x, int y) {
    for (const QPoint& p : expected) {
      if (p == QPoint(x, y)) return;
    }
    expected.emplace_back(x, y);
  };
  add(170, 50);  // the newest level starts at the plot's right edge
  for (int y = 50; y <= 70; ++y) add(169, y);
  for (int x = 160; x <= 169; ++x) add(x, 71);
  for (int y = 10; y <= 71; ++y) add(159, y);
  for (int x = 120; x <= 159; ++x) add(x, 9);
  EXPECT_EQ(static_cast<size_t>(countColour(image, GraphPainter::kOutlineColour)),
            expected.size());
  for (const QPoint& p : expected) {
    EXPECT_EQ(at(image, p.x(), p.y()), GraphPainter::kOutlineColour) << p.x() << "," << p.y();
  }
}

TEST(GraphData, NewestPointOlderThanThePlotIsWideFillsTheWholeWidthAndStops) {
  // 162 pixels of age on a 162-pixel plot: past the left edge.
  const QImage image = paintGraph(
      200, 100, noGrid(), snapshotOf({{83800.0f, 50.0f}, {83700.0f, 100.0f}}), 100000);
  // The outline takes row 50 except its first column.
  EXPECT_EQ(countColour(image, QRect(8, 50, 162, 42), kFill), 162 * 41 + 1);
  EXPECT_EQ(countColour(image, QRect(9, 50, 162, 1), GraphPainter::kOutlineColour), 162);
  EXPECT_EQ(at(image, 8, 50), kFill);
  EXPECT_EQ(countColour(image, QRect(0, 0, 200, 50), kFill), 0);  // the older point is not drawn

  // One pixel younger it ends exactly on the left edge and the walk goes on.
  const QImage edge = paintGraph(
      200, 100, noGrid(), snapshotOf({{83900.0f, 50.0f}, {83800.0f, 100.0f}}), 100000);
  EXPECT_EQ(at(edge, 8, 60), kFill);
  EXPECT_EQ(at(edge, 9, 50), GraphPainter::kOutlineColour);
  // The older point adds only the vertical join up towards its level.
  EXPECT_EQ(at(edge, 8, 50), GraphPainter::kOutlineColour);
  EXPECT_EQ(at(edge, 8, 10), GraphPainter::kOutlineColour);
  EXPECT_EQ(at(edge, 8, 9), GraphPainter::kSurroundColour);
  EXPECT_EQ(at(edge, 7, 60), GraphPainter::kSurroundColour);
  EXPECT_EQ(countColour(edge, QRect(0, 9, 200, 1), GraphPainter::kOutlineColour), 0);
}

TEST(GraphData, ValuesAboveFullScaleDrawAtFullHeightOneRowAboveThePlot) {
  const QImage image = paintGraph(
      200, 100, noGrid(), snapshotOf({{10000.0f, 250.0f}, {9000.0f, 1e6f}}), 10000);
  EXPECT_EQ(at(image, 169, 10), kFill);
  EXPECT_EQ(at(image, 169, 91), kFill);
  EXPECT_EQ(at(image, 159, 9), kFill);
  EXPECT_EQ(at(image, 159, 8), GraphPainter::kSurroundColour);
  EXPECT_EQ(countColour(image, QRect(160, 9, 11, 1), GraphPainter::kOutlineColour), 11);
  EXPECT_EQ(countColour(image, QRect(0, 0, 200, 9), kFill), 0);
}

TEST(GraphData, NegativeValuesDrawAtHeightZeroOnTheBottomRow) {
  const QImage image = paintGraph(
      200, 100, noGrid(), snapshotOf({{10000.0f, -40.0f}, {9000.0f, -5.0f}}), 10000);
  EXPECT_EQ(at(image, 159, 91), kFill);
  EXPECT_EQ(countColour(image, kFill), 1);
  EXPECT_EQ(countColour(image, QRect(160, 91, 11, 1), GraphPainter::kOutlineColour), 11);
  EXPECT_EQ(countColour(image, QRect(8, 10, 162, 81), GraphPainter::kPlotColour), 162 * 81);
}

}  // namespace
}  // namespace tv2
