// The kernel's counters of the simulated machine: inventory, counts against
// the workload's truth, refusals, injected errors, sensors and energy zones.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::sim {
namespace {

using E = KernelEvent;

struct Rig {
  std::shared_ptr<SimMachine> machine;
  std::unique_ptr<SimPlatform> platform;
  SimKernelCounterService& kernel() { return platform->simKernelCounters(); }

  explicit Rig(const char* preset) : Rig(SimMachine::preset(preset).value()) {}
  explicit Rig(const SimMachineConfig& config)
      : machine(std::make_shared<SimMachine>(config)), platform(std::make_unique<SimPlatform>(machine)) {
    machine->useManualClock();
  }

  std::unique_ptr<KernelEventGroup> open(int cpu, std::vector<E> events, KernelOpenError* error = nullptr) {
    int group = 0, index = 0;
    EXPECT_TRUE(machine->placeOf(cpu, &group, &index));
    KernelOpenError ignored;
    return kernel().openGroup(group, index, events, error != nullptr ? error : &ignored);
  }
};

KernelGroupReading readOf(KernelEventGroup& g) {
  KernelGroupReading r;
  EXPECT_TRUE(g.read(&r));
  return r;
}

// Per second of time running between two readings.
double rateOf(const KernelGroupReading& a, const KernelGroupReading& b, int i) {
  return static_cast<double>(b.values[static_cast<size_t>(i)] - a.values[static_cast<size_t>(i)]) * 1e9 /
         static_cast<double>(b.timeRunning - a.timeRunning);
}

void expectNear(double actual, double truth, double relative) {
  EXPECT_NEAR(actual, truth, std::max(1.0, truth * relative)) << "truth " << truth;
}

TEST(SimKernelCounterServiceTest, HybridInventoryNamesEachProcessorsCorePmuAndSensors) {
  Rig rig("modern-intel-hybrid");
  const KernelCounterInventory inv = rig.kernel().inventory();
  ASSERT_EQ(inv.corePmus.size(), 2u);
  EXPECT_EQ(inv.corePmus[0].name, "cpu_core");
  EXPECT_EQ(inv.corePmus[0].coreType, KernelCoreType::kPerformance);
  EXPECT_EQ(inv.corePmus[1].name, "cpu_atom");
  EXPECT_EQ(inv.corePmus[1].coreType, KernelCoreType::kEfficiency);
  EXPECT_NE(inv.corePmus[0].type, inv.corePmus[1].type);
  EXPECT_TRUE(inv.corePmus[1].events & kernelEventBit(E::kRefCycles));
  ASSERT_EQ(inv.processors.size(), 16u);
  for (const KernelProcessor& p : inv.processors) {
    const SimLogicalProcessor& sim = *rig.machine->processor(p.cpu);
    EXPECT_EQ(p.pmu, sim.efficiency ? 1 : 0);
    EXPECT_EQ(p.core, sim.core);
    EXPECT_EQ(rig.machine->cpuAt(p.group, p.index), p.cpu);
  }
  // coretemp: the package and one sensor per core id.
  ASSERT_EQ(inv.temperatures.size(), 13u);
  EXPECT_EQ(inv.temperatures[0].label, "Package id 0");
  EXPECT_EQ(inv.temperatures[12].label, "Core 11");
  EXPECT_EQ(inv.temperatures[12].core, 11);
  // Package, cores and graphics rails, in the power PMU and in powercap.
  ASSERT_EQ(inv.powerEvents.size(), 3u);
  EXPECT_EQ(inv.powerEvents[0].joulesPerCount, 1.0 / 4294967296.0);
  EXPECT_EQ(inv.energyZones.size(), 3u);
  EXPECT_EQ(inv.msrEvents, kernelEventBit(E::kMsrAperf) | kernelEventBit(E::kMsrMperf) | kernelEventBit(E::kMsrTsc));
  EXPECT_TRUE(inv.mayOpenDirectly);
}

TEST(SimKernelCounterServiceTest, AmdAndVirtualMachineInventories) {
  Rig amd("modern-amd");
  KernelCounterInventory inv = amd.kernel().inventory();
  ASSERT_EQ(inv.corePmus.size(), 1u);
  EXPECT_EQ(inv.corePmus[0].name, "cpu");
  EXPECT_FALSE(inv.corePmus[0].events & kernelEventBit(E::kRefCycles));
  EXPECT_TRUE(inv.corePmus[0].events & kernelEventBit(E::kStalledCyclesBackend));
  ASSERT_EQ(inv.temperatures.size(), 2u);
  EXPECT_EQ(inv.temperatures[0].label, "Tctl");
  EXPECT_EQ(inv.temperatures[1].label, "Tdie");
  ASSERT_EQ(inv.powerEvents.size(), 1u);
  EXPECT_EQ(inv.powerEvents[0].event, E::kEnergyPackage);
  ASSERT_EQ(inv.energyZones.size(), 1u);
  KernelOpenError error;
  EXPECT_EQ(amd.open(0, {E::kRefCycles}, &error), nullptr);
  EXPECT_EQ(error.code, kErrorNotSupported);

  // The unlisted machine's kernel has no hardware counters: no core PMU,
  // only the msr PMU's tsc, nothing to read power or temperature from.
  Rig vm("unlisted");
  inv = vm.kernel().inventory();
  EXPECT_TRUE(inv.corePmus.empty());
  EXPECT_NE(inv.blockedReason.find("no hardware performance counters"), std::string::npos) << inv.blockedReason;
  EXPECT_EQ(inv.msrEvents, kernelEventBit(E::kMsrTsc));
  EXPECT_TRUE(inv.powerEvents.empty() && inv.temperatures.empty() && inv.energyZones.empty());
  for (const KernelProcessor& p : inv.processors) EXPECT_EQ(p.pmu, -1);
  EXPECT_EQ(vm.open(0, {E::kInstructions}, &error), nullptr);
  EXPECT_EQ(error.code, kErrorFileNotFound);
  EXPECT_EQ(vm.open(0, {E::kEnergyPackage}, &error), nullptr);
  EXPECT_EQ(error.code, kErrorFileNotFound);
  EXPECT_NE(vm.open(0, {E::kMsrTsc, E::kCpuClock}), nullptr);
}

// Two packages: sensors and zones per package, and a power group counts the
// package of the processor it was opened on.
TEST(SimKernelCounterServiceTest, EachPackageHasItsOwnSensorsZonesAndEnergy) {
  Rig rig("intel-snb-2p");
  const KernelCounterInventory inv = rig.kernel().inventory();
  ASSERT_EQ(inv.corePmus.size(), 1u);
  EXPECT_TRUE(inv.corePmus[0].events & kernelEventBit(E::kStalledCyclesBackend));
  EXPECT_EQ(inv.temperatures.size(), 18u);
  EXPECT_EQ(inv.temperatures[9].label, "Package id 1");
  EXPECT_EQ(inv.energyZones.size(), 6u);  // package, cores and DRAM of each
  EXPECT_EQ(inv.energyZones[3].package, 1);
  rig.machine->setPower(0, SimPowerDraw{10.0, 5.0, 0.0, 2.0});
  rig.machine->setPower(1, SimPowerDraw{40.0, 5.0, 0.0, 6.0});
  auto p0 = rig.open(3, {E::kEnergyPackage, E::kEnergyRam});
  auto p1 = rig.open(20, {E::kEnergyPackage, E::kEnergyRam});
  ASSERT_TRUE(p0 && p1);
  rig.machine->advanceMs(1000);
  const KernelGroupReading r0 = readOf(*p0), r1 = readOf(*p1);
  EXPECT_NEAR(static_cast<double>(r0.values[0]) * inv.powerEvents[0].joulesPerCount, 15.0, 1e-6);
  EXPECT_NEAR(static_cast<double>(r1.values[0]) * inv.powerEvents[0].joulesPerCount, 45.0, 1e-6);
  EXPECT_NEAR(static_cast<double>(r1.values[1]) * inv.powerEvents[0].joulesPerCount, 6.0, 1e-6);
  uint64_t before = 0, after = 0, ns = 0;
  ASSERT_TRUE(rig.kernel().readEnergy(5, &before, &ns));  // package 1's DRAM
  rig.machine->advanceMs(500);
  ASSERT_TRUE(rig.kernel().readEnergy(5, &after, &ns));
  EXPECT_EQ(inv.energyZones[5].kind, KernelEnergyKind::kDram);
  EXPECT_NEAR(static_cast<double>(after - before), 3e6, 1.0);
}

// Every event of both kinds of core counts what the workload does.
TEST(SimKernelCounterServiceTest, CountsFollowTheTruthOnBothCoreKinds) {
  Rig rig("modern-intel-hybrid");
  rig.machine->setLoad(1, 0.8);
  rig.machine->setLoad(9, 0.5);
  const std::vector<E> events = {E::kInstructions, E::kCycles,       E::kRefCycles,  E::kBranchInstructions,
                                 E::kBranchMisses, E::kCacheReferences, E::kCacheMisses, E::kCpuClock};
  for (int cpu : {1, 9}) {
    SCOPED_TRACE(cpu);
    auto g = rig.open(cpu, events);
    ASSERT_NE(g, nullptr);
    const KernelGroupReading a = readOf(*g);
    rig.machine->advanceMs(2000);
    const KernelGroupReading b = readOf(*g);
    EXPECT_EQ(b.count, static_cast<int>(events.size()));
    EXPECT_EQ(b.timeEnabled - a.timeEnabled, 2000000000u);
    EXPECT_EQ(b.timeRunning, b.timeEnabled);
    for (size_t i = 0; i < events.size(); ++i) {
      expectNear(rateOf(a, b, static_cast<int>(i)), rig.kernel().trueRate(cpu, events[i]), 1e-6);
    }
  }
  // An efficiency core is slower: its truth differs, and so do its counts.
  EXPECT_LT(rig.kernel().trueRate(9, E::kCycles) / 0.5, rig.kernel().trueRate(1, E::kCycles) / 0.8);
}

TEST(SimKernelCounterServiceTest, AmdStallsMsrAndEnergyCountTheTruth) {
  Rig rig("modern-amd");
  rig.machine->setLoadAll(0.6);
  auto core = rig.open(3, {E::kCycles, E::kStalledCyclesBackend, E::kCacheMisses});
  auto msr = rig.open(3, {E::kMsrAperf, E::kMsrMperf, E::kMsrTsc});
  auto power = rig.open(5, {E::kEnergyPackage});
  ASSERT_TRUE(core && msr && power);
  const KernelGroupReading c0 = readOf(*core), m0 = readOf(*msr), p0 = readOf(*power);
  rig.machine->advanceMs(3000);
  const KernelGroupReading c1 = readOf(*core), m1 = readOf(*msr), p1 = readOf(*power);
  expectNear(rateOf(c0, c1, 1), rig.kernel().trueRate(3, E::kStalledCyclesBackend), 1e-6);
  expectNear(rateOf(c0, c1, 2), rig.machine->trueRate(3, SimEvent::kL3Misses), 1e-6);
  expectNear(rateOf(m0, m1, 0), rig.machine->trueRate(3, SimEvent::kUnhaltedCycles), 1e-6);
  expectNear(rateOf(m0, m1, 1), rig.machine->trueRate(3, SimEvent::kReferenceCycles), 1e-6);
  expectNear(rateOf(m0, m1, 2), rig.machine->tscMhz() * 1e6, 1e-9);
  const double watts = static_cast<double>(p1.values[0] - p0.values[0]) / 4294967296.0 * 1e9 /
                       static_cast<double>(p1.timeEnabled - p0.timeEnabled);
  EXPECT_NEAR(watts, rig.machine->truePower(0, SimPowerDomain::kPackage), 1e-6);
  EXPECT_EQ(p1.timeRunning, p1.timeEnabled);
}

// Two groups of four general events fit on a performance core's eight
// counters but not on an efficiency core's six: there they take turns.
TEST(SimKernelCounterServiceTest, GroupsBeyondTheCountersTakeTurnsAndKeepTheirRates) {
  Rig rig("modern-intel-hybrid");
  rig.machine->setLoadAll(1.0);
  const std::vector<E> four = {E::kBranchInstructions, E::kBranchMisses, E::kCacheReferences, E::kCacheMisses};
  for (int cpu : {0, 8}) {
    SCOPED_TRACE(cpu);
    auto a = rig.open(cpu, four);
    auto b = rig.open(cpu, four);
    ASSERT_TRUE(a && b);
    const KernelGroupReading a0 = readOf(*a), b0 = readOf(*b);
    rig.machine->advanceMs(1000);
    const KernelGroupReading a1 = readOf(*a), b1 = readOf(*b);
    const bool multiplexed = cpu == 8;
    for (const auto& [r0, r1] : {std::pair{a0, a1}, std::pair{b0, b1}}) {
      const uint64_t enabled = r1.timeEnabled - r0.timeEnabled;
      const uint64_t running = r1.timeRunning - r0.timeRunning;
      EXPECT_EQ(enabled, 1000000000u);
      EXPECT_EQ(running, multiplexed ? enabled / 2 : enabled);
      for (int i = 0; i < 4; ++i) {
        expectNear(rateOf(r0, r1, i), rig.kernel().trueRate(cpu, four[static_cast<size_t>(i)]), 1e-6);
      }
    }
    // Once one group closes the other has the counters to itself.
    a.reset();
    const KernelGroupReading b2 = readOf(*b);
    rig.machine->advanceMs(500);
    const KernelGroupReading b3 = readOf(*b);
    EXPECT_EQ(b3.timeRunning - b2.timeRunning, 500000000u);
  }
}

// Reference cycles count only on their fixed counter: a second group that
// asks for them must wait for the first, though it needs no general counter.
TEST(SimKernelCounterServiceTest, FixedCountersAreSharedToo) {
  Rig rig("modern-intel-hybrid");
  rig.machine->setLoad(2, 1.0);
  auto a = rig.open(2, {E::kInstructions, E::kCycles, E::kRefCycles});
  auto b = rig.open(2, {E::kInstructions, E::kCycles, E::kRefCycles});
  ASSERT_TRUE(a && b);
  rig.machine->advanceMs(800);
  const KernelGroupReading ra = readOf(*a), rb = readOf(*b);
  EXPECT_EQ(ra.timeRunning + rb.timeRunning, ra.timeEnabled);
  EXPECT_EQ(ra.timeRunning, rb.timeRunning);
  const KernelGroupReading zero{};
  expectNear(rateOf(zero, rb, 2), rig.kernel().trueRate(2, E::kRefCycles), 1e-6);
  // A group the PMU cannot hold at all is refused when opened.
  KernelOpenError error;
  EXPECT_EQ(rig.open(2, {E::kRefCycles, E::kRefCycles}, &error), nullptr);
  EXPECT_EQ(error.code, kErrorInvalidParameter);
  EXPECT_EQ(rig.open(2, {E::kCycles, E::kMsrTsc}, &error), nullptr);
  EXPECT_EQ(error.code, kErrorInvalidParameter);
}

// The NMI watchdog keeps one of an AMD core's six counters: two groups of
// three events that fit side by side now take turns, and a group of six
// never gets on the hardware.
TEST(SimKernelCounterServiceTest, TheWatchdogTakesACounter) {
  Rig rig("modern-amd");
  rig.machine->setLoadAll(1.0);
  const std::vector<E> three = {E::kBranchInstructions, E::kBranchMisses, E::kCacheMisses};
  auto a = rig.open(6, three);
  auto b = rig.open(6, three);
  ASSERT_TRUE(a && b);
  rig.machine->advanceMs(400);
  const KernelGroupReading a0 = readOf(*a), b0 = readOf(*b);
  EXPECT_EQ(a0.timeRunning, a0.timeEnabled);
  rig.kernel().setWatchdog(true);
  rig.machine->advanceMs(400);
  const KernelGroupReading a1 = readOf(*a), b1 = readOf(*b);
  EXPECT_EQ(a1.timeRunning - a0.timeRunning, 200000000u);
  EXPECT_EQ(b1.timeRunning - b0.timeRunning, 200000000u);
  expectNear(rateOf(a0, a1, 1), rig.kernel().trueRate(6, E::kBranchMisses), 1e-6);
  a.reset();
  b.reset();
  auto six = rig.open(6, {E::kBranchInstructions, E::kBranchMisses, E::kCacheReferences, E::kCacheMisses,
                          E::kCycles, E::kInstructions});
  ASSERT_NE(six, nullptr);  // the kernel checks a group against an empty PMU
  rig.machine->advanceMs(100);
  const KernelGroupReading r = readOf(*six);
  EXPECT_EQ(r.timeEnabled, 100000000u);
  EXPECT_EQ(r.timeRunning, 0u);
  EXPECT_EQ(r.values[0], 0u);
}

// Another process on the same machine competes for the same counters.
TEST(SimKernelCounterServiceTest, ProcessesOnOneMachineShareTheCounters) {
  Rig rig("modern-intel-hybrid");
  SimPlatform other(rig.machine);
  const std::vector<E> six = {E::kBranchInstructions, E::kBranchMisses, E::kCacheReferences,
                              E::kCacheMisses,        E::kBranchInstructions, E::kBranchMisses};
  auto mine = rig.open(10, six);
  int group = 0, index = 0;
  ASSERT_TRUE(rig.machine->placeOf(10, &group, &index));
  KernelOpenError error;
  auto theirs = other.simKernelCounters().openGroup(group, index, six, &error);
  ASSERT_TRUE(mine && theirs);
  EXPECT_EQ(rig.machine->kernel().openGroups(10), 2);
  rig.machine->advanceMs(200);
  EXPECT_EQ(readOf(*mine).timeRunning, 100000000u);
}

TEST(SimKernelCounterServiceTest, ParanoidLevelAndPrivilegeDecideWhoCounts) {
  Rig rig("modern-amd");
  SimKernelCounterService& k = rig.kernel();
  k.setParanoid(2);
  k.setPrivilege(SimKernelPrivilege::kNone);
  KernelCounterInventory inv = k.inventory();
  EXPECT_EQ(inv.paranoid, 2);
  EXPECT_FALSE(inv.mayOpenDirectly);
  EXPECT_FALSE(inv.hostOpens);
  EXPECT_NE(inv.blockedReason.find("perf_event_paranoid is 2"), std::string::npos) << inv.blockedReason;
  EXPECT_NE(inv.blockedReason.find("tarvelle2"), std::string::npos);
  for (const std::vector<E>& events : {std::vector<E>{E::kInstructions}, {E::kMsrTsc}, {E::kEnergyPackage}, {E::kCpuClock}}) {
    KernelOpenError error;
    EXPECT_EQ(rig.open(0, events, &error), nullptr);
    EXPECT_EQ(error.code, kErrorAccessDenied);
    EXPECT_EQ(error.systemError, 13);  // EACCES
  }
  // Temperatures and energy zones need no privilege.
  int32_t milli = 0;
  uint64_t uj = 0, ns = 0;
  EXPECT_TRUE(k.readTemperature(0, &milli));
  EXPECT_TRUE(k.readEnergy(0, &uj, &ns));

  // A member of the host's group gets the events through the host.
  k.setPrivilege(SimKernelPrivilege::kHostGroup);
  inv = k.inventory();
  EXPECT_TRUE(inv.hostOpens);
  EXPECT_TRUE(inv.blockedReason.empty());
  EXPECT_NE(rig.open(0, {E::kInstructions}), nullptr);

  // Level 0 lets anyone count a whole CPU; root always may.
  k.setPrivilege(SimKernelPrivilege::kNone);
  k.setParanoid(0);
  EXPECT_TRUE(k.inventory().mayOpenDirectly);
  EXPECT_TRUE(k.inventory().blockedReason.empty());
  EXPECT_NE(rig.open(0, {E::kInstructions}), nullptr);
  k.setParanoid(3);
  k.setPrivilege(SimKernelPrivilege::kRoot);
  EXPECT_TRUE(k.inventory().mayOpenDirectly);
  EXPECT_NE(rig.open(0, {E::kInstructions}), nullptr);
}

TEST(SimKernelCounterServiceTest, AnInjectedErrorSkewsOnlyItsEvent) {
  Rig rig("modern-intel-hybrid");
  rig.machine->setLoad(4, 1.0);
  auto g = rig.open(4, {E::kInstructions, E::kBranchMisses});
  ASSERT_NE(g, nullptr);
  rig.machine->advanceMs(1000);
  const KernelGroupReading a = readOf(*g);
  rig.kernel().setEventError(E::kBranchMisses, 1.05);
  rig.machine->advanceMs(1000);
  const KernelGroupReading b = readOf(*g);
  expectNear(rateOf(a, b, 0), rig.kernel().trueRate(4, E::kInstructions), 1e-6);
  expectNear(rateOf(a, b, 1), 1.05 * rig.kernel().trueRate(4, E::kBranchMisses), 1e-6);
  // The counts before the error stay as they were counted.
  expectNear(rateOf(KernelGroupReading{}, a, 1), rig.kernel().trueRate(4, E::kBranchMisses), 1e-6);
}

TEST(SimKernelCounterServiceTest, SensorsReadInTheirDriversResolution) {
  Rig intel("modern-intel-hybrid");
  intel.machine->setCoreTemperature(0, 5, 61.4);
  intel.machine->setCoreTemperature(0, 2, 66.6);
  const KernelCounterInventory inv = intel.kernel().inventory();
  int32_t milli = 0;
  for (int s = 0; s < static_cast<int>(inv.temperatures.size()); ++s) {
    ASSERT_TRUE(intel.kernel().readTemperature(s, &milli));
    EXPECT_EQ(milli % 1000, 0);  // coretemp: whole degrees
    EXPECT_NEAR(milli / 1000.0, intel.kernel().trueTemperature(s), 0.5);
    if (inv.temperatures[s].core == 5) EXPECT_EQ(milli, 61000);
    if (inv.temperatures[s].kind == KernelSensorKind::kPackage) EXPECT_EQ(milli, 67000);  // the hottest core
  }
  EXPECT_FALSE(intel.kernel().readTemperature(static_cast<int>(inv.temperatures.size()), &milli));

  Rig amd("modern-amd");
  amd.machine->setTemperature(0, 55.3);
  ASSERT_TRUE(amd.kernel().readTemperature(0, &milli));
  EXPECT_EQ(milli, 55250);  // k10temp: eighths of a degree
  // A temperature beyond reason reads as the highest value, not as garbage.
  amd.machine->setTemperature(0, 1e300);
  ASSERT_TRUE(amd.kernel().readTemperature(0, &milli));
  EXPECT_EQ(milli, 1000000000);
}

// powercap counts microjoules from 0 to max_energy_range_uj and starts again.
TEST(SimKernelCounterServiceTest, EnergyZonesWrapPastTheirRange) {
  SimMachineConfig config = SimMachine::preset("modern-intel-hybrid").value();
  config.kernel.maxEnergyRangeUj = 9999999;  // 10 J
  Rig rig(config);
  rig.machine->setPower(0, SimPowerDraw{3.0, 1.0, 0.0, 0.0});  // a 4 W package
  const KernelCounterInventory inv = rig.kernel().inventory();
  ASSERT_EQ(inv.energyZones[0].kind, KernelEnergyKind::kPackage);
  uint64_t last = 0, ns0 = 0;
  ASSERT_TRUE(rig.kernel().readEnergy(0, &last, &ns0));
  uint64_t total = 0;
  int wraps = 0;
  for (int step = 0; step < 12; ++step) {
    rig.machine->advanceMs(1000);
    uint64_t now = 0, ns = 0;
    ASSERT_TRUE(rig.kernel().readEnergy(0, &now, &ns));
    EXPECT_LE(now, inv.energyZones[0].maxRangeMicrojoules);
    if (now < last) {
      ++wraps;
      total += now + (inv.energyZones[0].maxRangeMicrojoules + 1) - last;
    } else {
      total += now - last;
    }
    last = now;
    EXPECT_EQ(ns - ns0, (step + 1) * 1000000000ull);
  }
  EXPECT_GE(wraps, 4);
  EXPECT_NEAR(static_cast<double>(total), 48e6, 2.0);
  uint64_t uj = 0, ns = 0;
  EXPECT_FALSE(rig.kernel().readEnergy(static_cast<int>(inv.energyZones.size()), &uj, &ns));
}

// Samplers on many threads read their groups while a test thread moves the
// clock, changes the load, injects errors and opens and closes groups that
// push the others into rotation. Every reading stays consistent.
TEST(SimKernelCounterServiceTest, SamplersOnManyThreadsReadWhileGroupsComeAndGo) {
  Rig rig("modern-intel-hybrid");
  rig.machine->setLoadAll(0.7);
  const std::vector<E> events = {E::kInstructions, E::kCycles, E::kBranchInstructions, E::kBranchMisses,
                                 E::kCacheReferences, E::kCacheMisses};
  std::atomic<bool> stop{false};
  std::vector<std::thread> samplers;
  for (int cpu : {0, 7, 8, 15}) {
    samplers.emplace_back([&rig, &stop, &events, cpu] {
      auto g = rig.open(cpu, events);
      ASSERT_NE(g, nullptr);
      KernelGroupReading last;
      while (!stop.load()) {
        KernelGroupReading r;
        ASSERT_TRUE(g->read(&r));
        EXPECT_LE(r.timeRunning, r.timeEnabled);
        EXPECT_GE(r.timeEnabled, last.timeEnabled);
        for (int i = 0; i < r.count; ++i) EXPECT_GE(r.values[i], last.values[i]);
        last = r;
      }
    });
  }
  for (int round = 0; round < 200; ++round) {
    auto crowd = rig.open(round % 2 == 0 ? 8 : 15, events);
    rig.machine->advanceMs(3);
    rig.machine->setLoad(round % 16, 0.1 * (round % 10));
    if (round == 100) rig.kernel().setEventError(E::kBranchMisses, 1.2);
  }
  stop = true;
  for (std::thread& t : samplers) t.join();
  for (int cpu = 0; cpu < 16; ++cpu) EXPECT_EQ(rig.machine->kernel().openGroups(cpu), 0);
}

}  // namespace
}  // namespace tv2::sim
