#include "platform/sim/SimInstanceLock.h"

#include <utility>

namespace tv2::sim {

SimInstanceLock::SimInstanceLock(std::shared_ptr<SimInstanceLockRegistry> registry,
                                 std::string name)
    : m_registry(std::move(registry)), m_name(std::move(name)) {}

SimInstanceLock::~SimInstanceLock() { m_registry->release(m_name); }

}  // namespace tv2::sim
