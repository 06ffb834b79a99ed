#include "counters/KernelLevelCounter.h"

namespace tv2 {

KernelLevelCounter::KernelLevelCounter(int32_t index, double noReadingFloor)
    : CCounter(index), m_noReadingFloor(noReadingFloor) {}

void KernelLevelCounter::Update(CTimer* /*timer*/) {
  double raw = Read();
  if (raw <= m_noReadingFloor) return;
  previousRaw = currentRaw.load();
  currentRaw = raw;
  auto level = static_cast<float>(raw / 1000.0);
  value = level;
  Push(level);
}

}  // namespace tv2
