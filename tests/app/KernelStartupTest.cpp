// The choice of counter source at start-up and the kernel-backed package in
// the running program: a part the register tables do not list counts through
// the kernel service, with or without the driver, is never asked about or
// written, switches configuration without the driver lock, and says once,
// in one line, what is blocked.

#include <gtest/gtest.h>

#include <memory>

#include "app/Configurations.h"
#include "app/DebugReport.h"
#include "counters/PmuRegisters.h"
#include "tests/app/SimAppHarness.h"
#include "tests/counters/FakeKernelCounterService.h"

namespace tv2 {
namespace {

using E = KernelEvent;
using testing::FakeKernelCounterService;
using testing::RecordingViews;
using testing::SimAppHarness;

// A simulated process whose kernel counters are the test's fake.
class FakeKernelPlatform : public sim::SimPlatform {
 public:
  FakeKernelPlatform(std::shared_ptr<sim::SimMachine> machine, KernelCounterService& service)
      : SimPlatform(std::move(machine)), m_service(service) {}
  KernelCounterService* kernelCounters() override { return &m_service; }

 private:
  KernelCounterService& m_service;
};

uint32_t allCoreEvents() {
  uint32_t mask = 0;
  for (E e : {E::kInstructions, E::kCycles, E::kRefCycles, E::kBranchInstructions, E::kBranchMisses,
              E::kCacheReferences, E::kCacheMisses}) {
    mask |= kernelEventBit(e);
  }
  return mask;
}

class KernelStartupTest : public ::testing::Test {
 protected:
  KernelStartupTest() : sim("unlisted") {
    KernelCounterInventory& inventory = service.inventoryToGive;
    inventory.paranoid = 2;
    inventory.mayOpenDirectly = true;
    inventory.corePmus = {{"cpu", 4, KernelCoreType::kUnknown, allCoreEvents()}};
    for (int cpu = 0; cpu < sim.machine->logicalProcessorCount(); ++cpu) {
      const sim::SimLogicalProcessor* p = sim.machine->processor(cpu);
      inventory.processors.push_back({0, cpu, cpu, p->package, p->core, 0});
      service.frequencies[{0, cpu}] = 3'700'000;
    }
    inventory.temperatures = {{KernelSensorKind::kPackage, 0, -1, "Package id 0"}};
    service.temperatures = {61000};
    sim.platform = std::make_unique<FakeKernelPlatform>(sim.machine, service);
    sim.platform->setProgramPath((sim.folder / "tarvelle2").string());
  }
  void withoutDriver() {
    sim.platform->system().setServiceManagerError(kErrorAccessDenied);
    sim.platform->system().setDeviceOpenError(kErrorFileNotFound);
  }
  // Every processor counts steadily for one 300 ms pass, then the program's
  // own rhythm runs over it.
  void run(int passes) {
    for (int pass = 0; pass < passes; ++pass) {
      for (int cpu = 0; cpu < sim.machine->logicalProcessorCount(); ++cpu) {
        service.advance(0, cpu, 300'000'000, 300'000'000,
                        {{E::kCycles, 2e9 + 1e8 * cpu}, {E::kInstructions, 3e9}, {E::kRefCycles, 2e9},
                         {E::kCacheReferences, 1e7}, {E::kCacheMisses, 4e6}, {E::kBranchInstructions, 5e8},
                         {E::kBranchMisses, 5e6}});
      }
      sim.run(300);
    }
  }
  CProcessor_2& package() { return *sim.app->SelectedProcessor(); }

  FakeKernelCounterService service;
  SimAppHarness sim;
};

TEST_F(KernelStartupTest, AnUnlistedPartCountsThroughTheKernelAndItsRegistersAreNeverTouched) {
  sim.machine->hardware().occupyCounters();
  uint64_t select = 0;
  ASSERT_TRUE(sim.machine->hardware().readMsr(2, kMsrIntelPerfEvtSel0, &select));
  ASSERT_NE(select, 0u);
  ASSERT_TRUE(sim.start());
  // The kernel shares its counters itself: no in-use question.
  EXPECT_TRUE(sim.shell.asked.empty());
  EXPECT_TRUE(sim.shell.notices.empty());
  EXPECT_TRUE(package().kernelCounters);
  EXPECT_EQ(sim.app->configCount, 2);  // four general counters: the pairs go apart
  run(3);
  const LogicalProcessorRecord& t = package().threads[2];
  ASSERT_NE(t.instructions, nullptr);
  EXPECT_NEAR(t.instructions->value, 3000.0, 0.5);
  EXPECT_NEAR(t.coreCycles->value, 2200.0, 0.5);
  EXPECT_NEAR(package().l3HitRateSummary->value, 60.0, 0.01);
  EXPECT_NEAR(package().temperatureSummary->value, 61.0, 0.01);
  EXPECT_EQ(sim.exit(), 0);
  uint64_t after = 0;
  ASSERT_TRUE(sim.machine->hardware().readMsr(2, kMsrIntelPerfEvtSel0, &after));
  EXPECT_EQ(after, select);
}

TEST_F(KernelStartupTest, WithoutTheDriverTheKernelCountersAreSampledAndSwitched) {
  withoutDriver();
  ASSERT_TRUE(sim.start());
  ASSERT_FALSE(sim.app->driver->deviceOpen());
  run(3);
  EXPECT_NEAR(package().threads[0].instructions->value, 3000.0, 0.5);
  EXPECT_NEAR(package().ipcSummary->value, 3000.0 * 12 / (2e3 * 12 + 100.0 * 66), 0.001);
  // The configuration menu rebuilds without the driver lock.
  RecordingViews views;
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 1, true));
  EXPECT_EQ(package().threads[0].l3Requests, nullptr);
  ASSERT_NE(package().threads[0].branchesRetired, nullptr);
  run(3);
  EXPECT_NEAR(package().branchHitRateSummary->value, 99.0, 0.01);
  EXPECT_EQ(views.calls.front(), "clear");
  EXPECT_FALSE(views.slots.empty());  // the configuration's default profile
}

TEST_F(KernelStartupTest, BlockedCountingIsToldOnceInOneLineAndTheRestIsShown) {
  withoutDriver();
  service.inventoryToGive.mayOpenDirectly = false;
  service.inventoryToGive.hostOpens = false;
  service.inventoryToGive.blockedReason =
      "perf_event_paranoid is 2 (CPU-wide counting needs 0 or CAP_PERFMON) and the system host is not installed";
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(sim.shell.notices.size(), 1u);
  const std::string& line = sim.shell.notices[0];
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_NE(line.find(service.inventoryToGive.blockedReason), std::string::npos) << line;
  EXPECT_EQ(sim.app->countersNotice, line);
  run(4);
  EXPECT_EQ(package().threads[0].instructions, nullptr);
  EXPECT_GT(package().usageSummary->history->count, 0);
  EXPECT_NEAR(package().threads[3].coreCycles->value, 3700.0, 0.01);
  EXPECT_NEAR(package().temperatureSummary->value, 61.0, 0.01);
}

TEST_F(KernelStartupTest, NoHardwareCountersIsSaidAsSuchAndEveryProcessorRefusedToo) {
  service.inventoryToGive.corePmus.clear();
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(sim.shell.notices.size(), 1u);
  EXPECT_NE(sim.shell.notices[0].find("no hardware performance counters"), std::string::npos);
  EXPECT_EQ(sim.app->configCount, 1);
}

TEST_F(KernelStartupTest, EveryGroupRefusedGivesTheKernelsReason) {
  for (int cpu = 0; cpu < sim.machine->logicalProcessorCount(); ++cpu) service.processor(0, cpu).refuseOpen = true;
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(sim.shell.notices.size(), 1u);
  EXPECT_NE(sim.shell.notices[0].find("refused on cpu 0"), std::string::npos) << sim.shell.notices[0];
}

TEST_F(KernelStartupTest, TheReportNamesHybridCoreTypes) {
  KernelCounterInventory& inventory = service.inventoryToGive;
  inventory.corePmus = {{"cpu_core", 4, KernelCoreType::kPerformance, allCoreEvents()},
                        {"cpu_atom", 10, KernelCoreType::kEfficiency, allCoreEvents()}};
  // The first two cores' processors on the performance PMU, the rest on the
  // efficiency PMU.
  for (KernelProcessor& p : inventory.processors) p.pmu = p.core < 2 ? 0 : 1;
  ASSERT_TRUE(sim.start());
  std::ostringstream report;
  DebugReport::write(report, sim.app->processors, nullptr, nullptr);
  EXPECT_NE(report.str().find("type=performance"), std::string::npos);
  EXPECT_NE(report.str().find("type=efficiency"), std::string::npos);
  EXPECT_EQ(package().threads[0].coreType, KernelCoreType::kPerformance);
}

}  // namespace
}  // namespace tv2
