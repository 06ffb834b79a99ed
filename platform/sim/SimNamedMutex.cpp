#include "platform/sim/SimNamedMutex.h"

#include <utility>

namespace tv2::sim {

SimNamedMutex::SimNamedMutex(std::shared_ptr<SimMutexRegistry> registry, std::string name,
                             uint64_t process)
    : m_registry(std::move(registry)), m_name(std::move(name)), m_process(process) {}

SimNamedMutex::~SimNamedMutex() { m_registry->close(m_name); }

uint32_t SimNamedMutex::wait(uint32_t timeoutMs) {
  return m_registry->wait(m_name, m_process, timeoutMs);
}

bool SimNamedMutex::release() { return m_registry->release(m_name, m_process); }

}  // namespace tv2::sim
