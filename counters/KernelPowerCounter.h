#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

class KernelGroupCounter;

// One rail of a package's energy group (the kernel's power PMU) in watts:
// the count's difference times the joules one count stands for, over the
// time the group was enabled (energy counters are free-running and never
// shared, so enabled is the interval). No figure for a pass whose group
// reading did not work.
//
// Threads: as KernelEventCounter, on the sampler of the package's first
// logical processor.
class KernelPowerCounter : public CCounter {
 public:
  KernelPowerCounter(int32_t index, const KernelGroupCounter* group, int32_t slot, double joulesPerCount);

  double Read() override;
  void Update(CTimer* timer) override;

 private:
  const KernelGroupCounter* m_group;
  const int32_t m_slot;
  const double m_joulesPerCount;
};

}  // namespace tv2
