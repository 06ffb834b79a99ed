#pragma once

namespace tv2 {

class CProcessor_2;

// The derived-metric pass over one package: usage, IPC, CPI and stall ratio
// per logical processor, cache and branch rates per core, and the package's
// summaries (usage, MIPS, IPC, CPI, IPW, stall ratio, cache and branch rates,
// the computed power rails) from the latest values of its raw counters. Every
// figure it sets is recorded as a point at the current sample clock; a figure
// whose inputs are missing or not positive keeps its value and gets no point.
//
// Runs on the user-interface thread every 300 ms of sample clock while the
// caller holds the package's countersLock shared. It reads the raw counters'
// values (relaxed atomics a sampler may be writing at that moment) and writes
// only derived counters, which nothing else writes. Allocates nothing.
// Always succeeds.
bool ComputeDerivedMetrics(CProcessor_2& processor);

}  // namespace tv2
