#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

class CKMDriver;

// Power in watts from a running-average-power-limit energy register: the
// energy count's growth over the timer interval, times the energy unit.
//
// Threads: energyUnit and the sample times are written and read only by the
// counter sampler of core 0's first logical processor, under the driver lock;
// energyRegister is set while the lists are built, before any sampler sees it.
class Intel_SNB_PowerCounter : public CCounter {
 public:
  Intel_SNB_PowerCounter(int32_t index, CKMDriver* driverClient);

  // The low half as an unsigned 32-bit count; -1 on failure.
  double Read() override;
  void Update(CTimer* timer) override;

  double energyUnit = -1.0;  // joules per count, learnt on the first sample that can
  double previousTime = 0.0;
  double sampleTime = 0.0;
  uint32_t energyRegister = 0;

 private:
  CKMDriver* m_driver;
};

}  // namespace tv2
