#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "cpu/LogicalProcessorRecord.h"

namespace tv2 {

inline constexpr int kMaxGroups = 64;
inline constexpr int kMaxProcessorsPerGroup = 64;

// One processor group as discovery found it.
struct GroupEntry {
  int32_t count = 0;   // usable logical processors of the group
  uint64_t mask = 0;   // their bits within the group
  // The group's logical processors in group order, pointing into the packages'
  // threads arrays.
  std::vector<LogicalProcessorRecord*> processors;
};

// The processor groups of the machine. Written by discovery on the
// user-interface thread before the samplers start; read-only afterwards.
struct ProcessorGroups {
  int32_t groupCount = 0;
  std::array<GroupEntry, kMaxGroups> groups;
  int32_t logicalProcessorCount = 0;
  // True when pinning goes through the thread's group affinity; false when the
  // system has no group functions and the process affinity mask is used.
  bool groupMode = false;
};

}  // namespace tv2
