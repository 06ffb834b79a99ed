#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

class KernelCounterService;

// One powercap zone's running energy count (microjoules) in watts: the
// difference of two readings over the monotonic time between them. The count
// wraps to 0 past the zone's range, so a reading below the previous one adds
// the range (one wrap takes minutes even at full power, far longer than a
// pass); without a known range it gives no figure.
//
// Threads: Update runs on the sampler of the package's first logical
// processor; the service may be called from any thread.
class KernelEnergyCounter : public CCounter {
 public:
  KernelEnergyCounter(int32_t index, KernelCounterService* service, int32_t zone, uint64_t maxRangeMicrojoules);

  // The zone's count in microjoules; -1 when it cannot be read.
  double Read() override;
  void Update(CTimer* timer) override;

 private:
  KernelCounterService* m_service;
  const int32_t m_zone;
  const uint64_t m_range;
  uint64_t m_lastCount = 0;
  uint64_t m_lastTime = 0;
  bool m_haveLast = false;
  uint64_t m_readTime = 0;  // the time of the latest Read
  uint64_t m_readCount = 0;
};

}  // namespace tv2
