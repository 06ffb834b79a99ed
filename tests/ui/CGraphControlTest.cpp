// The widget itself: its defaults, its own border around the graph, the
// bound counter read at the current sample clock, and the paint event that
// copies the off-screen image to the screen.

#include <gtest/gtest.h>

#include <QPixmap>

#include "counters/model/CCounter.h"
#include "counters/model/SampleClock.h"
#include "tests/ui/GraphImage.h"
#include "ui/CGraphControl.h"

namespace tv2 {
namespace {

using test::at;
using test::countColour;

class GraphControl : public ::testing::Test {
 protected:
  void SetUp() override { SampleClock::reset(); }
  void TearDown() override { SampleClock::reset(); }
};

TEST_F(GraphControl, StartsWithTheDocumentedFieldsAndNoErase) {
  CGraphControl control;
  EXPECT_EQ(control.selected, 0);
  EXPECT_EQ(control.showGrid, 1);
  EXPECT_EQ(control.showScale, 1);
  EXPECT_EQ(control.fillColour, QColor(125, 204, 227));
  EXPECT_EQ(control.gridSpacingX, 50);
  EXPECT_EQ(control.gridSpacingY, 15);
  EXPECT_EQ(control.scrollStep, 1);
  EXPECT_EQ(control.scrollOffset, 0);
  EXPECT_EQ(control.source, nullptr);
  EXPECT_TRUE(control.testAttribute(Qt::WA_OpaquePaintEvent));
}

TEST_F(GraphControl, DrawsAOnePixelBorderAroundTheClientArea) {
  CGraphControl control;
  control.showGrid = 0;
  control.resize(202, 102);
  const QImage image = control.renderImage();
  ASSERT_EQ(image.size(), QSize(202, 102));
  EXPECT_EQ(countColour(image, GraphPainter::kBorderColour), 2 * 202 + 2 * 100);
  EXPECT_EQ(countColour(image, QRect(1, 1, 200, 100), GraphPainter::kBorderColour), 0);
  // The client area starts inside the border: plot at (9, 11) in the widget.
  EXPECT_EQ(at(image, 9, 11), GraphPainter::kPlotColour);
  EXPECT_EQ(at(image, 8, 11), GraphPainter::kSurroundColour);
  EXPECT_EQ(at(image, 170, 92), GraphPainter::kPlotColour);
  EXPECT_EQ(at(image, 171, 92), GraphPainter::kSurroundColour);
}

TEST_F(GraphControl, DrawsTheBoundCounterAtTheCurrentSampleClock) {
  CCounter counter(4);
  counter.fullScale = 200;
  SampleClock::reset(3000);
  counter.Push(100.0f);  // half scale: height 41 of 82
  CGraphControl control;
  control.showGrid = 0;
  control.fillColour = QColor(177, 227, 241);
  control.resize(202, 102);
  control.source = &counter;

  QImage image = control.renderImage();
  EXPECT_EQ(countColour(image, 0xFFB1E3F1u), 42);  // rows 50..91 of the last column
  EXPECT_EQ(at(image, 170, 70), 0xFFB1E3F1u);

  // Twelve ticks later the same point covers twelve more columns.
  SampleClock::advance(1200);
  image = control.renderImage();
  EXPECT_EQ(countColour(image, 0xFFB1E3F1u), 13 * 41 + 1);
  EXPECT_EQ(at(image, 158, 70), 0xFFB1E3F1u);
  EXPECT_EQ(at(image, 157, 70), GraphPainter::kPlotColour);
}

TEST_F(GraphControl, PaintEventShowsExactlyTheOffScreenImage) {
  CCounter counter(0);
  for (uint32_t t = 0; t <= 20000; t += 300) {
    SampleClock::reset(t);
    counter.Push(static_cast<float>(t % 7000) / 70.0f);
  }
  CGraphControl control;
  control.selected = 1;
  control.resize(260, 140);
  control.source = &counter;
  for (int i = 0; i < 13; ++i) control.AdvanceGrid();
  // grab() goes through the paint event, as the screen does.
  const QImage shown = control.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage painted = control.renderImage();
  ASSERT_EQ(shown.size(), painted.size());
  EXPECT_EQ(shown, painted);
}

}  // namespace
}  // namespace tv2
