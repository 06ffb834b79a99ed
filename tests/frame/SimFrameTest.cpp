// The window program on the simulated intel-snb: start-up graphs, the stored
// profile, assigning without a selected slot, and a screenshot of the whole
// window after a few seconds of sampling.

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include <cstdio>
#include <vector>

#include "counters/model/CCounter.h"
#include "frame/AW_CMultiViewSplitter.h"
#include "frame/FrameStatusBar.h"
#include "tests/frame/SimFrameHarness.h"
#include "ui/CGraphControl.h"
#include "ui/CLeftView.h"
#include "ui/CView1.h"

namespace tv2::testing {
namespace {

std::vector<int32_t> shownMetrics(const CProfile& profile) {
  std::vector<int32_t> metrics;
  for (int32_t m : profile.metrics) {
    if (m != -1) metrics.push_back(m);
  }
  return metrics;
}

CLeftView* leftViewOf(CMainFrame& frame) {
  for (int column = 0; column < AW_CMultiViewSplitter::kColumnCount; ++column) {
    if (auto* view = dynamic_cast<CLeftView*>(frame.splitter().pane(column).widget)) return view;
  }
  return nullptr;
}

TEST(SimFrameTest, StartShowsTheDefaultGraphsAndCloseStoresThem) {
  SimFrameHarness h("intel-snb");
  ASSERT_TRUE(h.start());
  CMainFrame& frame = *h.frame();
  EXPECT_TRUE(frame.isVisible());
  ASSERT_NE(leftViewOf(frame), nullptr);
  EXPECT_EQ(frame.splitter().pane(0).widget, leftViewOf(frame));
  // Configuration 0 of the class: usage, temperature, L2 and L3 hit rate.
  const CProfile shown = h.snapshot();
  EXPECT_EQ(shown.configIndex, 0);
  EXPECT_EQ(shownMetrics(shown), (std::vector<int32_t>{1, 2, 19, 20}));

  frame.runCommand(kCmdExit);
  const std::vector<std::string> lines = fileLines(h.app->SettingsPath());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "[TV2 Profile]0 4 1 2 19 20");
  EXPECT_EQ(lines[3], "FLAGS=4");  // closed while paused
}

TEST(SimFrameTest, StoredProfileSelectsItsConfigurationAndShowsItsGraphs) {
  SimFrameHarness h("intel-snb");
  ASSERT_TRUE(SettingsFile(h.settingsPath()).write("[Tarvelle2]\n[TV2 Profile]1 2 1 15 4294967295 4294967295\n"));
  ASSERT_TRUE(h.start());
  EXPECT_EQ(h.app->currentConfig, 1);
  EXPECT_EQ(shownMetrics(h.snapshot()), (std::vector<int32_t>{1, 15}));
}

TEST(SimFrameTest, CounterCommandWithoutASelectedSlotChangesNothing) {
  SimFrameHarness h("intel-snb");
  ASSERT_TRUE(h.start());
  CMainFrame& frame = *h.frame();
  CLeftView* left = leftViewOf(frame);
  ASSERT_NE(left, nullptr);
  // The temperature counter of the package, to put somewhere.
  CProcessor_2* package = h.app->SelectedProcessor();
  ASSERT_NE(package, nullptr);
  CTList<CCounter> found;
  ASSERT_GT(package->FindCounters(0xFFFF, 0x102, found), 0);
  const int32_t temperature = found.head->object->index();

  // A click beside the slots selects none.
  QTest::mouseClick(left, Qt::LeftButton, {}, QPoint(2, 2));
  const std::vector<int32_t> before = shownMetrics(h.snapshot());
  EXPECT_TRUE(frame.OnCommand(kCmdCounterBase + temperature));
  EXPECT_EQ(shownMetrics(h.snapshot()), before);

  // With slot 0 selected the same command replaces its graph.
  const QRect slot0 = left->graphAt(0)->geometry();
  QTest::mouseClick(left, Qt::LeftButton, {}, slot0.center());
  frame.runCommand(kCmdCounterBase + temperature);
  EXPECT_EQ(shownMetrics(h.snapshot())[0], 2);
}

// Pixels of the graph's own fill colour inside its place on the window.
int curvePixels(const QImage& window, const CGraphControl& graph, const QWidget& frame) {
  const QRect area(graph.mapTo(&frame, QPoint(0, 0)), graph.size());
  const QRgb fill = graph.fillColour.rgb() | 0xFF000000u;
  int n = 0;
  const QRect r = area.intersected(window.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) n += (window.pixel(x, y) | 0xFF000000u) == fill;
  }
  return n;
}

TEST(SimFrameTest, ScreenshotAfterFiveSecondsShowsACurveInEveryGraph) {
  SimFrameHarness h("intel-snb");
  ASSERT_TRUE(h.start());
  CMainFrame& frame = *h.frame();
  ASSERT_EQ(frame.size(), QSize(1100, 800));
  // A workload that changes every second, different on every processor.
  const int cpus = h.machine->logicalProcessorCount();
  for (int second = 0; second < 5; ++second) {
    for (int cpu = 0; cpu < cpus; ++cpu) h.machine->setLoad(cpu, 0.2 + 0.15 * ((cpu + second * 3) % 5));
    h.run(1000);
  }
  QCoreApplication::processEvents();
  const QImage window = frame.grab().toImage();
  const std::string path = std::string(TV2_BINARY_DIR) + "/frame-screenshot-intel-snb.png";
  ASSERT_TRUE(window.save(QString::fromStdString(path)));
  std::printf("screenshot: %s\n", path.c_str());

  int graphsWithSource = 0;
  for (const CGraphControl* graph : frame.findChildren<CGraphControl*>()) {
    if (!graph->isVisible() || graph->source == nullptr) continue;
    ++graphsWithSource;
    EXPECT_GT(curvePixels(window, *graph, frame), 0) << graph->source->name;
  }
  // Four slots on the left, one graph per logical processor on the right.
  const int threads = static_cast<int>(h.app->SelectedProcessor()->threads.size());
  EXPECT_EQ(graphsWithSource, 4 + threads);
}

// Counter registers the driver host cannot read: the window opens without a
// question, and its status bar says once why event counters are off; no
// notice leaves the idle text.
TEST(SimFrameTest, StatusBarSaysWhyEventCountersAreOff) {
  {
    SimFrameHarness h("intel-snb");
    for (uint32_t reg : {0x38Du, 0x186u, 0x187u, 0x188u, 0x189u}) h.machine->hardware().setMsrFailing(reg, true);
    ASSERT_TRUE(h.start());
    EXPECT_TRUE(h.prompts.boxes.empty());
    const QString shown = h.frame()->frameStatusBar().messageText();
    EXPECT_EQ(shown.toStdString(), h.app->countersNotice);
    EXPECT_TRUE(shown.contains(QStringLiteral("processor 0"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("cannot be read"))) << shown.toStdString();
  }
  SimFrameHarness h("intel-snb");
  ASSERT_TRUE(h.start());
  EXPECT_EQ(h.frame()->frameStatusBar().messageText(), QString::fromUtf8(FrameStatusBar::kIdleText));
}

}  // namespace
}  // namespace tv2::testing
