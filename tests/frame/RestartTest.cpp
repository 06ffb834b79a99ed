// What one run of the window program leaves for the next: a full close and
// restart on the simulated intel-snb brings back the window placement, the
// column width, the flags and the graphs.

#include <gtest/gtest.h>

#include <QTest>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/AW_CMultiViewSplitter.h"
#include "tests/frame/SimFrameHarness.h"
#include "ui/CLeftView.h"

namespace tv2::testing {
namespace {

int32_t counterIndexOf(CTarvelle2App& app, uint32_t typeCode) {
  CTList<CCounter> found;
  if (app.SelectedProcessor() == nullptr || app.SelectedProcessor()->FindCounters(0xFFFF, typeCode, found) == 0) {
    return -1;
  }
  return found.head->object->index();
}

TEST(RestartTest, PlacementColumnFlagsAndGraphsComeBack) {
  std::string settings;
  {
    SimFrameHarness first("intel-snb");
    ASSERT_TRUE(first.start());
    CMainFrame& frame = *first.frame();
    frame.move(120, 70);
    frame.resize(900, 640);
    QTest::qWait(0);
    // Swap the views, then turn keeping the ratio on (FREE_RATIO cleared).
    frame.runCommand(kCmdSwapViews);
    frame.runCommand(kCmdKeepRatio);
    // Graphs: temperature in slot 1 and package power in slot 3, the others
    // empty, so the next start finds them closed up in slots 0 and 1.
    const int32_t temperature = counterIndexOf(*first.app, 0x102);
    const int32_t power = counterIndexOf(*first.app, 0x103);
    ASSERT_GE(temperature, 0);
    ASSERT_GE(power, 0);
    frame.sendMessage(UM_CLEAR_GRAPHS, 0, 0);
    frame.sendMessage(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(temperature), 1);
    frame.sendMessage(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(power), 3);
    const int column0 = frame.splitter().columnWidth(0);
    ASSERT_GT(column0, 0);
    frame.runCommand(kCmdExit);
    settings = bytesOf(first.settingsPath());
    ASSERT_FALSE(settings.empty());

    SimFrameHarness second("intel-snb");
    {
      std::ofstream out(second.settingsPath(), std::ios::binary);
      out << settings;
    }
    ASSERT_TRUE(second.start());
    CMainFrame& again = *second.frame();
    EXPECT_EQ(again.pos(), QPoint(120, 70));
    EXPECT_EQ(again.size(), QSize(900, 640));
    EXPECT_EQ(second.app->settingsFlags & (kFlagSwapped | kFlagFreeRatio), kFlagSwapped);
    // Swapped: the right view in column 0, at the width column 0 had.
    EXPECT_EQ(dynamic_cast<CLeftView*>(again.splitter().pane(0).widget), nullptr);
    EXPECT_NE(dynamic_cast<CLeftView*>(again.splitter().pane(1).widget), nullptr);
    EXPECT_EQ(again.splitter().columnWidth(0), column0);
    const CProfile shown = second.snapshot();
    EXPECT_EQ(shown.configIndex, 0);
    EXPECT_EQ(shown.metricCount, 2);
    EXPECT_EQ(shown.metrics[0], 2);
    EXPECT_EQ(shown.metrics[1], 3);
    // The keep-ratio item carries its check mark again.
    ASSERT_NE(again.commandAction(kCmdKeepRatio), nullptr);
    EXPECT_TRUE(again.commandAction(kCmdKeepRatio)->isChecked());
  }
}

}  // namespace
}  // namespace tv2::testing
