// What the window really shows of the graphs, read back from the window's
// backing store: a tick scrolls each graph's band there and repaints only
// the columns it changed, so after every tick, burst of ticks, pause, clear,
// resize, setting change, hide and show, and paint elsewhere, each graph on
// screen must still equal a graph painted from scratch in the same state.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <array>
#include <memory>

#include "counters/model/CCounter.h"
#include "counters/model/CDataTable.h"
#include "counters/model/SampleClock.h"
#include "ui/CGraphControl.h"
#include "ui/GraphPainter.h"
#include "ui/GraphSnapshot.h"

namespace tv2 {
namespace {

// A graph that counts the pixels its paint events were asked for.
class CountingGraph : public CGraphControl {
 public:
  using CGraphControl::CGraphControl;
  long long paintedPixels = 0;
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    for (const QRect& rect : event->region()) paintedPixels += static_cast<long long>(rect.width()) * rect.height();
    CGraphControl::paintEvent(event);
  }
};

class GraphScreen : public ::testing::Test {
 protected:
  static constexpr int kGraphs = 3;

  void SetUp() override {
    SampleClock::reset();
    window = std::make_unique<QWidget>();
    window->resize(760, 420);
    for (int i = 0; i < kGraphs; ++i) {
      counters[static_cast<size_t>(i)] = std::make_unique<CCounter>(i);
      CountingGraph* graph = new CountingGraph(window.get());
      graph->source = counters[static_cast<size_t>(i)].get();
      graphs[static_cast<size_t>(i)] = graph;
    }
    // A labelled graph, a left-view slot (no grid, no labels) and a selected
    // graph with a narrow grid that moves faster than the data.
    graphs[1]->showGrid = 0;
    graphs[1]->showScale = 0;
    graphs[1]->fillColour = QColor(177, 227, 241);
    graphs[2]->selected = 1;
    graphs[2]->gridSpacingX = 9;
    graphs[2]->scrollStep = 2;
    layOut(QSize(330, 170));
    window->show();
    QElapsedTimer waited;
    waited.start();
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) && waited.elapsed() < 5000) {
      QCoreApplication::processEvents();
    }
    sync();
  }

  void TearDown() override {
    window.reset();
    SampleClock::reset();
  }

  void layOut(QSize graphSize) {
    graphs[0]->setGeometry(QRect(QPoint(5, 5), graphSize));
    graphs[1]->setGeometry(QRect(QPoint(15 + graphSize.width(), 5), graphSize));
    graphs[2]->setGeometry(QRect(QPoint(5, 15 + graphSize.height()), graphSize));
  }

  // What the event loop does between ticks: the pending repaints reach the
  // backing store.
  static void sync() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  // One display tick as the views run it: the clock, a point every
  // `period`-th tick, then the grid and a refresh of every graph.
  void tick(int period = 3, bool paused = false) {
    if (!paused) {
      SampleClock::advance(100);
      if (++ticks % period == 0) {
        for (int i = 0; i < kGraphs; ++i) {
          counters[static_cast<size_t>(i)]->Push(static_cast<float>((ticks * (13 + 7 * i)) % 120));
        }
      }
    }
    for (CGraphControl* graph : graphs) {
      graph->AdvanceGrid();
      graph->refresh();
    }
  }

  QImage screen() const {
    return window->screen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
  }

  // Every shown graph on screen (or only graph `only`) against a graph
  // painted from scratch.
  ::testing::AssertionResult screenMatches(int only = -1) const {
    const QImage shown = screen();
    if (shown.isNull()) return ::testing::AssertionFailure() << "no backing store to read";
    for (int i = 0; i < kGraphs; ++i) {
      const CGraphControl* graph = graphs[static_cast<size_t>(i)];
      if (graph->isHidden() || (only >= 0 && i != only)) continue;
      GraphSnapshot data;
      data.capture(graph->source);
      QImage full(graph->size(), QImage::Format_RGB32);
      GraphPainter::paintFramed(full, *graph, data, SampleClock::now());
      const QImage part = shown.copy(graph->geometry());
      for (int y = 0; y < full.height(); ++y) {
        for (int x = 0; x < full.width(); ++x) {
          if (part.pixel(x, y) != full.pixel(x, y)) {
            return ::testing::AssertionFailure() << "graph " << i << " pixel " << x << "," << y << " is " << std::hex
                                                 << part.pixel(x, y) << " instead of " << full.pixel(x, y) << std::dec
                                                 << " at clock " << SampleClock::now();
          }
        }
      }
    }
    return ::testing::AssertionSuccess();
  }

  std::unique_ptr<QWidget> window;
  std::array<std::unique_ptr<CCounter>, kGraphs> counters;
  std::array<CountingGraph*, kGraphs> graphs{};
  int ticks = 0;
};

TEST_F(GraphScreen, TicksScrollTheScreenAndRepaintOnlyNewColumns) {
  ASSERT_TRUE(screenMatches());
  const long long before[] = {graphs[0]->paintedPixels, graphs[1]->paintedPixels};
  for (int i = 0; i < 300; ++i) {
    tick();
    sync();
    ASSERT_TRUE(screenMatches()) << "tick " << i;
  }
  // Where the grid moves with the data, a tick repaints the new column, the
  // right edge and the changed level: on average a few columns of the band,
  // not the graph's 330 x 170 pixels.
  for (int i = 0; i < 2; ++i) {
    const long long perTick = (graphs[static_cast<size_t>(i)]->paintedPixels - before[i]) / 300;
    EXPECT_LT(perTick, 8 * 170) << "graph " << i;
    EXPECT_GT(perTick, 0) << "graph " << i;
  }

  // Several ticks before the window gets to repaint (a busy event loop): the
  // waiting columns move along with the scrolled band.
  for (int i = 0; i < 40; ++i) {
    for (int k = 0; k <= i % 4; ++k) tick(1);
    sync();
    ASSERT_TRUE(screenMatches()) << "burst " << i;
  }
}

TEST_F(GraphScreen, PausesClearsJumpsAndSettingsKeepTheScreenRight) {
  for (int i = 0; i < 80; ++i) tick();
  sync();
  ASSERT_TRUE(screenMatches());

  // Paused, the clock stands still and a clear's redraw still moves the grid.
  for (int i = 0; i < 12; ++i) {
    tick(3, /*paused=*/true);
    sync();
    ASSERT_TRUE(screenMatches()) << "paused " << i;
  }
  counters[0]->history->Clear();
  counters[2]->history->Clear();
  tick(3, true);
  sync();
  ASSERT_TRUE(screenMatches()) << "cleared while paused";
  for (int i = 0; i < 30; ++i) {
    tick(1);
    sync();
    ASSERT_TRUE(screenMatches()) << "after the clear " << i;
  }

  // The clock a few pixels ahead at once, far ahead, and the counter unbound.
  SampleClock::advance(700);
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "seven pixels";
  SampleClock::advance(100000);
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "far ahead";
  graphs[1]->source = nullptr;
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "unbound";
  graphs[1]->source = counters[1].get();
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "bound again";

  // A setting changed by a view, which then asks for a repaint, between ticks
  // and with ticks before the repaint.
  graphs[0]->selected = 1;
  graphs[0]->update();
  const int paintsBefore = graphs[0]->paints;
  sync();
  ASSERT_TRUE(screenMatches()) << "selected";
  // Painted whole once: a whole repaint on screen needs no second one.
  EXPECT_EQ(graphs[0]->paints, paintsBefore + 1);
  graphs[2]->selected = 0;
  graphs[2]->update();
  tick();
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "unselected, two ticks before the repaint";
  for (int i = 0; i < 20; ++i) {
    tick();
    sync();
    ASSERT_TRUE(screenMatches()) << "after the settings " << i;
  }
}

TEST_F(GraphScreen, ResizesHidingAndPaintsElsewhereKeepTheScreenRight) {
  for (int i = 0; i < 60; ++i) tick();
  sync();
  ASSERT_TRUE(screenMatches());

  // New sizes, as the views lay the graphs out, with ticks before and after.
  layOut(QSize(250, 120));
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "smaller";
  layOut(QSize(360, 190));
  sync();
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "larger";
  window->resize(800, 450);
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "window resized";

  // A hidden graph is not painted and keeps no image; shown again it is up
  // to date at once.
  graphs[1]->hide();
  EXPECT_TRUE(graphs[1]->canvas().size().isEmpty());
  const long long hiddenBefore = graphs[1]->paintedPixels;
  for (int i = 0; i < 25; ++i) tick();
  sync();
  EXPECT_EQ(graphs[1]->paintedPixels, hiddenBefore);
  graphs[1]->show();
  sync();
  ASSERT_TRUE(screenMatches()) << "shown again";

  // A minimised window's graphs do no work; restored, the first tick brings
  // them and the screen up to date together.
  const QSize canvasBefore = graphs[0]->canvas().size();
  window->showMinimized();
  sync();
  if (window->isMinimized()) {
    const int paintsBefore = graphs[0]->paints;
    for (int i = 0; i < 30; ++i) tick();
    sync();
    EXPECT_EQ(graphs[0]->paints, paintsBefore);
    EXPECT_EQ(graphs[0]->canvas().size(), canvasBefore);
  }
  window->showNormal();
  sync();
  tick();
  sync();
  ASSERT_TRUE(screenMatches()) << "restored";

  // A grab (a paint somewhere else) between ticks brings the kept image up
  // to date; the window must follow it (the other graphs wait for the tick).
  SampleClock::advance(300);
  counters[0]->Push(90.0f);
  const QImage grabbed = graphs[0]->grab().toImage();
  EXPECT_FALSE(grabbed.isNull());
  sync();
  ASSERT_TRUE(screenMatches(0)) << "after a grab";
  for (int i = 0; i < 20; ++i) {
    tick();
    sync();
    ASSERT_TRUE(screenMatches()) << "after the grab " << i;
  }
}

}  // namespace
}  // namespace tv2
