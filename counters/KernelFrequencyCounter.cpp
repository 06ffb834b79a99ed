#include "counters/KernelFrequencyCounter.h"

#include "platform/KernelCounterService.h"

namespace tv2 {

KernelFrequencyCounter::KernelFrequencyCounter(int32_t index, KernelCounterService* service, int32_t group,
                                               int32_t processorIndex)
    : KernelLevelCounter(index, 0.0), m_service(service), m_group(group), m_processorIndex(processorIndex) {}

double KernelFrequencyCounter::Read() {
  uint32_t kiloHertz = 0;
  if (m_service == nullptr || !m_service->readFrequency(m_group, m_processorIndex, &kiloHertz) || kiloHertz == 0) {
    return -1.0;
  }
  return static_cast<double>(kiloHertz);
}

}  // namespace tv2
