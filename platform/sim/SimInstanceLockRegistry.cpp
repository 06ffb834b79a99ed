#include "platform/sim/SimInstanceLockRegistry.h"

namespace tv2::sim {

bool SimInstanceLockRegistry::tryAcquire(const std::string& name) {
  std::lock_guard lock(m_mutex);
  if (m_heldElsewhere.count(name) != 0) {
    return false;
  }
  return m_held.insert(name).second;
}

void SimInstanceLockRegistry::release(const std::string& name) {
  std::lock_guard lock(m_mutex);
  m_held.erase(name);
}

void SimInstanceLockRegistry::setHeldElsewhere(const std::string& name, bool held) {
  std::lock_guard lock(m_mutex);
  if (held) {
    m_heldElsewhere.insert(name);
  } else {
    m_heldElsewhere.erase(name);
  }
}

}  // namespace tv2::sim
