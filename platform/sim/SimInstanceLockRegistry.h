#pragma once

#include <mutex>
#include <set>
#include <string>

namespace tv2::sim {

// Single-instance locks of one simulated machine, by name. A lock is held by at
// most one holder: a platform of this machine, or a process elsewhere that a
// test stands in for.
class SimInstanceLockRegistry {
 public:
  // False when the name is held, here or elsewhere.
  bool tryAcquire(const std::string& name);
  void release(const std::string& name);
  void setHeldElsewhere(const std::string& name, bool held);

 private:
  std::mutex m_mutex;
  std::set<std::string> m_held;          // guarded by m_mutex; acquired by platforms
  std::set<std::string> m_heldElsewhere; // guarded by m_mutex; set by tests
};

}  // namespace tv2::sim
