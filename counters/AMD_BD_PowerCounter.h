#pragma once

#include <cstdint>

#include "counters/AMD_Counter.h"

namespace tv2 {

// Package power of family 15h models 00h-0Fh: the processor's TDP as base
// plus the northbridge's reported power above it.
class AMD_BD_PowerCounter : public AMD_Counter {
 public:
  using AMD_Counter::AMD_Counter;
  double Read() override;

  int32_t basePower = -1;  // watts, learnt once
};

}  // namespace tv2
