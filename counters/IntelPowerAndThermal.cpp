#include "counters/Intel_SNB_PowerCounter.h"
#include "counters/Intel_SNB_TemperatureCounter.h"
#include "hw/CKMDriver.h"
#include "hw/CTimer.h"

namespace tv2 {
namespace {
constexpr uint32_t kMsrRaplPowerUnit = 0x606;
}  // namespace

Intel_SNB_TemperatureCounter::Intel_SNB_TemperatureCounter(int32_t index, uint32_t statusRegisterNumber,
                                                           float tjMaxDegrees, CKMDriver* driverClient)
    : CCounter(index), tjMax(tjMaxDegrees), statusRegister(statusRegisterNumber), m_driver(driverClient) {}

double Intel_SNB_TemperatureCounter::Read() {
  uint32_t high = 0;
  uint32_t low = 0;
  if (m_driver == nullptr || !m_driver->ReadMsr(statusRegister, &high, &low)) return -1.0;
  return static_cast<double>((low >> 16) & 0x7F);
}

void Intel_SNB_TemperatureCounter::Update(CTimer* /*timer*/) {
  double readout = Read();
  if (readout <= 0) return;
  currentRaw = readout;
  float degrees = tjMax - static_cast<float>(readout);
  value = degrees;
  if (degrees >= 0) Push(degrees);
}

Intel_SNB_PowerCounter::Intel_SNB_PowerCounter(int32_t index, CKMDriver* driverClient)
    : CCounter(index), m_driver(driverClient) {}

double Intel_SNB_PowerCounter::Read() {
  uint32_t high = 0;
  uint32_t low = 0;
  if (m_driver == nullptr || !m_driver->ReadMsr(energyRegister, &high, &low)) return -1.0;
  return static_cast<double>(low);
}

void Intel_SNB_PowerCounter::Update(CTimer* timer) {
  previousRaw = currentRaw.load();
  double raw = Read();
  currentRaw = raw;
  if (raw <= 0) return;
  if (energyUnit < 0) {
    uint32_t high = 0;
    uint32_t low = 0;
    if (m_driver->ReadMsr(kMsrRaplPowerUnit, &high, &low)) {
      energyUnit = 1.0 / static_cast<double>(uint64_t{1} << ((low >> 8) & 0x1F));
    }
  }
  previousTime = sampleTime;
  sampleTime = timer->now;
  double previous = previousRaw;
  if (previous <= 0) return;
  auto elapsed = static_cast<float>(sampleTime - previousTime);
  if (elapsed <= 0) return;
  // Without a known energy unit there is no figure yet (it stays -1 until the
  // unit register can be read), rather than a negative wattage.
  if (energyUnit < 0) return;
  // The energy count is 32 bits wide and wraps (every 65536 J at the usual
  // unit: about 11 minutes at 95 W); a count below the previous one has
  // wrapped once, as the register cannot be reset.
  double counts = raw - previous;
  if (counts < 0) counts += 4294967296.0;
  float watts = static_cast<float>(counts) / elapsed * static_cast<float>(timer->frequency * energyUnit);
  value = watts;
  if (watts >= 0) Push(watts);
}

}  // namespace tv2
