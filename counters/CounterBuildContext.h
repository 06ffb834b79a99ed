#pragma once

namespace tv2 {

class CKMDriver;
class KernelCounterService;
class Platform;
struct KernelCounterInventory;

// What the building steps of the catalogue need besides the processor record:
// the driver client the hardware counters read through, the platform (its
// processor service pins the building thread, the AMD management-unit
// counters sleep through it) and how pinning works on this system. Neither
// pointer is owned; both outlive every counter built with them.
struct CounterBuildContext {
  CKMDriver* driver = nullptr;
  Platform* platform = nullptr;
  // Pinning through the thread's group affinity (true) or the process
  // affinity mask (false), as discovery decided.
  bool groupMode = false;
  // The kernel's counters and what they offer, for the packages the
  // register tables do not list; null where the system has none. Neither is
  // owned; both outlive every counter built with them.
  KernelCounterService* kernel = nullptr;
  const KernelCounterInventory* kernelInventory = nullptr;
};

}  // namespace tv2
