#pragma once

#include "counters/AMD_TN_PowerCounter.h"

namespace tv2 {

// Uncore power of family 15h models 10h-1Fh (0:18.5 0x15C, the high half of
// the management unit's current scale).
class AMD_TNU_PowerCounter : public AMD_TN_PowerCounter {
 public:
  AMD_TNU_PowerCounter(int32_t index, CKMDriver* driverClient, Platform* platform)
      : AMD_TN_PowerCounter(index, driverClient, platform, true) {}
};

}  // namespace tv2
