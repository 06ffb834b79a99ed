#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "counters/KernelFrequencyCounter.h"
#include "counters/KernelGroupCounter.h"
#include "cpu/CProcessor_2.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::testing {

// Compares every figure of a kernel-backed package with what the simulated
// workload really did, by the program's formulas on the kernel's true rates.
// Every counter of the package must be reached (through its metric slot, or
// as a group's reader) and checked. The mismatches come back as lines, so a
// test can show that a wrong count is caught as well as that right ones pass.
class KernelCountingTruth {
 public:
  static constexpr double kRate = 0.01;

  KernelCountingTruth(sim::SimPlatform& platform, const CProcessor_2& package, int32_t packageIndex)
      : m_machine(platform.machine()), m_kernel(platform.simKernelCounters()), m_package(package),
        m_packageIndex(packageIndex), m_inventory(m_kernel.inventory()) {}

  std::vector<std::string> check() {
    m_failures.clear();
    m_checked = 0;
    for (const LogicalProcessorRecord& t : m_package.threads) checkThread(t);
    for (const CoreRecord& core : m_package.cores) checkCore(core);
    checkPackage();
    if (m_checked != m_package.counterCount) {
      m_failures.push_back("checked " + std::to_string(m_checked) + " of " +
                           std::to_string(m_package.counterCount) + " counters");
    }
    return m_failures;
  }

 private:
  using K = KernelEvent;
  int cpuOf(const LogicalProcessorRecord& t) const { return m_machine.cpuAt(t.group, t.index); }
  double rate(const LogicalProcessorRecord& t, K event) const { return m_kernel.trueRate(cpuOf(t), event) / 1e6; }
  double sum(K event) const {
    double total = 0;
    for (const LogicalProcessorRecord& t : m_package.threads) total += rate(t, event);
    return total;
  }

  void near(const CCounter* counter, double expected, double tolerance, const std::string& what) {
    ++m_checked;
    if (counter == nullptr) return m_failures.push_back(what + ": missing");
    if (counter->history->count == 0) return m_failures.push_back(what + ": never recorded");
    if (!(std::fabs(counter->value - expected) <= tolerance)) {
      m_failures.push_back(what + ": " + std::to_string(counter->value) + " instead of " + std::to_string(expected));
    }
  }
  void rateOf(const CCounter* c, double expected, const std::string& what) {
    near(c, expected, std::fabs(expected) * kRate + 1e-6, what);
  }
  void percent(const CCounter* c, double expected, const std::string& what) {
    near(c, std::clamp(expected, 0.0, 100.0), 100.0 * kRate, what);
  }

  void checkThread(const LogicalProcessorRecord& t) {
    const int cpu = cpuOf(t);
    const std::string at = " of cpu " + std::to_string(cpu);
    const double load = m_machine.trueRate(cpu, sim::SimEvent::kReferenceCycles) / (m_machine.tscMhz() * 1e6);
    for (const CCounter* counter : t.counters) {
      // A group's reader: the share of the interval it counted.
      if (const auto* group = dynamic_cast<const KernelGroupCounter*>(counter)) {
        ++m_checked;
        if (!(group->value > 0 && group->value <= 100.0f)) m_failures.push_back("group share" + at);
      }
    }
    if (t.idleTime) {
      double interval = static_cast<double>(t.kernelTime->value) + t.userTime->value;
      near(t.idleTime, (1.0 - load) * interval, interval * kRate, "idle time" + at);
      near(t.userTime, load * 0.75 * interval, interval * kRate, "user time" + at);
      near(t.kernelTime, (1.0 - 0.75 * load) * interval, interval * kRate, "kernel time" + at);
    }
    if (t.usage) percent(t.usage, load * 100.0, "usage" + at);
    // No register is read for a kernel-backed package.
    if (t.timeStamp) {
      ++m_checked;
      if (t.timeStamp->history->count != 0) m_failures.push_back("time stamp read" + at);
    }
    if (t.instructions) rateOf(t.instructions, rate(t, K::kInstructions), "MIPS" + at);
    if (dynamic_cast<const KernelFrequencyCounter*>(t.coreCycles)) {
      rateOf(t.coreCycles, m_machine.trueClockMhz(cpu), "clock" + at);
    } else if (t.coreCycles) {
      rateOf(t.coreCycles, rate(t, K::kCycles), "MHz" + at);
    }
    if (t.referenceCycles) rateOf(t.referenceCycles, rate(t, K::kRefCycles), "reference MHz" + at);
    if (t.ipc) rateOf(t.ipc, rate(t, K::kInstructions) / rate(t, K::kCycles), "IPC" + at);
    if (t.cpi) rateOf(t.cpi, rate(t, K::kCycles) / rate(t, K::kInstructions), "CPI" + at);
    if (t.stalledCycles) rateOf(t.stalledCycles, rate(t, K::kStalledCyclesBackend), "stalled" + at);
    if (t.totalCycles) rateOf(t.totalCycles, rate(t, K::kCycles), "total cycles" + at);
    if (t.stallRatio) {
      percent(t.stallRatio, rate(t, K::kStalledCyclesBackend) * 100 / rate(t, K::kCycles), "stall" + at);
    }
    if (t.l3Requests) rateOf(t.l3Requests, rate(t, K::kCacheReferences), "LLC references" + at);
    if (t.l3Misses) rateOf(t.l3Misses, rate(t, K::kCacheMisses), "LLC misses" + at);
    if (t.branchesRetired) rateOf(t.branchesRetired, rate(t, K::kBranchInstructions), "branches" + at);
    if (t.branchesMissed) rateOf(t.branchesMissed, rate(t, K::kBranchMisses), "branch misses" + at);
  }

  void checkCore(const CoreRecord& core) {
    const std::string at = " of core " + std::to_string(core.coreId);
    double refs = 0, misses = 0, branches = 0, missed = 0, instructions = 0;
    for (const LogicalProcessorRecord* t : core.threads) {
      refs += rate(*t, K::kCacheReferences);
      misses += rate(*t, K::kCacheMisses);
      branches += rate(*t, K::kBranchInstructions);
      missed += rate(*t, K::kBranchMisses);
      instructions += rate(*t, K::kInstructions);
    }
    if (core.l3HitRate) percent(core.l3HitRate, (refs - misses) * 100 / refs, "L3 hit rate" + at);
    if (core.branchHitRate) percent(core.branchHitRate, (branches - missed) * 100 / branches, "branch hits" + at);
    if (core.branchInstructionRate) {
      near(core.branchInstructionRate, branches * 100 / instructions, 0.1, "branch share" + at);
    }
    if (core.temperature) near(core.temperature, sensorTruth(KernelSensorKind::kCore, core.coreId), 0.5, "temp" + at);
  }

  // The sensor the catalogue picks: the core's, or Tdie else the first
  // package sensor.
  double sensorTruth(KernelSensorKind kind, int core) const {
    int found = -1;
    for (size_t i = 0; i < m_inventory.temperatures.size(); ++i) {
      const KernelTemperatureSensor& s = m_inventory.temperatures[i];
      if (s.kind != kind || (kind == KernelSensorKind::kCore && s.core != core)) continue;
      if (kind == KernelSensorKind::kCore || s.label == "Tdie") return m_kernel.trueTemperature(static_cast<int>(i));
      if (found < 0) found = static_cast<int>(i);
    }
    return found < 0 ? -1000 : m_kernel.trueTemperature(found);
  }

  void checkPackage() {
    const CProcessor_2& p = m_package;
    double instructions = sum(K::kInstructions);
    double cycles = sum(K::kCycles);
    double load = 0;
    for (const LogicalProcessorRecord& t : p.threads) {
      load += m_machine.trueRate(cpuOf(t), sim::SimEvent::kReferenceCycles) / (m_machine.tscMhz() * 1e6);
    }
    if (p.usageSummary) percent(p.usageSummary, load * 100 / static_cast<double>(p.threads.size()), "usage");
    if (dynamic_cast<const KernelFrequencyCounter*>(p.threads[0].coreCycles)) {
      rateOf(p.coreCyclesSummary, m_machine.trueClockMhz(cpuOf(p.threads[0])), "clock 0");
    } else if (p.coreCyclesSummary) {
      rateOf(p.coreCyclesSummary, rate(p.threads[0], K::kCycles), "MHz 0");
    }
    if (p.mipsSummary) rateOf(p.mipsSummary, instructions / 1000.0, "GIPS");
    if (p.ipcSummary) rateOf(p.ipcSummary, instructions / cycles, "package IPC");
    if (p.cpiSummary) rateOf(p.cpiSummary, cycles / instructions, "package CPI");
    if (p.stallRatioSummary) percent(p.stallRatioSummary, sum(K::kStalledCyclesBackend) * 100 / cycles, "stall");
    double refs = sum(K::kCacheReferences);
    double misses = sum(K::kCacheMisses);
    if (p.l3HitRateSummary) percent(p.l3HitRateSummary, (refs - misses) * 100 / refs, "package L3");
    if (p.l3RequestRateSummary) percent(p.l3RequestRateSummary, refs * 100 / instructions, "package L3 requests");
    double branches = sum(K::kBranchInstructions);
    if (p.branchHitRateSummary) {
      percent(p.branchHitRateSummary, (branches - sum(K::kBranchMisses)) * 100 / branches, "branch hits");
    }
    if (p.branchInstructionRateSummary) percent(p.branchInstructionRateSummary, branches * 100 / instructions, "bshare");
    if (p.temperatureSummary) {
      near(p.temperatureSummary, sensorTruth(KernelSensorKind::kPackage, -1), 0.5, "package temperature");
    }
    struct Rail {
      const CCounter* counter;
      K event;
      const char* what;
    };
    for (const Rail& rail : {Rail{p.packagePower, K::kEnergyPackage, "package power"},
                             Rail{p.corePower, K::kEnergyCores, "core power"},
                             Rail{p.graphicsPower, K::kEnergyGpu, "graphics power"},
                             Rail{p.dramPower, K::kEnergyRam, "DRAM power"}}) {
      if (rail.counter) rateOf(rail.counter, m_kernel.truePower(m_packageIndex, rail.event), rail.what);
    }
    if (p.ipwSummary) {
      double watts = m_kernel.truePower(m_packageIndex, p.corePower ? K::kEnergyCores : K::kEnergyPackage);
      rateOf(p.ipwSummary, instructions / watts, "IPW");
    }
  }

  sim::SimMachine& m_machine;
  sim::SimKernelCounterService& m_kernel;
  const CProcessor_2& m_package;
  int32_t m_packageIndex;
  KernelCounterInventory m_inventory;
  std::vector<std::string> m_failures;
  int32_t m_checked = 0;
};

}  // namespace tv2::testing
