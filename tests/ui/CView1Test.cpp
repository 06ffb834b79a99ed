// The right view: the graph grid for each announced metric, the panel texts
// of simulated processors and what a render of both views shows.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>

#include "ViewRig.h"
#include "counters/MetricCodes.h"
#include "ui/CGraphControl.h"
#include "ui/StaticLabel.h"

namespace tv2::test {
namespace {

void announce(ViewRig& rig, uint32_t identity) { rig.host.sendToFrame(UM_SHOW_COUNTER, identity, 0); }

// Grid places for n graphs in an 800 x 600 view, rows x cols.
void expectGrid(const CView1& view, int n, int rows, int cols) {
  ASSERT_EQ(view.graphsInUse(), n);
  const int gw = (800 - 7 * (cols + 1)) / cols;
  const int gh = (600 - 20 * rows - 190) / rows;
  const QSize name = view.nameLabelAt(0)->size();
  const QSize value = view.valueLabelAt(0)->size();
  for (int i = 0; i < n; ++i) {
    const int x = 7 + (i % cols) * (gw + 7);
    const int y = 190 + (i / cols) * (gh + 20);
    EXPECT_EQ(view.graphAt(i)->geometry(), QRect(x, y, gw, gh)) << i;
    EXPECT_EQ(view.nameLabelAt(i)->geometry(), QRect(QPoint(x, y - name.height()), name)) << i;
    EXPECT_EQ(view.valueLabelAt(i)->geometry(), QRect(QPoint(x + gw - 8 - value.width(), y - name.height()), value));
    EXPECT_FALSE(view.graphAt(i)->isHidden()) << i;
  }
  for (int i = n; i < CView1::kGraphCount; ++i) EXPECT_TRUE(view.graphAt(i)->isHidden()) << i;
}

int inkIn(const QImage& image, const QRect& area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) n += (image.pixel(x, y) | 0xFF000000u) != 0xFFFFFFFFu;
  }
  return n;
}

TEST(RightView, EightThreadsTwoRowsOfFourAndMinusOneHidesThem) {
  ViewRig rig("intel-snb");
  ASSERT_TRUE(rig.start());
  rig.applyDefaultProfile();  // slot 0, selected, shows usage: one graph per thread
  expectGrid(*rig.right, 8, 2, 4);
  EXPECT_EQ(rig.right->graphAt(5)->source->typeCode(), kCodeThreadUsage);

  rig.harness.run(1500);
  rig.host.tick(2);
  EXPECT_EQ(rig.right->eventNameLabel()->text(), QStringLiteral("使用率"));
  EXPECT_EQ(rig.right->nameLabelAt(7)->text().toStdString(), rig.right->graphAt(7)->source->name);
  EXPECT_EQ(rig.right->valueLabelAt(7)->text().toStdString(), rig.right->graphAt(7)->source->FormatValue());
  EXPECT_EQ(rig.right->graphAt(7)->scrollOffset, 2);

  announce(rig, 0xFFFFFFFFu);
  EXPECT_EQ(rig.right->graphsInUse(), 8);  // kept for the next layout
  for (int i = 0; i < CView1::kGraphCount; ++i) {
    EXPECT_TRUE(rig.right->graphAt(i)->isHidden());
    EXPECT_EQ(rig.right->graphAt(i)->source, nullptr);
    EXPECT_TRUE(rig.right->nameLabelAt(i)->text().isEmpty());
  }
  rig.host.tick();
  EXPECT_TRUE(rig.right->eventNameLabel()->text().isEmpty());
}

TEST(RightView, PackagePowerIsOneGraphAcrossTheWidth) {
  ViewRig rig("intel-snb");
  ASSERT_TRUE(rig.start());
  CCounter* power = rig.find(0, packageCode(kMetricPackagePower));
  ASSERT_NE(power, nullptr);
  announce(rig, power->identity);
  ASSERT_EQ(rig.right->graphsInUse(), 1);
  EXPECT_EQ(rig.right->graphAt(0)->geometry(), QRect(7, 190, 800 - 14, 600 - 210));
  EXPECT_EQ(rig.right->graphAt(0)->source, power);
  rig.harness.run(1000);
  rig.host.tick();
  EXPECT_TRUE(rig.right->nameLabelAt(0)->text().isEmpty());
  EXPECT_EQ(rig.right->valueLabelAt(0)->text().toStdString(), power->FormatValue());
  EXPECT_EQ(rig.right->eventNameLabel()->text(), QStringLiteral("封装功率"));

  // Only the metric number counts; the layout follows a resize.
  rig.right->resize(600, 400);
  EXPECT_EQ(rig.right->graphAt(0)->geometry(), QRect(7, 190, 586, 190));
}

TEST(RightView, TwelveThreadsThreeRowsOfFour) {
  ViewRig rig("unlisted");  // 6 cores, 12 threads
  ASSERT_TRUE(rig.start());
  announce(rig, rig.find(0, packageCode(kMetricUsage))->identity);
  expectGrid(*rig.right, 12, 3, 4);
}

TEST(RightView, FiveGraphsAllGetAPlace) {
  sim::SimMachineConfig five = *sim::SimMachine::preset("intel-snb");
  five.name.clear();
  five.model.coresPerPackage = 5;
  five.model.threadsPerCore = 1;
  five.model.coresPerPackageField = 8;
  five.model.logicalPerPackageField = 8;
  ViewRig rig(five);
  ASSERT_TRUE(rig.start());
  ASSERT_EQ(rig.package(0).threadCount, 5);
  announce(rig, rig.find(0, packageCode(kMetricUsage))->identity);
  expectGrid(*rig.right, 5, 2, 3);  // the last column of the second row stays free
}

TEST(RightView, PanelOfTheSimulatedCorei7) {
  ViewRig rig("intel-snb");
  ASSERT_TRUE(rig.start());
  const CView1& view = *rig.right;
  EXPECT_EQ(view.processorNameLabel()->text().toStdString(), rig.package(0).name);
  EXPECT_EQ(view.topologyLabel()->text(), QStringLiteral("拓扑 :\t\t4 核心, 8 CPUs"));
  EXPECT_EQ(view.featuresLabel()->text(), QStringLiteral("特征 :\t\t超线程"));
  EXPECT_EQ(view.clockLabel()->text(), QStringLiteral("最大时钟频率 :\t3.40 GHz (睿频 : 3.80 GHz)"));
  EXPECT_EQ(view.tdpLabel()->text(), QStringLiteral("热设计功耗 :\t95 W"));
  EXPECT_EQ(view.cacheLabelAt(1)->text(), QStringLiteral("L1 I-缓存 :\t4 x 32 KBytes\n"));
  EXPECT_EQ(view.cacheLabelAt(3)->text(), QStringLiteral("L3 缓存 :\t8 MBytes\n"));
  EXPECT_TRUE(view.cacheLabelAt(4)->text().isEmpty());
  EXPECT_EQ(view.cacheLabelAt(4)->geometry().left(), 800 / 2 + 7);
  EXPECT_EQ(view.eventNameLabel()->geometry().top(), 165 - view.processorNameLabel()->height());
}

TEST(RightView, ChineseTextRendersInBothViews) {
  ViewRig rig("intel-snb");
  ASSERT_TRUE(rig.start());
  rig.applyDefaultProfile();
  rig.harness.run(1500);
  rig.host.tick(3);

  const QFont& dialog = rig.host.drawingObjects().dialogFont;
  EXPECT_TRUE(QFontInfo(dialog).family().contains(QStringLiteral("WenQuanYi"))) << QFontInfo(dialog).family().toStdString();
  for (const QChar c : QStringLiteral("拓扑核心特征睿频缓存使用率")) EXPECT_TRUE(QFontMetrics(dialog).inFont(c));
  EXPECT_LE(QFontMetrics(rig.host.drawingObjects().font17).height(), 17);
  EXPECT_LE(QFontMetrics(rig.host.drawingObjects().font14).height(), 14);

  const QImage right = rig.right->grab().toImage();
  right.save(QStringLiteral(TV2_BINARY_DIR "/right-view.png"));
  // The labels' Chinese heads: the first 4 characters of each line, drawn
  // in ink on white.
  for (const StaticLabel* label : {rig.right->topologyLabel(), rig.right->clockLabel(), rig.right->cacheLabelAt(2),
                                   rig.right->eventNameLabel(), rig.right->processorNameLabel()}) {
    const QRect head(label->geometry().topLeft(), QSize(4 * 11, label->height()));
    EXPECT_GT(inkIn(right, head), 20) << label->text().toStdString();
  }
  const QImage left = rig.left->grab().toImage();
  left.save(QStringLiteral(TV2_BINARY_DIR "/left-view.png"));
  for (int k = 0; k < 4; ++k) {
    EXPECT_GT(inkIn(left, rig.left->nameLabelAt(k)->geometry()), 20) << k;
    EXPECT_GT(inkIn(left, rig.left->valueLabelAt(k)->geometry()), 10) << k;
  }
}

}  // namespace
}  // namespace tv2::test
