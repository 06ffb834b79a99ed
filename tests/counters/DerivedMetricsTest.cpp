#include <gtest/gtest.h>

#include "counters/DerivedMetrics.h"
#include "counters/MetricCatalogue.h"
#include "counters/model/SampleClock.h"
#include "cpu/CProcessor_2.h"

namespace tv2 {
namespace {

using Slot = CCounter* LogicalProcessorRecord::*;

// A package of plain counters whose values the test sets, with the derived
// counters the catalogue creates for them.
class DerivedMetricsTest : public ::testing::Test {
 protected:
  void SetUp() override { SampleClock::reset(300); }
  void TearDown() override { SampleClock::reset(); }

  void shape(int cores, int threadsPerCore) {
    p.threads.resize(static_cast<size_t>(cores * threadsPerCore));
    p.cores.resize(static_cast<size_t>(cores));
    for (int c = 0; c < cores; ++c) {
      for (int t = 0; t < threadsPerCore; ++t) p.cores[c].threads.push_back(&p.threads[c * threadsPerCore + t]);
    }
  }
  // A raw counter in a thread's slot (what a sampler would fill).
  void raw(int thread, Slot slot, float value) {
    LogicalProcessorRecord& t = p.threads[static_cast<size_t>(thread)];
    if (t.*slot == nullptr) {
      t.*slot = new CCounter(p.counterCount++);
      t.counters.Append(t.*slot);
    }
    (t.*slot)->value = value;
  }
  // A power rail of the package; flags as the catalogue sets them.
  CCounter* rail(CCounter* CProcessor_2::*slot, float watts, uint32_t flags = kShowOneDecimal) {
    auto* counter = new CCounter(p.counterCount++);
    counter->displayFlags = flags;
    counter->value = watts;
    p.counters.Append(counter);
    p.*slot = counter;
    return counter;
  }
  // Busy time of one thread over an interval, 100 ns units, into the time
  // counters the catalogue built.
  void times(int thread, float busy, float interval = 3e6f) {
    raw(thread, &LogicalProcessorRecord::userTime, busy * 0.75f);
    raw(thread, &LogicalProcessorRecord::kernelTime, interval - busy * 0.75f);  // includes idle
    raw(thread, &LogicalProcessorRecord::idleTime, interval - busy);
  }
  void build() { AddDerivedMetrics(p, CounterBuildContext{}); }

  CProcessor_2 p;
};

TEST_F(DerivedMetricsTest, UsagePerThreadAndTheirMeanForThePackage) {
  shape(4, 1);
  build();
  times(0, 3e6f);  // never idle
  times(1, 3e6f);
  times(2, 0);  // fully idle
  times(3, 0);
  ComputeDerivedMetrics(p);
  EXPECT_FLOAT_EQ(p.threads[0].usage->value, 100.0f);
  EXPECT_FLOAT_EQ(p.threads[1].usage->value, 100.0f);
  EXPECT_EQ(p.threads[2].usage->value, 0.0f);
  EXPECT_EQ(p.threads[3].usage->value, 0.0f);
  EXPECT_FLOAT_EQ(p.usageSummary->value, 50.0f);
  ASSERT_EQ(p.usageSummary->history->count, 1);
  EXPECT_EQ(p.usageSummary->history->times[0], 300.0f);

  // The summary is recomputed from zero on every pass, not accumulated.
  times(0, 1.5e6f);
  ComputeDerivedMetrics(p);
  EXPECT_NEAR(p.usageSummary->value, 37.5f, 1e-3f);
  EXPECT_EQ(p.usageSummary->history->count, 2);
}

TEST_F(DerivedMetricsTest, IpcAndCpiPerThreadAndFromSumsForThePackage) {
  shape(2, 1);
  raw(0, &LogicalProcessorRecord::instructions, 3000);
  raw(0, &LogicalProcessorRecord::coreCycles, 2000);
  raw(1, &LogicalProcessorRecord::instructions, 1000);
  raw(1, &LogicalProcessorRecord::coreCycles, 4000);
  build();
  ComputeDerivedMetrics(p);
  EXPECT_FLOAT_EQ(p.threads[0].ipc->value, 1.5f);
  EXPECT_NEAR(p.threads[0].cpi->value, 0.667f, 0.0005f);
  EXPECT_FLOAT_EQ(p.threads[1].ipc->value, 0.25f);
  // 4000 / 6000 instructions per cycle, not the mean of 1.5 and 0.25.
  EXPECT_NEAR(p.ipcSummary->value, 4000.0f / 6000.0f, 1e-6f);
  EXPECT_NEAR(p.cpiSummary->value, 1.5f, 1e-5f);
  EXPECT_FLOAT_EQ(p.mipsSummary->value, 4.0f);  // thousands of MIPS
  EXPECT_EQ(p.coreCyclesSummary->value, 2000.0f);  // the first thread's cycles

  // No cycles: IPC keeps its figure without a point, the summary reads 0.
  raw(0, &LogicalProcessorRecord::coreCycles, 0);
  raw(1, &LogicalProcessorRecord::coreCycles, 0);
  ComputeDerivedMetrics(p);
  EXPECT_FLOAT_EQ(p.threads[0].ipc->value, 1.5f);
  EXPECT_EQ(p.threads[0].ipc->history->count, 1);
  EXPECT_EQ(p.ipcSummary->value, 0.0f);
  EXPECT_EQ(p.ipcSummary->history->count, 1);
}

TEST_F(DerivedMetricsTest, StallRatioClampedPerThreadAndFromSumsForThePackage) {
  shape(2, 1);
  for (int t = 0; t < 2; ++t) raw(t, &LogicalProcessorRecord::coreCycles, 1000);
  raw(0, &LogicalProcessorRecord::stalledCycles, 300);
  raw(0, &LogicalProcessorRecord::totalCycles, 1000);
  raw(1, &LogicalProcessorRecord::stalledCycles, 1500);  // a threshold artefact
  raw(1, &LogicalProcessorRecord::totalCycles, 1000);
  build();
  ComputeDerivedMetrics(p);
  EXPECT_FLOAT_EQ(p.threads[0].stallRatio->value, 30.0f);
  EXPECT_EQ(p.threads[1].stallRatio->value, 100.0f);
  EXPECT_EQ(p.stallRatioSummary->value, 90.0f);  // 1800 of 2000
}

TEST_F(DerivedMetricsTest, AmdCacheRatesCountFillsAsHitsAndTheNorthbridgeL3) {
  shape(2, 1);
  for (int t = 0; t < 2; ++t) {
    raw(t, &LogicalProcessorRecord::instructions, 100);
    raw(t, &LogicalProcessorRecord::l2Requests, 150);  // more requests than instructions
    raw(t, &LogicalProcessorRecord::l2Misses, 30);
    raw(t, &LogicalProcessorRecord::l2FillWriteback, 15);
  }
  // The northbridge counts for the whole package, on the first thread only.
  raw(0, &LogicalProcessorRecord::l3Requests, 60);
  raw(0, &LogicalProcessorRecord::l3Misses, 20);
  build();
  ASSERT_NE(p.cores[0].l3HitRate, nullptr);
  EXPECT_EQ(p.cores[1].l3HitRate, nullptr);
  ComputeDerivedMetrics(p);
  // Hits 150 - 30 + 15 = 135 against 30 misses.
  EXPECT_NEAR(p.cores[0].l2HitRate->value, 135.0f * 100 / 165, 1e-4f);
  // Requests per instruction: 165 % at core level, limited for the package.
  EXPECT_NEAR(p.cores[1].l2RequestRate->value, 165.0f, 1e-4f);
  EXPECT_EQ(p.l2RequestRateSummary->value, 100.0f);
  EXPECT_NEAR(p.cores[0].l3HitRate->value, 40.0f * 100 / 60, 1e-4f);
  EXPECT_NEAR(p.l3HitRateSummary->value, 40.0f * 100 / 60, 1e-4f);
}

TEST_F(DerivedMetricsTest, BranchRatesNeedMissesAndInstructions) {
  shape(1, 2);
  for (int t = 0; t < 2; ++t) {
    raw(t, &LogicalProcessorRecord::instructions, 1000);
    raw(t, &LogicalProcessorRecord::branchesRetired, 200);
    raw(t, &LogicalProcessorRecord::branchesMissed, 10);
  }
  build();
  ComputeDerivedMetrics(p);
  EXPECT_FLOAT_EQ(p.cores[0].branchHitRate->value, 95.0f);
  EXPECT_FLOAT_EQ(p.cores[0].branchInstructionRate->value, 20.0f);
  EXPECT_FLOAT_EQ(p.branchHitRateSummary->value, 95.0f);
  EXPECT_FLOAT_EQ(p.branchInstructionRateSummary->value, 20.0f);

  // A pass without misses leaves the core's figures as they were.
  for (int t = 0; t < 2; ++t) raw(t, &LogicalProcessorRecord::branchesMissed, 0);
  ComputeDerivedMetrics(p);
  EXPECT_EQ(p.cores[0].branchHitRate->history->count, 1);
  EXPECT_EQ(p.branchHitRateSummary->value, 100.0f);
}

TEST_F(DerivedMetricsTest, IntelUncoreIsPackageLessCoresAndGraphics) {
  shape(1, 1);
  rail(&CProcessor_2::packagePower, 40.0f);
  rail(&CProcessor_2::corePower, 25.0f);
  rail(&CProcessor_2::graphicsPower, 5.0f);
  CCounter* uncore = rail(&CProcessor_2::uncorePower, 0.0f, kShowOneDecimal | kDerivedFromPower);
  ComputeDerivedMetrics(p);
  EXPECT_EQ(uncore->value, 10.0f);
  EXPECT_EQ(uncore->history->count, 1);

  // Without a positive core figure the package alone is shown, unrecorded.
  p.corePower->value = 0.0f;
  ComputeDerivedMetrics(p);
  EXPECT_EQ(uncore->value, 40.0f);
  EXPECT_EQ(uncore->history->count, 1);

  // Rails above the package for one pass (read a moment apart): no figure,
  // never a negative one; the last figure stays.
  p.corePower->value = 25.0f;
  ComputeDerivedMetrics(p);
  ASSERT_EQ(uncore->value, 10.0f);
  p.packagePower->value = 28.0f;
  ComputeDerivedMetrics(p);
  EXPECT_EQ(uncore->value, 10.0f);
  EXPECT_EQ(uncore->history->count, 2);
  for (int32_t i = 0; i < uncore->history->count; ++i) EXPECT_GE(uncore->history->values[i], 0.0f);
}

TEST_F(DerivedMetricsTest, TrinityPackageIsTheSumOfItsRails) {
  shape(1, 1);
  CCounter* package = rail(&CProcessor_2::packagePower, 0.0f, kShowOneDecimal | kDerivedFromPower);
  rail(&CProcessor_2::corePower, 30.0f);
  rail(&CProcessor_2::uncorePower, 12.0f);  // measured, not computed here
  ComputeDerivedMetrics(p);
  EXPECT_EQ(package->value, 42.0f);
  EXPECT_EQ(p.uncorePower->value, 12.0f);
  p.corePower->value = -1.0f;  // a rail without a figure adds nothing
  ComputeDerivedMetrics(p);
  EXPECT_EQ(package->value, 12.0f);
}

TEST_F(DerivedMetricsTest, InstructionsPerWattUseTheCoreRailWhenThereIsOne) {
  shape(2, 1);
  for (int t = 0; t < 2; ++t) raw(t, &LogicalProcessorRecord::instructions, 1000);
  rail(&CProcessor_2::packagePower, 40.0f);
  build();
  ComputeDerivedMetrics(p);
  EXPECT_FLOAT_EQ(p.ipwSummary->value, 50.0f);  // 2000 MIPS over 40 W

  rail(&CProcessor_2::corePower, 25.0f);
  ComputeDerivedMetrics(p);
  EXPECT_FLOAT_EQ(p.ipwSummary->value, 80.0f);
}

TEST_F(DerivedMetricsTest, InputsBeyondTheFirstThreadNeverReachAMissingFigure) {
  // The first thread of the core had no event counters (it could not be
  // pinned), the second has them: the catalogue created no core figures, and
  // the pass must not write through the empty slots.
  shape(1, 2);
  raw(1, &LogicalProcessorRecord::instructions, 1000);
  raw(1, &LogicalProcessorRecord::coreCycles, 1000);
  raw(1, &LogicalProcessorRecord::branchesRetired, 100);
  raw(1, &LogicalProcessorRecord::branchesMissed, 5);
  raw(1, &LogicalProcessorRecord::l2Hits, 10);
  raw(1, &LogicalProcessorRecord::l2Requests, 20);
  raw(1, &LogicalProcessorRecord::stalledCycles, 10);
  raw(1, &LogicalProcessorRecord::totalCycles, 20);
  build();
  EXPECT_EQ(p.cores[0].branchHitRate, nullptr);
  EXPECT_EQ(p.stallRatioSummary, nullptr);
  EXPECT_TRUE(ComputeDerivedMetrics(p));
  EXPECT_FLOAT_EQ(p.threads[1].ipc->value, 1.0f);
}

}  // namespace
}  // namespace tv2
