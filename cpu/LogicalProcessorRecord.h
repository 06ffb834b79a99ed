#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"
#include "counters/model/CTList.h"
#include "platform/KernelCounterService.h"

namespace tv2 {

// One logical processor. Filled by discovery on the user-interface thread
// before any sampler exists; afterwards only the counter list and the metric
// slots change, during a counter rebuild (see CProcessor_2::countersLock).
struct LogicalProcessorRecord {
  int32_t group = -1;
  int32_t index = 0;  // processor number within the group
  int32_t apicId = -1;
  int32_t packageId = -1;
  int32_t coreId = -1;
  int32_t threadId = -1;
  int32_t computeUnitId = -1;
  int32_t logicalPerPackage = 1;
  int32_t coresPerPackage = 1;
  int32_t coresPerComputeUnit = 1;
  // The kind of core on a hybrid processor, as the kernel's core PMU tells
  // it (cpu_core: performance, cpu_atom: efficiency); unknown elsewhere.
  // Set at start-up, before any sampler exists.
  KernelCoreType coreType = KernelCoreType::kUnknown;

  // Owning list; the counter sampler bound to this processor walks it.
  CTList<CCounter> counters;

  // Metric slots: non-owning pointers into the counter lists, null when the
  // processor has no such counter.
  CCounter* instructions = nullptr;
  CCounter* coreCycles = nullptr;
  CCounter* referenceCycles = nullptr;
  CCounter* timeStamp = nullptr;
  CCounter* stalledCycles = nullptr;
  CCounter* totalCycles = nullptr;
  CCounter* stallRatio = nullptr;
  CCounter* ipc = nullptr;
  CCounter* cpi = nullptr;
  CCounter* usage = nullptr;
  CCounter* l3Misses = nullptr;
  CCounter* l3Requests = nullptr;
  CCounter* l3UnsharedHits = nullptr;
  CCounter* l2HitsModified = nullptr;
  CCounter* l2Hits = nullptr;
  CCounter* l2Misses = nullptr;
  CCounter* l2Requests = nullptr;
  CCounter* l2FillWriteback = nullptr;
  CCounter* idleTime = nullptr;
  CCounter* kernelTime = nullptr;
  CCounter* userTime = nullptr;
  CCounter* branchesRetired = nullptr;
  CCounter* branchesMissed = nullptr;

  void clearSlots();
};

}  // namespace tv2
