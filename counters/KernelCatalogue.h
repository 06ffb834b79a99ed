#pragma once

#include <cstdint>
#include <string>

#include "counters/CounterBuildContext.h"

namespace tv2 {

class CProcessor_2;

// What opening one package's counting groups came to.
struct KernelOpenSummary {
  int32_t opened = 0;  // logical processors whose group opened
  int32_t failed = 0;  // those whose group the kernel refused
  std::string firstReason;  // the first refusal's one line
};

// The building steps of a package the register tables do not list, with the
// kernel's counters (context.kernel and context.kernelInventory); each
// returns false only when the context has no kernel service. They fill the
// same metric slots the register path fills, so the derived metrics step and
// pass that follow work unchanged. Nothing is pinned and no register is
// touched. Same threads and locks as the other steps (MetricCatalogue.h).

// Per logical processor, one counting group of configuration
// configurationIndex's events (KernelEventPlan) on its own core PMU, first
// in its list, then one counter per figure: instructions, cycles, reference
// cycles, LLC references and misses, branches and misses, stalled and total
// cycles. A processor whose group cannot be opened lacks them; where no
// processor may count at all, each gets cpufreq's clock in the cycles slot.
bool AddKernelEventCounters(CProcessor_2& processor, const CounterBuildContext& context,
                            int32_t configurationIndex, KernelOpenSummary* summary);
// Package power from the power PMU's energy events (one group, on the
// package's first logical processor), rail by rail else from powercap;
// package and core temperatures from hwmon.
bool AddKernelPowerAndThermalCounters(CProcessor_2& processor, const CounterBuildContext& context);

}  // namespace tv2
