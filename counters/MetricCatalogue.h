#pragma once

#include <cstdint>

#include "counters/CounterBuildContext.h"

namespace tv2 {

class CProcessor_2;

// The building steps of a package's counter lists, in the order a build runs
// them: fixed counters, the configuration's event counters and the AMD
// northbridge counters (only when a configuration is given), then always the
// power and temperature counters and the derived metrics. Every counter added
// takes the package's running counter index, so indices follow building
// order; every metric slot it fills points into a list that owns the counter.
//
// All run on the user-interface thread. The caller holds the package's
// countersLock exclusively and, when the driver can be used, the driver lock.
// The fixed, event and temperature steps pin the thread to each logical
// processor (or core) in turn and put its affinity back; a processor that
// cannot be pinned gets none of that step's counters. Each returns false only
// when the context lacks what the step needs to run at all.

// Intel groups: enables and adds the three fixed counters of every logical
// processor (instructions, core cycles, reference cycles).
bool AddFixedCounters(CProcessor_2& processor, const CounterBuildContext& context);
// Programs and adds the event counters of configuration number
// configurationIndex (the configuration's index), plus the AMD rows that
// every configuration has.
bool AddEventCounters(CProcessor_2& processor, const CounterBuildContext& context, int32_t configurationIndex);
// AMD_BD: the two northbridge counters (L3 requests and misses), programmed
// without pinning and filed with the first logical processor.
bool AddNorthbridgeCounters(CProcessor_2& processor, const CounterBuildContext& context);
// Temperatures and power by class (PowerAndThermalCatalogue.cpp).
bool AddPowerAndThermalCounters(CProcessor_2& processor, const CounterBuildContext& context);
// Time, usage and time-stamp counters of every logical processor and the
// figures the derived pass computes, each where its inputs exist.
bool AddDerivedMetrics(CProcessor_2& processor, const CounterBuildContext& context);

}  // namespace tv2
