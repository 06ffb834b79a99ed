#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "counters/KernelFrequencyCounter.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ModelGroups.h"
#include "platform/sim/SimMachine.h"

namespace tv2::testing {

// Compares every figure of a package with what the simulated workload really
// did, using the program's own formulas on the machine's true rates. Every
// counter of the package is reached through exactly one metric slot, so the
// number of figures checked must equal the package's counter count.
class CountingTruth {
 public:
  CountingTruth(sim::SimMachine& machine, const CProcessor_2& package, int32_t packageIndex)
      : m_machine(machine), m_package(package), m_packageIndex(packageIndex) {}

  // Relative tolerance of rates (and figures computed from them).
  static constexpr double kRate = 0.01;

  void checkAll() {
    m_checked = 0;
    for (const LogicalProcessorRecord& t : m_package.threads) checkThread(t);
    for (const CoreRecord& core : m_package.cores) checkCore(core);
    checkPackage();
    EXPECT_EQ(m_checked, m_package.counterCount) << "figures left unchecked";
  }

 private:
  using E = sim::SimEvent;

  double rate(int cpu, E event) const { return m_machine.trueRate(cpu, event) / 1e6; }
  int cpuOf(const LogicalProcessorRecord& t) const { return m_machine.cpuAt(t.group, t.index); }
  // Sum of a true rate over some processors, in millions per second.
  template <typename Range>
  double sum(const Range& threads, E event) const {
    double total = 0;
    for (const LogicalProcessorRecord* t : threads) total += rate(cpuOf(*t), event);
    return total;
  }

  void near(const CCounter* counter, double expected, double tolerance, const std::string& what) {
    ++m_checked;
    ASSERT_NE(counter, nullptr) << what;
    EXPECT_GT(counter->history->count, 0) << what << " never recorded";
    EXPECT_NEAR(counter->value, expected, tolerance) << what;
  }
  void rateOf(const CCounter* counter, double expected, const std::string& what) {
    near(counter, expected, std::fabs(expected) * kRate + 1e-6, what);
  }
  void percent(const CCounter* counter, double expected, const std::string& what) {
    near(counter, std::clamp(expected, 0.0, 100.0), 100.0 * kRate, what);
  }

  void checkThread(const LogicalProcessorRecord& t) {
    const int cpu = cpuOf(t);
    const std::string at = " of cpu " + std::to_string(cpu);
    const double load = m_machine.trueRate(cpu, E::kReferenceCycles) / (m_machine.tscMhz() * 1e6);
    // The operating system's times over the last usage interval (at least
    // 500 ms; longer where the sensors of a pass sleep), which kernel and
    // user time cover together; a quarter of the busy time is kernel time.
    if (t.idleTime) {
      double interval = static_cast<double>(t.kernelTime->value) + t.userTime->value;
      EXPECT_GE(interval, 5e6 * (1 - kRate)) << at;
      near(t.idleTime, (1.0 - load) * interval, interval * kRate, "idle time" + at);
      near(t.userTime, load * 0.75 * interval, interval * kRate, "user time" + at);
      near(t.kernelTime, (1.0 - 0.75 * load) * interval, interval * kRate, "kernel time" + at);
    }
    if (t.usage) percent(t.usage, load * 100.0, "usage" + at);
    if (t.timeStamp && m_package.kernelCounters) {
      // A kernel-backed package reads no register: no time-stamp figure.
      ++m_checked;
      EXPECT_EQ(t.timeStamp->history->count, 0) << at;
    } else if (t.timeStamp) {
      rateOf(t.timeStamp, m_machine.tscMhz(), "TSC" + at);
    }
    if (t.instructions) rateOf(t.instructions, rate(cpu, E::kInstructions), "MIPS" + at);
    if (dynamic_cast<const KernelFrequencyCounter*>(t.coreCycles)) {
      rateOf(t.coreCycles, m_machine.trueClockMhz(cpu), "clock" + at);
    } else if (t.coreCycles) {
      rateOf(t.coreCycles, rate(cpu, E::kUnhaltedCycles), "MHz" + at);
    }
    if (t.referenceCycles) rateOf(t.referenceCycles, rate(cpu, E::kReferenceCycles), "reference MHz" + at);
    if (t.ipc) rateOf(t.ipc, rate(cpu, E::kInstructions) / rate(cpu, E::kUnhaltedCycles), "IPC" + at);
    if (t.cpi) rateOf(t.cpi, rate(cpu, E::kUnhaltedCycles) / rate(cpu, E::kInstructions), "CPI" + at);
    if (t.stalledCycles) rateOf(t.stalledCycles, rate(cpu, E::kStalledCycles), "stalled cycles" + at);
    // "Total cycles" count every unhalted cycle.
    if (t.totalCycles) rateOf(t.totalCycles, rate(cpu, E::kUnhaltedCycles), "total cycles" + at);
    if (t.stallRatio) {
      percent(t.stallRatio, rate(cpu, E::kStalledCycles) * 100.0 / rate(cpu, E::kUnhaltedCycles), "stall" + at);
    }
    if (t.branchesRetired) rateOf(t.branchesRetired, rate(cpu, E::kBranches), "branches" + at);
    if (t.branchesMissed) rateOf(t.branchesMissed, rate(cpu, E::kBranchMisses), "branch misses" + at);
    if (t.l2Hits) rateOf(t.l2Hits, rate(cpu, E::kL2Hits), "L2 hits" + at);
    if (t.l2HitsModified) rateOf(t.l2HitsModified, rate(cpu, E::kL3ModifiedHits), "modified hits" + at);
    if (t.l3UnsharedHits) rateOf(t.l3UnsharedHits, rate(cpu, E::kL3UnsharedHits), "unshared hits" + at);
    if (t.l2Requests) rateOf(t.l2Requests, rate(cpu, E::kL2Requests), "L2 requests" + at);
    if (t.l2Misses) rateOf(t.l2Misses, rate(cpu, E::kL2Misses), "L2 misses" + at);
    if (t.l2FillWriteback) rateOf(t.l2FillWriteback, rate(cpu, E::kL2FillWriteback), "fill/writeback" + at);
    // The northbridge counts the whole node.
    if (t.l3Requests) {
      rateOf(t.l3Requests, m_machine.truePackageRate(m_packageIndex, E::kL3Requests) / 1e6, "L3 requests");
      rateOf(t.l3Misses, m_machine.truePackageRate(m_packageIndex, E::kL3Misses) / 1e6, "L3 misses (node)");
    } else if (t.l3Misses) {
      rateOf(t.l3Misses, rate(cpu, E::kL3Misses), "L3 misses" + at);
    }
  }

  // Cache figures of some processors by the program's formulas on true rates.
  struct Cache {
    double l2Hit = 0, l2Miss = 0, l3Hit = 0, l3Miss = 0;
  };
  template <typename Range>
  Cache cacheOf(const Range& threads) const {
    Cache c;
    for (const LogicalProcessorRecord* t : threads) {
      int cpu = cpuOf(*t);
      if (t->l2Hits && t->l3Misses && t->l2HitsModified) {  // Intel load events
        double h = rate(cpu, E::kL3ModifiedHits) + rate(cpu, E::kL3UnsharedHits);
        c.l2Hit += rate(cpu, E::kL2Hits);
        c.l2Miss += h + rate(cpu, E::kL3Misses);
        c.l3Hit += h;
        c.l3Miss += rate(cpu, E::kL3Misses);
      }
      if (t->l2Requests && t->l2Misses) {  // AMD and Atom
        c.l2Hit += rate(cpu, E::kL2Requests) - rate(cpu, E::kL2Misses);
        if (t->l2FillWriteback) c.l2Hit += rate(cpu, E::kL2FillWriteback);
        c.l2Miss += rate(cpu, E::kL2Misses);
      }
      if (t->l3Requests) {
        double requests = m_machine.truePackageRate(m_packageIndex, E::kL3Requests) / 1e6;
        double misses = m_machine.truePackageRate(m_packageIndex, E::kL3Misses) / 1e6;
        c.l3Hit += requests - misses;
        c.l3Miss += misses;
      }
    }
    return c;
  }

  void checkCore(const CoreRecord& core) {
    const std::string at = " of core " + std::to_string(core.coreId);
    Cache c = cacheOf(core.threads);
    double instructions = sum(core.threads, E::kInstructions);
    if (core.l2HitRate) percent(core.l2HitRate, c.l2Hit * 100.0 / (c.l2Hit + c.l2Miss), "L2 hit rate" + at);
    if (core.l2RequestRate) {
      near(core.l2RequestRate, (c.l2Hit + c.l2Miss) * 100.0 / instructions, 0.01, "L2 request rate" + at);
    }
    if (core.l3HitRate) percent(core.l3HitRate, c.l3Hit * 100.0 / (c.l3Hit + c.l3Miss), "L3 hit rate" + at);
    double branches = sum(core.threads, E::kBranches);
    double missed = sum(core.threads, E::kBranchMisses);
    if (core.branchHitRate) percent(core.branchHitRate, (branches - missed) * 100.0 / branches, "branch hits" + at);
    if (core.branchInstructionRate) {
      near(core.branchInstructionRate, branches * 100.0 / instructions, 0.1, "branch share" + at);
    }
    if (core.temperature) {
      near(core.temperature, shownTemperature(core.coreId), 0.0, "temperature" + at);
    }
  }

  // The Atom's sensor counts down from its TjMax of 90 while the program,
  // without MSR 0x1A2, assumes 100: it shows 10 degrees too much.
  double shownTemperature(int coreId) const {
    double truth = m_machine.trueTemperature(m_packageIndex, coreId);
    if (classifyProcessor(m_package.processorCode) == ModelGroup::Intel_FSB) {
      truth += 100 - m_machine.config().model.part.tjMax;
    }
    return truth;
  }

  double power(sim::SimPowerDomain domain) const { return m_machine.truePower(m_packageIndex, domain); }

  void checkPackage() {
    const CProcessor_2& p = m_package;
    std::vector<const LogicalProcessorRecord*> all;
    for (const LogicalProcessorRecord& t : p.threads) all.push_back(&t);
    double instructions = sum(all, E::kInstructions);
    double cycles = sum(all, E::kUnhaltedCycles);
    double meanLoad = sum(all, E::kReferenceCycles) / (m_machine.tscMhz() * all.size());
    if (p.usageSummary) percent(p.usageSummary, meanLoad * 100.0, "package usage");
    if (dynamic_cast<const KernelFrequencyCounter*>(p.threads[0].coreCycles)) {
      rateOf(p.coreCyclesSummary, m_machine.trueClockMhz(cpuOf(p.threads[0])), "clock 0");
    } else if (p.coreCyclesSummary) {
      rateOf(p.coreCyclesSummary, rate(cpuOf(p.threads[0]), E::kUnhaltedCycles), "MHz 0");
    }
    if (p.mipsSummary) rateOf(p.mipsSummary, instructions / 1000.0, "GIPS");
    if (p.ipcSummary) rateOf(p.ipcSummary, instructions / cycles, "package IPC");
    if (p.cpiSummary) rateOf(p.cpiSummary, cycles / instructions, "package CPI");
    if (p.stallRatioSummary) {
      percent(p.stallRatioSummary, sum(all, E::kStalledCycles) * 100.0 / cycles, "package stall ratio");
    }
    Cache c = cacheOf(all);
    if (p.l2HitRateSummary) percent(p.l2HitRateSummary, c.l2Hit * 100 / (c.l2Hit + c.l2Miss), "package L2");
    if (p.l2RequestRateSummary) {
      percent(p.l2RequestRateSummary, (c.l2Hit + c.l2Miss) * 100 / instructions, "package L2 requests");
    }
    if (p.l3HitRateSummary) percent(p.l3HitRateSummary, c.l3Hit * 100 / (c.l3Hit + c.l3Miss), "package L3");
    if (p.l3RequestRateSummary) {
      percent(p.l3RequestRateSummary, (c.l3Hit + c.l3Miss) * 100 / instructions, "package L3 requests");
    }
    double branches = sum(all, E::kBranches);
    if (p.branchHitRateSummary) {
      percent(p.branchHitRateSummary, (branches - sum(all, E::kBranchMisses)) * 100 / branches, "branch hits");
    }
    if (p.branchInstructionRateSummary) {
      percent(p.branchInstructionRateSummary, branches * 100 / instructions, "branch share");
    }
    if (p.temperatureSummary) {
      bool coreZero = p.temperatureSummary->name == "温度 (核心 0)";
      double truth = coreZero ? shownTemperature(p.cores[0].coreId) : m_machine.trueTemperature(m_packageIndex);
      near(p.temperatureSummary, truth, 0.0, "package temperature");
    }
    checkPower();
    if (p.ipwSummary) {
      double watts = p.corePower ? power(sim::SimPowerDomain::kCores) : power(sim::SimPowerDomain::kPackage);
      rateOf(p.ipwSummary, instructions / watts, "IPW");
    }
  }

  // Watts, within what each source's register resolution allows.
  void checkPower() {
    using D = sim::SimPowerDomain;
    const CProcessor_2& p = m_package;
    switch (classifyProcessor(p.processorCode)) {
      case ModelGroup::AMD_BD:  // 0.1 W steps above the base
        near(p.packagePower, power(D::kPackage), 0.051, "package power");
        return;
      case ModelGroup::AMD_TN: {  // a share of 255 of the current scale
        double coreStep = 100.0 / 255 * 1.30;
        double uncoreStep = 40.0 / 255 * 1.10;
        near(p.corePower, power(D::kCores), coreStep / 2, "core power");
        near(p.uncorePower, power(D::kPackage) - power(D::kCores), uncoreStep / 2, "uncore power");
        near(p.packagePower, power(D::kPackage), (coreStep + uncoreStep) / 2, "package power");
        return;
      }
      case ModelGroup::AMD_KV:  // 1/256 W
        near(p.packagePower, power(D::kPackage), 1.0 / 256, "package power");
        near(p.graphicsPower, power(D::kGraphics), 1.0 / 256, "graphics power");
        return;
      default: break;
    }
    if (p.packagePower) rateOf(p.packagePower, power(D::kPackage), "package power");
    if (p.corePower) rateOf(p.corePower, power(D::kCores), "core power");
    if (p.graphicsPower) rateOf(p.graphicsPower, power(D::kGraphics), "graphics power");
    if (p.dramPower) rateOf(p.dramPower, power(D::kDram), "DRAM power");
    if (p.uncorePower) near(p.uncorePower, power(D::kUncore), power(D::kPackage) * kRate, "uncore power");
  }

  sim::SimMachine& m_machine;
  const CProcessor_2& m_package;
  int32_t m_packageIndex;
  int32_t m_checked = 0;
};

}  // namespace tv2::testing
