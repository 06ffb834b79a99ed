#include "platform/sim/SimClock.h"

#include <limits>

namespace tv2::sim {

namespace {

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

}  // namespace

SimClock::SimClock() : m_start(std::chrono::steady_clock::now()) {}

uint64_t SimClock::nowNs() const {
  std::lock_guard lock(m_mutex);
  return nowLocked();
}

bool SimClock::isManual() const {
  std::lock_guard lock(m_mutex);
  return m_manual;
}

void SimClock::useManual() {
  std::lock_guard lock(m_mutex);
  if (!m_manual) {
    m_manualNs = nowLocked();
    m_manual = true;
  }
}

void SimClock::advanceNs(uint64_t ns) {
  std::lock_guard lock(m_mutex);
  if (m_manual) {
    m_manualNs = saturatingAdd(m_manualNs, ns);
  } else {
    m_skippedNs = saturatingAdd(m_skippedNs, ns);
  }
}

uint64_t SimClock::nowLocked() const {
  if (m_manual) {
    return m_manualNs;
  }
  const auto elapsed = std::chrono::steady_clock::now() - m_start;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  return saturatingAdd(static_cast<uint64_t>(ns), m_skippedNs);
}

}  // namespace tv2::sim
