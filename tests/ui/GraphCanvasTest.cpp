// The incremental graph image against a full repaint: after every tick,
// pause, clear, resize, scale or setting change the kept image must equal,
// pixel for pixel, a graph painted from scratch in the same state; and a
// plain tick must repaint only a few columns.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "counters/model/CCounter.h"
#include "counters/model/SampleClock.h"
#include "tests/ui/GraphImage.h"
#include "ui/CGraphControl.h"
#include "ui/GraphCanvas.h"

namespace tv2 {
namespace {

using Paint = GraphCanvas::Paint;

// A counter's history as the graph sees it (newest first, at most 512
// points), driven tick by tick like the display tick drives the real one.
class Scenario {
 public:
  explicit Scenario(uint32_t seed, uint32_t clock = 0) : m_random(seed), m_clock(clock) {}

  GraphFields fields;
  QSize size{262, 140};
  int32_t fullScale = 100;
  bool hasSource = true;

  // One display tick: the clock moves 100 ms unless paused, every
  // `period`-th tick stores a point, and the grid moves as the views move it.
  void tick(int period = 3, bool paused = false, bool moveGrid = true) {
    if (!paused) {
      m_clock += 100;
      if (++m_ticks % period == 0) push(m_clock, nextValue());
    }
    if (moveGrid && fields.gridSpacingX > 0) {
      fields.scrollOffset = (fields.scrollOffset + fields.scrollStep) % fields.gridSpacingX;
    }
  }
  void push(uint32_t clock, float value) {
    m_points.emplace_front(static_cast<float>(clock), value);
    if (m_points.size() > static_cast<size_t>(CDataTable::kCapacity)) m_points.pop_back();
  }
  void clear() { m_points.clear(); }
  void setClock(uint32_t clock) { m_clock = clock; }
  uint32_t clock() const { return m_clock; }

  GraphSnapshot snapshot() const {
    GraphSnapshot data;
    if (!hasSource) return data;
    std::vector<float> times;
    std::vector<float> values;
    for (const auto& [t, v] : m_points) {
      times.push_back(t);
      values.push_back(v);
    }
    data.assign(times.data(), values.data(), static_cast<int32_t>(times.size()), fullScale);
    return data;
  }

  // Paints the canvas and a fresh full image and says where they differ.
  ::testing::AssertionResult paintMatches(GraphCanvas& canvas) const {
    const GraphSnapshot data = snapshot();
    canvas.paint(size, fields, data, m_clock);
    const QImage kept = canvas.composed();
    QImage full(size, QImage::Format_RGB32);
    full.fill(0xFF000000u);
    GraphPainter::paintFramed(full, fields, data, m_clock);
    if (kept.size() != full.size()) return ::testing::AssertionFailure() << "size differs";
    for (int y = 0; y < full.height(); ++y) {
      for (int x = 0; x < full.width(); ++x) {
        if (kept.pixel(x, y) != full.pixel(x, y)) {
          return ::testing::AssertionFailure()
                 << "pixel " << x << "," << y << " is " << std::hex << kept.pixel(x, y)
                 << " instead of " << full.pixel(x, y) << std::dec << " at clock " << m_clock;
        }
      }
    }
    return ::testing::AssertionSuccess();
  }

 private:
  // Mostly a wandering level, with the values a counter can really hold:
  // full scale and above, zero and below, NaN.
  float nextValue() {
    const int kind = std::uniform_int_distribution<int>(0, 19)(m_random);
    if (kind == 0) return static_cast<float>(fullScale);
    if (kind == 1) return 2.5f * static_cast<float>(fullScale);
    if (kind == 2) return -3.0f;
    if (kind == 3) return std::numeric_limits<float>::quiet_NaN();
    m_level += std::normal_distribution<float>(0.0f, 8.0f)(m_random);
    m_level = std::clamp(m_level, 0.0f, static_cast<float>(fullScale));
    return m_level;
  }

  std::mt19937 m_random;
  std::deque<std::pair<float, float>> m_points;
  uint32_t m_clock;
  int m_ticks = 0;
  float m_level = 50.0f;
};

TEST(GraphCanvas, TicksRepaintOnlyNewColumnsAndMatchAFullRepaint) {
  for (const bool labelled : {true, false}) {
    Scenario run(7);
    run.fields.showGrid = labelled ? 1 : 0;
    run.fields.showScale = labelled ? 1 : 0;
    GraphCanvas canvas;
    ASSERT_TRUE(run.paintMatches(canvas));
    EXPECT_EQ(canvas.lastPaint(), Paint::kFull);
    int partial = 0;
    int columns = 0;
    for (int i = 0; i < 400; ++i) {
      run.tick();
      ASSERT_TRUE(run.paintMatches(canvas)) << "tick " << i << (labelled ? " labelled" : "");
      partial += canvas.lastPaint() == Paint::kPartial;
      columns += canvas.lastPaintedColumns();
    }
    // Every tick after the first is partial, and on average a tick repaints
    // the new column, the right edge and the changed level beside them, not
    // the 224-column plot.
    EXPECT_EQ(partial, 400);
    EXPECT_LT(columns / 400, 12);
  }
}

TEST(GraphCanvas, PausesClearsAndDenseOrMissingPointsMatchAFullRepaint) {
  Scenario run(11);
  GraphCanvas canvas;
  for (int i = 0; i < 120; ++i) run.tick();
  ASSERT_TRUE(run.paintMatches(canvas));

  // Paused: the clock stands still while the grid keeps moving, then while
  // nothing moves at all (nothing to repaint).
  for (int i = 0; i < 30; ++i) {
    run.tick(3, /*paused=*/true);
    ASSERT_TRUE(run.paintMatches(canvas)) << "paused tick " << i;
  }
  run.tick(3, true, /*moveGrid=*/false);
  ASSERT_TRUE(run.paintMatches(canvas));
  EXPECT_EQ(canvas.lastPaint(), Paint::kUnchanged) << canvas.lastPaintedColumns();

  // A point every tick and several per pixel (50 ms apart), with times that
  // cannot be placed: columns with several levels and vertical runs.
  for (int i = 0; i < 60; ++i) {
    run.tick(1);
    run.push(run.clock() - 50, static_cast<float>(i % 9) * 12.0f);
    if (i % 17 == 0) run.push(run.clock(), std::numeric_limits<float>::quiet_NaN());
    ASSERT_TRUE(run.paintMatches(canvas)) << "dense tick " << i;
  }

  // History cleared, then the counter unbound, then bound again.
  run.clear();
  ASSERT_TRUE(run.paintMatches(canvas));
  for (int i = 0; i < 20; ++i) {
    run.tick();
    ASSERT_TRUE(run.paintMatches(canvas)) << "after clear " << i;
  }
  run.hasSource = false;
  run.tick();
  ASSERT_TRUE(run.paintMatches(canvas));
  run.hasSource = true;
  for (int i = 0; i < 20; ++i) {
    run.tick();
    ASSERT_TRUE(run.paintMatches(canvas)) << "rebound " << i;
  }
}

TEST(GraphCanvas, SettingSizeScaleAndClockChangesMatchAFullRepaint) {
  Scenario run(23);
  GraphCanvas canvas;
  for (int i = 0; i < 90; ++i) run.tick();
  ASSERT_TRUE(run.paintMatches(canvas));

  const auto changeAndTick = [&](const char* what) {
    ASSERT_TRUE(run.paintMatches(canvas)) << what;
    for (int i = 0; i < 12; ++i) {
      run.tick();
      ASSERT_TRUE(run.paintMatches(canvas)) << what << ", tick " << i;
    }
  };
  run.size = QSize(402, 202);
  changeAndTick("wider and taller");
  run.size = QSize(40, 30);
  changeAndTick("plot narrower than its margins");
  run.size = QSize(1602, 120);
  changeAndTick("wide enough for the whole history");
  run.size = QSize(300, 160);
  run.fullScale = 10;
  changeAndTick("full scale 10: labels with a decimal");
  run.fullScale = 0;
  changeAndTick("full scale 0");
  run.fullScale = 100;
  run.fields.selected = 1;
  changeAndTick("selected");
  run.fields.fillColour = QColor(10, 20, 30);
  changeAndTick("fill colour");
  run.fields.gridSpacingX = 7;
  run.fields.scrollOffset = 3;
  changeAndTick("narrow vertical grid");
  run.fields.scrollStep = 3;
  changeAndTick("grid moving three pixels a tick");
  run.fields.gridSpacingY = 4;
  changeAndTick("narrow horizontal grid");
  run.fields.showScale = 0;
  changeAndTick("no scale");
  run.fields.showGrid = 0;
  run.fields.showScale = 1;
  changeAndTick("scale margin without grid");

  // The clock jumping ahead by more than the plot, by a few pixels at once,
  // and going back (a reset).
  run.setClock(run.clock() + 100000);
  changeAndTick("clock far ahead");
  run.setClock(run.clock() + 700);
  changeAndTick("clock seven pixels ahead");
  run.setClock(run.clock() - 5000);
  changeAndTick("clock back");
}

TEST(GraphCanvas, ClocksBeyondFloatPrecisionMatchAFullRepaint) {
  // Past 2^27 ms (37 hours) a stored time is a multiple of 16 ms, so the
  // points do not all move by one pixel per tick.
  Scenario run(5, (1u << 27) + 37);
  GraphCanvas canvas;
  for (int i = 0; i < 300; ++i) {
    run.tick(2);
    ASSERT_TRUE(run.paintMatches(canvas)) << "tick " << i;
  }
  // And across the wrap of the 32-bit clock.
  run.setClock(0xFFFFFFFFu - 1000);
  for (int i = 0; i < 40; ++i) {
    run.tick(2);
    ASSERT_TRUE(run.paintMatches(canvas)) << "wrap tick " << i;
  }
}

TEST(GraphCanvas, RecordsWhatEachColumnReceives) {
  // Newest level 50 of 100 for 3 pixels, before it 100 (full scale, one row
  // above the plot) for 2: plot 10..110 high, right edge at 200.
  const GraphPainter::Edges plot{8, 10, 200, 110};
  const GraphSnapshot data = test::snapshotOf({{3000.0f, 50.0f}, {2800.0f, 100.0f}});
  std::vector<GraphCanvas::ColumnInk> columns;
  ASSERT_TRUE(GraphCanvas::recordColumns(plot, data, 3200, columns));
  ASSERT_EQ(columns.size(), 193u);
  const auto ink = [&](int x) { return columns[static_cast<size_t>(x - plot.left)]; };
  // The right edge's column gets only the first level's outline pixel.
  EXPECT_EQ(ink(200).fillTop, GraphCanvas::ColumnInk::kNoRow);
  EXPECT_EQ(ink(200).outlineTop, 59);
  EXPECT_EQ(ink(198).fillTop, 59);
  EXPECT_EQ(ink(198).outlineTop, 59);
  EXPECT_EQ(ink(198).outlineBottom, 59);
  // Column 197: the newer level's fill, the step up from 59 and the older
  // level's outline at 9.
  EXPECT_EQ(ink(197).fillTop, 59);
  EXPECT_EQ(ink(197).outlineTop, 9);
  EXPECT_EQ(ink(197).outlineBottom, 59);
  EXPECT_EQ(ink(196).fillTop, 9);
  EXPECT_EQ(ink(195).fillTop, 9);
  EXPECT_EQ(ink(195).outlineTop, GraphCanvas::ColumnInk::kNoRow);
  EXPECT_EQ(ink(194), GraphCanvas::ColumnInk{});
  for (const auto& column : columns) EXPECT_FALSE(column.mixed);
}

// The widget: a counter filled by ticks of the real sample clock, painted
// through the paint event as the screen gets it.
TEST(GraphCanvas, WidgetShowsTheSameAsAFullRepaintAfterManyTicks) {
  SampleClock::reset();
  CCounter counter(0);
  CGraphControl control;
  control.resize(320, 150);
  control.source = &counter;
  int partial = 0;
  for (int i = 0; i < 150; ++i) {
    SampleClock::advance(100);
    if (i % 3 == 0) counter.Push(static_cast<float>((i * 37) % 110));
    control.AdvanceGrid();
    const QImage shown = control.grab().toImage().convertToFormat(QImage::Format_RGB32);
    partial += control.canvas().lastPaint() == Paint::kPartial;
    GraphSnapshot data;
    data.capture(&counter);
    QImage full(control.size(), QImage::Format_RGB32);
    GraphPainter::paintFramed(full, control, data, SampleClock::now());
    ASSERT_EQ(shown, full) << "tick " << i;
  }
  EXPECT_GE(partial, 140);
  SampleClock::reset();
}

}  // namespace
}  // namespace tv2
