#pragma once

#include <cstdint>

#include "counters/KernelLevelCounter.h"

namespace tv2 {

class KernelCounterService;

// One hwmon temperature input (coretemp's package or core sensor, k10temp's
// Tctl or Tdie) in degrees Celsius, read once per pass. Readable by every
// user. A failed read gives no figure and keeps the last one shown.
//
// Threads: Update runs on the sampler of the logical processor whose list
// holds it; the service may be called from any thread.
class KernelTemperatureCounter : public KernelLevelCounter {
 public:
  KernelTemperatureCounter(int32_t index, KernelCounterService* service, int32_t sensor);

  // Millidegrees; -1000000 stands for no reading (no sensor goes that low).
  double Read() override;

 private:
  KernelCounterService* m_service;
  const int32_t m_sensor;
};

}  // namespace tv2
