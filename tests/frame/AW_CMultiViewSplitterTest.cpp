// The splitter's column rules: keeping the ratio, swapping the views and
// recording the ratio when the bar is released.

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include "app/CTarvelle2App.h"
#include "frame/AW_CMultiViewSplitter.h"
#include "frame/SplitterBar.h"

namespace tv2 {
namespace {

constexpr uint32_t kKeep = kFlagRunning;                   // FREE_RATIO clear
constexpr uint32_t kFree = kFlagRunning | kFlagFreeRatio;  // the default 5
constexpr int kBar = AW_CMultiViewSplitter::kBarWidth;

// A splitter with two plain panes laid out at cx0 + cx1 (plus the bar).
class SplitterTest : public ::testing::Test {
 protected:
  void layOut(int cx0, int cx1) {
    splitter.show();  // a hidden widget takes its size only when shown
    splitter.resize(cx0 + kBar + cx1, 300);
    splitter.setPane(0, FramePane{a, nullptr, {}}, cx0);
    splitter.setPane(1, FramePane{b, nullptr, {}}, 10);
    ASSERT_EQ(splitter.columnWidth(0), cx0);
    ASSERT_EQ(splitter.columnWidth(1), cx1);
  }
  void resizeTo(int totalWidth) { splitter.resize(totalWidth + kBar, splitter.height()); }

  AW_CMultiViewSplitter splitter;
  QWidget* a = new QWidget;  // owned by the splitter once placed
  QWidget* b = new QWidget;
};

TEST_F(SplitterTest, ColumnZeroTakesItsIdealWidthAndColumnOneTheRest) {
  layOut(250, 843);
  EXPECT_EQ(a->geometry(), QRect(0, 0, 250, 300));
  EXPECT_EQ(b->geometry(), QRect(250 + kBar, 0, 843, 300));
  // Too narrow for the ideal width: column 0 gets what there is and its
  // ideal width back when the room returns.
  resizeTo(100);
  EXPECT_EQ(splitter.columnWidth(0), 100);
  EXPECT_EQ(splitter.columnWidth(1), 0);
  resizeTo(1000);
  EXPECT_EQ(splitter.columnWidth(0), 250);
  EXPECT_EQ(splitter.columnWidth(1), 750);
}

TEST_F(SplitterTest, KeepingOnGivesColumnZeroItsShareOfTheNewWidth) {
  layOut(600, 1000);
  splitter.widthRatio = 0.25f;
  // Same width (a change of height only): 0.25 x 1600.
  splitter.KeepRatioOnResize(kKeep, 1600);
  EXPECT_EQ(splitter.idealWidth(0), 400);
  splitter.RecalcLayout();
  EXPECT_EQ(splitter.columnWidth(0), 400);
  EXPECT_EQ(splitter.columnWidth(1), 1200);
  // Enlarged in one step (maximised): the share holds for the new width.
  splitter.KeepRatioOnResize(kKeep, 2400);
  resizeTo(2400);
  EXPECT_EQ(splitter.columnWidth(0), 600);
  EXPECT_EQ(splitter.columnWidth(1), 1800);
  EXPECT_FLOAT_EQ(splitter.widthRatio, 0.25f);
}

TEST_F(SplitterTest, KeepingOffFollowsTheLayoutAndKeepsColumnZeroInPixels) {
  layOut(600, 1000);
  splitter.widthRatio = 0.25f;
  splitter.KeepRatioOnResize(kFree, 2400);
  EXPECT_FLOAT_EQ(splitter.widthRatio, 600.0f / 1600.0f);
  EXPECT_EQ(splitter.idealWidth(0), 600);
  resizeTo(2400);
  EXPECT_EQ(splitter.columnWidth(0), 600);
  EXPECT_EQ(splitter.columnWidth(1), 1800);
  // Keeping switched on starts from the ratio just followed.
  splitter.KeepRatioOnResize(kKeep, 1200);
  EXPECT_EQ(splitter.idealWidth(0), 450);  // 0.375 x 1200
}

TEST_F(SplitterTest, KeepingWithoutARatioRecordsOneAndKeepsItAtOnce) {
  layOut(300, 900);
  splitter.KeepRatioOnResize(kKeep, 2400);
  EXPECT_FLOAT_EQ(splitter.widthRatio, 0.25f);
  EXPECT_EQ(splitter.idealWidth(0), 600);
}

TEST_F(SplitterTest, EmptyColumnsGiveNoRatioUntilTheNextChange) {
  layOut(300, 900);
  resizeTo(0);
  ASSERT_EQ(splitter.columnWidth(0) + splitter.columnWidth(1), 0);
  splitter.RecordRatio();
  EXPECT_LE(splitter.widthRatio, 0.0f);
  // Keeping on without a ratio leaves column 0's width as it was.
  splitter.KeepRatioOnResize(kKeep, 1200);
  EXPECT_EQ(splitter.idealWidth(0), 300);
  resizeTo(1200);
  splitter.KeepRatioOnResize(kFree, 1200);
  EXPECT_FLOAT_EQ(splitter.widthRatio, 0.25f);
}

TEST_F(SplitterTest, SwapExchangesTheViewsAndTheirWidthsAndTwiceRestores) {
  layOut(300, 900);
  splitter.widthRatio = 0.25f;
  uint32_t flags = kFree;
  splitter.SwapViews(flags);
  EXPECT_EQ(splitter.pane(0).widget, b);
  EXPECT_EQ(splitter.pane(1).widget, a);
  EXPECT_EQ(splitter.columnWidth(0), 900);
  EXPECT_EQ(splitter.columnWidth(1), 300);
  EXPECT_EQ(b->geometry(), QRect(0, 0, 900, 300));
  EXPECT_EQ(a->geometry(), QRect(900 + kBar, 0, 300, 300));
  EXPECT_FLOAT_EQ(splitter.widthRatio, 0.75f);
  EXPECT_EQ(flags, kFree | kFlagSwapped);

  splitter.SwapViews(flags);
  EXPECT_EQ(splitter.pane(0).widget, a);
  EXPECT_EQ(a->geometry(), QRect(0, 0, 300, 300));
  EXPECT_EQ(b->geometry(), QRect(300 + kBar, 0, 900, 300));
  EXPECT_FLOAT_EQ(splitter.widthRatio, 0.25f);
  EXPECT_EQ(flags, kFree);
}

TEST_F(SplitterTest, ReleasingTheBarMovesColumnZeroAndRecordsTheRatio) {
  layOut(400, 1100);
  auto* bar = splitter.findChild<SplitterBar*>();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->geometry().left(), 400);
  // Grabbed 3 pixels into the bar, let go 100 pixels further right.
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(3, 10));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(103, 10));
  EXPECT_EQ(splitter.columnWidth(0), 500);
  EXPECT_EQ(splitter.columnWidth(1), 1000);
  EXPECT_FLOAT_EQ(splitter.widthRatio, 1.0f / 3.0f);
  // Dragged past the edge: column 0 takes everything, no more.
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(3, 10));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(5000, 10));
  EXPECT_EQ(splitter.columnWidth(0), 1500);
  EXPECT_EQ(splitter.columnWidth(1), 0);
  EXPECT_FLOAT_EQ(splitter.widthRatio, 1.0f);
}

}  // namespace
}  // namespace tv2
