// The kernel-backed counting end to end on the simulated machines of today's
// processors: the real start-up (no in-use question, no driver needed), the
// kernel's groups shared with another process so that they rotate, and every
// figure compared with what the workload really did, in every configuration.
// A wrong count of one event must be caught; a member of the host's group
// gets the same figures; a machine without hardware counters says so.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "app/Configurations.h"
#include "counters/KernelGroupCounter.h"
#include "platform/ErrorCodes.h"
#include "tests/app/KernelCountingTruth.h"
#include "tests/app/SimAppHarness.h"

namespace tv2 {
namespace {

using testing::KernelCountingTruth;
using testing::RecordingViews;
using testing::SimAppHarness;
using K = KernelEvent;

void setWorkload(sim::SimMachine& machine) {
  for (int cpu = 0; cpu < machine.logicalProcessorCount(); ++cpu) {
    machine.setLoad(cpu, 0.35 + 0.06 * ((cpu * 7) % 10));
    sim::SimActivity activity;
    activity.ipc = 0.8 + 0.15 * (cpu % 5);
    activity.stallShare = 0.2 + 0.05 * (cpu % 4);
    activity.branchMissShare = 0.02 + 0.01 * (cpu % 3);
    activity.l2HitShare = 0.6 + 0.05 * (cpu % 6);
    activity.l3HitShare = 0.5 + 0.1 * (cpu % 4);
    machine.setActivity(cpu, activity);
    const sim::SimLogicalProcessor* identity = machine.processor(cpu);
    machine.setCoreTemperature(identity->package, identity->core, 41 + 3 * identity->core + identity->package);
  }
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

struct Preset {
  const char* name;
  int32_t configurations;
};
void PrintTo(const Preset& preset, std::ostream* out) { *out << preset.name; }

class KernelPresetTest : public ::testing::TestWithParam<Preset> {
 protected:
  // Another process counts on the first two processors with groups of its
  // own that do not fit beside the program's: the kernel rotates them.
  void shareCounters(SimAppHarness& sim) {
    m_other = std::make_unique<sim::SimPlatform>(sim.machine);
    const K events[] = {K::kCycles, K::kInstructions, K::kBranchInstructions,
                        K::kBranchMisses, K::kCacheReferences, K::kCacheMisses};
    for (int cpu = 0; cpu < 2; ++cpu) {
      const sim::SimLogicalProcessor* p = sim.machine->processor(cpu);
      KernelOpenError error;
      auto group = m_other->simKernelCounters().openGroup(p->group, p->index, events, &error);
      ASSERT_NE(group, nullptr) << error.reason;
      m_foreign.push_back(std::move(group));
    }
  }
  std::unique_ptr<sim::SimPlatform> m_other;
  std::vector<std::unique_ptr<KernelEventGroup>> m_foreign;
};

TEST_P(KernelPresetTest, EveryFigureFollowsTheWorkloadInEveryConfigurationWithSharedCounters) {
  SimAppHarness sim(GetParam().name);
  setWorkload(*sim.machine);
  shareCounters(sim);
  ASSERT_TRUE(sim.start());
  EXPECT_TRUE(sim.shell.asked.empty());
  EXPECT_TRUE(sim.shell.notices.empty()) << sim.shell.notices.front();
  ASSERT_EQ(sim.app->configCount, GetParam().configurations);
  CProcessor_2& package = *sim.app->SelectedProcessor();
  ASSERT_TRUE(package.kernelCounters);

  for (int32_t config = 0; config < sim.app->configCount; ++config) {
    SCOPED_TRACE("configuration " + std::to_string(config));
    if (config > 0) {
      RecordingViews views;
      ASSERT_TRUE(SelectConfiguration(*sim.app, views, config, true));
    }
    sim.run(3000);
    EXPECT_EQ(joined(KernelCountingTruth(*sim.platform, package, 0).check()), "");
    // The shared processors really counted only part of the time.
    const auto* group = dynamic_cast<const KernelGroupCounter*>(package.threads[0].counters.head->object);
    ASSERT_NE(group, nullptr);
    EXPECT_LT(group->value, 95.0f);
  }
  // What each preset's hardware gives is there.
  EXPECT_NE(package.ipcSummary, nullptr);
  EXPECT_NE(package.packagePower, nullptr);
  EXPECT_NE(package.temperatureSummary, nullptr);
  EXPECT_NE(package.threads.back().instructions, nullptr);
}

TEST_P(KernelPresetTest, AWrongCountOfOneEventIsCaught) {
  SimAppHarness sim(GetParam().name);
  setWorkload(*sim.machine);
  ASSERT_TRUE(sim.start());
  sim.run(1500);
  CProcessor_2& package = *sim.app->SelectedProcessor();
  ASSERT_EQ(joined(KernelCountingTruth(*sim.platform, package, 0).check()), "");
  sim.platform->simKernelCounters().setEventError(K::kInstructions, 1.03);
  sim.run(1500);
  std::string failures = joined(KernelCountingTruth(*sim.platform, package, 0).check());
  EXPECT_NE(failures.find("MIPS"), std::string::npos) << failures;
  EXPECT_NE(failures.find("IPC"), std::string::npos) << failures;
}

TEST_P(KernelPresetTest, AMemberOfTheHostsGroupWithoutTheDriverGetsTheFigures) {
  SimAppHarness sim(GetParam().name);
  setWorkload(*sim.machine);
  sim.platform->simKernelCounters().setPrivilege(sim::SimKernelPrivilege::kHostGroup);
  sim.platform->system().setServiceManagerError(kErrorAccessDenied);
  sim.platform->system().setDeviceOpenError(kErrorFileNotFound);
  ASSERT_TRUE(sim.start());
  EXPECT_TRUE(sim.shell.notices.empty());
  sim.run(3000);
  CProcessor_2& package = *sim.app->SelectedProcessor();
  EXPECT_EQ(joined(KernelCountingTruth(*sim.platform, package, 0).check()), "");
  EXPECT_NE(package.threads[0].instructions, nullptr);
}

TEST_P(KernelPresetTest, NeitherRootNorMemberIsToldOnceAndSeesUsageTemperatureAndClock) {
  SimAppHarness sim(GetParam().name);
  setWorkload(*sim.machine);
  sim.platform->simKernelCounters().setPrivilege(sim::SimKernelPrivilege::kNone);
  sim.platform->system().setServiceManagerError(kErrorAccessDenied);
  sim.platform->system().setDeviceOpenError(kErrorFileNotFound);
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(sim.shell.notices.size(), 1u);
  EXPECT_NE(sim.shell.notices[0].find("perf_event_paranoid"), std::string::npos) << sim.shell.notices[0];
  EXPECT_EQ(sim.shell.notices[0].find('\n'), std::string::npos);
  sim.run(3000);
  CProcessor_2& package = *sim.app->SelectedProcessor();
  EXPECT_EQ(package.threads[0].instructions, nullptr);
  EXPECT_NE(package.temperatureSummary, nullptr);
  EXPECT_NE(package.threads[0].coreCycles, nullptr);
  EXPECT_EQ(joined(KernelCountingTruth(*sim.platform, package, 0).check()), "");
}

INSTANTIATE_TEST_SUITE_P(Presets, KernelPresetTest,
                         ::testing::Values(Preset{"modern-intel-hybrid", 1}, Preset{"modern-amd", 2}),
                         [](const ::testing::TestParamInfo<Preset>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

TEST(KernelUnlistedTest, WithoutHardwareCountersTheProgramSaysSoAndShowsUsageAndClock) {
  SimAppHarness sim("unlisted");
  setWorkload(*sim.machine);
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(sim.shell.notices.size(), 1u);
  EXPECT_NE(sim.shell.notices[0].find("no hardware performance counters"), std::string::npos)
      << sim.shell.notices[0];
  sim.run(3000);
  CProcessor_2& package = *sim.app->SelectedProcessor();
  EXPECT_GT(package.usageSummary->history->count, 0);
  EXPECT_EQ(joined(KernelCountingTruth(*sim.platform, package, 0).check()), "");
}

// Live samplers read the kernel's groups while the user-interface thread
// ticks and switches configuration, which closes and opens groups: nothing
// freed under a pass (AddressSanitizer), nothing shared unguarded
// (ThreadSanitizer), and no sampler waits for a driver lock it never gets.
TEST(KernelConcurrencyTest, SwitchesBesideLiveSamplersWithoutTheDriver) {
  SimAppHarness sim("modern-amd");
  setWorkload(*sim.machine);
  sim.platform->system().setServiceManagerError(kErrorAccessDenied);
  sim.platform->system().setDeviceOpenError(kErrorFileNotFound);
  ASSERT_TRUE(sim.start());
  sim.app->ResumeSampling();
  // The samplers count without the driver: a figure within a few periods.
  const CCounter* cycles = sim.app->SelectedProcessor()->threads[5].coreCycles;
  for (int wait = 0; wait < 100 && cycles->history->count == 0; ++wait) {
    sim.machine->advanceMs(100);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GT(cycles->history->count, 0);
  EXPECT_GE(sim.switchConfigurationsBesideLiveSamplers(1200), 5);
  EXPECT_EQ(sim.app->engine().counterThreadCount(), 16);
  EXPECT_EQ(sim.exit(), 0);
}

TEST(KernelHybridTest, CoreTypesComeFromEachProcessorsPmu) {
  SimAppHarness sim("modern-intel-hybrid");
  ASSERT_TRUE(sim.start());
  const CProcessor_2& package = *sim.app->SelectedProcessor();
  int performance = 0;
  int efficiency = 0;
  for (const CoreRecord& core : package.cores) {
    performance += core.threads.front()->coreType == KernelCoreType::kPerformance;
    efficiency += core.threads.front()->coreType == KernelCoreType::kEfficiency;
    // A performance core has two threads, an efficiency core one.
    EXPECT_EQ(core.threads.size(), core.threads.front()->coreType == KernelCoreType::kPerformance ? 2u : 1u);
  }
  EXPECT_EQ(performance, 4);
  EXPECT_EQ(efficiency, 8);
}

}  // namespace
}  // namespace tv2
