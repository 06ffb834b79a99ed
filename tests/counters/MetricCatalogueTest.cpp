#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "counters/AMD_BD_PowerCounter.h"
#include "counters/AMD_KV_PowerCounter.h"
#include "counters/CPerfCounter.h"
#include "counters/Intel_SNB_PowerCounter.h"
#include "counters/Intel_SNB_TemperatureCounter.h"
#include "counters/MetricCatalogue.h"
#include "counters/MetricCodes.h"
#include "counters/PmuRegisters.h"
#include "tests/counters/SimDriverHarness.h"

namespace tv2 {
namespace {

using testing::SimDriverHarness;

// The catalogue's steps in building order, as a list rebuild runs them.
void build(SimDriverHarness& sim, CProcessor_2& package, int32_t configuration) {
  package.ClearCounters();
  CounterBuildContext context = sim.context();
  if (configuration >= 0) {
    EXPECT_TRUE(AddFixedCounters(package, context));
    EXPECT_TRUE(AddEventCounters(package, context, configuration));
    EXPECT_TRUE(AddNorthbridgeCounters(package, context));
  }
  EXPECT_TRUE(AddPowerAndThermalCounters(package, context));
  EXPECT_TRUE(AddDerivedMetrics(package, context));
}

uint32_t selectLow(SimDriverHarness& sim, int cpu, uint32_t select) {
  return static_cast<uint32_t>(sim.msr(cpu, select));
}

std::vector<CCounter*> toVector(const CTList<CCounter>& list) {
  std::vector<CCounter*> out;
  for (CCounter* counter : list) out.push_back(counter);
  return out;
}

std::vector<CCounter*> allCounters(const CProcessor_2& package) {
  CTList<CCounter> found;
  package.FindCounters(0, 0, found);
  return toVector(found);
}

bool contains(const CTList<CCounter>& list, const CCounter* counter) {
  for (CCounter* c : list) {
    if (c == counter) return true;
  }
  return false;
}

int32_t countCode(const CProcessor_2& package, uint32_t code) {
  CTList<CCounter> found;
  return package.FindCounters(kMetricLevelMask, code, found);
}

TEST(MetricCatalogueTest, NehalemConfigurationsSplitCacheAndBranchFigures) {
  SimDriverHarness sim("intel-b133");  // model 1A
  CProcessor_2& package = sim.package();
  build(sim, package, 0);
  const int cpu3 = sim.cpuOf(package.threads[3]);
  EXPECT_EQ(sim.msr(cpu3, kMsrPerfGlobalControl), (uint64_t{7} << 32) | 0xF);
  EXPECT_EQ(sim.msr(cpu3, kMsrFixedCounterControl), 0x333u);
  EXPECT_EQ(selectLow(sim, cpu3, 0x186), 0x4302CBu);
  EXPECT_EQ(selectLow(sim, cpu3, 0x187), 0x4308CBu);
  EXPECT_EQ(selectLow(sim, cpu3, 0x188), 0x4310CBu);
  EXPECT_EQ(selectLow(sim, cpu3, 0x189), 0x4304CBu);
  for (const LogicalProcessorRecord& t : package.threads) {
    EXPECT_TRUE(t.instructions && t.coreCycles && t.referenceCycles && t.timeStamp && t.usage);
    EXPECT_TRUE(t.l2Hits && t.l2HitsModified && t.l3Misses && t.l3UnsharedHits);
    EXPECT_TRUE(t.ipc && t.cpi);
    EXPECT_FALSE(t.branchesRetired || t.stalledCycles || t.stallRatio);
    EXPECT_EQ(t.l2Hits->unit, "%");
  }
  for (const CoreRecord& core : package.cores) {
    EXPECT_TRUE(core.l2HitRate && core.l3HitRate && core.l2RequestRate && core.temperature);
    EXPECT_FALSE(core.branchHitRate || core.branchInstructionRate);
  }
  EXPECT_TRUE(package.l2HitRateSummary && package.l3HitRateSummary && package.ipcSummary);
  EXPECT_FALSE(package.branchHitRateSummary || package.stallRatioSummary || package.packagePower);
  ASSERT_NE(package.temperatureSummary, nullptr);
  EXPECT_EQ(package.temperatureSummary->name, "温度 (核心 0)");

  build(sim, package, 1);
  EXPECT_EQ(selectLow(sim, cpu3, 0x188), 0x1C301C2u);
  EXPECT_EQ(selectLow(sim, cpu3, 0x189), 0x2C3003Cu);
  for (const LogicalProcessorRecord& t : package.threads) {
    EXPECT_FALSE(t.l2Hits || t.l3Misses);
    EXPECT_TRUE(t.branchesRetired && t.branchesMissed && t.stallRatio);
    EXPECT_EQ(t.stalledCycles->typeCode(), kCodeThreadStalledCycles);
    EXPECT_EQ(t.totalCycles->typeCode(), kCodeThreadTotalCycles);
    EXPECT_EQ(t.branchesRetired->unit, "");
  }
  EXPECT_FALSE(package.l2HitRateSummary || package.l3HitRateSummary);
  EXPECT_TRUE(package.branchHitRateSummary && package.branchInstructionRateSummary && package.stallRatioSummary);
}

TEST(MetricCatalogueTest, ServerNehalemCountsL3MissesWithTheLastLevelEvent) {
  sim::SimMachineConfig config = *sim::SimMachine::preset("intel-b133");
  config.model.signature = 0x106E5;  // model 1E
  SimDriverHarness sim(config);
  build(sim, sim.package(), 0);
  EXPECT_EQ(selectLow(sim, sim.cpuOf(sim.package().threads[1]), 0x188), 0x43412Eu);
}

TEST(MetricCatalogueTest, IndicesFollowBuildingOrder) {
  SimDriverHarness sim("intel-snb");
  CProcessor_2& package = sim.package();
  build(sim, package, 0);
  std::vector<CCounter*> counters = allCounters(package);
  ASSERT_EQ(static_cast<int32_t>(counters.size()), package.counterCount);
  std::vector<int32_t> indices;
  for (CCounter* c : counters) indices.push_back(c->index());
  std::sort(indices.begin(), indices.end());
  for (size_t i = 0; i < indices.size(); ++i) EXPECT_EQ(indices[i], static_cast<int32_t>(i));

  // Fixed counters of every processor first, then the event counters, then
  // the sensors, then the derived figures, package summaries last.
  const auto n = static_cast<int32_t>(package.threads.size());
  for (int32_t i = 0; i < n; ++i) {
    EXPECT_EQ(package.threads[i].instructions->index(), 3 * i);
    EXPECT_EQ(package.threads[i].referenceCycles->index(), 3 * i + 2);
    EXPECT_EQ(package.threads[i].l2Hits->index(), 3 * n + 4 * i);
  }
  EXPECT_LT(package.threads[n - 1].l3UnsharedHits->index(), package.cores[0].temperature->index());
  EXPECT_LT(package.graphicsPower->index(), package.threads[0].idleTime->index());
  // Thread figures, then core figures, then the package's, each in order.
  int32_t lastThreadFigure = 0;
  for (const LogicalProcessorRecord& t : package.threads) {
    lastThreadFigure = std::max(lastThreadFigure, t.counters.At(t.counters.count - 1)->index());
  }
  int32_t previous = lastThreadFigure;
  for (const CoreRecord& core : package.cores) {
    for (CCounter* c : core.counters) {
      if (c == core.temperature) continue;  // a sensor, built earlier
      EXPECT_EQ(c->index(), previous + 1);
      previous = c->index();
    }
  }
  for (CCounter* c : package.counters) {
    EXPECT_EQ(c->index(), previous + 1);
    previous = c->index();
  }
  EXPECT_EQ(previous, package.counterCount - 1);
}

TEST(MetricCatalogueTest, SandyBridgeSensorsFollowTheRegistersThatRead) {
  SimDriverHarness sim("intel-snb");  // TjMax 98, graphics rail, no DRAM rail
  CProcessor_2& package = sim.package();
  build(sim, package, 1);
  ASSERT_NE(package.temperatureSummary, nullptr);
  EXPECT_EQ(package.temperatureSummary->name, "封装温度");
  EXPECT_EQ(dynamic_cast<Intel_SNB_TemperatureCounter*>(package.temperatureSummary)->statusRegister,
            kMsrPackageThermStatus);
  EXPECT_EQ(dynamic_cast<Intel_SNB_TemperatureCounter*>(package.cores[1].temperature)->tjMax, 98.0f);
  EXPECT_EQ(package.cores[1].temperature->name, "核心 1");
  ASSERT_TRUE(package.packagePower && package.corePower && package.graphicsPower && package.uncorePower);
  EXPECT_EQ(package.dramPower, nullptr);
  EXPECT_EQ(package.corePower->name, "IA 核心功率");
  EXPECT_EQ(package.graphicsPower->name, "GT 功率");
  EXPECT_EQ(package.uncorePower->displayFlags, kShowOneDecimal | kDerivedFromPower);
  EXPECT_EQ(dynamic_cast<Intel_SNB_PowerCounter*>(package.corePower)->energyRegister, kMsrPp0EnergyStatus);
  EXPECT_EQ(dynamic_cast<Intel_SNB_PowerCounter*>(package.corePower)->energyUnit, -1.0);
  // Every sensor is sampled by core 0's first logical processor.
  for (CCounter* sensor : {package.temperatureSummary, package.packagePower, package.uncorePower}) {
    EXPECT_TRUE(contains(package.threads[0].counters, sensor));
  }
  EXPECT_TRUE(contains(package.threads[2].counters, package.cores[1].temperature));
  EXPECT_NE(package.ipwSummary, nullptr);

  sim::SimMachineConfig config = *sim::SimMachine::preset("intel-snb-2p");
  SimDriverHarness twoPackages(config);
  build(twoPackages, twoPackages.package(1), 0);
  EXPECT_NE(twoPackages.package(1).dramPower, nullptr);
  EXPECT_EQ(twoPackages.package(1).graphicsPower, nullptr);
}

TEST(MetricCatalogueTest, InstructionsPerWattNeedAPowerFigure) {
  SimDriverHarness sim("intel-snb");
  CProcessor_2& package = sim.package();
  sim.machine->hardware().setMsrFailing(kMsrPackageEnergyStatus, true);
  build(sim, package, 0);
  EXPECT_EQ(package.packagePower, nullptr);
  ASSERT_NE(package.corePower, nullptr);
  EXPECT_EQ(package.uncorePower, nullptr);  // needs both rails
  EXPECT_NE(package.ipwSummary, nullptr);    // the core rail is enough

  sim.machine->hardware().setMsrFailing(kMsrPp0EnergyStatus, true);
  build(sim, package, 0);
  EXPECT_EQ(package.ipwSummary, nullptr);
  EXPECT_NE(package.mipsSummary, nullptr);
}

TEST(MetricCatalogueTest, AtomWithoutTemperatureTargetAssumesOneHundred) {
  SimDriverHarness sim("intel-fsb");
  CProcessor_2& package = sim.package();
  build(sim, package, 2);
  ASSERT_NE(package.temperatureSummary, nullptr);
  EXPECT_EQ(dynamic_cast<Intel_SNB_TemperatureCounter*>(package.temperatureSummary)->tjMax, 100.0f);
  EXPECT_EQ(sim.msr(sim.cpuOf(package.threads[1]), kMsrPerfGlobalControl), (uint64_t{7} << 32) | 0x3);
  EXPECT_TRUE(package.threads[1].stallRatio && package.stallRatioSummary && package.coreCyclesSummary);
  EXPECT_EQ(package.mipsSummary->fullScale, 12);  // 6 per logical processor

  // Sensors that give no valid reading are left out.
  sim.machine->hardware().setMsrFailing(kMsrThermStatus, true);
  build(sim, package, 2);
  EXPECT_EQ(package.temperatureSummary, nullptr);
  EXPECT_EQ(package.cores[0].temperature, nullptr);
}

TEST(MetricCatalogueTest, BulldozerHasNoIpcWithoutItsCycleCounter) {
  SimDriverHarness sim("amd-bd");
  CProcessor_2& package = sim.package();
  ASSERT_EQ(package.generalCounterCount, 6);
  build(sim, package, 0);
  const int cpu = sim.cpuOf(package.threads[5]);
  EXPECT_EQ(selectLow(sim, cpu, amdPerfCtl(0)), 0x43077Du);
  EXPECT_EQ(selectLow(sim, cpu, amdPerfCtl(3)), 0x4300C0u);
  EXPECT_EQ(sim.msr(0, kMsrAmdNbPerfCtl0), (uint64_t{4} << 32) | 0x40F7E0);
  EXPECT_EQ(sim.msr(0, kMsrAmdNbPerfCtl1), (uint64_t{4} << 32) | 0x40F7E1);
  for (const LogicalProcessorRecord& t : package.threads) {
    EXPECT_TRUE(t.l2Requests && t.l2FillWriteback && t.l2Misses && t.instructions && t.branchesRetired);
    EXPECT_FALSE(t.coreCycles || t.ipc || t.cpi || t.referenceCycles);
    EXPECT_EQ(t.instructions->unit, "MIPS");
  }
  // The northbridge counts for the node on the first processor only.
  EXPECT_TRUE(package.threads[0].l3Requests && package.threads[0].l3Misses);
  EXPECT_FALSE(package.threads[1].l3Requests);
  EXPECT_NE(package.cores[0].l3HitRate, nullptr);
  EXPECT_EQ(package.cores[1].l3HitRate, nullptr);
  EXPECT_FALSE(package.ipcSummary || package.cpiSummary || package.coreCyclesSummary);
  EXPECT_TRUE(package.l3HitRateSummary && package.l2HitRateSummary && package.branchHitRateSummary);
  EXPECT_NE(dynamic_cast<AMD_BD_PowerCounter*>(package.packagePower), nullptr);
  EXPECT_EQ(package.temperatureSummary->name, "封装温度");

  build(sim, package, 1);
  EXPECT_EQ(selectLow(sim, cpu, amdPerfCtl(0)), 0x430076u);
  EXPECT_TRUE(package.threads[2].coreCycles && package.threads[2].ipc && package.threads[2].stallRatio);
  EXPECT_EQ(package.threads[2].coreCycles->name, "CPU 2");
  EXPECT_TRUE(package.ipcSummary && package.cpiSummary && package.coreCyclesSummary);
  EXPECT_FALSE(package.l2HitRateSummary);
}

TEST(MetricCatalogueTest, FourAmdCountersLeaveOutTheBranchRows) {
  SimDriverHarness sim("amd-kv-16h");
  CProcessor_2& package = sim.package();
  ASSERT_EQ(package.generalCounterCount, 4);
  build(sim, package, 0);
  for (const LogicalProcessorRecord& t : package.threads) {
    EXPECT_TRUE(t.coreCycles && t.totalCycles && t.stalledCycles && t.instructions && t.ipc);
    EXPECT_FALSE(t.branchesRetired || t.branchesMissed);
  }
  EXPECT_EQ(package.branchHitRateSummary, nullptr);
  EXPECT_EQ(package.threads[0].l3Requests, nullptr);  // northbridge counters are AMD_BD's only
  EXPECT_NE(dynamic_cast<AMD_KV_PowerCounter*>(package.graphicsPower), nullptr);
  EXPECT_EQ(package.graphicsPower->name, "GPU 功率");
}

TEST(MetricCatalogueTest, UnlistedProcessorStillShowsUsage) {
  SimDriverHarness sim("unlisted");
  CProcessor_2& package = sim.package();
  build(sim, package, 0);
  for (const LogicalProcessorRecord& t : package.threads) {
    EXPECT_TRUE(t.usage && t.idleTime && t.kernelTime && t.userTime && t.timeStamp);
    EXPECT_EQ(t.counters.count, 5);
  }
  EXPECT_NE(package.usageSummary, nullptr);
  EXPECT_EQ(package.counters.count, 1);
  EXPECT_EQ(package.temperatureSummary, nullptr);
  EXPECT_EQ(package.packagePower, nullptr);
  EXPECT_EQ(countCode(package, packageCode(kMetricUsage)), 1);
  // No select of this processor was touched.
  EXPECT_EQ(sim.msr(0, kMsrIntelPerfEvtSel0), 0u);
}

TEST(MetricCatalogueTest, ProcessorsThatCannotBePinnedGetNoEventCounters) {
  SimDriverHarness sim("intel-snb");
  CProcessor_2& package = sim.package();
  const int cpu = sim.cpuOf(package.threads[5]);
  sim.platform->setUnpinnable(cpu, true);
  build(sim, package, 0);
  EXPECT_EQ(package.threads[5].instructions, nullptr);
  EXPECT_EQ(package.threads[5].l2Hits, nullptr);
  EXPECT_NE(package.threads[5].usage, nullptr);
  EXPECT_EQ(selectLow(sim, cpu, 0x186), 0u);
  EXPECT_NE(package.threads[4].l2Hits, nullptr);
}

}  // namespace
}  // namespace tv2
