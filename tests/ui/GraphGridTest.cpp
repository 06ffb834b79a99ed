// The grid that scrolls with the data, and the scale labels: which text they
// show and where the margin for them goes. Label glyphs are never compared;
// only the label backgrounds and the formatting rule are.

#include <gtest/gtest.h>

#include <set>

#include "tests/ui/GraphImage.h"
#include "ui/CGraphControl.h"

namespace tv2 {
namespace {

using test::at;
using test::countColour;
using test::paintGraph;
using test::snapshotOf;

constexpr QRgb kGrey = GraphPainter::kSurroundSelectedColour;

// Columns of the vertical grid lines, read on a row that no horizontal line
// crosses.
std::set<int> verticalLines(const QImage& image, int row) {
  std::set<int> columns;
  for (int x = 0; x < image.width(); ++x) {
    if (at(image, x, row) == GraphPainter::kGridColour) columns.insert(x);
  }
  return columns;
}

GraphFields gridOnly() {
  GraphFields fields;
  fields.showScale = 0;  // plot (8, 10) - (192, 92) on a 200 x 100 client
  return fields;
}

TEST(GraphGrid, HorizontalLinesStartOneSpacingBelowTheTopAndStopBeforeTheBottom) {
  GraphFields fields = gridOnly();
  const QImage image = paintGraph(200, 100, fields, GraphSnapshot(), 0);
  for (int y : {25, 40, 55, 70, 85}) {
    EXPECT_EQ(countColour(image, QRect(8, y, 184, 1), GraphPainter::kGridColour), 184) << y;
    EXPECT_EQ(at(image, 7, y), GraphPainter::kSurroundColour);
  }
  // No line on the top edge: only the four vertical lines cross row 10.
  EXPECT_EQ(countColour(image, QRect(0, 10, 200, 1), GraphPainter::kGridColour), 4);
  // 5 rows of 184, plus the vertical lines at 192 (outside the rows), 142, 92, 42.
  EXPECT_EQ(countColour(image, GraphPainter::kGridColour), 5 * 184 + 82 + 3 * (82 - 5));

  fields.gridSpacingY = 41;  // the next line would fall on the excluded bottom edge
  const QImage wide = paintGraph(200, 100, fields, GraphSnapshot(), 0);
  EXPECT_EQ(countColour(wide, QRect(8, 51, 184, 1), GraphPainter::kGridColour), 184);
  EXPECT_EQ(countColour(wide, QRect(8, 92, 184, 1), GraphPainter::kGridColour), 0);
}

TEST(GraphGrid, VerticalLinesTravelWithTheScrollOffset) {
  CGraphControl control;
  control.showScale = 0;
  control.resize(202, 102);  // a 200 x 100 client inside the border
  auto linesNow = [&] {
    std::set<int> columns;
    for (int x : verticalLines(control.renderImage(), 12)) columns.insert(x - 1);
    return columns;
  };
  EXPECT_EQ(linesNow(), (std::set<int>{42, 92, 142, 192}));
  for (int i = 0; i < 7; ++i) control.AdvanceGrid();
  EXPECT_EQ(linesNow(), (std::set<int>{35, 85, 135, 185}));
  for (int i = 0; i < 26; ++i) control.AdvanceGrid();
  EXPECT_EQ(control.scrollOffset, 33);
  EXPECT_EQ(linesNow(), (std::set<int>{9, 59, 109, 159}));
  control.AdvanceGrid();  // a line on the plot's left edge is not drawn
  EXPECT_EQ(linesNow(), (std::set<int>{58, 108, 158}));
  for (int i = 0; i < 16; ++i) control.AdvanceGrid();
  EXPECT_EQ(control.scrollOffset, 0);
  EXPECT_EQ(linesNow(), (std::set<int>{42, 92, 142, 192}));
}

TEST(GraphGrid, AdvanceGridCyclesThroughEveryOffsetAndResetsAtTheSpacing) {
  CGraphControl control;
  std::set<int> seen;
  for (int tick = 0; tick < 50; ++tick) {
    seen.insert(control.scrollOffset);
    control.AdvanceGrid();
  }
  EXPECT_EQ(control.scrollOffset, 0);
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(*seen.rbegin(), 49);

  control.scrollStep = 3;
  control.scrollOffset = 48;
  control.AdvanceGrid();
  EXPECT_EQ(control.scrollOffset, 0);  // back to 0, not carried over
}

TEST(GraphGrid, GridIsDrawnOverTheData) {
  GraphFields fields = gridOnly();
  const QImage image =
      paintGraph(200, 100, fields, snapshotOf({{10000.0f, 100.0f}, {0.0f, 100.0f}}), 10000);
  EXPECT_EQ(at(image, 100, 55), GraphPainter::kGridColour);
  EXPECT_EQ(at(image, 142, 60), GraphPainter::kGridColour);
  EXPECT_EQ(at(image, 100, 60), 0xFF7DCCE3u);
}

TEST(GraphScale, LabelTextUsesOneDecimalOnlyWhenRowsExceedFullScale) {
  // A 210-pixel plot has 14 rows of 15 pixels.
  const int rows = 210 / 15;
  auto label = [&](int k, int32_t maxValue) {
    return GraphPainter::scaleLabelText(
        GraphPainter::scaleLabelValue(210 - k * 15, maxValue, 210), rows, maxValue);
  };
  EXPECT_EQ(label(0, 10), "10.0");
  EXPECT_EQ(label(1, 10), "9.3");
  EXPECT_EQ(label(2, 10), "8.6");
  EXPECT_EQ(label(13, 10), "0.7");
  EXPECT_EQ(label(0, 100), "100");
  EXPECT_EQ(label(1, 100), "92");
  EXPECT_EQ(label(2, 100), "85");
  // Equal counts of rows and units still read as integers.
  EXPECT_EQ(label(1, 14), "13");
  EXPECT_EQ(label(1, 13), "12.1");
}

TEST(GraphScale, LabelTextStaysDefinedForOddScales) {
  EXPECT_EQ(GraphPainter::scaleLabelText(-2.7f, 1, 5), "-2");
  EXPECT_EQ(GraphPainter::scaleLabelText(3e9f, 1, 2147483647), "2147483647");
  EXPECT_EQ(GraphPainter::scaleLabelText(0.0f, 5, 0), "0.0");
  EXPECT_EQ(GraphPainter::scaleLabelValue(50, 100, 0), 0.0f);
  EXPECT_EQ(GraphPainter::scaleLabelValue(50, 100, -8), 0.0f);
  EXPECT_EQ(GraphPainter::scaleLabelText(GraphPainter::scaleLabelValue(82, 2147483647, 82), 5,
                                         2147483647),
            "2147483647");
}

// With a grey surround the white label backgrounds show where labels went.
class GraphLabels : public ::testing::Test {
 protected:
  QImage paint(int32_t showGrid, int32_t showScale) {
    GraphFields fields;
    fields.selected = 1;
    fields.showGrid = showGrid;
    fields.showScale = showScale;
    return paintGraph(200, 100, fields, GraphSnapshot(), 0);
  }
};

TEST_F(GraphLabels, OneLabelPerGridRowEndingSixPixelsBelowItsLine) {
  const QImage image = paint(1, 1);
  const QRect margin(172, 0, 28, 100);
  // Labels end (exclusive) at 16, 31, ... 91: the top edge is labelled, the
  // bottom edge is not.
  for (int y : {16, 31, 46, 61, 76, 91}) {
    EXPECT_LT(countColour(image, QRect(172, y - 1, 28, 1), kGrey), 28) << y;
    EXPECT_EQ(countColour(image, QRect(172, y, 28, 1), kGrey), 28) << y;
  }
  EXPECT_EQ(countColour(image, QRect(172, 91, 28, 9), kGrey), 28 * 9);
  // Labels start two pixels right of the plot.
  EXPECT_EQ(countColour(image, QRect(170, 0, 2, 100), GraphPainter::kLabelBackgroundColour), 0);
  // Some text was drawn over the backgrounds.
  const int background = countColour(image, margin, GraphPainter::kLabelBackgroundColour);
  const int grey = countColour(image, margin, kGrey);
  EXPECT_GT(background, 0);
  EXPECT_GT(28 * 100 - background - grey, 0);
}

TEST_F(GraphLabels, NeedBothGridAndScale) {
  const QImage noScale = paint(1, 0);
  EXPECT_EQ(countColour(noScale, GraphPainter::kLabelBackgroundColour), 0);
  EXPECT_EQ(at(noScale, 191, 50), GraphPainter::kPlotColour);

  const QImage noGrid = paint(0, 1);
  EXPECT_EQ(countColour(noGrid, GraphPainter::kLabelBackgroundColour), 0);
  EXPECT_EQ(countColour(noGrid, QRect(170, 0, 30, 100), kGrey), 30 * 100);
}

}  // namespace
}  // namespace tv2
