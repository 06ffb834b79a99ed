// Check marks of every checkable menu of the window, chosen the way a click
// arrives (QAction::trigger(): Qt flips the mark first, then the command
// runs): afterwards each mark says what is true, also when the choice
// changed nothing.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <functional>
#include <map>
#include <vector>

#include "counters/MetricCodes.h"
#include "counters/model/CCounter.h"
#include "frame/AW_CMultiViewSplitter.h"
#include "frame/FrameStatusBar.h"
#include "tests/frame/SimFrameHarness.h"
#include "ui/CGraphControl.h"
#include "ui/CLeftView.h"
#include "ui/MenuCommands.h"

namespace tv2::testing {
namespace {

CLeftView* leftViewOf(CMainFrame& frame) {
  for (int column = 0; column < AW_CMultiViewSplitter::kColumnCount; ++column) {
    if (auto* view = dynamic_cast<CLeftView*>(frame.splitter().pane(column).widget)) return view;
  }
  return nullptr;
}

QMenu* runTimePopup(CMainFrame& frame, const QString& title) {
  for (QAction* item : frame.selectMenu()->actions()) {
    if (item->menu() != nullptr && item->text() == title) return item->menu();
  }
  return nullptr;
}

// The ids of the checked items of a popup.
std::vector<int> checkedIds(const QMenu* menu) {
  std::vector<int> ids;
  for (QAction* item : menu->actions()) {
    if (item->isChecked()) ids.push_back(item->data().toInt());
  }
  return ids;
}

class MenuMarks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(h.start());
    frame = h.frame();
    left = leftViewOf(*frame);
    ASSERT_NE(left, nullptr);
  }
  int32_t counterIndex(uint32_t typeCode) {
    CTList<CCounter> found;
    return h.app->SelectedProcessor()->FindCounters(0xFFFF, typeCode, found) > 0 ? found.head->object->index() : -1;
  }
  void trigger(QMenu* menu, int32_t id) {
    QAction* item = findCommand(menu, id);
    ASSERT_NE(item, nullptr) << id;
    item->trigger();
  }
  std::vector<CCounter*> slotSources() {
    std::vector<CCounter*> sources;
    for (int k = 0; k < CLeftView::kSlotCount; ++k) sources.push_back(left->graphAt(k)->source);
    return sources;
  }

  SimFrameHarness h{"intel-snb-2p"};
  CMainFrame* frame = nullptr;
  CLeftView* left = nullptr;
};

TEST_F(MenuMarks, EveryCheckableFrameItemShowsTheStateAfterEachChoice) {
  // The state each checkable item of the menu resource stands for; a new
  // checkable item without an entry here fails the test.
  const std::map<int32_t, std::function<bool()>> truth = {
      {kCmdPause, [&] { return !h.app->samplingRuns(); }},
      {kCmdKeepRatio, [&] { return (h.app->settingsFlags & kFlagFreeRatio) == 0; }},
      {kCmdStatusBar, [&] { return !frame->frameStatusBar().isHidden(); }},
  };
  int checkable = 0;
  for (QMenu* menu : frame->menuBar()->findChildren<QMenu*>()) {
    for (QAction* item : menu->actions()) {
      if (!item->isCheckable() || menu == frame->selectMenu()) continue;
      ++checkable;
      const int32_t id = item->data().toInt();
      ASSERT_EQ(truth.count(id), 1u) << item->text().toStdString();
      for (int round = 0; round < 2; ++round) {  // and back where it began
        const bool before = truth.at(id)();
        item->trigger();
        EXPECT_NE(truth.at(id)(), before) << item->text().toStdString();
        EXPECT_EQ(item->isChecked(), truth.at(id)()) << item->text().toStdString() << " round " << round;
      }
    }
  }
  EXPECT_EQ(checkable, static_cast<int>(truth.size()));
}

TEST_F(MenuMarks, ChoosingTheCurrentConfigurationOrProcessorAgainKeepsItsMark) {
  QMenu* configs = runTimePopup(*frame, QStringLiteral("计数器配置"));
  QMenu* processors = runTimePopup(*frame, QStringLiteral("处理器"));
  ASSERT_NE(configs, nullptr);
  ASSERT_NE(processors, nullptr);
  const std::vector<CCounter*> before = slotSources();

  trigger(configs, kCmdConfigBase);
  EXPECT_EQ(h.app->currentConfig, 0);
  EXPECT_EQ(checkedIds(configs), std::vector<int>{kCmdConfigBase});
  EXPECT_EQ(slotSources(), before);
  trigger(processors, kCmdProcessorBase);
  EXPECT_EQ(h.app->selectedProcessor, 0);
  EXPECT_EQ(checkedIds(processors), std::vector<int>{kCmdProcessorBase});

  // Real changes move the mark to the item chosen, and only there.
  trigger(configs, kCmdConfigBase + 1);
  EXPECT_EQ(h.app->currentConfig, 1);
  EXPECT_EQ(checkedIds(configs), std::vector<int>{kCmdConfigBase + 1});
  trigger(configs, kCmdConfigBase + 1);
  EXPECT_EQ(checkedIds(configs), std::vector<int>{kCmdConfigBase + 1});
  trigger(processors, kCmdProcessorBase + 1);
  EXPECT_EQ(h.app->selectedProcessor, 1);
  EXPECT_EQ(checkedIds(processors), std::vector<int>{kCmdProcessorBase + 1});
  trigger(processors, kCmdProcessorBase + 1);
  EXPECT_EQ(checkedIds(processors), std::vector<int>{kCmdProcessorBase + 1});
}

TEST_F(MenuMarks, ACounterChosenWithoutASelectedSlotStaysUnchecked) {
  QMenu* counters = runTimePopup(*frame, QStringLiteral("计数器"));
  ASSERT_NE(counters, nullptr);
  const int32_t power = counterIndex(packageCode(kMetricPackagePower));  // in no slot at start
  ASSERT_GE(power, 0);

  QTest::mouseClick(left, Qt::LeftButton, {}, QPoint(2, 2));  // beside the slots: none selected
  const std::vector<CCounter*> before = slotSources();
  trigger(counters, kCmdCounterBase + power);
  EXPECT_EQ(slotSources(), before);
  EXPECT_TRUE(checkedIds(counters).empty());

  // With slot 2 selected the choice lands there and is the only mark, also
  // when chosen a second time.
  QTest::mouseClick(left, Qt::LeftButton, {}, left->graphAt(2)->geometry().center());
  for (int round = 0; round < 2; ++round) {
    trigger(counters, kCmdCounterBase + power);
    ASSERT_NE(left->graphAt(2)->source, nullptr);
    EXPECT_EQ(left->graphAt(2)->source->index(), power);
    EXPECT_EQ(checkedIds(counters), std::vector<int>{kCmdCounterBase + power}) << "round " << round;
  }
}

}  // namespace
}  // namespace tv2::testing
