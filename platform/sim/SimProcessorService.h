#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/ProcessorService.h"
#include "platform/sim/SimMachine.h"

namespace tv2::sim {

// Processors of the simulated machine as one process sees them.
//
// Each thread has its own group affinity; a thread that never set one runs on
// the process mask in group 0 (all of group 0 at start). Setting the process
// mask moves every thread of the process onto it, dropping their own
// affinities, as the process-wide call of systems without groups does. A thread
// "runs" on the lowest pinnable processor of its mask: currentProcessor() and
// cpuid() answer for that one.
//
// Without group functions the thread group affinity pair fails, so a caller
// that uses it anyway is caught; the group count and sizes stay callable and
// report the machine.
//
// A mask is refused when it is empty, names a processor beyond the group or
// names only unpinnable processors.
class SimProcessorService : public ProcessorService {
 public:
  explicit SimProcessorService(SimMachine& machine);

  void setGroupFunctions(bool available);
  void setUnpinnable(int cpu, bool unpinnable);

  int systemProcessorCount() override;
  bool hasGroupFunctions() override;
  int activeGroupCount() override;
  int activeProcessorCount(int group) override;
  bool getThreadGroupAffinity(GroupAffinity* out) override;
  bool setThreadGroupAffinity(const GroupAffinity& affinity) override;
  bool getProcessAffinityMask(uint64_t* processMask, uint64_t* systemMask) override;
  bool setProcessAffinityMask(uint64_t mask) override;
  bool currentProcessor(int* group, int* index) override;
  CpuidRegs cpuid(uint32_t leaf, uint32_t subleaf) override;

 private:
  uint64_t groupMask(int group) const;
  bool acceptableLocked(int group, uint64_t mask) const;  // requires m_mutex
  GroupAffinity callerAffinityLocked() const;             // requires m_mutex
  // OS index of the processor the caller runs on, -1 when none.
  int callerCpu() const;

  SimMachine& m_machine;
  std::atomic<bool> m_groupFunctions{true};  // written by tests, read by any thread
  mutable std::mutex m_mutex;
  uint64_t m_processMask = 0;  // guarded by m_mutex; written by setProcessAffinityMask()
  // Guarded by m_mutex; written by the thread it belongs to (setThreadGroupAffinity)
  // and cleared by setProcessAffinityMask(). Keyed by SimThreadId.
  std::unordered_map<uint64_t, GroupAffinity> m_threadAffinity;
  std::vector<bool> m_unpinnable;  // guarded by m_mutex; written by tests; by OS index
};

}  // namespace tv2::sim
