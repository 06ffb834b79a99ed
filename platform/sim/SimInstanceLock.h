#pragma once

#include <memory>
#include <string>

#include "platform/InstanceLock.h"
#include "platform/sim/SimInstanceLockRegistry.h"

namespace tv2::sim {

// A held single-instance lock; destroying it releases the name, as the end of
// the holding process does on the real platform.
class SimInstanceLock : public InstanceLock {
 public:
  SimInstanceLock(std::shared_ptr<SimInstanceLockRegistry> registry, std::string name);
  ~SimInstanceLock() override;
  SimInstanceLock(const SimInstanceLock&) = delete;
  SimInstanceLock& operator=(const SimInstanceLock&) = delete;

 private:
  const std::shared_ptr<SimInstanceLockRegistry> m_registry;
  const std::string m_name;
};

}  // namespace tv2::sim
