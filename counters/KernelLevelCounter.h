#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

// A level the kernel reports in thousandths of the unit shown (cpufreq's kHz
// for MHz, hwmon's millidegrees for degrees), read once per pass: each
// reading above the floor becomes the figure and a history point; one at or
// below it gives no figure and keeps the last one shown.
//
// Threads: Update runs on the sampler of the logical processor whose list
// holds the counter.
class KernelLevelCounter : public CCounter {
 public:
  // noReadingFloor: Read() answers at or below it when there is no reading.
  KernelLevelCounter(int32_t index, double noReadingFloor);

  void Update(CTimer* timer) override;

 private:
  const double m_noReadingFloor;
};

}  // namespace tv2
