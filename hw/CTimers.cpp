#include "hw/CACPITimer.h"
#include "hw/CHPETTimer.h"
#include "hw/CKMDriver.h"

namespace tv2 {

CACPITimer::CACPITimer(CKMDriver* driverClient, int32_t port) : CTimer(driverClient, kFrequency, kWrapLength) {
  baseAddress = port;
}

double CACPITimer::ReadTicks() {
  uint32_t value = 0;
  if (driver == nullptr || !driver->ReadPortDword(static_cast<uint32_t>(baseAddress), &value)) return -1.0;
  now = static_cast<double>(value & 0xFFFFFF);
  return now;
}

CHPETTimer::CHPETTimer(CKMDriver* driverClient, int32_t physicalBase)
    : CTimer(driverClient, kDefaultFrequency, kWrapLength) {
  baseAddress = physicalBase;
}

double CHPETTimer::ReadTicks() {
  now = -1.0;
  if (driver == nullptr) return now;
  uint32_t high = 0;
  uint32_t low = 0;
  auto base = static_cast<uint32_t>(baseAddress);
  if (!driver->ReadPhysicalDword(0, base, 0xF4, &high)) return now;
  if (!driver->ReadPhysicalDword(0, base, 0xF0, &low)) return now;
  now = static_cast<double>(high) * 4294967296.0 + static_cast<double>(low);
  return now;
}

}  // namespace tv2
