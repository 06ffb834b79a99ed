#pragma once

#include <cstdint>

#include "counters/model/CCounter.h"

namespace tv2 {

class CKMDriver;

// A core or package temperature from the digital thermal sensor: the status
// register gives the distance below TjMax in degrees. tjMax and
// statusRegister are fixed when the lists are built; Update runs on the
// sampler of the core's first logical processor under the driver lock.
class Intel_SNB_TemperatureCounter : public CCounter {
 public:
  Intel_SNB_TemperatureCounter(int32_t index, uint32_t statusRegisterNumber, float tjMaxDegrees,
                               CKMDriver* driverClient);

  // Bits 22:16 of the status register's low half; -1 on failure.
  double Read() override;
  // A level: one positive reading records a point (0, exactly at the limit,
  // records nothing).
  void Update(CTimer* timer) override;

  float tjMax;
  uint32_t statusRegister;

 private:
  CKMDriver* m_driver;
};

}  // namespace tv2
