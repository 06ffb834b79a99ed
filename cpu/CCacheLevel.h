#pragma once

#include <cstdint>

namespace tv2 {

// One cache level of a package as CPUID describes it.
class CCacheLevel {
 public:
  CCacheLevel(int32_t instances, int32_t cacheLevel, int32_t cacheType, int32_t sizeInKB)
      : instanceCount(instances), level(cacheLevel), type(cacheType), sizeKB(sizeInKB) {}
  virtual ~CCacheLevel() = default;

  int32_t instanceCount;  // caches of this kind in the package
  int32_t level;          // 1 to 3
  int32_t type;           // 1 data, 2 instruction, 3 unified
  int32_t sizeKB;         // one instance
};

}  // namespace tv2
