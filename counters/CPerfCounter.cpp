#include "counters/CPerfCounter.h"

#include "hw/CKMDriver.h"
#include "hw/CTimer.h"

namespace tv2 {

CPerfCounter::CPerfCounter(int32_t index, uint32_t registerNumber, CKMDriver* driverClient)
    : CCounter(index), counterRegister(registerNumber), m_driver(driverClient) {}

double CPerfCounter::Read() {
  uint32_t high = 0;
  uint32_t low = 0;
  if (m_driver == nullptr || !m_driver->ReadMsr(counterRegister, &high, &low)) return -1.0;
  return static_cast<double>(high) * 4294967296.0 + static_cast<double>(low);
}

void CPerfCounter::Update(CTimer* timer) {
  previousRaw = currentRaw.load();
  double raw = Read();
  currentRaw = raw;
  if (raw <= 0) return;
  previousTime = sampleTime;
  sampleTime = timer->now;
  double previous = previousRaw;
  if (previous <= 0) return;
  // A count that went backwards was reset by someone else (these registers
  // are 48 bits or wider and do not wrap in a program's lifetime): no figure
  // for this interval rather than a negative rate; the next one counts from
  // the new reading.
  if (raw < previous) return;
  rawDelta = raw - previous;
  // The interval is taken in single precision; one wrap of the timer between
  // the two samples is corrected.
  auto elapsed = static_cast<float>(sampleTime - previousTime);
  if (elapsed < 0) elapsed += static_cast<float>(timer->wrapLength);
  if (elapsed <= 0) return;
  float rate = static_cast<float>(raw - previous) / elapsed * static_cast<float>(timer->frequency / 1000000.0);
  value = rate;
  Push(rate);
}

}  // namespace tv2
