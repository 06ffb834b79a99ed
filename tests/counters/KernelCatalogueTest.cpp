// The kernel's catalogue steps on a simulated processor record (a part the
// register tables do not list) with a fake kernel service: which counters
// each processor gets, on which PMU, what a refusal leaves, and that the
// derived pass turns them into the usual figures.

#include <gtest/gtest.h>

#include <memory>

#include "counters/CPerfCounter.h"
#include "counters/DerivedMetrics.h"
#include "counters/KernelCatalogue.h"
#include "counters/KernelEventPlan.h"
#include "counters/MetricCatalogue.h"
#include "counters/MetricCodes.h"
#include "cpu/ProcessorDiscovery.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "tests/counters/FakeKernelCounterService.h"

namespace tv2 {
namespace {

using E = KernelEvent;
using testing::FakeKernelCounterService;

constexpr uint64_t kPass = 300'000'000;

uint32_t bits(std::initializer_list<E> events) {
  uint32_t mask = 0;
  for (E e : events) mask |= kernelEventBit(e);
  return mask;
}

const uint32_t kAllCore = bits({E::kInstructions, E::kCycles, E::kRefCycles, E::kBranchInstructions,
                                E::kBranchMisses, E::kCacheReferences, E::kCacheMisses});

// The "unlisted" machine's records (6 cores x 2 threads) and an inventory
// naming them: even processors on a performance PMU, odd ones on an
// efficiency PMU that lacks reference cycles, package id 0.
class KernelCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform = std::make_unique<sim::SimPlatform>(
        std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("unlisted")));
    DetectProcessors(platform->processors(), processors, groups);
    CProcessor_2& p = package();
    p.kernelCounters = true;
    p.generalCounterCount = 8;  // one configuration holds every event
    KernelCounterInventory& given = service.inventoryToGive;
    given.mayOpenDirectly = true;
    given.corePmus = {{"cpu_core", 8, KernelCoreType::kPerformance, kAllCore},
                          {"cpu_atom", 10, KernelCoreType::kEfficiency, kAllCore & ~bits({E::kRefCycles})}};
    int cpu = 0;
    for (const LogicalProcessorRecord& t : p.threads) {
      given.processors.push_back({t.group, t.index, cpu, 0, t.coreId, cpu % 2});
      ++cpu;
    }
    given.powerEvents = {{E::kEnergyPackage, 1.0 / 1024}, {E::kEnergyCores, 1.0 / 1024}};
    given.temperatures = {{KernelSensorKind::kPackage, 0, -1, "Package id 0"}};
    for (const CoreRecord& core : p.cores) {
      given.temperatures.push_back({KernelSensorKind::kCore, 0, core.coreId, "Core"});
    }
    given.energyZones = {{KernelEnergyKind::kPackage, 0, 1u << 30}, {KernelEnergyKind::kDram, 0, 1u << 30}};
    service.temperatures.assign(given.temperatures.size(), 50000);
    service.energy = {1000, 2000};
    service.energyTime = 1;
  }
  void TearDown() override { processors.DeleteAll(); }

  CProcessor_2& package() { return *processors.At(0); }
  void build(int32_t configuration = 0) {
    inventory = service.inventory();
    CounterBuildContext context{nullptr, platform.get(), groups.groupMode, &service, &inventory};
    package().ClearCounters();
    ASSERT_TRUE(AddKernelEventCounters(package(), context, configuration, &summary));
    ASSERT_TRUE(AddKernelPowerAndThermalCounters(package(), context));
    ASSERT_TRUE(AddDerivedMetrics(package(), context));
  }
  // Every processor counts at its own rates; each list is updated in order
  // as its sampler would.
  void run(int passes) {
    for (int pass = 0; pass < passes; ++pass) {
      int cpu = 0;
      for (LogicalProcessorRecord& t : package().threads) {
        double load = 0.4 + 0.05 * cpu;
        service.advance(t.group, t.index, kPass, kPass,
                        {{E::kCycles, 3e9 * load},
                         {E::kRefCycles, 2.9e9 * load},
                         {E::kInstructions, 1.5e9 * load * (1 + cpu % 3)},
                         {E::kCacheReferences, 2e7},
                         {E::kCacheMisses, 5e6},
                         {E::kBranchInstructions, 3e8},
                         {E::kBranchMisses, 6e6},
                         {E::kEnergyPackage, 1024.0 * 40},
                         {E::kEnergyCores, 1024.0 * 25}});
        for (CCounter* counter : t.counters) counter->Update(nullptr);
        ++cpu;
      }
      ComputeDerivedMetrics(package());
    }
  }

  std::unique_ptr<sim::SimPlatform> platform;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  FakeKernelCounterService service;
  KernelCounterInventory inventory;
  KernelOpenSummary summary;
};

TEST_F(KernelCatalogueTest, EachProcessorCountsOnItsOwnPmuIntoTheUsualSlots) {
  build();
  EXPECT_EQ(summary.opened, 12);
  EXPECT_EQ(summary.failed, 0);
  const CProcessor_2& p = package();
  for (size_t i = 0; i < p.threads.size(); ++i) {
    const LogicalProcessorRecord& t = p.threads[i];
    const auto& opened = service.processor(t.group, t.index).opened;
    // The first processor also opens the package's energy group.
    ASSERT_EQ(opened.size(), i == 0 ? 2u : 1u) << i;
    // The efficiency PMU has no reference cycles: they are not even asked.
    bool hasRef = std::find(opened[0].begin(), opened[0].end(), E::kRefCycles) != opened[0].end();
    EXPECT_EQ(hasRef, i % 2 == 0) << i;
    EXPECT_EQ(t.referenceCycles != nullptr, i % 2 == 0) << i;
    ASSERT_NE(t.instructions, nullptr);
    EXPECT_EQ(t.instructions->typeCode(), kCodeThreadInstructions);
    EXPECT_EQ(t.coreCycles->typeCode(), kCodeThreadCoreCycles);
    EXPECT_NE(t.l3Requests, nullptr);
    EXPECT_NE(t.branchesMissed, nullptr);
    EXPECT_NE(t.ipc, nullptr);
    // The group's reader stands first, so its events find this pass's reading.
    EXPECT_EQ(t.counters.head->object->typeCode(), 0u);
  }
  EXPECT_NE(p.l3HitRateSummary, nullptr);
  EXPECT_NE(p.branchHitRateSummary, nullptr);
  EXPECT_NE(p.ipwSummary, nullptr);
  EXPECT_EQ(p.stallRatioSummary, nullptr);  // the PMUs offer no stalled cycles
  // Power PMU for package and cores, powercap for the DRAM rail it lacks.
  ASSERT_NE(p.packagePower, nullptr);
  EXPECT_EQ(p.packagePower->typeCode(), packageCode(kMetricPackagePower));
  EXPECT_NE(p.corePower, nullptr);
  EXPECT_NE(p.dramPower, nullptr);
  EXPECT_EQ(p.graphicsPower, nullptr);
  EXPECT_NE(p.temperatureSummary, nullptr);
  for (const CoreRecord& core : p.cores) EXPECT_NE(core.temperature, nullptr) << core.coreId;
}

TEST_F(KernelCatalogueTest, TheDerivedPassComputesTheUsualFiguresFromKernelCounts) {
  build();
  run(3);
  const CProcessor_2& p = package();
  const LogicalProcessorRecord& t = p.threads[4];
  double load = 0.4 + 0.05 * 4;
  EXPECT_NEAR(t.coreCycles->value, 3000 * load, 0.5);
  EXPECT_NEAR(t.instructions->value, 1500 * load * 2, 0.5);
  EXPECT_NEAR(t.ipc->value, 1.0, 0.001);
  EXPECT_NEAR(t.cpi->value, 1.0, 0.001);
  EXPECT_NEAR(p.l3HitRateSummary->value, 75.0, 0.01);
  EXPECT_NEAR(p.branchHitRateSummary->value, 98.0, 0.01);
  EXPECT_NEAR(p.packagePower->value, 40.0, 0.01);
  EXPECT_NEAR(p.corePower->value, 25.0, 0.01);
  EXPECT_NEAR(p.temperatureSummary->value, 50.0, 0.001);
  EXPECT_NEAR(p.coreCyclesSummary->value, 3000 * 0.4, 0.5);
  EXPECT_GT(p.ipwSummary->history->count, 0);
  // No register is read for a kernel-backed package: the time-stamp row
  // stays without a figure rather than reading through a driver.
  EXPECT_EQ(t.timeStamp->history->count, 0);
}

TEST_F(KernelCatalogueTest, ARefusedProcessorLacksItsCountersAndTheOthersKeepTheirs) {
  service.processor(package().threads[3].group, package().threads[3].index).refuseOpen = true;
  build();
  EXPECT_EQ(summary.opened, 11);
  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(summary.firstReason, "refused on cpu 3");
  EXPECT_EQ(package().threads[3].instructions, nullptr);
  EXPECT_EQ(package().threads[3].ipc, nullptr);
  EXPECT_NE(package().threads[2].instructions, nullptr);
  run(3);  // the derived pass copes with the gap
  EXPECT_GT(package().ipcSummary->history->count, 0);
}

TEST_F(KernelCatalogueTest, BlockedCountingShowsTheClockSensorsAndNoEvents) {
  service.inventoryToGive.mayOpenDirectly = false;
  service.inventoryToGive.blockedReason = "perf_event_paranoid is 2";
  for (const LogicalProcessorRecord& t : package().threads) service.frequencies[{t.group, t.index}] = 2'500'000;
  build();
  EXPECT_EQ(summary.opened + summary.failed, 0);  // nothing was even tried
  const CProcessor_2& p = package();
  for (const LogicalProcessorRecord& t : p.threads) {
    EXPECT_EQ(t.instructions, nullptr);
    ASSERT_NE(t.coreCycles, nullptr);
    EXPECT_EQ(t.coreCycles->typeCode(), kCodeThreadCoreCycles);
    EXPECT_EQ(t.ipc, nullptr);
  }
  // The power PMU is closed too; powercap is read where it may be.
  EXPECT_NE(p.packagePower, nullptr);
  EXPECT_EQ(p.corePower, nullptr);
  EXPECT_NE(p.temperatureSummary, nullptr);
  run(2);
  EXPECT_FLOAT_EQ(p.threads[5].coreCycles->value, 2500.0f);
  EXPECT_FLOAT_EQ(p.coreCyclesSummary->value, 2500.0f);
}

TEST_F(KernelCatalogueTest, ConfigurationsSplitTheEventsWhenTheCountersAreFew) {
  package().generalCounterCount = 4;
  KernelEventPlan plan = KernelEventPlan::forPackage(package(), service.inventoryToGive);
  ASSERT_EQ(plan.count(), 2);
  build(1);
  const LogicalProcessorRecord& t = package().threads[0];
  EXPECT_EQ(t.l3Requests, nullptr);
  EXPECT_NE(t.branchesRetired, nullptr);
  EXPECT_NE(t.ipc, nullptr);
  build(0);
  EXPECT_NE(package().threads[0].l3Requests, nullptr);
  EXPECT_EQ(package().threads[0].branchesRetired, nullptr);
}

TEST_F(KernelCatalogueTest, WithoutAServiceTheStepsDoNothing) {
  CounterBuildContext context{nullptr, platform.get(), groups.groupMode};
  EXPECT_FALSE(AddKernelEventCounters(package(), context, 0, nullptr));
  EXPECT_FALSE(AddKernelPowerAndThermalCounters(package(), context));
  EXPECT_EQ(package().counterCount, 0);
}

}  // namespace
}  // namespace tv2
