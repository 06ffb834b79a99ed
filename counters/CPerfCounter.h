#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

class CKMDriver;

// A counter backed by one 64-bit model-specific register of one logical
// processor (a fixed or general performance counter, an AMD core or
// northbridge counter, or the time-stamp counter). Two successive readings
// and the platform timer give a rate in millions of events per second, so
// cycle counters read in MHz and instruction counters in MIPS.
//
// Read and Update run on the counter sampler bound to the counter's logical
// processor, under the driver lock; the sample times below are that thread's.
class CPerfCounter : public CCounter {
 public:
  CPerfCounter(int32_t index, uint32_t registerNumber, CKMDriver* driverClient);

  // The register's 64-bit count as a double; -1 when the read fails.
  double Read() override;
  void Update(CTimer* timer) override;

  double previousTime = 0.0;
  double sampleTime = 0.0;
  uint32_t counterRegister;

 private:
  CKMDriver* m_driver;
};

}  // namespace tv2
