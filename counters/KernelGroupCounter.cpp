#include "counters/KernelGroupCounter.h"

#include <utility>

namespace tv2 {

KernelGroupCounter::KernelGroupCounter(int32_t index, std::unique_ptr<KernelEventGroup> group, int32_t eventCount)
    : CCounter(index), m_group(std::move(group)), m_eventCount(eventCount) {}

double KernelGroupCounter::Read() {
  m_readOk = m_group != nullptr && m_group->read(&m_current) && m_current.count == m_eventCount;
  return m_readOk ? static_cast<double>(m_current.timeEnabled) : -1.0;
}

void KernelGroupCounter::Update(CTimer* /*timer*/) {
  m_fresh = false;
  // A failed read keeps the last good reading: the next one that works
  // measures the whole longer interval, and the rates stay right because
  // they divide by the time that passed between those two readings.
  if (Read() < 0) return;
  previousRaw = currentRaw.load();
  currentRaw = static_cast<double>(m_current.timeEnabled);
  if (m_haveLast && m_current.timeEnabled >= m_last.timeEnabled && m_current.timeRunning >= m_last.timeRunning) {
    m_enabledDelta = static_cast<double>(m_current.timeEnabled - m_last.timeEnabled);
    m_runningDelta = static_cast<double>(m_current.timeRunning - m_last.timeRunning);
    // Never on the hardware in this interval (another user held every
    // counter): nothing was counted, and no rate can be scaled from it.
    m_fresh = m_runningDelta > 0 && m_enabledDelta > 0;
    if (m_fresh) {
      rawDelta = m_enabledDelta;
      float share = static_cast<float>(m_runningDelta * 100.0 / m_enabledDelta);
      if (share > 100.0f) share = 100.0f;
      value = share;
      Push(share);
    }
  }
  m_before = m_last;
  m_last = m_current;
  m_haveLast = true;
}

bool KernelGroupCounter::countDelta(int32_t slot, double* count) const {
  if (!m_fresh || slot < 0 || slot >= m_eventCount) return false;
  uint64_t now = m_last.values[static_cast<size_t>(slot)];
  uint64_t before = m_before.values[static_cast<size_t>(slot)];
  if (now < before) return false;
  *count = static_cast<double>(now - before);
  return true;
}

double KernelGroupCounter::lastCount(int32_t slot) const {
  if (!m_haveLast || slot < 0 || slot >= m_eventCount) return -1.0;
  return static_cast<double>(m_last.values[static_cast<size_t>(slot)]);
}

}  // namespace tv2
