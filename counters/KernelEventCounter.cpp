#include "counters/KernelEventCounter.h"

#include "counters/KernelGroupCounter.h"

namespace tv2 {

KernelEventCounter::KernelEventCounter(int32_t index, const KernelGroupCounter* group, int32_t slot)
    : CCounter(index), m_group(group), m_slot(slot) {}

double KernelEventCounter::Read() { return m_group->lastCount(m_slot); }

void KernelEventCounter::Update(CTimer* /*timer*/) {
  double count = 0;
  if (!m_group->countDelta(m_slot, &count)) return;
  previousRaw = currentRaw.load();
  currentRaw = Read();
  rawDelta = count;
  // Counts per ns times 1000: millions per second.
  auto rate = static_cast<float>(count * 1000.0 / m_group->runningDelta());
  value = rate;
  Push(rate);
}

}  // namespace tv2
