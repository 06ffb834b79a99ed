#pragma once

#include "counters/AMD_KV_PowerCounter.h"

namespace tv2 {

// Graphics power of family 15h model 30h and family 16h.
class AMD_KVG_PowerCounter : public AMD_KV_PowerCounter {
 public:
  AMD_KVG_PowerCounter(int32_t index, CKMDriver* driverClient, Platform* platform)
      : AMD_KV_PowerCounter(index, driverClient, platform, 0x3FE2C) {}
};

}  // namespace tv2
