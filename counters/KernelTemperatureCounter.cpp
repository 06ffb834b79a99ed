#include "counters/KernelTemperatureCounter.h"

#include "platform/KernelCounterService.h"

namespace tv2 {
namespace {
constexpr double kNoReading = -1000000.0;
}

KernelTemperatureCounter::KernelTemperatureCounter(int32_t index, KernelCounterService* service, int32_t sensor)
    : CCounter(index), m_service(service), m_sensor(sensor) {}

double KernelTemperatureCounter::Read() {
  int32_t milliCelsius = 0;
  if (m_service == nullptr || !m_service->readTemperature(m_sensor, &milliCelsius)) return kNoReading;
  return static_cast<double>(milliCelsius);
}

void KernelTemperatureCounter::Update(CTimer* /*timer*/) {
  double raw = Read();
  if (raw <= kNoReading) return;
  previousRaw = currentRaw.load();
  currentRaw = raw;
  auto celsius = static_cast<float>(raw / 1000.0);
  value = celsius;
  Push(celsius);
}

}  // namespace tv2
