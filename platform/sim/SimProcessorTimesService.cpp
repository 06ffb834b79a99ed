#include "platform/sim/SimProcessorTimesService.h"

#include "platform/ErrorCodes.h"

namespace tv2::sim {

SimProcessorTimesService::SimProcessorTimesService(SimMachine& machine) : m_machine(machine) {}

void SimProcessorTimesService::setFailing(bool failing) {
  m_failing.store(failing, std::memory_order_relaxed);
}

uint32_t SimProcessorTimesService::query(int group, ProcessorTimes* out, int count) {
  if (m_failing.load(std::memory_order_relaxed)) {
    return kInjectedError;
  }
  if (group < 0 || group >= m_machine.groupCount() || count < 0 ||
      count > m_machine.groupSize(group) || (out == nullptr && count > 0)) {
    return kErrorInvalidParameter;
  }
  for (int i = 0; i < count; ++i) {
    out[i] = m_machine.times(m_machine.cpuAt(group, i));
  }
  return kOk;
}

}  // namespace tv2::sim
