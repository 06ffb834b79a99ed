#include "platform/sim/SimKernelEventGroup.h"

#include <utility>

#include "platform/sim/SimMachine.h"

namespace tv2::sim {

SimKernelEventGroup::SimKernelEventGroup(std::shared_ptr<SimMachine> machine, uint64_t id)
    : m_machine(std::move(machine)), m_id(id) {}

SimKernelEventGroup::~SimKernelEventGroup() { m_machine->kernel().close(m_id); }

bool SimKernelEventGroup::read(KernelGroupReading* out) { return m_machine->kernel().read(m_id, out); }

}  // namespace tv2::sim
