#pragma once

#include <string>

#include "counters/KernelCatalogue.h"
#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"
#include "platform/KernelCounterService.h"

namespace tv2 {

// The choice of counter source at start-up. Every package the register
// tables do not list counts through the kernel's interfaces when the system
// has them (kernelCounters set); listed packages keep the registers. Each
// logical processor also learns its core type from its core PMU. Runs on the
// user-interface thread after discovery, before any counter is built.
void ChooseCounterSources(CTList<CProcessor_2>& processors, const KernelCounterInventory* inventory);

// Why kernel-backed packages count no events, in one line for the user
// (what is blocked and why: the kernel's paranoid level and what it asks,
// the system host's group, no hardware counters, or the kernel's refusal);
// empty when they count or no package is kernel-backed.
std::string KernelCountersNotice(const KernelCounterInventory& inventory, const KernelOpenSummary& summary);

}  // namespace tv2
