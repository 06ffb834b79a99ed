#pragma once

#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"

namespace tv2 {

class CKMDriver;
class ProcessorService;

// Fills in what CPUID alone cannot give, per package: base and turbo
// multipliers and clocks, the thermal design power, and monitoring details a
// BIOS setting hid from CPUID. Runs once at start-up after discovery, on the
// user-interface thread, with the driver lock held; pins the thread to each
// package's first logical processor and puts the affinity back afterwards.
// A failed read leaves the fields at their "not available" values.
void ReadProcessorCapabilities(CKMDriver& driver, ProcessorService& processors, bool groupMode,
                               CTList<CProcessor_2>& packages);

}  // namespace tv2
