// The counters that turn the kernel's group readings, energy counts and
// sensors into figures, against a fake service whose counts the test moves.

#include <gtest/gtest.h>

#include <memory>

#include "counters/KernelEnergyCounter.h"
#include "counters/KernelEventCounter.h"
#include "counters/KernelEventPlan.h"
#include "counters/KernelFrequencyCounter.h"
#include "counters/KernelGroupCounter.h"
#include "counters/KernelPowerCounter.h"
#include "counters/KernelTemperatureCounter.h"
#include "tests/counters/FakeKernelCounterService.h"

namespace tv2 {
namespace {

using E = KernelEvent;
using testing::FakeKernelCounterService;

constexpr uint64_t kPass = 300'000'000;  // 300 ms in ns

struct GroupRig {
  GroupRig() {
    const KernelEvent events[] = {E::kCycles, E::kInstructions};
    KernelOpenError error;
    group = std::make_unique<KernelGroupCounter>(0, service.openGroup(0, 1, events, &error), 2);
    cycles = std::make_unique<KernelEventCounter>(1, group.get(), 0);
    instructions = std::make_unique<KernelEventCounter>(2, group.get(), 1);
  }
  void pass() {
    group->Update(nullptr);
    cycles->Update(nullptr);
    instructions->Update(nullptr);
  }
  void advance(uint64_t running, double mhz, double mips) {
    service.advance(0, 1, kPass, running, {{E::kCycles, mhz * 1e6}, {E::kInstructions, mips * 1e6}});
  }
  FakeKernelCounterService service;
  std::unique_ptr<KernelGroupCounter> group;
  std::unique_ptr<KernelEventCounter> cycles;
  std::unique_ptr<KernelEventCounter> instructions;
};

TEST(KernelEventCounterTest, RatesComeFromTheGroupsDifferencesOverItsCountingTime) {
  GroupRig rig;
  rig.advance(kPass, 3000, 4500);
  rig.pass();  // first reading: nothing to compare with
  EXPECT_EQ(rig.cycles->history->count, 0);
  rig.advance(kPass, 2400, 1200);
  rig.pass();
  EXPECT_NEAR(rig.cycles->value, 2400.0, 0.01);
  EXPECT_NEAR(rig.instructions->value, 1200.0, 0.01);
  EXPECT_FLOAT_EQ(rig.group->value, 100.0f);
  EXPECT_EQ(rig.instructions->history->count, 1);

  // Shared with another user, the group counted a quarter of the interval:
  // its counts stand for that quarter, and the rate scales to the whole.
  rig.advance(kPass / 4, 2000, 3000);
  rig.pass();
  EXPECT_NEAR(rig.cycles->value, 2000.0, 0.01);
  EXPECT_NEAR(rig.instructions->value, 3000.0, 0.01);
  EXPECT_NEAR(rig.group->value, 25.0, 0.01);
}

TEST(KernelEventCounterTest, NoFigureWithoutCountingTimeFailedReadsOrCountsThatWentDown) {
  GroupRig rig;
  rig.advance(kPass, 3000, 3000);
  rig.pass();
  rig.advance(kPass, 3000, 3000);
  rig.pass();
  ASSERT_EQ(rig.cycles->history->count, 1);

  // Never on the hardware in this interval: no rate can be scaled from it.
  rig.advance(0, 3000, 3000);
  rig.pass();
  EXPECT_EQ(rig.cycles->history->count, 1);
  EXPECT_EQ(rig.group->history->count, 1);

  // A failed read gives nothing; the next good one measures the whole
  // interval since the last good reading, so the rate stays right.
  rig.service.processor(0, 1).failReads = true;
  rig.advance(kPass, 1000, 500);
  rig.pass();
  EXPECT_EQ(rig.cycles->history->count, 1);
  rig.service.processor(0, 1).failReads = false;
  rig.advance(kPass, 3000, 1500);
  rig.pass();
  EXPECT_EQ(rig.cycles->history->count, 2);
  EXPECT_NEAR(rig.cycles->value, 2000.0, 0.01);
  EXPECT_NEAR(rig.instructions->value, 1000.0, 0.01);

  // A count below the previous one is no figure for that event only.
  rig.service.processor(0, 1).counts[static_cast<size_t>(E::kInstructions)] = 5;
  rig.advance(kPass, 3000, 1500);
  rig.pass();
  EXPECT_EQ(rig.instructions->history->count, 2);
  EXPECT_EQ(rig.cycles->history->count, 3);
}

TEST(KernelEventCounterTest, AReadingOfTheWrongSizeCountsAsFailed) {
  FakeKernelCounterService service;
  const KernelEvent events[] = {E::kCycles};
  KernelOpenError error;
  // The counter expects two values; the group gives one.
  KernelGroupCounter group(0, service.openGroup(0, 0, events, &error), 2);
  service.advance(0, 0, kPass, kPass, {{E::kCycles, 1e9}});
  group.Update(nullptr);
  service.advance(0, 0, kPass, kPass, {{E::kCycles, 1e9}});
  group.Update(nullptr);
  EXPECT_FALSE(group.fresh());
  EXPECT_LT(group.Read(), 0);
}

TEST(KernelPowerCounterTest, EnergyCountsTimesTheirScaleOverTheEnabledTime) {
  FakeKernelCounterService service;
  const KernelEvent events[] = {E::kEnergyPackage, E::kEnergyCores};
  KernelOpenError error;
  KernelGroupCounter group(0, service.openGroup(0, 0, events, &error), 2);
  const double scale = 2.3283064365386962890625e-10;  // 2^-32 J
  KernelPowerCounter package(1, &group, 0, scale);
  KernelPowerCounter cores(2, &group, 1, scale);
  auto pass = [&] {
    group.Update(nullptr);
    package.Update(nullptr);
    cores.Update(nullptr);
  };
  service.advance(0, 0, kPass, kPass, {{E::kEnergyPackage, 45.0 / scale}, {E::kEnergyCores, 30.0 / scale}});
  pass();
  service.advance(0, 0, kPass, kPass, {{E::kEnergyPackage, 45.0 / scale}, {E::kEnergyCores, 30.0 / scale}});
  pass();
  EXPECT_NEAR(package.value, 45.0, 0.01);
  EXPECT_NEAR(cores.value, 30.0, 0.01);
}

TEST(KernelEnergyCounterTest, PowercapCountsWrapAtTheirRange) {
  FakeKernelCounterService service;
  const uint64_t range = 262'143'328'850;
  service.energy = {range - 3'000'000};
  service.energyTime = 1'000'000'000;
  KernelEnergyCounter counter(0, &service, 0, range);
  counter.Update(nullptr);
  EXPECT_EQ(counter.history->count, 0);
  // 15 J in 300 ms across the wrap: 50 W, not a negative or huge figure.
  service.energy[0] = 12'000'000;
  service.energyTime += kPass;
  counter.Update(nullptr);
  ASSERT_EQ(counter.history->count, 1);
  EXPECT_NEAR(counter.value, 50.0, 0.01);
  // A reading at the same time adds nothing and breaks nothing.
  counter.Update(nullptr);
  EXPECT_EQ(counter.history->count, 1);
  service.energy[0] += 6'000'000;
  service.energyTime += kPass;
  counter.Update(nullptr);
  EXPECT_NEAR(counter.value, 20.0, 0.01);
}

TEST(KernelEnergyCounterTest, ACountThatWentDownWithoutARangeOrAnUnreadableZoneGivesNoFigure) {
  FakeKernelCounterService service;
  service.energy = {50'000'000};
  service.energyTime = 1'000'000'000;
  KernelEnergyCounter counter(0, &service, 0, 0);
  counter.Update(nullptr);
  service.energy[0] = 10'000'000;
  service.energyTime += kPass;
  counter.Update(nullptr);
  EXPECT_EQ(counter.history->count, 0);
  // Counting goes on from the lower reading.
  service.energy[0] += 3'000'000;
  service.energyTime += kPass;
  counter.Update(nullptr);
  EXPECT_NEAR(counter.value, 10.0, 0.01);
  service.energyReadable = false;
  counter.Update(nullptr);
  EXPECT_EQ(counter.history->count, 1);
}

TEST(KernelSensorCounterTest, TemperatureAndClockKeepTheirLastFigureWhenAReadFails) {
  FakeKernelCounterService service;
  service.temperatures = {47000, -300000};
  KernelTemperatureCounter package(0, &service, 0);
  KernelTemperatureCounter broken(1, &service, 1);
  package.Update(nullptr);
  broken.Update(nullptr);
  EXPECT_FLOAT_EQ(package.value, 47.0f);
  EXPECT_EQ(broken.history->count, 0);
  service.temperatures[0] = -300000;
  package.Update(nullptr);
  EXPECT_FLOAT_EQ(package.value, 47.0f);
  EXPECT_EQ(package.history->count, 1);

  service.frequencies[{0, 3}] = 3'612'000;
  KernelFrequencyCounter clock(2, &service, 0, 3);
  KernelFrequencyCounter missing(3, &service, 0, 4);
  clock.Update(nullptr);
  missing.Update(nullptr);
  EXPECT_FLOAT_EQ(clock.value, 3612.0f);
  EXPECT_EQ(missing.history->count, 0);
}

uint32_t bits(std::initializer_list<E> events) {
  uint32_t mask = 0;
  for (E e : events) mask |= kernelEventBit(e);
  return mask;
}

TEST(KernelEventPlanTest, AsFewConfigurationsAsTheCountersHoldAtOnce) {
  const uint32_t intel = bits({E::kInstructions, E::kCycles, E::kRefCycles, E::kBranchInstructions,
                               E::kBranchMisses, E::kCacheReferences, E::kCacheMisses});
  // Eight general counters and three fixed: everything at once.
  KernelEventPlan wide = KernelEventPlan::make(8, 3, intel);
  ASSERT_EQ(wide.count(), 1);
  EXPECT_EQ(wide.events(0).size(), 7u);
  // Four general counters, one left to the watchdog: the pairs go apart,
  // never a pair split across configurations.
  KernelEventPlan narrow = KernelEventPlan::make(4, 3, intel);
  ASSERT_EQ(narrow.count(), 2);
  EXPECT_TRUE(narrow.counts(0, E::kCacheReferences) && narrow.counts(0, E::kCacheMisses));
  EXPECT_TRUE(narrow.counts(1, E::kBranchInstructions) && narrow.counts(1, E::kBranchMisses));
  for (int32_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(narrow.counts(i, E::kCycles) && narrow.counts(i, E::kInstructions) && narrow.counts(i, E::kRefCycles));
  }
  // AMD: no fixed counters, so cycles and instructions take general ones.
  const uint32_t amd = bits({E::kInstructions, E::kCycles, E::kBranchInstructions, E::kBranchMisses,
                             E::kCacheReferences, E::kCacheMisses, E::kStalledCyclesBackend});
  KernelEventPlan zen = KernelEventPlan::make(6, 0, amd);
  ASSERT_EQ(zen.count(), 2);
  for (int32_t i = 0; i < zen.count(); ++i) EXPECT_LE(zen.events(i).size(), 5u) << i;
  EXPECT_TRUE(zen.counts(1, E::kStalledCyclesBackend));
  EXPECT_FALSE(zen.counts(0, E::kRefCycles));
}

TEST(KernelEventPlanTest, NoPmuOrHalfAPairGivesNoEventsForIt) {
  KernelEventPlan none = KernelEventPlan::make(0, 0, 0);
  ASSERT_EQ(none.count(), 1);
  EXPECT_TRUE(none.events(0).empty());
  EXPECT_TRUE(none.events(5).empty());
  KernelEventPlan half = KernelEventPlan::make(8, 3, bits({E::kCycles, E::kCacheMisses, E::kBranchInstructions,
                                                           E::kBranchMisses}));
  ASSERT_EQ(half.count(), 1);
  EXPECT_FALSE(half.counts(0, E::kCacheMisses));
  EXPECT_TRUE(half.counts(0, E::kBranchMisses));
  EXPECT_FALSE(half.counts(0, E::kInstructions));
}

}  // namespace
}  // namespace tv2
