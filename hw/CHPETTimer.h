#pragma once

#include "hw/CTimer.h"

namespace tv2 {

// The high-precision event timer: a memory-mapped 64-bit main counter.
class CHPETTimer : public CTimer {
 public:
  // Before the counter period is read from the capabilities register.
  static constexpr double kDefaultFrequency = 14318620.0;
  static constexpr double kWrapLength = 18446744073709551616.0;  // 2^64

  CHPETTimer(CKMDriver* driverClient, int32_t physicalBase);
  // high × 2^32 + low of the main counter, the high half read first; -1 on
  // failure (now is then -1 too).
  double ReadTicks() override;
};

}  // namespace tv2
