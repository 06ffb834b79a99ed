#include "counters/KernelFrequencyCounter.h"

#include "platform/KernelCounterService.h"

namespace tv2 {

KernelFrequencyCounter::KernelFrequencyCounter(int32_t index, KernelCounterService* service, int32_t group,
                                               int32_t processorIndex)
    : CCounter(index), m_service(service), m_group(group), m_processorIndex(processorIndex) {}

double KernelFrequencyCounter::Read() {
  uint32_t kiloHertz = 0;
  if (m_service == nullptr || !m_service->readFrequency(m_group, m_processorIndex, &kiloHertz) || kiloHertz == 0) {
    return -1.0;
  }
  return static_cast<double>(kiloHertz);
}

void KernelFrequencyCounter::Update(CTimer* /*timer*/) {
  double raw = Read();
  if (raw <= 0) return;
  previousRaw = currentRaw.load();
  currentRaw = raw;
  auto megaHertz = static_cast<float>(raw / 1000.0);
  value = megaHertz;
  Push(megaHertz);
}

}  // namespace tv2
