// A load the machine applies by itself as its clock runs: the drifting
// demonstration and fixed shares, integrated exactly however seldom the
// totals are read.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>

#include "platform/sim/SimMachine.h"

namespace tv2::sim {
namespace {

constexpr int64_t kUnitsPerMs = 10000;  // 100 ns units

int64_t busy(const ProcessorTimes& t) { return t.kernel - t.idle + t.user; }

std::shared_ptr<SimMachine> manualMachine(const char* preset) {
  auto m = std::make_shared<SimMachine>(SimMachine::preset(preset).value());
  m->useManualClock();
  return m;
}

TEST(SimLoadScheduleTest, DemonstrationDriftsWithinItsRangeAndDiffersPerProcessor) {
  const SimLoadSchedule demo = SimLoadSchedule::demonstration();
  EXPECT_TRUE(demo.drifting());
  std::set<double> seen;
  for (uint64_t step = 0; step < 200; ++step) {
    for (int cpu = 0; cpu < 8; ++cpu) {
      const double load = demo.loadAt(cpu, step);
      EXPECT_GE(load, 0.1 - 1e-9) << cpu << " " << step;
      EXPECT_LE(load, 0.8 + 1e-9) << cpu << " " << step;
      seen.insert(load);
    }
    EXPECT_NE(demo.loadAt(0, step), demo.loadAt(1, step)) << step;
    EXPECT_NE(demo.loadAt(0, step), demo.loadAt(0, step + 1)) << step;
  }
  EXPECT_GT(seen.size(), 150u);
  // Far into a run the value is still a load, not the noise of a huge angle.
  const double late = demo.loadAt(3, UINT64_MAX);
  EXPECT_GE(late, 0.1 - 1e-9);
  EXPECT_LE(late, 0.8 + 1e-9);
}

TEST(SimLoadScheduleTest, BusyTimeFollowsEveryStepEvenWhenReadOnceAfterMany) {
  auto m = manualMachine("intel-snb");
  m->advanceMs(250);  // the schedule starts where the clock stands, not at zero
  const SimLoadSchedule demo = SimLoadSchedule::demonstration();
  m->runLoadSchedule(demo);
  ProcessorTimes before[8];
  for (int cpu = 0; cpu < 8; ++cpu) before[cpu] = m->times(cpu);
  m->advanceMs(3500);
  for (int cpu = 0; cpu < 8; ++cpu) {
    // Three whole steps and half of the fourth.
    const double expectedMs = 1000.0 * (demo.loadAt(cpu, 0) + demo.loadAt(cpu, 1) + demo.loadAt(cpu, 2)) +
                              500.0 * demo.loadAt(cpu, 3);
    const double gotMs = static_cast<double>(busy(m->times(cpu)) - busy(before[cpu])) / kUnitsPerMs;
    EXPECT_NEAR(gotMs, expectedMs, 0.001) << "processor " << cpu;
  }
  // Instructions are counted for the busy share of each step too.
  EXPECT_GT(m->trueRate(0, SimEvent::kInstructions), 0.0);
}

TEST(SimLoadScheduleTest, FixedSharesHoldAndALoadSetByHandEndsTheSchedule) {
  auto m = manualMachine("intel-snb");
  m->runLoadSchedule(SimLoadSchedule::fixed({1.0, 0.0, 0.25, 7.0, -1.0}));
  ProcessorTimes before[8];
  for (int cpu = 0; cpu < 8; ++cpu) before[cpu] = m->times(cpu);
  m->advanceMs(5000);
  // Past the list's end the last share holds; shares are clamped to 0..1.
  const double expected[8] = {1.0, 0.0, 0.25, 1.0, 0.0, 0.0, 0.0, 0.0};
  for (int cpu = 0; cpu < 8; ++cpu) {
    EXPECT_EQ(busy(m->times(cpu)) - busy(before[cpu]), static_cast<int64_t>(expected[cpu] * 5000 * kUnitsPerMs))
        << "processor " << cpu;
  }

  m->runLoadSchedule(SimLoadSchedule::demonstration());
  m->setLoadAll(0.5);
  for (int cpu = 0; cpu < 8; ++cpu) before[cpu] = m->times(cpu);
  m->advanceMs(4000);
  for (int cpu = 0; cpu < 8; ++cpu) {
    EXPECT_EQ(busy(m->times(cpu)) - busy(before[cpu]), 2000 * kUnitsPerMs) << "processor " << cpu;
  }
}

}  // namespace
}  // namespace tv2::sim
