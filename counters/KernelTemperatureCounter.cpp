#include "counters/KernelTemperatureCounter.h"

#include "platform/KernelCounterService.h"

namespace tv2 {
namespace {
constexpr double kNoReading = -1000000.0;
}

KernelTemperatureCounter::KernelTemperatureCounter(int32_t index, KernelCounterService* service, int32_t sensor)
    : KernelLevelCounter(index, kNoReading), m_service(service), m_sensor(sensor) {}

double KernelTemperatureCounter::Read() {
  int32_t milliCelsius = 0;
  if (m_service == nullptr || !m_service->readTemperature(m_sensor, &milliCelsius)) return kNoReading;
  return static_cast<double>(milliCelsius);
}

}  // namespace tv2
