// The counting engine end to end on every supported processor class: the real
// start-up on a simulated machine (driver host, discovery, capabilities,
// timers, catalogue), then sampler passes and the derived pass over machine
// time, and every figure compared with what the workload really did, in every
// configuration of the class.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/Configurations.h"
#include "counters/CPerfCounter.h"
#include "counters/PmuRegisters.h"
#include "tests/app/CountingTruth.h"
#include "tests/app/SimAppHarness.h"

namespace tv2 {
namespace {

using testing::CountingTruth;
using testing::RecordingViews;
using testing::SimAppHarness;

// A workload that differs between processors, so that a figure taken from
// the wrong processor shows. Temperatures are whole degrees: the sensors
// report whole degrees, and levels are compared exactly.
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

struct Preset {
  const char* name;
  int32_t configurations;
};

void PrintTo(const Preset& preset, std::ostream* out) { *out << preset.name; }

std::string presetName(const ::testing::TestParamInfo<Preset>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

class CountingEngineTest : public ::testing::TestWithParam<Preset> {};

TEST_P(CountingEngineTest, EveryFigureFollowsTheWorkloadInEveryConfiguration) {
  SimAppHarness sim(GetParam().name);
  setWorkload(*sim.machine);
  ASSERT_TRUE(sim.start());
  EXPECT_TRUE(sim.shell.asked.empty());  // counters were free: no question
  ASSERT_NE(sim.app->hpetTimer, nullptr);
  ASSERT_EQ(sim.app->configCount, GetParam().configurations);
  EXPECT_EQ(sim.app->currentConfig, 0);

  for (int32_t config = 0; config < sim.app->configCount; ++config) {
    SCOPED_TRACE("configuration " + std::to_string(config));
    if (config > 0) {
      RecordingViews views;
      ASSERT_TRUE(SelectConfiguration(*sim.app, views, config, true));
      EXPECT_EQ(sim.app->currentConfig, config);
    }
    sim.run(3000);
    int32_t index = 0;
    for (CProcessor_2* package : sim.app->processors) {
      SCOPED_TRACE("package " + std::to_string(index));
      CountingTruth(*sim.machine, *package, index++).checkAll();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Presets, CountingEngineTest,
                         ::testing::Values(Preset{"intel-b133", 2}, Preset{"intel-snb", 2}, Preset{"intel-fsb", 3},
                                           Preset{"amd-bd", 2}, Preset{"amd-tn", 2}, Preset{"amd-kv-15h", 2},
                                           Preset{"amd-kv-16h", 1}, Preset{"unlisted", 1},
                                           Preset{"intel-snb-2p", 2}),
                         presetName);

// Switching back and forth reprograms the selects and the new counters take
// over from the old without a stale figure.
TEST(CountingEngineSwitchTest, SwitchingBackRestoresTheFirstConfiguration) {
  SimAppHarness sim("intel-snb");
  setWorkload(*sim.machine);
  ASSERT_TRUE(sim.start());
  CProcessor_2& package = *sim.app->SelectedProcessor();
  RecordingViews views;
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 1, false));
  sim.run(1500);
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 0, false));
  EXPECT_EQ(static_cast<CPerfCounter*>(package.threads[1].l2Hits)->counterRegister, kMsrIntelPmc0);
  uint64_t select = 0;
  ASSERT_TRUE(sim.machine->hardware().readMsr(sim.cpuOf(package.threads[1]), kMsrIntelPerfEvtSel0, &select));
  EXPECT_EQ(select, 0x4302D1u);
  // Fresh counters need two samples: nothing is shown before them.
  EXPECT_EQ(package.l2HitRateSummary->history->count, 0);
  sim.run(3000);
  CountingTruth(*sim.machine, package, 0).checkAll();
  // One rebuild per switch, with the graphs emptied first each time.
  EXPECT_EQ(views.calls, (std::vector<std::string>{"clear", "refresh", "clear", "refresh"}));
}

// With two packages the switch rebuilds the displayed one; the other keeps
// counting with the configuration it was built with.
TEST(CountingEngineSwitchTest, TwoPackagesSwitchTheDisplayedOne) {
  SimAppHarness sim("intel-snb-2p");
  setWorkload(*sim.machine);
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(sim.app->processors.count, 2);
  RecordingViews views;
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 1, true));
  CProcessor_2& shown = *sim.app->processors.At(0);
  CProcessor_2& other = *sim.app->processors.At(1);
  EXPECT_NE(shown.threads[0].branchesRetired, nullptr);
  EXPECT_EQ(other.threads[0].branchesRetired, nullptr);
  EXPECT_NE(other.threads[0].l2Hits, nullptr);
  sim.run(3000);
  CountingTruth(*sim.machine, shown, 0).checkAll();
  CountingTruth(*sim.machine, other, 1).checkAll();
}

// The samplers run on their own threads while the user-interface thread
// ticks, runs the derived pass and switches configuration: no counter may be
// freed under a sampler or the derived pass (AddressSanitizer), and nothing
// may be shared without a guard (ThreadSanitizer).
TEST(CountingEngineConcurrencyTest, SwitchesAndDerivedPassesBesideLiveSamplers) {
  SimAppHarness sim("intel-snb");
  setWorkload(*sim.machine);
  ASSERT_TRUE(sim.start());
  sim.app->ResumeSampling();
  EXPECT_GE(sim.switchConfigurationsBesideLiveSamplers(1200), 5);
  EXPECT_EQ(sim.app->engine().counterThreadCount(), 8);
  EXPECT_EQ(sim.exit(), 0);
}

}  // namespace
}  // namespace tv2
