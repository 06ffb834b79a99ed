// The left view driven through its messages, clicks and menus on simulated
// machines, with the right view listening through a fake main window.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <string>

#include "ViewRig.h"
#include "app/ProfileLine.h"
#include "counters/MetricCodes.h"
#include "ui/CGraphControl.h"
#include "ui/StaticLabel.h"

namespace tv2::test {
namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

class LeftViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.start());
    rig.applyDefaultProfile();  // usage, temperature, L2 and L3 hit rate
    rig.host.log.clear();
  }
  CCounter* slot(int k) { return rig.left->graphAt(k)->source; }
  QMenu* counters() { return rig.popup(QStringLiteral("计数器")); }
  bool checked(QMenu* menu, int32_t id) {
    QAction* item = findCommand(menu, id);
    return item != nullptr && item->isChecked();
  }
  static std::vector<int> checkedIds(const QMenu* menu) {
    std::vector<int> ids;
    for (QAction* item : menu->actions()) {
      if (item->isChecked()) ids.push_back(item->data().toInt());
    }
    return ids;
  }
  ViewRig rig{"intel-snb"};
};

TEST_F(LeftViewTest, InitialUpdateReplacesThePlaceholderWithThreePopups) {
  QMenu* select = rig.host.selectMenu();
  EXPECT_EQ(findCommand(select, kCmdPlaceholder), nullptr);
  QStringList titles;
  for (QAction* item : select->actions()) titles << item->text();
  EXPECT_EQ(titles, (QStringList{"处理器", "计数器配置", "计数器"}));

  QAction* processor = rig.popup(QStringLiteral("处理器"))->actions().value(0);
  ASSERT_NE(processor, nullptr);
  EXPECT_EQ(processor->data().toInt(), kCmdProcessorBase);
  EXPECT_EQ(processor->text().toStdString(), rig.package(0).name);
  EXPECT_TRUE(processor->isChecked());
  QMenu* configs = rig.popup(QStringLiteral("计数器配置"));
  EXPECT_EQ(findCommand(configs, kCmdConfigBase + 1)->text(), QStringLiteral("配置 1"));
  EXPECT_TRUE(checked(configs, kCmdConfigBase));

  // One item per processor-summary counter, by counter index.
  CTList<CCounter> summary;
  rig.package(0).FindCounters(0xFF00, 0x100, summary);
  ASSERT_EQ(counters()->actions().size(), summary.count);
  for (CCounter* counter : summary) {
    QAction* item = findCommand(counters(), kCmdCounterBase + counter->index());
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text().toStdString(), counter->name);
  }
}

TEST_F(LeftViewTest, ClickingSlotsSelectsAnnouncesAndChecks) {
  ASSERT_NE(slot(2), nullptr);
  rig.clickSlot(2);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(rig.left->graphAt(k)->selected != 0, k == 2) << k;
  EXPECT_EQ(rig.host.shown(), std::vector<uint32_t>{slot(2)->identity});
  EXPECT_TRUE(checked(counters(), kCmdCounterBase + slot(2)->index()));
  EXPECT_FALSE(checked(counters(), kCmdCounterBase + slot(0)->index()));

  // The right view shows the metric of slot 2 on every instance it has.
  const uint32_t metric = slot(2)->identity & 0xFF;
  ASSERT_GT(rig.right->graphsInUse(), 0);
  for (int i = 0; i < rig.right->graphsInUse(); ++i) {
    ASSERT_NE(rig.right->graphAt(i)->source, nullptr);
    EXPECT_EQ(rig.right->graphAt(i)->source->identity & 0xFF, metric);
    EXPECT_FALSE(rig.right->graphAt(i)->isHidden());
  }

  // A click between the slots selects none and announces nothing.
  rig.host.log.clear();
  ViewRig::press(*rig.left, QPoint(50, rig.left->graphAt(1)->geometry().top() - 5));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(rig.left->graphAt(k)->selected, 0);
  EXPECT_TRUE(rig.host.shown().empty());
}

TEST_F(LeftViewTest, AnEmptySlotAnnouncesNothingToShow) {
  CProfile two;
  two.AddMetric(kMetricUsage);
  two.AddMetric(kMetricPackagePower);
  rig.applyProfile(two);
  ASSERT_NE(slot(1), nullptr);
  ASSERT_EQ(slot(3), nullptr);

  rig.host.log.clear();
  rig.clickSlot(3);
  EXPECT_EQ(rig.host.shown(), std::vector<uint32_t>{kNone});
  for (int i = 0; i < CView1::kGraphCount; ++i) {
    EXPECT_TRUE(rig.right->graphAt(i)->isHidden());
    EXPECT_EQ(rig.right->graphAt(i)->source, nullptr);
  }
  for (QAction* item : counters()->actions()) EXPECT_FALSE(item->isChecked()) << item->text().toStdString();
}

TEST_F(LeftViewTest, TheChosenCounterReplacesTheSelectedSlot) {
  CCounter* power = rig.find(0, packageCode(kMetricPackagePower));
  ASSERT_NE(power, nullptr);
  rig.clickSlot(1);
  rig.host.log.clear();
  rig.host.runCommand(kCmdCounterBase + power->index());
  EXPECT_EQ(slot(1), power);
  EXPECT_EQ(rig.host.shown(), std::vector<uint32_t>{power->identity});
  EXPECT_TRUE(checked(counters(), kCmdCounterBase + power->index()));
  EXPECT_EQ(rig.right->graphsInUse(), 1);  // package power exists only for the package

  // The same choice made in the context menu of the selected slot reaches
  // the frame once, as a command, and not also as a menu-bar choice.
  int barChoices = 0;
  QObject::connect(&rig.host.menuBar(), &QMenuBar::triggered, [&] { ++barChoices; });
  CCounter* usage = rig.find(0, packageCode(kMetricUsage));
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    menu->setActiveAction(findCommand(menu, kCmdCounterBase + usage->index()));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(menu, &enter);
  });
  rig.host.commands.clear();
  rig.clickSlot(1, Qt::RightButton);
  EXPECT_EQ(rig.host.commands, std::vector<int32_t>{kCmdCounterBase + usage->index()});
  EXPECT_EQ(slot(1), usage);
  EXPECT_EQ(barChoices, 0);
  EXPECT_EQ(checkedIds(counters()), std::vector<int>{kCmdCounterBase + usage->index()});

  // The shown counter chosen again in the context menu keeps its mark
  // (Qt took it away when the item was activated).
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    menu->setActiveAction(findCommand(menu, kCmdCounterBase + usage->index()));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(menu, &enter);
  });
  rig.clickSlot(1, Qt::RightButton);
  EXPECT_EQ(slot(1), usage);
  EXPECT_EQ(checkedIds(counters()), std::vector<int>{kCmdCounterBase + usage->index()});

  // A right click on a slot that is not selected opens nothing.
  rig.host.commands.clear();
  rig.clickSlot(2, Qt::RightButton);
  EXPECT_TRUE(rig.host.commands.empty());
}

TEST_F(LeftViewTest, EveryRunTimeItemRunsItsCommandOnceAndKeepsTheMarksTrue) {
  std::vector<QAction*> items;
  for (const char* title : {"计数器", "处理器", "计数器配置"}) {
    QMenu* popup = rig.popup(QString::fromUtf8(title));
    ASSERT_NE(popup, nullptr) << title;
    for (QAction* item : popup->actions()) items.push_back(item);
  }
  ASSERT_GT(items.size(), 4u);
  for (QAction* item : items) {
    rig.host.commands.clear();
    item->trigger();
    EXPECT_EQ(rig.host.commands, std::vector<int32_t>{item->data().toInt()}) << item->text().toStdString();
    EXPECT_EQ(checkedIds(rig.popup(QStringLiteral("处理器"))), std::vector<int>{kCmdProcessorBase});
    EXPECT_EQ(checkedIds(rig.popup(QStringLiteral("计数器配置"))),
              std::vector<int>{kCmdConfigBase + rig.app().currentConfig});
    const std::vector<int> counterMarks = checkedIds(counters());
    ASSERT_EQ(counterMarks.size(), 1u) << item->text().toStdString();  // slot 0 is selected and filled
    EXPECT_EQ(counterMarks[0], kCmdCounterBase + static_cast<int>(slot(0)->index()));
  }
}

TEST_F(LeftViewTest, AssignmentsThatCannotBePlacedChangeNothing) {
  CCounter* power = rig.find(0, packageCode(kMetricPackagePower));
  CCounter* before[4] = {slot(0), slot(1), slot(2), slot(3)};
  ViewRig::press(*rig.left, QPoint(2, 2));  // no slot selected
  rig.host.sendToFrame(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(power->index()), -1);
  rig.host.sendToFrame(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(power->index()), 4);
  rig.host.sendToFrame(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(power->index()), -7);
  rig.host.sendToFrame(UM_ASSIGN_GRAPH, 511, 0);  // no counter with that index
  for (int k = 0; k < 4; ++k) EXPECT_EQ(slot(k), before[k]) << k;
}

TEST_F(LeftViewTest, ReselectingTheCurrentConfigurationChangesNothing) {
  CCounter* before[4] = {slot(0), slot(1), slot(2), slot(3)};
  rig.host.sendToFrame(UM_SELECT_CONFIG, 0, 1);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(slot(k), before[k]) << k;
  EXPECT_EQ(rig.host.count(UM_CLEAR_GRAPHS), 0);

  // Another configuration: emptied, rebuilt, refilled with its own graphs and
  // its own counter popup in place of the first one.
  QMenu* first = counters();
  rig.host.runCommand(kCmdConfigBase + 1);
  EXPECT_EQ(rig.app().currentConfig, 1);
  EXPECT_EQ(rig.host.count(UM_CLEAR_GRAPHS), 1);
  const CProfile& defaults = *rig.app().configs[1].profile;
  for (int k = 0; k < 4; ++k) {
    ASSERT_NE(slot(k), nullptr) << k;
    EXPECT_EQ(static_cast<int32_t>(slot(k)->identity & 0xFF), defaults.metrics[static_cast<size_t>(k)]);
  }
  EXPECT_NE(counters(), first);
  EXPECT_EQ(rig.host.selectMenu()->actions().size(), 3);
  EXPECT_TRUE(checked(rig.popup(QStringLiteral("计数器配置")), kCmdConfigBase + 1));
}

TEST_F(LeftViewTest, FiveHundredPixelsGiveFourSlotsOfOneHundred) {
  rig.left->resize(250, 420);
  rig.left->resize(300, 500);
  const int tops[4] = {20, 140, 260, 380};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(rig.left->graphAt(k)->geometry(), QRect(7, tops[k], 286, 100)) << k;
    const QSize name = rig.left->nameLabelAt(0)->size();
    const QSize value = rig.left->valueLabelAt(0)->size();
    EXPECT_EQ(rig.left->nameLabelAt(k)->geometry(), QRect(QPoint(7, tops[k] - name.height()), name));
    EXPECT_EQ(rig.left->valueLabelAt(k)->geometry(),
              QRect(QPoint(300 - 7 - value.width(), tops[k] - value.height()), value));
  }
  // White around the slots; the graphs paint themselves (grey surround of the
  // selected slot 0).
  const QImage image = rig.left->grab().toImage();
  EXPECT_EQ(image.pixel(3, 300) | 0xFF000000u, 0xFFFFFFFFu);
  EXPECT_EQ(image.pixel(150, 125) | 0xFF000000u, 0xFFFFFFFFu);
  EXPECT_EQ(image.pixel(150, 490) | 0xFF000000u, 0xFFFFFFFFu);
  EXPECT_EQ(image.pixel(150, 22) | 0xFF000000u, qRgb(230, 230, 230));
}

TEST_F(LeftViewTest, TicksWriteTheLabelsAndMoveTheGrids) {
  rig.harness.run(2000);
  rig.host.tick(3);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(rig.left->nameLabelAt(k)->text().toStdString(), slot(k)->name);
    EXPECT_EQ(rig.left->valueLabelAt(k)->text().toStdString(), slot(k)->FormatValue());
    EXPECT_EQ(rig.left->graphAt(k)->scrollOffset, 3);
  }
  rig.host.sendToFrame(UM_CLEAR_GRAPHS, 0, 0);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(slot(k), nullptr);
    EXPECT_TRUE(rig.left->nameLabelAt(k)->text().isEmpty());
  }
  EXPECT_EQ(rig.left->graphAt(0)->selected, 1);  // the selection stays
}

TEST_F(LeftViewTest, SnapshotClosesGapsAndWritesTheLine) {
  CProfile profile;
  profile.AddMetric(kMetricPackagePower);
  profile.AddMetric(kMetricUsage);
  rig.applyProfile(profile);
  rig.host.sendToFrame(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(slot(1)->index()), 3);
  rig.left->graphAt(1)->source = nullptr;  // slots 0 and 3 filled

  std::string out;
  CProfile snapshot;
  rig.host.sendToFrame(UM_SAVE_PROFILE, reinterpret_cast<uintptr_t>(&out), reinterpret_cast<intptr_t>(&snapshot));
  EXPECT_EQ(out, "[TV2 Profile]0 2 3 1 4294967295 4294967295\n");

  rig.host.sendToFrame(UM_CLEAR_GRAPHS, 0, 0);
  out.clear();
  rig.host.sendToFrame(UM_SAVE_PROFILE, reinterpret_cast<uintptr_t>(&out), reinterpret_cast<intptr_t>(&snapshot));
  EXPECT_EQ(out, "");
  EXPECT_EQ(snapshot.configIndex, 0);
  EXPECT_EQ(snapshot.metricCount, 0);
}

// Two packages; the second lacks the temperature metric.
TEST(LeftViewPackages, ASlotKeepsItsCounterWhenTheNewPackageLacksTheMetric) {
  ViewRig rig("intel-snb-2p");
  ASSERT_TRUE(rig.start());
  rig.applyDefaultProfile();
  CCounter* oldTemperature = rig.left->graphAt(1)->source;
  ASSERT_NE(oldTemperature, nullptr);
  ASSERT_EQ(oldTemperature->typeCode(), packageCode(kMetricTemperature));
  rig.find(1, packageCode(kMetricTemperature))->setTypeCode(0x1EE);

  rig.host.runCommand(kCmdProcessorBase + 1);
  EXPECT_EQ(rig.app().selectedProcessor, 1);
  EXPECT_EQ(rig.left->graphAt(0)->source, rig.find(1, packageCode(kMetricUsage)));
  EXPECT_EQ(rig.left->graphAt(1)->source, oldTemperature);
  QMenu* processors = rig.popup(QStringLiteral("处理器"));
  EXPECT_FALSE(findCommand(processors, kCmdProcessorBase)->isChecked());
  EXPECT_TRUE(findCommand(processors, kCmdProcessorBase + 1)->isChecked());
  // The right view follows slot 0 onto the new package.
  EXPECT_EQ(rig.right->graphAt(0)->source, rig.find(1, kCodeThreadUsage));

  // A package that does not exist: stored, nothing moves, nothing checked.
  CCounter* usage = rig.left->graphAt(0)->source;
  rig.host.runCommand(kCmdProcessorBase + 7);
  EXPECT_EQ(rig.app().selectedProcessor, 7);
  EXPECT_EQ(rig.left->graphAt(0)->source, usage);
  for (QAction* item : processors->actions()) EXPECT_FALSE(item->isChecked());
}

}  // namespace
}  // namespace tv2::test
