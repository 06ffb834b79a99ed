#pragma once

#include "counters/AMD_Counter.h"

namespace tv2 {

// Package temperature from the northbridge's reported-temperature pair
// (0:18.3 0x1E8 address, 0x1EC data).
class AMD_BD_TemperatureCounter : public AMD_Counter {
 public:
  using AMD_Counter::AMD_Counter;
  // Degrees; -1 when a register cannot be reached. 0x1E8 is restored.
  double Read() override;
};

}  // namespace tv2
