#pragma once

#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ProcessorGroups.h"

namespace tv2 {

class ProcessorService;

// Enumerates every logical processor the system offers, runs CPUID on each
// (pinned there), splits the initial APIC ids into package, core and thread
// identifiers and builds one CProcessor_2 per package, in order of first
// appearance. Fills the group table too. Runs on the user-interface thread
// before any sampler exists; moves the calling thread (or, without processor
// groups, the process) between processors while it works and puts the
// affinity back at the end. A processor that cannot be pinned is left out.
void DetectProcessors(ProcessorService& service, CTList<CProcessor_2>& processors,
                      ProcessorGroups& groups);

// The number of bits needed to number n values: the smallest p with 2^p >= n.
int bitsFor(uint32_t n);

}  // namespace tv2
