#pragma once

#include <cstdint>

#include "counters/KernelLevelCounter.h"

namespace tv2 {

class KernelCounterService;

// A logical processor's current clock in MHz as cpufreq reports it to every
// user: what stands in for the unhalted clock when no cycles can be counted
// (no privilege, no hardware counters). A failed read gives no figure.
//
// Threads: Update runs on the processor's own sampler.
class KernelFrequencyCounter : public KernelLevelCounter {
 public:
  KernelFrequencyCounter(int32_t index, KernelCounterService* service, int32_t group, int32_t processorIndex);

  // kHz; -1 when there is no reading.
  double Read() override;

 private:
  KernelCounterService* m_service;
  const int32_t m_group;
  const int32_t m_processorIndex;
};

}  // namespace tv2
