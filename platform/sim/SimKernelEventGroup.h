#pragma once

#include <cstdint>
#include <memory>

#include "platform/KernelCounterService.h"

namespace tv2::sim {

class SimMachine;

// A counting group open on the simulated machine's kernel. Keeps the machine
// alive; closing (destroying) it frees its counters for the other groups.
class SimKernelEventGroup : public KernelEventGroup {
 public:
  SimKernelEventGroup(std::shared_ptr<SimMachine> machine, uint64_t id);
  ~SimKernelEventGroup() override;
  SimKernelEventGroup(const SimKernelEventGroup&) = delete;
  SimKernelEventGroup& operator=(const SimKernelEventGroup&) = delete;

  bool read(KernelGroupReading* out) override;

 private:
  const std::shared_ptr<SimMachine> m_machine;  // thread-safe on its own
  const uint64_t m_id;
};

}  // namespace tv2::sim
