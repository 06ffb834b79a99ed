#include "counters/KernelEnergyCounter.h"

#include "platform/KernelCounterService.h"

namespace tv2 {

KernelEnergyCounter::KernelEnergyCounter(int32_t index, KernelCounterService* service, int32_t zone,
                                         uint64_t maxRangeMicrojoules)
    : CCounter(index), m_service(service), m_zone(zone), m_range(maxRangeMicrojoules) {}

double KernelEnergyCounter::Read() {
  if (m_service == nullptr || !m_service->readEnergy(m_zone, &m_readCount, &m_readTime)) return -1.0;
  return static_cast<double>(m_readCount);
}

void KernelEnergyCounter::Update(CTimer* /*timer*/) {
  if (Read() < 0) return;
  previousRaw = currentRaw.load();
  currentRaw = static_cast<double>(m_readCount);
  if (!m_haveLast) {
    m_lastCount = m_readCount;
    m_lastTime = m_readTime;
    m_haveLast = true;
    return;
  }
  // A reading whose time did not move on is left out: the next one measures
  // from the older one.
  if (m_readTime <= m_lastTime) return;
  const uint64_t elapsed = m_readTime - m_lastTime;
  bool usable = true;
  uint64_t energy = 0;
  if (m_readCount >= m_lastCount) {
    energy = m_readCount - m_lastCount;
  } else if (m_range > 0 && m_lastCount <= m_range) {
    energy = m_range - m_lastCount + m_readCount;
  } else {
    usable = false;  // went down without a known range: no figure, count on from here
  }
  m_lastCount = m_readCount;
  m_lastTime = m_readTime;
  if (!usable) return;
  rawDelta = static_cast<double>(energy);
  // Microjoules per ns times 1000 is watts.
  auto watts = static_cast<float>(static_cast<double>(energy) * 1000.0 / static_cast<double>(elapsed));
  value = watts;
  Push(watts);
}

}  // namespace tv2
