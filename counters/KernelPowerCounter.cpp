#include "counters/KernelPowerCounter.h"

#include "counters/KernelGroupCounter.h"

namespace tv2 {

KernelPowerCounter::KernelPowerCounter(int32_t index, const KernelGroupCounter* group, int32_t slot,
                                       double joulesPerCount)
    : CCounter(index), m_group(group), m_slot(slot), m_joulesPerCount(joulesPerCount) {}

double KernelPowerCounter::Read() { return m_group->lastCount(m_slot); }

void KernelPowerCounter::Update(CTimer* /*timer*/) {
  double count = 0;
  if (!m_group->countDelta(m_slot, &count)) return;
  previousRaw = currentRaw.load();
  currentRaw = Read();
  rawDelta = count;
  auto watts = static_cast<float>(count * m_joulesPerCount * 1e9 / m_group->enabledDelta());
  value = watts;
  Push(watts);
}

}  // namespace tv2
