#include "app/SamplerGate.h"

namespace tv2 {

bool SamplerGate::beginPass() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return m_open || m_stop; });
  if (m_stop) return false;
  ++m_passesInFlight;
  return true;
}

void SamplerGate::endPass() {
  std::lock_guard lock(m_mutex);
  --m_passesInFlight;
  if (m_passesInFlight == 0) m_drained.notify_all();
}

bool SamplerGate::sleepFor(std::chrono::milliseconds period) {
  std::unique_lock lock(m_mutex);
  return !m_changed.wait_for(lock, period, [this] { return m_stop; });
}

void SamplerGate::open() {
  std::lock_guard lock(m_mutex);
  m_open = true;
  m_changed.notify_all();
}

void SamplerGate::close() {
  std::unique_lock lock(m_mutex);
  m_open = false;
  m_drained.wait(lock, [this] { return m_passesInFlight == 0; });
}

void SamplerGate::requestStop() {
  std::lock_guard lock(m_mutex);
  m_stop = true;
  m_changed.notify_all();
}

bool SamplerGate::stopRequested() const {
  std::lock_guard lock(m_mutex);
  return m_stop;
}

}  // namespace tv2
