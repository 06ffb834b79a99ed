#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/NamedMutex.h"
#include "platform/sim/SimMutexRegistry.h"

namespace tv2::sim {

// One open handle to a named mutex of the simulated machine. The handle may be
// used from any thread; ownership belongs to the thread that waited.
class SimNamedMutex : public NamedMutex {
 public:
  SimNamedMutex(std::shared_ptr<SimMutexRegistry> registry, std::string name, uint64_t process);
  ~SimNamedMutex() override;
  SimNamedMutex(const SimNamedMutex&) = delete;
  SimNamedMutex& operator=(const SimNamedMutex&) = delete;

  uint32_t wait(uint32_t timeoutMs) override;
  bool release() override;
  uint32_t lastWaitError() const override { return SimMutexRegistry::lastWaitError(); }

 private:
  const std::shared_ptr<SimMutexRegistry> m_registry;
  const std::string m_name;
  const uint64_t m_process;
};

}  // namespace tv2::sim
