#pragma once

#include <cstdint>
#include <vector>

#include "counters/model/CCounter.h"
#include "counters/model/CTList.h"
#include "cpu/LogicalProcessorRecord.h"

namespace tv2 {

// One core of a package. Same threading rules as LogicalProcessorRecord.
struct CoreRecord {
  int32_t coreId = -1;
  int32_t threadCount = 0;
  int32_t group = -1;
  int32_t affinityMask = 0;  // bit (index mod 32) of each of the core's processors
  // The core's processors, pointing into the package's threads array.
  std::vector<LogicalProcessorRecord*> threads;
  CTList<CCounter> counters;

  CCounter* l2HitRate = nullptr;
  CCounter* l3HitRate = nullptr;
  CCounter* l2RequestRate = nullptr;
  CCounter* branchHitRate = nullptr;
  CCounter* branchInstructionRate = nullptr;
  CCounter* temperature = nullptr;

  void clearSlots();
};

}  // namespace tv2
