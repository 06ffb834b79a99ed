#pragma once

#include <atomic>

#include "platform/ProcessorTimesService.h"
#include "platform/sim/SimMachine.h"

namespace tv2::sim {

// Busy times of the simulated machine's processors, group by group.
class SimProcessorTimesService : public ProcessorTimesService {
 public:
  // The error an injected failure reports.
  static constexpr uint32_t kInjectedError = 5;  // access denied

  explicit SimProcessorTimesService(SimMachine& machine);

  void setFailing(bool failing);

  // kErrorInvalidParameter for an unknown group, a null buffer or a count
  // beyond the group; fewer than the group's processors may be asked for.
  uint32_t query(int group, ProcessorTimes* out, int count) override;

 private:
  SimMachine& m_machine;
  std::atomic<bool> m_failing{false};  // written by tests, read by the samplers
};

}  // namespace tv2::sim
