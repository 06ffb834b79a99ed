#pragma once

#include <cstdint>

#include "counters/AMD_Counter.h"

namespace tv2 {

// Core power of family 15h models 10h-1Fh, from the current and voltage the
// northbridge reports (0:18.5 0x158), scaled by the management unit's current
// scale. The uncore variant reads 0x15C and the scale's high half.
class AMD_TN_PowerCounter : public AMD_Counter {
 public:
  AMD_TN_PowerCounter(int32_t index, CKMDriver* driverClient, Platform* platform)
      : AMD_TN_PowerCounter(index, driverClient, platform, false) {}
  double Read() override;

  int32_t smuEnabled = -1;    // probed once
  int32_t currentScale = -1;  // probed once

 protected:
  AMD_TN_PowerCounter(int32_t index, CKMDriver* driverClient, Platform* platform, bool uncore)
      : AMD_Counter(index, driverClient, platform), m_uncore(uncore) {}

 private:
  const bool m_uncore;
};

}  // namespace tv2
