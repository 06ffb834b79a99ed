#pragma once

#include "hw/CTimer.h"

namespace tv2 {

// The ACPI power-management timer: an I/O port counting at 3.579545 MHz,
// always treated as 24 bits wide.
class CACPITimer : public CTimer {
 public:
  static constexpr double kFrequency = 3579545.0;
  static constexpr double kWrapLength = 16777216.0;

  CACPITimer(CKMDriver* driverClient, int32_t port);
  // The port's low 24 bits; -1 on failure with now unchanged.
  double ReadTicks() override;
};

}  // namespace tv2
